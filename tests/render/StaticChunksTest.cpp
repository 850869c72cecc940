#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>

#include <gtest/gtest.h>

#include "render/RecordingBackend.hpp"
#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {
namespace {

class StaticChunksTest : public ::testing::Test {
  protected:
    test::DeviceLog log;
    std::unique_ptr<Renderer> renderer = std::make_unique<Renderer>();
    std::unique_ptr<Game> game = std::make_unique<Game>();
    Vec3 eye{0.0, 1.65, 0.0};
    Vec3 forward{0.0, 0.0, 1.0};

    void SetUp() override {
        test::attachRecorder(*renderer, log);
        game->world.physics.clear();
        game->world.buildings.clear();
        game->enemies.clear();
    }

    Physics& physics() { return game->world.physics; }

    // A 1 m cube of matter standing still at the given centre.
    void addCube(const Vec3& center) {
        MatterPiece piece;
        piece.body.center = center;
        piece.body.halfExtents = {0.5, 0.5, 0.5};
        physics().add(piece);
    }

    // Chunk c holds one cube at the given centre; the other 127 pieces of the chunk are dead.
    void addChunkAt(const Vec3& center) {
        addCube(center);
        for (int i = 1; i < 128; ++i) {
            addCube(center);
            physics().pieces.back().alive = false;
        }
    }

