#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "physics/Hash.hpp"
#include "physics/Math.hpp"

namespace zarn {

// One row of the weapon table.
struct WeaponSpec {
    std::string_view name; // UTF-8: the full name, a slash and the calibre
    std::int32_t magazine; // rounds per magazine
    std::int32_t reserve;  // reserve rounds per replenish unit
    std::int32_t level;    // fire-power level needed
    double interval;       // s between shots
    double reload;         // s
    double damage;         // per hit on an enemy
    double spread;         // rad, base spread
    double kick;           // rad, view kick per shot
    bool automatic;        // fires while the key is held
    bool explosive;        // fires a rocket
};

constexpr int weaponCount = 7;

// The game's random numbers: the unit value of the shared integer hash of a seed. Callers form
// their seeds in unsigned arithmetic too.
constexpr double randomDraw(std::uint32_t n) {
    return unitHash(n);
}

// The seven weapons the player carries, one slot each.
inline constexpr std::array<WeaponSpec, weaponCount> weapons{{
    {"制式手枪 / 9毫米", 17, 136, 0, 0.18, 1.6, 24.0, 0.004, 0.012, false, false},
    {"冲锋枪 / 9毫米", 30, 240, 0, 0.075, 2.2, 20.0, 0.009, 0.009, true, false},
    {"突击步枪 / 7.62毫米", 30, 180, 0, 0.1, 2.45, 36.0, 0.005, 0.023, true, false},
    {"卡宾步枪 / 5.56毫米", 30, 180, 0, 0.0875, 2.2, 30.0, 0.004, 0.016, true, false},
    {"狙击步枪 / 大口径", 10, 40, 1, 1.35, 3.2, 125.0, 0.0006, 0.055, false, false},
    {"轻机枪 / 5.56毫米", 100, 400, 1, 0.075, 4.1, 33.0, 0.008, 0.019, true, false},
    {"火箭筒 / 高爆弹", 1, 18, 2, 1.0, 2.4, 340.0, 0.001, 0.08, false, true},
}};

// The state of one carried weapon.
struct WeaponSlot {
    std::int32_t magazine = 0;
    std::int32_t reserve = 0;
    std::int32_t shots = 0;   // shots fired; seeds the spread
    double nextShot = 0.0;    // s, earliest next shot
    double reloadUntil = 0.0; // s, end of the running reload; 0 when not reloading
    double recoil = 0.0;      // rad, spread bloom
    double kick = 0.0;        // rad, weapon-model kick
    bool scoped = false;      // scope view (the sniper rifle only)
};

// A flying bullet. It leaves a tracer every flight step and is not drawn itself.
struct Bullet {
    Vec3 position;
    Vec3 velocity;     // m/s
    double mass = 0.0; // kg
    double life = 3.0; // s
    double damage = 0.0;
    std::vector<std::int32_t> hitEnemies; // ids of the enemies it already damaged
};

// A flying rocket, drawn as a small box.
struct Rocket {
    Vec3 position;
    Vec3 velocity;     // m/s
    double life = 6.0; // s
    double mass = 6.0; // kg
    std::vector<std::int32_t> hitEnemies;
};

// The streak a bullet or an enemy's shot leaves for a moment.
struct Tracer {
    Vec3 from;
    Vec3 to;
    double life = 0.0;  // s
    bool enemy = false; // fired by an enemy: drawn red and wider
};

} // namespace zarn
