#pragma once

#include <cstdint>
#include <cstring>

#include "physics/Physics.hpp"
#include "support/StateHash.hpp"

// Small worlds and a state fingerprint shared by the stepping and impact tests.
namespace zarn::steptest {

inline MatterPiece box(const Vec3& center, const Vec3& half, bool anchored = false) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = half;
    piece.anchored = anchored;
    return piece;
}

inline MatterPiece cube(const Vec3& center, double half, bool anchored = false) {
    return box(center, {half, half, half}, anchored);
}

// An anchored 20 x 1 x 20 m ground slab whose top is at y = 0; its pieces stay anchored when it breaks.
inline std::uint32_t addGround(Physics& physics) {
    MatterPiece ground = box({0.0, -0.5, 0.0}, {10.0, 0.5, 10.0}, true);
    ground.groundLevel = -1.0;
    return physics.add(ground);
}

using test::StateHash;

// Fingerprint of a whole matter world.
inline std::uint64_t stateHash(const Physics& physics) {
    StateHash h;
    test::hashPhysics(h, physics);
    return h.value();
}

// Kinetic energy of the matter free to move (alive, neither anchored nor supported), turning
// included: what no contact may add to.
inline double movingEnergy(const Physics& physics) {
    double energy = 0.0;
    for (const MatterPiece& piece : physics.pieces) {
        if (!piece.alive || piece.anchored || piece.supported)
            continue;
        const Polyhedron& body = piece.body;
        energy += 0.5 * body.mass * dot(body.velocity, body.velocity) +
                  0.5 * dot(body.angularVelocity, body.inertia() * body.angularVelocity);
    }
    return energy;
}

} // namespace zarn::steptest
