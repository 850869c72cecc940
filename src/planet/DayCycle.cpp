#include "planet/DayCycle.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "planet/EarthModel.hpp"

namespace zarn {

void DayCycle::advance(double dt) {
    if (!std::isfinite(dt) || !(dt > 0.0)) {
        return;
    }
    phase = std::fmod(phase + std::fmod(rate * dt / secondsPerDay, 1.0), 1.0);
    // The rate is kept non-negative by the settings; should a negative one slip through, the clock
    // runs backwards but the phase stays within [0, 1).
    if (phase < 0.0) {
        phase += 1.0;
    }
}

Vec3 DayCycle::sunDirection() const {
    const double a = 2.0 * std::numbers::pi * phase;
    const double s = std::sin(a);
    return {obliquityCos * s, std::cos(a), obliquitySin * s};
}

double DayCycle::solarClearance() const {
    const Vec3 p{observer.x, observer.y + EarthModel::centreDepth, observer.z};
    const double r = length(p);
    if (!(r > 1e-9)) {
        return 0.0;
    }
    const double elevation = std::asin(std::clamp(dot(p / r, sunDirection()), -1.0, 1.0));
    const double dip = std::acos(EarthModel::radius / std::max(r, EarthModel::radius));
    return elevation + dip;
}

Vec3 earthSkyColor(double solarClearance) {
    const double e = solarClearance;
    const double k = (e + 0.035) / 0.105;
    const double day = k < 0.0 ? 0.0 : (k > 1.0 ? 1.0 : k * k * (3.0 - 2.0 * k));
    const double glow = std::abs(e) < 0.14 ? 1.0 - std::abs(e) / 0.14 : 0.0;
    const double night = 1.0 - day;
    return {0.012 * night + 0.6 * day + 0.25 * glow * day, 0.022 * night + 0.72 * day - 0.13 * glow * day,
            0.065 * night + 0.79 * day - 0.25 * glow * day};
}

} // namespace zarn
