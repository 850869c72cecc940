#include <cmath>

#include <benchmark/benchmark.h>

#include "app/SoundSynthesis.hpp"
#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {
namespace {

// The longest sound the matter makes (1.8 s) in each voice: a pass can synthesise twelve of them.
void BM_CollisionSynthesis(benchmark::State& state) {
    CollisionSound sound;
    sound.kind = static_cast<std::int32_t>(state.range(0));
    sound.pitch = 220.0;
    sound.energy = 5000.0;
    sound.duration = 1.8;
    sound.impulse = std::exp(13.0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(collisionSamples(sound, 0.3).data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(1.8 * sampleRate));
}
BENCHMARK(BM_CollisionSynthesis)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_BlastSynthesis(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(shotSamples(blastSound, 6, 0.042).data());
    }
}
BENCHMARK(BM_BlastSynthesis)->Unit(benchmark::kMicrosecond);

// The weapon model of every frame: the machine gun with its flash, walking.
void BM_WeaponModel(benchmark::State& state) {
    Game game;
    game.weapon = 5;
    game.muzzleFlash = 0.05;
    game.player.velocity = {4.0, 0.0, 2.0};
    Renderer renderer;
    for (auto _ : state) {
        renderer.vertices.clear();
        renderer.viewmodel(game);
        benchmark::DoNotOptimize(renderer.vertices.data());
    }
}
BENCHMARK(BM_WeaponModel);

} // namespace
} // namespace zarn
