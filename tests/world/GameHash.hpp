#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "support/StateHash.hpp"
#include "world/Game.hpp"

namespace zarn::test {

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

inline void hashWorld(StateHash& h, const World& world) {
    hashPhysics(h, world.physics);
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

inline void hashSound(StateHash& h, const CollisionSound& s) {
    h.add(s.position);
    h.add(s.pitch);
    h.add(s.energy);
    h.add(s.duration);
    h.add(s.fractured);
    h.add(s.impulse);
    h.add(s.kind);
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
        h.add(piece.body.center);
        h.add(piece.body.halfExtents);
        h.add(piece.body.velocity);
        h.add(piece.body.angularVelocity);
        h.add(piece.body.orientation);
        h.add(piece.body.mass);
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

inline std::uint64_t hashGame(const Game& game) {
    StateHash h;
    hashPlayer(h, game.player);
    hashWorld(h, game.world);
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
