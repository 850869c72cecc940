#pragma once

#include <array>
#include <cmath>

namespace zarn {

// Positions (m), velocities (m/s), angular velocities (rad/s about world axes), forces, impulses and
// linear RGB colours: every vector quantity of the game is one of these.
struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    constexpr Vec3& operator+=(const Vec3& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    constexpr Vec3& operator-=(const Vec3& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    constexpr Vec3& operator*=(double s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    constexpr Vec3& operator/=(double s) {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }
    constexpr double operator[](int k) const { return k == 0 ? x : (k == 1 ? y : z); }
    constexpr double& operator[](int k) { return k == 0 ? x : (k == 1 ? y : z); }
    friend constexpr bool operator==(const Vec3&, const Vec3&) = default;
};

constexpr Vec3 operator+(Vec3 a, const Vec3& b) {
    return a += b;
}
constexpr Vec3 operator-(Vec3 a, const Vec3& b) {
    return a -= b;
}
constexpr Vec3 operator-(const Vec3& a) {
    return {-a.x, -a.y, -a.z};
}
constexpr Vec3 operator*(Vec3 a, double s) {
    return a *= s;
}
constexpr Vec3 operator*(double s, Vec3 a) {
    return a *= s;
}
constexpr Vec3 operator/(Vec3 a, double s) {
    return a /= s;
}

constexpr double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
constexpr Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// Component by component product and quotient (inertia tensors are kept as diagonals).
constexpr Vec3 hadamard(const Vec3& a, const Vec3& b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}
constexpr Vec3 divide(const Vec3& a, const Vec3& b) {
    return {a.x / b.x, a.y / b.y, a.z / b.z};
}
constexpr Vec3 componentMin(const Vec3& a, const Vec3& b) {
    return {a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, a.z < b.z ? a.z : b.z};
}
constexpr Vec3 componentMax(const Vec3& a, const Vec3& b) {
    return {a.x > b.x ? a.x : b.x, a.y > b.y ? a.y : b.y, a.z > b.z ? a.z : b.z};
}
inline double lengthSquared(const Vec3& v) {
    return dot(v, v);
}
inline double length(const Vec3& v) {
    return std::sqrt(dot(v, v));
}

// The unit vector along v, or the zero vector when v is not longer than 1e-9.
Vec3 normalized(const Vec3& v);

// A rotation; w is the scalar part. Orientations are kept at unit length by integrate alone.
struct Quaternion {
    double w = 1.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    // Hamilton product this ⊗ q.
    Quaternion operator*(const Quaternion& q) const;
    // v rotated by this unit quaternion.
    Vec3 rotate(const Vec3& v) const;
    // v rotated by the inverse (conjugate) rotation: world to box coordinates.
    Vec3 rotateInverse(const Vec3& v) const;
    // Advances the orientation by the world angular velocity omega over dt and renormalises.
    void integrate(const Vec3& omega, double dt);
    friend constexpr bool operator==(const Quaternion&, const Quaternion&) = default;
};

// A symmetric 3 x 3 matrix, kept as its diagonal and its off-diagonal entries xy, yz and zx: the
// inertia tensors of bodies about world axes.
struct SymmetricMatrix {
    Vec3 diagonal;
    Vec3 offDiagonal; // (xy, yz, zx)

    Vec3 operator*(const Vec3& v) const;
    SymmetricMatrix& operator+=(const SymmetricMatrix& m);
    // The x with this * x = b, for a positive definite matrix.
    Vec3 solve(const Vec3& b) const;
    // R M Rt for the rotation R of q: the tensor of a body after it turned by q.
    SymmetricMatrix rotated(const Quaternion& q) const;
};

// Axis-aligned bounds in world space, corners inclusive.
struct Box {
    Vec3 min;
    Vec3 max;
};

// An oriented box body: the head of every matter piece and of every organism body.
struct Polyhedron {
    Vec3 center;
    Vec3 halfExtents;
    Vec3 velocity;
    Vec3 angularVelocity;
    Quaternion orientation;
    double mass = 0.0;

    // World corners; corner i takes +hx for bit 0, +hy for bit 1, +hz for bit 2 (corner 0 is all minus).
    std::array<Vec3, 8> vertices() const;
    // The same corners from axes already computed by axes() (hot paths compute them once per call).
    std::array<Vec3, 8> vertices(const std::array<Vec3, 3>& axis) const;
    // The tight axis-aligned box of the rotated box.
    Box bounds() const;
    // The same bounds from axes already computed by axes().
    Box bounds(const std::array<Vec3, 3>& axis) const;
    // World-space inverse inertia of the solid box applied to v.
    Vec3 inverseInertia(const Vec3& v) const;
    // World-space inertia tensor of the solid box about its centre.
    SymmetricMatrix inertia() const;
    // The box's own axes in world space (the columns of its rotation matrix): the same numbers
    // orientation.rotate gives for the three unit vectors.
    std::array<Vec3, 3> axes() const;
};

} // namespace zarn
