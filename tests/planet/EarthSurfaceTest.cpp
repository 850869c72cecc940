#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "planet/EarthModel.hpp"

namespace zarn {
namespace {

constexpr double R = 6371000.0;

const EarthModel& planet() {
    static const EarthModel model;
    return model;
}

TEST(EarthSurfaceTest, HeightsOnTheSphere) {
    // The district's square is exactly flat.
    for (const double x : {-1280.0, -640.0, 0.0, 955.5, 1280.0}) {
        for (const double z : {-1280.0, -3.0, 0.0, 1280.0}) {
            EXPECT_EQ(planet().surface(x, z, false), 0.0) << x << ", " << z;
        }
    }
    EXPECT_GT(planet().surface(1300.0, 0.0, false), 0.0);

    // Golden heights from the reference implementation (through asin and atan2: relative 1e-10).
    struct Golden {
        double x, z;
        bool farSide;
        double height;
        bool sea;
    };
    const Golden points[] = {
        {5000.0, 0.0, false, 508.193705689162, false},     // the outskirts' grassland
        {2000.0, -500.0, false, 65.39675589412451, false}, // where the relief fades in
        {-1500.0, 3000.0, false, 365.435897101406, false},
        {2500000.0, -1000000.0, false, -596955.0739862965, true}, // the Pacific
        {0.0, 0.0, true, -12742111.761420308, false},             // the antipode, on the River Plate
        {-3000000.0, 1500000.0, true, -11787611.886860557, true}, // the South Atlantic
        {6000000.0, 0.0, true, -8513348.743499514, true},         // the South Pacific
    };
    for (const Golden& p : points) {
        const double height = planet().surface(p.x, p.z, p.farSide);
        EXPECT_NEAR(height, p.height, 1e-10 * std::abs(p.height)) << p.x << ", " << p.z;
        if (p.sea) { // no relief at sea: the bare sphere
            const double root = std::sqrt(R * R - p.x * p.x - p.z * p.z);
            EXPECT_EQ(height, (p.farSide ? -root : root) - R - 4.0);
        }
    }

    // Off the sphere there is no surface, but the region under the rim still answers.
    for (const bool farSide : {false, true}) {
        EXPECT_TRUE(std::isnan(planet().surface(R, 0.0, farSide)));
        EXPECT_TRUE(std::isnan(planet().surface(5e6, -5e6, farSide)));
        const EarthRegion beyond = planet().at(9e6, 0.0, farSide);
        EXPECT_TRUE(std::isfinite(beyond.elevation));
        EXPECT_NEAR(beyond.elevation, planet().at(R, 0.0, farSide).elevation, 1e-6);
    }
}

TEST(EarthSurfaceTest, CoordinatesRoundTrip) {
    const Vec3 origin = EarthModel::coordinates({0.0, 0.0, 0.0});
    EXPECT_NEAR(origin.x, 31.239, 1e-12);
    EXPECT_NEAR(origin.y, 121.499, 1e-12);
    EXPECT_NEAR(origin.z, 4.0, 1e-8);
    const Vec3 places[] = {{31.239, 121.499, 4.0},   {-33.9, 18.4, 1200.0}, {64.1, -21.9, 0.0},
                           {-89.99, 179.9, -3000.0}, {89.5, -179.99, 4e5},  {0.0, 0.0, 0.0}};
    for (const Vec3& place : places) {
        const Vec3 world = EarthModel::geographic(place.x, place.y, place.z);
        const Vec3 back = EarthModel::coordinates(world);
        EXPECT_NEAR(back.x, place.x, 1e-9);
        EXPECT_NEAR(back.y, place.y, 1e-9);
        EXPECT_NEAR(back.z, place.z, 1e-6);
        EXPECT_EQ(EarthModel::altitude(world), back.z); // the same number, without the angles
    }
}

TEST(EarthSurfaceTest, SamplingTheGrid) {
    const auto& grid = planet().grid();
    for (int j = 0; j < 36; ++j) {
        for (int i = 0; i < 72; ++i) {
            const EarthRegion& cell = grid[static_cast<std::size_t>(i + 72 * j)];
            const double lat = 5.0 * j - 87.5;
            const double lon = 5.0 * i - 177.5;
            // At a cell's centre, out of season, the sample is the cell.
            ASSERT_EQ(planet().sample(lat, lon, 0.0), cell) << i << ", " << j;
            ASSERT_EQ(planet().sample(lat, lon + 720.0, 0.0), cell) << i << ", " << j;
            // At midsummer in the north it is midwinter in the south.
            const EarthRegion summer = planet().sample(lat, lon, 0.25);
            ASSERT_EQ(summer.temperature, cell.temperature + (lat < 0.0 ? -1.0 : 1.0) * cell.seasonality);
        }
    }
    for (const double lat : {-90.0, -60.2, 0.0, 31.239, 88.0, 90.0}) {
        EXPECT_EQ(planet().sample(lat, 180.0, 0.3), planet().sample(lat, -180.0, 0.3)) << lat;
        EXPECT_EQ(planet().sample(lat, 540.0, 0.3), planet().sample(lat, -540.0, 0.3)) << lat;
    }
    // Beyond the polar rows' centres only that row is blended.
    for (const double lon : {-177.5, -3.0, 121.499, 180.0}) {
        EXPECT_EQ(planet().sample(90.0, lon, 0.25).elevation, planet().sample(87.5, lon, 0.25).elevation);
        EXPECT_EQ(planet().sample(-90.0, lon, 0.25).elevation, planet().sample(-88.7, lon, 0.25).elevation);
    }
}

} // namespace
} // namespace zarn
