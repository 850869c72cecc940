#include <benchmark/benchmark.h>

#include "BenchWorlds.hpp"
#include "physics/Physics.hpp"
#include "planet/Stars.hpp"

namespace zarn {
namespace {

// The whole catalogue of 34,940 bodies, with the first selection and sky.
void BM_StarsBuild(benchmark::State& state) {
    for (auto _ : state) {
        Stars stars;
        benchmark::DoNotOptimize(stars.skyPoints.data());
    }
}
BENCHMARK(BM_StarsBuild)->Unit(benchmark::kMillisecond);

// One pass over the catalogue for the nearest, light and near bodies, standing on the Earth.
void BM_StarsSelect(benchmark::State& state) {
    Stars stars;
    for (auto _ : state) {
        stars.select({0.0, 1.7, 0.0});
        benchmark::DoNotOptimize(stars.nearBodies.data());
    }
}
BENCHMARK(BM_StarsSelect)->Unit(benchmark::kMicrosecond);

// The sky points for a viewer on the Earth: every star and the planets large enough to show.
void BM_StarsRefreshSky(benchmark::State& state) {
    Stars stars;
    for (auto _ : state) {
        stars.refreshSky({0.0, 1.7, 0.0});
        benchmark::DoNotOptimize(stars.skyPoints.data());
    }
    state.counters["points"] = static_cast<double>(stars.skyPoints.size());
}
BENCHMARK(BM_StarsRefreshSky)->Unit(benchmark::kMicrosecond);

// Fixed steps of 1/120 s: the n-body step of the ten near bodies and, with argument 0, a selection
// once a second; argument 1 holds the selection off to time the step alone.
void BM_StarsUpdate(benchmark::State& state) {
    Stars stars;
    for (auto _ : state) {
        if (state.range(0) == 1) {
            stars.selectTimer = 1.0;
        }
        stars.update({0.0, 1.7, 0.0}, 1.0 / 120.0);
        benchmark::DoNotOptimize(stars.orbits.data());
    }
}
BENCHMARK(BM_StarsUpdate)->Arg(0)->Arg(1);

// One rebuild of the ground on the Moon: 625 slabs on the cratered relief, then the grid and the
// topology of the physics.
void BM_StarsTerrain(benchmark::State& state) {
    Stars stars;
    const Vec3 eye = stars.rebase(9, stars.center(9) + Vec3{0.0, stars.bodies[9].radius + 1.65, 0.0});
    stars.select(eye);
    Physics physics;
    for (auto _ : state) {
        stars.terrainBody = -1; // as after a landing
        stars.terrain(physics, eye);
        benchmark::DoNotOptimize(physics.pieces.data());
    }
    state.counters["pieces"] = static_cast<double>(physics.pieces.size());
}
BENCHMARK(BM_StarsTerrain)->Unit(benchmark::kMillisecond);

// One warp from the Earth's ground beside a district of 30,000 pieces of frame towers, with the
// selection and the sky it ends with: argument 0 stops at a tower, 1 lands on the Moon, 2 ends in
// free space (four taps each), 3 lands on the first planet of the first star beyond 20,000 light-years
// above the horizon (nine taps). Each jump starts from the same place again.
void BM_StarsWarp(benchmark::State& state) {
    const Stars home;
    Physics physics;
    bench::makeFrameWorld(physics, 30000);
    physics.rebuildGrid();
    const Vec3 eye{-20.0, 1.65, -20.0};
    int farPlanet = 0; // the first planet of the first star beyond 20,000 light-years above the horizon
    while (home.bodies[static_cast<std::size_t>(farPlanet)].kind != BodyKind::Star ||
           length(home.center(farPlanet)) < 2e4 * lightYear || normalized(home.center(farPlanet)).y < 0.005) {
        ++farPlanet;
    }
    ++farPlanet;
    const Vec3 directions[] = {
        {1.0, 0.0, 1.0}, home.center(9) - eye, {-1.0, 0.0, 0.0}, home.center(farPlanet) - eye};
    const Vec3 direction = directions[state.range(0)];
    const unsigned taps = state.range(0) == 3 ? 9 : 4;
    Stars stars = home;
    int frame = 0;
    for (auto _ : state) {
        stars.frameBody = home.frameBody;
        stars.freeOrigin = home.freeOrigin;
        stars.orbits = home.orbits;
        const Vec3 arrival = stars.warp(eye, direction, taps, physics);
        frame = stars.frameBody;
        benchmark::DoNotOptimize(arrival);
    }
    state.counters["frame"] = frame;
    state.counters["target"] = farPlanet;
}
BENCHMARK(BM_StarsWarp)
    ->ArgName("matter/landing/free/far")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
