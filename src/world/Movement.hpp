#pragma once

#include <cstdint>

#include "world/WorldTrace.hpp"

namespace zarn {

// The player's body as the movement rules move it. The shell turns it (yaw, pitch) and the renderer
// reads it.
struct Player {
    Vec3 position;      // the feet, m
    Vec3 velocity;      // m/s
    double yaw = 0.0;   // rad; 0 looks along +z, positive turns towards +x
    double pitch = 0.0; // rad, positive looks up; the shell keeps it within ±1.48
    bool onGround = true;
    bool crouched = false;
    bool jumpHeld = false; // the jump key was down in the previous step
    bool airMode = false;  // flying by thrust after a second jump
    std::int32_t jumpCount = 0;

    static constexpr double standingEye = 1.65;
    static constexpr double crouchedEye = 0.94;

    // Height of the eye above the feet, along the world's up direction.
    double eyeHeight() const { return crouched ? crouchedEye : standingEye; }
};

// What the movement keys ask for in one step.
struct MoveCommand {
    double forward = 0.0; // -1..1
    double side = 0.0;    // -1..1, positive to the right
    bool jump = false;    // key held
    bool crouch = false;  // key held
};

// The movement constants. The defaults are the game's own; the star world replaces the gravity by the
// strength of the local field.
struct MovementConfig {
    double maxSpeed = 6.35;      // m/s, wish speed at full input (x 0.34 crouched)
    double accelerate = 10.0;    // 1/s, on the ground
    double airAccelerate = 10.0; // 1/s, in the air
    double friction = 4.0;       // 1/s, on the ground
    double stopSpeed = 2.54;     // m/s, the least speed friction works with
    double gravity = 9.80665;    // m/s²
    double jumpSpeed = 4.43;     // m/s added upwards by a jump
    double stepHeight = 0.46;    // m, highest step climbed
};

// The directions the player faces at yaw 0 (forward) and a quarter turn to the right, across a
// surface with this up direction; each is zero where it is undefined.
struct Heading {
    Vec3 right;
    Vec3 forward;
};
Heading heading(const Vec3& up);

// The player's hull: an upright box of this half width, standing or crouched height.
constexpr double hullRadius = 0.32;
constexpr double standingHull = 1.8;
constexpr double crouchedHull = 1.05;

// Moves the player by velocity x dt with up to four hull sweeps, clipping the velocity on each
// surface met; a floor (normal more than 0.7 along up) puts the player on the ground.
void slide(Player& player, const IWorldTrace& trace, double dt, double height);

// One movement step: crouch, unstick, stand on the ground with friction, walk or jump, fly by thrust
// in air mode, fall, slide along surfaces and climb steps up to the step height.
void simulateCSMove(Player& player, const MoveCommand& command, const IWorldTrace& trace, double dt,
                    const MovementConfig& config);

} // namespace zarn
