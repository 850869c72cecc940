#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "render/RecordingBackend.hpp"
#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {
namespace {

void expectFloat4(const Float4& actual, const Vec3& expected, double tolerance = 1e-6) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
    EXPECT_EQ(actual.w, 0.0f);
}

void expectPlainLighting(const Camera& camera) {
    expectFloat4(camera.outdoorLight, {1.0, 1.0, 1.0});
    expectFloat4(camera.indoorLight, {1.0, 1.0, 1.0});
    expectFloat4(camera.fogColor, {0.42, 0.48, 0.49});
    EXPECT_EQ(camera.starLight, Float4{});
    EXPECT_EQ(camera.starSphere, Float4{});
    EXPECT_EQ(camera.starParameters, Float4{});
}

// A game in a world of nothing but the pieces a test adds, the player at the origin looking along +z.
std::unique_ptr<Game> emptyGame() {
    auto game = std::make_unique<Game>();
    game->world.physics.clear();
    game->world.buildings.clear();
    game->player.position = {};
    game->enemies.clear();
    game->supplies.clear();
    return game;
}

TEST(FrameTest, MenuPagesShowTheFixedScenicCamera) {
    const Game game;
    const Vec3 origin{-256.0, 0.0, -512.0};
    const View view = frameView(game, true);
    EXPECT_EQ(view.eye, (Vec3{-105.0, 36.0, -218.0}));
    const Vec3 forward{0.5922683025185973, -0.02030634180063762, 0.8054848914252923};
    EXPECT_EQ(view.forward, forward);
    const Vec3 right = normalized({forward.z, 0.0, -forward.x});
    EXPECT_NEAR(length(view.right - right), 0.0, 1e-15);
    EXPECT_NEAR(length(view.up - cross(forward, right)), 0.0, 1e-15);
    EXPECT_GT(view.up.y, 0.99);

    Game scoped;
    scoped.weapon = 4;
    scoped.slots[4].scoped = true; // the menu never zooms
    const Camera camera = frameCamera(scoped, view, origin, 1280, 720, true);
    expectFloat4(camera.eye, {151.0, 36.0, 294.0});
    expectFloat4(camera.forward, forward);
    expectFloat4(camera.right, right);
    EXPECT_EQ(camera.projection, (Float4{1.3270448f, 1280.0f / 720.0f, 0.0f, 0.0f}));
    expectPlainLighting(camera);
}

TEST(FrameTest, PlayerCameraInTheCity) {
    Game game; // the demolition city, a plain world: linear depth
    game.player.position = {12.0, 3.0, -140.0};
    game.player.yaw = 0.4;
    game.player.pitch = -0.2;
    const Vec3 origin{0.0, 0.0, -256.0};

    View view = frameView(game, false);
    EXPECT_EQ(view.eye, (Vec3{12.0, 4.65, -140.0}));
    EXPECT_EQ(view.forward, game.aim());
    EXPECT_NEAR(length(view.right), 1.0, 1e-12);
    EXPECT_NEAR(view.right.y, 0.0, 1e-15); // level with the ground
    EXPECT_NEAR(dot(view.right, view.forward), 0.0, 1e-12);
    EXPECT_NEAR(length(view.up - cross(view.forward, view.right)), 0.0, 1e-15);
    EXPECT_GT(view.up.y, 0.0);
    EXPECT_EQ(view.worldUp, (Vec3{0.0, 1.0, 0.0}));

    Camera camera = frameCamera(game, view, origin, 1920, 1080, false);
    expectFloat4(camera.eye, {12.0, 4.65, 116.0}, 1e-5);
    EXPECT_EQ(camera.projection, (Float4{1.3270448f, 1920.0f / 1080.0f, 0.0f, 0.0f}));
    expectPlainLighting(camera);

    // Crouched, the eye is 0.94 m above the feet; the blast shake lifts it along world y.
    game.player.crouched = true;
    EXPECT_EQ(frameView(game, false).eye, (Vec3{12.0, 3.94, -140.0}));
    game.blastFlash = 0.5;
    game.time = 0.01;
    view = frameView(game, false);
    EXPECT_NEAR(view.eye.y, 3.94 + std::sin(0.9) * 0.5 * 0.06, 1e-12);
    EXPECT_EQ(view.eye.x, 12.0);

    // Through the sniper scope: 24 degrees.
    game.weapon = 4;
    game.slots[4].scoped = true;
    camera = frameCamera(game, view, origin, 1280, 720, false);
    EXPECT_EQ(camera.projection.x, 4.70463f);
    game.weapon = 3; // another weapon's slot is not scoped
    EXPECT_EQ(frameCamera(game, view, origin, 1280, 720, false).projection.x, 1.3270448f);

    // Looking straight up there is no right vector.
    game.player.pitch = 3.14159265358979 / 2.0;
    game.recoilPitch = 0.0;
    view = frameView(game, false);
    EXPECT_EQ(view.right, Vec3{});
    EXPECT_EQ(view.up, Vec3{});
}

