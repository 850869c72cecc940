#include <algorithm>
#include <cmath>

#include "world/World.hpp"

namespace zarn {

namespace {

// Tangents across the hull for an up direction: t1 and t2 span the hull's square cross-section.
struct HullFrame {
    Vec3 up;
    Vec3 t1;
    Vec3 t2;
};

HullFrame hullFrame(const Vec3& up) {
    HullFrame f;
    f.up = up;
    f.t1 = std::abs(up.z) < 0.99 ? normalized(cross(up, Vec3{0.0, 0.0, 1.0}))
                                 : normalized(cross(up, Vec3{1.0, 0.0, 0.0}));
    f.t2 = normalized(cross(f.t1, up));
    return f;
}

// One padded box around the whole sweep, hull included, for the grid query.
Box sweepBounds(const Vec3& from, const Vec3& to, double radius, double height, const HullFrame& f) {
    Box box;
    for (int i = 0; i < 3; ++i) {
        const double w = (std::abs(f.t1[i]) + std::abs(f.t2[i])) * radius + 0.02;
        box.min[i] = std::min(from[i], to[i]) + std::min(0.0, f.up[i] * height) - w;
        box.max[i] = std::max(from[i], to[i]) + std::max(0.0, f.up[i] * height) + w;
    }
    return box;
}

// Sweeps the hull against one oriented box and folds the outcome into the result. The box is grown
// by the hull's extent along each face normal, so the hull's foot point moves against six planes.
void sweepAgainstBox(const Polyhedron& box, const Vec3& from, const Vec3& d, double radius, double height,
                     const HullFrame& f, HullTrace& result) {
    bool inside = true;
    double leastPenetration = 1e30;
    Vec3 leastNormal;
    double tEnter = -1e30;
    double tExit = 1.0;
    Vec3 enterNormal;
    const double halfExtents[3] = {box.halfExtents.x, box.halfExtents.y, box.halfExtents.z};
    for (int k = 0; k < 3; ++k) {
        for (const double sign : {-1.0, 1.0}) {
            Vec3 axis;
            axis[k] = sign;
            const Vec3 n = box.orientation.rotate(axis);
            const double un = dot(f.up, n);
            const double delta = dot(n, from - box.center) - halfExtents[k] -
                                 radius * (std::abs(dot(f.t1, n)) + std::abs(dot(f.t2, n))) -
                                 std::max(0.0, -un * height);
            const double v = dot(n, d);
            if (!(delta < -1e-5)) {
                inside = false;
            }
            if (-delta < leastPenetration) {
                leastPenetration = -delta;
                leastNormal = n;
            }
            if (std::abs(v) < 1e-10) {
                if (delta >= -1e-8) {
                    return; // running parallel outside this plane: the box can't be reached
                }
                continue;
            }
            const double t = -delta / v;
            if (v < 0.0) {
                if (t > tEnter) {
                    tEnter = t;
                    enterNormal = n;
                }
            } else {
                tExit = std::min(tExit, t);
            }
        }
    }
    if (inside) {
        const double push = leastPenetration + 0.001;
        if (!result.stuck || length(result.pushOut) < push) {
            result.pushOut = leastNormal * push;
        }
        result.stuck = true;
        result.fraction = 0.0;
        return;
    }
    if (tEnter <= tExit && tEnter >= -1e-8 && tEnter < result.fraction && dot(enterNormal, d) < 0.0) {
        result.fraction = std::max(0.0, tEnter - 1e-6);
        result.normal = enterNormal;
    }
}

bool boxesMeet(const Box& a, const Box& b) {
    for (int i = 0; i < 3; ++i) {
        if (a.max[i] < b.min[i] || b.max[i] < a.min[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

Vec3 IWorldTrace::gravityUp() const {
    return {0.0, 1.0, 0.0};
}

HullTrace World::traceHull(const Vec3& from, const Vec3& to, double radius, double height) const {
    const Vec3 d = to - from;
    HullTrace result;
    result.end = to;
    const HullFrame frame = hullFrame(gravityUp());
    const Box bounds = sweepBounds(from, to, radius, height, frame);
    for (const std::uint32_t id : physics.query(bounds)) {
        const MatterPiece& piece = physics.pieces[id - 1];
        if (piece.alive) {
            sweepAgainstBox(piece.body, from, d, radius, height, frame, result);
        }
    }
    // The living organisms stand in the way too, those whose bounds meet the query box (touching
    // counts).
    if (earth) {
        for (const Organism& organism : earth->ecology.organisms) {
            if (organism.alive && !organism.placing && boxesMeet(Ecology::bounds(organism), bounds)) {
                sweepAgainstBox(Ecology::body(organism), from, d, radius, height, frame, result);
            }
        }
    }
    result.end = from + d * result.fraction;
    return result;
}

MatterHit World::traceLine(const Vec3& origin, const Vec3& direction, double length) const {
    const PieceHit h = physics.trace(origin, direction, length);
    MatterHit result;
    result.distance = h.distance;
    result.point = h.point;
    result.normal = h.normal;
    result.hit = h.hit;
    if (h.hit) {
        result.piece = static_cast<std::int32_t>(h.index);
        // After the star world rebuilds its matter the pieces keep building numbers that the
        // emptied building list no longer holds: those name no building either.
        const std::int32_t building = physics.pieces[h.index].building;
        const bool listed = building >= 0 && static_cast<std::size_t>(building) < buildings.size();
        result.building = listed ? building : -1;
    }
    return result;
}

} // namespace zarn
