#include <cmath>

#include <benchmark/benchmark.h>

#include "world/Game.hpp"

namespace zarn {
namespace {

constexpr int stepsPerRun = 600; // 5 s of play

// Game steps of 1/120 s through 5 s of a firefight in the demolition city: the player stands among
// the eighty enemies near (0, 0, -28), where two of them are posted, and sweeps the street and the
// towers with the assault rifle while they close in and fire back. The player is kept alive and
// supplied so the fight never stops.
void BM_GameStepFirefight(benchmark::State& state) {
    std::int64_t steps = 0;
    Game game;
    for (auto _ : state) {
        state.PauseTiming();
        game.reset(false);
        game.player.position = {0.0, 0.0, -40.0};
        state.ResumeTiming();
        Input input;
        input.shoot = true;
        for (int i = 0; i < stepsPerRun; ++i) {
            game.player.yaw = 1.2 * std::sin(0.004 * i);
            game.player.pitch = 0.03;
            game.tick(input, Game::fixedStep);
            game.health = game.armour = 100.0;
            game.slots[2].reserve = 180;
            game.heardSounds.clear();
        }
        steps += stepsPerRun;
    }
    state.SetItemsProcessed(steps);
    state.counters["kills"] = game.kills;
    state.counters["moving"] = static_cast<double>(game.world.physics.movingPieceCount());
}
BENCHMARK(BM_GameStepFirefight)->Unit(benchmark::kMillisecond);

// Game steps of 1/120 s through 5 s of rocket fire into the city: from the start point a rocket
// every half second into the towers up the street, with the eighty enemies about, and the matter
// breaking, falling and sounding.
void BM_GameStepRocketFire(benchmark::State& state) {
    std::int64_t steps = 0;
    Game game;
    for (auto _ : state) {
        state.PauseTiming();
        game.reset(false);
        game.level = 4;
        game.weapon = 6;
        state.ResumeTiming();
        for (int i = 0; i < stepsPerRun; ++i) {
            if (i % 60 == 0) {
                // Loaded at once: the bench is about the rockets, not the reload.
                WeaponSlot& launcher = game.slots[6];
                launcher.magazine = 1;
                launcher.nextShot = 0.0;
                game.player.yaw = 0.25 * std::sin(0.7 * i / 60.0);
                game.player.pitch = 0.08 + 0.04 * ((i / 60) % 3);
                game.shoot();
            }
            game.tick({}, Game::fixedStep);
            game.health = game.armour = 100.0;
            game.heardSounds.clear();
        }
        steps += stepsPerRun;
    }
    state.SetItemsProcessed(steps);
    state.counters["moving"] = static_cast<double>(game.world.physics.movingPieceCount());
    state.counters["pieces"] = static_cast<double>(game.world.physics.aliveCount());
    state.counters["fractures"] = static_cast<double>(game.world.physics.fractureCount);
}
BENCHMARK(BM_GameStepRocketFire)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
