#include "physics/Geometry.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace zarn {

namespace {

// A cross product shorter than this comes from two (nearly) parallel box axes and separates nothing.
constexpr double kShortAxis = 1e-7;
// Bounds closer than this on an axis are touching; a gap wider than this never bonds.
constexpr double kBondGap = 0.035;
// Touching faces sharing less than this (m²) are an edge graze, not a face.
constexpr double kMinBondArea = 1e-4;
// Corners within this of the furthest projection belong to the supporting feature.
constexpr double kSupportTolerance = 0.03;

// The 15 test axes of a box pair, component by component so that the loops over them vectorise:
// slots 0-2 are a's axes, 3-5 b's, 6-14 the cross products a_i x b_j (i outer, j inner) and slot
// 15 pads the cross products to an even count. Axes shorter than kShortAxis are marked unusable;
// the others are normalised.
constexpr int kFaceSlots = 6;
constexpr int kSlots = 16;

struct TestAxes {
    alignas(16) std::array<double, kSlots> x;
    alignas(16) std::array<double, kSlots> y;
    alignas(16) std::array<double, kSlots> z;
    alignas(16) std::array<double, kSlots> len;
};

// Projections of both boxes and of one or two offsets on every test axis.
struct Projections {
    alignas(16) std::array<double, kSlots> radius; // projected radius of a plus that of b
    alignas(16) std::array<double, kSlots> along;  // first offset on the axis
    alignas(16) std::array<double, kSlots> moved;  // second offset on the axis (sweeps only)
};

inline bool usable(const TestAxes& t, int k) {
    return !(t.len[k] < kShortAxis);
}

template <int Begin, int End> inline void normaliseAxes(TestAxes& t) {
    bool trivial = true;
    for (int k = Begin; k < End; ++k) {
        t.len[k] = t.x[k] * t.x[k] + t.y[k] * t.y[k] + t.z[k] * t.z[k];
        trivial &= t.len[k] == 0.0 || t.len[k] == 1.0;
    }
    // Boxes aligned with each other (most of a standing building) only have axes of squared length
    // exactly 0 or 1: their lengths are those same numbers and dividing by 1 changes nothing.
    if (trivial) {
        return;
    }
    static_assert((End - Begin) % 2 == 0 && Begin % 2 == 0);
#if defined(__SSE2__) || defined(_M_X64)
    // Two correctly rounded square roots at a time: the same bits as std::sqrt, which the compiler
    // keeps scalar because of errno.
    for (int k = Begin; k < End; k += 2) {
        _mm_store_pd(&t.len[k], _mm_sqrt_pd(_mm_load_pd(&t.len[k])));
    }
#else
    for (int k = Begin; k < End; ++k) {
        t.len[k] = std::sqrt(t.len[k]);
    }
#endif
    for (int k = Begin; k < End; ++k) {
        t.x[k] /= t.len[k];
        t.y[k] /= t.len[k];
        t.z[k] /= t.len[k];
    }
}

void faceAxes(TestAxes& t, const std::array<Vec3, 3>& a, const std::array<Vec3, 3>& b) {
    for (int i = 0; i < 3; ++i) {
        t.x[i] = a[i].x;
        t.y[i] = a[i].y;
        t.z[i] = a[i].z;
        t.x[3 + i] = b[i].x;
        t.y[3 + i] = b[i].y;
        t.z[3 + i] = b[i].z;
    }
    normaliseAxes<0, kFaceSlots>(t);
}

void crossAxes(TestAxes& t, const std::array<Vec3, 3>& a, const std::array<Vec3, 3>& b) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const Vec3 c = cross(a[i], b[j]);
            const int k = kFaceSlots + 3 * i + j;
            t.x[k] = c.x;
            t.y[k] = c.y;
            t.z[k] = c.z;
        }
    }
    // The padding slot is a zero axis: unusable, and its 0/0 is never read.
    t.x[kSlots - 1] = 0.0;
    t.y[kSlots - 1] = 0.0;
    t.z[kSlots - 1] = 0.0;
    normaliseAxes<kFaceSlots, kSlots>(t);
}

