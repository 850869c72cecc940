// Block bonds: the contact area of two boxes, and the spring and bonding passes that every body
// step of the organisms starts with.
#include <cmath>
#include <numbers>

#include <benchmark/benchmark.h>

#include "ecology/Ecology.hpp"

namespace zarn {
namespace {

Organism block(const Vec3& center) {
    Organism o;
    o.kind = LifeKind::Block;
    o.ability = Ability::Connection;
    o.center = center;
    o.halfExtents = {0.5, 0.5, 0.5};
    return o;
}

Quaternion aboutX(double angle) {
    return {std::cos(angle / 2.0), std::sin(angle / 2.0), 0.0, 0.0};
}

void runContactArea(benchmark::State& state, const Vec3& otherCenter, const Quaternion& turn) {
    const Organism o = block({});
    Polyhedron p = Ecology::body(block(otherCenter));
    p.orientation = turn;
    for (auto _ : state) {
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(Ecology::contactArea(o, p, 63));
    }
}

// Face to face across 1 cm, turned 45 degrees about the face normal, and beyond reach.
BENCHMARK_CAPTURE(runContactArea, faceToFace, Vec3{1.01, 0.0, 0.0}, Quaternion{});
BENCHMARK_CAPTURE(runContactArea, octagon, Vec3{1.0, 0.0, 0.0}, aboutX(std::numbers::pi / 4.0));
BENCHMARK_CAPTURE(runContactArea, apart, Vec3{3.0, 0.0, 0.0}, Quaternion{});

// The most organisms add makes: an 8 x 6 x 6 lattice of touching Connection blocks on an anchored
// ground slab.
struct Colony {
    Ecology ecology;
    Physics physics;
};

Colony colony() {
    Colony c;
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 6; ++y)
            for (int z = 0; z < 6; ++z) {
                Organism o = block({1.0 * x, 0.5 + 1.0 * y, 1.0 * z});
                o.id = static_cast<std::uint32_t>(c.ecology.nextId++);
                c.ecology.organisms.push_back(o);
            }
    MatterPiece ground;
    ground.body.center = {3.5, -2.0, 2.5};
    ground.body.halfExtents = {6.0, 2.0, 5.0};
    ground.anchored = true;
    c.physics.add(ground);
    c.physics.refreshTopology();
    return c;
}

// The colony bonded: 732 bonds between neighbours and 48 to the ground, listed three times over up
// to the 2,304 that connect allows.
const Colony& bondedColony() {
    static const Colony bonded = [] {
        Colony c = colony();
        c.ecology.bondingPass(c.physics);
        const std::vector<BioBond> once = c.ecology.bonds;
        while (c.ecology.bonds.size() < Ecology::maxBonds)
            c.ecology.bonds.push_back(once[c.ecology.bonds.size() % once.size()]);
        return c;
    }();
    return bonded;
}

void reportCounts(benchmark::State& state, const Ecology& ecology) {
    state.counters["organisms"] = static_cast<double>(ecology.organisms.size());
    state.counters["bonds"] = static_cast<double>(ecology.bonds.size());
}

// Runs a pass that changes the colony once per iteration, each time on the same starting state.
template <class Pass> void fromStart(benchmark::State& state, const Colony& start, Pass pass) {
    Colony c = start;
    for (auto _ : state) {
        state.PauseTiming();
        c.ecology.organisms = start.ecology.organisms;
        c.ecology.bonds = start.ecology.bonds;
        state.ResumeTiming();
        pass(c);
    }
    reportCounts(state, c.ecology);
}

void springPass(benchmark::State& state) {
    fromStart(state, bondedColony(), [](Colony& c) { c.ecology.springPass(c.physics, 1.0 / 60.0); });
}
BENCHMARK(springPass)->Unit(benchmark::kMicrosecond);

// With 2,304 bonds every attempt meets the cap.
void bondingPassAtTheCap(benchmark::State& state) {
    Colony c = bondedColony();
    for (auto _ : state)
        c.ecology.bondingPass(c.physics);
    reportCounts(state, c.ecology);
}
BENCHMARK(bondingPassAtTheCap)->Unit(benchmark::kMicrosecond);

// Every touching pair already bonded once, below the cap: every attempt is a duplicate or touches
// only along an edge.
void bondingPassSettled(benchmark::State& state) {
    Colony c = colony();
    c.ecology.bondingPass(c.physics);
    for (auto _ : state)
        c.ecology.bondingPass(c.physics);
    reportCounts(state, c.ecology);
}
BENCHMARK(bondingPassSettled)->Unit(benchmark::kMicrosecond);

// No bond yet: the pass makes all 780.
void bondingPassFresh(benchmark::State& state) {
    fromStart(state, colony(), [](Colony& c) { c.ecology.bondingPass(c.physics); });
}
BENCHMARK(bondingPassFresh)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace zarn
