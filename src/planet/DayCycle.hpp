#pragma once

#include "physics/Math.hpp"

namespace zarn {

// The Earth world's clock of the day. Seen from the planet, which stands still in the world's frame,
// the sun circles it once per day about the z axis, its circle tilted by the Earth's obliquity; the
// world advances the clock every step.
struct DayCycle {
    // The length of a day at rate 1, s.
    static constexpr double secondsPerDay = 86400.0;
    // Cosine and sine of the obliquity (23.4397 degrees) that tilts the sun's day circle out of the
    // plane the planet turns in.
    static constexpr double obliquityCos = 0.9174791997294519;
    static constexpr double obliquitySin = 0.3977837579185512;

    double phase = 0.0;           // fraction of the day turned so far, 0 <= phase < 1
    double rate = 1.0;            // 1 = one turn in 86,400 s; 0 stops the clock
    Vec3 observer{0.0, 1.7, 0.0}; // world position of the observer's eye, m

    // Advances the phase by rate * dt of the day. A dt that is not finite or not above 0 leaves the
    // phase alone.
    void advance(double dt);
    // Unit direction from the planet towards the sun in world axes.
    Vec3 sunDirection() const;
    // The sun's elevation above the observer's geometric horizon plus the dip of the horizon seen from
    // the observer's height, in radians; above 0 the sun is in view.
    double solarClearance() const;
};

// Sky and fog colour (linear RGB) for a sun standing at the given clearance above the horizon: night
// blue below, a warm twilight band within 0.14 rad of the horizon, day blue above.
Vec3 earthSkyColor(double solarClearance);

} // namespace zarn
