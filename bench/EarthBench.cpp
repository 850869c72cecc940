#include <benchmark/benchmark.h>

#include "planet/EarthEngine.hpp"

namespace zarn {
namespace {

// The whole planet grid, built by every Earth engine and star-world load.
void BM_EarthModelBuild(benchmark::State& state) {
    for (auto _ : state) {
        EarthModel model;
        benchmark::DoNotOptimize(model.grid().data());
    }
}
BENCHMARK(BM_EarthModelBuild)->Unit(benchmark::kMillisecond);

// One chunk, as the streamer generates at most two per pass: sixteen bare columns at the antipode
// (the far side makes no features); a field of crops south-west of the district; a five-storey house
// in the Nile valley.
void BM_ChunkGeneration(benchmark::State& state) {
    struct Cell {
        int i;
        int j;
        bool farSide;
    };
    constexpr Cell cells[] = {{0, 0, true}, {-26, -60, false}, {-94937, 24719, false}};
    const Cell cell = cells[state.range(0)];
    const EarthEngine engine;
    std::size_t pieces = 0;
    for (auto _ : state) {
        const auto generated = engine.generate(cell.i, cell.j, cell.farSide);
        pieces = generated.size();
        benchmark::DoNotOptimize(generated.data());
    }
    state.counters["pieces"] = static_cast<double>(pieces);
}
BENCHMARK(BM_ChunkGeneration)
    ->ArgName("columns/crops/house")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace zarn
