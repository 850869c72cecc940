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

namespace {

// The columns of the rotation matrix of q, written out: rotate() of a unit vector reduces to exactly
// these products and sums, so the two agree to the bit.
std::array<Vec3, 3> rotationColumns(const Quaternion& q) {
    const double w = q.w;
    const double x = q.x;
    const double y = q.y;
    const double z = q.z;
    return {Vec3{1.0 - 2.0 * (y * y + z * z), 2.0 * (x * y + w * z), 2.0 * (x * z - w * y)},
            Vec3{2.0 * (x * y - w * z), 1.0 - 2.0 * (x * x + z * z), 2.0 * (y * z + w * x)},
            Vec3{2.0 * (x * z + w * y), 2.0 * (y * z - w * x), 1.0 - 2.0 * (x * x + y * y)}};
}

// The symmetric matrix sum over k of weight_k * column_k column_k^T.
SymmetricMatrix weightedOuterSum(const std::array<Vec3, 3>& column, const Vec3& weight) {
    SymmetricMatrix m;
    for (int k = 0; k < 3; ++k) {
        const Vec3& c = column[static_cast<std::size_t>(k)];
        const double s = weight[k];
        m.diagonal += Vec3{s * c.x * c.x, s * c.y * c.y, s * c.z * c.z};
        m.offDiagonal += Vec3{s * c.x * c.y, s * c.y * c.z, s * c.z * c.x};
    }
    return m;
}

} // namespace

Vec3 SymmetricMatrix::operator*(const Vec3& v) const {
    const Vec3& d = diagonal;
    const Vec3& o = offDiagonal;
    return {d.x * v.x + o.x * v.y + o.z * v.z, o.x * v.x + d.y * v.y + o.y * v.z,
            o.z * v.x + o.y * v.y + d.z * v.z};
}

SymmetricMatrix& SymmetricMatrix::operator+=(const SymmetricMatrix& m) {
    diagonal += m.diagonal;
    offDiagonal += m.offDiagonal;
    return *this;
}

Vec3 SymmetricMatrix::solve(const Vec3& b) const {
    // A diagonal matrix divides component by component, to the bit as it always has.
    if (offDiagonal.x == 0.0 && offDiagonal.y == 0.0 && offDiagonal.z == 0.0)
        return divide(b, diagonal);
    // The inverse is the adjugate over the determinant; both are symmetric like the matrix.
    const double a = diagonal.x, e = diagonal.y, i = diagonal.z;
    const double xy = offDiagonal.x, yz = offDiagonal.y, zx = offDiagonal.z;
    const double cxx = e * i - yz * yz;
    const double cxy = zx * yz - xy * i;
    const double czx = xy * yz - e * zx;
    const double cyy = a * i - zx * zx;
    const double cyz = xy * zx - a * yz;
    const double czz = a * e - xy * xy;
    const double det = a * cxx + xy * cxy + zx * czx;
    return Vec3{cxx * b.x + cxy * b.y + czx * b.z, cxy * b.x + cyy * b.y + cyz * b.z,
                czx * b.x + cyz * b.y + czz * b.z} /
           det;
}

SymmetricMatrix SymmetricMatrix::rotated(const Quaternion& q) const {
    // R M Rt = sum over k, l of M_kl R_k R_l^T with R_k the columns of R.
    const std::array<Vec3, 3> r = rotationColumns(q);
    SymmetricMatrix m = weightedOuterSum(r, diagonal);
    const Vec3& o = offDiagonal;
    const std::array<std::array<int, 2>, 3> pairs{{{0, 1}, {1, 2}, {2, 0}}};
    for (int p = 0; p < 3; ++p) {
        const Vec3& u = r[static_cast<std::size_t>(pairs[static_cast<std::size_t>(p)][0])];
        const Vec3& v = r[static_cast<std::size_t>(pairs[static_cast<std::size_t>(p)][1])];
        const double s = o[p];
        // s (u v^T + v u^T)
        m.diagonal += Vec3{2.0 * s * u.x * v.x, 2.0 * s * u.y * v.y, 2.0 * s * u.z * v.z};
        m.offDiagonal +=
            Vec3{s * (u.x * v.y + v.x * u.y), s * (u.y * v.z + v.y * u.z), s * (u.z * v.x + v.z * u.x)};
    }
    return m;
}

std::array<Vec3, 3> Polyhedron::axes() const {
    return rotationColumns(orientation);
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
    // Unturned, of a finite positive size (most matter): every sum of the extents takes exactly the
    // half extent and zeros, and the rest of the rotation is ones and zeros of either sign.
    const Quaternion& q = orientation;
    const Vec3& h = halfExtents;
    if (q.x == 0.0 && q.y == 0.0 && q.z == 0.0 && std::isfinite(q.w) && h.x > 0.0 && h.x < HUGE_VAL &&
        h.y > 0.0 && h.y < HUGE_VAL && h.z > 0.0 && h.z < HUGE_VAL)
        return {center - h, center + h};
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

SymmetricMatrix Polyhedron::inertia() const {
    const double hx2 = halfExtents.x * halfExtents.x;
    const double hy2 = halfExtents.y * halfExtents.y;
    const double hz2 = halfExtents.z * halfExtents.z;
    const Vec3 moments{mass / 3.0 * (hy2 + hz2), mass / 3.0 * (hz2 + hx2), mass / 3.0 * (hx2 + hy2)};
    // Most matter stands as it was built, straight along the world's axes: its tensor is diagonal
    // (turning by the identity gives the same numbers).
    if (orientation == Quaternion{})
        return {moments, {}};
    return weightedOuterSum(axes(), moments);
}

} // namespace zarn
