// Impacts, blasts and the collapse steps that follow them, on a storeyed tower and on a world of
// about 100,000 pieces.
#include <benchmark/benchmark.h>

#include <cmath>

#include "BenchWorlds.hpp"

namespace zarn::bench {
namespace {

constexpr double frame = 1.0 / 60.0;
// The game's default impact multiplier scales a rifle round's momentum and (squared) its energy.
constexpr double multiplier = 4.0;
constexpr double roundMass = 0.012;
constexpr double muzzleSpeed = 900.0;

const TowerShape tallTower{12, 3, 3};

const Physics& tower() {
    static const Physics world = [] {
        Physics physics;
        makeTower(physics, tallTower);
        return physics;
    }();
    return world;
}

const Physics& largeWorld() {
    static const Physics world = [] {
        Physics physics;
        makeFrameWorld(physics, 100000);
        return physics;
    }();
    return world;
}

struct Target {
    std::uint32_t id = 0;
    Vec3 face;  // a point on the struck face
    Vec3 along; // direction of the shot
};

// The ground-storey column at the second bay corner of the tower whose footprint starts at corner,
// shot from the -x side at the height of its middle cube.
Target columnTarget(const Physics& physics, const Vec3& corner) {
    const Vec3 center = corner + Vec3{4.5, 1.5, 4.5};
    Target target;
    target.id = nearestPiece(physics, center);
    target.face = physics.pieces[target.id - 1].body.center - Vec3{0.5, 0.0, 0.0};
    target.along = {1.0, 0.0, 0.0};
    return target;
}

// The corner of a tower near the middle of the large world.
Vec3 middleTowerCorner(const Physics& physics) {
    const TowerShape shape;
    const double pitch = towerWidth(shape.baysX) + 7.0;
    Vec3 far;
    for (const MatterPiece& piece : physics.pieces)
        far = componentMax(far, piece.body.center);
    const double x = std::floor(far.x / 2.0 / pitch) * pitch;
    const double z = std::floor(far.z / 2.0 / pitch) * pitch;
    return {x, 0.0, z};
}

Impact rifleRound(const Target& target) {
    Impact hit;
    hit.point = target.face;
    hit.impulse = target.along * (roundMass * muzzleSpeed * multiplier);
    hit.energy = 0.5 * roundMass * muzzleSpeed * muzzleSpeed * multiplier * multiplier;
    hit.area = 8e-05;
    hit.duration = 4e-05;
    hit.radius = 0.12;
    hit.weapon = true;
    return hit;
}

constexpr double rocketEnergy = 180000.0;
constexpr double rocketRadius = 8.0;

void reportWorld(benchmark::State& state, const Physics& physics) {
    state.counters["pieces"] = static_cast<double>(physics.pieces.size());
    state.counters["fractures"] = static_cast<double>(physics.fractureCount);
    state.counters["broken"] = static_cast<double>(physics.brokenBondCount);
    state.counters["moving"] = static_cast<double>(physics.movingPieceCount());
}

void bulletImpact(benchmark::State& state, const Physics& base, const Target& target) {
    Physics work;
    for (auto _ : state) {
        state.PauseTiming();
        work = base;
        state.ResumeTiming();
        work.impact(target.id, rifleRound(target));
    }
    reportWorld(state, work);
}

void rocketBlast(benchmark::State& state, const Physics& base, const Vec3& center) {
    Physics work;
    for (auto _ : state) {
        state.PauseTiming();
        work = base;
        state.ResumeTiming();
        work.blast(center, rocketEnergy, rocketRadius);
    }
    reportWorld(state, work);
}

// Steps of 1/60 s through the first four seconds after a blast at the foot of a tower; every
// iteration is one step, and the world starts over after the four seconds. The time is the steps'
// own (manual timing); "worst ms" is the slowest single step seen.
void collapseSteps(benchmark::State& state, const Physics& base, const Vec3& center) {
    Physics start = base;
    start.blast(center, rocketEnergy, rocketRadius);
    Physics work = start;
    int steps = 0;
    std::uint64_t moving = 0;
    std::uint64_t contactTests = 0;
    // The first run through the collapse also grows the world's working storage; "worst ms" is of
    // the later runs, "first worst ms" of the first.
    StepClock clock;
    StepClock first;
    bool warm = false;
    for (auto _ : state) {
        if (steps == 240) {
            work = start;
            steps = 0;
            warm = true;
        }
        state.SetIterationTime((warm ? clock : first).time([&] { work.step(frame); }));
        ++steps;
        moving += work.movingPieceCount();
        contactTests += work.contactTestCount;
    }
    reportWorld(state, work);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["moving"] = static_cast<double>(moving) / iterations;
    state.counters["tests"] = static_cast<double>(contactTests) / iterations;
    state.counters["worst ms"] = clock.worstMs();
    state.counters["first worst ms"] = first.worstMs();
}

void BM_BulletImpactTower(benchmark::State& state) {
    bulletImpact(state, tower(), columnTarget(tower(), {}));
}
BENCHMARK(BM_BulletImpactTower)->Unit(benchmark::kMillisecond);

void BM_BulletImpactLargeWorld(benchmark::State& state) {
    bulletImpact(state, largeWorld(), columnTarget(largeWorld(), middleTowerCorner(largeWorld())));
}
BENCHMARK(BM_BulletImpactLargeWorld)->Unit(benchmark::kMillisecond);

void BM_RocketBlastTower(benchmark::State& state) {
    rocketBlast(state, tower(), {4.5, 1.0, 3.5});
}
BENCHMARK(BM_RocketBlastTower)->Unit(benchmark::kMillisecond);

void BM_RocketBlastLargeWorld(benchmark::State& state) {
    rocketBlast(state, largeWorld(), middleTowerCorner(largeWorld()) + Vec3{4.5, 1.0, 3.5});
}
BENCHMARK(BM_RocketBlastLargeWorld)->Unit(benchmark::kMillisecond);

void BM_CollapseStepTower(benchmark::State& state) {
    collapseSteps(state, tower(), {4.5, 1.0, 3.5});
}
BENCHMARK(BM_CollapseStepTower)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CollapseStepLargeWorld(benchmark::State& state) {
    collapseSteps(state, largeWorld(), middleTowerCorner(largeWorld()) + Vec3{4.5, 1.0, 3.5});
}
BENCHMARK(BM_CollapseStepLargeWorld)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn::bench
