#include "physics/Math.hpp"

#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

namespace zarn {
namespace {

constexpr double kEps = 1e-12;

Quaternion aboutAxis(const Vec3& axis, double angle) {
    const Vec3 u = normalized(axis);
    const double s = std::sin(angle / 2.0);
    return {std::cos(angle / 2.0), u.x * s, u.y * s, u.z * s};
}

void expectNear(const Vec3& actual, const Vec3& expected, double tolerance = kEps) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

bool withinOneUlp(double actual, double expected) {
    return actual == expected || std::nextafter(expected, actual) == actual;
}

double quaternionLength(const Quaternion& q) {
    return std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
}

// A few orientations with no symmetry, so that mixed-up components would show.
const Quaternion kTilted[] = {
    aboutAxis({1.0, 2.0, 3.0}, 0.7),
    aboutAxis({-0.3, 0.1, 0.9}, 2.9),
    aboutAxis({0.0, 1.0, 0.0}, std::numbers::pi / 4.0),
    aboutAxis({5.0, -1.0, 0.5}, -1.3),
};

TEST(Normalized, ScalesToUnitLengthAndZeroesTinyVectors) {
    expectNear(normalized({0.0, 3.0, 4.0}), {0.0, 0.6, 0.8});
    expectNear(normalized({-2e-9, 0.0, 0.0}), {-1.0, 0.0, 0.0});
    EXPECT_EQ(normalized({1e-10, 0.0, 0.0}), Vec3{});
    // Exactly 1e-9 long is not above the threshold.
    EXPECT_EQ(normalized({1e-9, 0.0, 0.0}), Vec3{});
    EXPECT_EQ(normalized({}), Vec3{});
}

TEST(QuaternionRotation, ProductComposesRotations) {
    const Vec3 v{0.3, -1.7, 2.2};
    for (const Quaternion& q1 : kTilted) {
        for (const Quaternion& q2 : kTilted) {
            expectNear((q1 * q2).rotate(v), q1.rotate(q2.rotate(v)));
        }
    }
    // i * j = k and j * i = -k: the product is Hamilton's, not its mirror.
    EXPECT_EQ((Quaternion{0, 1, 0, 0} * Quaternion{0, 0, 1, 0}), (Quaternion{0, 0, 0, 1}));
    EXPECT_EQ((Quaternion{0, 0, 1, 0} * Quaternion{0, 1, 0, 0}), (Quaternion{0, 0, 0, -1}));
}

TEST(QuaternionRotation, RotatesRightHandedAndInverts) {
    const Quaternion quarterY = aboutAxis({0.0, 1.0, 0.0}, std::numbers::pi / 2.0);
    expectNear(quarterY.rotate({1.0, 0.0, 0.0}), {0.0, 0.0, -1.0});
    expectNear(quarterY.rotate({0.0, 0.0, 1.0}), {1.0, 0.0, 0.0});
    const Quaternion quarterZ = aboutAxis({0.0, 0.0, 1.0}, std::numbers::pi / 2.0);
    expectNear(quarterZ.rotate({1.0, 0.0, 0.0}), {0.0, 1.0, 0.0});

    const Vec3 v{0.3, -1.7, 2.2};
    for (const Quaternion& q : kTilted) {
        expectNear(q.rotateInverse(q.rotate(v)), v);
        expectNear(q.rotate(q.rotateInverse(v)), v);
        EXPECT_NEAR(length(q.rotate(v)), length(v), kEps);
    }
}

TEST(QuaternionIntegrate, ZeroSpinKeepsTheOrientation) {
    Quaternion identity;
    identity.integrate({}, 0.01);
    EXPECT_EQ(identity, Quaternion{});

    for (const Quaternion& start : kTilted) {
        Quaternion q = start;
        q.integrate({}, 0.01);
        // Renormalising a unit quaternion may move each component by one ulp at most.
        EXPECT_TRUE(withinOneUlp(q.w, start.w)) << q.w << " " << start.w;
        EXPECT_TRUE(withinOneUlp(q.x, start.x)) << q.x << " " << start.x;
        EXPECT_TRUE(withinOneUlp(q.y, start.y)) << q.y << " " << start.y;
        EXPECT_TRUE(withinOneUlp(q.z, start.z)) << q.z << " " << start.z;
    }

    // A zero quaternion cannot be renormalised and stays zero.
    Quaternion zero{0.0, 0.0, 0.0, 0.0};
    zero.integrate({1.0, 2.0, 3.0}, 0.01);
    EXPECT_EQ(zero, (Quaternion{0.0, 0.0, 0.0, 0.0}));
}

TEST(QuaternionIntegrate, SpinAboutWorldAxesTurnsTheBody) {
    // A quarter turn about +y in 1000 small steps carries the body's x axis to -z.
    Quaternion q;
    for (int i = 0; i < 1000; ++i) {
        q.integrate({0.0, std::numbers::pi / 2.0, 0.0}, 0.001);
        ASSERT_NEAR(quaternionLength(q), 1.0, 1e-15);
    }
    expectNear(q.rotate({1.0, 0.0, 0.0}), {0.0, 0.0, -1.0}, 1e-6);

    // omega is in world axes: spinning a tilted body about world z moves its axes about world z.
    const Quaternion tilt = kTilted[0];
    Quaternion spun = tilt;
    for (int i = 0; i < 1000; ++i) {
        spun.integrate({0.0, 0.0, std::numbers::pi / 2.0}, 0.001);
    }
    const Quaternion expected = aboutAxis({0.0, 0.0, 1.0}, std::numbers::pi / 2.0) * tilt;
    expectNear(spun.rotate({1.0, 0.0, 0.0}), expected.rotate({1.0, 0.0, 0.0}), 1e-6);
}

TEST(PolyhedronShape, AxesAreTheRotatedUnitVectorsBitForBit) {
    for (const Quaternion& q : kTilted) {
        Polyhedron box;
        box.orientation = q;
        const auto axis = box.axes();
        EXPECT_EQ(axis[0], q.rotate({1.0, 0.0, 0.0}));
        EXPECT_EQ(axis[1], q.rotate({0.0, 1.0, 0.0}));
        EXPECT_EQ(axis[2], q.rotate({0.0, 0.0, 1.0}));
    }
}

TEST(PolyhedronShape, CornersFollowTheBitOrder) {
    Polyhedron box;
    box.center = {10.0, 20.0, 30.0};
    box.halfExtents = {1.0, 2.0, 3.0};
    const auto corners = box.vertices();
    EXPECT_EQ(corners[0], (Vec3{9.0, 18.0, 27.0}));
    EXPECT_EQ(corners[1], (Vec3{11.0, 18.0, 27.0}));
    EXPECT_EQ(corners[2], (Vec3{9.0, 22.0, 27.0}));
    EXPECT_EQ(corners[5], (Vec3{11.0, 18.0, 33.0}));
    EXPECT_EQ(corners[7], (Vec3{11.0, 22.0, 33.0}));

    box.orientation = kTilted[1];
    const auto turned = box.vertices();
    for (int i = 0; i < 8; ++i) {
        const Vec3 local{(i & 1) ? 1.0 : -1.0, (i & 2) ? 2.0 : -2.0, (i & 4) ? 3.0 : -3.0};
        expectNear(turned[i], box.center + box.orientation.rotate(local));
    }
}

TEST(PolyhedronShape, BoundsEncloseTheRotatedBoxTightly) {
    Polyhedron box;
    box.center = {1.0, -2.0, 3.0};
    box.halfExtents = {1.0, 2.0, 3.0};
    const Box aligned = box.bounds();
    EXPECT_EQ(aligned.min, (Vec3{0.0, -4.0, 0.0}));
    EXPECT_EQ(aligned.max, (Vec3{2.0, 0.0, 6.0}));

    box.orientation = aboutAxis({0.0, 1.0, 0.0}, std::numbers::pi / 2.0);
    const Box swapped = box.bounds();
    expectNear(swapped.min, {-2.0, -4.0, 2.0});
    expectNear(swapped.max, {4.0, 0.0, 4.0});

    // Every corner lies inside the bounds and each face of the bounds touches a corner.
    for (const Quaternion& q : kTilted) {
        box.orientation = q;
        const Box b = box.bounds();
        Vec3 lowest{1e30, 1e30, 1e30};
        Vec3 highest{-1e30, -1e30, -1e30};
        for (const Vec3& corner : box.vertices()) {
            lowest = componentMin(lowest, corner);
            highest = componentMax(highest, corner);
        }
        expectNear(b.min, lowest, 1e-12);
        expectNear(b.max, highest, 1e-12);
    }
}

// The bounds of an unturned box are the rotation's bounds to the bit, whatever its w, and for boxes
// of no size, negative size or no finite size too.
TEST(PolyhedronShape, UnturnedBoundsAreTheRotationsToTheBit) {
    const double inf = HUGE_VAL;
    const double nan = std::nan("");
    const Vec3 centers[] = {{1.0, -2.0, 3.0}, {-0.0, 0.0, -0.0}, {6.4e6, -1.27e7, 1e-300}, {inf, 0.0, 1.0}};
    const Vec3 halves[] = {{0.3, 2.0, 7.5}, {0.0, 1.0, 1.0}, {-0.0, 1.0, 1.0},    {-1.0, 2.0, 3.0},
                           {inf, 1.0, 1.0}, {1.0, nan, 1.0}, {1e-310, 1e300, 5.0}};
    const Quaternion turns[] = {{},
                                {-1.0, 0.0, 0.0, 0.0},
                                {0.5, 0.0, -0.0, 0.0},
                                {nan, 0.0, 0.0, 0.0},
                                {inf, 0.0, 0.0, 0.0},
                                {1.0, -0.0, -0.0, -0.0}};
    for (const Vec3& c : centers)
        for (const Vec3& h : halves)
            for (const Quaternion& q : turns) {
                Polyhedron box;
                box.center = c;
                box.halfExtents = h;
                box.orientation = q;
                const Box fast = box.bounds();
                const Box plain = box.bounds(box.axes());
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ(std::signbit(fast.min[k]), std::signbit(plain.min[k]));
                    EXPECT_EQ(std::signbit(fast.max[k]), std::signbit(plain.max[k]));
                    EXPECT_TRUE(fast.min[k] == plain.min[k] ||
                                (std::isnan(fast.min[k]) && std::isnan(plain.min[k])));
                    EXPECT_TRUE(fast.max[k] == plain.max[k] ||
                                (std::isnan(fast.max[k]) && std::isnan(plain.max[k])));
                }
            }
}

TEST(PolyhedronShape, InverseInertiaOfSolidBoxes) {
    // A 1 m cube of 1200 kg has every principal moment 1200 / 3 * (0.25 + 0.25) = 200.
    Polyhedron cube;
    cube.halfExtents = {0.5, 0.5, 0.5};
    cube.mass = 1200.0;
    const Vec3 v{3.0, -4.0, 10.0};
    expectNear(cube.inverseInertia(v), v / 200.0);
    cube.orientation = kTilted[0];
    expectNear(cube.inverseInertia(v), v / 200.0);

    // A slab turned a quarter about z: world x lies along its own y axis.
    Polyhedron slab;
    slab.halfExtents = {2.0, 1.0, 0.5};
    slab.mass = 8.0 * 2.0 * 1.0 * 0.5 * 1200.0;
    slab.orientation = aboutAxis({0.0, 0.0, 1.0}, std::numbers::pi / 2.0);
    const double momentY = slab.mass / 3.0 * (0.25 + 4.0);
    const double momentX = slab.mass / 3.0 * (1.0 + 0.25);
    expectNear(slab.inverseInertia({1.0, 0.0, 0.0}), {1.0 / momentY, 0.0, 0.0}, 1e-15);
    expectNear(slab.inverseInertia({0.0, 1.0, 0.0}), {0.0, 1.0 / momentX, 0.0}, 1e-15);
}

} // namespace
} // namespace zarn
