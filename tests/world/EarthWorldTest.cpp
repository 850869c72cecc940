#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

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

// The Earth turns about z: up, gravity and the sky follow the day; the terrain cells stack in height.
TEST(EarthWorld, UpGravityAndSkyTurnWithTheDay) {
    World world;
    world.earth.emplace();
    const struct {
        double phase;
        Vec3 up;
        bool daylight;
    } cases[] = {
        {0.0, {0.0, 1.0, 0.0}, true}, {0.25, {-1.0, 0.0, 0.0}, false}, {0.5, {0.0, -1.0, 0.0}, false}};
    for (const auto& c : cases) {
        world.dayCycle.phase = c.phase;
        world.update({10.0, 300.0, -10.0}, 0.0, {0.0, 0.0, 1.0});
        EXPECT_EQ(world.dayCycle.phase, c.phase); // dt 0 keeps the day
        expectVec(world.gravityUp(), c.up, 1e-12);
        expectVec(world.physics.gravity, c.up * -World::standardGravity, 1e-9);
        expectVec(world.dayCycle.observer, Vec3{10.0, 300.0, -10.0} + c.up * 1.7, 1e-9);
        EXPECT_EQ(world.skyColor.z > 0.5, c.daylight) << c.phase;
        expectVec(world.terrainCell, {0.0, 256.0, -256.0}, 0.0);
    }
    world.dayCycle.rate = 2.0;
    world.update({}, 10800.0, {0.0, 0.0, 1.0}); // a quarter of a day at twice the rate
    EXPECT_NEAR(world.dayCycle.phase, 0.75, 1e-12);
    world.reset();
    expectVec(world.gravityUp(), {0.0, 1.0, 0.0}, 0.0);
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
            const HullTrace walk = game.world.traceHull({0.0, 0.0, -480.0}, {0.0, 0.0, -470.0}, 0.4, 1.8);
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
