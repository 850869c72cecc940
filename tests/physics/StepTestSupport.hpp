#pragma once

#include <cstdint>
#include <cstring>

#include "physics/Physics.hpp"

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

// FNV-1a over the raw bytes of every field that makes up the world's state.
class StateHash {
  public:
    std::uint64_t value = 0xcbf29ce484222325ull;

    void bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (std::size_t k = 0; k < size; ++k) {
            value ^= p[k];
            value *= 0x100000001b3ull;
        }
    }
    void add(double v) { bytes(&v, sizeof v); }
    void add(std::uint64_t v) { bytes(&v, sizeof v); }
    void add(std::uint32_t v) { bytes(&v, sizeof v); }
    void add(std::int32_t v) { bytes(&v, sizeof v); }
    void add(bool v) { add(static_cast<std::uint32_t>(v ? 1 : 0)); }
    void add(const Vec3& v) {
        add(v.x);
        add(v.y);
        add(v.z);
    }
    void add(const Quaternion& q) {
        add(q.w);
        add(q.x);
        add(q.y);
        add(q.z);
    }
};

inline std::uint64_t stateHash(const Physics& physics) {
    StateHash h;
    h.add(static_cast<std::uint64_t>(physics.pieces.size()));
    for (const MatterPiece& p : physics.pieces) {
        h.add(p.body.center);
        h.add(p.body.halfExtents);
        h.add(p.body.velocity);
        h.add(p.body.angularVelocity);
        h.add(p.body.orientation);
        h.add(p.body.mass);
        h.add(p.owner);
        h.add(p.groundLevel);
        h.add(p.id);
        h.add(p.building);
        h.add(p.alive);
        h.add(p.anchored);
        h.add(p.supported);
        h.add(p.generation);
        h.add(p.assembly);
        h.add(p.stress);
        h.add(p.bondableAt);
        h.add(p.stateTime);
        h.add(p.asleep);
    }
    h.add(static_cast<std::uint64_t>(physics.bonds.size()));
    for (const Bond& b : physics.bonds) {
        h.add(b.a);
        h.add(b.b);
        h.add(b.area);
        h.add(b.stress);
        h.add(b.center);
        h.add(b.normal);
        h.add(b.intact);
    }
    h.add(static_cast<std::uint64_t>(physics.assemblies.size()));
    for (const Assembly& a : physics.assemblies) {
        for (const std::uint32_t id : a.members)
            h.add(id);
        h.add(a.center);
        h.add(a.velocity);
        h.add(a.angularVelocity);
        h.add(a.inertia);
        h.add(a.mass);
        h.add(a.restTime);
        h.add(a.wakeTime);
        h.add(a.asleep);
    }
    for (const CollisionSound& s : physics.sounds) {
        h.add(s.position);
        h.add(s.pitch);
        h.add(s.energy);
        h.add(s.duration);
        h.add(s.fractured);
        h.add(s.impulse);
        h.add(s.kind);
    }
    for (const ExternalImpulse& e : physics.externalImpulses) {
        h.add(e.id);
        h.add(e.impulse);
        h.add(e.closingSpeed);
    }
    h.add(physics.fractureCount);
    h.add(physics.brokenBondCount);
    h.add(physics.contactBondCount);
    h.add(physics.contactTestCount);
    h.add(physics.time);
    h.add(physics.motionUntil);
    h.add(physics.motionEndedAt);
    h.add(physics.wakeDeadline);
    h.add(physics.motionStopped);
    h.add(physics.wakePending);
    h.add(physics.slideSoundAt);
    return h.value;
}

} // namespace zarn::steptest
