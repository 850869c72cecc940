#include <benchmark/benchmark.h>

#include <algorithm>

#include "BenchWorlds.hpp"
#include "support/CityDemolition.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

// The whole demolition city: 4,081 pieces added one by one and bonded once.
void BM_BuildCity(benchmark::State& state) {
    World world;
    for (auto _ : state) {
        world.reset();
        benchmark::DoNotOptimize(world.physics.bonds.data());
    }
    state.counters["pieces"] = static_cast<double>(world.physics.pieces.size());
    state.counters["bonds"] = static_cast<double>(world.physics.bonds.size());
}
BENCHMARK(BM_BuildCity)->Unit(benchmark::kMillisecond);

// One fixed world step of the plain city with nothing moving.
void BM_UpdateCityAtRest(benchmark::State& state) {
    World world;
    const Vec3 position{3.0, 0.0, -110.0};
    for (auto _ : state) {
        world.update(position, 1.0 / 120.0, {0.0, 0.0, 1.0});
        benchmark::DoNotOptimize(world.terrainCell);
    }
}
BENCHMARK(BM_UpdateCityAtRest);

// A 300 m aim ray from the start point down the street to the third tower, which it meets 160 m
// away after crossing six grid cells.
void BM_TraceLineCity(benchmark::State& state) {
    const World world;
    const Vec3 origin{0.0, 1.65, -110.0};
    const Vec3 direction = normalized({64.0, 28.0, 174.0});
    for (auto _ : state) {
        benchmark::DoNotOptimize(world.traceLine(origin, direction, 300.0));
    }
}
BENCHMARK(BM_TraceLineCity);

// One walking step of the player's hull on the street at the start point, and one beside the tallest
// tower, whose 32 m grid cells list hundreds of its pieces.
void BM_TraceHullCity(benchmark::State& state) {
    const World world;
    const Vec3 from = state.range(0) == 0 ? Vec3{0.0, 0.0, -110.0} : Vec3{-64.0, 0.0, -90.0};
    const Vec3 to = from + Vec3{0.05, 0.0, 0.05};
    for (auto _ : state) {
        benchmark::DoNotOptimize(world.traceHull(from, to, 0.4, 1.8));
    }
}
BENCHMARK(BM_TraceHullCity)->Arg(0)->Arg(1);

// Physics steps of 1/60 s through the training ground's demolition test, first two seconds.
void BM_DemolitionCollapse(benchmark::State& state) {
    std::uint64_t steps = 0;
    for (auto _ : state) {
        state.PauseTiming();
        World world;
        world.physics.clear();
        world.buildings.clear();
        for (int x = -512; x <= 448; x += 64) {
            for (int z = -512; z <= 448; z += 64) {
                MatterPiece slab;
                slab.body.center = {x + 32.0, -4.0, z + 32.0};
                slab.body.halfExtents = {32.0, 4.0, 32.0};
                slab.anchored = true;
                world.physics.add(slab);
            }
        }
        world.addTestStructures();
        world.demolitionTest();
        state.ResumeTiming();
        for (int i = 0; i < 120; ++i) {
            world.physics.step(1.0 / 60.0);
        }
        steps += 120;
    }
    state.counters["steps/s"] = benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DemolitionCollapse)->Unit(benchmark::kMillisecond);

// The whole city demolished: two hundred charges at the feet of every building's ground-storey
// columns, then steps of 1/60 s until everything rests. One iteration is the whole collapse; its
// time is the mean step ("worst ms" the slowest step, "blasts ms" the charges themselves), and
// "worst cpu ms" the slowest step in processor time, which other work on the machine does not add to.
void BM_CityDemolition(benchmark::State& state) {
    bench::StepClock steps;
    bench::StepClock processor;
    double blastSeconds = 0.0;
    std::uint64_t movingSum = 0;
    std::uint64_t movingMost = 0;
    std::uint64_t pieces = 0;
    for (auto _ : state) {
        World world;
        bench::StepClock blasts;
        blastSeconds += blasts.time([&] { test::chargeEveryColumn(world); });
        const std::uint64_t before = steps.steps();
        double seconds = 0.0;
        for (int n = 0; n < test::cityCollapseMaxSteps && test::collapsing(world.physics); ++n) {
            const double start = bench::processorSeconds();
            seconds += steps.time([&] { world.physics.step(test::cityCollapseStep); });
            processor.record(bench::processorSeconds() - start);
            const std::uint64_t moving = world.physics.movingPieceCount();
            movingSum += moving;
            movingMost = std::max(movingMost, moving);
        }
        state.SetIterationTime(seconds /
                               static_cast<double>(std::max<std::uint64_t>(1, steps.steps() - before)));
        pieces = world.physics.pieces.size();
    }
    const double iterations = static_cast<double>(state.iterations());
    const double stepCount = static_cast<double>(std::max<std::uint64_t>(1, steps.steps()));
    state.counters["steps"] = stepCount / iterations;
    state.counters["worst ms"] = steps.worstMs();
    state.counters["worst cpu ms"] = processor.worstMs();
    state.counters["blasts ms"] = 1000.0 * blastSeconds / iterations;
    state.counters["moving"] = static_cast<double>(movingSum) / stepCount;
    state.counters["most moving"] = static_cast<double>(movingMost);
    state.counters["pieces"] = static_cast<double>(pieces);
}
BENCHMARK(BM_CityDemolition)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
