#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "physics/Physics.hpp"
#include "physics/StepTestSupport.hpp"

namespace zarn {
namespace {

using steptest::addGround;
using steptest::box;
using steptest::cube;
using steptest::stateHash;

constexpr double frame = 1.0 / 60.0;

// A rifle-like hit: tiny area and duration, so that a few N s reach fracture stress.
Impact bullet(const Vec3& point, const Vec3& impulse, double energy) {
    Impact hit;
    hit.point = point;
    hit.impulse = impulse;
    hit.energy = energy;
    hit.area = 8e-5;
    hit.duration = 4e-5;
    hit.radius = 0.12;
    hit.weapon = true;
    return hit;
}

Vec3 momentum(const Physics& physics) {
    Vec3 sum;
    for (const MatterPiece& piece : physics.pieces)
        if (piece.alive)
            sum += piece.body.velocity * piece.body.mass;
    return sum;
}

// Three 1 m cubes stacked on the ground and bonded.
Physics column() {
    Physics physics;
    addGround(physics);
    for (int n = 0; n < 3; ++n)
        physics.add(cube({0.0, 0.5 + n, 0.0}, 0.5));
    physics.connectTouching();
    return physics;
}

TEST(ImpactThresholds, AWeakHitSplitsNothingButPushesAndReopensTheWindow) {
    Physics physics;
    physics.add(cube({0.0, 5.0, 0.0}, 0.5));
    physics.add(cube({1.0, 5.0, 0.0}, 0.5));
    physics.connectTouching();
    physics.time = 20.0;
    physics.step(frame); // closes the first window
    ASSERT_TRUE(physics.motionStopped);

    Impact hit = bullet({-0.5, 5.0, 0.0}, {100.0, 0.0, 0.0}, 50.0);
    hit.area = 0.01;
    hit.duration = 0.01; // 1e6 Pa, far below what cracks matter
    ASSERT_LT(physics.stressAt(hit, 0.0), 2.5e7);
    physics.impact(1, hit);

    EXPECT_EQ(physics.pieces.size(), 2u);
    EXPECT_EQ(physics.fractureCount, 0u);
    EXPECT_EQ(physics.brokenBondCount, 0u);
    EXPECT_FALSE(physics.motionStopped);
    EXPECT_EQ(physics.motionUntil, physics.time + 10.0);
    EXPECT_FALSE(physics.assemblies[0].asleep);
    EXPECT_NEAR(momentum(physics).x, 100.0, 1e-9);
    ASSERT_EQ(physics.sounds.size(), 1u);
    EXPECT_FALSE(physics.sounds[0].fractured);
    EXPECT_EQ(physics.sounds[0].energy, 50.0);

    const double x = physics.pieces[0].body.center.x;
    physics.step(frame);
    EXPECT_GT(physics.pieces[0].body.center.x, x);
}

TEST(ImpactThresholds, WithNoRoomToMoveNothingSplitsButBondsStillBreak) {
    for (const std::uint64_t limit : {0ull, 256ull}) {
        Physics physics = column();
        physics.motionLimit = limit;
        physics.impact(3, bullet({0.5, 1.5, 0.0}, {-10.0, 0.0, 0.0}, 500.0));
        EXPECT_GT(physics.brokenBondCount, 0u) << limit;
        if (limit == 0) {
            EXPECT_EQ(physics.fractureCount, 0u);
            EXPECT_EQ(physics.pieces.size(), 4u);
        } else {
            EXPECT_GT(physics.fractureCount, 0u);
            EXPECT_TRUE(physics.validate());
        }
    }
}

TEST(ImpactThresholds, TheMotionLimitBoundsTheSplitsOfOneHit) {
    // 200 pieces moving (the struck one among them) leave room for (256 - 200) / 2 = 28 splits;
    // 255 leave none.
    for (const std::uint64_t moving : {200u, 255u}) {
        Physics physics;
        for (std::uint64_t n = 0; n + 1 < moving; ++n)
            physics.add(cube({100.0 + 3.0 * static_cast<double>(n), 50.0, 0.0}, 0.5));
        const std::uint32_t target = physics.add(cube({0.0, 5.0, 0.0}, 0.5));
        physics.refreshTopology();
        physics.impact(target, bullet({0.5, 5.0, 0.0}, {-40.0, 0.0, 0.0}, 1e6));
        EXPECT_EQ(physics.fractureCount, moving == 200u ? 28u : 0u) << moving;
    }
}

TEST(ImpactThresholds, ASmallCubeNeverSplits) {
    Physics physics;
    physics.add(cube({0.0, 5.0, 0.0}, 0.04));
    physics.refreshTopology();
    physics.impact(1, bullet({0.04, 5.0, 0.0}, {-50.0, 0.0, 0.0}, 1e6));
    EXPECT_EQ(physics.fractureCount, 0u);
    EXPECT_EQ(physics.pieces.size(), 1u);
    EXPECT_NEAR(momentum(physics).x, -50.0, 1e-9); // still pushed
}

TEST(ImpactWindow, AContactImpactAfterTheWindowDoesNothing) {
    Physics physics;
    physics.add(cube({0.0, 5.0, 0.0}, 0.5));
    physics.refreshTopology();
    Impact hit = bullet({0.5, 5.0, 0.0}, {-10.0, 0.0, 0.0}, 2.0); // budget for one cut
    hit.weapon = false;

    physics.time = 20.0;
    const std::uint64_t before = stateHash(physics);
    physics.impact(1, hit);
    EXPECT_EQ(stateHash(physics), before);

    // Inside the window the same hit cracks the cube, but only a weapon pushes.
    physics.time = 5.0;
    physics.impact(1, hit);
    EXPECT_EQ(physics.fractureCount, 1u);
    EXPECT_NEAR(length(momentum(physics)), 0.0, 1e-12);
    EXPECT_EQ(physics.motionUntil, 10.0);
}

TEST(ImpactSplit, AHitNearTheEndOfABeamCutsItAwayFromTheEnd) {
    Physics physics;
    physics.add(box({0.0, 5.0, 0.0}, {2.0, 0.25, 0.25}));
    physics.refreshTopology();
    physics.time = 1.0;
    // Budget for one cut across x (1.5 * 4 * 0.25 * 0.25 = 0.375 J).
    physics.impact(1, bullet({1.99, 5.25, 0.0}, {0.0, -10.0, 0.0}, 0.5));

    ASSERT_EQ(physics.pieces.size(), 3u);
    EXPECT_FALSE(physics.pieces[0].alive);
    EXPECT_EQ(physics.fractureCount, 1u);
    const MatterPiece& left = physics.pieces[1];
    const MatterPiece& right = physics.pieces[2];
    EXPECT_DOUBLE_EQ(left.body.halfExtents.x, 1.65); // cut at 0.65 h = 1.3
    EXPECT_DOUBLE_EQ(left.body.center.x, -0.35);
    EXPECT_DOUBLE_EQ(right.body.halfExtents.x, 0.35);
    EXPECT_DOUBLE_EQ(right.body.center.x, 1.65);
    EXPECT_EQ(right.body.halfExtents.y, 0.25);
    for (const MatterPiece* child : {&left, &right}) {
        EXPECT_TRUE(child->alive);
        EXPECT_EQ(child->generation, 1u);
        EXPECT_EQ(child->bondableAt, 1.6);
        const Vec3& h = child->body.halfExtents;
        EXPECT_DOUBLE_EQ(child->body.mass, 8.0 * h.x * h.y * h.z * 1200.0);
    }
    EXPECT_NEAR(left.body.mass + right.body.mass, 1200.0, 1e-9);
    EXPECT_TRUE(physics.validate());
}

TEST(ImpactSplit, OnlyAChildThatReachesTheGroundStaysAnchored) {
    for (const bool ownGround : {true, false}) {
        Physics physics;
        MatterPiece post = box({0.0, 1.5, 0.0}, {0.25, 1.5, 0.25}, true);
        if (ownGround)
            post.groundLevel = 0.0; // otherwise the world's -8 m applies
        physics.add(post);
        physics.refreshTopology();
        physics.impact(1, bullet({0.25, 1.2, 0.0}, {-10.0, 0.0, 0.0}, 0.5));
        ASSERT_EQ(physics.pieces.size(), 3u);
        const MatterPiece& lower = physics.pieces[1];
        EXPECT_DOUBLE_EQ(lower.body.halfExtents.y, 0.6); // cut at the hit, 0.3 m below the centre
        EXPECT_EQ(lower.anchored, ownGround);
        EXPECT_FALSE(physics.pieces[2].anchored);
    }
}

TEST(ImpactSplit, AStruckLoosePieceThatBreaksIsPushedAndHeard) {
    Physics physics;
    physics.add(cube({0.0, 5.0, 0.0}, 0.5));
    physics.refreshTopology();
    physics.impact(1, bullet({0.5, 5.0, 0.0}, {-10.0, 0.0, 0.0}, 2.0));

    EXPECT_EQ(physics.fractureCount, 1u);
    EXPECT_EQ(physics.aliveCount(), 2u);
    // The halves share the whole push between them.
    const Vec3 p = momentum(physics);
    EXPECT_NEAR(p.x, -10.0, 1e-9);
    EXPECT_NEAR(p.y, 0.0, 1e-9);
    EXPECT_GT(physics.movingPieceCount(), 0u);
    ASSERT_EQ(physics.sounds.size(), 1u);
    EXPECT_TRUE(physics.sounds[0].fractured);
    EXPECT_EQ(physics.sounds[0].position, (Vec3{0.5, 5.0, 0.0}));
}

// A wall of 5 x 5 half-metre cubes standing on the ground, bonded; cube id 2 + 5x + y.
Physics wall() {
    Physics physics;
    addGround(physics);
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 5; ++y)
            physics.add(cube({-1.0 + 0.5 * x, 0.25 + 0.5 * y, 0.0}, 0.25));
    physics.connectTouching();
    return physics;
}

TEST(ImpactSplit, AHardHitOnAWallThrowsFragmentsOutOfTheStruckFace) {
    Physics physics = wall();
    const std::uint32_t struck = 1 + 2 * 5 + 3 + 1; // middle column, fourth row
    const Vec3 face{0.0, 1.75, 0.25};
    physics.impact(struck, bullet(face, {0.0, 0.0, -4.0}, 40.0));

    ASSERT_GT(physics.fractureCount, 0u);
    int thrown = 0;
    for (const MatterPiece& piece : physics.pieces)
        if (piece.alive && !piece.supported && piece.body.velocity.z > 0.0)
            ++thrown;
    EXPECT_GT(thrown, 0);
    EXPECT_TRUE(physics.validate());
}

// A block of tons landing on the wall at 5 m/s: the budget of its impact is that of all its mass,
// yet the chips it breaks off fly no faster than it struck.
TEST(ImpactSplit, AHeavyCollisionThrowsItsChipsNoFasterThanItStruck) {
    Physics physics = wall();
    Impact landing;
    landing.point = {0.0, 2.5, 0.0};
    landing.impulse = {0.0, -2e5, 0.0};
    landing.energy = 0.5 * 2e5 * 5.0;
    landing.area = 0.0625;
    landing.duration = frame;
    landing.radius = 0.3;
    landing.weapon = false;
    physics.impact(1 + 2 * 5 + 4 + 1, landing);

    ASSERT_GT(physics.fractureCount, 0u);
    double fastest = 0.0;
    for (const MatterPiece& piece : physics.pieces)
        if (piece.alive && !piece.supported)
            fastest = std::max(fastest, length(piece.body.velocity));
    EXPECT_GT(fastest, 1.0);
    EXPECT_LE(fastest, 5.0 * (1.0 + 1e-12));
}

TEST(ImpactBlast, ABlastWithoutReachOrEnergyDoesNothing) {
    Physics physics = column();
    const std::uint64_t before = stateHash(physics);
    physics.blast({0.0, 1.0, 0.6}, 1e5, 0.0);
    physics.blast({0.0, 1.0, 0.6}, 0.0, 5.0);
    physics.blast({0.0, 1.0, 0.6}, 1e5, -1.0);
    EXPECT_EQ(stateHash(physics), before);
}

TEST(ImpactBlast, HitsAndPushesThatAreNotNumbersChangeNothing) {
    Physics physics = column();
    physics.add(cube({5.0, 5.0, 0.0}, 0.5));
    physics.refreshTopology();
    const std::uint64_t before = stateHash(physics);
    const double nan = std::nan("");
    physics.blast({nan, 1.0, 0.6}, 1e5, 5.0);
    physics.blast({0.0, 1.0, 0.6}, nan, 5.0);
    physics.blast({0.0, 1.0, 0.6}, 1e5, std::numeric_limits<double>::infinity());
    Impact hit = bullet({0.5, 1.5, 0.0}, {-10.0, 0.0, 0.0}, 500.0);
    hit.impulse.x = nan;
    physics.impact(3, hit);
    hit = bullet({0.5, 1.5, 0.0}, {-10.0, 0.0, 0.0}, nan);
    physics.impact(3, hit);
    physics.contactImpulse(5, {nan, 0.0, 0.0}, {5.0, 5.0, 0.0});
    physics.contactImpulse(5, {1.0, 0.0, 0.0}, {5.0, nan, 0.0});
    physics.applyAssemblyImpulse(0, {nan, 0.0, 0.0}, {5.0, 5.0, 0.0}, true);
    EXPECT_EQ(stateHash(physics), before);
}

TEST(ImpactBlast, HeavyPiecesTakeTheBlastAsIfTheyWeighed240Kilograms) {
    struct Case {
        Vec3 half;
        double energy;
        double effectiveMass; // 0: twice the piece's own
    };
    for (const Case& c :
         {Case{{0.5, 0.5, 1000.0 / 2400.0}, 100.0, 240.0}, Case{{0.2, 0.2, 0.2}, 10.0, 0.0}}) {
        Physics physics;
        physics.add(box({0.0, 5.0, 0.0}, c.half));
        physics.refreshTopology();
        const double mass = physics.pieces[0].body.mass;
        const double effective = c.effectiveMass > 0.0 ? c.effectiveMass : 2.0 * mass;
        physics.blast({0.0, 5.0, -3.0}, c.energy, 5.0);
        EXPECT_EQ(physics.fractureCount, 0u);
        const Vec3 p = momentum(physics);
        EXPECT_NEAR(p.z, std::sqrt(effective * c.energy), 1e-9) << mass;
        EXPECT_NEAR(p.x, 0.0, 1e-9);
        EXPECT_FALSE(physics.motionStopped);
    }
}

TEST(ImpactBlast, ABlastSharesItsEnergyByDistanceAndSkipsTheDead) {
    Physics physics;
    physics.add(cube({0.0, 5.0, 0.0}, 0.2));
    physics.add(cube({2.0, 5.0, 0.0}, 0.2));
    MatterPiece dead = cube({0.0, 5.0, 1.0}, 0.2);
    dead.alive = false;
    physics.add(dead);
    physics.refreshTopology();
    physics.blast({-1.0, 5.0, 0.0}, 10.0, 10.0);
    // Weights 1 / (d + 1)^2 at box distances 0.8 and 2.8; the dead piece takes no share.
    const double near = 1.0 / (1.8 * 1.8);
    const double far = 1.0 / (3.8 * 3.8);
    const double mass = physics.pieces[0].body.mass;
    const double expectedNear = std::sqrt(2.0 * mass * 10.0 * near / (near + far));
    EXPECT_NEAR(physics.pieces[0].body.velocity.x * mass, expectedNear, 1e-9);
    EXPECT_GT(physics.pieces[1].body.velocity.x, 0.0);
    EXPECT_EQ(physics.pieces[2].body.velocity, Vec3{});
}

// Two storeys of columns and slabs on the ground.
Physics smallBuilding() {
    Physics physics;
    addGround(physics);
    for (int storey = 0; storey < 2; ++storey) {
        const double base = storey * 2.5;
        for (int x = 0; x < 2; ++x)
            for (int z = 0; z < 2; ++z)
                for (int n = 0; n < 2; ++n)
                    physics.add(cube({-1.5 + 3.0 * x, base + 0.5 + n, -1.5 + 3.0 * z}, 0.5));
        for (int x = 0; x < 4; ++x)
            for (int z = 0; z < 4; ++z)
                physics.add(box({-1.5 + x, base + 2.25, -1.5 + z}, {0.5, 0.25, 0.5}));
    }
    physics.connectTouching();
    return physics;
}

std::vector<std::uint64_t> demolish(bool plainWalks) {
    Physics physics = smallBuilding();
    physics.stepScratch.plainWalks = plainWalks;
    std::vector<std::uint64_t> hashes;
    physics.impact(2, bullet({-1.0, 0.5, -1.5}, {-12.0, 0.0, 0.0}, 300.0));
    hashes.push_back(stateHash(physics));
    for (int n = 0; n < 40; ++n)
        physics.step(frame);
    hashes.push_back(stateHash(physics));
    physics.blast({-1.5, 1.0, -2.5}, 60000.0, 5.0);
    hashes.push_back(stateHash(physics));
    for (int n = 0; n < 90; ++n)
        physics.step(frame);
    if (physics.pieces.size() > 40)
        physics.contactImpulse(static_cast<std::uint32_t>(physics.pieces.size()), {50.0, 0.0, 0.0},
                               physics.pieces.back().body.center);
    for (int n = 0; n < 30; ++n)
        physics.step(frame);
    hashes.push_back(stateHash(physics));
    EXPECT_GT(physics.fractureCount, 5u);
    EXPECT_GT(physics.brokenBondCount, 5u);
    EXPECT_TRUE(physics.validate());
    return hashes;
}

TEST(ImpactDeterminism, TheSameHitsOnTheSameWorldGiveTheSameWorld) {
    const auto first = demolish(false);
    const auto second = demolish(false);
    EXPECT_EQ(first, second);
    // The plain walks over every bond and every listed piece give the same world.
    EXPECT_EQ(demolish(true), first);
}

} // namespace
} // namespace zarn
