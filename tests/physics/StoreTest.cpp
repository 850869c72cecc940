#include <cmath>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"

namespace zarn {
namespace {

MatterPiece box(const Vec3& center, const Vec3& half) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = half;
    return piece;
}

TEST(Store, AddNumbersPiecesWeighsThemAndStampsTheirTime) {
    Physics physics;
    physics.time = 5.0;
    physics.topologyDirty = false;
    EXPECT_EQ(physics.add(box({0, 0, 0}, {0.5, 0.5, 0.5})), 1u);
    EXPECT_DOUBLE_EQ(physics.pieces[0].body.mass, 1200.0);
    EXPECT_EQ(physics.pieces[0].id, 1u);
    EXPECT_EQ(physics.pieces[0].stateTime, 5.0);
    EXPECT_TRUE(physics.topologyDirty);

    MatterPiece plank = box({3, 0, 0}, {1.0, 0.1, 0.25});
    plank.stateTime = 2.0; // a time the caller set is kept
    plank.id = 77;         // and an id is always the store's own
    EXPECT_EQ(physics.add(plank), 2u);
    EXPECT_EQ(physics.pieces[1].id, 2u);
    EXPECT_NEAR(physics.pieces[1].body.mass, 8 * 1.0 * 0.1 * 0.25 * 1200.0, 1e-9);
    EXPECT_EQ(physics.pieces[1].stateTime, 2.0);
}

TEST(Store, ClearForgetsTheWorldButKeepsTheSettings) {
    Physics physics;
    physics.motionLimit = 5000;
    physics.groundLevel = -3.0;
    physics.linearDrag = 0.5;
    physics.angularDrag = 1.0;
    physics.contactDrag = 3.0;
    physics.contactAngularDrag = 7.0;
    physics.add(box({0, 0.5, 0}, {0.5, 0.5, 0.5}));
    physics.add(box({0, 1.5, 0}, {0.5, 0.5, 0.5}));
    physics.connectTouching();
    physics.brokenPairs.insert(pairKey(1, 2));
    physics.sounds.push_back({});
    physics.colliders.push_back({});
    physics.externalImpulses.push_back({});
    physics.gravity = {0, -1, 0};
    physics.time = 42.0;
    physics.motionUntil = 52.0;
    physics.motionStopped = true;
    physics.wakePending = true;
    physics.wakeDeadline = 42.25;
    physics.motionEndedAt = 30.0;
    physics.slideSoundAt = 42.1;
    physics.fractureCount = 3;
    physics.brokenBondCount = 4;
    physics.contactBondCount = 5;
    physics.contactTestCount = 6;

    physics.clear();

    EXPECT_TRUE(physics.pieces.empty());
    EXPECT_TRUE(physics.bonds.empty());
    EXPECT_TRUE(physics.brokenPairs.empty());
    EXPECT_TRUE(physics.assemblies.empty());
    EXPECT_TRUE(physics.sounds.empty());
    EXPECT_TRUE(physics.colliders.empty());
    EXPECT_TRUE(physics.externalImpulses.empty());
    EXPECT_TRUE(physics.cells.empty());
    EXPECT_TRUE(physics.gridEntries.empty());
    EXPECT_TRUE(physics.adjacency.empty());
    EXPECT_EQ(physics.gravity, (Vec3{0, -9.80665, 0}));
    EXPECT_TRUE(physics.topologyDirty);
    EXPECT_FALSE(physics.wakePending);
    EXPECT_FALSE(physics.motionStopped);
    EXPECT_EQ(physics.motionUntil, 10.0);
    EXPECT_EQ(physics.motionEndedAt, -1.0);
    EXPECT_EQ(physics.wakeDeadline, -1.0);
    EXPECT_EQ(physics.time, 0.0);
    EXPECT_EQ(physics.slideSoundAt, 0.0);
    EXPECT_EQ(physics.fractureCount + physics.brokenBondCount + physics.contactBondCount +
                  physics.contactTestCount,
              0u);

    EXPECT_EQ(physics.motionLimit, 5000u);
    EXPECT_EQ(physics.groundLevel, -3.0);
    EXPECT_EQ(physics.linearDrag, 0.5);
    EXPECT_EQ(physics.angularDrag, 1.0);
    EXPECT_EQ(physics.contactDrag, 3.0);
    EXPECT_EQ(physics.contactAngularDrag, 7.0);
    EXPECT_EQ(physics.add(box({0, 0, 0}, {0.5, 0.5, 0.5})), 1u);
}

TEST(Store, ValidateRefusesEachBrokenRecord) {
    Physics base;
    base.add(box({0, 0.5, 0}, {0.5, 0.5, 0.5}));
    base.add(box({0, 1.5, 0}, {0.5, 0.5, 0.5}));
    ASSERT_TRUE(base.addBond(1, 2));
    ASSERT_TRUE(base.validate());

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        std::function<void(Physics&)> spoil;
        bool valid;
    };
    const Case cases[] = {
        {"bond with equal ids", [](Physics& p) { p.bonds[0].b = 1; }, false},
        {"bond with id 0", [](Physics& p) { p.bonds[0].a = 0; }, false},
        {"bond past the last piece", [](Physics& p) { p.bonds[0].b = 3; }, false},
        {"bond of zero area", [](Physics& p) { p.bonds[0].area = 0.0; }, false},
        {"bond of NaN area", [nan](Physics& p) { p.bonds[0].area = nan; }, false},
        {"piece id off its index", [](Physics& p) { p.pieces[1].id = 1; }, false},
        {"centre beyond 1e12 m", [](Physics& p) { p.pieces[0].body.center.x = 2e12; }, false},
        {"centre at 1e11 m", [](Physics& p) { p.pieces[0].body.center.x = 1e11; }, true},
        {"NaN centre", [nan](Physics& p) { p.pieces[0].body.center.y = nan; }, false},
        {"infinite velocity", [inf](Physics& p) { p.pieces[0].body.velocity.z = inf; }, false},
        {"NaN spin", [nan](Physics& p) { p.pieces[1].body.angularVelocity.x = nan; }, false},
        {"quaternion of squared length 1.02",
         [](Physics& p) { p.pieces[0].body.orientation.w = std::sqrt(1.02); }, false},
        {"quaternion of squared length 1.005",
         [](Physics& p) { p.pieces[0].body.orientation.w = std::sqrt(1.005); }, true},
        {"NaN quaternion", [nan](Physics& p) { p.pieces[0].body.orientation.z = nan; }, false},
        {"half extent below 1 mm", [](Physics& p) { p.pieces[0].body.halfExtents.y = 0.0009; }, false},
        {"half extent of 1 mm", [](Physics& p) { p.pieces[0].body.halfExtents.y = 0.001; }, true},
        {"negative half extent", [](Physics& p) { p.pieces[0].body.halfExtents.z = -0.5; }, false},
        {"half extents longer than 1000 m",
         [](Physics& p) {
             p.pieces[0].body.halfExtents = {600, 600, 600};
         },
         false},
        {"infinite half extent", [inf](Physics& p) { p.pieces[0].body.halfExtents.x = inf; }, false},
        {"dead piece with a bond", [](Physics& p) { p.pieces[1].alive = false; }, true},
    };
    for (const Case& c : cases) {
        Physics physics = base;
        c.spoil(physics);
        EXPECT_EQ(physics.validate(), c.valid) << c.what;
    }
}

