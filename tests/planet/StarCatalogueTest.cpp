#include <charconv>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include <gtest/gtest.h>

#include "physics/Hash.hpp"
#include "planet/Stars.hpp"

namespace zarn {
namespace {

constexpr int firstStar = 782;     // after the Sun, 8 planets, the Moon, 4 moons of Jupiter, 768 asteroids
constexpr int firstGalaxy = 30844; // after 3,006 stars of ten bodies each and the two named galaxies

const Stars& stars() {
    static const Stars built;
    return built;
}

TEST(StarCatalogueTest, BodiesSitAtTheirIndices) {
    const std::vector<CelestialBody>& bodies = stars().bodies;
    ASSERT_EQ(bodies.size(), 34940u);

    const CelestialBody& earth = bodies[3];
    EXPECT_EQ(earth.name, "地球");
    EXPECT_EQ(earth.position, (Vec3{0.0, -149597870700.0, 0.0}));
    EXPECT_EQ(earth.radius, 6371000.0);
    EXPECT_EQ(bodies[9].name, "月球");
    EXPECT_NEAR(length(bodies[9].position - earth.position), 383589624.0, 1.0);
    EXPECT_EQ(bodies[13].name, "木星卫星 4");
    EXPECT_EQ(stars().mass(0), 1.98847e30); // from the table, not from the Sun's radius

    // Every star is followed by four planets and five moons, each planet directly by its moons.
    const char* const pattern[10] = {"",         "行星 1", "卫星 1-1", "卫星 1-2", "行星 2",
                                     "卫星 2-1", "行星 3", "卫星 3-1", "行星 4",   "卫星 4-1"};
    const int parentSlot[10] = {-1, 0, 1, 1, 0, 4, 0, 6, 0, 8};
    for (int s = 0; s < 3006; ++s) {
        const int star = firstStar + 10 * s;
        ASSERT_EQ(bodies[star].kind, BodyKind::Star) << s;
        for (int k = 1; k < 10; ++k) {
            const CelestialBody& body = bodies[star + k];
            ASSERT_EQ(body.name, pattern[k]) << s;
            ASSERT_EQ(body.parent, star + parentSlot[k]) << s;
            ASSERT_EQ(body.kind, parentSlot[k] == 0 ? BodyKind::Planet : BodyKind::Moon) << s;
        }
    }
    EXPECT_EQ(bodies[firstStar].name, "比邻星");
    EXPECT_EQ(bodies[firstStar + 10].name, "半人马座 α A");
    EXPECT_EQ(bodies[firstStar + 60].name, "银河恒星 6");
    EXPECT_EQ(bodies[firstStar + 30050].name, "银河恒星 3005");

    // Sirius lies 8.6 ly away at right ascension 101.29 degrees and declination -16.72 degrees.
    const Vec3 p = bodies[firstStar + 30].position;
    EXPECT_EQ(bodies[firstStar + 30].name, "天狼星");
    EXPECT_NEAR(length(p) / lightYear, 8.6, 1e-12);
    EXPECT_NEAR(std::asin(p.y / length(p)) * 180.0 / std::numbers::pi, -16.72, 1e-9);
    EXPECT_NEAR(std::atan2(p.z, p.x) * 180.0 / std::numbers::pi, 101.29, 1e-9);

    EXPECT_EQ(bodies[firstGalaxy - 1].name, "三角座星系");
    EXPECT_EQ(bodies[firstGalaxy + 63].name, "本星系群");
    EXPECT_EQ(bodies[firstGalaxy + 64].name, "遥远星系");
}

TEST(StarCatalogueTest, FirstAsteroidAngleComesFromTheHash) {
    const CelestialBody& asteroid = stars().bodies[14];
    ASSERT_EQ(asteroid.kind, BodyKind::Asteroid);
    const double theta = 2.0 * std::numbers::pi * unitValue(hash32(41u));
    const double d = std::hypot(asteroid.position.x, asteroid.position.z);
    for (const auto& [got, computed, written] :
         {std::tuple{asteroid.position.x / d, std::cos(theta), 0.07222141903673177},
          std::tuple{asteroid.position.z / d, std::sin(theta), -0.9973886236729997}}) {
        EXPECT_NEAR(got, computed, 1e-12 * std::abs(computed));
        EXPECT_NEAR(got, written, 1e-12 * std::abs(written));
    }
    EXPECT_NEAR(d / astronomicalUnit, 2.1 + 1.2 * unitHash(700u), 1e-12);
}

// Names, kinds and positions rounded to nine significant digits, so that the last bit that the
// platforms' sin, cos, log and pow may differ in does not show.
std::uint64_t catalogueHash(const std::vector<CelestialBody>& bodies) {
    std::uint64_t hash = fnvOffsetBasis;
    char text[32];
    for (const CelestialBody& body : bodies) {
        hash = fnv1a64(body.name, hash);
        hash = fnv1a64(std::to_string(static_cast<int>(body.kind)), hash);
        for (int k = 0; k < 3; ++k) {
            const double v = body.position[k] == 0.0 ? 0.0 : body.position[k];
            const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, 8).ptr;
            hash = fnv1a64(std::string_view(text, static_cast<std::size_t>(end - text)), hash);
        }
    }
    return hash;
}

TEST(StarCatalogueTest, CatalogueIsTheSameOnEveryPlatform) {
    EXPECT_EQ(catalogueHash(stars().bodies), 5442613337537269617u);
}

} // namespace
} // namespace zarn
