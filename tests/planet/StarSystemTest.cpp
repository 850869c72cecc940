#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "planet/Stars.hpp"

namespace zarn {
namespace {

const Stars& started() {
    static const Stars built;
    return built;
}

TEST(StarSystemTest, GravityOfTheSimulatedBodiesAlone) {
    Stars stars = started();
    // The offsets of the constructor's orbit states start at zero: the Earth is where the frame puts it.
    EXPECT_EQ(stars.center(3), (Vec3{0.0, -6371000.0, 0.0}));

    stars.orbits = {{3, {}, {}, stars.mass(3)}};
    const double surface = gravitationalConstant * 5.9722e24 / (6371000.0 * 6371000.0);
    struct Case {
        Vec3 point;
        double pull; // m/s^2 toward the Earth's centre
    };
    for (const Case& c : {Case{{0.0, 1.0, 0.0}, 9.820299},             // 1 m above the surface
                          Case{{0.0, -3185500.0, 0.0}, surface / 2.0}, // half way down: a uniform ball
                          Case{{0.0, -6371000.0, 0.0}, 0.0}}) {        // the centre
        const Vec3 g = stars.gravity(c.point);
        EXPECT_NEAR(g.y, -c.pull, 5e-7) << c.point.y;
    }
    stars.orbits.clear();
    EXPECT_EQ(stars.gravity({0.0, 1.0, 0.0}), Vec3{});
}

TEST(StarSystemTest, LightShadeAndSky) {
    const Stars& stars = started();
    const Vec3 sun = stars.center(0);
    const Vec3 moon = stars.center(9);
    const Vec3 up{0.0, 1.0, 0.0};
    struct Case {
        Vec3 point, normal;
        double light;
    };
    for (const Case& c : {
             Case{{}, -up, 0.018},                                               // facing away
             Case{sun - Vec3{astronomicalUnit, 0.0, 0.0}, {1.0, 0.0, 0.0}, 1.0}, // facing the Sun at 1 AU
             Case{moon - 3e6 * normalized(sun - moon), normalized(sun - moon), 0.018}, // behind the Moon
             Case{sun - Vec3{0.0, 1e9, 0.0}, up, 0.018 + 0.982 * 1.5}, // close to the Sun: capped
         }) {
        EXPECT_DOUBLE_EQ(stars.illumination(c.point, c.normal), c.light);
    }
    EXPECT_EQ(stars.illumination({}, -up), 0.018);

    // Noon on the ground: full day blue, no twilight glow, and the atmosphere bounces its whole share.
    const Vec3 earth = stars.bodies[3].color;
    const Vec3 noon = 0.07 * earth + Vec3{0.05, 0.13, 0.26} + 0.002 * earth;
    const Vec3 bounce = 0.12 * earth + Vec3{0.11, 0.14, 0.19};
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(stars.sky({})[k], noon[k], 1e-15);
        EXPECT_NEAR(stars.atmosphereBounce({})[k], bounce[k], 1e-15);
    }
    EXPECT_GT(stars.sky({0.0, 100000.0, 0.0}).z, 0.0);
    EXPECT_EQ(stars.sky({0.0, 200000.0, 0.0}), Vec3{});
    EXPECT_EQ(stars.atmosphereBounce({0.0, 200000.0, 0.0}), Vec3{});

