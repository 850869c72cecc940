#pragma once

#include <cmath>
#include <cstdint>

#include "ecology/Records.hpp"
#include "physics/Hash.hpp"
#include "physics/Records.hpp"

// What the organisms read of a patch's matter, and the airborne Slabs that water gives off.
namespace zarn::patchmatter {

// Water is an alive piece coloured clearly blue.
inline bool isWater(const MatterPiece& piece) {
    const Vec3& c = piece.color;
    return piece.alive && c.z > 1.5 * c.x && c.z > 1.15 * c.y;
}

// Organisms stand on anchored ground that is not water.
inline bool isGround(const MatterPiece& piece) {
    return piece.anchored && !isWater(piece);
}

inline Vec3 topCenter(const MatterPiece& piece) {
    return piece.body.center + Vec3{0.0, piece.body.halfExtents.y, 0.0};
}

// A Slab made by add turned into one of the first generation that has not landed: rising (stage 0)
// or drifting (stage 1), e wide with e = 10^(1 + 2 u) from 10 to 1000 m, not held to add's limit.
inline void makeAirborne(Organism& slab, std::uint32_t stage, std::uint32_t sizeSeed) {
    const double e = std::pow(10.0, 1.0 + 2.0 * unitHash(sizeSeed));
    slab.stage = stage;
    slab.landed = 0;
    slab.generation = 0;
    slab.halfExtents.x = e / 2.0;
    slab.halfExtents.z = e / 2.0;
}

} // namespace zarn::patchmatter
