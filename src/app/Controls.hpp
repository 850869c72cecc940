#pragma once

#include <array>
#include <cstdint>

#include "render/UiState.hpp"
#include "world/Game.hpp"

namespace zarn {

// The key state the window keeps: 1 while the virtual key (or mouse button code 1, 2, 4) is held.
using KeyState = std::array<std::uint8_t, 256>;

// The time not yet played in fixed steps. A long pass is made up with as many steps as it holds, up
// to a quarter of a second of game time: what a longer stall asks for is dropped, so that a slow
// frame (a collapse, a load) slows the game down instead of making the next frame slower still.
struct StepAccumulator {
    static constexpr std::int64_t maxSteps = 30; // per pass: 0.25 s of game time

    double time = 0.0; // s

    // Adds dt and takes the whole fixed steps (1/120 s) out of the total, at most maxSteps; returns
    // how many. Past the cap the rest is dropped, all but the part of a step it ends with.
    std::int64_t take(double dt);
    void reset() { time = 0.0; }
};

// The smoothed frames per second after a pass of dt seconds; passes shorter than a millisecond count
// as 1000 frames per second, so the average stays finite.
double smoothFps(double fps, double dt);

// The presses of the keys, each kept until a fixed step has seen it: a click that goes down and up
// between two frames still reaches a step, however slow the frames are.
struct KeyPresses {
    KeyState pending{}; // presses of each code that no step has seen yet (at most 255 are kept)
    KeyState shown{};   // the code's action was on in the last step's input

    void press(std::int32_t code);
    void clear();
};

// The input of one fixed step from the keys through the bindings. Movement and crouch follow the held
// keys; fire, jump, reload and resupply act on a press, so a press no step has seen yet turns them on
// for one step even when the key is up again, and a key that is held keeps them on. The resupply key
// is let go here, so each press asks for one resupply.
Input stepInput(KeyState& keys, KeyPresses& presses, const std::array<std::int32_t, actionCount>& bindings);

// Turns the view by a raw mouse movement of (dx, dy) counts at the given radians per count: the yaw
// wraps into [-pi, pi], the pitch stays within +-1.48 rad.
void turnView(Player& player, double dx, double dy, double sensitivity);
constexpr double maxPitch = 1.48;
constexpr double scopedSensitivity = 0.4; // share of the sensitivity while looking through the scope

// The menu row under the canvas point (x, y) on the main menu, the world selection or the pause panel;
// -1 outside the rows or on any other page.
std::int32_t menuRowAt(Page page, std::int32_t x, std::int32_t y);

// The weapon the mouse wheel selects: from the current slot, the first slot in the direction (+1 or
// -1, wrapping) whose fire-power level is unlocked; the current slot itself comes last. -1 when even
// that is locked.
std::int32_t cycledWeapon(std::int32_t current, std::int32_t level, std::int32_t direction);

} // namespace zarn
