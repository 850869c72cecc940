#include <cmath>
#include <limits>
#include <numbers>

#include <gtest/gtest.h>

#include "planet/DayCycle.hpp"

namespace zarn {
namespace {

constexpr double pi = std::numbers::pi;

// Dip of the horizon for an eye the given height above the 6,371,000 m sphere.
double dipAt(double height) {
    return std::acos(6371000.0 / (6371000.0 + height));
}

TEST(DayCycleTest, SunClearanceFollowsThePhaseAndTheObserversHeight) {
    DayCycle day;
    // Noon at the start: the sun at the zenith, plus the dip seen from 1.7 m above the 4 m datum.
    EXPECT_NEAR(day.solarClearance(), pi / 2.0 + 0.0013377, 2e-7);
    EXPECT_NEAR(day.solarClearance(), pi / 2.0 + dipAt(5.7), 1e-12);

    day.phase = 0.5; // midnight: the sun straight below
    EXPECT_NEAR(day.solarClearance(), -pi / 2.0 + dipAt(5.7), 1e-12);

    // Dawn: the sun on the day circle's node lies in the horizon plane of an observer at the origin.
    day.phase = 0.25;
    EXPECT_NEAR(day.solarClearance(), dipAt(5.7), 1e-9);

    // Higher eyes see farther past the horizon.
    day.phase = 0.5;
    day.observer = {0.0, 2000.0, 0.0};
    EXPECT_NEAR(day.solarClearance(), -pi / 2.0 + dipAt(2004.0), 1e-12);
}

TEST(DayCycleTest, NoDipBelowTheSphereAndNoResultAtTheCentre) {
    DayCycle day;
    day.observer = {0.0, -1000.0, 0.0}; // 996 m inside the sphere
    EXPECT_DOUBLE_EQ(day.solarClearance(), pi / 2.0);
    day.observer = {0.0, -6371004.0, 0.0}; // the planet's centre: no horizon at all
    EXPECT_EQ(day.solarClearance(), 0.0);
}

TEST(DayCycleTest, SunDirectionIsTiltedByTheObliquity) {
    DayCycle day;
    day.phase = 0.25;
    const Vec3 s = day.sunDirection();
    // The tilt's cosine and sine are those of 0.4091 rad, 23.4397 degrees to within 6e-8 rad.
    EXPECT_NEAR(std::atan2(s.z, s.x), 23.4397 * pi / 180.0, 1e-7);
    EXPECT_NEAR(length(s), 1.0, 1e-15);
}

TEST(DayCycleTest, AdvanceTurnsThePhaseAndWrapsIt) {
    DayCycle day;
    day.advance(43200.0);
    EXPECT_DOUBLE_EQ(day.phase, 0.5);

    day.phase = 0.9;
    day.advance(0.2 * 86400.0);
    EXPECT_NEAR(day.phase, 0.1, 1e-12);

    // Many days in one step at the highest rate still land within [0, 1).
    day.phase = 0.0;
    day.rate = 1e6;
    day.advance(3.25 * 86400.0 / 1e6);
    EXPECT_NEAR(day.phase, 0.25, 1e-9);
    EXPECT_GE(day.phase, 0.0);
    EXPECT_LT(day.phase, 1.0);
}

TEST(DayCycleTest, StoppedClockAndBadStepsLeaveThePhase) {
    DayCycle day;
    day.phase = 0.3;
    day.rate = 0.0;
    for (int i = 0; i < 1000; ++i) {
        day.advance(1.0 / 120.0);
    }
    EXPECT_EQ(day.phase, 0.3);
    const DayCycle fresh{0.3, 1.0, {0.0, 1.7, 0.0}};
    EXPECT_EQ(day.solarClearance(), fresh.solarClearance());

    day.rate = 1.0;
    day.advance(0.0);
    day.advance(-5.0);
    day.advance(std::numeric_limits<double>::infinity());
    day.advance(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(day.phase, 0.3);
}

TEST(DayCycleTest, SkyColourRunsFromNightThroughTwilightToDay) {
    const Vec3 night = earthSkyColor(-1.0);
    EXPECT_NEAR(night.x, 0.012, 1e-15);
    EXPECT_NEAR(night.y, 0.022, 1e-15);
    EXPECT_NEAR(night.z, 0.065, 1e-15);
    const Vec3 noon = earthSkyColor(1.0);
    EXPECT_NEAR(noon.x, 0.6, 1e-15);
    EXPECT_NEAR(noon.y, 0.72, 1e-15);
    EXPECT_NEAR(noon.z, 0.79, 1e-15);
    // On the horizon the day factor is 7/27 and the twilight glow is full: a warm, dim sky.
    const double day = 7.0 / 27.0;
    const Vec3 dusk = earthSkyColor(0.0);
    EXPECT_NEAR(dusk.x, 0.012 * (1.0 - day) + 0.85 * day, 1e-12);
    EXPECT_NEAR(dusk.y, 0.022 * (1.0 - day) + 0.59 * day, 1e-12);
    EXPECT_NEAR(dusk.z, 0.065 * (1.0 - day) + 0.54 * day, 1e-12);
    EXPECT_GT(dusk.x, dusk.z);
}

} // namespace
} // namespace zarn
