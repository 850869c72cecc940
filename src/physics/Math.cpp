#include "physics/Math.hpp"

namespace zarn {

Vec3 normalized(const Vec3& v) {
    const double len = length(v);
    if (!(len > 1e-9)) {
        return {};
    }
    return v / len;
}

Quaternion Quaternion::operator*(const Quaternion& q) const {
    return {w * q.w - x * q.x - y * q.y - z * q.z, w * q.x + x * q.w + y * q.z - z * q.y,
            w * q.y - x * q.z + y * q.w + z * q.x, w * q.z + x * q.y - y * q.x + z * q.w};
}

Vec3 Quaternion::rotate(const Vec3& v) const {
    const Vec3 u{x, y, z};
    const Vec3 uv = cross(u, v);
    return v + uv * (2.0 * w) + cross(u, uv) * 2.0;
}

Vec3 Quaternion::rotateInverse(const Vec3& v) const {
    const Vec3 u{-x, -y, -z};
    const Vec3 uv = cross(u, v);
    return v + uv * (2.0 * w) + cross(u, uv) * 2.0;
}

void Quaternion::integrate(const Vec3& omega, double dt) {
    const Quaternion spin{0.0, omega.x, omega.y, omega.z};
    const Quaternion dq = spin * *this;
    const double half = 0.5 * dt;
    Quaternion next{w + half * dq.w, x + half * dq.x, y + half * dq.y, z + half * dq.z};
    const double len = std::sqrt(next.w * next.w + next.x * next.x + next.y * next.y + next.z * next.z);
    if (len > 1e-12) {
        next.w /= len;
        next.x /= len;
        next.y /= len;
        next.z /= len;
    }
    *this = next;
}

std::array<Vec3, 3> Polyhedron::axes() const {
    // The columns of the rotation matrix, written out: rotate() of a unit vector reduces to exactly
    // these products and sums, so the two agree to the bit.
    const double w = orientation.w;
    const double x = orientation.x;
    const double y = orientation.y;
    const double z = orientation.z;
    return {Vec3{1.0 - 2.0 * (y * y + z * z), 2.0 * (x * y + w * z), 2.0 * (x * z - w * y)},
            Vec3{2.0 * (x * y - w * z), 1.0 - 2.0 * (x * x + z * z), 2.0 * (y * z + w * x)},
            Vec3{2.0 * (x * z + w * y), 2.0 * (y * z - w * x), 1.0 - 2.0 * (x * x + y * y)}};
}

std::array<Vec3, 8> Polyhedron::vertices() const {
    return vertices(axes());
}

std::array<Vec3, 8> Polyhedron::vertices(const std::array<Vec3, 3>& axis) const {
    const Vec3 ex = axis[0] * halfExtents.x;
    const Vec3 ey = axis[1] * halfExtents.y;
    const Vec3 ez = axis[2] * halfExtents.z;
    std::array<Vec3, 8> corners;
    for (int i = 0; i < 8; ++i) {
        const Vec3 sx = (i & 1) ? ex : -ex;
        const Vec3 sy = (i & 2) ? ey : -ey;
        const Vec3 sz = (i & 4) ? ez : -ez;
        corners[i] = center + (sx + sy + sz);
    }
    return corners;
}

Box Polyhedron::bounds() const {
    return bounds(axes());
}

Box Polyhedron::bounds(const std::array<Vec3, 3>& axis) const {
    // e_i = sum_j |R_ij| h_j, with column j of R being box axis j.
    const Vec3 extent{
        std::abs(axis[0].x) * halfExtents.x + std::abs(axis[1].x) * halfExtents.y +
            std::abs(axis[2].x) * halfExtents.z,
        std::abs(axis[0].y) * halfExtents.x + std::abs(axis[1].y) * halfExtents.y +
            std::abs(axis[2].y) * halfExtents.z,
        std::abs(axis[0].z) * halfExtents.x + std::abs(axis[1].z) * halfExtents.y +
            std::abs(axis[2].z) * halfExtents.z,
    };
    return {center - extent, center + extent};
}

Vec3 Polyhedron::inverseInertia(const Vec3& v) const {
    const double hx2 = halfExtents.x * halfExtents.x;
    const double hy2 = halfExtents.y * halfExtents.y;
    const double hz2 = halfExtents.z * halfExtents.z;
    const Vec3 moments{mass / 3.0 * (hy2 + hz2), mass / 3.0 * (hz2 + hx2), mass / 3.0 * (hx2 + hy2)};
    return orientation.rotate(divide(orientation.rotateInverse(v), moments));
}

} // namespace zarn
