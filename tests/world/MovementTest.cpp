#include <algorithm>
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "world/Movement.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

constexpr double dt = 1.0 / 120.0;

// An endless floor at height 0 under +y: the movement rules alone, without matter.
class FlatGround : public IWorldTrace {
  public:
    HullTrace traceHull(const Vec3& from, const Vec3& to, double, double) const override {
        HullTrace t;
        t.end = to;
        if (from.y < -1e-5) {
            t.stuck = true;
            t.fraction = 0.0;
            t.end = from;
            t.pushOut = {0.0, -from.y + 0.001, 0.0};
            return t;
        }
        if (to.y < 0.0 && to.y < from.y) {
            t.fraction = std::max(0.0, from.y / (from.y - to.y) - 1e-6);
            t.normal = {0.0, 1.0, 0.0};
            t.end = from + (to - from) * t.fraction;
        }
        return t;
    }
};

MatterPiece box(const Vec3& center, const Vec3& halfExtents) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = halfExtents;
    piece.anchored = true;
    return piece;
}

// A course of matter in a real world: a floor slab whose top is at 0 and, along +x, a 0.4 m step at
// z = 0, a 0.5 m step at z = 10 and, at z = 20, a beam whose underside is 1.3 m up.
class Course : public World {
  public:
    Course() {
        physics.clear();
        physics.add(box({0.0, -1.0, 0.0}, {40.0, 1.0, 40.0}));
        physics.add(box({10.0, 0.2, 0.0}, {5.0, 0.2, 3.0}));
        physics.add(box({10.0, 0.25, 10.0}, {5.0, 0.25, 3.0}));
        physics.add(box({10.0, 1.55, 20.0}, {3.0, 0.25, 3.0}));
        physics.rebuildGrid();
    }
};

// The same course turned so that up is +x: the floor's top is the plane x = 0.
class SidewaysCourse : public World {
  public:
    SidewaysCourse() {
        physics.clear();
        physics.add(box({-1.0, 0.0, 0.0}, {1.0, 40.0, 40.0}));
        physics.rebuildGrid();
    }
    Vec3 gravityUp() const override { return {1.0, 0.0, 0.0}; }
};

Player standingAt(const Vec3& position) {
    Player p;
    p.position = position;
    return p;
}

void run(Player& player, const MoveCommand& command, const IWorldTrace& trace, int steps,
         const MovementConfig& config = {}) {
    for (int i = 0; i < steps; ++i) {
        simulateCSMove(player, command, trace, dt, config);
    }
}

double horizontalSpeed(const Player& p) {
    return std::hypot(p.velocity.x, p.velocity.z);
}

TEST(MovementTest, GroundFrictionAndWalkingSpeed) {
    const FlatGround ground;
    const MovementConfig config;

    // Standing still stays put, step after step.
    Player still = standingAt({3.0, 0.0, -2.0});
    run(still, {}, ground, 600);
    EXPECT_NEAR(still.position.x, 3.0, 1e-12);
    EXPECT_NEAR(still.position.y, 0.0, 1e-5);
    EXPECT_NEAR(still.position.z, -2.0, 1e-12);
    EXPECT_TRUE(still.onGround);
    EXPECT_EQ(horizontalSpeed(still), 0.0);

    // Below the stop speed friction works with 2.54 m/s: a 1 m/s drift loses 2.54 x 4 / 120 a step.
    Player drift = standingAt({});
    drift.velocity = {1.0, 0.0, 0.0};
    run(drift, {}, ground, 1);
    EXPECT_NEAR(drift.velocity.x, 1.0 - 2.54 * 4.0 / 120.0, 1e-12);
    run(drift, {}, ground, 12);
    EXPECT_EQ(horizontalSpeed(drift), 0.0); // stopped, not reversed

    // Full forward settles at the wish speed exactly, along +z at yaw 0.
    Player walker = standingAt({});
    run(walker, {1.0, 0.0, false, false}, ground, 240);
    EXPECT_NEAR(walker.velocity.z, config.maxSpeed, 1e-9);
    EXPECT_NEAR(walker.velocity.x, 0.0, 1e-12);
    const double z = walker.position.z;
    run(walker, {1.0, 0.0, false, false}, ground, 120);
    EXPECT_NEAR(walker.position.z - z, config.maxSpeed, 1e-6);
    EXPECT_TRUE(walker.onGround);

    // Forward and right together are no faster; at yaw 90 degrees forward is +x and right is -z.
    Player diagonal = standingAt({});
    diagonal.yaw = std::numbers::pi / 2.0;
    run(diagonal, {1.0, 1.0, false, false}, ground, 240);
    EXPECT_NEAR(horizontalSpeed(diagonal), config.maxSpeed, 1e-9);
    EXPECT_NEAR(diagonal.velocity.x, config.maxSpeed / std::sqrt(2.0), 1e-9);
    EXPECT_NEAR(diagonal.velocity.z, -config.maxSpeed / std::sqrt(2.0), 1e-9);

    // Crouch walking tops out at a third of the speed.
    Player crouched = standingAt({});
    run(crouched, {0.0, -1.0, false, true}, ground, 240);
    EXPECT_TRUE(crouched.crouched);
    EXPECT_NEAR(horizontalSpeed(crouched), 6.35 * 0.34, 1e-9);
    EXPECT_LT(crouched.velocity.x, 0.0); // left at yaw 0
    EXPECT_DOUBLE_EQ(crouched.eyeHeight(), 0.94);
}

