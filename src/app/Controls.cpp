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

void KeyPresses::press(std::int32_t code) {
    if (code < 0 || code >= static_cast<std::int32_t>(pending.size())) {
        return;
    }
    std::uint8_t& count = pending[static_cast<std::size_t>(code)];
    if (count < 255) {
        ++count;
    }
}

void KeyPresses::clear() {
    pending.fill(0);
    shown.fill(0);
}

Input stepInput(KeyState& keys, KeyPresses& presses, const std::array<std::int32_t, actionCount>& bindings) {
    const auto bound = [&](Action action) {
        const std::int32_t code = bindings[static_cast<std::size_t>(action)];
        return code >= 0 && code < static_cast<std::int32_t>(keys.size()) ? static_cast<std::size_t>(code)
                                                                          : keys.size();
    };
    const auto held = [&](Action action) {
        const std::size_t code = bound(action);
        return code < keys.size() && keys[code] != 0;
    };
    const auto pressed = [&](Action action) {
        const std::size_t code = bound(action);
        if (code >= keys.size()) {
            return false;
        }
        bool on = keys[code] != 0;
        std::uint8_t& pending = presses.pending[code];
        if (pending > 0) {
            // A press after a step that already had the key on shows as let go for one step first,
            // so that the game meets it as a new press.
            on = presses.shown[code] == 0;
            pending = static_cast<std::uint8_t>(pending - (on ? 1 : 0));
        }
        presses.shown[code] = on ? 1 : 0;
        return on;
    };
    const auto axis = [&](Action plus, Action minus) {
        return (held(plus) ? 1.0 : 0.0) - (held(minus) ? 1.0 : 0.0);
    };
    Input input;
    input.move.forward = axis(Action::Forward, Action::Back);
    input.move.side = axis(Action::Right, Action::Left);
    input.move.jump = pressed(Action::Jump);
    input.move.crouch = held(Action::Crouch);
    input.shoot = pressed(Action::Shoot);
    input.reload = pressed(Action::Reload);
    input.scope = false; // the scope is a key command, not a held key
    input.resupply = pressed(Action::Resupply);
    if (input.resupply) {
        keys[bound(Action::Resupply)] = 0;
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
