#pragma once

#include <cmath>
#include <cstdint>

#include "physics/Hash.hpp"

namespace zarn {

// Smooth two-dimensional value noise in [0, 1): hashed values at the integer corners, blended with
// smoothstep weights, so it is continuous across integer lines and the same in every run. The relief
// of the planet's grid and the fine ground relief both come from it.
inline double noise(double x, double y) {
    const double floorX = std::floor(x);
    const double floorY = std::floor(y);
    const double fx = x - floorX;
    const double fy = y - floorY;
    // Corners hash in unsigned arithmetic: negative coordinates wrap to their two's-complement
    // patterns, and the corner past the last integer wraps round too.
    const auto ix = static_cast<std::uint32_t>(static_cast<std::int64_t>(floorX));
    const auto iy = static_cast<std::uint32_t>(static_cast<std::int64_t>(floorY));
    const auto corner = [](std::uint32_t a, std::uint32_t b) { return unitValue(hash32(hash32(a) ^ b)); };
    const double sx = fx * fx * (3.0 - 2.0 * fx);
    const double sy = fy * fy * (3.0 - 2.0 * fy);
    return (corner(ix, iy) * (1.0 - sx) + corner(ix + 1u, iy) * sx) * (1.0 - sy) +
           (corner(ix, iy + 1u) * (1.0 - sx) + corner(ix + 1u, iy + 1u) * sx) * sy;
}

} // namespace zarn
