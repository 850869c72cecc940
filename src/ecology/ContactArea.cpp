#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"
#include "ecology/FaceOverlap.hpp"

namespace zarn {

namespace {

// The two other axes of a box, in the order the face's tangents take them.
constexpr std::array<int, 3> nextAxis{1, 2, 0};
constexpr std::array<int, 3> lastAxis{2, 0, 1};

std::array<double, 3> components(const Vec3& v) {
    return {v.x, v.y, v.z};
}

// Faces count as facing when their normals are this close to opposite.
constexpr double facingLimit = -0.9995;
// ... and as coplanar when every corner of the other face lies this close to the plane.
constexpr double coplanarTolerance = 0.025;

// Left uninitialised on purpose: the polygons below are made on every touching pair.
struct FacePoint {
    double u;
    double v;
};

// A polygon in a face's plane. A clip at most doubles the points (a crossing and the point for each
// edge), so four clips of a quadrilateral never hold more than 4 * 2^4 points.
struct FacePolygon {
    std::array<FacePoint, 64> points;
    int count = 0;
};

// Sutherland-Hodgman: keeps the part of the polygon where inside(point) >= 0; an edge that crosses
// the line adds the crossing found by linear interpolation of the signed distances. A polygon wholly
// inside stays as it is and one wholly outside is emptied, as the general walk would leave them.
template <class Inside> void clip(FacePolygon*& current, FacePolygon*& scratch, Inside inside) {
    FacePolygon& polygon = *current;
    std::array<double, 64> d;
    int kept = 0;
    for (int i = 0; i < polygon.count; ++i) {
        d[i] = inside(polygon.points[i]);
        kept += d[i] >= 0.0 ? 1 : 0;
    }
    if (kept == polygon.count)
        return;
    if (kept == 0) {
        polygon.count = 0;
        return;
    }
    FacePolygon& out = *scratch;
    out.count = 0;
    int previous = polygon.count - 1;
    for (int i = 0; i < polygon.count; ++i) {
        const FacePoint& from = polygon.points[previous];
        const FacePoint& to = polygon.points[i];
        if ((d[i] >= 0.0) != (d[previous] >= 0.0)) {
            const double t = d[previous] / (d[previous] - d[i]);
            out.points[out.count++] = {from.u + (to.u - from.u) * t, from.v + (to.v - from.v) * t};
        }
        if (d[i] >= 0.0)
            out.points[out.count++] = to;
        previous = i;
    }
    std::swap(current, scratch);
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
double overlapArea(const Face& face, const FacedBox& p, int j) {
    const int l = faceAxis(j);
    const Vec3& q = p.faceCenters[j];
    const Vec3& s1 = p.halfEdges[nextAxis[l]];
    const Vec3& s2 = p.halfEdges[lastAxis[l]];
    static constexpr std::array<FacePoint, 4> signs{FacePoint{-1.0, -1.0}, FacePoint{1.0, -1.0},
                                                    FacePoint{1.0, 1.0}, FacePoint{-1.0, 1.0}};
    FacePolygon polygon;
    for (const FacePoint& sign : signs) {
        const Vec3 r = q + s1 * sign.u + s2 * sign.v - face.center;
        if (std::abs(dot(r, face.normal)) > coplanarTolerance)
            return 0.0;
        polygon.points[polygon.count++] = {dot(r, face.t1), dot(r, face.t2)};
    }
    FacePolygon other;
    FacePolygon* current = &polygon;
    FacePolygon* scratch = &other;
    clip(current, scratch, [&](const FacePoint& x) { return x.u + face.h1; });
    clip(current, scratch, [&](const FacePoint& x) { return face.h1 - x.u; });
    clip(current, scratch, [&](const FacePoint& x) { return face.h2 - x.v; });
    clip(current, scratch, [&](const FacePoint& x) { return x.v + face.h2; });
    return shoelaceArea(*current);
}

} // namespace

FacedBox facedBox(const Polyhedron& body) {
    FacedBox box{body.center, body.halfExtents, body.axes(), {}, {}};
    const std::array<double, 3> half = components(body.halfExtents);
    for (int k = 0; k < 3; ++k) {
        box.faceCenters[2 * k] = box.center + box.axes[k] * 1.0 * half[k];
        box.faceCenters[2 * k + 1] = box.center + box.axes[k] * -1.0 * half[k];
        box.halfEdges[k] = box.axes[k] * half[k];
    }
    return box;
}

FacedBox facedBox(const Vec3& center, const Vec3& halfExtents, const Quaternion& orientation) {
    Polyhedron body;
    body.center = center;
    body.halfExtents = halfExtents;
    body.orientation = orientation;
    return facedBox(body);
}

double faceOverlap(const FacedBox& o, const FacedBox& p, std::uint32_t faceMask) {
    const std::array<Vec3, 3>& own = o.axes;
    const std::array<Vec3, 3>& other = p.axes;
    const std::array<double, 3> half = components(o.halfExtents);
    double best = 0.0;
    // Face i of o and face j of p face each other when their normals, own[i / 2] and other[j / 2]
    // each negated for a minus face, have a dot product of at most -0.9995: the axes' dot product
    // with both signs applied, exactly. Only nearly parallel axes can give such a pair.
    for (int k = 0; k < 3; ++k) {
        for (int l = 0; l < 3; ++l) {
            const double along = dot(own[k], other[l]);
            if (!(std::abs(along) >= -facingLimit))
                continue;
            for (int i = 2 * k; i < 2 * k + 2; ++i) {
                if (!(faceMask & (1u << i)))
                    continue;
                const double sign = (i & 1) ? -1.0 : 1.0;
                Face face;
                face.normal = own[k] * sign;
                face.center = o.faceCenters[i];
                face.t1 = own[nextAxis[k]];
                face.t2 = own[lastAxis[k]];
                face.h1 = half[nextAxis[k]];
                face.h2 = half[lastAxis[k]];
                for (int j = 2 * l; j < 2 * l + 2; ++j) {
                    const double otherSign = (j & 1) ? -1.0 : 1.0;
                    if (!(sign * otherSign * along <= facingLimit))
                        continue;
                    best = std::max(best, overlapArea(face, p, j));
                }
            }
        }
    }
    return best;
}

double Ecology::contactArea(const Organism& o, const Polyhedron& p, std::uint32_t faceMask) {
    if (beyondTouch(o.center, length(o.halfExtents), p.center, length(p.halfExtents)))
        return 0.0;
    return faceOverlap(facedBox(o.center, o.halfExtents, o.orientation), facedBox(p), faceMask);
}

} // namespace zarn
