// Key commands and menu rows: what every key press and every click on a menu row does, page by page,
// including the settings page's value editor and its key binding.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "app/Application.hpp"
#include "app/Bindings.hpp"
#include "render/MenuLayout.hpp"

namespace zarn {

namespace {

constexpr std::int32_t settingsRows = 5 + actionCount; // five values, then one row per action
constexpr std::int32_t resupplyCost = 150;             // points for a resupply bought in the armory
constexpr std::int32_t scopedWeapon = 4;

// The five values of the settings page: the step of Left and Right, the factor a typed number is
// divided by, and the range every value is kept in.
struct ValueRow {
    double step;
    double typedScale;
    double low;
    double high;
};
constexpr std::array<ValueRow, menuLayout::valueRows> valueRows{{
    {16.0, 1.0, 0.0, maxMotionLimit},                 // the motion limit, whole pieces
    {0.5, 1.0, 0.0, maxImpactMultiplier},             // the weapon impact multiplier
    {0.0002, 1000.0, minSensitivity, maxSensitivity}, // typed in thousandths of a radian per count
    {0.05, 100.0, 0.0, 1.0},                          // the volume, typed in percent
    {1.0, 1.0, 0.0, maxRotationMultiplier},           // the Earth's rotation multiplier
}};

bool valueRow(std::int32_t row) {
    return row >= 0 && row < menuLayout::valueRows;
}

// The binding page that shows a settings row: the page of its action, page 0 for the value rows.
std::int32_t bindingPageOf(std::int32_t row) {
    return row >= 5 ? (row - 5) / menuLayout::bindingRows : 0;
}

double settingValue(const Application& app, std::int32_t row) {
    switch (row) {
    case 0:
        return static_cast<double>(app.game.world.physics.motionLimit);
    case 1:
        return app.game.impactMultiplier;
    case 2:
        return app.ui.sensitivity;
    case 3:
        return app.ui.volume;
    default:
        return app.game.world.dayCycle.rate;
    }
}

// Stores a value already in its row's range.
void setSettingValue(Application& app, std::int32_t row, double value) {
    switch (row) {
    case 0:
        app.game.world.physics.motionLimit = static_cast<std::uint64_t>(std::trunc(value));
        break;
    case 1:
        app.game.impactMultiplier = value;
        break;
    case 2:
        app.ui.sensitivity = value;
        break;
    case 3:
        app.ui.volume = value;
        break;
    default:
        app.game.world.dayCycle.rate = value;
        break;
    }
}

// The whole text as one finite decimal number.
bool parseTyped(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && std::isfinite(value);
}

} // namespace

void Application::key(std::int32_t code) {
    // On the playing page every key counts for the star warp: a tap of the forward key, or any other
    // key, which ends a series of taps.
    if (ui.page == Page::Playing && !ui.awaitingKey) {
        game.movementKey(code == ui.binding(Action::Forward), host != nullptr ? host->tickSeconds() : -1.0);
    }
    if (ui.awaitingKey) {
        bindAwaitedKey(code);
        return;
    }
    if (code == ui.binding(Action::PhysicsDebug)) {
        ui.physicsDebug = !ui.physicsDebug;
        return;
    }
    if (code == ui.binding(Action::Fullscreen)) {
        toggleFullscreen();
        return;
    }
    switch (ui.page) {
    case Page::MainMenu:
        if (code == keyCode::enter) {
            leavePlay(Page::WorldSelect);
        } else if (code == keyCode::escape) {
            quit();
        }
        break;
    case Page::WorldSelect:
        if (code == '1' || code == keyCode::enter) {
            startTrainingGround();
        } else if (code == '2' || code == '3' || code == '4') {
            startLujiazui(code == '3', code == '4');
        } else if (code == keyCode::escape) {
            leavePlay(Page::MainMenu);
        }
        break;
    case Page::Armory:
        armoryKey(code);
        break;
    case Page::Playing:
        playKey(code);
        break;
    case Page::Paused:
        if (code == keyCode::escape || code == keyCode::enter) {
            enterPlay();
        }
        break;
    case Page::Settings:
        settingsKey(code);
        break;
    }
}

void Application::bindAwaitedKey(std::int32_t code) {
    if (code == keyCode::escape) {
        ui.awaitingKey = false; // the binding stays as it was
        return;
    }
    if (assignBinding(ui.bindings, ui.selectedRow - 5, code)) {
        ui.awaitingKey = false;
        saveSettings();
    }
    // A key that cannot be bound leaves the wait open.
}

void Application::toggleFullscreen() {
    ui.fullscreen = !ui.fullscreen;
    if (host != nullptr) {
        host->setFullscreen(ui.fullscreen);
    }
    if (mouseCaptured) {
        // The clip follows the new client area.
        setMouseCapture(false);
        setMouseCapture(active);
    }
}

void Application::armoryKey(std::int32_t code) {
    const bool leaving = code == ui.binding(Action::Upgrade) || code == keyCode::escape;
    if (game.dead && !leaving) {
        return; // the dead buy nothing: the refill would not bring them back
    }
    if (code == keyCode::enter) {
        game.upgrade();
    } else if (code == ui.binding(Action::Resupply)) {
        if (game.points >= resupplyCost) {
            game.points -= resupplyCost;
            game.replenish();
        } else {
            game.showMessage("贡献点不足");
        }
    } else if (leaving) {
        enterPlay();
    }
}

void Application::playKey(std::int32_t code) {
    if (code == keyCode::escape) {
        leavePlay(Page::Paused);
        return;
    }
    if (code == ui.binding(Action::Demolition)) {
        if (game.training) {
            game.demolitionTest();
        }
        return;
    }
    const auto firstWeapon = static_cast<std::size_t>(Action::Pistol);
    for (std::int32_t slot = 0; slot < weaponCount; ++slot) {
        if (code == ui.bindings[firstWeapon + static_cast<std::size_t>(slot)]) {
            game.selectWeapon(slot);
            return;
        }
    }
    if (code == ui.binding(Action::Upgrade)) {
        leavePlay(Page::Armory);
    } else if (code == ui.binding(Action::Scope)) {
        if (game.weapon == scopedWeapon) {
            WeaponSlot& slot = game.slots[static_cast<std::size_t>(scopedWeapon)];
            slot.scoped = !slot.scoped;
        }
    } else if (code == keyCode::enter && game.dead) {
        game.respawn();
    }
    // Movement, fire, jump, reload and resupply act in the fixed steps, through the held keys and the
    // presses kept for the steps.
}

void Application::settingsKey(std::int32_t code) {
    if (code == keyCode::tab) {
        ui.input.clear();
        ui.selectedRow = ((ui.selectedRow + 1) % settingsRows + settingsRows) % settingsRows;
        ui.bindingPage = bindingPageOf(ui.selectedRow);
        return;
    }
    ui.bindingPage = bindingPageOf(ui.selectedRow);
    if (code == keyCode::escape) {
        leaveSettings();
        return;
    }
    if (code == keyCode::backspace) {
        if (!ui.input.empty()) {
            ui.input.pop_back();
        }
        return;
    }
    const std::int32_t row = ui.selectedRow;
    if (!valueRow(row)) {
        if (code == keyCode::enter) {
            ui.awaitingKey = true;
        }
        return;
    }
    const ValueRow& limits = valueRows[static_cast<std::size_t>(row)];
    if (code == keyCode::enter) {
        if (ui.input.empty()) {
            return;
        }
        double typed = 0.0;
        if (!parseTyped(ui.input, typed)) {
            ui.input.clear(); // not a number: discarded without a word
            return;
        }
        setSettingValue(*this, row, std::clamp(typed / limits.typedScale, limits.low, limits.high));
        if (row == 4) {
            userRotationMultiplier.reset(); // the typed rate is the user's own from now on
        }
        game.world.physics.expireMotion();
        ui.input.clear();
        saveSettings();
    } else if (code == keyCode::left || code == keyCode::right) {
        // Worked out in doubles, so the motion limit stops at 0 instead of wrapping round.
        const double stepped =
            settingValue(*this, row) + (code == keyCode::left ? -limits.step : limits.step);
        if (std::isfinite(stepped)) {
            setSettingValue(*this, row, std::clamp(stepped, limits.low, limits.high));
        }
        game.world.physics.expireMotion();
    }
}

void Application::leaveSettings() {
    ui.input.clear();
    saveSettings();
    ui.page = settingsReturn;
    resetInput();
    setMouseCapture(ui.page == Page::Playing && active);
}

void Application::activateMenu(std::int32_t row) {
    switch (ui.page) {
    case Page::MainMenu:
        if (row == 0) {
            leavePlay(Page::WorldSelect);
        } else if (row == 1) {
            settingsReturn = Page::MainMenu;
            leavePlay(Page::Settings);
        } else if (row == 2) {
            quit();
        }
        break;
    case Page::WorldSelect:
        if (row == 0) {
            startTrainingGround();
        } else if (row >= 1 && row <= 3) {
            startLujiazui(row == 2, row == 3);
        } else if (row == 4) {
            leavePlay(Page::MainMenu);
        }
        break;
    case Page::Paused:
        if (row == 0) {
            enterPlay();
        } else if (row == 1) {
            settingsReturn = Page::Paused;
            leavePlay(Page::Settings);
        } else if (row == 2) {
            leavePlay(Page::MainMenu);
        } else if (row == 3) {
            quit();
        }
        break;
    default:
        break; // the other pages have no menu rows
    }
}

} // namespace zarn
