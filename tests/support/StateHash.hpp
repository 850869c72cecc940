#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "physics/Physics.hpp"

namespace zarn::test {

// FNV-1a over the bit patterns of a state; two states hash alike only when every value added is equal
// bit for bit.
class StateHash {
  public:
    void add(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            h_ ^= (v >> (8 * i)) & 0xFFu;
            h_ *= 0x100000001b3ull;
        }
    }
    void add(double v) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        add(bits);
    }
    void add(std::uint32_t v) { add(static_cast<std::uint64_t>(v)); }
    void add(bool v) { add(static_cast<std::uint64_t>(v ? 1u : 0u)); }
    void add(std::int32_t v) { add(static_cast<std::uint64_t>(static_cast<std::uint32_t>(v))); }
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
    void add(std::string_view s) {
        add(static_cast<std::uint64_t>(s.size()));
        for (const char c : s) {
            add(static_cast<std::uint64_t>(static_cast<unsigned char>(c)));
        }
    }
    std::uint64_t value() const { return h_; }

  private:
    std::uint64_t h_ = 0xcbf29ce484222325ull;
};

// Every piece, bond, assembly, queued sound and push of a matter world, its counters and its motion
// window.
inline void hashPhysics(StateHash& h, const Physics& physics) {
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
        h.add(a.inertiaOffDiagonal);
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
}

} // namespace zarn::test
