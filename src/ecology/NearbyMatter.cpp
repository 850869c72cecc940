#include "ecology/NearbyMatter.hpp"

#include <vector>

#include "ecology/Clearance.hpp"

namespace zarn {

namespace {

// Physics::sweepBody looks this far around the swept bounds.
constexpr double sweepMargin = 0.001;
// The first query of a body covers this much more (m), and a share of its half diagonal more, so
// that the sub-steps after a hit, which start a little aside from where the first sweep ended, find
// their pieces in it. A wide body is pushed far when it starts inside matter; its query costs by
// its area, which a wider margin barely changes.
constexpr double coverMargin = 0.05;
constexpr double coverShare = 0.01;

bool holds(const Box& outer, const Box& inner) {
    return outer.min.x <= inner.min.x && outer.min.y <= inner.min.y && outer.min.z <= inner.min.z &&
           outer.max.x >= inner.max.x && outer.max.y >= inner.max.y && outer.max.z >= inner.max.z;
}

} // namespace

BodySweep NearbyMatter::sweep(const Polyhedron& body, const Vec3& displacement, double& depth) {
    const Box swept = grown(sweptBounds(body, displacement), sweepMargin);
    if (!known_ || !holds(covered_, swept)) {
        covered_ = grown(swept, coverMargin + coverShare * length(body.halfExtents));
        physics_.query(covered_, ids_);
        known_ = true;
        // A piece whose bounds lie clear of the covered box lies clear of every swept box it holds,
        // by more than rounding could close, and every sweep misses it. Not-a-number is never clear.
        if (!plain_)
            std::erase_if(ids_, [&](std::uint32_t id) {
                const Box b = physics_.pieces[id - 1].body.bounds();
                return b.min.x > covered_.max.x || b.max.x < covered_.min.x || b.min.y > covered_.max.y ||
                       b.max.y < covered_.min.y || b.min.z > covered_.max.z || b.max.z < covered_.min.z;
            });
    }
    return physics_.sweepPieces(ids_, body, displacement, depth);
}

} // namespace zarn
