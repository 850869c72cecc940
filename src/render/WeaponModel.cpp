// The first-person weapon: the selected gun and the player's arms as a handful of boxes held in a
// frame fixed to the camera. Gun coordinates: x along the camera's right, y along its up, z along the
// aim, in metres from the gun point.

#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr std::int32_t pistolSlot = 0;
constexpr std::int32_t assaultRifleSlot = 2;
constexpr std::int32_t sniperSlot = 4;
constexpr std::int32_t machineGunSlot = 5;
constexpr std::int32_t rocketSlot = 6;

constexpr double restDip = 0.18;    // m the gun sits below the eye's line at rest
constexpr double reloadDip = 0.25;  // m it sinks further halfway through a reload
constexpr double restReach = 0.38;  // m ahead of the eye
constexpr double kickBack = 0.08;   // m back per radian of kick
constexpr double sideOffset = 0.21; // m to the right
constexpr double bobAmplitude = 0.012;
constexpr double bobRate = 8.0;      // rad/s
constexpr double bobWalkSpeed = 6.0; // m/s at which the bob has 1/sqrt(2) of its amplitude

struct Part {
    Vec3 center;
    Vec3 size;
    Color color;
};

constexpr Color gunColor{0.23f, 0.25f, 0.24f};
constexpr Color woodColor{0.42f, 0.25f, 0.13f};
constexpr Color steelColor{0.161f, 0.175f, 0.168f};

constexpr std::array<Part, 2> arms{{
    {{0.035, -0.14, -0.07}, {0.11, 0.13, 0.33}, {0.34f, 0.36f, 0.27f}}, // sleeve
    {{-0.055, -0.09, 0.17}, {0.1, 0.1, 0.22}, {0.49f, 0.42f, 0.31f}},   // hand
}};

constexpr std::array<Part, 3> launcher{{
    {{0.0, 0.025, 0.18}, {0.15, 0.15, 0.75}, {0.29f, 0.36f, 0.2f}},  // tube
    {{0.0, 0.025, 0.55}, {0.22, 0.22, 0.16}, {0.19f, 0.22f, 0.17f}}, // ring
    {{0.09, 0.1, 0.21}, {0.04, 0.12, 0.07}, gunColor},               // sight
}};

constexpr Part scope{{0.0, 0.09, 0.22}, {0.07, 0.075, 0.32}, steelColor};
constexpr Part ammunitionBox{{-0.03, -0.11, 0.15}, {0.17, 0.15, 0.19}, {0.34f, 0.35f, 0.22f}};
constexpr Part muzzleFlash{{0.0, 0.01, 0.81}, {0.07, 0.085, 0.11}, {1.0f, 0.76f, 0.25f}};

double barrelLength(std::int32_t weapon) {
    if (weapon == pistolSlot) {
        return 0.18;
    }
    return weapon == sniperSlot ? 0.73 : 0.47;
}

// How far below the eye's line the gun sits: lower through a reload, rising and falling with the walk.
double gunDip(const Game& game, const WeaponSlot& slot, double reloadTime, double bob) {
    double dip = restDip;
    if (slot.reloadUntil != 0.0 && reloadTime > 0.0) {
        const double p = (slot.reloadUntil - game.time) / reloadTime;
        if (p >= 0.0 && p <= 1.0) {
            dip += reloadDip * std::sin(std::numbers::pi * p);
        }
    }
    return dip - bob;
}

} // namespace

void Renderer::viewmodel(const Game& game) {
    if (game.weapon < 0 || game.weapon >= weaponCount) {
        return;
    }
    const auto weapon = static_cast<std::size_t>(game.weapon);
    const WeaponSlot& slot = game.slots[weapon];
    if (slot.scoped) {
        return; // the scope's picture fills the view
    }

    // The gun frame: right, up and forward of the camera without its blast shake.
    const Vec3 u = game.world.gravityUp();
    const Vec3 f = game.aim();
    const Vec3 side = cross(u, f);
    const double sideLength = length(side);
    const Vec3 r = sideLength > 1e-9 ? side * (1.0 / sideLength) : Vec3{};
    const Vec3 up = cross(f, r);
    const Player& player = game.player;
    const Vec3 eye = player.position + u * player.eyeHeight();

    const Vec3 horizontal = player.velocity - u * dot(player.velocity, u);
    const double walk = length(horizontal);
    const double bob = bobAmplitude * std::sin(bobRate * game.time) * walk / std::hypot(walk, bobWalkSpeed);
    const double dip = gunDip(game, slot, weapons[weapon].reload, bob);
    const double reach = restReach - kickBack * slot.kick;
    const Vec3 gunPoint = eye + r * sideOffset - up * dip + f * reach;

    const std::array<Vec3, 3> axes{r, up, f};
    const auto draw = [&](const Part& part) {
        std::array<Vec3, 8> corners;
        for (std::size_t i = 0; i < corners.size(); ++i) {
            const double x = part.center.x + part.size.x * ((i & 1u) != 0 ? 0.5 : -0.5);
            const double y = part.center.y + part.size.y * ((i & 2u) != 0 ? 0.5 : -0.5);
            const double z = part.center.z + part.size.z * ((i & 4u) != 0 ? 0.5 : -0.5);
            corners[i] = gunPoint + r * x + up * y + f * z;
        }
        orientedBox(corners, axes, part.color);
    };

    for (const Part& part : arms) {
        draw(part);
    }
    if (game.weapon == rocketSlot) {
        for (const Part& part : launcher) {
            draw(part);
        }
    } else {
        const double barrel = barrelLength(game.weapon);
        const Color grip = game.weapon == assaultRifleSlot ? woodColor : gunColor;
        draw({{0.0, 0.0, 0.05}, {0.11, 0.105, 0.31}, gunColor});                     // receiver
        draw({{0.0, 0.0, 0.22 + barrel / 2.0}, {0.045, 0.045, barrel}, steelColor}); // barrel
        draw({{0.0, -0.11, -0.02}, {0.075, 0.19, 0.09}, grip});                      // grip
        draw({{0.0, -0.005, 0.25}, {0.1, 0.08, 0.22}, grip});                        // fore-grip
        if (game.weapon == sniperSlot) {
            draw(scope);
        }
        if (game.weapon == machineGunSlot) {
            draw(ammunitionBox);
        }
    }
    if (game.muzzleFlash > 0.0) {
        draw(muzzleFlash);
    }
}

} // namespace zarn
