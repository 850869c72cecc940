#include <cstdint>
#include <memory>
#include <string>

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

// The Earth world as a frame sees it: the district's map loaded into the physics and the engine
// following it, the player at the district's edge (Arg 0) or 400 km up looking down at the limb
// (Arg 1), the overview made for that eye, mid-morning. The static chunks are built before timing, so
// each timed frame is a steady one: the far pass, the chunk checks and draws, the HUD.
std::unique_ptr<Game> earthGame(bool orbit) {
    static const EarthEngine prototype;
    auto game = std::make_unique<Game>();
    game->enemies.clear();
    game->supplies.clear();
    std::string message;
    if (!game->world.loadMap(ZARN_LUJIAZUI_MAP, message)) {
        game->world.physics.clear();
    }
    game->world.earth = prototype;
    game->world.earth->initialize(game->world.physics);
    game->world.dayCycle.phase = 0.9;
    game->player.position = orbit ? Vec3{0.0, 400'000.0, 0.0} : Vec3{0.0, 2.0, -900.0};
    game->player.pitch = orbit ? -0.9 : 0.05;
    const Vec3 eye = steadyEye(*game);
    game->world.earth->updateOverview(eye, game->aim());
    return game;
}

// The star world: standing on the Earth as the star world starts (Arg 0: the sky and nine bodies),
// 30,000 km above the Earth (Arg 1: the Earth too, its tiles raised by its relief), or on the Moon
// (Arg 2: the Earth among the bodies, and the skirt around the Moon's ground).
std::unique_ptr<Game> starGame(int scene) {
    auto game = std::make_unique<Game>();
    game->enemies.clear();
    game->supplies.clear();
    game->world.physics.clear();
    Stars& stars = game->world.stars.emplace();
    Vec3 position;
    if (scene == 1) {
        position = {0.0, 30'000'000.0, 0.0};
        game->player.pitch = -0.4;
    } else if (scene == 2) {
        const Vec3 c = stars.center(9);
        position = stars.rebase(9, {c.x, c.y + stars.bodies[9].radius + 80.0, c.z});
    }
    game->player.position = position;
    stars.select(position);
    stars.refreshSky(position);
    stars.terrain(game->world.physics, position);
    game->world.physics.gravity = stars.gravity(position);
    return game;
}

// One frame of the Earth or the star world, from the vertex lists to the device calls of a device
// that draws nothing.
void frame(benchmark::State& state, const Game& game) {
    const auto renderer = discardingRenderer();
    auto& backend = static_cast<DiscardBackend&>(*renderer->backend);
    renderer->render(game, {false, false}); // builds the static chunks and the sky
    backend.drawnVertices = 0;
    for (auto _ : state) {
        renderer->render(game, {false, false});
    }
    setVertexRate(state, backend.drawnVertices);
    state.counters["vertices/frame"] =
        static_cast<double>(backend.drawnVertices) / static_cast<double>(state.iterations());
}

void BM_FrameEarth(benchmark::State& state) {
    const auto game = earthGame(state.range(0) != 0);
    state.counters["overview"] = static_cast<double>(game->world.earth->overview.size());
    state.counters["pieces"] = static_cast<double>(game->world.physics.pieces.size());
    frame(state, *game);
}
BENCHMARK(BM_FrameEarth)->ArgName("district/orbit")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FrameStars(benchmark::State& state) {
    const auto game = starGame(static_cast<int>(state.range(0)));
    state.counters["skyPoints"] = static_cast<double>(game->world.stars->skyPoints.size());
    frame(state, *game);
}
BENCHMARK(BM_FrameStars)->ArgName("earth/space/moon")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
