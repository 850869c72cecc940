#include <algorithm>
#include <array>
#include <cmath>

#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"

namespace zarn {

namespace {

// Faces count as facing when their normals are this close to opposite.
constexpr double facingLimit = -0.9995;
// ... and as coplanar when every corner of the other face lies this close to the plane.
constexpr double coplanarTolerance = 0.025;

struct FacePoint {
    double u = 0.0;
    double v = 0.0;
};

// A polygon in a face's plane. Each clip adds at most one point per edge, so four clips of a
// quadrilateral never hold more than 4 * 2^4 points.
struct FacePolygon {
    std::array<FacePoint, 64> points;
    int count = 0;
};

// Sutherland-Hodgman: keeps the part of the polygon where inside(point) >= 0; an edge that crosses
// the line adds the crossing found by linear interpolation of the signed distances.
template <class Inside> void clip(const FacePolygon& in, FacePolygon& out, Inside inside) {
    out.count = 0;
    if (in.count == 0)
        return;
    FacePoint previous = in.points[in.count - 1];
    double dPrevious = inside(previous);
    for (int i = 0; i < in.count; ++i) {
        const FacePoint current = in.points[i];
        const double dCurrent = inside(current);
        const bool crosses = (dCurrent >= 0.0) != (dPrevious >= 0.0);
        if (crosses) {
            const double t = dPrevious / (dPrevious - dCurrent);
            out.points[out.count++] = {previous.u + (current.u - previous.u) * t,
                                       previous.v + (current.v - previous.v) * t};
        }
        if (dCurrent >= 0.0)
            out.points[out.count++] = current;
        previous = current;
        dPrevious = dCurrent;
    }
}

double shoelaceArea(const FacePolygon& polygon) {
    double sum = 0.0;
    for (int i = 0; i < polygon.count; ++i) {
        const FacePoint& a = polygon.points[i];
        const FacePoint& b = polygon.points[(i + 1) % polygon.count];
        sum += a.u * b.v - b.u * a.v;
    }
    return 0.5 * std::abs(sum);
}

std::array<Vec3, 3> axesOf(const Quaternion& orientation) {
    Polyhedron frame;
    frame.orientation = orientation;
    return frame.axes();
}

// One face of the organism: its plane and the rectangle's half sizes along its two tangents.
struct Face {
    Vec3 normal;
    Vec3 center;
    Vec3 t1;
    Vec3 t2;
    double h1 = 0.0;
    double h2 = 0.0;
};

// The area over which face j of p, seen along the face's normal, covers the organism's face; 0 when
// the two are not coplanar.
double overlapArea(const Face& face, const Polyhedron& p, const std::array<Vec3, 3>& axis, int j,
                   const Vec3& m) {
    const int l = faceAxis(j);
    const int l1 = (l + 1) % 3;
    const int l2 = (l + 2) % 3;
    const Vec3 q = p.center + m * p.halfExtents[l];
    const Vec3 s1 = axis[l1] * p.halfExtents[l1];
    const Vec3 s2 = axis[l2] * p.halfExtents[l2];
    static constexpr std::array<FacePoint, 4> signs{FacePoint{-1.0, -1.0}, FacePoint{1.0, -1.0},
                                                    FacePoint{1.0, 1.0}, FacePoint{-1.0, 1.0}};
    FacePolygon polygon;
    for (const FacePoint& sign : signs) {
        const Vec3 r = q + s1 * sign.u + s2 * sign.v - face.center;
        if (std::abs(dot(r, face.normal)) > coplanarTolerance)
            return 0.0;
        polygon.points[polygon.count++] = {dot(r, face.t1), dot(r, face.t2)};
    }
    FacePolygon clipped;
    clip(polygon, clipped, [&](const FacePoint& x) { return x.u + face.h1; });
    clip(clipped, polygon, [&](const FacePoint& x) { return face.h1 - x.u; });
    clip(polygon, clipped, [&](const FacePoint& x) { return face.h2 - x.v; });
    clip(clipped, polygon, [&](const FacePoint& x) { return x.v + face.h2; });
    return shoelaceArea(polygon);
}

} // namespace

double Ecology::contactArea(const Organism& o, const Polyhedron& p, std::uint32_t faceMask) {
    if (beyondTouch(o.center, o.halfExtents, p.center, p.halfExtents))
        return 0.0;
    const std::array<Vec3, 3> own = axesOf(o.orientation);
    const std::array<Vec3, 3> other = p.axes();
    double best = 0.0;
    for (int i = 0; i < 6; ++i) {
        if (!(faceMask & (1u << i)))
            continue;
        const int k = faceAxis(i);
        Face face;
        face.normal = (i & 1) ? -own[k] : own[k];
        face.center = o.center + face.normal * o.halfExtents[k];
        face.t1 = own[(k + 1) % 3];
        face.t2 = own[(k + 2) % 3];
        face.h1 = o.halfExtents[(k + 1) % 3];
        face.h2 = o.halfExtents[(k + 2) % 3];
        for (int j = 0; j < 6; ++j) {
            const int l = faceAxis(j);
            const Vec3 m = (j & 1) ? -other[l] : other[l];
            // Only a face of p turned against the organism's face can lie on it.
            if (!(dot(face.normal, m) <= facingLimit))
                continue;
            best = std::max(best, overlapArea(face, p, other, j, m));
        }
    }
    return best;
}

} // namespace zarn