TEST(MovementTest, JumpReachesItsHeightAndLandsOnce) {
    const FlatGround ground;
    const MovementConfig config;
    Player p = standingAt({});
    // The key is held the whole time: only the press jumps, landing with it held does not bounce.
    const MoveCommand hold{0.0, 0.0, true, false};
    double peak = 0.0;
    int airborneSteps = 0;
    bool landed = false;
    for (int i = 0; i < 240; ++i) {
        simulateCSMove(p, hold, ground, dt, config);
        peak = std::max(peak, p.position.y);
        if (!landed && p.onGround) {
            landed = true;
            airborneSteps = i;
        }
        if (landed) {
            EXPECT_TRUE(p.onGround) << "bounced at step " << i;
        }
    }
    // v² / 2g = 1.0006 m in continuous time; the fixed step loses about half a step of rise.
    EXPECT_GT(peak, 0.97);
    EXPECT_LT(peak, config.jumpSpeed * config.jumpSpeed / (2.0 * config.gravity));
    // Flight time 2v / g = 0.9035 s.
    EXPECT_NEAR(airborneSteps * dt, 2.0 * config.jumpSpeed / config.gravity, 0.03);
    EXPECT_EQ(p.jumpCount, 0);
    EXPECT_FALSE(p.airMode);
    EXPECT_NEAR(p.position.y, 0.0, 1e-5);

    // Air control is capped: a jump with forward held gains at most 0.76 m/s beyond a standing start.
    Player leaper = standingAt({});
    run(leaper, {1.0, 0.0, true, false}, ground, 30);
    EXPECT_FALSE(leaper.onGround);
    EXPECT_LE(horizontalSpeed(leaper), 0.76 + 1e-12);
    EXPECT_GT(horizontalSpeed(leaper), 0.7);
}

TEST(MovementTest, SecondJumpEntersAirModeWhichFliesUntilLanding) {
    const FlatGround ground;
    const MovementConfig config;
    Player p = standingAt({});
    run(p, {0.0, 0.0, true, false}, ground, 1);
    run(p, {}, ground, 10);
    EXPECT_EQ(p.jumpCount, 1);
    EXPECT_FALSE(p.airMode);
    run(p, {0.0, 0.0, true, false}, ground, 1);
    EXPECT_TRUE(p.airMode);
    EXPECT_EQ(p.jumpCount, 2);

    // Holding jump climbs at one gravity; forward thrust has no speed cap.
    const double vy = p.velocity.y;
    run(p, {1.0, 0.0, true, false}, ground, 240);
    EXPECT_NEAR(p.velocity.y - vy, config.gravity * 240 * dt, 1e-9);
    EXPECT_NEAR(p.velocity.z, config.gravity * 240 * dt, 1e-9);
    EXPECT_GT(p.position.y, 20.0);
    EXPECT_TRUE(p.airMode);

    // A third press stays in air mode; letting go falls back to the floor, where air mode ends.
    run(p, {}, ground, 1);
    run(p, {0.0, 0.0, true, false}, ground, 1);
    EXPECT_TRUE(p.airMode);
    EXPECT_EQ(p.jumpCount, 2);
    run(p, {}, ground, 1200);
    EXPECT_TRUE(p.onGround);
    EXPECT_FALSE(p.airMode);
    EXPECT_EQ(p.jumpCount, 0);

    // Walking off an edge leaves the first jump for the air.
    Player faller = standingAt({0.0, 5.0, 0.0});
    faller.onGround = false;
    run(faller, {}, ground, 20);
    ASSERT_LT(faller.velocity.y, -1.0);
    run(faller, {0.0, 0.0, true, false}, ground, 1);
    EXPECT_EQ(faller.jumpCount, 1);
    EXPECT_FALSE(faller.airMode);
    EXPECT_GT(faller.velocity.y, config.jumpSpeed - config.gravity * dt - 1e-9); // the fall is cancelled
}

