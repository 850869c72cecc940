#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/mman.h>

#include "render/HudCanvas.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

// The map pack the game ships (arg 0, about twenty thousand pieces) and the same district built
// from over a hundred thousand smaller pieces (arg 1).
const char* mapPath(std::int64_t which) {
    return which == 0 ? ZARN_LUJIAZUI_MAP : ZARN_LUJIAZUI_MAP_LARGE;
}

// The whole load: read and check every record, add the pieces, validate, bond and find the load
// paths, install.
void BM_LoadMap(benchmark::State& state) {
    World world;
    std::string message;
    for (auto _ : state) {
        if (!world.loadMap(mapPath(state.range(0)), message)) {
            state.SkipWithError(message.c_str());
            break;
        }
        benchmark::DoNotOptimize(world.physics.bonds.data());
    }
    state.counters["pieces"] = static_cast<double>(world.physics.pieces.size());
    state.counters["bonds"] = static_cast<double>(world.physics.bonds.size());
}
BENCHMARK(BM_LoadMap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Times `work` on the standing district (arg 0) or its large variant (arg 1), loaded once.
template <class Work> void onStandingMap(benchmark::State& state, Work work) {
    World world;
    std::string message;
    if (!world.loadMap(mapPath(state.range(0)), message)) {
        state.SkipWithError(message.c_str());
        return;
    }
    for (auto _ : state) {
        work(world.physics);
        benchmark::DoNotOptimize(world.physics.pieces.data());
        benchmark::DoNotOptimize(world.physics.bonds.data());
    }
    state.counters["bonds"] = static_cast<double>(world.physics.bonds.size());
}

// The bonding part of a load alone: every touching pair bonded afresh, then the topology refresh.
void BM_BondMap(benchmark::State& state) {
    onStandingMap(state, [](Physics& physics) { physics.connectTouching(); });
}
BENCHMARK(BM_BondMap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The full topology refresh that ends a load, alone: adjacency, load paths and assemblies of the
// whole standing district, as after its bonds were made.
void BM_MapRefresh(benchmark::State& state) {
    onStandingMap(state, [](Physics& physics) {
        physics.topologyDirty = true;
        physics.refreshTopology();
    });
}
BENCHMARK(BM_MapRefresh)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The load-path pass alone over the standing district: weight carried down to the ground.
void BM_MapLoadPaths(benchmark::State& state) {
    onStandingMap(state, [](Physics& physics) { physics.refreshLoadPaths(); });
}
BENCHMARK(BM_MapLoadPaths)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The HUD's own work per frame in the standing district: the destruction rate of its one line of
// text, and the opacity of the 1280 x 720 pixels after drawing (a tenth of them drawn on).
void BM_HudFrameDistrict(benchmark::State& state) {
    World world;
    std::string message;
    if (!world.loadMap(mapPath(0), message)) {
        state.SkipWithError(message.c_str());
        return;
    }
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(HudCanvas::width) * HudCanvas::height, 0u);
    for (std::size_t i = 0; i < pixels.size(); i += 10)
        pixels[i] = 0x181912u;
    for (auto _ : state) {
        benchmark::DoNotOptimize(world.destructionRate());
        markDrawnOpaque(pixels);
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_HudFrameDistrict)->Unit(benchmark::kMicrosecond);

// A map pack of coincident unit cubes on an anchored slab (2,000 cubes, 62 KB; 8,000 cubes,
// 312 KB): the loader refuses it once bonding passes its budget.
void BM_LoadCoincidentCubes(benchmark::State& state) {
    const auto cubes = state.range(0);
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("zarn-bench-cubes-" + std::to_string(cubes) + ".zarnmap");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "ZARNMAP 2\npile\n-8\n0.4 0.5 0.6\n0 0 0\n0\n"
            << cubes + 1 << "\n-1 1 0 -4 0 40 4 40 0.3 0.3 0.3 1 0 0 0 0\n";
        for (std::int64_t i = 0; i < cubes; ++i)
            out << "-2 0 0 0.5 0 0.5 0.5 0.5 0.5 0.5 0.5 1 0 0 0 0\n";
    }
    World world;
    std::string message;
    for (auto _ : state) {
        if (world.loadMap(path.string(), message)) {
            state.SkipWithError("the pile of cubes loaded");
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadCoincidentCubes)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond);

// What the machine charges for memory touched for the first time, per 4 KiB page: the floor under
// every load that fills fresh storage (a large map's pieces and bonds alone are some fifteen
// thousand pages). Each round maps 64 MiB straight from the system and writes one byte in each
// page: memory from the C library could be pages an earlier benchmark already touched and freed.
void BM_FirstTouchPage(benchmark::State& state) {
    constexpr std::size_t pageSize = 4096;
    constexpr std::size_t bytes = std::size_t{64} << 20;
    for (auto _ : state) {
        void* const mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            state.SkipWithError("no memory to map");
            break;
        }
        char* const data = static_cast<char*>(mapped);
        for (std::size_t at = 0; at < bytes; at += pageSize)
            data[at] = static_cast<char>(at >> 12);
        benchmark::DoNotOptimize(data);
        benchmark::ClobberMemory();
        state.PauseTiming();
        munmap(mapped, bytes);
        state.ResumeTiming();
    }
    state.counters["page"] =
        benchmark::Counter(static_cast<double>(bytes / pageSize),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FirstTouchPage)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
