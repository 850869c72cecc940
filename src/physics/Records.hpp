#pragma once

#include <cstdint>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// One box of matter. The field order is part of the save format's history; keep it.
struct MatterPiece {
    Polyhedron body;
    std::uint64_t owner = 0;    // terrain chunk key; 0 none, 1 the loaded map's own pieces
    double groundLevel = 1e30;  // anchoring height for split children; >= 1e29 means Physics::groundLevel
    std::uint32_t id = 0;       // index in Physics::pieces + 1; 0 none
    std::int32_t building = -1; // building index, negative for matter of no building
    Vec3 color{0.42, 0.43, 0.40};
    bool alive = true;
    bool anchored = false;
    bool supported = false;
    std::uint32_t generation = 0; // splits in the piece's ancestry
    std::int32_t assembly = -1;   // index in Physics::assemblies, -1 for supported or dead pieces
    double stress = 0.0;          // Pa, from the last load path or impact
    double bondableAt = 0.0;      // no contact bond forms before this time
    double stateTime = -1.0;      // creation or last wake; negative is unset
    bool asleep = false;
    bool indoor = false;
};

// A face bond between two pieces, by id.
struct Bond {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    double area = 0.0;
    double stress = 0.0;
    Vec3 center;
    Vec3 normal; // from a to b
    bool intact = true;
};

// A rigid group of bonded, unsupported pieces.
struct Assembly {
    std::vector<std::uint32_t> members; // ids
    Vec3 center;
    Vec3 velocity;
    Vec3 angularVelocity;
    // The inertia tensor about world axes through the centre: the moments on its diagonal and its
    // entries xy, yz and zx off it. It turns with the assembly.
    Vec3 inertia;
    Vec3 inertiaOffDiagonal;
    double mass = 0.0;
    double restTime = 0.0;
    double wakeTime = 0.0;
    bool asleep = false;

    SymmetricMatrix inertiaTensor() const { return {inertia, inertiaOffDiagonal}; }
    void setInertia(const SymmetricMatrix& tensor) {
        inertia = tensor.diagonal;
        inertiaOffDiagonal = tensor.offDiagonal;
    }
};

// A hit handed to Physics::impact.
struct Impact {
    Vec3 point;
    Vec3 impulse;
    double energy = 0.0; // fracture budget
    double area = 0.0;
    double duration = 0.0;
    double radius = 0.0; // falloff radius
    bool weapon = false;
};

// One sound event of the matter world. kind: 0 an impact, 1 sliding, 2 rushing through the air.
struct CollisionSound {
    Vec3 position;
    double pitch = 0.0;
    double energy = 0.0;
    double duration = 0.0;
    bool fractured = false;
    double impulse = 0.0;
    std::int32_t kind = 0;
};

// An organism body that matter collides with, refilled by the ecology before each step.
struct ExternalCollider {
    std::uint32_t id = 0;
    Polyhedron body;
};

// The push a matter piece gave an organism body during a step.
struct ExternalImpulse {
    std::uint32_t id = 0;
    Vec3 impulse;
    double closingSpeed = 0.0;
};

} // namespace zarn
