#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "physics/Physics.hpp"
#include "world/Game.hpp"

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

// The matter of a box: where it is, how it moves, what it weighs.
inline void hashBody(StateHash& h, const Polyhedron& body) {
    h.add(body.center);
    h.add(body.halfExtents);
    h.add(body.velocity);
    h.add(body.angularVelocity);
    h.add(body.orientation);
    h.add(body.mass);
}

inline void hashPiece(StateHash& h, const MatterPiece& p) {
    hashBody(h, p.body);
    h.add(p.owner);
    h.add(p.groundLevel);
    h.add(p.id);
    h.add(p.building);
    h.add(p.color);
    h.add(p.alive);
    h.add(p.anchored);
    h.add(p.supported);
    h.add(p.generation);
    h.add(p.assembly);
    h.add(p.stress);
    h.add(p.bondableAt);
    h.add(p.stateTime);
    h.add(p.asleep);
    h.add(p.indoor);
}

inline void hashSound(StateHash& h, const CollisionSound& s) {
    h.add(s.position);
    h.add(s.pitch);
    h.add(s.energy);
    h.add(s.duration);
    h.add(s.fractured);
    h.add(s.impulse);
    h.add(s.kind);
}

// Keys of an unordered container, in order, so that the hash does not depend on its layout.
template <typename Container> std::vector<std::uint64_t> sortedKeys(const Container& container) {
    std::vector<std::uint64_t> keys;
    for (const auto& entry : container) {
        if constexpr (requires { entry.first; }) {
            keys.push_back(entry.first);
        } else {
            keys.push_back(entry);
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// What the grid lists: every piece's entry and every cell's pieces.
inline void hashGrid(StateHash& h, const Physics& physics) {
    h.add(static_cast<std::uint64_t>(physics.gridEntries.size()));
    for (const Physics::GridEntry& e : physics.gridEntries) {
        h.add(e.center);
        h.add(e.halfExtents);
        h.add(e.orientation);
        h.add(static_cast<std::uint64_t>(e.cells.size()));
        for (const std::uint64_t key : e.cells) {
            h.add(key);
        }
        h.add(e.alive);
    }
    h.add(static_cast<std::uint64_t>(physics.cells.size()));
    for (const std::uint64_t key : sortedKeys(physics.cells)) {
        h.add(key);
        const std::vector<std::uint32_t>& listed = physics.cells.at(key);
        h.add(static_cast<std::uint64_t>(listed.size()));
        for (const std::uint32_t index : listed) {
            h.add(index);
        }
    }
}

// Every piece, bond, assembly, queued sound and push of a matter world, the grid, the bonds each
// piece holds, the pairs that may not bond again, the building mass sums, its counters and its
// motion window.
inline void hashPhysics(StateHash& h, const Physics& physics) {
    h.add(static_cast<std::uint64_t>(physics.pieces.size()));
    for (const MatterPiece& p : physics.pieces) {
        hashPiece(h, p);
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
        h.add(static_cast<std::uint64_t>(a.members.size()));
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
    h.add(static_cast<std::uint64_t>(physics.sounds.size()));
    for (const CollisionSound& s : physics.sounds) {
        hashSound(h, s);
    }
    h.add(static_cast<std::uint64_t>(physics.externalImpulses.size()));
    for (const ExternalImpulse& e : physics.externalImpulses) {
        h.add(e.id);
        h.add(e.impulse);
        h.add(e.closingSpeed);
    }
    hashGrid(h, physics);
    h.add(static_cast<std::uint64_t>(physics.adjacency.size()));
    for (const std::vector<std::uint64_t>& held : physics.adjacency) {
        h.add(static_cast<std::uint64_t>(held.size()));
        for (const std::uint64_t bond : held) {
            h.add(bond);
        }
    }
    const std::vector<std::uint64_t> broken = sortedKeys(physics.brokenPairs);
    h.add(static_cast<std::uint64_t>(broken.size()));
    for (const std::uint64_t pair : broken) {
        h.add(pair);
    }
    const BuildingMass& mass = physics.buildingMassCounts;
    for (const std::uint64_t word : {mass.total[0], mass.total[1], mass.loose[0], mass.loose[1]}) {
        h.add(word);
    }
    h.add(physics.fractureCount);
    h.add(physics.brokenBondCount);
    h.add(physics.contactBondCount);
    h.add(physics.contactTestCount);
    h.add(physics.time);
    h.add(physics.groundLevel);
    h.add(physics.gravity);
    h.add(physics.motionLimit);
    h.add(physics.motionUntil);
    h.add(physics.motionEndedAt);
    h.add(physics.wakeDeadline);
    h.add(physics.motionStopped);
    h.add(physics.wakePending);
    h.add(physics.slideSoundAt);
}

// ---- the game

inline void hashPlayer(StateHash& h, const Player& p) {
    h.add(p.position);
    h.add(p.velocity);
    h.add(p.yaw);
    h.add(p.pitch);
    h.add(p.onGround);
    h.add(p.crouched);
    h.add(p.jumpHeld);
    h.add(p.airMode);
    h.add(p.jumpCount);
}

// What a map pack gives a world besides its matter: name, id, ground level, sky, spawn point and
// the buildings.
inline void hashMap(StateHash& h, const World& world) {
    h.add(world.name);
    h.add(world.id);
    h.add(world.physics.groundLevel);
    h.add(world.skyColor);
    h.add(world.spawnPoint);
    h.add(static_cast<std::uint64_t>(world.buildings.size()));
    for (const Building& b : world.buildings) {
        h.add(b.index);
        h.add(b.name);
        h.add(b.center);
        h.add(b.sizeX);
        h.add(b.sizeZ);
        h.add(b.height);
        h.add(b.extra);
    }
}

// The score, the weapons and the HUD: everything a refused purchase must leave alone, and more.
inline void hashScore(StateHash& h, const Game& game) {
    h.add(game.health);
    h.add(game.armour);
    h.add(game.points);
    h.add(game.totalPoints);
    h.add(game.combo);
    h.add(game.lastRewardTime);
    h.add(game.lastGain);
    h.add(game.level);
    h.add(game.weapon);
    h.add(game.kills);
    for (const WeaponSlot& slot : game.slots) {
        h.add(slot.magazine);
        h.add(slot.reserve);
        h.add(slot.shots);
        h.add(slot.nextShot);
        h.add(slot.reloadUntil);
        h.add(slot.recoil);
        h.add(slot.kick);
        h.add(slot.scoped);
    }
}

// Everything that fights: enemies, projectiles, tracers, supplies, the sounds on their way and the
// effect timers.
inline void hashCombat(StateHash& h, const Game& game) {
    h.add(static_cast<std::uint64_t>(game.enemies.size()));
    for (const Enemy& e : game.enemies) {
        h.add(e.id);
        h.add(e.position);
        h.add(e.home);
        h.add(e.health);
        h.add(e.nextShot);
        h.add(e.alive);
        h.add(e.fallSpeed);
        h.add(e.safeUntil);
    }
    const auto addIds = [&h](const std::vector<std::int32_t>& ids) {
        h.add(static_cast<std::uint64_t>(ids.size()));
        for (const std::int32_t id : ids) {
            h.add(id);
        }
    };
    h.add(static_cast<std::uint64_t>(game.bullets.size()));
    for (const Bullet& b : game.bullets) {
        h.add(b.position);
        h.add(b.velocity);
        h.add(b.mass);
        h.add(b.life);
        h.add(b.damage);
        addIds(b.hitEnemies);
    }
    h.add(static_cast<std::uint64_t>(game.rockets.size()));
    for (const Rocket& r : game.rockets) {
        h.add(r.position);
        h.add(r.velocity);
        h.add(r.life);
        h.add(r.mass);
        addIds(r.hitEnemies);
    }
    h.add(static_cast<std::uint64_t>(game.tracers.size()));
    for (const Tracer& t : game.tracers) {
        h.add(t.from);
        h.add(t.to);
        h.add(t.life);
        h.add(t.enemy);
    }
    h.add(static_cast<std::uint64_t>(game.supplies.size()));
    for (const Supply& s : game.supplies) {
        h.add(s.position);
        h.add(s.taken);
    }
    h.add(static_cast<std::uint64_t>(game.travelingSounds.size()));
    for (const Game::TravelingSound& t : game.travelingSounds) {
        hashSound(h, t.sound);
        h.add(t.emittedAt);
    }
    h.add(static_cast<std::uint64_t>(game.heardSounds.size()));
    for (const CollisionSound& s : game.heardSounds) {
        hashSound(h, s);
    }
    h.add(game.shotSound);
    h.add(game.hitMarker);
    h.add(game.hurtFlash);
    h.add(game.muzzleFlash);
    h.add(game.blastFlash);
}

// Everything a save file holds, bit for bit, and what loading derives from it (piece masses, the
// supported flags, the assemblies, and the enemies' posts, which are those of a new city game): a
// game and the game loaded from its save hash alike. Bonds that no longer hold (broken, or naming a
// dead piece) are not part of it.
inline std::uint64_t hashSavedGame(const Game& game) {
    StateHash h;
    const World& world = game.world;
    const Physics& physics = world.physics;
    hashMap(h, world);
    h.add(game.player.position);
    h.add(game.player.yaw);
    h.add(game.player.pitch);
    h.add(game.health);
    h.add(game.armour);
    h.add(game.points);
    h.add(game.totalPoints);
    h.add(game.level);
    h.add(game.weapon);
    h.add(game.kills);
    h.add(game.dead);
    for (const WeaponSlot& slot : game.slots) {
        h.add(slot.magazine);
        h.add(slot.reserve);
    }
    h.add(static_cast<std::uint64_t>(game.enemies.size()));
    for (const Enemy& e : game.enemies) {
        h.add(e.id);
        h.add(e.position);
        h.add(e.home);
        h.add(e.health);
        h.add(e.alive);
    }
    h.add(static_cast<std::uint64_t>(game.supplies.size()));
    for (const Supply& s : game.supplies) {
        h.add(s.position);
        h.add(s.taken);
    }
    h.add(physics.time);
    h.add(physics.fractureCount);
    h.add(physics.brokenBondCount);
    h.add(physics.contactBondCount);
    h.add(static_cast<std::uint64_t>(physics.pieces.size()));
    for (const MatterPiece& piece : physics.pieces) {
        h.add(static_cast<std::uint64_t>(piece.id));
        h.add(piece.building);
        h.add(piece.alive);
        h.add(piece.anchored);
        h.add(static_cast<std::uint64_t>(piece.generation));
        h.add(piece.bondableAt);
        h.add(piece.stateTime);
        h.add(piece.asleep);
        hashBody(h, piece.body);
        h.add(piece.color);
        h.add(piece.indoor);
        h.add(piece.supported);
        h.add(piece.assembly);
    }
    for (const Bond& bond : physics.bonds) {
        if (bond.intact && physics.pieces[bond.a - 1].alive && physics.pieces[bond.b - 1].alive) {
            h.add(static_cast<std::uint64_t>(bond.a) << 32 | bond.b);
            h.add(bond.area);
            h.add(bond.center);
            h.add(bond.normal);
        }
    }
    return h.value();
}

// Everything World::loadMap may change.
inline std::uint64_t hashWorld(const World& world) {
    StateHash h;
    hashMap(h, world);
    h.add(world.terrainCell);
    hashPhysics(h, world.physics);
    return h.value();
}

inline std::uint64_t hashGame(const Game& game) {
    StateHash h;
    hashPlayer(h, game.player);
    hashPhysics(h, game.world.physics);
    hashScore(h, game);
    hashCombat(h, game);
    h.add(game.time);
    h.add(game.physicsAccumulator);
    h.add(game.recoilPitch);
    h.add(game.message);
    h.add(game.messageUntil);
    h.add(game.triggerHeld);
    h.add(game.dead);
    return h.value();
}

} // namespace zarn::test
