#include <string>

#include <benchmark/benchmark.h>

#include "world/Game.hpp"

namespace zarn {
namespace {

constexpr int moon = 9;
constexpr int stepsPerSecond = 120;

// The star world as the shell loads it: the district's map pack, the star catalogue, the copy of the
// district and the Earth's terrain streamer around it.
void BM_StarWorldLoad(benchmark::State& state) {
    for (auto _ : state) {
        World world;
        std::string message;
        if (!world.loadStars(ZARN_LUJIAZUI_MAP, message)) {
            state.SkipWithError(message.c_str());
            return;
        }
        benchmark::DoNotOptimize(world.physics.pieces.data());
    }
}
BENCHMARK(BM_StarWorldLoad)->Unit(benchmark::kMillisecond);

const Game& loadedStars() {
    static const Game game = [] {
        Game g;
        std::string message;
        if (g.world.loadStars(ZARN_LUJIAZUI_MAP, message)) {
            g.enemies.clear();
            g.player.position = g.world.spawnPoint;
        }
        return g;
    }();
    return game;
}

// One second of game time (120 steps) walking forward from a fresh start: on the Earth from the
// district's spawn point, with its terrain streaming in (arg 0), or on the Moon, set down there as
// the "--moon" run is, with its ground built under the feet (arg 1).
void BM_StarWorldSecond(benchmark::State& state) {
    Input walk;
    walk.move.forward = 1.0;
    for (auto _ : state) {
        state.PauseTiming();
        Game game = loadedStars();
        if (state.range(0) == 1) {
            Stars& stars = *game.world.stars;
            const Vec3 center = stars.center(moon);
            const Vec3 above{center.x, center.y + stars.bodies[moon].radius + 2.0, center.z};
            game.player.position = stars.rebase(moon, above);
            stars.update(game.player.position, 0.0);
            game.world.syncStars(game.player, true);
        }
        state.ResumeTiming();
        for (int i = 0; i < stepsPerSecond; ++i) {
            game.tick(walk, Game::fixedStep);
        }
        benchmark::DoNotOptimize(game.player.position);
    }
}
BENCHMARK(BM_StarWorldSecond)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
