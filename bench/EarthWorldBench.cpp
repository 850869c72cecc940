#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "world/Game.hpp"

namespace zarn {
namespace {

// The district set on the Earth with the player at its spawn point; false, with the benchmark
// skipped, when it does not load.
bool startOnEarth(Game& game, benchmark::State& state) {
    std::string message;
    if (!game.world.loadEarth(ZARN_LUJIAZUI_MAP, message)) {
        state.SkipWithError(message.c_str());
        return false;
    }
    game.player.position = game.world.spawnPoint;
    return true;
}

// The district set on the Earth, as the world selection loads it: the catalogue, the map, the
// planet model and the streamer taking the map's pieces as its district.
void BM_EarthWorldLoad(benchmark::State& state) {
    for (auto _ : state) {
        auto world = std::make_unique<World>();
        std::string message;
        if (!world->loadEarth(ZARN_LUJIAZUI_MAP, message)) {
            state.SkipWithError(message.c_str());
            return;
        }
        benchmark::DoNotOptimize(world->physics.pieces.data());
        state.PauseTiming();
        world.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EarthWorldLoad)->Unit(benchmark::kMillisecond);

// One second of game time (120 steps) in the Earth world with the player walking out of the
// district's spawn point: the terrain streams in ahead, the matter and the organisms step.
void BM_EarthWorldSecond(benchmark::State& state) {
    Game game;
    if (!startOnEarth(game, state))
        return;
    Input input;
    input.move.forward = 1.0;
    std::int64_t seconds = 0;
    for (auto _ : state) {
        // Turn round every 8 s, so the walk stays near the district and its streamed edge.
        game.player.yaw = (seconds / 8) % 2 == 0 ? 1.2 : 1.2 + 3.141592653589793;
        for (int i = 0; i < 120; ++i) {
            game.tick(input, Game::fixedStep);
        }
        ++seconds;
    }
    state.counters["pieces"] = static_cast<double>(game.world.physics.pieces.size());
    state.counters["organisms"] = static_cast<double>(game.world.earth->ecology.organisms.size());
}
BENCHMARK(BM_EarthWorldSecond)->Unit(benchmark::kMillisecond);

// The Earth world's first five seconds after the load with the player standing at the spawn point:
// the first chunks stream in, the organisms are placed and the first grey blocks turn into matter.
// Only the steps are timed; fullRefreshes counts the topology refreshes that walked everything.
void BM_EarthWorldFirstSeconds(benchmark::State& state) {
    double whole = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        auto game = std::make_unique<Game>();
        if (!startOnEarth(*game, state))
            return;
        game->world.update(game->player.position, 0.0, {0.0, 0.0, 1.0});
        const auto before = static_cast<double>(game->world.physics.fullRefreshCount);
        state.ResumeTiming();
        for (int i = 0; i < 600; ++i)
            game->tick(Input{}, Game::fixedStep);
        state.PauseTiming();
        whole += static_cast<double>(game->world.physics.fullRefreshCount) - before;
        game.reset();
        state.ResumeTiming();
    }
    state.counters["fullRefreshes"] = benchmark::Counter(whole, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EarthWorldFirstSeconds)->Unit(benchmark::kMillisecond);

// A steady second standing at the spawn point once the first ten seconds have streamed the
// surroundings in.
void BM_EarthWorldSteadySecond(benchmark::State& state) {
    Game game;
    if (!startOnEarth(game, state))
        return;
    for (int i = 0; i < 1200; ++i)
        game.tick(Input{}, Game::fixedStep);
    for (auto _ : state)
        for (int i = 0; i < 120; ++i)
            game.tick(Input{}, Game::fixedStep);
}
BENCHMARK(BM_EarthWorldSteadySecond)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
