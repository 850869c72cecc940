#pragma once

#include <array>
#include <cmath>

#include "ecology/Records.hpp"
#include "physics/Math.hpp"

namespace zarn {

// The six unit face normals of a box, in its own frame: +x, -x, +y, -y, +z, -z. Face i lies on axis
// i / 2, and bit i of a face mask stands for face i.
inline constexpr std::array<Vec3, 6> faces{Vec3{1.0, 0.0, 0.0},  Vec3{-1.0, 0.0, 0.0}, Vec3{0.0, 1.0, 0.0},
                                           Vec3{0.0, -1.0, 0.0}, Vec3{0.0, 0.0, 1.0},  Vec3{0.0, 0.0, -1.0}};

constexpr int faceAxis(int face) {
    return face / 2;
}

// The face of a block's axis: the face of the axis's largest component (y beats x on a tie, z must
// beat the winner outright), on the side of its sign. A Thrust or Absorption block shows its axis
// there, and an Absorption block takes in through it.
inline int dominantFace(const Vec3& axis) {
    int k = std::abs(axis.y) >= std::abs(axis.x) ? 1 : 0;
    if (std::abs(axis.z) > std::abs(axis[k]))
        k = 2;
    return 2 * k + (axis[k] < 0.0 ? 1 : 0);
}

// The volume of a box from its half extents, m³.
constexpr double boxVolume(const Vec3& half) {
    return 8.0 * half.x * half.y * half.z;
}

// A species' box where it stands in the species' own frame, as a body without mass.
inline Polyhedron templateBody(const BioTemplate& box) {
    Polyhedron body;
    body.center = box.position;
    body.halfExtents = box.halfExtents;
    body.orientation = box.orientation;
    return body;
}

// The inverse of a unit rotation.
constexpr Quaternion conjugate(const Quaternion& q) {
    return {q.w, -q.x, -q.y, -q.z};
}

// The relative rotation that takes orientation a to orientation b: conj(a) b.
inline Quaternion relativeRotation(const Quaternion& a, const Quaternion& b) {
    return conjugate(a) * b;
}

// Two boxes whose centres lie farther apart than the sum of their half diagonals (the lengths of
// their half-extent vectors) and 4 cm share no face: the quick rejection of the contact area, in one
// place so that callers who pre-test with it agree with it to the bit.
inline double touchReach(double halfDiagonalA, double halfDiagonalB) {
    return halfDiagonalA + halfDiagonalB + 0.04;
}
inline bool beyondTouch(const Vec3& centerA, double halfDiagonalA, const Vec3& centerB,
                        double halfDiagonalB) {
    return length(centerB - centerA) > touchReach(halfDiagonalA, halfDiagonalB);
}

// The sphere within which a box may touch another: its centre and half diagonal.
struct Reach {
    Vec3 center;
    double halfDiagonal = 0.0;
};

// The quick rejection of the contact area. One coordinate already beyond reach (with a margin far
// above rounding) settles it without the root; otherwise the test is made exactly as the contact area
// makes it.
inline bool apart(const Reach& a, const Reach& b) {
    const Vec3 d = b.center - a.center;
    const double margin = touchReach(a.halfDiagonal, b.halfDiagonal) * (1.0 + 1e-9);
    if (std::abs(d.x) > margin || std::abs(d.y) > margin || std::abs(d.z) > margin)
        return true;
    return beyondTouch(a.center, a.halfDiagonal, b.center, b.halfDiagonal);
}

} // namespace zarn
