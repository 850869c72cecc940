#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/FakeWorlds.hpp"
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

using test::emptyGame;

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

TEST(FrameTest, EarthCameraFollowsTheDay) {
    auto game = emptyGame();
    game->world.earth = test::fakeEarth();
    game->world.skyColor = {0.3, 0.2, 0.1};
    game->player.position = {10.0, 2.0, -30.0};
    const Vec3 origin{0.0, 0.0, -256.0};
    // Noon, dusk (the sun on the horizon: a warm glow), just after it, and midnight.
    const struct {
        double phase;
        Vec3 light;
    } days[] = {{0.0, {1.0, 1.0, 1.0}},
                {0.25, {0.439889, 0.366564, 0.424258}},
                {0.2505, {0.393669, 0.338393, 0.403672}},
                {0.5, {0.12, 0.17, 0.28}}};
    for (const auto& day : days) {
        game->world.dayCycle.phase = day.phase;
        const View view = frameView(*game, false);
        // The sun circles; up stays the planet's, whatever the hour.
        EXPECT_EQ(view.worldUp, game->world.gravityUp());
        EXPECT_NEAR(view.worldUp.y, 1.0, 1e-9);
        EXPECT_NEAR(length(view.eye - game->player.position - view.worldUp * 1.65), 0.0, 1e-12);
        const Camera camera = frameCamera(*game, view, origin, 1280, 720, false);
        expectFloat4(camera.outdoorLight, day.light, 1e-5);
        expectFloat4(camera.indoorLight, {1.0, 0.96, 0.9});
        expectFloat4(camera.fogColor, {0.3, 0.2, 0.1});
        EXPECT_EQ(camera.projection.z, 1.0f); // logarithmic depth
        EXPECT_EQ(camera.starLight, Float4{});
    }
}

TEST(FrameTest, StarCameraTakesTheLightOfTheBodies) {
    auto game = emptyGame();
    game->world.stars = test::fakeStars(9); // on the Moon
    const Stars& stars = *game->world.stars;
    const Vec3 origin{256.0, 0.0, -512.0};
    // Up is against gravity, +y without any; the eye point of the light is the steady eye.
    const struct {
        Vec3 gravity;
        Vec3 up;
        Vec3 sky;
        double fog;
        double starBrightness;
    } cases[] = {{{0.0, -1.62, 0.0}, {0.0, 1.0, 0.0}, {0.1, 0.1, 0.1}, 0.34641016, 0.48038476},
                 {{}, {0.0, 1.0, 0.0}, {}, 0.0, 1.0},
                 {{-1.62, 0.0, 0.0}, {1.0, 0.0, 0.0}, {1.0, 1.0, 1.0}, 1.0, 0.03}};
    for (const auto& c : cases) {
        game->world.physics.gravity = c.gravity;
        game->world.skyColor = c.sky;
        game->blastFlash = 1.0;
        game->time = 0.1;
        const View view = frameView(*game, false);
        EXPECT_EQ(view.worldUp, c.up);
        const Vec3 eye = c.up * 1.65;
        const Camera camera = frameCamera(*game, view, origin, 1280, 720, false);
        EXPECT_EQ(camera.projection.z, 1.0f);
        expectFloat4(camera.outdoorLight, stars.atmosphereBounce(eye));
        expectFloat4(camera.indoorLight, {1.0, 1.0, 1.0});
        expectFloat4(camera.fogColor, c.sky);
        const Vec3 toLight = stars.lightDirection(eye);
        EXPECT_EQ(camera.starLight, (Float4{float(toLight.x), float(toLight.y), float(toLight.z), 1.0f}));
        EXPECT_EQ(camera.starSphere, (Float4{-256.0f, -1737400.0f, 512.0f, 1737400.0f}));
        EXPECT_NEAR(camera.starParameters.x, 0.9999934, 1e-6); // 1 AU from the Sun
        EXPECT_NEAR(camera.starParameters.y, c.fog, 1e-6);
        EXPECT_NEAR(camera.starParameters.z, c.starBrightness, 1e-6);
    }
}

