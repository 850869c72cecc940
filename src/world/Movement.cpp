#include "world/Movement.hpp"

#include <algorithm>
#include <cmath>

namespace zarn {

namespace {

constexpr int maxSlidePasses = 4;
constexpr int maxUnstickPasses = 16;
constexpr double groundProbe = 0.06; // m below the feet that still counts as standing
constexpr double floorSlope = 0.7;   // a surface whose normal has more than this along up is a floor
constexpr double crouchSpeed = 0.34; // share of the wish speed while crouched
constexpr double airSpeedCap = 0.76; // m/s, the most speed air control adds along the wish direction

Vec3 withoutUp(const Vec3& v, const Vec3& up) {
    return v - up * dot(v, up);
}

// Crouches while the key is held; once it is released the player stands up only where a standing
// hull fits. Returns the hull height of this step.
double crouch(Player& player, const MoveCommand& command, const IWorldTrace& trace) {
    if (command.crouch) {
        player.crouched = true;
        return crouchedHull;
    }
    if (player.crouched) {
        if (trace.traceHull(player.position, player.position, hullRadius, standingHull).stuck) {
            return crouchedHull;
        }
        player.crouched = false;
    }
    return standingHull;
}

// Pushes a hull that starts inside matter out of it, and takes away the velocity into the matter.
void unstick(Player& player, const IWorldTrace& trace, double height) {
    for (int pass = 0; pass < maxUnstickPasses; ++pass) {
        const HullTrace t = trace.traceHull(player.position, player.position, hullRadius, height);
        if (!t.stuck || length(t.pushOut) < 1e-8) {
            return;
        }
        player.position += t.pushOut;
        const Vec3 n = normalized(t.pushOut);
        const double into = dot(player.velocity, n);
        if (into < 0.0) {
            player.velocity -= n * into;
        }
    }
}

// Puts the player on the floor just below the feet, if there is one and the player is not rising,
// and applies ground friction there.
void standOnGround(Player& player, const IWorldTrace& trace, double height, const Vec3& up, double dt,
                   const MovementConfig& config) {
    const HullTrace t =
        trace.traceHull(player.position, player.position - up * groundProbe, hullRadius, height);
    if (!(t.fraction < 1.0 && dot(t.normal, up) > floorSlope && dot(player.velocity, up) <= 0.0)) {
        player.onGround = false;
        return;
    }
    player.onGround = true;
    player.airMode = false;
    player.jumpCount = 0;
    player.position = t.end;
    player.velocity = withoutUp(player.velocity, up);
    const double speed = length(player.velocity);
    if (speed > 0.0) {
        const double slowed = std::max(speed - std::max(speed, config.stopSpeed) * config.friction * dt, 0.0);
        player.velocity = withoutUp(player.velocity * (slowed / speed), up);
    }
}

// Ground or air acceleration towards the wish direction, up to the wish speed.
void walk(Player& player, const Vec3& wishDirection, double wishFactor, double dt,
          const MovementConfig& config) {
    const double wishSpeed = wishFactor * config.maxSpeed * (player.crouched ? crouchSpeed : 1.0);
    const double along = dot(player.velocity, wishDirection);
    if (player.onGround) {
        const double add = wishSpeed - along;
        if (add > 0.0) {
            player.velocity += wishDirection * std::min(wishSpeed * config.accelerate * dt, add);
        }
        return;
    }
    const double add = std::min(wishSpeed, airSpeedCap) - along;
    if (add > 0.0) {
        player.velocity += wishDirection * std::min(wishSpeed * config.airAccelerate * dt, add);
    }
}

// Air mode: one gravity of thrust along the wish direction, and two upwards while jump is held, so
// holding jump climbs at one gravity. There is no speed cap.
void thrust(Player& player, const MoveCommand& command, const Vec3& wishDirection, double wishFactor,
            const Vec3& up, double dt, const MovementConfig& config) {
    player.velocity += wishDirection * (wishFactor * config.gravity * dt);
    if (command.jump) {
        player.velocity += up * (2.0 * config.gravity * dt);
    }
}

// After a blocked slide on the ground: tries the same move from one step height higher and drops
// back onto whatever is there. Taken only when it gets the player farther than the plain slide.
void stepUp(Player& player, const IWorldTrace& trace, const Vec3& start, const Vec3& startVelocity, double dt,
            double height, const Vec3& up, const MovementConfig& config) {
    const double moved = length(withoutUp(player.position - start, up));
    if (!(moved + 1e-6 < length(withoutUp(startVelocity, up)) * dt)) {
        return;
    }
    const Vec3 raised = start + up * config.stepHeight;
    if (trace.traceHull(start, raised, hullRadius, height).fraction != 1.0) {
        return;
    }
    Player copy = player;
    copy.position = raised;
    copy.velocity = startVelocity;
    slide(copy, trace, dt, height);
    const HullTrace down = trace.traceHull(
        copy.position, copy.position - up * (config.stepHeight + groundProbe), hullRadius, height);
    if (dot(down.normal, up) > floorSlope && length(down.end - start) > length(player.position - start)) {
        player.position = down.end;
        player.velocity = copy.velocity;
        player.onGround = copy.onGround;
        player.crouched = copy.crouched;
        player.jumpHeld = copy.jumpHeld;
        player.airMode = copy.airMode;
        player.jumpCount = copy.jumpCount;
    }
}

} // namespace

Heading heading(const Vec3& up) {
    Heading h;
    h.right = std::abs(up.z) < 0.99 ? normalized(cross(up, Vec3{0.0, 0.0, 1.0}))
                                    : normalized(cross(up, Vec3{1.0, 0.0, 0.0}));
    h.forward = normalized(cross(h.right, up));
    return h;
}

void slide(Player& player, const IWorldTrace& trace, double dt, double height) {
    const Vec3 up = trace.gravityUp();
    for (int pass = 0; pass < maxSlidePasses; ++pass) {
        const HullTrace t =
            trace.traceHull(player.position, player.position + player.velocity * dt, hullRadius, height);
        player.position = t.end;
        if (t.fraction >= 1.0) {
            return;
        }
        dt *= 1.0 - t.fraction;
        const double into = dot(player.velocity, t.normal);
        if (into < 0.0) {
            player.velocity -= t.normal * into;
        }
        if (dot(t.normal, up) > floorSlope) {
            player.onGround = true;
        }
    }
}

void simulateCSMove(Player& player, const MoveCommand& command, const IWorldTrace& trace, double dt,
                    const MovementConfig& config) {
    const Vec3 up = trace.gravityUp();
    const double height = crouch(player, command, trace);
    unstick(player, trace, height);
    standOnGround(player, trace, height, up, dt, config);

    const Heading h = heading(up);
    const double sinYaw = std::sin(player.yaw);
    const double cosYaw = std::cos(player.yaw);
    const Vec3 wish = (h.right * sinYaw + h.forward * cosYaw) * command.forward +
                      (h.right * cosYaw - h.forward * sinYaw) * command.side;
    const Vec3 wishDirection = normalized(wish);
    const double wishFactor = std::min(length(wish), 1.0);

    // A jump is a new press. The first since the player last stood jumps, even after walking off an
    // edge; the second switches to air mode, where every step thrusts.
    const bool newJump = command.jump && !player.jumpHeld;
    bool flying = player.airMode;
    if (newJump && !player.airMode) {
        ++player.jumpCount;
        if (player.jumpCount == 1) {
            player.velocity += up * (config.jumpSpeed + std::max(0.0, -dot(player.velocity, up)));
        } else {
            player.airMode = true;
            flying = true;
        }
        player.onGround = false;
    }
    if (flying) {
        thrust(player, command, wishDirection, wishFactor, up, dt, config);
    } else {
        walk(player, wishDirection, wishFactor, dt, config);
    }
    player.jumpHeld = command.jump;
    player.velocity -= up * (config.gravity * dt);

    const Vec3 start = player.position;
    const Vec3 startVelocity = player.velocity;
    const bool stoodBefore = player.onGround;
    slide(player, trace, dt, height);
    if (stoodBefore) {
        stepUp(player, trace, start, startVelocity, dt, height, up, config);
    }
    if (player.onGround) {
        player.airMode = false;
        player.jumpCount = 0;
    }
}

} // namespace zarn