TEST(FrameTest, FramePassesRunInOrder) {
    test::DeviceLog log;
    Renderer renderer;
    test::attachRecorder(renderer, log);
    auto game = emptyGame();
    MatterPiece piece;
    piece.body.center = {0.0, 0.0, 20.0};
    piece.body.halfExtents = {1.0, 1.0, 1.0};
    game->world.physics.add(piece);
    game->world.terrainCell = {-256.0, 0.0, -256.0};

    renderer.render(*game, {false, false});
    EXPECT_EQ(renderer.origin, (Vec3{-256.0, 0.0, -256.0}));
    EXPECT_EQ(log.program, PixelProgram::plain);
    const std::vector<std::string> playing{
        "begin",  "camera camera upload", "create 1 36", "buffer 1 36", "clear depth", "draw 216", "hud",
        "present"};
    EXPECT_EQ(log.calls, playing);
    ASSERT_EQ(log.cameras.size(), 1u);
    expectFloat4(log.cameras[0].eye, {256.0, 1.65, 256.0});

    // On a menu page, or dead, no weapon pass: the depth is not cleared again.
    log.calls.clear();
    renderer.render(*game, {true, false});
    const std::vector<std::string> menu{"begin", "camera camera upload", "buffer 1 36", "hud", "present"};
    EXPECT_EQ(log.calls, menu);
    game->dead = true;
    log.calls.clear();
    renderer.render(*game, {false, false});
    EXPECT_EQ(log.calls, menu);

    // A frame to be captured is kept before it is presented, once.
    renderer.keepNextFrame();
    log.calls.clear();
    renderer.render(*game, {true, false});
    const std::vector<std::string> kept{"begin",  "camera camera upload", "buffer 1 36", "hud", "keep",
                                        "present"};
    EXPECT_EQ(log.calls, kept);
    log.calls.clear();
    renderer.render(*game, {true, false});
    EXPECT_EQ(log.calls, menu);
}

TEST(FrameTest, ResizeNeedsADeviceAndARealSize) {
    Renderer renderer;
    renderer.resize(800, 600); // before initialize: nothing
    EXPECT_EQ(renderer.width, 0);

    test::DeviceLog log;
    test::attachRecorder(renderer, log);
    renderer.resize(0, 0); // minimised: the targets stay as they were
    renderer.resize(640, 0);
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(renderer.width, 1280);
    renderer.resize(1920, 1080);
    EXPECT_EQ(log.calls, std::vector<std::string>{"resize 1920x1080"});
    EXPECT_EQ(renderer.width, 1920);
    EXPECT_EQ(renderer.height, 1080);
}

TEST(FrameTest, MovingMatterIsCulledByDistanceAndMarkedInDebug) {
    test::DeviceLog log;
    Renderer renderer;
    test::attachRecorder(renderer, log);
    auto game = emptyGame();
    Physics& physics = game->world.physics;
    physics.assemblies.resize(1); // awake
    auto addMoving = [&](const Vec3& center, const Vec3& halfExtents) {
        MatterPiece piece;
        piece.body.center = center;
        piece.body.halfExtents = halfExtents;
        piece.body.velocity = {4.0, 0.0, 0.0};
        piece.assembly = 0;
        physics.add(piece);
    };
    // 2600 m away: drawn when its half-extent vector reaches within 2500 m, not when it is small.
    addMoving({2600.0, 0.0, 0.0}, {200.0 / std::sqrt(3.0), 200.0 / std::sqrt(3.0), 200.0 / std::sqrt(3.0)});
    addMoving({0.0, 0.0, 2600.0}, {2.0 / std::sqrt(3.0), 2.0 / std::sqrt(3.0), 2.0 / std::sqrt(3.0)});
    addMoving({0.0, 5.0, 10.0}, {0.5, 0.5, 0.5});
    MatterPiece dead;
    dead.alive = false;
    dead.assembly = 0;
    physics.add(dead);

    renderer.scene(*game);
    EXPECT_EQ(renderer.vertices.size(), 72u);
    EXPECT_NEAR(renderer.vertices[0].position.x, 2600.0 - 200.0 / std::sqrt(3.0), 1e-3);
    EXPECT_EQ(renderer.vertices[36].position.y, 4.5f);

    // Debug markers: a velocity beam and a spin beam on pieces within 200 m.
    renderer.vertices.clear();
    renderer.physicsDebug = true;
    renderer.scene(*game);
    ASSERT_EQ(renderer.vertices.size(), 84u);
    const Vertex& velocityEnd = renderer.vertices[36 + 36 + 2];
    EXPECT_EQ(velocityEnd.position.x, 1.0f); // centre + 0.25 x velocity, widened along z
    EXPECT_EQ(velocityEnd.color, (Float3{0.95f, 0.3f, 0.1f}));
    EXPECT_EQ(renderer.vertices.back().color, (Float3{0.2f, 0.75f, 0.95f}));

    // Asleep, the same pieces belong to the static chunks.
    physics.assemblies[0].asleep = true;
    renderer.vertices.clear();
    renderer.scene(*game);
    EXPECT_TRUE(renderer.vertices.empty());
    EXPECT_TRUE(log.draws.empty());
}