    EXPECT_EQ(stars.surfaceColor(3, up), (Vec3{0.75, 0.8, 0.84})); // the Earth's poles lie under ice
}

TEST(StarSystemTest, SelectionPicksTheLightBodysSystem) {
    const Stars& start = started();
    struct Case {
        double height; // straight up from the body's surface
        int body;
        int nearest, light;
        std::array<std::int32_t, 10> near;
    };
    const int star = 842; // the first generated star, followed by its planets and moons
    for (const Case& c : {
             // On the Earth: Mars, the fourth nearest planet, gives way to Jupiter, whose moons are listed.
             Case{0.0, 3, 3, 0, {0, 3, 1, 2, 5, 9, 10, 11, 13, 12}},
             // Above the first asteroid: it takes the last moon's slot.
             Case{100.0, 14, 14, 0, {0, 1, 2, 3, 5, 9, 13, 10, 11, 14}},
             // Near another star: its own ten bodies.
             Case{2e11, star, star, star, {star, 843, 846, 848, 850, 845, 844, 847, 849, 851}},
         }) {
        Stars stars = start;
        const Vec3 point = stars.center(c.body) +
                           Vec3{0.0, stars.bodies[static_cast<std::size_t>(c.body)].radius + c.height, 0.0};
        stars.select(point);
        EXPECT_EQ(stars.nearestBody, c.nearest);
        EXPECT_EQ(stars.lightBody, c.light);
        EXPECT_EQ(stars.nearBodies, c.near);
        ASSERT_EQ(stars.orbits.size(), 10u);
        // New near bodies call for a new sky.
        EXPECT_EQ(stars.skyOrigin.x == 1e100, c.body != 3);
    }
}

TEST(StarSystemTest, OrbitsStartCircularAndStepAtMostFiftyMilliseconds) {
    const Stars& start = started();
    const auto state = [](const Stars& stars, int body) {
        return *std::find_if(stars.orbits.begin(), stars.orbits.end(),
                             [&](const OrbitalState& s) { return s.body == body; });
    };
    const double earthSpeed = std::sqrt(gravitationalConstant * 1.98847e30 / astronomicalUnit);
    const double moonSpeed = std::sqrt(gravitationalConstant * 5.9722e24 / 383589624.1);
    EXPECT_NEAR(state(start, 3).velocity.x, earthSpeed, 1e-9);
    EXPECT_NEAR(state(start, 9).velocity.x, earthSpeed + moonSpeed, 1e-3);
    EXPECT_EQ(state(start, 9).velocity.y, 0.0);
    EXPECT_EQ(state(start, 0).velocity, Vec3{});

    Stars longStep = start;
    Stars shortStep = start;
    longStep.update({}, 1.0);
    shortStep.update({}, 0.05);
    ASSERT_EQ(longStep.orbits.size(), 10u);
    for (std::size_t i = 0; i < longStep.orbits.size(); ++i) {
        EXPECT_EQ(longStep.orbits[i].offset, shortStep.orbits[i].offset);
        EXPECT_EQ(longStep.orbits[i].velocity, shortStep.orbits[i].velocity);
    }
    // The Moon falls toward the Earth, and a later selection keeps what the simulation gathered.
    const OrbitalState moon = state(longStep, 9);
    const Vec3 moonGain = moon.velocity - state(start, 9).velocity;
    const Vec3 earthGain = state(longStep, 3).velocity - state(start, 3).velocity;
    EXPECT_LT(dot(moonGain - earthGain, start.bodies[9].position - start.bodies[3].position), 0.0);
    EXPECT_EQ(moon.offset, moon.velocity * 0.05);
    longStep.select({});
    EXPECT_EQ(state(longStep, 9).offset, moon.offset);

    // The sky waits for 0.02 AU of travel.
    const std::uint64_t revision = longStep.skyRevision;
    longStep.update({2991957414.0, 0.0, 0.0}, 0.0);
    EXPECT_EQ(longStep.skyRevision, revision);
    longStep.update({2991957415.0, 0.0, 0.0}, 0.0);
    EXPECT_EQ(longStep.skyRevision, revision + 1);
}

TEST(StarSystemTest, SkyListsNoNearBodyAndNoGalaxy) {
    Stars stars = started();
    const Vec3 viewer = stars.center(4) + Vec3{0.0, 1e9, 0.0}; // Mars shows as a disc from here
    stars.refreshSky(viewer);
    std::vector<Vec3> excluded;
    for (int i = 0; i < static_cast<int>(stars.bodies.size()); ++i) {
        if (stars.isNear(i) || stars.bodies[static_cast<std::size_t>(i)].kind == BodyKind::Galaxy) {
            excluded.push_back(normalized(stars.center(i) - viewer));
        }
    }
    int starPoints = 0;
    double planetSize = 0.0;
    for (const SkyPoint& p : stars.skyPoints) {
        if (p.size == 0.00065) {
            ++starPoints;
        } else {
            planetSize += p.size;
        }
        for (const Vec3& d : excluded) {
            ASSERT_GT(length(p.direction - d), 1e-12);
        }
    }
    EXPECT_EQ(starPoints, 3006); // every star but the Sun, which lights the scene
    EXPECT_EQ(stars.skyPoints.size(), 3007u);
    EXPECT_NEAR(planetSize, 3389500.0 / 1e9, 1e-15); // and Mars, the only planet large enough
}

} // namespace
} // namespace zarn