// For every axis L of the range: |L.a_0| ha.x + |L.a_1| ha.y + |L.a_2| ha.z plus the same for b,
// L.offset and L.motion; term for term what projectedRadius and dot compute.
template <int Begin, int End, bool WithMotion>
inline void project(const TestAxes& t, const std::array<Vec3, 3>& a, const Vec3& ha,
                    const std::array<Vec3, 3>& b, const Vec3& hb, const Vec3& offset, const Vec3& motion,
                    Projections& p) {
    for (int k = Begin; k < End; ++k) {
        const double lx = t.x[k];
        const double ly = t.y[k];
        const double lz = t.z[k];
        const double ra = ha.x * std::abs(lx * a[0].x + ly * a[0].y + lz * a[0].z) +
                          ha.y * std::abs(lx * a[1].x + ly * a[1].y + lz * a[1].z) +
                          ha.z * std::abs(lx * a[2].x + ly * a[2].y + lz * a[2].z);
        const double rb = hb.x * std::abs(lx * b[0].x + ly * b[0].y + lz * b[0].z) +
                          hb.y * std::abs(lx * b[1].x + ly * b[1].y + lz * b[1].z) +
                          hb.z * std::abs(lx * b[2].x + ly * b[2].y + lz * b[2].z);
        p.radius[k] = ra + rb;
        p.along[k] = offset.x * lx + offset.y * ly + offset.z * lz;
        if constexpr (WithMotion) {
            p.moved[k] = motion.x * lx + motion.y * ly + motion.z * lz;
        }
    }
}

inline double radiusAlong(const std::array<Vec3, 3>& axis, const Vec3& h, const Vec3& direction) {
    return h.x * std::abs(dot(direction, axis[0])) + h.y * std::abs(dot(direction, axis[1])) +
           h.z * std::abs(dot(direction, axis[2]));
}

inline Vec3 slotAxis(const TestAxes& t, int k) {
    return {t.x[k], t.y[k], t.z[k]};
}

// A box whose axes are exactly the world axes. For a pair of them every product of the axis tests
// is exact: b's axes and the cross products only repeat a's three overlaps (or are zero), so they
// can neither separate the pair nor win a tie, and the three world axes give the whole answer.
inline bool worldAligned(const Polyhedron& box) {
    return box.orientation.x == 0.0 && box.orientation.y == 0.0 && box.orientation.z == 0.0;
}

inline Vec3 worldAxis(int k, double sign) {
    Vec3 v;
    v[k] = sign;
    return v;
}

Vec3 supportFaceOf(const Polyhedron& box, const std::array<Vec3, 3>& axis, const Vec3& direction) {
    const std::array<Vec3, 8> corners = box.vertices(axis);
    std::array<double, 8> projection;
    double best = -HUGE_VAL;
    for (int i = 0; i < 8; ++i) {
        projection[i] = dot(corners[i], direction);
        if (projection[i] > best) {
            best = projection[i];
        }
    }
    Vec3 sum;
    int count = 0;
    for (int i = 0; i < 8; ++i) {
        if (best - projection[i] <= kSupportTolerance) {
            sum += corners[i];
            ++count;
        }
    }
    // A NaN direction selects no corner; fall back to the centre rather than divide by zero.
    return count > 0 ? sum / static_cast<double>(count) : box.center;
}

// Scans the axes of [begin, end) in order. Returns false at the first separating axis; otherwise
// keeps the first axis with the smallest overlap, its normal pointing from a to b.
bool scanOverlaps(const TestAxes& t, const Projections& p, int begin, int end, double& depth, Vec3& normal) {
    for (int k = begin; k < end; ++k) {
        if (!usable(t, k)) {
            continue;
        }
        const double overlap = p.radius[k] - std::abs(p.along[k]);
        if (overlap <= 0.0) {
            return false;
        }
        // Strictly smaller: the first axis with the smallest overlap keeps the contact.
        if (overlap < depth) {
            depth = overlap;
            normal = p.along[k] <= 0.0 ? -slotAxis(t, k) : slotAxis(t, k);
        }
    }
    return true;
}

