#include <string>

#include <benchmark/benchmark.h>

#include "ecology/Ecology.hpp"
#include "physics/Physics.hpp"
#include "planet/EarthEngine.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

constexpr double gameStep = 1.0 / 120.0;
constexpr double physicsStep = 1.0 / 60.0;
// A fast day, so that the organisms age while they are timed.
constexpr double dayRate = 48.0;

// The Earth world about the district with its organisms: the map pack and the catalogue loaded,
// the chunks about the player streamed and populated, then ten seconds of game time lived through
// so that new organisms have found their places.
struct Populated {
    Physics physics;
    EarthEngine engine;
    Vec3 player{300.0, 1.7, -300.0};
    Vec3 forward{0.0, 0.0, 1.0};

    // One fixed step of the game: the streamer, the organisms, and every second step the physics
    // between the colliders and the contacts.
    void tick(std::int64_t n) {
        engine.update(physics, player, forward, gameStep);
        engine.ecology.update(physics, engine.model, player, physics.gravity, gameStep, dayRate);
        if (n % 2 == 1) {
            engine.ecology.syncColliders(physics);
            physics.step(physicsStep);
            engine.ecology.receiveContacts(physics);
        }
    }
};

const Populated& populated() {
    static const Populated start = [] {
        Populated p;
        World world;
        std::string message;
        if (world.loadMap(ZARN_LUJIAZUI_MAP, message))
            p.physics = world.physics;
        p.engine.populateEcology = true;
        p.engine.ecology.load(ZARN_ECOSYSTEM_CATALOGUE, message);
        p.engine.initialize(p.physics);
        for (std::int64_t n = 0; n < 1200; ++n)
            p.tick(n);
        return p;
    }();
    return start;
}

void report(benchmark::State& state, const Ecology& ecology) {
    state.counters["organisms"] = static_cast<double>(ecology.organisms.size());
    state.counters["bonds"] = static_cast<double>(ecology.bonds.size());
    state.counters["patches"] = static_cast<double>(ecology.patches.size());
}

// Runs a pass on the organisms once per iteration, each time from the same organisms.
template <class Pass> void fromPopulated(benchmark::State& state, Pass pass) {
    Populated p = populated();
    const Ecology start = p.engine.ecology;
    for (auto _ : state) {
        state.PauseTiming();
        p.engine.ecology = start;
        state.ResumeTiming();
        pass(p);
    }
    report(state, p.engine.ecology);
}

// One life step over the populated patches.
void lifeStep(benchmark::State& state) {
    fromPopulated(state, [](Populated& p) {
        p.engine.ecology.step(p.physics, p.engine.model, p.player, p.physics.gravity, 0.05);
    });
}
BENCHMARK(lifeStep)->Unit(benchmark::kMicrosecond);

// One second of game time: 120 fixed steps of the streamer, the organisms and the physics, each
// time from the same world.
void oneSecond(benchmark::State& state) {
    Populated p = populated();
    for (auto _ : state) {
        state.PauseTiming();
        p = populated();
        state.ResumeTiming();
        for (std::int64_t n = 0; n < 120; ++n)
            p.tick(n);
    }
    report(state, p.engine.ecology);
}
BENCHMARK(oneSecond)->Unit(benchmark::kMillisecond);

// A stalled frame: arg ms given to the organisms' update at once. The body steps are capped, so a
// long stall costs what a quarter second does.
void stalledFrame(benchmark::State& state) {
    const double dt = static_cast<double>(state.range(0)) / 1000.0;
    fromPopulated(state, [dt](Populated& p) {
        p.engine.ecology.update(p.physics, p.engine.model, p.player, p.physics.gravity, dt, dayRate);
    });
}
BENCHMARK(stalledFrame)->Arg(100)->Arg(250)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
