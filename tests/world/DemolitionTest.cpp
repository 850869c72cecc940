#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "world/TrainingGround.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

struct GateState {
    int alive = 0;
    double highestTop = -1e30;  // top of the highest gate matter
    double leftHalfTop = -1e30; // top of the gate matter left of x = -2 around the gate
    double leftHalfHeight = 0;  // the mass-weighted mean height of that matter
};

GateState gateState(const Physics& physics) {
    GateState s;
    double leftMass = 0.0;
    for (const MatterPiece& p : physics.pieces) {
        if (!p.alive || p.building != buildingTag::testGate) {
            continue;
        }
        ++s.alive;
        const Box b = p.body.bounds();
        s.highestTop = std::max(s.highestTop, b.max.y);
        const Vec3& c = p.body.center;
        if (c.x < -2.0 && c.x > -8.0 && std::abs(c.z + 461.0) < 4.0) {
            s.leftHalfTop = std::max(s.leftHalfTop, b.max.y);
            s.leftHalfHeight += p.body.mass * c.y;
            leftMass += p.body.mass;
        }
    }
    s.leftHalfHeight /= leftMass;
    return s;
}

TEST(DemolitionTest, BlastAtTheLeftPostBringsTheGateDown) {
    World world;
    test::buildTrainingGround(world);
    const GateState before = gateState(world.physics);
    ASSERT_EQ(before.alive, 3);
    ASSERT_EQ(before.highestTop, 5.0);
    ASSERT_EQ(before.leftHalfTop, 4.0); // the left post; the beam's centre is at x = 0

    world.demolitionTest();
    EXPECT_GT(world.physics.fractureCount, 0u);
    EXPECT_GT(world.physics.brokenBondCount, 0u);
    EXPECT_GT(world.loss(), 0.0);
    EXPECT_FALSE(world.physics.motionStopped);
    const GateState cut = gateState(world.physics);
    EXPECT_EQ(cut.leftHalfTop, 5.0); // cut up, but nothing has moved yet

    std::uint64_t mostMoving = 0;
    for (int i = 0; i < 6 * 60; ++i) {
        world.physics.step(1.0 / 60.0);
        mostMoving = std::max(mostMoving, world.physics.movingPieceCount());
    }
    EXPECT_GT(mostMoving, 0u);
    EXPECT_TRUE(world.physics.validate());
    const GateState after = gateState(world.physics);
    EXPECT_GT(after.alive, before.alive); // the blast split the post
    // The left post is rubble and the beam, cut near it, came down on that side: the matter over the
    // left half of the gate lies far lower than it stood (a piece of the beam may come to rest on
    // what is left of the post, as it happens). The right post still stands.
    EXPECT_FALSE(world.physics.pieces[256].alive);
    EXPECT_FALSE(world.physics.pieces[258].alive);
    EXPECT_TRUE(world.physics.pieces[257].alive);
    EXPECT_LT(after.leftHalfHeight, 0.75 * cut.leftHalfHeight);
    EXPECT_LT(after.leftHalfTop, before.highestTop);
    // The charge cracks the two floor slabs it touches (ids 113 and 129); the rest of the floor is
    // whole and stays fixed.
    for (std::uint32_t id = 1; id <= 256; ++id) {
        const MatterPiece& slab = world.physics.pieces[id - 1];
        if (id != 113 && id != 129) {
            EXPECT_TRUE(slab.alive) << "slab " << id;
        }
        EXPECT_TRUE(slab.anchored);
    }
}

TEST(DemolitionTest, SameChargeGivesTheSameCollapse) {
    World a;
    World b;
    test::buildTrainingGround(a);
    test::buildTrainingGround(b);
    a.demolitionTest();
    b.demolitionTest();
    for (int i = 0; i < 120; ++i) {
        a.physics.step(1.0 / 60.0);
        b.physics.step(1.0 / 60.0);
    }
    ASSERT_EQ(a.physics.pieces.size(), b.physics.pieces.size());
    EXPECT_EQ(a.physics.brokenBondCount, b.physics.brokenBondCount);
    for (std::size_t i = 0; i < a.physics.pieces.size(); ++i) {
        ASSERT_EQ(a.physics.pieces[i].body.center, b.physics.pieces[i].body.center) << "piece " << i + 1;
    }
}

} // namespace
} // namespace zarn