// The contact point sits halfway into the overlap, on the lighter box's supporting feature.
bool contactFrom(const Polyhedron& a, const std::array<Vec3, 3>& fa, const Polyhedron& b,
                 const std::array<Vec3, 3>& fb, double depth, const Vec3& normal, Contact& out) {
    const double half = depth / 2.0;
    out.normal = normal;
    out.depth = depth;
    out.point = b.mass < a.mass ? supportFaceOf(b, fb, -normal) + normal * half
                                : supportFaceOf(a, fa, normal) - normal * half;
    return true;
}

BoxSweep sweepMiss() {
    return {};
}

} // namespace

double boxDistance(const Vec3& point, const MatterPiece& piece) {
    const Polyhedron& box = piece.body;
    const Vec3 local = box.orientation.rotateInverse(point - box.center);
    const Vec3 outside{std::max(std::abs(local.x) - box.halfExtents.x, 0.0),
                       std::max(std::abs(local.y) - box.halfExtents.y, 0.0),
                       std::max(std::abs(local.z) - box.halfExtents.z, 0.0)};
    return length(outside);
}

double projectedRadius(const Polyhedron& box, const Vec3& direction) {
    return radiusAlong(box.axes(), box.halfExtents, direction);
}

Vec3 supportFace(const Polyhedron& box, const Vec3& direction) {
    return supportFaceOf(box, box.axes(), direction);
}

bool collide(const Polyhedron& a, const Polyhedron& b, Contact& out) {
    const Vec3 d = b.center - a.center;
    // Bounding spheres apart: most pairs of a broad phase end here.
    if (length(a.halfExtents) + length(b.halfExtents) < length(d)) {
        return false;
    }
    const std::array<Vec3, 3> fa = a.axes();
    const std::array<Vec3, 3> fb = b.axes();
    double depth = 1e30;
    Vec3 normal;

    if (worldAligned(a) && worldAligned(b)) {
        const std::array<double, 3> ha{a.halfExtents.x, a.halfExtents.y, a.halfExtents.z};
        const std::array<double, 3> hb{b.halfExtents.x, b.halfExtents.y, b.halfExtents.z};
        const std::array<double, 3> along{d.x, d.y, d.z};
        for (int k = 0; k < 3; ++k) {
            const double overlap = ha[k] + hb[k] - std::abs(along[k]);
            if (overlap <= 0.0) {
                return false;
            }
            if (overlap < depth) {
                depth = overlap;
                normal = along[k] <= 0.0 ? -worldAxis(k, 1.0) : worldAxis(k, 1.0);
            }
        }
        return contactFrom(a, fa, b, fb, depth, normal, out);
    }

    TestAxes axes;
    Projections p;
    // Face axes first: a pair that only misses at a face is rejected before the cross products.
    faceAxes(axes, fa, fb);
    project<0, kFaceSlots, false>(axes, fa, a.halfExtents, fb, b.halfExtents, d, {}, p);
    if (!scanOverlaps(axes, p, 0, kFaceSlots, depth, normal)) {
        return false;
    }
    crossAxes(axes, fa, fb);
    project<kFaceSlots, kSlots, false>(axes, fa, a.halfExtents, fb, b.halfExtents, d, {}, p);
    if (!scanOverlaps(axes, p, kFaceSlots, kSlots - 1, depth, normal)) {
        return false;
    }

    return contactFrom(a, fa, b, fb, depth, normal, out);
}

bool faceContact(const MatterPiece& a, const MatterPiece& b, Bond& out) {
    return faceContact(a, a.body.bounds(), b, b.body.bounds(), out);
}

