#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "physics/Physics.hpp"
#include "planet/EarthEngine.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

constexpr double gameStep = 1.0 / 120.0;
constexpr double physicsStep = 1.0 / 60.0;

// The Earth world as it starts: the district's map pack loaded (about twenty thousand pieces).
const Physics& district() {
    static const Physics physics = [] {
        World world;
        std::string message;
        if (!world.loadMap(ZARN_LUJIAZUI_MAP, message))
            world.physics.clear();
        return world.physics;
    }();
    return physics;
}

const EarthEngine& prototype() {
    static const EarthEngine engine;
    return engine;
}

// A run from the district eastward at a steady speed and height above the ground, with a shot into
// the ground every `shotEvery` metres. The game's fixed steps drive it: the engine's update every
// 1/120 s (a pass every 0.1 s of it) and the physics every 1/60 s. Only the passes are timed.
struct Run {
    double speed;     // m/s
    double height;    // m above the ground
    double seconds;   // game time
    double shotEvery; // m
    double startX;    // m east of the origin
};

struct RunResult {
    std::vector<double> passes; // ms each
    double worstBeyond = 0.0;   // ms, the worst pass once the district has gone
    std::size_t maxAlive = 0;
    std::size_t alive = 0;
    std::size_t saved = 0;
    std::uint64_t evicted = 0;
    std::uint64_t compactions = 0;
};

RunResult run(const Run& plan, bool formerCompaction) {
    Physics physics = district();
    physics.stepScratch.plainWalks = formerCompaction;
    EarthEngine engine = prototype();
    engine.populateEcology = true;
    engine.initialize(physics);
    RunResult result;
    const Vec3 east{1.0, 0.0, 0.0};
    double nextShot = plan.startX + plan.shotEvery;
    const auto steps = static_cast<std::int64_t>(plan.seconds / gameStep);
    const std::uint64_t compactions = physics.compaction.count;
    for (std::int64_t n = 0; n < steps; ++n) {
        const double x = plan.startX + plan.speed * gameStep * static_cast<double>(n);
        const Vec3 at{x, engine.model.surface(x, 0.0, false) + plan.height, 0.0};
        const bool pass = engine.timer - gameStep <= 0.0;
        const auto begin = std::chrono::steady_clock::now();
        engine.update(physics, at, east, gameStep);
        const auto end = std::chrono::steady_clock::now();
        if (pass) {
            const double ms = std::chrono::duration<double, std::milli>(end - begin).count();
            result.passes.push_back(ms);
            if (!engine.chunks.contains(EarthEngine::landmarkOwner) && x > 2700.0)
                result.worstBeyond = std::max(result.worstBeyond, ms);
        }
        if (n % 2 == 1)
            physics.step(physicsStep);
        if (x >= nextShot) {
            nextShot += plan.shotEvery;
            const PieceHit hit =
                physics.trace(at + Vec3{4.0, 0.0, 4.0}, {0.0, -1.0, 0.0}, plan.height + 50.0);
            if (hit.hit)
                physics.impact(hit.index + 1,
                               Impact{hit.point, {0.0, -900.0, 0.0}, 40000.0, 0.002, 1e-3, 0.6, true});
        }
        if (pass)
            result.maxAlive = std::max<std::size_t>(result.maxAlive, physics.aliveCount());
    }
    result.alive = physics.aliveCount();
    result.saved = engine.saved.size();
    result.evicted = engine.evictedChunks;
    result.compactions = physics.compaction.count - compactions;
    return result;
}

// Arg 0: the walk at 10 m/s, 10 km from the district's middle into the country, a shot every
// 250 m; arg 1: a flight at 300 m/s, 30 m above the ground for 30 km, a shot every 3 km. Second
// arg: 1 runs the former compaction (drop and renumber, then a whole refresh from an empty grid).
void BM_StreamingRun(benchmark::State& state) {
    const Run plans[] = {{10.0, 1.7, 1000.0, 250.0, 0.0}, {300.0, 30.0, 100.0, 3000.0, 0.0}};
    const Run& plan = plans[state.range(0)];
    RunResult result;
    for (auto _ : state)
        result = run(plan, state.range(1) != 0);
    double sum = 0.0;
    for (const double ms : result.passes)
        sum += ms;
    std::vector<double> sorted = result.passes;
    std::sort(sorted.begin(), sorted.end());
    state.counters["passes"] = static_cast<double>(sorted.size());
    state.counters["pass_mean_ms"] = sum / static_cast<double>(std::max<std::size_t>(1, sorted.size()));
    state.counters["pass_p99_ms"] = sorted.empty() ? 0.0 : sorted[sorted.size() * 99 / 100];
    state.counters["pass_worst_ms"] = sorted.empty() ? 0.0 : sorted.back();
    state.counters["pass_worst_beyond_ms"] = result.worstBeyond;
    state.counters["alive_max"] = static_cast<double>(result.maxAlive);
    state.counters["alive_end"] = static_cast<double>(result.alive);
    state.counters["saved_end"] = static_cast<double>(result.saved);
    state.counters["evicted"] = static_cast<double>(result.evicted);
    state.counters["compactions"] = static_cast<double>(result.compactions);
}
BENCHMARK(BM_StreamingRun)
    ->ArgNames({"walk/flight", "former"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// The overview rebuilt for an eye in the district, 5 km out in the country, and 10 km up.
void BM_OverviewRebuild(benchmark::State& state) {
    const Vec3 eyes[] = {{0.0, 1.7, 0.0}, {5000.0, 520.0, 0.0}, {5000.0, 10000.0, 0.0}};
    const Vec3 eye = eyes[state.range(0)];
    EarthEngine engine = prototype();
    for (auto _ : state) {
        engine.updateOverview(eye, {0.6, 0.0, 0.8});
        benchmark::DoNotOptimize(engine.overview.data());
    }
    state.counters["pieces"] = static_cast<double>(engine.overview.size());
}
BENCHMARK(BM_OverviewRebuild)
    ->ArgName("district/country/high")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMicrosecond);

// One unloading pass's compaction on the world a walk leaves 1.5 km out (the district and the chunks
// around the player): the oldest terrain chunk's pieces are taken away, then the history is compacted.
// Arg 1 runs the former compaction.
void BM_UnloadCompaction(benchmark::State& state) {
    static const auto world = [] {
        Physics physics = district();
        EarthEngine engine = prototype();
        engine.initialize(physics);
        for (double x = 0.0; x <= 1500.0; x += 1.0)
            engine.update(physics, {x, engine.model.surface(x, 0.0, false) + 1.7, 0.0}, {1.0, 0.0, 0.0}, 0.1);
        return std::make_pair(physics, engine);
    }();
    const Physics& loaded = world.first;
    const std::uint64_t oldest = std::next(world.second.chunks.begin())->first;
    Physics physics; // outside the loop, so that the copies are dropped while the clock stands
    for (auto _ : state) {
        state.PauseTiming();
        physics = loaded;
        physics.stepScratch.plainWalks = state.range(0) != 0;
        for (std::uint32_t index = 0; index < physics.pieces.size(); ++index)
            if (physics.pieces[index].owner == oldest)
                physics.remove(index);
        state.ResumeTiming();
        benchmark::DoNotOptimize(physics.compactHistory().data());
    }
    state.counters["pieces"] = static_cast<double>(loaded.pieces.size());
    state.counters["bonds"] = static_cast<double>(loaded.bonds.size());
}
BENCHMARK(BM_UnloadCompaction)->ArgName("former")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
