#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "world/World.hpp"

namespace zarn {
namespace {

TEST(WorldTest, PlainUpdateSetsGravityAndTerrainCellButNotTheDay) {
    World world;
    world.physics.clear(); // the update does not depend on the matter
    EXPECT_EQ(world.gravityUp(), (Vec3{0.0, 1.0, 0.0}));
    const IWorldTrace& trace = world;
    EXPECT_EQ(trace.gravityUp(), (Vec3{0.0, 1.0, 0.0}));

    world.physics.setGravity({3.0, 1.0, 0.0});
    world.dayCycle.phase = 0.2;
    const Vec3 sky = world.skyColor;
    world.update({300.0, 900.0, -700.0}, 1.0 / 120.0, {0.0, 0.0, 1.0});
    EXPECT_EQ(world.physics.gravity, (Vec3{0.0, -9.80665, 0.0}));
    EXPECT_EQ(world.terrainCell, (Vec3{256.0, 0.0, -768.0}));
    EXPECT_EQ(world.dayCycle.phase, 0.2);
    EXPECT_EQ(world.skyColor, sky);

    // A zero, negative or non-finite step still refreshes gravity and the cell.
    for (const double dt : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        world.physics.setGravity({0.0, 0.0, 0.0});
        world.update({-512.0, 0.0, 511.9}, dt, {0.0, 0.0, 1.0});
        EXPECT_EQ(world.physics.gravity, (Vec3{0.0, -9.80665, 0.0}));
        EXPECT_EQ(world.terrainCell, (Vec3{-512.0, 0.0, 256.0}));
    }
}

// The first step's gravity is -9.80665 x (0, 1, 0), whose zero components are -0: the same gravity
// by value as the refresh before had, so the first hit after it is still refreshed as noted.
TEST(WorldTest, TheFirstStepKeepsTheNextRefreshNoted) {
    World world;
    Physics& physics = world.physics;
    const std::uint64_t whole = physics.fullRefreshCount;
    world.update(world.spawnPoint, 1.0 / 120.0, {0.0, 0.0, 1.0});
    EXPECT_TRUE(std::signbit(physics.gravity.x));
    physics.remove(static_cast<std::uint32_t>(physics.pieces.size() - 1));
    physics.refreshNotedTopology();
    EXPECT_EQ(physics.fullRefreshCount, whole);
}

TEST(WorldTest, DetailFallsWithHorizontalDistance) {
    const World world;
    const Vec3 eye{10.0, 0.0, 10.0};
    EXPECT_EQ(world.detail(eye, {10.0, 5000.0, 309.99}), 0); // height does not count
    EXPECT_EQ(world.detail(eye, {310.0, 0.0, 10.0}), 1);
    EXPECT_EQ(world.detail(eye, {10.0, 0.0, 810.0}), 2);
    EXPECT_EQ(world.detail(eye, {3010.0, 0.0, 10.0}), 3);
}

TEST(WorldTest, BuildingLabelPrefersTheName) {
    Building b;
    b.index = 41;
    EXPECT_EQ(b.label(), "建筑 42");
    b.name = "金茂";
    EXPECT_EQ(b.label(), "金茂");
}

} // namespace
} // namespace zarn