bool faceContact(const MatterPiece& a, const Box& ba, const MatterPiece& b, const Box& bb, Bond& out) {
    const Vec3 lo = componentMax(ba.min, bb.min);
    const Vec3 hi = componentMin(ba.max, bb.max);
    const std::array<double, 3> gap{hi.x - lo.x, hi.y - lo.y, hi.z - lo.z};

    int nearCount = 0;
    int nearAxis = -1;
    int wideCount = 0;
    for (int k = 0; k < 3; ++k) {
        if (gap[k] < -kBondGap) {
            return false;
        }
        if (std::abs(gap[k]) < kBondGap) {
            ++nearCount;
            nearAxis = k;
        } else if (gap[k] >= kBondGap) {
            ++wideCount;
        }
    }
    // An axis whose gap is exactly -kBondGap is neither touching nor overlapping: no bond.
    if (nearCount + wideCount < 3 || nearCount > 1) {
        return false;
    }

    if (nearCount == 1) {
        const int k = nearAxis;
        const int u = (k + 1) % 3;
        const int v = (k + 2) % 3;
        const double area = gap[u] * gap[v];
        if (area < kMinBondArea) {
            return false;
        }
        Vec3 normal;
        normal[k] = b.body.center[k] < a.body.center[k] ? -1.0 : 1.0;
        out.a = a.id;
        out.b = b.id;
        out.area = area;
        out.stress = 0.0;
        out.center = (lo + hi) / 2.0;
        out.normal = normal;
        out.intact = true;
        return true;
    }

    // The bounds overlap deeply on every axis, as they do for rotated pieces: ask the exact test.
    Contact contact;
    if (!collide(a.body, b.body, contact)) {
        return false;
    }
    const Vec3& ha = a.body.halfExtents;
    const Vec3& hb = b.body.halfExtents;
    const double faceArea = std::min(std::min(4.0 * ha.x * ha.z, 4.0 * hb.x * hb.z),
                                     std::min(4.0 * ha.x * ha.y, 4.0 * hb.x * hb.y));
    out.a = a.id;
    out.b = b.id;
    out.area = std::max(0.001, faceArea);
    out.stress = 0.0;
    out.center = contact.point;
    out.normal = contact.normal;
    out.intact = true;
    return true;
}

namespace {

// The separating-axis sweep of a pair whose swept bounds reach each other. Lazily, the cross products
// are worked out only once the face axes have not ruled the pair out: a saving where many pairs
// miss on a face, a cost where most go on to the cross products.
template <bool Lazily>
BoxSweep sweepReached(const Polyhedron& moving, const std::array<Vec3, 3>& fa, const Vec3& displacement,
                      const Polyhedron& still, const std::array<Vec3, 3>& fb) {
    TestAxes axes;
    Projections p;
    const Vec3 offset = moving.center - still.center;
    int count = kSlots - 1;
    const bool aligned = worldAligned(moving) && worldAligned(still);
    if (aligned) {
        // The three world axes decide alone (see worldAligned).
        count = 3;
        for (int k = 0; k < 3; ++k) {
            const Vec3 axis = worldAxis(k, 1.0);
            axes.x[k] = axis.x;
            axes.y[k] = axis.y;
            axes.z[k] = axis.z;
            axes.len[k] = 1.0;
            p.radius[k] = moving.halfExtents[k] + still.halfExtents[k];
            p.along[k] = offset[k];
            p.moved[k] = displacement[k];
        }
    } else if (Lazily) {
        faceAxes(axes, fa, fb);
        project<0, kFaceSlots, true>(axes, fa, moving.halfExtents, fb, still.halfExtents, offset,
                                     displacement, p);
    } else {
        faceAxes(axes, fa, fb);
        crossAxes(axes, fa, fb);
        project<0, kSlots, true>(axes, fa, moving.halfExtents, fb, still.halfExtents, offset, displacement,
                                 p);
    }

    bool overlapping = true;
    double enter = -1e30;
    double exit = 1.0;
    double minOverlap = 1e30;
    Vec3 overlapNormal;
    Vec3 hitNormal;
    for (int k = 0; k < count; ++k) {
        if (Lazily && k == kFaceSlots) {
            crossAxes(axes, fa, fb);
            project<kFaceSlots, kSlots, true>(axes, fa, moving.halfExtents, fb, still.halfExtents, offset,
                                              displacement, p);
        }
        if (!usable(axes, k)) {
            continue;
        }
        const double r = p.radius[k];
        const double c = p.along[k];
        const double v = p.moved[k];
        const double sep = r - std::abs(c);
        if (sep < minOverlap) {
            minOverlap = sep;
            overlapNormal = c < 0.0 ? -slotAxis(axes, k) : slotAxis(axes, k);
        }

        const bool moves = std::abs(v) >= 1e-12;
        if (!overlapping || sep <= 1e-6) {
            if (!moves) {
                // Not moving along a separating (or barely touching) axis: it stays apart.
                if (sep <= 1e-7) {
                    return sweepMiss();
                }
                overlapping = false;
                continue;
            }
            overlapping = false;
        } else if (!moves) {
            continue;
        }

        // The time interval in which the projections overlap on this axis.
        double t1 = (-r - c) / v;
        double t2 = (r - c) / v;
        if (t1 > t2) {
            std::swap(t1, t2);
        }
        if (t1 > enter) {
            enter = t1;
            hitNormal = v > 0.0 ? -slotAxis(axes, k) : slotAxis(axes, k);
        }
        exit = std::min(exit, t2);
        if (exit < enter) {
            return sweepMiss();
        }
    }

    if (overlapping) {
        return {true, 0.0, minOverlap, overlapNormal};
    }
    if (enter >= -1e-8 && enter <= 1.0 && exit >= 0.0 && dot(displacement, hitNormal) < -1e-10) {
        return {true, std::max(enter, 0.0), 0.0, hitNormal};
    }
    return sweepMiss();
}

} // namespace