    void frame() {
        log.calls.clear();
        renderer->staticScene(*game, eye, forward);
    }
};

TEST_F(StaticChunksTest, ChunksFollowThePieceList) {
    for (int i = 0; i < 129; ++i) {
        addCube({(i % 16) * 2.0, 0.5, 20.0 + (i / 16) * 2.0});
    }
    frame();
    ASSERT_EQ(renderer->chunks.size(), 2u);
    EXPECT_EQ(renderer->staticUploads, 2u);
    EXPECT_EQ(renderer->staticDraws, 2u);
    EXPECT_EQ(renderer->chunks[0].count, 128u * 36u);
    EXPECT_EQ(renderer->chunks[1].count, 36u);
    EXPECT_EQ(log.live.at(1).size(), 128u * 36u);
    // Bounds of the first chunk: x -0.5..30.5, y 0..1, z 19.5..34.5 (cubes at x 0..30 and z 20..34).
    EXPECT_EQ(renderer->chunks[0].center, (Vec3{15.0, 0.5, 27.0}));
    EXPECT_DOUBLE_EQ(renderer->chunks[0].radius, length(Vec3{31.0, 1.0, 15.0}) / 2.0);
    EXPECT_TRUE(renderer->vertices.empty());

    // Nothing changed: nothing uploaded, every chunk drawn again.
    frame();
    EXPECT_EQ(renderer->staticUploads, 0u);
    EXPECT_EQ(renderer->staticDraws, 2u);
    EXPECT_EQ(log.created, 2u);

    // The last piece dies: its chunk is rebuilt empty and draws nothing.
    physics().pieces[128].alive = false;
    frame();
    EXPECT_EQ(renderer->staticUploads, 0u); // nothing to upload
    EXPECT_EQ(renderer->staticDraws, 1u);
    EXPECT_EQ(renderer->chunks[1].buffer, nullptr);
    EXPECT_EQ(renderer->chunks[1].count, 0u);
    EXPECT_EQ(log.released, 1u);

    // The list shrinks below the second chunk: it is released, and the last chunk is rebuilt.
    physics().pieces[128].alive = true;
    frame();
    EXPECT_EQ(renderer->staticUploads, 1u);
    physics().pieces.pop_back();
    frame();
    EXPECT_EQ(renderer->chunks.size(), 1u);
    EXPECT_EQ(renderer->staticUploads, 1u);
    EXPECT_EQ(log.live.size(), 1u);

    // Destroying the renderer releases every chunk buffer.
    renderer.reset();
    EXPECT_TRUE(log.live.empty());
    EXPECT_EQ(log.created, log.released);
}

TEST_F(StaticChunksTest, OnlyWhatADrawnPieceLooksLikeRebuildsItsChunk) {
    for (int i = 0; i < 256; ++i) {
        addCube({0.0, 0.5 + i, 10.0});
    }
    frame();
    ASSERT_EQ(renderer->staticUploads, 2u);

    MatterPiece& piece = physics().pieces[200];
    piece.stress = 5e6;
    piece.body.velocity = {1.0, 0.0, 0.0};
    piece.body.angularVelocity = {0.0, 1.0, 0.0};
    piece.bondableAt = 3.0;
    frame();
    EXPECT_EQ(renderer->staticUploads, 0u);

    auto rebuildsChunkTwo = [&](auto change) {
        change(physics().pieces[200]);
        frame();
        const bool second = log.count("create " + std::to_string(log.nextBuffer - 1) + " 4608") == 1;
        return renderer->staticUploads == 1 && second;
    };
    EXPECT_TRUE(rebuildsChunkTwo([](MatterPiece& p) { p.body.center.x += 1e-9; }));
    EXPECT_TRUE(rebuildsChunkTwo([](MatterPiece& p) { p.body.halfExtents.y = 0.6; }));
    EXPECT_TRUE(rebuildsChunkTwo([](MatterPiece& p) { p.body.orientation = {0.0, 1.0, 0.0, 0.0}; }));
    EXPECT_TRUE(rebuildsChunkTwo([](MatterPiece& p) { p.color.x = 0.9; }));
    EXPECT_TRUE(rebuildsChunkTwo([](MatterPiece& p) { p.indoor = true; }));
    EXPECT_EQ(log.live.size(), 2u);
}

TEST_F(StaticChunksTest, SleepingAssembliesMoveIntoTheirChunk) {
    for (int i = 0; i < 130; ++i) {
        addCube({0.0, 0.5 + i, 10.0});
    }
    physics().assemblies.resize(1);
    physics().pieces[129].assembly = 0; // awake: drawn by the moving scene
    frame();
    EXPECT_EQ(renderer->chunks[1].count, 36u); // piece 128 only
    renderer->scene(*game);
    EXPECT_EQ(renderer->vertices.size(), 36u);
    renderer->vertices.clear();

    physics().assemblies[0].asleep = true;
    frame();
    EXPECT_EQ(renderer->staticUploads, 1u);
    EXPECT_EQ(renderer->chunks[1].count, 72u);
    frame();
    EXPECT_EQ(renderer->staticUploads, 0u);
    renderer->scene(*game);
    EXPECT_TRUE(renderer->vertices.empty());
}

TEST_F(StaticChunksTest, ANewOriginRebuildsEveryChunkWithStaticPieces) {
    addChunkAt({0.0, 0.5, 10.0});
    addChunkAt({0.0, 0.5, 20.0});
    for (int i = 0; i < 128; ++i) { // a chunk of nothing but dead pieces
        addCube({0.0, 0.5, 30.0});
        physics().pieces.back().alive = false;
    }
    frame();
    EXPECT_EQ(renderer->staticUploads, 2u);
    renderer->origin = {256.0, 0.0, 0.0};
    frame();
    EXPECT_EQ(renderer->staticUploads, 2u);
    EXPECT_EQ(renderer->staticDraws, 2u);
    // The chunk vertices are relative to the new origin.
    EXPECT_EQ(log.live.at(3)[0].position, (Float3{-256.5f, 0.0f, 9.5f}));
    frame();
    EXPECT_EQ(renderer->staticUploads, 0u);
}

TEST_F(StaticChunksTest, ChunksAreCulledByDistanceAndViewCone) {
    const double tan37 = 0.7535540501027942;
    const double r = std::sqrt(0.75); // radius of one 1 m cube
    const Vec3 e{0.0, 1.65, 0.0};
    addChunkAt(e + Vec3{0.0, 0.0, 2500.0 + r - 0.01}); // 0: just within 2500 m
    addChunkAt(e + Vec3{0.0, 0.0, 2500.0 + r + 0.01}); // 1: just beyond
    addChunkAt(e + Vec3{0.0, 0.0, -r + 0.01});         // 2: behind, but within its radius of the eye plane
    addChunkAt(e + Vec3{0.0, 0.0, -r - 0.01});         // 3: wholly behind
    const double a = 1280.0 * tan37 / 720.0;
    const double sideEdge = std::sqrt(a * a + 1.0) * r + a * 100.0;
    addChunkAt(e + Vec3{sideEdge - 0.01, 0.0, 100.0});  // 4: at the right edge of the cone
    addChunkAt(e + Vec3{-sideEdge - 0.01, 0.0, 100.0}); // 5: past the left edge
    const double topEdge = 1.2521356581562257 * r + tan37 * 100.0;
    addChunkAt(e + Vec3{0.0, topEdge - 0.01, 100.0});  // 6: at the top edge
    addChunkAt(e + Vec3{0.0, -topEdge - 0.01, 100.0}); // 7: below the bottom edge
    eye = e;

    frame();
    EXPECT_EQ(renderer->staticUploads, 8u);
    std::vector<std::string> draws;
    for (const std::string& call : log.calls) {
        if (call.rfind("buffer", 0) == 0) {
            draws.push_back(call);
        }
    }
    const std::vector<std::string> expected{"buffer 1 36", "buffer 3 36", "buffer 5 36", "buffer 7 36"};
    EXPECT_EQ(draws, expected);
    EXPECT_EQ(renderer->staticDraws, 4u);

    // The cone keeps the normal field of view while zoomed: the scope does not enter the test.
    game->weapon = 4;
    game->slots[4].scoped = true;
    frame();
    EXPECT_EQ(renderer->staticDraws, 4u);
}

// Walking out of the Earth's spawn point for 20 s, drawn at 30 frames a second: the chunks are
// built once after the load, and no second rebuilds them all more than once (only entering another
// terrain cell moves their origin, and the cell holds while the feet bob about its edge).
TEST_F(StaticChunksTest, AWalkOnTheEarthRebuildsEveryChunkAtMostOnceASecond) {
    std::string message;
    ASSERT_TRUE(game->world.loadEarth(ZARN_LUJIAZUI_MAP, message)) << message;
    game->enemies.clear();
    // No block life crawls or falls into the street (its copies are dropped about the player).
    Ecology& ecology = game->world.earth->ecology;
    ecology.speciesA.clear();
    std::erase_if(ecology.organisms, [](const Organism& o) { return o.kind == LifeKind::Block; });
    ecology.bonds.clear();
    game->player.position = game->world.spawnPoint;
    game->player.yaw = -std::numbers::pi / 2.0; // along the open street west of the spawn
    Input walk;
    walk.move.forward = 1.0;
    int wholeFrames = 0; // frames of this second that rebuilt every chunk holding static pieces
    for (int frameNumber = 0; frameNumber < 600; ++frameNumber) {
        renderer->origin = game->world.terrainCell;
        frame();
        const auto holding = static_cast<std::size_t>(std::count_if(
            renderer->chunks.begin(), renderer->chunks.end(), [](const auto& c) { return c.count > 0; }));
        wholeFrames += renderer->staticUploads >= holding ? 1 : 0;
        if (frameNumber == 0) {
            EXPECT_GT(holding, 100u);
        } else if (frameNumber % 30 == 0) {
            EXPECT_LE(wholeFrames, 1) << "second " << frameNumber / 30;
            wholeFrames = 0;
        }
        for (int tick = 0; tick < 4; ++tick)
            game->tick(walk, Game::fixedStep);
    }
    EXPECT_GT(length(game->player.position - game->world.spawnPoint), 100.0);
}

} // namespace
} // namespace zarn