TEST(FrameTest, LargeMovingScenesAreSubmittedOnTheWay) {
    test::DeviceLog log;
    Renderer renderer;
    test::attachRecorder(renderer, log);
    auto game = emptyGame();
    Physics& physics = game->world.physics;
    physics.assemblies.resize(1);
    MatterPiece piece;
    piece.body.halfExtents = {0.5, 0.5, 0.5};
    piece.assembly = 0;
    physics.pieces.assign(25'010, piece); // 36 vertices each: 900,000 vertices are 25,000 pieces

    renderer.scene(*game);
    ASSERT_EQ(log.draws.size(), 1u);
    EXPECT_EQ(log.draws[0].size(), 25'001u * 36u); // the first piece past 36,000,000 bytes
    EXPECT_EQ(renderer.vertices.size(), 9u * 36u);
}

TEST(FrameTest, EnemiesSuppliesRocketsAndTracers) {
    Renderer renderer;
    auto game = emptyGame();
    game->time = 0.25;
    Enemy walker;
    walker.id = 3;
    walker.position = {10.0, 2.0, 30.0};
    Enemy distant = walker;
    distant.position = {0.0, 0.0, 801.0};
    Enemy dead = walker;
    dead.alive = false;
    game->enemies = {distant, walker, dead};

    renderer.scene(*game);
    ASSERT_EQ(renderer.vertices.size(), 6u * 36u); // only the living enemy within 800 m
    // The left leg swings by 0.08 sin(7t + id); its top face (the fifth) sits at 0.8 m above that.
    const double swing = 0.08 * std::sin(7.0 * 0.25 + 3.0);
    const Vertex& legTop = renderer.vertices[4 * 6];
    EXPECT_NEAR(legTop.position.y, 2.0 + 0.4 + swing + 0.4, 1e-5);
    EXPECT_NEAR(legTop.position.x, 10.0 - 0.16 - 0.11, 1e-5);
    EXPECT_EQ(legTop.color, (Float3{0.21f, 0.23f, 0.18f}));
    const Vertex& rifleTop = renderer.vertices[5 * 36 + 4 * 6];
    EXPECT_NEAR(rifleTop.position.z, 30.0 - 0.37 - 0.125, 1e-5);
    EXPECT_EQ(rifleTop.color, (Float3{0.11f, 0.12f, 0.11f}));

    renderer.vertices.clear();
    game->enemies.clear();
    game->supplies = {{{1.0, 0.0, 1.0}, false}, {{5.0, 0.0, 5.0}, true}};
    Rocket rocket;
    rocket.position = {0.0, 10.0, 0.0};
    game->rockets = {rocket};
    game->tracers = {{{0, 1, 0}, {0, 1, 50}, 0.1, false}, {{0, 1, 0}, {50, 1, 0}, 0.1, true}};
    renderer.scene(*game);
    ASSERT_EQ(renderer.vertices.size(), 36u + 36u + 12u);
    EXPECT_NEAR(renderer.vertices[4 * 6].position.y, 0.42, 1e-6); // supply top: 0.22 + 0.2
    EXPECT_EQ(renderer.vertices[4 * 6].color, (Float3{0.46f, 0.51f, 0.27f}));
    EXPECT_NEAR(renderer.vertices[36 + 4 * 6].position.y, 10.08, 1e-5); // rocket top
    EXPECT_EQ(renderer.vertices[36 + 4 * 6].color, (Float3{0.94f, 0.54f, 0.15f}));
    const Vertex& playerTracer = renderer.vertices[72];
    EXPECT_NEAR(playerTracer.position.x, 0.012, 1e-7); // along z: widened along x by 0.012
    EXPECT_EQ(playerTracer.color, (Float3{1.0f, 0.81f, 0.35f}));
    const Vertex& enemyTracer = renderer.vertices[78];
    EXPECT_NEAR(enemyTracer.position.z, -0.025, 1e-7);
    EXPECT_EQ(enemyTracer.color, (Float3{1.0f, 0.3f, 0.12f}));
    for (const Vertex& v : renderer.vertices) {
        EXPECT_EQ(v.indoor, lighting::outdoor);
    }
}

} // namespace
} // namespace zarn