TEST(FrameTest, EarthAndStarPassesRunInOrder) {
    test::DeviceLog log;
    Renderer renderer;
    test::attachRecorder(renderer, log);
    auto earth = emptyGame();
    earth->world.earth = test::fakeEarth();
    earth->world.terrainCell = {};
    MatterPiece far;
    far.body.center = {0.0, -50.0, 90000.0};
    far.body.halfExtents = {500.0, 50.0, 500.0};
    earth->world.earth->overview = {far};
    auto stars = emptyGame();
    stars->world.stars = test::fakeStars(9);
    auto starsOnEarth = emptyGame();
    starsOnEarth->world.stars = test::fakeStars(3);
    starsOnEarth->world.earth = earth->world.earth;

    // The sun disc (at noon; not at night), the far pass with logarithmic depth, then the near pass
    // with linear depth; the star world starts with its celestial scene and lights the weapon white,
    // with linear depth too.
    const struct {
        const char* name;
        Game* game;
        double phase;
        std::vector<std::string> calls;
    } frames[] = {
        {"earth noon",
         earth.get(),
         0.0,
         {"begin", "camera camera upload", "depth off", "draw 72", "depth on", "draw 36", "clear depth",
          "camera near camera upload", "program", "clear depth"}},
        {"earth night",
         earth.get(),
         0.5,
         {"begin", "camera camera upload", "draw 36", "clear depth", "camera near camera upload", "program",
          "clear depth"}},
        {"stars",
         stars.get(),
         0.0,
         {"begin", "camera camera upload", "camera celestial camera", "draw *", "camera camera upload",
          "camera stars near camera", "program", "clear depth", "clear depth", "camera equipment camera"}},
        {"stars on the earth",
         starsOnEarth.get(),
         0.0,
         {"begin", "camera camera upload", "camera celestial camera", "draw *", "camera camera upload",
          "draw 36", "clear depth", "camera near camera upload", "program", "clear depth",
          "camera equipment camera"}},
    };
    for (const auto& frame : frames) {
        frame.game->world.dayCycle.phase = frame.phase;
        log = {};
        renderer.render(*frame.game, {false, false});
        ASSERT_EQ(log.calls.size(), frame.calls.size() + 3) << frame.name; // the weapon, the HUD, present
        for (std::size_t i = 0; i < frame.calls.size(); ++i) {
            const std::string& expected = frame.calls[i];
            const bool anyCount = expected.ends_with(" *"); // the bodies' vertices are counted elsewhere
            EXPECT_EQ(anyCount ? log.calls[i].substr(0, expected.size() - 1) : log.calls[i],
                      anyCount ? expected.substr(0, expected.size() - 1) : expected)
                << frame.name << " " << i;
        }
        EXPECT_EQ(log.program, PixelProgram::plain) << frame.name;

        // Every re-upload is the frame camera with its own changes.
        const Camera& camera = log.cameras[0];
        EXPECT_EQ(camera.projection.z, 1.0f) << frame.name;
        Camera near = camera;
        near.projection.z = 0.0f;
        Camera equipment = near;
        equipment.outdoorLight = {1.0f, 1.0f, 1.0f, 0.0f};
        equipment.starLight.w = 0.0f;
        std::size_t upload = 0;
        for (const std::string& call : log.calls) {
            if (call.starts_with("camera ")) {
                const Camera& uploaded = log.cameras[upload++];
                if (call.ends_with("near camera upload") || call.ends_with("stars near camera")) {
                    EXPECT_EQ(uploaded, near) << frame.name;
                } else if (call.ends_with("equipment camera")) {
                    EXPECT_EQ(uploaded, equipment) << frame.name;
                } else if (call.ends_with("camera upload")) {
                    EXPECT_EQ(uploaded, camera) << frame.name;
                }
            }
        }
        // The weapon model, the last draw but the HUD, goes with linear depth in every world.
        EXPECT_EQ(log.cameras.back().projection.z, 0.0f) << frame.name;
    }

    // The sun: 24 unlit triangles 9.3 m wide, 2000 m along the sun from the eye.
    earth->world.dayCycle.phase = 0.0;
    log = {};
    renderer.render(*earth, {false, false});
    const std::vector<Vertex>& sun = log.draws[0];
    EXPECT_NEAR(sun[0].position.x, 0.0, 1e-4); // up is the planet's, a hair off +y here
    EXPECT_NEAR(sun[0].position.y, 2001.65, 1e-3);
    EXPECT_NEAR(sun[0].position.z, 0.0, 1e-4);
    EXPECT_NEAR(sun[1].position.x, 9.3, 1e-4); // the rim starts on the right, +x when looking along +z
    for (const Vertex& v : sun) {
        EXPECT_EQ(v.indoor, lighting::unlit);
        EXPECT_EQ(v.color, (Float3{1.0f, 0.85f, 0.55f}));
    }
    EXPECT_EQ(log.draws[1][0].indoor, lighting::outdoor); // the class is back for the far pass
}

} // namespace
} // namespace zarn
