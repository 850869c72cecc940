#pragma once

#include <array>

#include "physics/Math.hpp"
#include "physics/Records.hpp"

namespace zarn {

// Result of the box-against-box test; the normal points from the first box towards the second.
struct Contact {
    Vec3 normal;
    Vec3 point;
    double depth = 0.0;
};

// Result of sweeping a moving box against a still one; the normal points from the still box
// towards the moving one.
struct BoxSweep {
    bool hit = false;
    double fraction = 1.0;
    double depth = 0.0;
    Vec3 normal;
};

// Distance from a point to a piece's box, 0 inside.
double boxDistance(const Vec3& point, const MatterPiece& piece);
// Half width of the box along a unit direction.
double projectedRadius(const Polyhedron& box, const Vec3& direction);
// Mean of the corners within 0.03 of the furthest projection on the direction.
Vec3 supportFace(const Polyhedron& box, const Vec3& direction);
// Separating-axis overlap test over the 15 axes.
bool collide(const Polyhedron& a, const Polyhedron& b, Contact& out);
// The bond test between two pieces, on their world bounds.
bool faceContact(const MatterPiece& a, const MatterPiece& b, Bond& out);
// The same with the bounds of both bodies given, for callers that hold them already.
bool faceContact(const MatterPiece& a, const Box& boundsA, const MatterPiece& b, const Box& boundsB,
                 Bond& out);
BoxSweep sweepPolyhedra(const Polyhedron& moving, const Vec3& displacement, const Polyhedron& still);

// The moving box's share of sweepPolyhedra, worked out once for the sweeps of one displacement
// against many still boxes: its axes and the bounds it sweeps through.
struct MovingBox {
    MovingBox(const Polyhedron& body, const Vec3& displacement);
    // Whether the swept bounds reach a still box's bounds: sweepPolyhedra misses every box they do not.
    bool reaches(const Box& still) const {
        return !(sweptMin.x > still.max.x || sweptMax.x < still.min.x || sweptMin.y > still.max.y ||
                 sweptMax.y < still.min.y || sweptMin.z > still.max.z || sweptMax.z < still.min.z);
    }

    const Polyhedron& body;
    Vec3 displacement;
    std::array<Vec3, 3> axes;
    Vec3 sweptMin;
    Vec3 sweptMax;
};
// sweepPolyhedra(moving.body, moving.displacement, still), to the bit.
BoxSweep sweepPolyhedra(const MovingBox& moving, const Polyhedron& still);
// The same for a still box whose bounds the caller holds: they must be still.bounds() to the bit.
BoxSweep sweepPolyhedra(const MovingBox& moving, const Polyhedron& still, const Box& stillBounds);
// Ray parameter of the first point of the box within [0, limit], 0 from inside, -1 on a miss.
double tracePolyhedron(const Vec3& origin, const Vec3& direction, const Polyhedron& box, double limit);

} // namespace zarn
