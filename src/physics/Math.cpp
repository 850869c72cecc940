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
    return {orientation.rotate({1.0, 0.0, 0.0}), orientation.rotate({0.0, 1.0, 0.0}),
            orientation.rotate({0.0, 0.0, 1.0})};
}

std::array<Vec3, 8> Polyhedron::vertices() const {
    std::array<Vec3, 8> corners;
    for (int i = 0; i < 8; ++i) {
        const Vec3 local{(i & 1) ? halfExtents.x : -halfExtents.x, (i & 2) ? halfExtents.y : -halfExtents.y,
                         (i & 4) ? halfExtents.z : -halfExtents.z};
        corners[i] = center + orientation.rotate(local);
    }
    return corners;
}

Box Polyhedron::bounds() const {
    const auto axis = axes();
    Vec3 extent;
    for (int i = 0; i < 3; ++i) {
        // e_i = sum_j |R_ij| h_j, with column j of R being box axis j.
        extent[i] = std::abs(axis[0][i]) * halfExtents.x + std::abs(axis[1][i]) * halfExtents.y +
                    std::abs(axis[2][i]) * halfExtents.z;
    }
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