MovingBox::MovingBox(const Polyhedron& moving, const Vec3& motion)
    : body(moving), displacement(motion), axes(moving.axes()) {
    const Box start = moving.bounds(axes);
    Polyhedron arrived = moving;
    arrived.center += motion;
    const Box end = arrived.bounds(axes);
    sweptMin = componentMin(start.min, end.min);
    sweptMax = componentMax(start.max, end.max);
}

BoxSweep sweepPolyhedra(const Polyhedron& moving, const Vec3& displacement, const Polyhedron& still) {
    const std::array<Vec3, 3> fa = moving.axes();
    const std::array<Vec3, 3> fb = still.axes();

    // Broad test: the space the moving box sweeps, bounded coarsely, must reach the still box.
    const Box start = moving.bounds(fa);
    Polyhedron arrived = moving;
    arrived.center += displacement;
    const Box end = arrived.bounds(fa);
    const Vec3 sweptMin = componentMin(start.min, end.min);
    const Vec3 sweptMax = componentMax(start.max, end.max);
    const Box target = still.bounds(fb);
    if (sweptMin.x > target.max.x || sweptMax.x < target.min.x || sweptMin.y > target.max.y ||
        sweptMax.y < target.min.y || sweptMin.z > target.max.z || sweptMax.z < target.min.z) {
        return sweepMiss();
    }
    return sweepReached<false>(moving, fa, displacement, still, fb);
}

BoxSweep sweepPolyhedra(const MovingBox& moving, const Polyhedron& still) {
    const std::array<Vec3, 3> fb = still.axes();
    if (!moving.reaches(still.bounds(fb))) {
        return sweepMiss();
    }
    return sweepReached<true>(moving.body, moving.axes, moving.displacement, still, fb);
}

BoxSweep sweepPolyhedra(const MovingBox& moving, const Polyhedron& still, const Box& stillBounds) {
    if (!moving.reaches(stillBounds)) {
        return sweepMiss();
    }
    return sweepReached<true>(moving.body, moving.axes, moving.displacement, still, still.axes());
}

double tracePolyhedron(const Vec3& origin, const Vec3& direction, const Polyhedron& box, double limit) {
    const Vec3 o = box.orientation.rotateInverse(origin - box.center);
    const Vec3 d = box.orientation.rotateInverse(direction);
    const std::array<double, 3> start{o.x, o.y, o.z};
    const std::array<double, 3> step{d.x, d.y, d.z};
    const std::array<double, 3> half{box.halfExtents.x, box.halfExtents.y, box.halfExtents.z};
    double tmin = 0.0;
    double tmax = limit;
    for (int k = 0; k < 3; ++k) {
        if (std::abs(step[k]) < 1e-10) {
            // Parallel to this slab: inside it for the whole ray, or never.
            if (start[k] < -half[k] || start[k] > half[k]) {
                return -1.0;
            }
            continue;
        }
        double t1 = (-half[k] - start[k]) / step[k];
        double t2 = (half[k] - start[k]) / step[k];
        if (t1 > t2) {
            std::swap(t1, t2);
        }
        tmin = std::max(tmin, t1);
        tmax = std::min(tmax, t2);
        if (tmin > tmax) {
            return -1.0;
        }
    }
    return tmin;
}

} // namespace zarn
