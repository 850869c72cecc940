#include <algorithm>
#include <array>
#include <cmath>

#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr double recoilPerShot = 0.004;  // rad of spread bloom added by each shot
constexpr double recoilMax = 0.065;      // rad
constexpr double muzzleFlashTime = 0.07; // s
constexpr double recoilPitchMax = 0.25;  // rad
constexpr double viewKickShare = 0.7;    // part of the weapon's kick that lifts the view
constexpr double spreadPerSpeed = 0.002; // rad per m/s of the player's horizontal speed
constexpr std::int32_t sniperSlot = 4;
constexpr double sniperHipSpread = 0.035; // rad added when the sniper rifle fires unscoped
constexpr double scopedSpread = 0.22;
constexpr double crouchedSpread = 0.7;
constexpr double bulletMuzzle = 0.35; // m ahead of the eye a bullet starts
constexpr double rocketMuzzle = 0.7;  // m ahead of the eye a rocket starts
constexpr double rocketSpeed = 85.0;  // m/s
constexpr double rocketMass = 6.0;    // kg
constexpr double switchDelay = 0.28;  // s before a newly selected weapon fires

} // namespace

void Game::shoot() {
    // Muzzle speeds (m/s) and bullet masses (kg) of the six guns; the rocket launcher's are fixed.
    static constexpr std::array<double, weaponCount - 1> speeds{360.0, 400.0, 715.0, 880.0, 900.0, 850.0};
    static constexpr std::array<double, weaponCount - 1> masses{0.008, 0.008, 0.0079, 0.004, 0.016, 0.004};

    if (weapon < 0 || weapon >= weaponCount) {
        return;
    }
    const auto w = static_cast<std::size_t>(weapon);
    WeaponSlot& slot = slots[w];
    const WeaponSpec& spec = weapons[w];
    if (slot.reloadUntil != 0.0) {
        return;
    }
    if (time < slot.nextShot || slot.magazine < 1) {
        // Pulling the trigger on an empty magazine starts the reload.
        if (slot.magazine == 0 && spec.magazine >= 1 && slot.reserve >= 1) {
            slot.scoped = false;
            slot.reloadUntil = time + spec.reload;
        }
        return;
    }

    const double kick = slot.kick;
    // The count wraps (as the spread seed does) instead of overflowing after 2^31 shots.
    slot.shots = static_cast<std::int32_t>(static_cast<std::uint32_t>(slot.shots) + 1u);
    --slot.magazine;
    slot.nextShot = time + spec.interval;
    slot.recoil = std::min(slot.recoil + recoilPerShot, recoilMax);
    slot.kick = kick + spec.kick;
    muzzleFlash = muzzleFlashTime;
    shotSound = spec.explosive ? 2 : 1;

    // The shot leaves along the view before its own kick, scattered within the spread; the bloom of
    // this very shot already counts.
    const Vec3 view = aim();
    const Vec3 side{std::cos(player.yaw), 0.0, -std::sin(player.yaw)};
    double spread =
        spreadPerSpeed * std::hypot(player.velocity.x, player.velocity.z) + spec.spread + slot.recoil;
    if (weapon == sniperSlot && !slot.scoped) {
        spread += sniperHipSpread;
    }
    if (slot.scoped) {
        spread *= scopedSpread;
    }
    if (player.crouched) {
        spread *= crouchedSpread;
    }
    const std::uint32_t seed =
        static_cast<std::uint32_t>(slot.shots) * 71u + static_cast<std::uint32_t>(w) * 13u;
    const double a = (randomDraw(seed + 1u) - 0.5) * spread;
    const double b = (randomDraw(seed) - 0.5) * spread;
    const Vec3 direction = normalized(view + side * b + cross(view, side) * a);

    const Vec3 eyePoint = eye();
    if (spec.explosive) {
        Rocket rocket;
        rocket.position = eyePoint + direction * rocketMuzzle;
        rocket.velocity = direction * rocketSpeed;
        rocket.life = 6.0;
        rocket.mass = rocketMass;
        rockets.push_back(std::move(rocket));
    } else {
        Bullet bullet;
        bullet.position = eyePoint + direction * bulletMuzzle;
        bullet.velocity = direction * speeds[w];
        bullet.mass = masses[w];
        bullet.life = 3.0;
        bullet.damage = spec.damage;
        bullets.push_back(std::move(bullet));
    }
    recoilPitch = std::clamp(recoilPitch + viewKickShare * spec.kick, 0.0, recoilPitchMax);
}

void Game::selectWeapon(std::int32_t slot) {
    if (slot < 0 || slot >= weaponCount) {
        return;
    }
    const auto index = static_cast<std::size_t>(slot);
    if (weapons[index].level > level) {
        showMessage("尚未解锁 / 按 B 打开装备升级");
        return;
    }
    if (weapon >= 0 && weapon < weaponCount) {
        slots[static_cast<std::size_t>(weapon)].scoped = false;
    }
    slots[index].nextShot = std::max(slots[index].nextShot, time + switchDelay);
    weapon = slot;
}

} // namespace zarn
