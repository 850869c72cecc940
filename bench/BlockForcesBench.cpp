// Block forces: one call over a full list of blocks in bonded groups, and a body step in which a
// group rich enough to copy itself finds no free place (its species key is then never needed).
#include <cstdint>

#include <benchmark/benchmark.h>

#include "ecology/Ecology.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {
namespace {

constexpr double bodyStep = 1.0 / 60.0;
const Vec3 gravity{0.0, -9.80665, 0.0};
const Vec3 farFocus{0.0, 0.0, 500.0};

// A width x depth lattice of touching 1 m blocks standing on y = 0 at the corner, each bonded at rest
// to its neighbours along x and z; abilities in turn, a budget of `fill` times the volume.
void addLattice(Ecology& ecology, const Vec3& corner, int width, int depth, double fill) {
    const auto first = static_cast<std::uint32_t>(ecology.nextId);
    for (int z = 0; z < depth; ++z)
        for (int x = 0; x < width; ++x) {
            Organism o;
            o.kind = LifeKind::Block;
            o.id = static_cast<std::uint32_t>(ecology.nextId++);
            o.center = corner + Vec3{1.0 * x, 0.5, 1.0 * z};
            o.halfExtents = {0.5, 0.5, 0.5};
            o.ability = static_cast<Ability>((x + z) % 3);
            o.axis = {0.0, 1.0, 0.0};
            o.power = 1.0;
            o.massBudget = fill;
            ecology.organisms.push_back(o);
            const auto id = static_cast<std::uint32_t>(first + z * width + x);
            if (x + 1 < width)
                ecology.bonds.push_back({id, id + 1, 0, 1, {1.0, 0.0, 0.0}, 3000.0, {}});
            if (z + 1 < depth)
                ecology.bonds.push_back(
                    {id, static_cast<std::uint32_t>(id + width), 0, 1, {0.0, 0.0, 1.0}, 3000.0, {}});
        }
}

// Times `run` from the same organisms and bonds every iteration.
template <class Run> void fromTheSameStart(benchmark::State& state, Ecology& ecology, Run run) {
    const Ecology start = ecology;
    for (auto _ : state) {
        state.PauseTiming();
        ecology.organisms = start.organisms;
        ecology.bonds = start.bonds;
        ecology.registry = start.registry;
        state.ResumeTiming();
        run();
    }
    state.counters["organisms"] = static_cast<double>(start.organisms.size());
    state.counters["bonds"] = static_cast<double>(start.bonds.size());
}

// 288 blocks in 32 groups of 3 x 3, 2 m apart, with full budgets: every ability acts, Connection
// blocks try to bond to their touching neighbours, and no group is rich enough to copy itself.
void BM_BlockForces288(benchmark::State& state) {
    Ecology ecology;
    for (int g = 0; g < 32; ++g)
        addLattice(ecology, {5.0 * (g % 8), 0.0, 5.0 * (g / 8)}, 3, 3, 1.0);
    Physics physics;
    fromTheSameStart(state, ecology, [&] { ecology.blockForces(physics, farFocus, bodyStep); });
}
BENCHMARK(BM_BlockForces288)->Unit(benchmark::kMicrosecond);

// A 12 x 12 lattice (144 blocks, the largest group that may copy itself into a list of 288) rich
// enough to copy itself, whose replication area lies inside a block of matter: all sixteen tries
// fail on every step. The whole body step, blocks moving over the ground included.
void BM_BodyStepUnplaceableGroup(benchmark::State& state) {
    static const EarthModel model;
    Physics physics;
    MatterPiece ground;
    ground.body.center = {0.0, -20.0, 0.0};
    ground.body.halfExtents = {40.0, 20.0, 40.0};
    ground.anchored = true;
    physics.add(ground);
    MatterPiece rock = ground;
    rock.body.center = {200.0, 40.0, 0.0};
    rock.body.halfExtents = {40.0, 60.0, 40.0};
    physics.add(rock);
    physics.refreshTopology();
    Ecology ecology;
    ecology.areaSet = true;
    ecology.areaCenter = rock.body.center;
    ecology.areaRadius = 10.0;
    addLattice(ecology, {-6.0, 0.0001, -6.0}, 12, 12, 2.0);
    fromTheSameStart(state, ecology,
                     [&] { ecology.moveBodies(physics, model, farFocus, gravity, bodyStep); });
    if (ecology.replications != 0)
        state.SkipWithError("the group found a place");
}
BENCHMARK(BM_BodyStepUnplaceableGroup)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace zarn
