#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// One square of a cube face, projected onto the sphere: what the overview refines. The world axes
// serve as the cube's, the planet's centre lying 6,371,004 m below the world origin.
struct OverviewPatch {
    Vec3 origin; // centre of the cube face: a unit axis vector
    Vec3 axisU;
    Vec3 axisV;
    double offsetU = 0.0; // patch centre along axisU, face units (-1..1)
    double offsetV = 0.0;
    double size = 2.0;     // side in face units
    double priority = 0.0; // angular size from the eye, set when queued
    std::int32_t level = 0;
};

// Where a patch lies: its centre on the sphere in world coordinates, its up direction and radius.
struct PatchPlace {
    Vec3 center;
    Vec3 up;
    double radius = 0.0;
};

// Working storage of the overview's refinement, kept between rebuilds; holds no state.
struct OverviewScratch {
    std::vector<OverviewPatch> patches; // every patch queued in this rebuild, in queue order
    std::vector<PatchPlace> places;     // theirs
    std::vector<std::uint32_t> heap;    // indices of the queued ones
    std::vector<std::uint32_t> leaves;  // indices of the leaves, in leaf order
};

// The priority the patch is queued with (its angular size from the eye), or none when it is culled:
// when it lies beyond the horizon, facing away, or behind the viewer looking along the unit vector
// `forward`.
std::optional<double> overviewPriority(const OverviewPatch& patch, const Vec3& eye, const Vec3& forward);

} // namespace zarn
