#pragma once

#include <cstdint>

#include "physics/Math.hpp"

namespace zarn {

// One enemy soldier.
struct Enemy {
    std::int32_t id = 0; // 0..79, also the phase of its patrol
    Vec3 position;       // the feet, m
    Vec3 home;           // its post, m
    double health = 100.0;
    double nextShot = 0.0; // s, earliest time of its next shot
    bool alive = true;
    double fallSpeed = 0.0; // m/s, negative downwards
    double safeUntil = 0.0; // s; moving matter cannot hurt it again before this
};

// A supply dropped by a killed enemy. Taken supplies stay in the list until the next reset.
struct Supply {
    Vec3 position;
    bool taken = false;
};

} // namespace zarn
