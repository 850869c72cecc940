#pragma once

#include <array>
#include <cstdint>

#include "physics/Math.hpp"

namespace zarn {

// A box as the contact area sees it: centre, half extents, its three axes in world space, and what
// every face pair would compute again: the centres of its six faces and its half edges.
struct FacedBox {
    Vec3 center;
    Vec3 halfExtents;
    std::array<Vec3, 3> axes;
    std::array<Vec3, 6> faceCenters; // face i: center + (± axes[i / 2]) * its half extent
    std::array<Vec3, 3> halfEdges;   // axes[k] * its half extent
};

FacedBox facedBox(const Polyhedron& body);
FacedBox facedBox(const Vec3& center, const Vec3& halfExtents, const Quaternion& orientation);

// The contact area of Ecology::contactArea after its quick rejection, for callers that made that test
// themselves and measure many pairs of the same boxes: the largest overlap of a masked face of o with
// an opposite, coplanar face of p.
double faceOverlap(const FacedBox& o, const FacedBox& p, std::uint32_t faceMask);

} // namespace zarn
