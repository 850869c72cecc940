// Species keys: the canonical search over groups of the most blocks the ecology holds (288), and the
// lookup that a group asking again with an unchanged structure pays.
#include <cstdint>

#include <benchmark/benchmark.h>

#include "ecology/Ecology.hpp"

namespace zarn {
namespace {

// Connection blocks in a width x depth x height lattice, each bonded to its neighbours along the
// axes; `closed` bonds the ends of each row too.
BioAssembly lattice(std::uint64_t width, std::uint64_t depth, std::uint64_t height, bool closed = false) {
    BioAssembly a;
    const std::uint64_t layer = width * depth, n = layer * height;
    a.boxes.resize(n);
    for (BioTemplate& box : a.boxes)
        box.ability = Ability::Connection;
    for (std::uint64_t i = 0; i < n; ++i) {
        if (i % width + 1 < width)
            a.bonds.emplace_back(i, i + 1);
        else if (closed)
            a.bonds.emplace_back(i + 1 - width, i);
        if (i % layer + width < layer)
            a.bonds.emplace_back(i, i + width);
        if (i + layer < n)
            a.bonds.emplace_back(i, i + layer);
    }
    return a;
}

void runKey(benchmark::State& state, const BioAssembly& group) {
    for (auto _ : state)
        benchmark::DoNotOptimize(canonicalTopologyKey(group));
    state.counters["blocks"] = static_cast<double>(group.boxes.size());
}

BENCHMARK_CAPTURE(runKey, chain288, lattice(288, 1, 1))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runKey, ring288, lattice(288, 1, 1, true))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runKey, lattice12x24, lattice(12, 24, 1))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runKey, lattice8x6x6, lattice(8, 6, 6))->Unit(benchmark::kMillisecond);

// The species name of a group already met: its structure text, the lookup and a copy of the name.
void runCachedName(benchmark::State& state, const BioAssembly& group) {
    const Ecology ecology;
    benchmark::DoNotOptimize(ecology.speciesName(group));
    for (auto _ : state)
        benchmark::DoNotOptimize(ecology.speciesName(group));
}

BENCHMARK_CAPTURE(runCachedName, ring288, lattice(288, 1, 1, true))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(runCachedName, lattice12x24, lattice(12, 24, 1))->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace zarn
