#pragma once

#include <cmath>
#include <cstdint>

#include "ecology/Ecology.hpp"
#include "planet/EarthModel.hpp"

// Organisms and small scenes shared by the ecology tests.
namespace zarn::ecotest {

inline Quaternion aboutAxis(const Vec3& axis, double angle) {
    const Vec3 u = normalized(axis);
    const double s = std::sin(angle / 2.0);
    return {std::cos(angle / 2.0), u.x * s, u.y * s, u.z * s};
}

inline Organism block(const Vec3& center, double half = 0.5, Ability ability = Ability::Connection) {
    Organism o;
    o.kind = LifeKind::Block;
    o.center = center;
    o.halfExtents = {half, half, half};
    o.ability = ability;
    return o;
}

// Appends the organism under the next id and returns its index.
inline std::size_t place(Ecology& ecology, Organism o) {
    o.id = static_cast<std::uint32_t>(ecology.nextId++);
    ecology.organisms.push_back(o);
    return ecology.organisms.size() - 1;
}

inline MatterPiece pieceAt(const Vec3& center, double half, bool anchored = false) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = {half, half, half};
    piece.anchored = anchored;
    return piece;
}

// The body step's own step and gravity.
inline constexpr double bodyStep = 1.0 / 60.0;
inline constexpr Vec3 bodyGravity{0.0, -9.80665, 0.0};

// Within 1,280 m of the origin the terrain surface is flat at y = 0.
inline const EarthModel& flatModel() {
    static const EarthModel shared;
    return shared;
}

} // namespace zarn::ecotest