TEST(Store, CountersReadPiecesAndAssemblies) {
    Physics physics;
    physics.add(box({0, 0, 0}, {0.5, 0.5, 0.5}));
    physics.add(box({5, 0, 0}, {1.0, 0.5, 0.5}));
    physics.add(box({9, 0, 0}, {0.5, 0.5, 0.5}));
    physics.pieces[2].alive = false;
    EXPECT_EQ(physics.aliveCount(), 2u);
    EXPECT_DOUBLE_EQ(physics.totalMass(), 1200.0 + 2400.0);

    physics.assemblies.resize(3);
    physics.assemblies[0].members = {1, 2};
    physics.assemblies[1].members = {3};
    physics.assemblies[1].asleep = true;
    physics.assemblies[2].members = {};
    EXPECT_EQ(physics.awakeCount(), 2u);
    EXPECT_EQ(physics.movingPieceCount(), 2u);
}

TEST(Store, GravityIgnoresVectorsOfNoFiniteLength) {
    Physics physics;
    physics.setGravity({0, -1.62, 0});
    EXPECT_EQ(physics.gravity, (Vec3{0, -1.62, 0}));
    physics.setGravity({std::numeric_limits<double>::quiet_NaN(), 0, 0});
    physics.setGravity({0, std::numeric_limits<double>::infinity(), 0});
    physics.setGravity({1e200, 1e200, 0}); // its length overflows
    EXPECT_EQ(physics.gravity, (Vec3{0, -1.62, 0}));
    physics.setGravity({0, 0, 0});
    EXPECT_EQ(physics.gravity, (Vec3{0, 0, 0}));
}

} // namespace
} // namespace zarn
