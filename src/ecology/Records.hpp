#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// The three kinds of organism: wide flat Slabs that rise, drift, rain and lie; Cubes that ripen
// through four colours and carry biomass; and Blocks, the members of species assemblies.
enum class LifeKind : std::int32_t { Slab = 0, Cube = 1, Block = 2 };

// What a block does: push along its axis, eat what touches its absorbing face, or bond.
enum class Ability : std::int32_t { Thrust = 0, Absorption = 1, Connection = 2 };

// One organism: a single oriented box body with its life state. Ids are u32, unique and never
// reused; 0 means none.
struct Organism {
    std::uint32_t id = 0;
    std::uint64_t patch = 0; // id of the patch it belongs to
    LifeKind kind = LifeKind::Slab;
    std::uint32_t stage = 3; // 0 rising, 1 drifting, 2 falling, 3 lying (Slabs)
    Vec3 center;
    Vec3 halfExtents{1.0, 1.0, 1.0};
    Vec3 velocity;
    Vec3 color{0.4, 0.7, 0.2}; // base colour
    Ability ability = Ability::Thrust;
    Vec3 axis{0.0, 0.0, 1.0}; // unit direction of the ability in the block's own frame
    double massBudget = 1.0;
    double busyUntil = 0.0; // Ecology::time until which the block forms no bond
    Quaternion orientation;
    Vec3 angularVelocity;
    double power = 6.0;             // thrust power
    double strengthPerArea = 800.0; // bond strength per m² of touching face
    std::uint32_t faceMask = 63;    // faces +x, -x, +y, -y, +z, -z that may bond
    std::string species;
    std::uint8_t gray = 0;       // permanently grey: starved
    double birthTime = 0.0;      // day clock at birth, days
    double stageTime = 0.0;      // day clock when the current stage began
    double nextActionTime = 0.0; // Ecology::time of the next behaviour decision
    double brightness = 1.0;     // 0.94..1.06, multiplies the drawn colour
    double biomass = 6.0;        // eaten by absorbing blocks
    std::uint8_t alive = 1;
    std::uint8_t placing = 0;        // still looking for a free place
    std::uint8_t grounded = 0;       // resting on the ground
    std::uint8_t landed = 0;         // a Slab that is not to land again
    std::uint8_t fractureMarked = 0; // to be split at the next body step
    std::uint32_t generation = 0;    // splits in its ancestry of Slabs
    double health = 100.0;
};

// One box of a species, in the species' own frame.
struct BioTemplate {
    Vec3 position;
    Vec3 halfExtents{0.4, 0.4, 0.4};
    Vec3 axis{0.0, 0.0, 1.0};
    Ability ability = Ability::Thrust;
    double massBudget = 1.0;
    Quaternion orientation;
    double power = 6.0;
    double strengthPerArea = 800.0;
    std::uint32_t faceMask = 63;
    friend bool operator==(const BioTemplate&, const BioTemplate&) = default;
};

// A species: its boxes and the bonds between them, one strength, anchor and rest rotation per bond.
struct BioAssembly {
    std::vector<BioTemplate> boxes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> bonds; // box indices
    std::vector<double> strengths;                              // break limit per bond
    std::vector<Vec3> anchors;         // the second box's centre in the first box's frame
    std::vector<Quaternion> rotations; // the second box's orientation relative to the first
    std::string name;
    std::vector<std::string> ancestors;
    std::uint64_t count = 1;
    friend bool operator==(const BioAssembly&, const BioAssembly&) = default;
};

// A face bond from organism a to organism b, or to the matter piece with id b when toWorld is set.
struct BioBond {
    std::uint32_t a = 0;
    std::uint32_t b = 0; // organism id, or piece id (index + 1) for a world bond
    std::uint8_t toWorld = 0;
    std::uint8_t active = 1;
    Vec3 anchor;         // the other end's centre offset in a's frame when bonded
    double strength = 0; // break limit
    Quaternion rotation; // rest relative rotation conj(q_a) q_b
    friend bool operator==(const BioBond&, const BioBond&) = default;
};

// A box for the renderer.
struct BioBox {
    Vec3 center;
    Vec3 halfExtents;
    Vec3 color;
    Quaternion orientation;
};

// Result of Ecology::trace: the index into Ecology::organisms (-1 when nothing was hit) and the
// distance along the ray (the limit when nothing was hit).
struct OrganismHit {
    std::int32_t index = -1;
    double distance = 0.0;
};

// Climate profile of one 5-degree cell of the Earth.
struct EcoProfile {
    double abundance = 1.0;    // 0..8: chance of Slabs per patch
    double size = 3.0;         // 0..12: how many and how large the Cubes are
    double assemblyRate = 1.0; // 0..4: chance of a species per patch
    friend bool operator==(const EcoProfile&, const EcoProfile&) = default;
};

} // namespace zarn
