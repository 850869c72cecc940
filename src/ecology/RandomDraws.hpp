#pragma once

#include <cstdint>

#include "physics/Math.hpp"

namespace zarn {

// The seeded draws of the block organisms (rain and replication); seeds wrap in u32.

// Components 2 U(seed + k) - 1 for k = 0, 1, 2, each in [-1, 1).
Vec3 randomVector(std::uint32_t seed);
// A unit rotation from U(seed), U(seed + 1) and U(seed + 2), uniformly distributed over all rotations.
Quaternion randomRotation(std::uint32_t seed);

} // namespace zarn
