#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/FakeWorlds.hpp"
#include "render/RecordingBackend.hpp"
#include "render/Renderer.hpp"

namespace zarn {
namespace {

double distanceOf(const Vertex& v) {
    return std::sqrt(double(v.position.x) * v.position.x + double(v.position.y) * v.position.y +
                     double(v.position.z) * v.position.z);
}

// A star-world game standing on the frame body (or in free space for -1).
std::unique_ptr<Game> starGame(int frameBody) {
    auto game = test::emptyGame();
    game->world.stars = test::fakeStars(frameBody);
    game->world.terrainCell = {3e7, 0.0, 0.0}; // as far out as the space scene's cell
    return game;
}

// The first vertices of the tiles of one draw (36 each) whose first corner lies within the given
// distances from the eye: the bodies of the fake system lie apart in compressed distance.
std::vector<const Vertex*> tilesWithin(const std::vector<Vertex>& draw, double nearest, double farthest) {
    std::vector<const Vertex*> tiles;
    for (std::size_t t = 0; t + 36 <= draw.size(); t += 36) {
        const double d = distanceOf(draw[t]);
        if (d >= nearest && d <= farthest) {
            tiles.push_back(&draw[t]);
        }
    }
    return tiles;
}

TEST(StarSceneTest, SkyBackgroundIsBuiltAroundTheEyeOncePerSky) {
    test::DeviceLog log;
    Renderer renderer;
    test::attachRecorder(renderer, log);
    auto game = starGame(3);
    Stars& stars = *game->world.stars;
    // A point of exactly 0.002 rad is a square, a wider one a disc glowing from its centre.
    stars.skyPoints = {{{0.0, 0.0, 1.0}, {0.9, 0.8, 0.7}, 0.002}, {{0.0, 1.0, 0.0}, {0.5, 0.6, 1.0}, 0.0021}};
    renderer.origin = game->world.terrainCell;
    Camera frame;
    frame.eye = {1.0f, 2.0f, 3.0f};
    renderer.starsScene(*game, frame);

    const std::vector<std::string> calls{"camera celestial camera", "create 1 42", "depth off", "buffer 1 42",
                                         "depth on"};
    ASSERT_EQ(log.calls.size(), calls.size() + 2); // then the bodies, and the frame camera again
    EXPECT_EQ(std::vector<std::string>(log.calls.begin(), log.calls.begin() + 5), calls);
    EXPECT_EQ(log.calls.back(), "camera camera upload");
    EXPECT_EQ(log.cameras[0].eye, Float4{});
    EXPECT_EQ(log.cameras[0].projection.z, 1.0f);
    EXPECT_EQ(log.cameras[1], frame);
    EXPECT_EQ(renderer.origin, game->world.terrainCell); // the frame's origin comes back

    const std::vector<Vertex>& sky = log.live.at(1);
    for (std::size_t i = 0; i < 6; ++i) { // the square, 1000 km ahead, never shifted by the origin
        EXPECT_NEAR(sky[i].position.z, 1e6, 1e-3);
        EXPECT_NEAR(std::abs(sky[i].position.x), 2000.0, 1e-3);
        EXPECT_NEAR(std::abs(sky[i].position.y), 2000.0, 1e-3);
        EXPECT_EQ(sky[i].color, (Float3{0.9f, 0.8f, 0.7f}));
    }
    for (std::size_t k = 0; k < 12; ++k) { // the disc: 12 triangles from its centre, straight up
        const Vertex* t = &sky[6 + 3 * k];
        EXPECT_EQ(t[0].position, (Float3{0.0f, 1e6f, 0.0f}));
        EXPECT_EQ(t[0].color, (Float3{0.5f, 0.6f, 1.0f}));
        EXPECT_NEAR(distanceOf(t[1]) - 1e6, 2100.0 * 2100.0 / 2e6, 1e-2);
        EXPECT_EQ(t[1].color, Float3{});
        EXPECT_EQ(t[2].color, Float3{});
    }
    for (const Vertex& v : sky) {
        EXPECT_EQ(v.indoor, lighting::skyPoint);
        EXPECT_EQ(v.normal, (Float3{0.0f, 1.0f, 0.0f}));
    }

    // The same sky is drawn from the device again; a new sky, or another system with the same
    // revision (a new game), is rebuilt; an empty sky makes no buffer and draws nothing.
    struct Step {
        const char* what;
        std::size_t created;
        std::size_t released;
        bool drawn;
    };
    const Step steps[] = {
        {"same", 1, 0, true}, {"revision", 2, 1, true}, {"new game", 3, 2, true}, {"empty", 3, 3, false}};
    for (const Step& step : steps) {
        const std::string what = step.what;
        if (what == "revision") {
            ++stars.skyRevision;
        } else if (what == "new game") {
            const std::uint64_t revision = stars.skyRevision;
            game->world.stars = Stars(*game->world.stars);
            EXPECT_EQ(game->world.stars->skyRevision, revision);
        } else if (what == "empty") {
            game->world.stars->skyPoints.clear();
            ++game->world.stars->skyRevision;
        }
        log.calls.clear();
        renderer.starsScene(*game, frame);
        EXPECT_EQ(log.created, step.created) << what;
        EXPECT_EQ(log.released, step.released) << what;
        EXPECT_EQ(log.count("depth off"), step.drawn ? 1u : 0u) << what;
    }
    EXPECT_EQ(renderer.starBuffer, nullptr);
}

TEST(StarSceneTest, NearBodiesAreCompressedTiledAndCulled) {
    // Compression keeps a body's angular size at 1e6 log(1 + D / 1e6) m; within a metre the factor is
    // min(1, s) itself.
    EXPECT_NEAR(compression(3e11) * 3e11, 1.2612e7, 1e3);
    EXPECT_NEAR(compression(1e3), 1.0 - 5e-4, 1e-6);
    EXPECT_NEAR(compression(0.5), 0.5, 1e-6);
    EXPECT_NEAR(compression(1.0), 1.0, 1e-6);
    EXPECT_EQ(compression(0.0), 0.0);
    // Level of detail by angular radius.
    const std::pair<double, std::pair<int, int>> grids[] = {
        {0.0029, {2, 4}}, {0.003, {6, 12}}, {0.0199, {6, 12}}, {0.02, {16, 32}}, {3.0, {16, 32}}};
    for (const auto& [angle, grid] : grids) {
        EXPECT_EQ(tileGrid(angle).bands, grid.first) << angle;
        EXPECT_EQ(tileGrid(angle).sectors, grid.second) << angle;
    }
    // Tiles turn +y onto their direction by the shortest rotation; one pointing straight down is not
    // turned.
    for (const Vec3& n : {Vec3{1.0, 0.0, 0.0}, normalized(Vec3{1.0, -2.0, 3.0}), Vec3{0.0, 1.0, 0.0}}) {
        EXPECT_NEAR(length(tileTurn(n).rotate({0.0, 1.0, 0.0}) - n), 0.0, 1e-12);
    }
    EXPECT_EQ(tileTurn({0.0, -1.0, 0.0}), Quaternion{});

    // A body 3e11 m ahead of a viewer in free space, drawn as 2 x 4 tiles of which the four facing
    // the eye are drawn, about 1.26e7 m away.
    test::DeviceLog log;
    Renderer renderer;
    test::attachRecorder(renderer, log);
    auto game = starGame(-1);
    Stars& stars = *game->world.stars;
    stars.freeOrigin = {0.0, 5e11, 0.0};
    stars.bodies[1].position = stars.freeOrigin + Vec3{0.0, 0.0, 3e11};
    stars.nearestBody = 1;
    renderer.starsScene(*game, {});
    ASSERT_EQ(log.draws.size(), 1u);
    for (const Vertex& v : log.draws[0]) {
        EXPECT_EQ(v.indoor, lighting::unlit);
    }
    const double compressed = 1e6 * std::log1p(3e11 / 1e6);
    const std::vector<const Vertex*> far =
        tilesWithin(log.draws[0], compressed - 1000.0, compressed + 1000.0);
    ASSERT_EQ(far.size(), 4u);
    for (const Vertex* tile : far) {
        const Vertex& top = tile[24];          // the +y face: outward along the tile's direction
        EXPECT_LT(top.normal.z, -0.2);         // facing the eye
        EXPECT_LT(top.position.z, compressed); // on the near half
    }

    // The light body shows its own colour; at 0.007 rad it has 6 x 12 tiles, of which 48 lean
    // towards the eye or not far from it.
    auto lit = starGame(-1);
    lit->world.stars->freeOrigin = {0.0, 0.0, -1e11};
    log.draws.clear();
    renderer.starsScene(*lit, {});
    const double sunDistance = 1e6 * std::log1p(1e11 / 1e6);
    const std::vector<const Vertex*> sun = tilesWithin(log.draws.at(0), sunDistance - 1e5, sunDistance + 1e5);
    ASSERT_EQ(sun.size(), 48u);
    EXPECT_EQ(sun[0][24].color, (Float3{1.0f, 0.9f, 0.7f}));

    // Standing on the Moon its sphere gives way to the skirt of 440 far tiles around the matter
    // ground, 300 m below it; standing on the Earth neither is drawn.
    auto moon = starGame(9);
    log.draws.clear();
    renderer.starsScene(*moon, {});
    const std::vector<const Vertex*> skirt = tilesWithin(log.draws.at(0), 0.0, 3e4);
    ASSERT_EQ(skirt.size(), 440u);
    EXPECT_TRUE(tilesWithin(log.draws[0], 3e4, 1e6).empty()); // no Moon sphere
    const Stars& moonStars = *moon->world.stars;
    const Vec3 moonCentre = moonStars.center(9) - Vec3{0.0, 1.65, 0.0}; // from the eye
    for (const Vertex* tile : skirt) {
        const Vertex& top = tile[24];
        EXPECT_EQ(top.indoor, lighting::unlit);
        const Vec3 n{top.normal.x, top.normal.y, top.normal.z};
        const Vec3 corner = Vec3{top.position.x, top.position.y, top.position.z} - moonCentre;
        const double ground = moonStars.bodies[9].radius + moonStars.relief(9, normalized(corner));
        EXPECT_NEAR(length(corner), ground - 299.0, 2.0);
        EXPECT_GT(dot(n, normalized(corner)), 0.999);
    }
    auto earth = starGame(3);
    log.draws.clear();
    renderer.starsScene(*earth, {});
    EXPECT_TRUE(tilesWithin(log.draws.at(0), 0.0, 1e6).empty());
}

} // namespace
} // namespace zarn
