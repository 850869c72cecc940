#pragma once

#include <cstdint>
#include <vector>

#include "physics/Physics.hpp"

namespace zarn {

// The matter that the sweeps of one body in one step may meet, from one grid query that the later
// sweeps reuse while their swept bounds lie inside the box it covered. Every piece whose bounds
// reach a box is among the grid's candidates for any box that holds it, so a sweep meets the same
// pieces, in the same id order, as Physics::sweepBody, and answers what it answers. A body stuck
// among matter meets up to eight obstacles a step, and a wide one reaches thousands of pieces; this
// keeps it to one query, and of the pieces it lists keeps only those whose bounds reach the box it
// covered (all of them on the plain walk).
class NearbyMatter {
  public:
    explicit NearbyMatter(const Physics& physics, bool plain = false) : physics_(physics), plain_(plain) {}

    // Forgets the pieces found, for another body.
    void forget() { known_ = false; }
    // The answer of Physics::sweepBody for the same body, displacement and depth.
    BodySweep sweep(const Polyhedron& body, const Vec3& displacement, double& depth);

  private:
    const Physics& physics_;
    bool plain_;
    bool known_ = false;
    Box covered_;
    std::vector<std::uint32_t> ids_;
};

} // namespace zarn
