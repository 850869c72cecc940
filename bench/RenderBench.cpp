#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>

#include "BenchWorlds.hpp"
#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {
namespace {

// A device that takes everything and draws nothing: the benchmarks measure the renderer's own work.
class DiscardBackend final : public RenderBackend {
  public:
    std::uint64_t drawnVertices = 0;

    void resize(std::int32_t, std::int32_t) override {}
    void beginFrame(const Vec3&, PixelProgram) override {}
    void uploadCamera(const Camera&, const char*) override {}
    void usePixelProgram(PixelProgram) override {}
    void clearDepth() override {}
    void setDepthTest(bool) override {}
    void draw(std::span<const Vertex> vertices) override { drawnVertices += vertices.size(); }
    GpuBuffer* createBuffer(std::span<const Vertex> vertices, const char*) override {
        benchmark::DoNotOptimize(vertices.data());
        return reinterpret_cast<GpuBuffer*>(std::uintptr_t{1});
    }
    void releaseBuffer(GpuBuffer*) override {}
    void drawBuffer(GpuBuffer*, std::uint32_t) override {}
    void compositeHud(std::span<const std::uint32_t>) override {}
    void keepFrame() override {}
    void present() override {}
    bool readFrame(FrameImage&) override { return false; }
};

// The city with the test gate, half a second after the demolition charge at the gate's left post:
// the gate's rubble moves, everything else stands.
std::unique_ptr<Game> collapsingCity() {
    auto game = std::make_unique<Game>();
    game->world.addTestStructures();
    game->world.demolitionTest();
    for (int i = 0; i < 30; ++i) {
        game->world.physics.step(Game::physicsStep);
    }
    game->player.position = {0.0, 0.0, -480.0};
    return game;
}

std::unique_ptr<Renderer> discardingRenderer() {
    auto renderer = std::make_unique<Renderer>();
    renderer->backend = std::make_unique<DiscardBackend>();
    renderer->width = 1280;
    renderer->height = 720;
    return renderer;
}

void setVertexRate(benchmark::State& state, std::uint64_t vertices) {
    // Vertices per second of the timed loop (a thousandth of it per millisecond).
    state.counters["vertices"] =
        benchmark::Counter(static_cast<double>(vertices), benchmark::Counter::kIsRate);
}

// Meshes of every living piece of the collapsing city (the work of a full static rebuild, without
// the chunk bookkeeping).
void BM_MatterMeshCity(benchmark::State& state) {
    const auto game = collapsingCity();
    Renderer renderer;
    std::uint64_t vertices = 0;
    for (auto _ : state) {
        renderer.vertices.clear();
        for (const MatterPiece& piece : game->world.physics.pieces) {
            if (piece.alive) {
                renderer.matterMesh(piece);
            }
        }
        vertices += renderer.vertices.size();
        benchmark::DoNotOptimize(renderer.vertices.data());
    }
    setVertexRate(state, vertices);
    state.counters["pieces"] = static_cast<double>(game->world.physics.aliveCount());
}
BENCHMARK(BM_MatterMeshCity)->Unit(benchmark::kMillisecond);

// The moving scene of one frame of the collapsing city: the gate's rubble, the eighty enemies.
void BM_SceneCityCollapse(benchmark::State& state) {
    const auto game = collapsingCity();
    const auto renderer = discardingRenderer();
    auto& backend = static_cast<DiscardBackend&>(*renderer->backend);
    for (auto _ : state) {
        renderer->scene(*game);
        renderer->submit();
    }
    setVertexRate(state, backend.drawnVertices);
    state.counters["moving"] = static_cast<double>(game->world.physics.movingPieceCount());
}
BENCHMARK(BM_SceneCityCollapse)->Unit(benchmark::kMicrosecond);

// A frame's static chunks of a ~100,000-piece world of frame towers: Arg(1) rebuilds every chunk (a
// new terrain cell moves the origin), Arg(0) only compares the pieces with the last frame's and
// draws.
void BM_StaticChunksLargeWorld(benchmark::State& state) {
    auto game = std::make_unique<Game>();
    game->enemies.clear();
    bench::makeFrameWorld(game->world.physics, 100'000);
    const auto renderer = discardingRenderer();
    const Vec3 eye{-20.0, 1.65, -20.0};
    const Vec3 forward = normalized({1.0, 0.0, 1.0});
    renderer->staticScene(*game, eye, forward);
    const bool rebuild = state.range(0) != 0;
    std::uint64_t vertices = 0;
    std::uint64_t uploads = 0;
    double shift = 256.0;
    for (auto _ : state) {
        if (rebuild) {
            renderer->origin.x += shift;
            shift = -shift;
        }
        renderer->staticScene(*game, eye, forward);
        uploads += renderer->staticUploads;
        for (std::size_t c = 0; rebuild && c < renderer->chunks.size(); ++c) {
            vertices += renderer->chunks[c].count;
        }
    }
    if (rebuild) {
        setVertexRate(state, vertices);
    }
    state.counters["pieces"] = static_cast<double>(game->world.physics.pieces.size());
    state.counters["chunks"] = static_cast<double>(renderer->chunks.size());
    state.counters["uploads/frame"] = static_cast<double>(uploads) / static_cast<double>(state.iterations());
    state.counters["draws"] = static_cast<double>(renderer->staticDraws);
}
BENCHMARK(BM_StaticChunksLargeWorld)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
