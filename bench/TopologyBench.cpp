#include <cstddef>
#include <cstdint>
#include <cstring>

#include <benchmark/benchmark.h>

#include "BenchWorlds.hpp"
#include "physics/Physics.hpp"

namespace {

using zarn::Physics;

// The two frame worlds, built once: about 4,000 and about 100,000 pieces.
Physics& frameWorld(std::size_t targetPieces) {
    static Physics small;
    static Physics large;
    Physics& world = targetPieces < 50000 ? small : large;
    if (world.pieces.empty())
        zarn::bench::makeFrameWorld(world, targetPieces);
    return world;
}

bool standing(benchmark::State& state, const Physics& world) {
    if (world.brokenBondCount != 0 || !world.assemblies.empty()) {
        state.SkipWithError("the frame world does not stand");
        return false;
    }
    state.counters["pieces"] = static_cast<double>(world.pieces.size());
    state.counters["bonds"] = static_cast<double>(world.bonds.size());
    return true;
}

void refreshTopology(benchmark::State& state) {
    Physics& world = frameWorld(static_cast<std::size_t>(state.range(0)));
    if (!standing(state, world))
        return;
    for (auto _ : state) {
        world.topologyDirty = true;
        world.refreshTopology();
    }
    if (world.brokenBondCount != 0)
        state.SkipWithError("bonds broke during the refresh");
}
BENCHMARK(refreshTopology)->Arg(4000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The floor under a full refresh of the same world: one plain read, in order, of every 64-byte line
// of its piece and bond records, which a refresh reads at least once.
std::uint64_t sumLines(const void* records, std::size_t bytes) {
    const auto* data = static_cast<const unsigned char*>(records);
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at + sizeof sum <= bytes; at += 64) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        sum += word;
    }
    return sum;
}

void readRecordsFloor(benchmark::State& state) {
    Physics& world = frameWorld(static_cast<std::size_t>(state.range(0)));
    if (!standing(state, world))
        return;
    const std::size_t pieceBytes = world.pieces.size() * sizeof(zarn::MatterPiece);
    const std::size_t bondBytes = world.bonds.size() * sizeof(zarn::Bond);
    for (auto _ : state) {
        const std::uint64_t sum =
            sumLines(world.pieces.data(), pieceBytes) + sumLines(world.bonds.data(), bondBytes);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["MB"] = static_cast<double>(pieceBytes + bondBytes) / 1e6;
}
BENCHMARK(readRecordsFloor)->Arg(4000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Twenty thousand cubes resting one by one on a single anchored slab: twenty thousand small
// components sharing one anchor.
void refreshTopologyRubble(benchmark::State& state) {
    static Physics field;
    if (field.pieces.empty())
        zarn::bench::makeRubbleField(field, 20000);
    if (!standing(state, field))
        return;
    for (auto _ : state) {
        field.topologyDirty = true;
        field.refreshTopology();
    }
}
BENCHMARK(refreshTopologyRubble)->Unit(benchmark::kMillisecond);

void rebuildGridStill(benchmark::State& state) {
    Physics& world = frameWorld(static_cast<std::size_t>(state.range(0)));
    if (!standing(state, world))
        return;
    world.rebuildGrid();
    for (auto _ : state)
        world.rebuildGrid();
}
BENCHMARK(rebuildGridStill)->Arg(4000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void rebuildGridOneMoved(benchmark::State& state) {
    Physics& world = frameWorld(static_cast<std::size_t>(state.range(0)));
    if (!standing(state, world))
        return;
    zarn::Vec3& center = world.pieces[world.pieces.size() / 2].body.center;
    const zarn::Vec3 home = center;
    world.rebuildGrid();
    bool away = false;
    for (auto _ : state) {
        away = !away;
        center.x = away ? home.x + 1e-6 : home.x;
        world.rebuildGrid();
    }
    center = home;
    world.rebuildGrid();
}
BENCHMARK(rebuildGridOneMoved)->Arg(4000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A 4 m box around pieces taken in turn across the world: the candidate list of one cell or a few.
void queryBox(benchmark::State& state) {
    Physics& world = frameWorld(static_cast<std::size_t>(state.range(0)));
    if (!standing(state, world))
        return;
    std::size_t index = 0;
    std::size_t candidates = 0;
    for (auto _ : state) {
        index = (index + 7919) % world.pieces.size();
        const zarn::Vec3 c = world.pieces[index].body.center;
        const std::vector<std::uint32_t> ids =
            world.query(zarn::Box{c - zarn::Vec3{2, 2, 2}, c + zarn::Vec3{2, 2, 2}});
        candidates += ids.size();
        benchmark::DoNotOptimize(ids.data());
    }
    state.counters["candidates"] =
        benchmark::Counter(static_cast<double>(candidates), benchmark::Counter::kAvgIterations);
}
BENCHMARK(queryBox)->Arg(4000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A 300 m shot at head height along the first row of towers, and one straight down onto a roof.
void traceRow(benchmark::State& state) {
    Physics& world = frameWorld(static_cast<std::size_t>(state.range(0)));
    if (!standing(state, world))
        return;
    for (auto _ : state) {
        const zarn::PieceHit hit = world.trace({-50, 5.2, 4.3}, {1, 0, 0}, 300);
        benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(traceRow)->Arg(4000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void traceDown(benchmark::State& state) {
    Physics& world = frameWorld(static_cast<std::size_t>(state.range(0)));
    if (!standing(state, world))
        return;
    for (auto _ : state) {
        const zarn::PieceHit hit = world.trace({6.3, 60, 2.7}, {0, -1, 0}, 100);
        benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(traceDown)->Arg(4000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Building and bonding the small world from scratch (map load).
void buildFrameWorld(benchmark::State& state) {
    for (auto _ : state) {
        Physics world;
        zarn::bench::makeFrameWorld(world, static_cast<std::size_t>(state.range(0)));
        benchmark::DoNotOptimize(world.bonds.data());
    }
}
BENCHMARK(buildFrameWorld)->Arg(4000)->Unit(benchmark::kMillisecond);

} // namespace