TEST(MovementTest, StepsUpToTheStepHeightAndNoHigher) {
    const Course course;
    // Walking along +x (yaw 90 degrees) into the 0.4 m step from 2 m before its face.
    Player low = standingAt({3.0, 0.0, 0.0});
    low.yaw = std::numbers::pi / 2.0;
    run(low, {1.0, 0.0, false, false}, course, 120);
    EXPECT_NEAR(low.position.y, 0.4, 1e-4);
    EXPECT_GT(low.position.x, 7.0);
    EXPECT_TRUE(low.onGround);

    // The 0.5 m step stops the player at its face: the hull's half width short of x = 5.
    Player high = standingAt({3.0, 0.0, 10.0});
    high.yaw = std::numbers::pi / 2.0;
    run(high, {1.0, 0.0, false, false}, course, 240);
    EXPECT_NEAR(high.position.y, 0.0, 1e-4);
    EXPECT_NEAR(high.position.x, 5.0 - hullRadius, 1e-3);
    EXPECT_LT(horizontalSpeed(high), 1e-9);

    // The same step with a higher step height is climbed.
    MovementConfig tall;
    tall.stepHeight = 0.55;
    Player climber = standingAt({3.0, 0.0, 10.0});
    climber.yaw = std::numbers::pi / 2.0;
    run(climber, {1.0, 0.0, false, false}, course, 120, tall);
    EXPECT_NEAR(climber.position.y, 0.5, 1e-4);
}

TEST(MovementTest, CrouchLowersTheHullUnderABeam) {
    const Course course;
    // Standing, the 1.3 m clearance under the beam (x 7..13, z 17..23) blocks the 1.8 m hull.
    Player upright = standingAt({3.0, 0.0, 20.0});
    upright.yaw = std::numbers::pi / 2.0;
    run(upright, {1.0, 0.0, false, false}, course, 120);
    EXPECT_NEAR(upright.position.x, 7.0 - hullRadius, 1e-3);

    // Crouched, the 1.05 m hull passes under it.
    Player crawler = standingAt({3.0, 0.0, 20.0});
    crawler.yaw = std::numbers::pi / 2.0;
    run(crawler, {1.0, 0.0, false, true}, course, 360); // 2.159 m/s for 3 s reaches x ≈ 9.5
    EXPECT_GT(crawler.position.x, 8.0);
    EXPECT_LT(crawler.position.x, 12.0);
    EXPECT_NEAR(crawler.position.y, 0.0, 1e-4);

    // Letting go of crouch under the beam keeps the player crouched until there is room.
    run(crawler, {}, course, 10);
    EXPECT_TRUE(crawler.crouched);
    run(crawler, {1.0, 0.0, false, false}, course, 600);
    EXPECT_GT(crawler.position.x, 13.0 + hullRadius);
    EXPECT_FALSE(crawler.crouched);
}

TEST(MovementTest, HullStartingInMatterIsPushedOut) {
    const Course course;
    // Feet 0.1 m inside the floor, moving down: pushed up onto it and the downward speed removed.
    Player p = standingAt({-20.0, -0.1, -20.0});
    p.velocity = {0.0, -3.0, 0.0};
    run(p, {}, course, 1);
    EXPECT_NEAR(p.position.y, 0.0, 2e-3);
    EXPECT_TRUE(p.onGround);
    EXPECT_GE(p.velocity.y, -1e-9);
}

TEST(MovementTest, RulesFollowTheWorldsUpDirection) {
    const SidewaysCourse course;
    const MovementConfig config;
    Player p = standingAt({0.0, 3.0, -4.0});
    run(p, {}, course, 240);
    EXPECT_NEAR(p.position.x, 0.0, 1e-5);
    EXPECT_NEAR(p.position.y, 3.0, 1e-12);
    EXPECT_NEAR(p.position.z, -4.0, 1e-12);
    EXPECT_TRUE(p.onGround);

    // With up +x the heading frame is right = up × z = -y and forward = right × up = +z. Walking
    // keeps the feet on the plane x = 0.
    run(p, {1.0, 0.0, false, false}, course, 240);
    EXPECT_NEAR(p.velocity.z, config.maxSpeed, 1e-9);
    EXPECT_NEAR(p.position.x, 0.0, 1e-5);

    // A jump rises along +x.
    Player jumper = standingAt({0.0, 0.0, 0.0});
    double peak = 0.0;
    for (int i = 0; i < 120; ++i) {
        simulateCSMove(jumper, {0.0, 0.0, true, false}, course, dt, config);
        peak = std::max(peak, jumper.position.x);
    }
    EXPECT_GT(peak, 0.97);
    EXPECT_NEAR(jumper.position.y, 0.0, 1e-12);
    EXPECT_TRUE(jumper.onGround);
}

} // namespace
} // namespace zarn
