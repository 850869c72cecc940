#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>

#include "support/Files.hpp"
#include "world/Game.hpp"

namespace zarn {
namespace {

namespace fs = std::filesystem;

void expectVec(const Vec3& v, const Vec3& expected, double tolerance) {
    EXPECT_NEAR(v.x, expected.x, tolerance);
    EXPECT_NEAR(v.y, expected.y, tolerance);
    EXPECT_NEAR(v.z, expected.z, tolerance);
}

TEST(EarthWorld, CatalogueLiesBesideTheMapsFolder) {
    const struct {
        const char* map;
        const char* catalogue;
    } cases[] = {{"a/b/c.zarnmap", "a/Earth/ecosystem.zarneco"},
                 {"b/c.zarnmap", "Earth/ecosystem.zarneco"},
                 {"c.zarnmap", "Earth/ecosystem.zarneco"},
                 {"Worlds/Lujiazui/Lujiazui.zarnmap", "Worlds/Earth/ecosystem.zarneco"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ecosystemCatalogueBeside(c.map), fs::path(c.catalogue)) << c.map;
    }
}

// A small map at a/b/c.zarnmap with the catalogue, as given, at a/Earth/ecosystem.zarneco.
TEST(EarthWorld, LoadsTheCatalogueFirstAndChangesNothingWhenItFails) {
    const fs::path folder = test::scratchFolder("zarn-earth-world");
    const fs::path map = folder / "a" / "b" / "c.zarnmap";
    const fs::path catalogue = folder / "a" / "Earth" / "ecosystem.zarneco";
    fs::create_directories(map.parent_path());
    fs::create_directories(catalogue.parent_path());
    const fs::path validMap = fs::path(ZARN_TEST_DATA_DIR) / "maps" / "valid-v2.zarnmap";
    const fs::path badMap = fs::path(ZARN_TEST_DATA_DIR) / "maps" / "truncated.zarnmap";

    // A missing or bad catalogue fails before the map is read (a bad map behind it is never seen), as
    // do map paths without a folder or not in UTF-8, and the world stays as it was.
    World world;
    const std::size_t cityPieces = world.physics.pieces.size();
    fs::copy_file(badMap, map);
    for (const std::string& path :
         {test::utf8(map), test::utf8(map), std::string("c.zarnmap"), std::string("\xff\xfe/c.zarnmap")}) {
        std::string message;
        EXPECT_FALSE(world.loadEarth(path, message));
        EXPECT_NE(message.find("生态图鉴缺失或格式无效"), std::string::npos) << message;
        EXPECT_FALSE(world.earth.has_value());
        EXPECT_EQ(world.physics.pieces.size(), cityPieces);
        test::writeText(catalogue, "ZARN_ECOLOGY 9\n"); // missing the first time, bad from then on
    }
    fs::copy_file(ZARN_ECOSYSTEM_CATALOGUE, catalogue, fs::copy_options::overwrite_existing);
    std::string message;
    EXPECT_FALSE(world.loadEarth(test::utf8(map), message)); // now the map's own refusal
    EXPECT_EQ(message, "地图包格式无效");
    EXPECT_FALSE(world.earth.has_value());

    fs::copy_file(validMap, map, fs::copy_options::overwrite_existing);
    ASSERT_TRUE(world.loadEarth(test::utf8(map), message)) << message;
    ASSERT_TRUE(world.earth.has_value());
    EXPECT_EQ(world.id, "earth");
    EXPECT_EQ(world.name, "地球 / 程序生成");
    EXPECT_TRUE(world.earth->populateEcology && !world.earth->ecology.profiles.empty());
    EXPECT_EQ(world.earth->baseline.size(), 5u); // the map's pieces are the district

    // A map or a reset makes the world plain again.
    ASSERT_TRUE(world.loadMap(test::utf8(validMap), message));
    EXPECT_FALSE(world.earth.has_value());
}

// The sun circles the planet while its up stays put: away from the planet's centre, taken at the
// middle of the player's terrain cell on the near and the far side alike. The cell holds until the
// player is a few metres past its edge, so that feet bobbing about the district's ground (which lies
// on a cell edge in height) change neither the renderer's origin nor gravity.
TEST(EarthWorld, UpPointsAwayFromThePlanetsCentreWhateverTheHour) {
    World world;
    world.earth.emplace();
    const Vec3 position{10.0, 300.0, -10.0};
    const Vec3 up = EarthModel::upAt({128.0, 384.0, -128.0});
    EXPECT_GT(up.y, std::cos(1e-4));
    for (const auto& [phase, daylight] : {std::pair{0.0, true}, {0.25, false}, {0.5, false}}) {
        world.dayCycle.phase = phase;
        world.update(position, 0.0, {0.0, 0.0, 1.0});
        EXPECT_EQ(world.dayCycle.phase, phase); // dt 0 keeps the day
        expectVec(world.terrainCell, {0.0, 256.0, -256.0}, 0.0);
        expectVec(world.gravityUp(), up, 0.0);
        expectVec(world.physics.gravity, up * -World::standardGravity, 0.0);
        expectVec(world.dayCycle.observer, position + up * 1.7, 1e-9);
        EXPECT_EQ(world.skyColor.z > 0.5, daylight) << phase;
    }
    world.dayCycle.rate = 2.0;
    world.update({}, 10800.0, {0.0, 0.0, 1.0}); // a quarter of a day at twice the rate
    EXPECT_NEAR(world.dayCycle.phase, 0.75, 1e-12);

    world.reset();
    world.earth.emplace();
    const double far = -2.0 * EarthModel::centreDepth; // the far side's pole
    const struct {
        Vec3 position;
        Vec3 cell;
    } walk[] = {
        {{0.0, 0.0007, -110.0}, {0.0, 0.0, -256.0}},   // the district's spawn
        {{0.0, -0.0003, -110.0}, {0.0, 0.0, -256.0}},  // feet a hair below the edge
        {{-7.0, -0.0003, -110.0}, {0.0, 0.0, -256.0}}, // 7 m past the edge in x
        {{-9.0, 0.0, -110.0}, {-256.0, 0.0, -256.0}},  // 9 m past it
        {{-1.0, 0.0, -110.0}, {-256.0, 0.0, -256.0}},  // back, 1 m into the old cell
        {{300.0, 0.0, -110.0}, {256.0, 0.0, -256.0}},  // moved far
        {{100.0, far, 100.0}, {0.0, std::floor(far / 256.0) * 256.0, 0.0}},
    };
    for (const auto& step : walk) {
        world.update(step.position, 0.0, {0.0, 0.0, 1.0});
        expectVec(world.terrainCell, step.cell, 0.0);
    }
    EXPECT_LT(world.gravityUp().y, -0.99999);
    world.reset();
    expectVec(world.gravityUp(), {0.0, 1.0, 0.0}, 0.0);
}

// Standing at the district's spawn point at midnight, at dusk and for two whole days at a clock
// 14,400 times real time: up stays within a degree of the vertical, the player on the ground and
// the district standing.
TEST(EarthWorld, ThePlayerAndTheDistrictStayOnTheGroundThroughTheDay) {
    const struct {
        double phase;
        double rate;
        int ticks;
    } hours[] = {{0.5, 1.0, 240}, {0.25, 1.0, 240}, {0.0, 14400.0, 1440}};
    for (const auto& hour : hours) {
        SCOPED_TRACE(::testing::Message() << "phase " << hour.phase << " rate " << hour.rate);
        Game game;
        std::string message;
        ASSERT_TRUE(game.world.loadEarth(ZARN_LUJIAZUI_MAP, message)) << message;
        game.enemies.clear();
        game.world.dayCycle.phase = hour.phase;
        game.world.dayCycle.rate = hour.rate;
        game.player.position = game.world.spawnPoint;
        game.world.update(game.player.position, 0.0, {0.0, 0.0, 1.0});
        const Vec3 start = game.player.position;
        double turned = 0.0; // the day turned, in days
        double tilt = 0.0;   // the largest angle of up from +y, rad
        for (int tick = 0; tick < hour.ticks; ++tick) {
            const double before = game.world.dayCycle.phase;
            game.tick({}, Game::fixedStep);
            turned += std::fmod(game.world.dayCycle.phase - before + 1.0, 1.0);
            tilt = std::max(tilt, std::acos(std::min(1.0, game.world.gravityUp().y)));
        }
        EXPECT_LT(tilt, 1.0 * std::numbers::pi / 180.0);
        EXPECT_TRUE(game.player.onGround);
        EXPECT_LT(length(game.player.position - start), 0.01);
        EXPECT_EQ(game.world.physics.looseBuildingMass(), 0.0);
        // Nothing pinned it: neither the day nor grey blocks lying on it.
        EXPECT_FALSE(game.world.earth->chunks.at(EarthEngine::landmarkOwner).pinned);
        if (hour.rate > 1.0) {
            EXPECT_GT(turned, 1.99);
        }
    }
}

// An organism standing in front of a wall on the training ground's runway, 5 m before the player.
TEST(EarthWorld, OrganismsStopBulletsRocketsAndThePlayersHull) {
    for (const bool organism : {true, false}) {
        for (const std::int32_t weapon : {2, 6}) {
            SCOPED_TRACE(::testing::Message() << "organism " << organism << " weapon " << weapon);
            Game game;
            game.reset(true);
            game.world.earth.emplace();
            game.world.dayCycle.rate = 0.0;
            MatterPiece wall;
            wall.body.center = {0.0, 2.0, -469.5};
            wall.body.halfExtents = {3.0, 2.0, 0.5};
            wall.anchored = true;
            game.world.physics.add(wall);
            game.world.physics.connectTouching();
            if (organism) {
                Organism cube;
                cube.id = 1;
                cube.kind = LifeKind::Cube;
                cube.center = {0.0, 1.65, -475.0};
                cube.halfExtents = {0.5, 0.5, 0.5};
                game.world.earth->ecology.organisms.push_back(cube);
            }
            // A millimetre above the ground, as the player stands under the planet's up, which is a
            // hair off +y here.
            const HullTrace walk = game.world.traceHull({0.0, 0.001, -480.0}, {0.0, 0.001, -470.0}, 0.4, 1.8);
            EXPECT_NEAR(walk.end.z, organism ? -475.9 : -470.4, 1e-3);

            game.selectWeapon(weapon);
            game.time = game.slots[static_cast<std::size_t>(weapon)].nextShot;
            game.shoot();
            double stop = 0.0; // where the last bullet tracer ended
            for (int i = 0; i < 10; ++i) {
                game.tick({}, Game::fixedStep);
                stop = game.tracers.empty() ? stop : game.tracers.back().to.z;
            }
            if (organism) { // hurt, or killed and gone from the list
                const std::vector<Organism>& living = game.world.earth->ecology.organisms;
                EXPECT_TRUE(living.empty() || living.front().health < 100.0);
            }
            if (weapon == 2) {
                EXPECT_NEAR(stop, organism ? -475.5 : -470.0, 1e-3);
            } else {
                // The rocket went off at the organism before it could reach the wall.
                EXPECT_EQ(game.rockets.empty(), organism);
                EXPECT_EQ(game.blastFlash > 0.0, organism);
            }
        }
    }
}

} // namespace
} // namespace zarn
