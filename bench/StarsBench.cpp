#include <benchmark/benchmark.h>

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

} // namespace
} // namespace zarn
