#include <gtest/gtest.h>

#include "world/World.hpp"

namespace zarn {
namespace {

constexpr double radius = 0.4;
constexpr double height = 1.8;

MatterPiece box(const Vec3& center, const Vec3& halfExtents, std::int32_t building = -1,
                const Quaternion& orientation = {}) {
    MatterPiece p;
    p.body.center = center;
    p.body.halfExtents = halfExtents;
    p.body.orientation = orientation;
    p.building = building;
    p.anchored = true;
    return p;
}

// A 20 m square floor with its top at y = 0 and a 0.5 m step whose near face stands at x = 2. The step
// is a 20 m x 2 m slab turned a quarter about y, so its faces come from its rotated axes.
class TraceWorld : public ::testing::Test {
  protected:
    void SetUp() override {
        world.physics.clear();
        floorIndex = world.physics.add(box({0.0, -0.5, 0.0}, {10.0, 0.5, 10.0})) - 1;
        const double h = std::sqrt(0.5);
        stepIndex = world.physics.add(box({3.0, 0.25, 0.0}, {10.0, 0.25, 1.0}, 3, {h, 0.0, h, 0.0})) - 1;
        world.physics.rebuildGrid();
    }

    static void expectVec(const Vec3& v, const Vec3& expected, double tolerance = 1e-9) {
        EXPECT_NEAR(v.x, expected.x, tolerance);
        EXPECT_NEAR(v.y, expected.y, tolerance);
        EXPECT_NEAR(v.z, expected.z, tolerance);
    }

    World world;
    std::uint32_t floorIndex = 0;
    std::uint32_t stepIndex = 0;
};

TEST_F(TraceWorld, FallingHullLandsOnTheFloorTop) {
    const HullTrace t = world.traceHull({0.0, 0.01, 0.0}, {0.0, -0.99, 0.0}, radius, height);
    EXPECT_FALSE(t.stuck);
    EXPECT_NEAR(t.fraction, 0.01 - 1e-6, 1e-12);
    expectVec(t.normal, {0.0, 1.0, 0.0});
    expectVec(t.end, {0.0, 0.01 - (0.01 - 1e-6), 0.0}, 1e-12);
    EXPECT_GE(t.end.y, 0.0);
}

TEST_F(TraceWorld, HullStopsAtAStepAndSlidesAlongTheFloor) {
    // Walking along the floor it rests on (parallel to the top face) the hull runs free.
    HullTrace t = world.traceHull({0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, radius, height);
    EXPECT_FALSE(t.stuck);
    EXPECT_EQ(t.fraction, 1.0);
    expectVec(t.normal, {});
    expectVec(t.end, {1.0, 0.0, 0.0}, 0.0);

    // Walking into the step: the hull's side (x + 0.4) meets the step's face at x = 2 after 1.6 m.
    t = world.traceHull({0.0, 0.0, 0.0}, {2.0, 0.0, 0.0}, radius, height);
    EXPECT_FALSE(t.stuck);
    EXPECT_NEAR(t.fraction, 0.8 - 1e-6, 1e-9);
    expectVec(t.normal, {-1.0, 0.0, 0.0});
    expectVec(t.end, {1.6 - 2e-6, 0.0, 0.0});

    // Stepping up: a hull that already stands higher than the step passes over it.
    t = world.traceHull({0.0, 0.5, 0.0}, {4.0, 0.5, 0.0}, radius, height);
    EXPECT_EQ(t.fraction, 1.0);

    // Leaving the step's face it touches is not stopped.
    t = world.traceHull({1.6, 0.0, 0.0}, {0.0, 0.0, 0.0}, radius, height);
    EXPECT_EQ(t.fraction, 1.0);
    EXPECT_FALSE(t.stuck);
}

TEST_F(TraceWorld, DeadMatterDoesNotStopTheHull) {
    world.physics.pieces[stepIndex].alive = false;
    world.physics.rebuildGrid();
    const HullTrace t = world.traceHull({0.0, 0.0, 0.0}, {2.0, 0.0, 0.0}, radius, height);
    EXPECT_EQ(t.fraction, 1.0);
}

TEST_F(TraceWorld, HullInsideMatterIsPushedOutAlongTheShallowestFace) {
    // The foot stands 0.5 m below the step's top: the top face is the shallowest way out.
    HullTrace t = world.traceHull({3.0, 0.0, 0.0}, {3.0, 0.0, 1.0}, radius, height);
    EXPECT_TRUE(t.stuck);
    EXPECT_EQ(t.fraction, 0.0);
    expectVec(t.pushOut, {0.0, 0.501, 0.0});
    expectVec(t.end, {3.0, 0.0, 0.0}, 0.0);

    // A second, deeper box listed after the first: the longer push-out wins whatever the order.
    world.physics.add(box({3.0, 0.5, 0.0}, {1.5, 0.5, 2.0}));
    world.physics.rebuildGrid();
    t = world.traceHull({3.0, 0.0, 0.0}, {3.0, 0.0, 1.0}, radius, height);
    EXPECT_TRUE(t.stuck);
    expectVec(t.pushOut, {0.0, 1.001, 0.0});
    // Made thin (y 0.1 .. 0.3) it frees the hull with a shorter push, which no longer wins.
    world.physics.pieces.back().body.center.y = 0.2;
    world.physics.pieces.back().body.halfExtents.y = 0.1;
    world.physics.rebuildGrid();
    t = world.traceHull({3.0, 0.0, 0.0}, {3.0, 0.0, 1.0}, radius, height);
    expectVec(t.pushOut, {0.0, 0.501, 0.0});
}

TEST_F(TraceWorld, LineTraceReportsDistanceNormalPieceAndBuilding) {
    MatterHit h = world.traceLine({-5.0, 0.25, 0.0}, {1.0, 0.0, 0.0}, 100.0);
    EXPECT_TRUE(h.hit);
    EXPECT_NEAR(h.distance, 7.0, 1e-9);
    expectVec(h.point, {2.0, 0.25, 0.0});
    expectVec(h.normal, {-1.0, 0.0, 0.0});
    EXPECT_EQ(h.piece, static_cast<std::int32_t>(stepIndex));
    EXPECT_EQ(h.building, 3);

    // Straight down onto the floor: matter of no building reports building -1.
    h = world.traceLine({-5.0, 3.0, 0.0}, {0.0, -1.0, 0.0}, 100.0);
    EXPECT_TRUE(h.hit);
    EXPECT_NEAR(h.distance, 3.0, 1e-9);
    expectVec(h.normal, {0.0, 1.0, 0.0});
    EXPECT_EQ(h.piece, static_cast<std::int32_t>(floorIndex));
    EXPECT_EQ(h.building, -1);

    world.physics.pieces[floorIndex].building = buildingTag::testGate;
    h = world.traceLine({-5.0, 3.0, 0.0}, {0.0, -1.0, 0.0}, 100.0);
    EXPECT_EQ(h.building, -1);

    // Too short to reach, or pointing away: the full length and no piece.
    for (const MatterHit& miss : {world.traceLine({-5.0, 3.0, 0.0}, {0.0, -1.0, 0.0}, 2.5),
                                  world.traceLine({-5.0, 3.0, 0.0}, {0.0, 1.0, 0.0}, 50.0)}) {
        EXPECT_FALSE(miss.hit);
        EXPECT_EQ(miss.piece, -1);
        EXPECT_EQ(miss.building, -1);
    }
    EXPECT_EQ(world.traceLine({-5.0, 3.0, 0.0}, {0.0, 1.0, 0.0}, 50.0).distance, 50.0);
}

} // namespace
} // namespace zarn
