#include "physics/Geometry.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

#include <gtest/gtest.h>

namespace zarn {
namespace {

constexpr double kEps = 1e-12;
const double kHalfDiagonal = std::sqrt(0.5); // half width of a 1 m cube across its diagonal

Quaternion aboutAxis(const Vec3& axis, double angle) {
    const Vec3 u = normalized(axis);
    const double s = std::sin(angle / 2.0);
    return {std::cos(angle / 2.0), u.x * s, u.y * s, u.z * s};
}

const Quaternion kEighthY = aboutAxis({0.0, 1.0, 0.0}, std::numbers::pi / 4.0);

Polyhedron box(const Vec3& center, const Vec3& half, const Quaternion& orientation = {}) {
    Polyhedron body;
    body.center = center;
    body.halfExtents = half;
    body.orientation = orientation;
    body.mass = 8.0 * half.x * half.y * half.z * 1200.0;
    return body;
}

Polyhedron cube(const Vec3& center, double half = 0.5, const Quaternion& orientation = {}) {
    return box(center, {half, half, half}, orientation);
}

MatterPiece piece(std::uint32_t id, const Polyhedron& body) {
    MatterPiece p;
    p.id = id;
    p.body = body;
    return p;
}

void expectNear(const Vec3& actual, const Vec3& expected, double tolerance = kEps) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

Vec3 unitAxis(int k, double sign = 1.0) {
    Vec3 v;
    v[k] = sign;
    return v;
}

// --- point distance, projected radius, supporting feature -------------------------------------

TEST(BoxMeasures, DistanceFromPointToBox) {
    const MatterPiece aligned = piece(1, box({1.0, 2.0, 3.0}, {0.5, 1.0, 1.5}));
    EXPECT_EQ(boxDistance({1.2, 2.5, 2.0}, aligned), 0.0);
    EXPECT_EQ(boxDistance({1.5, 3.0, 4.5}, aligned), 0.0); // a corner is inside
    EXPECT_NEAR(boxDistance({3.5, 2.0, 3.0}, aligned), 2.0, kEps);
    EXPECT_NEAR(boxDistance({4.5, 7.0, 3.0}, aligned), 5.0, kEps); // 3-4-5 from the edge

    // Turned 45 degrees about y the cube's vertical edge points at +x, 0.707 m from the centre.
    const MatterPiece turned = piece(2, cube({}, 0.5, kEighthY));
    EXPECT_NEAR(boxDistance({1.0, 0.0, 0.0}, turned), 1.0 - kHalfDiagonal, kEps);
    EXPECT_EQ(boxDistance({0.69, 0.0, 0.0}, turned), 0.0);
}

TEST(BoxMeasures, ProjectedRadiusIsTheHalfWidth) {
    const Polyhedron slab = box({5.0, 5.0, 5.0}, {1.0, 2.0, 3.0});
    EXPECT_NEAR(projectedRadius(slab, {1.0, 0.0, 0.0}), 1.0, kEps);
    EXPECT_NEAR(projectedRadius(slab, {0.0, -1.0, 0.0}), 2.0, kEps);
    EXPECT_NEAR(projectedRadius(slab, normalized({1.0, 1.0, 0.0})), 3.0 * kHalfDiagonal, kEps);
    EXPECT_NEAR(projectedRadius(cube({}, 0.5, kEighthY), {1.0, 0.0, 0.0}), kHalfDiagonal, kEps);
}

TEST(BoxMeasures, SupportFaceFindsFaceEdgeOrCorner) {
    const Polyhedron b = box({1.0, 2.0, 3.0}, {0.5, 1.0, 1.5});
    expectNear(supportFace(b, {1.0, 0.0, 0.0}), {1.5, 2.0, 3.0});
    expectNear(supportFace(b, {0.0, 0.0, -1.0}), {1.0, 2.0, 1.5});
    expectNear(supportFace(b, normalized({1.0, 1.0, 0.0})), {1.5, 3.0, 3.0});
    expectNear(supportFace(b, normalized({-1.0, 1.0, 1.0})), {0.5, 3.0, 4.5});

    // A slight tilt keeps the whole face (the far corners stay within 0.03); a larger one does not.
    const Polyhedron c = cube({}, 0.5);
    expectNear(supportFace(c, normalized({1.0, 0.02, 0.0})), {0.5, 0.0, 0.0});
    expectNear(supportFace(c, normalized({1.0, 0.05, 0.0})), {0.5, 0.5, 0.0});

    // The turned cube shows its vertical edge to +x.
    expectNear(supportFace(cube({}, 0.5, kEighthY), {1.0, 0.0, 0.0}), {kHalfDiagonal, 0.0, 0.0});
}

// --- collide ----------------------------------------------------------------------------------

TEST(Collide, NormalPointsFromFirstToSecondBox) {
    for (int k = 0; k < 3; ++k) {
        for (double sign : {1.0, -1.0}) {
            const Polyhedron a = cube({1.0, 1.0, 1.0});
            const Polyhedron b = cube(a.center + unitAxis(k, 0.9 * sign));
            Contact contact;
            ASSERT_TRUE(collide(a, b, contact)) << "axis " << k;
            expectNear(contact.normal, unitAxis(k, sign));
            EXPECT_NEAR(contact.depth, 0.1, 1e-12);
        }
    }
}

TEST(Collide, SeparatedBoxesGiveNoContact) {
    Contact untouched;
    untouched.depth = -7.0;
    Contact contact = untouched;

    // Bounding spheres apart.
    EXPECT_FALSE(collide(cube({}), cube({0.0, 5.0, 0.0}), contact));
    EXPECT_EQ(contact.depth, -7.0);

    // Spheres overlap but a face axis separates; faces that only touch do not collide either.
    EXPECT_FALSE(collide(cube({}), cube({1.02, 0.9, 0.0}), contact));
    EXPECT_FALSE(collide(cube({}), cube({1.0, 0.0, 0.0}), contact));
    EXPECT_EQ(contact.depth, -7.0);
}

TEST(Collide, CrossedEdgesAreSeparatedOnlyByTheirCrossAxis) {
    // A ridge along x under a ridge along z: every face axis overlaps, x cross z separates.
    const Polyhedron lower = cube({}, 0.5, aboutAxis({1.0, 0.0, 0.0}, std::numbers::pi / 4.0));
    const double reach = 2.0 * kHalfDiagonal;
    const Quaternion ridgeZ = aboutAxis({0.0, 0.0, 1.0}, std::numbers::pi / 4.0);
    Contact contact;
    EXPECT_FALSE(collide(lower, cube({0.0, reach + 0.01, 0.0}, 0.5, ridgeZ), contact));
    ASSERT_TRUE(collide(lower, cube({0.0, reach - 0.01, 0.0}, 0.5, ridgeZ), contact));
    expectNear(contact.normal, {0.0, 1.0, 0.0});
    EXPECT_NEAR(contact.depth, 0.01, 1e-12);
}

TEST(Collide, FirstAxisWinsATieAndTheLighterBoxCarriesThePoint) {
    // Equal overlap on x and y: a's x axis comes first. Turned half a turn about y, b's axes are
    // exactly -x, y and -z: the full 15-axis test must give the same exact answer.
    Contact contact;
    ASSERT_TRUE(collide(cube({}), cube({0.9, 0.9, 0.0}), contact));
    EXPECT_EQ(contact.normal, (Vec3{1.0, 0.0, 0.0}));
    ASSERT_TRUE(collide(cube({}), cube({0.9, 0.9, 0.0}, 0.5, Quaternion{0.0, 0.0, 1.0, 0.0}), contact));
    EXPECT_EQ(contact.normal, (Vec3{1.0, 0.0, 0.0}));
    ASSERT_TRUE(collide(cube({}), cube({0.0, -0.9, 0.9}, 0.5, Quaternion{0.0, 0.0, 1.0, 0.0}), contact));
    EXPECT_EQ(contact.normal, (Vec3{0.0, -1.0, 0.0}));

    // A big box and a small one overlapping by 0.1 along x, the small one higher up.
    const Polyhedron big = cube({}, 1.0);
    const Polyhedron small = cube({1.4, 0.3, 0.0}, 0.5);
    ASSERT_TRUE(collide(big, small, contact));
    EXPECT_NEAR(contact.depth, 0.1, 1e-12);
    // The small box is lighter: its face centre, pushed half the depth back along the normal.
    expectNear(contact.point, {0.95, 0.3, 0.0});

    ASSERT_TRUE(collide(small, big, contact));
    expectNear(contact.normal, {-1.0, 0.0, 0.0});
    // Now the second box is heavier, so the first (small) one's face is used.
    expectNear(contact.point, {0.95, 0.3, 0.0});

    // With equal masses the first box's face is used: the big box's face centre at y = 0.
    Polyhedron sameMass = small;
    sameMass.mass = big.mass;
    ASSERT_TRUE(collide(big, sameMass, contact));
    expectNear(contact.point, {0.95, 0.0, 0.0});
}

TEST(Collide, TurnedBoxAgainstAlignedOne) {
    Contact contact;
    ASSERT_TRUE(collide(cube({}), cube({1.1, 0.0, 0.0}, 0.5, kEighthY), contact));
    expectNear(contact.normal, {1.0, 0.0, 0.0});
    EXPECT_NEAR(contact.depth, 0.5 + kHalfDiagonal - 1.1, 1e-12);
    const double half = contact.depth / 2.0;
    expectNear(contact.point, {0.5 - half, 0.0, 0.0});
}

// --- faceContact (the bond test) ---------------------------------------------------------------

TEST(FaceContact, CubesBondAcrossSmallGapsBothWays) {
    struct Size {
        double half;
        double area;
    };
    for (const Size size : {Size{0.5, 1.0}, Size{1.0, 4.0}}) {
        for (int k = 0; k < 3; ++k) {
            const MatterPiece a = piece(3, cube({}, size.half));
            const MatterPiece beside = piece(9, cube(unitAxis(k, 2.0 * size.half + 0.02), size.half));
            const MatterPiece apart = piece(9, cube(unitAxis(k, 2.0 * size.half + 0.04), size.half));

            Bond bond;
            bond.stress = 5.0;
            bond.intact = false;
            ASSERT_TRUE(faceContact(a, beside, bond)) << "half " << size.half << " axis " << k;
            EXPECT_EQ(bond.a, 3u);
            EXPECT_EQ(bond.b, 9u);
            EXPECT_NEAR(bond.area, size.area, 1e-12);
            expectNear(bond.normal, unitAxis(k));
            expectNear(bond.center, unitAxis(k, size.half + 0.01));
            EXPECT_EQ(bond.stress, 0.0);
            EXPECT_TRUE(bond.intact);

            ASSERT_TRUE(faceContact(beside, a, bond));
            EXPECT_EQ(bond.a, 9u);
            EXPECT_EQ(bond.b, 3u);
            expectNear(bond.normal, unitAxis(k, -1.0));

            EXPECT_FALSE(faceContact(a, apart, bond));
            EXPECT_FALSE(faceContact(apart, a, bond));
        }
    }
}

TEST(FaceContact, SharedFaceAreaAndSlightOverlap) {
    const MatterPiece a = piece(1, cube({}));
    Bond bond;
    // Offset half a metre in y and z: a quarter of the face is shared.
    ASSERT_TRUE(faceContact(a, piece(2, cube({1.0, 0.5, 0.5})), bond));
    EXPECT_NEAR(bond.area, 0.25, 1e-12);
    expectNear(bond.center, {0.5, 0.25, 0.25});
    // Pressed 2 cm into each other still counts as touching.
    ASSERT_TRUE(faceContact(a, piece(2, cube({0.98, 0.0, 0.0})), bond));
    EXPECT_NEAR(bond.area, 1.0, 1e-12);
    expectNear(bond.normal, {1.0, 0.0, 0.0});
}

TEST(FaceContact, EdgesCornersAndSlivers) {
    const MatterPiece a = piece(1, cube({}));
    Bond bond;
    EXPECT_FALSE(faceContact(a, piece(2, cube({1.0, 1.0, 0.0})), bond));     // along an edge
    EXPECT_FALSE(faceContact(a, piece(2, cube({1.01, -1.0, 0.0})), bond));   // edge, small gaps
    EXPECT_FALSE(faceContact(a, piece(2, cube({1.0, 1.0, 1.0})), bond));     // at a corner
    EXPECT_FALSE(faceContact(a, piece(2, cube({1.0, 0.995, 0.995})), bond)); // 5 mm x 5 mm
    EXPECT_FALSE(faceContact(a, piece(2, cube({1.0, 0.99, 0.0})), bond));    // 1 cm strip
    EXPECT_TRUE(faceContact(a, piece(2, cube({1.0, 0.96, 0.0})), bond));     // 4 cm strip
    EXPECT_NEAR(bond.area, 0.04, 1e-12);
}

TEST(FaceContact, GapOfExactlyTheLimitDoesNotBond) {
    // a ends at x = 0 and b starts at x = 0.035, both exactly, so the gap is exactly the limit.
    const MatterPiece a = piece(1, cube({-0.5, 0.0, 0.0}));
    const auto gapTo = [&](const MatterPiece& b) {
        return std::min(a.body.bounds().max.x, b.body.bounds().max.x) -
               std::max(a.body.bounds().min.x, b.body.bounds().min.x);
    };
    const Vec3 half{0.035, 0.5, 0.5};
    const MatterPiece atLimit = piece(2, box({2.0 * 0.035, 0.0, 0.0}, half));
    const MatterPiece inside = piece(2, box({std::nextafter(2.0 * 0.035, 0.0), 0.0, 0.0}, half));
    const MatterPiece outside = piece(2, box({std::nextafter(2.0 * 0.035, 1.0), 0.0, 0.0}, half));
    ASSERT_EQ(gapTo(atLimit), -0.035);
    ASSERT_GT(gapTo(inside), -0.035);
    ASSERT_LT(gapTo(outside), -0.035);

    Bond bond;
    EXPECT_FALSE(faceContact(a, atLimit, bond));
    EXPECT_TRUE(faceContact(a, inside, bond));
    EXPECT_FALSE(faceContact(a, outside, bond));
}

TEST(FaceContact, TurnedPiecesBondThroughTheExactTest) {
    const MatterPiece a = piece(1, cube({}));
    Bond bond;
    // The turned cube's edge presses 0.107 m into a's face: bounds overlap on every axis.
    ASSERT_TRUE(faceContact(a, piece(2, cube({1.1, 0.0, 0.0}, 0.5, kEighthY)), bond));
    EXPECT_EQ(bond.a, 1u);
    EXPECT_EQ(bond.b, 2u);
    EXPECT_NEAR(bond.area, 1.0, 1e-12);
    expectNear(bond.normal, {1.0, 0.0, 0.0});
    const double depth = 0.5 + kHalfDiagonal - 1.1;
    expectNear(bond.center, {0.5 - depth / 2.0, 0.0, 0.0});

    // Bounds overlap on every axis, but the turned cube's face clears a's corner.
    EXPECT_FALSE(faceContact(a, piece(2, cube({1.1, 0.0, 1.1}, 0.5, kEighthY)), bond));

    // The area is the smallest of the two pieces' x-z and x-y faces, whichever piece has it.
    const MatterPiece turned = piece(4, cube({0.6, 0.0, 0.0}, 0.5, kEighthY));
    const MatterPiece plank = piece(3, box({}, {0.5, 1.0, 0.25})); // x-z face 0.5 m²
    const MatterPiece slab = piece(3, box({}, {0.5, 0.1, 1.0}));   // x-y face 0.2 m²
    ASSERT_TRUE(faceContact(plank, turned, bond));
    EXPECT_NEAR(bond.area, 0.5, 1e-12);
    ASSERT_TRUE(faceContact(turned, plank, bond));
    EXPECT_NEAR(bond.area, 0.5, 1e-12);
    ASSERT_TRUE(faceContact(slab, turned, bond));
    EXPECT_NEAR(bond.area, 0.2, 1e-12);
    ASSERT_TRUE(faceContact(turned, slab, bond));
    EXPECT_NEAR(bond.area, 0.2, 1e-12);

    // A thin rod sticking into a cube bonds with the smallest area, 0.001 m².
    const Vec3 rodAxis = normalized({1.0, 1.0, 1.0});
    const Vec3 up{0.0, 1.0, 0.0};
    const Quaternion tilt = aboutAxis(cross(up, rodAxis), std::acos(dot(up, rodAxis)));
    const MatterPiece rod = piece(5, box({0.5, 0.0, 0.0}, {0.01, 0.5, 0.01}, tilt));
    ASSERT_TRUE(faceContact(a, rod, bond));
    EXPECT_EQ(bond.area, 0.001);
}

// --- sweepPolyhedra ---------------------------------------------------------------------------

TEST(Sweep, HitsWhereTheGapCloses) {
    const Polyhedron still = cube({});
    BoxSweep sweep = sweepPolyhedra(cube({-3.0, 0.0, 0.0}), {4.0, 0.0, 0.0}, still);
    ASSERT_TRUE(sweep.hit);
    EXPECT_NEAR(sweep.fraction, 2.0 / 4.0, 1e-12);
    EXPECT_EQ(sweep.depth, 0.0);
    expectNear(sweep.normal, {-1.0, 0.0, 0.0});

    // Falling onto the box from above, off-centre.
    sweep = sweepPolyhedra(cube({0.3, 5.0, -0.2}), {0.0, -10.0, 0.0}, still);
    ASSERT_TRUE(sweep.hit);
    EXPECT_NEAR(sweep.fraction, 4.0 / 10.0, 1e-12);
    expectNear(sweep.normal, {0.0, 1.0, 0.0});

    // A turned box leads with its edge, 0.707 m ahead of its centre.
    sweep = sweepPolyhedra(cube({-3.0, 0.0, 0.0}, 0.5, kEighthY), {4.0, 0.0, 0.0}, still);
    ASSERT_TRUE(sweep.hit);
    EXPECT_NEAR(sweep.fraction, (3.0 - 0.5 - kHalfDiagonal) / 4.0, 1e-12);
    expectNear(sweep.normal, {-1.0, 0.0, 0.0});
}

TEST(Sweep, MissesWhenStoppingShortPassingByOrLeaving) {
    const Polyhedron still = cube({});
    BoxSweep sweep = sweepPolyhedra(cube({-3.0, 0.0, 0.0}), {1.9, 0.0, 0.0}, still);
    EXPECT_FALSE(sweep.hit);
    EXPECT_EQ(sweep.fraction, 1.0);
    EXPECT_EQ(sweep.normal, Vec3{});

    // Diagonally past the corner: the swept bounds reach the box, the box itself does not.
    sweep = sweepPolyhedra(cube({-2.5, 0.5, 0.0}), {3.0, 3.0, 0.0}, still);
    EXPECT_FALSE(sweep.hit);
    EXPECT_EQ(sweep.fraction, 1.0);

    // Touching and moving away, or sliding along the face.
    EXPECT_FALSE(sweepPolyhedra(cube({1.0, 0.0, 0.0}), {1.0, 0.0, 0.0}, still).hit);
    EXPECT_FALSE(sweepPolyhedra(cube({1.0, 0.0, 0.0}), {0.0, 0.5, 0.0}, still).hit);
    // Standing still beside it.
    EXPECT_FALSE(sweepPolyhedra(cube({1.5, 0.0, 0.0}), {}, still).hit);

    // Touching and pushing in hits at once.
    sweep = sweepPolyhedra(cube({1.0, 0.0, 0.0}), {-1.0, 0.0, 0.0}, still);
    ASSERT_TRUE(sweep.hit);
    EXPECT_EQ(sweep.fraction, 0.0);
    EXPECT_EQ(sweep.depth, 0.0);
    expectNear(sweep.normal, {1.0, 0.0, 0.0});
}

TEST(Sweep, AlreadyOverlappingReportsTheSmallestOverlap) {
    const Polyhedron still = cube({});
    for (const Vec3& displacement : {Vec3{1.0, 0.0, 0.0}, Vec3{-1.0, 0.0, 0.0}, Vec3{}}) {
        const BoxSweep sweep = sweepPolyhedra(cube({0.2, -0.9, 0.0}), displacement, still);
        ASSERT_TRUE(sweep.hit);
        EXPECT_EQ(sweep.fraction, 0.0);
        EXPECT_NEAR(sweep.depth, 0.1, 1e-12);
        expectNear(sweep.normal, {0.0, -1.0, 0.0});
    }
}

// --- tracePolyhedron --------------------------------------------------------------------------

TEST(Trace, RayAgainstBox) {
    const Polyhedron b = cube({});
    EXPECT_EQ(tracePolyhedron({0.1, 0.2, -0.3}, {1.0, 0.0, 0.0}, b, 10.0), 0.0);
    EXPECT_EQ(tracePolyhedron({0.5, 0.0, 0.0}, {1.0, 0.0, 0.0}, b, 10.0), 0.0); // on the surface
    EXPECT_NEAR(tracePolyhedron({-5.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, b, 10.0), 4.5, kEps);
    EXPECT_NEAR(tracePolyhedron({0.2, 7.0, 0.1}, {0.0, -1.0, 0.0}, b, 10.0), 6.5, kEps);
    const Vec3 diagonal = normalized({1.0, 1.0, 1.0});
    EXPECT_NEAR(tracePolyhedron(diagonal * -5.0, diagonal, b, 10.0), 5.0 - 0.5 * std::sqrt(3.0), 1e-12);

    // The limit is inclusive.
    EXPECT_NEAR(tracePolyhedron({-5.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, b, 4.5), 4.5, kEps);
    EXPECT_EQ(tracePolyhedron({-5.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, b, 4.4), -1.0);
    // Pointing away, parallel outside a slab, parallel inside it.
    EXPECT_EQ(tracePolyhedron({-5.0, 0.0, 0.0}, {-1.0, 0.0, 0.0}, b, 10.0), -1.0);
    EXPECT_EQ(tracePolyhedron({-5.0, 0.6, 0.0}, {1.0, 0.0, 0.0}, b, 10.0), -1.0);
    EXPECT_NEAR(tracePolyhedron({-5.0, 0.4, -0.4}, {1.0, 0.0, 0.0}, b, 10.0), 4.5, kEps);
    // Passing a corner diagonally.
    EXPECT_EQ(tracePolyhedron({-1.1, 0.0, 0.0}, normalized({1.0, 1.0, 0.0}), b, 10.0), -1.0);
}

TEST(Trace, TurnedBox) {
    const Polyhedron turned = cube({10.0, 0.0, 0.0}, 0.5, kEighthY);
    EXPECT_NEAR(tracePolyhedron({0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, turned, 20.0), 10.0 - kHalfDiagonal, 1e-12);
    // Beside the diamond the turned cube makes in the x-z plane.
    EXPECT_EQ(tracePolyhedron({0.0, 0.0, 0.75}, {1.0, 0.0, 0.0}, turned, 20.0), -1.0);
    EXPECT_NEAR(tracePolyhedron({0.0, 0.0, 0.2}, {1.0, 0.0, 0.0}, turned, 20.0), 10.0 - kHalfDiagonal + 0.2,
                1e-12);
}

// --- the fast paths against the plain reading of the tests ----------------------------------

// The 15 axes in order, normalised, the short ones skipped: written the plain way.
template <class Visit> bool eachAxis(const Polyhedron& a, const Polyhedron& b, Visit visit) {
    const auto fa = a.axes();
    const auto fb = b.axes();
    std::array<Vec3, 15> axes;
    for (int i = 0; i < 3; ++i) {
        axes[i] = fa[i];
        axes[3 + i] = fb[i];
        for (int j = 0; j < 3; ++j) {
            axes[6 + 3 * i + j] = cross(fa[i], fb[j]);
        }
    }
    for (const Vec3& axis : axes) {
        const double len = length(axis);
        if (len < 1e-7) {
            continue;
        }
        if (!visit(axis / len)) {
            return false;
        }
    }
    return true;
}

bool referenceCollide(const Polyhedron& a, const Polyhedron& b, Contact& out) {
    const Vec3 d = b.center - a.center;
    if (length(a.halfExtents) + length(b.halfExtents) < length(d)) {
        return false;
    }
    out.depth = 1e30;
    const bool overlapping = eachAxis(a, b, [&](const Vec3& axis) {
        const double overlap = projectedRadius(a, axis) + projectedRadius(b, axis) - std::abs(dot(d, axis));
        if (overlap <= 0.0) {
            return false;
        }
        if (overlap < out.depth) {
            out.depth = overlap;
            out.normal = dot(d, axis) <= 0.0 ? -axis : axis;
        }
        return true;
    });
    if (!overlapping) {
        return false;
    }
    const double half = out.depth / 2.0;
    out.point = b.mass < a.mass ? supportFace(b, -out.normal) + half * out.normal
                                : supportFace(a, out.normal) - half * out.normal;
    return true;
}

BoxSweep referenceSweep(const Polyhedron& a, const Vec3& s, const Polyhedron& b) {
    Polyhedron arrived = a;
    arrived.center += s;
    const Box start = a.bounds();
    const Box end = arrived.bounds();
    const Box still = b.bounds();
    for (int k = 0; k < 3; ++k) {
        if (std::min(start.min[k], end.min[k]) > still.max[k] ||
            std::max(start.max[k], end.max[k]) < still.min[k]) {
            return {};
        }
    }
    bool overlapping = true;
    bool miss = false;
    double enter = -1e30;
    double exit = 1.0;
    double minOverlap = 1e30;
    Vec3 overlapNormal;
    Vec3 hitNormal;
    eachAxis(a, b, [&](const Vec3& axis) {
        const double r = projectedRadius(a, axis) + projectedRadius(b, axis);
        const double c = dot(a.center - b.center, axis);
        const double v = dot(s, axis);
        const double sep = r - std::abs(c);
        if (sep < minOverlap) {
            minOverlap = sep;
            overlapNormal = c < 0.0 ? -axis : axis;
        }
        bool step = false;
        if (!overlapping || sep <= 1e-6) {
            if (std::abs(v) >= 1e-12) {
                overlapping = false;
                step = true;
            } else if (sep <= 1e-7) {
                miss = true;
                return false;
            } else {
                overlapping = false;
            }
        } else {
            step = std::abs(v) >= 1e-12;
        }
        if (step) {
            double t1 = (-r - c) / v;
            double t2 = (r - c) / v;
            if (t1 > t2) {
                std::swap(t1, t2);
            }
            if (t1 > enter) {
                enter = t1;
                hitNormal = v > 0.0 ? -axis : axis;
            }
            exit = std::min(exit, t2);
            if (exit < enter) {
                miss = true;
                return false;
            }
        }
        return true;
    });
    if (miss) {
        return {};
    }
    if (overlapping) {
        return {true, 0.0, minOverlap, overlapNormal};
    }
    if (enter >= -1e-8 && enter <= 1.0 && exit >= 0.0 && dot(s, hitNormal) < -1e-10) {
        return {true, std::max(enter, 0.0), 0.0, hitNormal};
    }
    return {};
}

// Deterministic pseudo-random boxes: world-aligned, turned half a turn (exact axes, so overlaps
// tie), turned about one world axis (cross products vanish or repeat face axes), or turned anyhow.
struct BoxSource {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;

    double uniform(double lo, double hi) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return lo + (hi - lo) * static_cast<double>(state >> 11) * 0x1.0p-53;
    }
    Quaternion orientation() {
        const double kind = uniform(0.0, 4.0);
        if (kind < 1.0) {
            return {};
        }
        if (kind < 2.0) {
            Quaternion half{0.0, 0.0, 0.0, 0.0};
            (kind < 1.33 ? half.x : kind < 1.67 ? half.y : half.z) = 1.0;
            return half;
        }
        if (kind < 3.0) {
            return aboutAxis(unitAxis(static_cast<int>(uniform(0.0, 3.0))), uniform(-3.2, 3.2));
        }
        return aboutAxis({uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)}, uniform(-3.2, 3.2));
    }
    // Every other body sits on a quarter-metre grid with quarter-metre sizes, so that equal
    // overlaps and centres level on an axis are common.
    Polyhedron body(double spread) {
        const bool grid = uniform(0.0, 1.0) < 0.5;
        const auto pick = [&](double lo, double hi) {
            const double v = uniform(lo, hi);
            return grid ? std::round(v * 4.0) / 4.0 : v;
        };
        return box({pick(-spread, spread), pick(-spread, spread), pick(-spread, spread)},
                   {pick(0.25, 1.5), pick(0.25, 1.5), pick(0.25, 1.5)}, orientation());
    }
};

void expectSameBits(const Vec3& actual, const Vec3& expected) {
    EXPECT_EQ(actual.x, expected.x);
    EXPECT_EQ(actual.y, expected.y);
    EXPECT_EQ(actual.z, expected.z);
}

TEST(GeometryFastPaths, CollideMatchesThePlainTestBitForBit) {
    BoxSource source;
    int contacts = 0;
    for (int i = 0; i < 4000; ++i) {
        const Polyhedron a = source.body(0.5);
        const Polyhedron b = source.body(2.0);
        Contact fast;
        Contact plain;
        const bool hit = collide(a, b, fast);
        ASSERT_EQ(hit, referenceCollide(a, b, plain)) << "pair " << i;
        if (hit) {
            ++contacts;
            EXPECT_EQ(fast.depth, plain.depth) << "pair " << i;
            expectSameBits(fast.normal, plain.normal);
            expectSameBits(fast.point, plain.point);
        }
    }
    EXPECT_GT(contacts, 1000);
    EXPECT_LT(contacts, 3000);
}

TEST(GeometryFastPaths, SweepMatchesThePlainTestBitForBit) {
    BoxSource source;
    int hits = 0;
    for (int i = 0; i < 4000; ++i) {
        const Polyhedron moving = source.body(3.0);
        const Polyhedron still = source.body(0.5);
        Vec3 displacement{source.uniform(-4, 4), source.uniform(-4, 4), source.uniform(-4, 4)};
        // Some sweeps move along one axis only, so that projections on the others are exactly zero.
        if (i % 3 == 0) {
            displacement = unitAxis(i % 2, displacement.z);
        }
        const BoxSweep plain = referenceSweep(moving, displacement, still);
        // The moving box's share worked out once, and the still box's bounds given, answer alike.
        const MovingBox shared(moving, displacement);
        for (const BoxSweep& fast :
             {sweepPolyhedra(moving, displacement, still), sweepPolyhedra(shared, still),
              sweepPolyhedra(shared, still, still.bounds())}) {
            ASSERT_EQ(fast.hit, plain.hit) << "sweep " << i;
            hits += fast.hit ? 1 : 0;
            EXPECT_EQ(fast.fraction, plain.fraction) << "sweep " << i;
            EXPECT_EQ(fast.depth, plain.depth) << "sweep " << i;
            expectSameBits(fast.normal, plain.normal);
        }
    }
    EXPECT_GT(hits, 1500);
}

} // namespace
} // namespace zarn
