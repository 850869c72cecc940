// Organism bodies against the physics: the body step of a full ecology on the Earth's terrain at the
// district's edge, and a burst of body steps as a long frame brings them.
#include <benchmark/benchmark.h>

#include <string>

#include "ecology/Ecology.hpp"
#include "physics/Hash.hpp"
#include "planet/EarthEngine.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

constexpr double bodyStep = 1.0 / 60.0;
const Vec3 gravity{0.0, -9.80665, 0.0};
// The player stands on the district's east edge; the organisms live within 140 m of him, over the
// district's streets and buildings (x below 768) and the terrain chunks beyond.
const Vec3 focus{700.0, 2.0, 0.0};

struct Habitat {
    World world;
    EarthEngine engine; // the terrain generator and the planet model
    Ecology ecology;
};

// Where a body dropped at (x, z) comes to rest: the top of the matter under it.
double groundUnder(const Physics& physics, double x, double z) {
    const PieceHit hit = physics.trace({x, 400.0, z}, {0.0, -1.0, 0.0}, 800.0);
    return hit.hit ? hit.point.y : 0.0;
}

// A 2 x 2 x 2 cube of bonded blocks.
BioAssembly cubeSpecies() {
    BioAssembly species;
    species.name = "bench";
    for (int k = 0; k < 8; ++k) {
        BioTemplate box;
        box.position = {0.7 * (k & 1), 0.7 * ((k >> 1) & 1), 0.7 * ((k >> 2) & 1)};
        box.halfExtents = {0.35, 0.35, 0.35};
        box.ability = static_cast<Ability>(k % 3);
        species.boxes.push_back(box);
        for (int axis = 1; axis < 8; axis <<= 1)
            if (!(k & axis))
                species.bonds.emplace_back(k, k | axis);
    }
    return species;
}

// 96 Cubes, 24 lying and 8 drifting Slabs and 20 species of 8 blocks: 288 organisms, settled for two
// seconds of body steps.
bool settle(Habitat& h) {
    std::string message;
    if (!h.world.loadMap(ZARN_LUJIAZUI_MAP, message))
        return false;
    Physics& physics = h.world.physics;
    const auto first = static_cast<std::uint32_t>(physics.pieces.size() + 1);
    std::uint64_t key = 2;
    for (int i = 12; i <= 13; ++i)
        for (int j = -3; j <= 2; ++j, ++key)
            for (MatterPiece piece : h.engine.generate(i, j, false)) {
                piece.owner = key;
                piece.stateTime = 0.0;
                physics.add(piece);
            }
    physics.connectNew(first);

    Ecology& ecology = h.ecology;
    std::uint32_t seed = 1;
    auto spot = [&] {
        const double x = focus.x - 110.0 + 180.0 * unitHash(seed++);
        const double z = focus.z - 120.0 + 240.0 * unitHash(seed++);
        return Vec3{x, groundUnder(physics, x, z), z};
    };
    for (int k = 0; k < 96; ++k)
        ecology.add(LifeKind::Cube, spot(), 2, seed++, {}, 0.0);
    for (int k = 0; k < 32; ++k) {
        ecology.add(LifeKind::Slab, spot(), 2, seed++, {}, 0.0);
        if (k >= 24) {
            ecology.organisms.back().stage = 1; // drifting high above
            ecology.organisms.back().center.y += 2400.0;
        }
    }
    const BioAssembly species = cubeSpecies();
    for (int k = 0; k < 20; ++k)
        ecology.spawnAssembly(species, spot() + Vec3{0.0, 0.01, 0.0}, 2);
    for (int k = 0; k < 120; ++k)
        ecology.moveBodies(physics, h.engine.model, focus, gravity, bodyStep);
    return true;
}

const Habitat& habitat() {
    static Habitat h;
    static const bool settled = settle(h); // an empty ecology when the map did not load
    static_cast<void>(settled);
    return h;
}

// The settled habitat, or none (the benchmark skipped) when the district map did not load.
const Habitat* settledHabitat(benchmark::State& state) {
    const Habitat& h = habitat();
    if (h.ecology.organisms.empty()) {
        state.SkipWithError("the district map did not load");
        return nullptr;
    }
    return &h;
}

// Times `steps` body steps in a row, every iteration from the same organisms and bonds.
void timeSteps(benchmark::State& state, const Habitat& h, Physics& physics, Ecology& ecology,
               std::int64_t steps) {
    const std::vector<Organism> organisms = ecology.organisms;
    const std::vector<BioBond> bonds = ecology.bonds;
    for (auto _ : state) {
        state.PauseTiming();
        ecology.organisms = organisms;
        ecology.bonds = bonds;
        state.ResumeTiming();
        for (std::int64_t k = 0; k < steps; ++k)
            ecology.moveBodies(physics, h.engine.model, focus, gravity, bodyStep);
    }
    state.counters["organisms"] = static_cast<double>(ecology.organisms.size());
    state.counters["pieces"] = static_cast<double>(physics.pieces.size());
}

// Body steps in a row from the settled habitat: one, or the 60 that a frame of a second brings at
// once.
void BM_BodySteps(benchmark::State& state) {
    if (const Habitat* h = settledHabitat(state)) {
        Physics physics = h->world.physics;
        Ecology ecology = h->ecology;
        timeSteps(state, *h, physics, ecology, state.range(0));
    }
}
BENCHMARK(BM_BodySteps)->ArgName("steps")->Arg(1)->Arg(60)->Unit(benchmark::kMillisecond);

// One body step with the largest Slab a patch can make (1 km across) over the district in place of
// one of the small ones: fallen onto the highest roofs under it (and split in four there), or lying
// on the ground when the district's towers come back around it, so that the pieces under its whole
// breadth are swept.
void BM_BodyStepUnderGiantSlab(benchmark::State& state) {
    const Habitat* h = settledHabitat(state);
    if (!h)
        return;
    Physics physics = h->world.physics;
    Ecology ecology = h->ecology;
    const bool fallen = state.range(0) == 0;
    for (Organism& o : ecology.organisms)
        if (o.kind == LifeKind::Slab && o.alive) {
            o.halfExtents = {500.0, 1.0, 500.0};
            o.center = {200.0, fallen ? 700.0 : groundUnder(physics, 200.0, 0.0) + 1.001, 0.0};
            o.stage = fallen ? 2 : 3;
            o.landed = fallen ? 0 : 1;
            break;
        }
    for (int k = 0; k < 900; ++k)
        ecology.moveBodies(physics, h->engine.model, focus, gravity, bodyStep);
    timeSteps(state, *h, physics, ecology, 1);
}
BENCHMARK(BM_BodyStepUnderGiantSlab)->ArgName("onTheGround")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
