#include <gtest/gtest.h>

#include "world/World.hpp"

namespace zarn {
namespace {

MatterPiece piece(const Vec3& center, const Vec3& halfExtents, std::int32_t building, bool anchored) {
    MatterPiece p;
    p.body.center = center;
    p.body.halfExtents = halfExtents;
    p.building = building;
    p.anchored = anchored;
    return p;
}

// A 4 m cube of building 0 balanced on a 10 cm anchored needle of the same building: the needle's
// 0.01 m² top cannot carry 76.8 t, so bonding the two breaks exactly that one bond by compression.
// A loose block of building 1 floats apart from everything.
class NeedleWorld : public ::testing::Test {
  protected:
    void SetUp() override {
        world.physics.clear();
        world.buildings.clear();
        needle = world.physics.add(piece({0.0, 1.0, 0.0}, {0.05, 1.0, 0.05}, 0, true));
        cube = world.physics.add(piece({0.0, 4.0, 0.0}, {2.0, 2.0, 2.0}, 0, false));
        block = world.physics.add(piece({10.0, 10.0, 0.0}, {1.0, 0.5, 0.5}, 1, false));
        world.physics.add(piece({20.0, 1.0, 0.0}, {1.0, 1.0, 1.0}, buildingTag::ground, true));
        world.physics.connectTouching();
    }

    World world;
    std::uint32_t needle = 0;
    std::uint32_t cube = 0;
    std::uint32_t block = 0;
};

TEST_F(NeedleWorld, LossAndDestructionCountBrokenBondsAndSplits) {
    const double needleMass = 0.1 * 2.0 * 0.1 * 1200.0;
    const double cubeMass = 4.0 * 4.0 * 4.0 * 1200.0;
    const double blockMass = 2.0 * 1.0 * 1.0 * 1200.0;
    ASSERT_EQ(world.physics.bonds.size(), 1u);
    EXPECT_FALSE(world.physics.bonds[0].intact);
    EXPECT_EQ(world.physics.brokenBondCount, 1u);
    EXPECT_EQ(world.physics.fractureCount, 0u);
    EXPECT_EQ(world.loss(), 25000.0);
    EXPECT_FALSE(world.physics.pieces[cube - 1].supported);
    // Only building matter counts, by mass; the anchored needle still stands.
    const double fallen = 100.0 * (cubeMass + blockMass) / (cubeMass + blockMass + needleMass);
    EXPECT_NEAR(world.destructionRate(), fallen, 1e-9);

    // A weapon hit on top of the loose block with room for exactly one split: the block is cut in
    // two across its long x axis, and the new bond between the halves, 0.5 m below the hit, holds.
    world.physics.motionLimit = world.physics.movingPieceCount() + 2;
    Impact hit;
    hit.point = {10.0, 10.5, 0.0};
    hit.impulse = {0.0, -1000.0, 0.0};
    hit.energy = 1000.0;
    hit.area = 0.01;
    hit.duration = 0.001;
    hit.radius = 0.3;
    hit.weapon = true;
    world.physics.impact(block, hit);
    EXPECT_EQ(world.physics.fractureCount, 1u);
    EXPECT_EQ(world.physics.brokenBondCount, 1u);
    EXPECT_EQ(world.loss(), 10000.0 + 25000.0);
    EXPECT_FALSE(world.physics.pieces[block - 1].alive);
    ASSERT_EQ(world.physics.pieces.size(), 6u);
    EXPECT_EQ(world.physics.pieces[4].body.center, (Vec3{9.5, 10.0, 0.0}));
    EXPECT_EQ(world.physics.pieces[5].body.center, (Vec3{10.5, 10.0, 0.0}));
    // The dead block no longer counts; its two halves carry the same mass, so the rate holds.
    EXPECT_NEAR(world.destructionRate(), fallen, 1e-9);
}

TEST(DestructionRateTest, OnlyBuildingMatterCounts) {
    World world;
    world.physics.clear();
    EXPECT_EQ(world.destructionRate(), 0.0);
    world.physics.add(piece({0.0, 1.0, 0.0}, {1.0, 1.0, 1.0}, buildingTag::testGate, false));
    world.physics.add(piece({5.0, 1.0, 0.0}, {1.0, 1.0, 1.0}, buildingTag::ground, true));
    world.physics.connectTouching();
    EXPECT_EQ(world.destructionRate(), 0.0); // loose, but of no building
    // A building piece standing on the ground and a loose one half its mass: a third has fallen.
    world.physics.add(piece({5.0, 2.5, 0.0}, {1.0, 0.5, 1.0}, 7, false));
    world.physics.add(piece({-5.0, 1.25, 0.0}, {1.0, 0.25, 1.0}, 7, false));
    world.physics.connectTouching();
    EXPECT_NEAR(world.destructionRate(), 100.0 / 3.0, 1e-9);
}

} // namespace
} // namespace zarn
