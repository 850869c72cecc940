#include <cmath>
#include <limits>
#include <numbers>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"
#include "planet/DayCycle.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {
namespace {

using ecotest::block;
using ecotest::place;

TEST(EcologyModel, AddKeepsItsCapsAndSizes) {
    Ecology full;
    for (int k = 0; k < 288; ++k)
        place(full, block({}));
    full.organisms[5].alive = 0; // the dead still count
    const std::uint64_t nextId = full.nextId;
    full.add(LifeKind::Cube, {}, 1, 7, {}, 0.0);
    EXPECT_EQ(full.organisms.size(), 288u);
    EXPECT_EQ(full.births, 0u);
    EXPECT_EQ(full.nextId, nextId);

    // Slabs made by add are of generation 1; populate and evaporation turn them into generation 0.
    Ecology slabs;
    auto addSlab = [&](std::uint32_t seed) {
        slabs.add(LifeKind::Slab, {0.0, 10.0, 0.0}, 1, seed * 977u, {}, 0.0);
    };
    for (std::uint32_t seed = 0; seed < 24; ++seed) {
        addSlab(seed);
        slabs.organisms.back().generation = 0;
    }
    addSlab(24);
    EXPECT_EQ(slabs.organisms.size(), 24u);
    slabs.organisms[3].alive = 0;
    addSlab(25);
    EXPECT_EQ(slabs.organisms.size(), 25u);
    for (const Organism& o : slabs.organisms) {
        for (const double half : {o.halfExtents.x, o.halfExtents.z}) {
            EXPECT_GE(half, 5.0);
            EXPECT_LE(half, 12.0);
        }
        EXPECT_DOUBLE_EQ(o.center.y, 10.0 + o.halfExtents.y); // stands on the position
    }

    // Cube sides below 1 m and above 10 m are clamped; the profile's size drives them.
    Ecology cubes;
    for (const auto& [size, half] : {std::pair{-10.0, 0.5}, {40.0, 5.0}}) {
        cubes.add(LifeKind::Cube, {}, 1, 3, EcoProfile{1.0, size, 1.0}, 2.0);
        EXPECT_EQ(cubes.organisms.back().halfExtents, (Vec3{half, half, half}));
    }
    EXPECT_DOUBLE_EQ(cubes.organisms.back().birthTime, -2.0);
    EXPECT_EQ(Ecology::mass(block({}, 0.01)), 1.0);
}

TEST(EcologyModel, CellsWrapInLongitudeAndClampAtThePoles) {
    const struct {
        double latitude, longitude;
        std::size_t index;
    } cases[] = {
        {0.0, 180.0, 18 * 72},
        {0.0, -180.0, 18 * 72},
        {0.0, 179.99, 18 * 72 + 71},
        {95.0, 0.0, 35 * 72 + 36},
        {-95.0, 0.0, 36},
        {31.239, 121.499, 24 * 72 + 60},
        {0.0, 540.0, 18 * 72},
        {std::nan(""), 0.0, 36},
        {0.0, std::numeric_limits<double>::infinity(), 18 * 72},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ecology::profileIndex(c.latitude, c.longitude), c.index)
            << c.latitude << " " << c.longitude;

    // The district lies in the cell of 30-35 degrees north, 120-125 east; the column wraps at 180 west.
    Ecology ecology;
    ecology.profiles[24 * 72 + 60].size = 11.0;
    ecology.profiles[20 * 72].size = 7.0;
    const EarthModel model;
    EXPECT_EQ(ecology.profile(model, {}).size, 11.0);
    EXPECT_EQ(ecology.profile(model, EarthModel::geographic(12.0, -180.0, 0.0)).size, 7.0);
}

// With the day clock synced to the world's phase, the organisms' day is the sky's day.
TEST(EcologyModel, DawnsAndDaylightFollowTheSkyOnceTheClockIsSynced) {
    // The origin, the outskirts and a point 3,600 km away on the sphere.
    const double farUp = std::sqrt(6371000.0 * 6371000.0 - 13.0e12) - 6371004.0;
    const Vec3 places[] = {{0.0, 0.0, 0.0}, {5000.0, 20.0, -3000.0}, {-2.0e6, farUp, 3.0e6}};
    for (const Vec3& p : places) {
        EXPECT_EQ(Ecology::dawns(3.0, 1.0, p), 0);
        EXPECT_EQ(Ecology::dawns(-1e300, 1e300, p), std::numeric_limits<std::int32_t>::max());
        for (const double from : {0.0, 0.123, 7.77})
            EXPECT_EQ(Ecology::dawns(from, from + 1.0, p), 1);
        for (double phase = 0.0; phase < 1.0; phase += 0.01) {
            const double clearance = DayCycle{phase, 1.0, p}.solarClearance();
            if (std::abs(clearance) > 0.01) { // away from the terminator and the horizon's dip
                EXPECT_EQ(Ecology::daylight(17.0 + phase, p), clearance > 0.0) << phase;
            }
        }
    }

    Ecology ecology;
    ecology.dayClock = 2.7;
    place(ecology, block({}));
    ecology.organisms[0].birthTime = 1.5;
    ecology.archives[{1, 2, false}].organisms.push_back(ecology.organisms[0]);
    ecology.syncDayClock(0.25);
    EXPECT_DOUBLE_EQ(ecology.dayClock, 2.25);
    EXPECT_DOUBLE_EQ(ecology.dayClock - ecology.organisms[0].birthTime, 1.2); // no organism ages
    EXPECT_DOUBLE_EQ(ecology.archives.begin()->second.organisms[0].birthTime, 1.05);
    ecology.syncDayClock(std::nan(""));
    EXPECT_DOUBLE_EQ(ecology.dayClock, 2.25);
}

TEST(EcologyModel, CubesRipenThroughFourColoursAndDieAfterNineDawns) {
    Organism cube = block({}, 0.5);
    cube.kind = LifeKind::Cube;
    cube.brightness = 1.05;
    // At the origin the sun rises at day time -0.25: days 0.5, 3.5, 9.5 and 9.8 follow 0, 3, 9 and
    // 10 dawns.
    const std::pair<double, Vec3> cases[] = {{0.5, {0.48, 0.85, 0.22}},
                                             {3.5, {0.10, 0.40, 0.13}},
                                             {9.5, {0.36, 0.20, 0.09}},
                                             {9.8, {0.36, 0.20, 0.09}}};
    for (const auto& [day, color] : cases) {
        Organism o = cube;
        Ecology::age(o, day);
        EXPECT_EQ(o.alive != 0, day < 9.7) << day;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(Ecology::color(o, day)[k], color[k] * 1.05, 1e-12) << day;
    }
}

} // namespace
} // namespace zarn
