#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "world/Game.hpp"

namespace zarn {
namespace {

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
    std::string message;
    if (!game.world.loadEarth(ZARN_LUJIAZUI_MAP, message)) {
        state.SkipWithError(message.c_str());
        return;
    }
    game.player.position = game.world.spawnPoint;
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

} // namespace
} // namespace zarn
