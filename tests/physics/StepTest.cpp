#include <gtest/gtest.h>

#include <cmath>

#include "physics/Physics.hpp"
#include "physics/StepTestSupport.hpp"

namespace zarn {
namespace {

using steptest::addGround;
using steptest::box;
using steptest::cube;
using steptest::stateHash;

constexpr double frame = 1.0 / 60.0;

// A free-floating 1 m cube: one awake assembly.
Physics floatingCube(double height = 5.0) {
    Physics physics;
    physics.add(cube({0.0, height, 0.0}, 0.5));
    physics.refreshTopology();
    return physics;
}

TEST(StepWindow, AStepThatOutrunsTheWindowMovesOnlyUntilItClosesThenFreezes) {
    Physics late = floatingCube();
    late.time = 9.9;
    late.refreshTopology();
    Physics exact = late;

    late.step(0.25);
    exact.step(0.1);

    // Only the 0.1 s left of the window was integrated, but the clock took the whole step.
    EXPECT_EQ(late.time, 9.9 + 0.25);
    EXPECT_EQ(late.pieces[0].body.center, exact.pieces[0].body.center);
    EXPECT_NEAR(5.0 - late.pieces[0].body.center.y, 0.5 * 9.80665 * 0.01, 2e-4);
    EXPECT_TRUE(late.motionStopped);
    EXPECT_FALSE(late.wakePending);
    EXPECT_EQ(late.motionEndedAt, 10.0);
    EXPECT_TRUE(late.pieces[0].asleep);
    EXPECT_TRUE(late.assemblies[0].asleep);
    EXPECT_EQ(late.pieces[0].body.velocity, Vec3{});
    EXPECT_EQ(late.movingPieceCount(), 0u);

    // Closed, the world stays put however long the steps are.
    const Vec3 frozen = late.pieces[0].body.center;
    late.step(5.0);
    EXPECT_EQ(late.pieces[0].body.center, frozen);
    EXPECT_EQ(late.time, 9.9 + 0.25 + 5.0);
}

TEST(StepWindow, WithNothingAwakeAStepOnlyAdvancesTheClock) {
    // Supported matter and a sleeping loose cube, inside the open window.
    Physics physics;
    addGround(physics);
    physics.add(cube({0.0, 0.5, 0.0}, 0.5));
    MatterPiece sleeper = cube({4.0, 3.0, 0.0}, 0.5);
    sleeper.asleep = true;
    physics.add(sleeper);
    physics.connectTouching();
    ASSERT_EQ(physics.awakeCount(), 0u);
    ASSERT_EQ(physics.assemblies.size(), 1u);

    Physics expected = physics;
    physics.step(frame);
    expected.time = physics.time;
    EXPECT_EQ(physics.time, frame);
    EXPECT_EQ(stateHash(physics), stateHash(expected));

    // Not finite or not positive: nothing at all, the clock included.
    physics.step(0.0);
    physics.step(-1.0);
    physics.step(std::nan(""));
    EXPECT_EQ(stateHash(physics), stateHash(expected));
}

struct Drop {
    Physics physics;
    std::uint32_t id = 0;
};

Drop dropCube(double bondableAt) {
    Drop drop;
    addGround(drop.physics);
    MatterPiece piece = cube({0.0, 1.5, 0.0}, 0.5); // 1 m above the ground
    piece.bondableAt = bondableAt;
    drop.id = drop.physics.add(piece);
    drop.physics.connectTouching();
    return drop;
}

TEST(StepContact, ADroppedCubeBouncesWithRestitutionThenBondsWhereItRests) {
    Drop drop = dropCube(0.0);
    Physics& physics = drop.physics;
    const double k = physics.linearDrag;
    const double e = std::exp(-k * frame);
    const double a = -std::expm1(-k * frame) / k;

    bool bounced = false;
    for (int n = 0; n < 120 && !bounced; ++n) {
        const double before = physics.pieces[drop.id - 1].body.velocity.y;
        physics.step(frame);
        const double after = physics.pieces[drop.id - 1].body.velocity.y;
        if (before < 0.0 && after > 0.0) {
            // The speed it reached in this step, of which 8% comes back.
            const double incoming = before * e + physics.gravity.y * a;
            EXPECT_NEAR(after, -0.08 * incoming, 1e-9);
            EXPECT_GT(-incoming, 4.0);
            ASSERT_FALSE(physics.sounds.empty());
            EXPECT_EQ(physics.sounds[0].kind, 0);
            bounced = true;
        }
    }
    ASSERT_TRUE(bounced);

    for (int n = 0; n < 120 && physics.pieces[drop.id - 1].assembly >= 0; ++n)
        physics.step(frame);
    const MatterPiece& rested = physics.pieces[drop.id - 1];
    EXPECT_TRUE(rested.supported);
    EXPECT_EQ(rested.assembly, -1);
    EXPECT_EQ(rested.body.velocity, Vec3{}); // kept, it would come back the day the bond broke
    EXPECT_EQ(physics.contactBondCount, 1u);
    ASSERT_EQ(physics.bonds.size(), 1u);
    EXPECT_NEAR(physics.bonds[0].area, 1.0, 0.05);
    EXPECT_NEAR(rested.body.center.y, 0.5, 0.01);
}

// Fragments fired at a 1 m slab at up to 400 m/s move metres in a step, further than they are thick:
// each stops on the slab or bounces off it, and never comes out underneath.
TEST(StepContact, FastFragmentsStopOnASlabInsteadOfPassingThrough) {
    struct Shot {
        Vec3 half;
        Vec3 velocity;
        double height; // of the fragment's centre; the slab's top is at 0
    };
    const Shot shots[] = {
        {{0.05, 0.05, 0.05}, {0.0, -160.0, 0.0}, 1.5},     {{0.1, 0.02, 0.06}, {40.0, -250.0, -30.0}, 1.5},
        {{0.04, 0.04, 0.08}, {-150.0, -370.0, 20.0}, 1.5}, {{0.03, 0.03, 0.03}, {0.0, -400.0, 0.0}, 1.5},
        {{0.05, 0.05, 0.05}, {10.0, -300.0, 0.0}, 0.048}, // lying on the slab, shot into it
    };
    for (const Shot& shot : shots) {
        Physics physics;
        physics.add(box({0.0, -0.5, 0.0}, {100.0, 0.5, 100.0}, true));
        MatterPiece fragment = box({0.0, shot.height, 0.0}, shot.half);
        fragment.body.velocity = shot.velocity;
        fragment.body.angularVelocity = {3.0, -20.0, 7.0};
        fragment.bondableAt = 1e9;
        const std::uint32_t id = physics.add(fragment);
        physics.refreshTopology();
        double lowest = 1e30;
        for (int n = 0; n < 45; ++n) {
            physics.step(frame);
            lowest = std::min(lowest, physics.pieces[id - 1].body.center.y);
        }
        const MatterPiece& after = physics.pieces[id - 1];
        EXPECT_GT(lowest, -0.05) << shot.velocity.y;
        EXPECT_GT(after.body.center.y, 0.0) << shot.velocity.y;
        EXPECT_LT(std::max(std::abs(after.body.center.x), std::abs(after.body.center.z)), 100.0);
        EXPECT_TRUE(physics.validate());
    }
}

TEST(StepContact, ACubeThatMayNotBondFallsAsleepAfterRestingOneSecond) {
    Drop drop = dropCube(1e9);
    Physics& physics = drop.physics;
    double restingSince = -1.0;
    double asleepAt = -1.0;
    for (int n = 0; n < 600 && asleepAt < 0.0; ++n) {
        physics.step(frame);
        const MatterPiece& piece = physics.pieces[drop.id - 1];
        if (piece.asleep)
            asleepAt = physics.time;
        else if (length(piece.body.velocity) < 0.08 && length(piece.body.angularVelocity) < 0.04)
            restingSince = restingSince < 0.0 ? physics.time - frame : restingSince;
        else
            restingSince = -1.0;
    }
    ASSERT_GT(asleepAt, 0.0);
    ASSERT_GT(restingSince, 0.0);
    EXPECT_GT(asleepAt - restingSince, 1.0 - 1e-9);
    EXPECT_LT(asleepAt - restingSince, 1.0 + 2.5 * frame);
    EXPECT_EQ(physics.contactBondCount, 0u);
    EXPECT_FALSE(physics.pieces[drop.id - 1].supported);
    EXPECT_TRUE(physics.assemblies[0].asleep);
    EXPECT_NEAR(physics.pieces[drop.id - 1].body.center.y, 0.5, 0.01);

    // Asleep, it stays exactly where it is for the rest of the window.
    const Vec3 rest = physics.pieces[drop.id - 1].body.center;
    for (int n = 0; n < 30; ++n)
        physics.step(frame);
    EXPECT_EQ(physics.pieces[drop.id - 1].body.center, rest);
}

TEST(StepContact, RestingPiecesFormAtMostSixteenBondsPerStep) {
    Physics physics;
    addGround(physics);
    for (int n = 0; n < 20; ++n)
        physics.add(cube({-9.0 + n * 0.9, 0.25, 0.0}, 0.25)); // on the ground, 0.4 m apart
    physics.refreshTopology();
    physics.time = 1.0;
    ASSERT_EQ(physics.awakeCount(), 20u);

    physics.step(frame);
    EXPECT_EQ(physics.contactBondCount, 16u);
    physics.step(frame);
    EXPECT_EQ(physics.contactBondCount, 20u);
    EXPECT_EQ(physics.assemblies.size(), 0u);
}

TEST(StepSounds, TheQueueHoldsTwelveSoundsAndDropsTheRest) {
    Physics physics;
    MatterPiece metre = cube({}, 0.5);
    metre.body.mass = 1200.0;
    physics.emitSound(metre, {1.0, 2.0, 3.0}, 0.09, false, 0.0); // too quiet
    EXPECT_TRUE(physics.sounds.empty());
    for (int n = 0; n < 13; ++n)
        physics.emitSound(metre, {1.0, 2.0, 3.0}, 10.0, n == 0, n == 1 ? 7.0 : 0.0);
    ASSERT_EQ(physics.sounds.size(), 12u);
    const CollisionSound& first = physics.sounds[0];
    EXPECT_DOUBLE_EQ(first.pitch, 1200.0);
    EXPECT_DOUBLE_EQ(first.duration, 0.25);
    EXPECT_DOUBLE_EQ(first.impulse, std::sqrt(2.0 * 1200.0 * 10.0));
    EXPECT_TRUE(first.fractured);
    EXPECT_DOUBLE_EQ(physics.sounds[1].impulse, 7.0);

    physics.sounds.clear();
    physics.emitSound(cube({}, 0.1), {}, 1.0, false, 0.0);
    physics.emitSound(cube({}, 5.0), {}, 1.0, false, 0.0);
    physics.emitSound(cube({}, 50.0), {}, 1.0, false, 0.0);
    EXPECT_DOUBLE_EQ(physics.sounds[0].pitch, 3200.0);
    EXPECT_DOUBLE_EQ(physics.sounds[0].duration, 0.2);
    EXPECT_DOUBLE_EQ(physics.sounds[1].pitch, 120.0);
    EXPECT_DOUBLE_EQ(physics.sounds[2].pitch, 35.0);
    EXPECT_DOUBLE_EQ(physics.sounds[2].duration, 1.8);
}

TEST(StepSounds, FourteenCubesLandingTogetherMakeTwelveSounds) {
    Physics physics;
    addGround(physics);
    for (int x = 0; x < 4; ++x)
        for (int z = 0; z < 4; ++z)
            if (x * 4 + z < 14)
                physics.add(cube({-6.0 + 4.0 * x, 1.5, -6.0 + 4.0 * z}, 0.5));
    physics.refreshTopology();
    std::size_t loudest = 0;
    for (int n = 0; n < 60; ++n) {
        physics.step(frame);
        loudest = std::max(loudest, physics.sounds.size());
        for (const CollisionSound& sound : physics.sounds)
            EXPECT_EQ(sound.kind, 0);
    }
    EXPECT_EQ(loudest, 12u);
}

// A cube resting on the ground that may not bond, in a world whose long window has closed.
struct Resting {
    Physics physics;
    std::uint32_t ground = 0;
    std::uint32_t id = 0;
};

Resting restingAfterTheWindow() {
    Resting world;
    world.ground = addGround(world.physics);
    MatterPiece piece = cube({0.0, 0.5, 0.0}, 0.5);
    piece.bondableAt = 1e9;
    world.id = world.physics.add(piece);
    world.physics.refreshTopology();
    world.physics.time = 20.0;
    world.physics.step(frame);
    return world;
}

TEST(StepWindow, AContactImpulseOpensAQuarterSecondWakeWindow) {
    Resting world = restingAfterTheWindow();
    Physics& physics = world.physics;
    ASSERT_TRUE(physics.motionStopped);
    const Vec3 start = physics.pieces[world.id - 1].body.center;

    // Ignored: no piece, a push too small to matter, and the supported ground.
    Physics untouched = physics;
    physics.contactImpulse(0, {1000.0, 0.0, 0.0}, start);
    physics.contactImpulse(99, {1000.0, 0.0, 0.0}, start);
    physics.contactImpulse(world.id, {1e-9, 0.0, 0.0}, start);
    physics.contactImpulse(world.ground, {1000.0, 0.0, 0.0}, {0.0, 0.0, 0.0});
    EXPECT_EQ(stateHash(physics), stateHash(untouched));

    physics.contactImpulse(world.id, {2400.0, 0.0, 0.0}, start); // 2 m/s sideways through the centre
    const double opened = physics.time;
    EXPECT_TRUE(physics.wakePending);
    EXPECT_EQ(physics.wakeDeadline, opened + 0.25);
    EXPECT_FALSE(physics.pieces[world.id - 1].asleep);
    EXPECT_NEAR(physics.pieces[world.id - 1].body.velocity.x, 2.0, 1e-12);

    int moving = 0;
    while (physics.time < opened + 0.5) {
        const Vec3 before = physics.pieces[world.id - 1].body.center;
        physics.step(frame);
        if (!(physics.pieces[world.id - 1].body.center == before)) {
            ++moving;
            EXPECT_LE(physics.time, opened + 0.25 + frame);
        }
    }
    EXPECT_GE(moving, 14);
    EXPECT_LE(moving, 16);
    EXPECT_GT(physics.pieces[world.id - 1].body.center.x, start.x + 0.05);
    EXPECT_TRUE(physics.motionStopped);
    EXPECT_FALSE(physics.wakePending);
    EXPECT_TRUE(physics.pieces[world.id - 1].asleep);
}

TEST(StepWindow, AWeaponImpactRestartsTheLongWindowAndSleepsWhatWasLeftMoving) {
    Physics physics = floatingCube();
    physics.time = 12.0; // past the first window, not yet closed by a step
    physics.beginWeaponImpact();
    EXPECT_EQ(physics.motionEndedAt, 10.0);
    EXPECT_TRUE(physics.pieces[0].asleep);
    EXPECT_FALSE(physics.motionStopped);
    EXPECT_EQ(physics.motionUntil, 22.0);

    // Inside the window a restart only moves its end.
    physics.time = 15.0;
    physics.pieces[0].asleep = false;
    physics.beginWeaponImpact();
    EXPECT_FALSE(physics.pieces[0].asleep);
    EXPECT_EQ(physics.motionUntil, 25.0);
    EXPECT_EQ(physics.motionEndedAt, 10.0);
}

// A small cube falling at 6 m/s just above an organism body.
Physics cubeOverCollider(double colliderMass) {
    Physics physics;
    MatterPiece piece = cube({0.0, 0.5, 0.0}, 0.05);
    piece.body.velocity = {0.0, -6.0, 0.0};
    physics.add(piece);
    physics.refreshTopology();
    ExternalCollider body;
    body.id = 77;
    body.body.center = {0.0, 0.3, 0.0};
    body.body.halfExtents = {0.1, 0.1, 0.1};
    body.body.mass = colliderMass;
    physics.colliders.push_back(body);
    return physics;
}

TEST(StepColliders, ALightOrganismCountsAsOneKilogramInThePush) {
    for (const double mass : {0.5, 1.0, 4.0}) {
        Physics physics = cubeOverCollider(mass);
        const double m = physics.pieces[0].body.mass;
        physics.step(frame);
        ASSERT_EQ(physics.externalImpulses.size(), 1u) << mass;
        const ExternalImpulse& push = physics.externalImpulses[0];
        EXPECT_EQ(push.id, 77u);
        EXPECT_GT(push.closingSpeed, 6.0);
        const double inverse = mass > 1.0 ? 1.0 / mass : 1.0;
        const double j = push.closingSpeed / (1.0 / m + inverse);
        EXPECT_NEAR(push.impulse.y, -j, 1e-9 * j) << mass;
        EXPECT_NEAR(push.impulse.x, 0.0, 1e-12);
        // The cube stopped on top of the body, not inside it.
        EXPECT_GE(physics.pieces[0].body.center.y - 0.05, 0.4);

        // The next step starts with an empty list again.
        physics.colliders.clear();
        physics.step(frame);
        EXPECT_TRUE(physics.externalImpulses.empty());
    }
}

// Three storeys of columns and slabs astride the x = 32 m and z = 0 lines of the 32 m grid, with
// loose cubes asleep on the ground beside them, and a bonded pair of cubes asleep in the air further
// off that a fast cube is about to hit (a contact that wakes an assembly in the middle of a pass);
// moved east by whole 32 m cells, it stands in other cells.
Physics buildingOnCellLines(double east = 0.0) {
    Physics physics;
    MatterPiece ground = box({east + 32.0, -0.5, 0.0}, {12.0, 0.5, 12.0}, true);
    ground.groundLevel = -1.0; // its pieces stay anchored when a blast breaks it
    physics.add(ground);
    for (int storey = 0; storey < 3; ++storey) {
        const double base = storey * 2.5;
        for (int x = 0; x < 3; ++x)
            for (int z = 0; z < 3; ++z)
                for (int n = 0; n < 2; ++n)
                    physics.add(cube({east + 29.0 + 3.0 * x, base + 0.5 + n, -3.0 + 3.0 * z}, 0.5));
        for (int x = 0; x < 7; ++x)
            for (int z = 0; z < 7; ++z)
                physics.add(box({east + 29.0 + x, base + 2.25, -3.0 + z}, {0.5, 0.25, 0.5}));
    }
    physics.connectTouching();
    for (int n = 0; n < 6; ++n) {
        MatterPiece loose = cube({east + 27.0 + 2.0 * n, 0.25, 4.5}, 0.25);
        loose.asleep = true;
        loose.bondableAt = 1e9;
        physics.add(loose);
    }
    std::uint32_t pair[2];
    for (int n = 0; n < 2; ++n) {
        MatterPiece half = cube({east + 41.0 + 0.5 * n, 3.0, 0.5}, 0.25);
        half.asleep = true;
        half.bondableAt = 1e9;
        pair[n] = physics.add(half);
    }
    physics.addBond(pair[0], pair[1]);
    MatterPiece thrown = cube({east + 38.0, 3.2, 0.5}, 0.25);
    thrown.body.velocity = {9.0, 0.0, 0.0};
    thrown.bondableAt = 1e9;
    physics.add(thrown);
    physics.refreshTopology();
    return physics;
}

TEST(StepBroadPhase, FindsEveryContactAndCountsEveryTestOfThePlainWalk) {
    Physics fast = buildingOnCellLines();
    fast.blast({30.5, 1.0, -1.5}, 250000.0, 6.0);
    Physics plain = fast;
    plain.stepScratch.plainWalks = true;
    std::uint64_t tests = 0;
    for (int n = 0; n < 150; ++n) {
        fast.step(frame);
        plain.step(frame);
        ASSERT_EQ(fast.contactTestCount, plain.contactTestCount) << n;
        ASSERT_EQ(stateHash(fast), stateHash(plain)) << n;
        tests += fast.contactTestCount;
    }
    // The collapse really ran: pieces collided, landed and bonded.
    EXPECT_GT(tests, 10000u);
    EXPECT_GT(fast.contactBondCount, 10u);
    EXPECT_GT(fast.fractureCount, 10u);
}

// A collapse that has run for some steps.
Physics collapsing(double east, const Vec3& blastAt, double energy, int steps) {
    Physics physics = buildingOnCellLines(east);
    physics.blast(blastAt + Vec3{east, 0.0, 0.0}, energy, 6.0);
    for (int n = 0; n < steps; ++n)
        physics.step(frame);
    return physics;
}

TEST(StepBroadPhase, AWorldCopiedOverOneThatSteppedElsewhereStepsAsAFreshCopy) {
    struct Case {
        double sourceEast, targetEast;
        Vec3 sourceBlast, targetBlast;
        int sourceSteps, targetSteps;
    };
    // The target's buffers cached other pieces in other cells: more of them, then fewer. Its last
    // step is numbered as the source's next one would be, then as the first of all.
    const Case cases[] = {
        {0.0, 64.0, {30.5, 1.0, -1.5}, {33.5, 3.5, 1.5}, 30, 31},
        {96.0, 0.0, {33.5, 3.5, 1.5}, {30.5, 1.0, -1.5}, 70, 1},
    };
    for (const Case& c : cases) {
        const Physics source = collapsing(c.sourceEast, c.sourceBlast, 250000.0, c.sourceSteps);
        Physics copied = collapsing(c.targetEast, c.targetBlast, 400000.0, c.targetSteps);
        ASSERT_NE(copied.pieces.size(), source.pieces.size());
        copied = source;
        Physics twin(source);
        for (int n = 0; n < 240; ++n) {
            copied.step(frame);
            twin.step(frame);
            ASSERT_EQ(copied.contactTestCount, twin.contactTestCount) << c.sourceEast << " " << n;
            ASSERT_EQ(stateHash(copied), stateHash(twin)) << c.sourceEast << " " << n;
        }
    }
}

} // namespace
} // namespace zarn
