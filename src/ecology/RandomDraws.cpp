#include "ecology/RandomDraws.hpp"

#include <cmath>
#include <numbers>

#include "physics/Hash.hpp"

namespace zarn {

Vec3 randomVector(std::uint32_t seed) {
    return {2.0 * unitHash(seed) - 1.0, 2.0 * unitHash(seed + 1u) - 1.0, 2.0 * unitHash(seed + 2u) - 1.0};
}

Quaternion randomRotation(std::uint32_t seed) {
    // Two independent angles on the two great circles, weighted by sqrt(u) and sqrt(1 - u): a
    // point drawn evenly from the unit sphere of four dimensions.
    const double u = unitHash(seed);
    const double a = 2.0 * std::numbers::pi * unitHash(seed + 1u);
    const double b = 2.0 * std::numbers::pi * unitHash(seed + 2u);
    const double near = std::sqrt(u);
    const double far = std::sqrt(1.0 - u);
    return {near * std::cos(b), far * std::sin(a), far * std::cos(a), near * std::sin(b)};
}

} // namespace zarn
