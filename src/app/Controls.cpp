#include "app/Controls.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "render/MenuLayout.hpp"

namespace zarn {

std::int64_t StepAccumulator::take(double dt) {
    if (!std::isfinite(dt) || dt < 0.0) {
        dt = 0.0;
    }
    time += dt;
    if (time >= static_cast<double>(maxSteps + 1) * Game::fixedStep) {
        time = std::fmod(time, Game::fixedStep);
        return maxSteps;
    }
    const auto steps = static_cast<std::int64_t>(time / Game::fixedStep);
    for (std::int64_t i = 0; i < steps; ++i) {
        time -= Game::fixedStep;
    }
    return steps;
}

double smoothFps(double fps, double dt) {
    return fps * 0.95 + (dt < 0.001 ? 50.0 : 0.05 / dt);
}

Input stepInput(KeyState& keys, const std::array<std::int32_t, actionCount>& bindings) {
    const auto held = [&](Action action) {
        const std::int32_t code = bindings[static_cast<std::size_t>(action)];
        return code >= 0 && code < static_cast<std::int32_t>(keys.size()) &&
               keys[static_cast<std::size_t>(code)] != 0;
    };
    const auto axis = [&](Action plus, Action minus) {
        return (held(plus) ? 1.0 : 0.0) - (held(minus) ? 1.0 : 0.0);
    };
    Input input;
    input.move.forward = axis(Action::Forward, Action::Back);
    input.move.side = axis(Action::Right, Action::Left);
    input.move.jump = held(Action::Jump);
    input.move.crouch = held(Action::Crouch);
    input.shoot = held(Action::Shoot);
    input.reload = held(Action::Reload);
    input.scope = false; // the scope is a key command, not a held key
    input.resupply = held(Action::Resupply);
    if (input.resupply) {
        keys[static_cast<std::size_t>(bindings[static_cast<std::size_t>(Action::Resupply)])] = 0;
    }
    return input;
}

void turnView(Player& player, double dx, double dy, double sensitivity) {
    player.yaw = std::remainder(player.yaw + dx * sensitivity, 2.0 * std::numbers::pi);
    player.pitch = std::clamp(player.pitch - dy * sensitivity, -maxPitch, maxPitch);
}

std::int32_t menuRowAt(Page page, std::int32_t x, std::int32_t y) {
    switch (page) {
    case Page::MainMenu:
        return menuLayout::mainMenu.rowAt(x, y);
    case Page::WorldSelect:
        return menuLayout::worldSelect.rowAt(x, y);
    case Page::Paused:
        return menuLayout::paused.rowAt(x, y);
    default:
        return -1;
    }
}

std::int32_t cycledWeapon(std::int32_t current, std::int32_t level, std::int32_t direction) {
    for (std::int32_t k = 1; k <= weaponCount; ++k) {
        const std::int32_t slot = ((current + k * direction) % weaponCount + 2 * weaponCount) % weaponCount;
        if (weapons[static_cast<std::size_t>(slot)].level <= level) {
            return slot;
        }
    }
    return -1;
}

} // namespace zarn
