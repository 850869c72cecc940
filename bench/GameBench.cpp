#include <benchmark/benchmark.h>

#include "world/Game.hpp"

namespace zarn {
namespace {

// Game steps of 1/120 s in the demolition city at the start point, standing still (arg 0) or walking
// up the street and back (arg 1). Every second step also steps the (resting) matter.
void BM_GameStepCity(benchmark::State& state) {
    Game game;
    Input input;
    const bool walking = state.range(0) != 0;
    std::int64_t steps = 0;
    for (auto _ : state) {
        if (walking) {
            // Turn round every 4 s so the walk stays on the street between the start and the towers.
            input.move.forward = 1.0;
            game.player.yaw = (steps / 480) % 2 == 0 ? 0.0 : 3.141592653589793;
        }
        game.tick(input, Game::fixedStep);
        ++steps;
    }
    benchmark::DoNotOptimize(game.player.position);
    state.SetItemsProcessed(steps);
}
BENCHMARK(BM_GameStepCity)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Game steps through the first two seconds of the training ground's demolition test: the blast at the
// gate's left post, then the collapse with the player watching from the runway.
void BM_GameStepDemolition(benchmark::State& state) {
    constexpr int stepsPerRun = 240;
    std::int64_t steps = 0;
    Game game;
    for (auto _ : state) {
        state.PauseTiming();
        game.reset(true);
        game.player.position = {0.0, 0.0, -470.0};
        game.world.demolitionTest();
        state.ResumeTiming();
        for (int i = 0; i < stepsPerRun; ++i) {
            game.tick({}, Game::fixedStep);
        }
        steps += stepsPerRun;
    }
    state.SetItemsProcessed(steps);
    state.counters["moving"] = static_cast<double>(game.world.physics.movingPieceCount());
    state.counters["pieces"] = static_cast<double>(game.world.physics.aliveCount());
}
BENCHMARK(BM_GameStepDemolition)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
