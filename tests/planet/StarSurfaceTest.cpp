#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"
#include "planet/Stars.hpp"

namespace zarn {
namespace {

const Stars& started() {
    static const Stars built;
    return built;
}

// 4,000 directions spread evenly over the sphere (a Fibonacci lattice).
std::vector<Vec3> spread() {
    constexpr int count = 4000;
    std::vector<Vec3> directions;
    for (int k = 0; k < count; ++k) {
        const double y = 1.0 - 2.0 * (k + 0.5) / count;
        const double ring = std::sqrt(1.0 - y * y);
        directions.push_back(
            {ring * std::cos(2.399963229728653 * k), y, ring * std::sin(2.399963229728653 * k)});
    }
    return directions;
}

TEST(StarSurfaceTest, ReliefOfCratersWavesAndTheEarth) {
    const Stars& stars = started();
    // The Moon is bare radius away from its craters, sunk in their bowls and raised on their rims.
    int flat = 0, bowls = 0, rims = 0;
    for (const Vec3& p : spread()) {
        const double h = stars.relief(9, p);
        flat += h == 0.0;
        bowls += h < 0.0;
        rims += h > 0.0;
        EXPECT_LT(h, 0.15 * 1600.0 * 1.001);
        // Jupiter has air: waves of at most 2,400 m.
        EXPECT_LE(std::abs(stars.relief(5, p)), 2400.0);
    }
    EXPECT_GT(flat, 3600);
    EXPECT_GT(bowls, 40);
    EXPECT_GT(rims, 10);

    // The Earth: the district's surroundings are flat while x and z both lie within 1,280 m.
    const double r = stars.bodies[3].radius;
    const auto under = [&](double x, double z) {
        return normalized({x, std::sqrt(r * r - x * x - z * z), z});
    };
    EXPECT_EQ(stars.relief(3, under(0.0, 0.0)), 0.0);
    EXPECT_EQ(stars.relief(3, under(1000.0, -1250.0)), 0.0);
    EXPECT_GT(stars.relief(3, under(1000.0, 3500.0)), 100.0);
    EXPECT_GT(stars.relief(3, under(-3500.0, 1000.0)), 100.0);
}

TEST(StarSurfaceTest, GroundFollowsTheViewerAndReturnsAfterAClimb) {
    Stars stars = started();
    const double radius = stars.bodies[9].radius;
    const Vec3 start = stars.rebase(9, stars.center(9) + Vec3{0.0, radius + 1.65, 0.0});
    stars.select(start);
    ASSERT_EQ(stars.nearestBody, 9);
    const Vec3 centre = stars.center(9);
    Physics physics;
    struct Step {
        Vec3 point;
        bool cleared; // the physics was emptied (and refilled when there are pieces)
        std::size_t pieces;
    };
    const Vec3 east{1.0, 0.0, 0.0};
    for (const Step& step : {
             Step{start, true, 625}, Step{start + 150.0 * east, false, 625},
             Step{start + 170.0 * east, true, 625},
             Step{start + 170.0 * east + Vec3{0.0, 12100.0, 0.0}, true, 0}, // above 12 km: no ground
             Step{start + Vec3{0.0, 15000.0, 0.0}, false, 0},
             Step{start + 170.0 * east, true, 625}, // back down over it
         }) {
        physics.time = 1.0; // an emptied physics starts its clock again
        stars.terrain(physics, step.point);
        EXPECT_EQ(physics.time == 0.0, step.cleared);
        ASSERT_EQ(physics.pieces.size(), step.pieces);
        EXPECT_EQ(stars.terrainBody, step.pieces > 0 ? 9 : -1);
        if (step.pieces == 0) {
            continue;
        }
        // The viewer stands 1.65 m above the slab under them, and every slab's top lies on the relief.
        const PieceHit ground = physics.trace(step.point, normalized(centre - step.point), 10.0);
        ASSERT_TRUE(ground.hit);
        EXPECT_NEAR(ground.distance, 1.65, 0.01);
        for (const MatterPiece& piece : physics.pieces) {
            ASSERT_TRUE(piece.anchored);
            const Vec3 up = piece.body.orientation.rotate({0.0, 1.0, 0.0});
            const Vec3 d = normalized(piece.body.center - centre);
            EXPECT_LT(length(up - d), 1e-9);
            EXPECT_NEAR(length(piece.body.center + 8.0 * up - centre), radius + stars.relief(9, d), 1e-6);
        }
    }
}

TEST(StarSurfaceTest, RebaseKeepsEveryPointAndTheRangeGrowsTenfoldPerTap) {
    Stars stars = started();
    stars.update({}, 1.0); // the simulation has moved the near bodies off their catalogue places
    const Vec3 point{1200.0, 35.0, -800.0};
    const Vec3 toJupiter = stars.center(5) - point;
    const Vec3 moved = stars.rebase(9, point);
    const Vec3 moon = stars.center(9);
    EXPECT_LT(length(moon - Vec3{0.0, -stars.bodies[9].radius, 0.0}), 1e-6);
    EXPECT_LT(length(stars.center(5) - moved - toJupiter), 1e-3);
    EXPECT_EQ(stars.frameBody, 9);
    EXPECT_EQ(stars.terrainBody, -1);
    EXPECT_EQ(stars.selectTimer, 0.0);
    EXPECT_EQ(stars.skyOrigin.x, 1e100);

    struct Range {
        unsigned taps;
        std::uint64_t lightYears;
        double metres;
    };
    for (const Range& r : {Range{0, 0, 0.0}, Range{3, 0, 0.0}, Range{4, 1, 9460730472580800.0},
                           Range{10, 1000000, 1e6 * lightYear}, Range{15, 100000000000, 1e11 * lightYear},
                           Range{4000000000u, 100000000000, 1e11 * lightYear}}) {
        EXPECT_EQ(Stars::warpLightYears(r.taps), r.lightYears) << r.taps;
        EXPECT_EQ(Stars::warpRange(r.taps), r.metres) << r.taps;
    }
}

bool finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

TEST(StarSurfaceTest, WarpsStopAtMatterLandOnBodiesOrLeaveThemBehind) {
    const Stars& start = started();
    Physics none;
    const Vec3 eye{0.0, 1.65, 0.0};
    {
        // Fewer than four taps, or no direction: nothing happens.
        Stars stars = start;
        EXPECT_EQ(stars.warp(eye, {0.0, 0.0, 1.0}, 3, none), eye);
        EXPECT_EQ(stars.warp(eye, {}, 9, none), eye);
        EXPECT_EQ(stars.frameBody, 3);
        // A wall 100 m ahead on the Earth: the warp ends 3 m short of it.
        Physics wall;
        MatterPiece piece;
        piece.body.center = {0.0, 1.65, 101.0};
        piece.body.halfExtents = {5.0, 5.0, 1.0};
        wall.add(piece);
        EXPECT_EQ(stars.warp(eye, {0.0, 0.0, 2.0}, 4, wall), (Vec3{0.0, 1.65, 97.0}));
        EXPECT_EQ(stars.frameBody, 3);
        // Aimed at the Moon: a landing 12 m above the side that faces the Earth.
        const Vec3 toMoon = normalized(stars.center(9) - eye);
        const Vec3 arrival = stars.warp(eye, toMoon, 4, none);
        const Vec3 landed = arrival - stars.center(9);
        EXPECT_EQ(stars.frameBody, 9);
        EXPECT_NEAR(length(landed) - stars.bodies[9].radius - stars.relief(9, normalized(landed)), 12.0,
                    1e-3);
        EXPECT_GT(dot(normalized(landed), -toMoon), 0.99);
    }

    // On the Moon, where the ground lies on the radius: a warp into the ground stops 3 m short of the
    // slabs, or without them lands 12 m above the point it aims at (above the start when that lies in
    // the ground already); a level warp leaves the Moon, even from a pit in its ground, and so does
    // one that skims the ground beyond the slabs.
    Stars onMoon = start;
    onMoon.rebase(9, {});
    onMoon.select(eye);
    Physics ground;
    onMoon.terrain(ground, eye);
    const Vec3 level{1.0, 0.0, 0.0};
    const Vec3 down = normalized({1.0, -0.4, 0.0});
    const Vec3 skim = normalized({1.0, -0.003, 0.0}); // into the ground 600 m on, 8 m deep at most
    const Vec3 aimed{1.65 / 0.4, 0.0, 0.0};           // where the downward warp meets the ground
    const Vec3 pit{0.0, -0.5, 0.0};
    const Vec3 moonOrigin = start.bodies[9].position + Vec3{0.0, start.bodies[9].radius, 0.0};
    struct Case {
        Vec3 eye, direction;
        const Physics& physics;
        int frame;
        Vec3 arrival;
    };
    for (const Case& c : {
             Case{eye, down, ground, 9, eye + (length(aimed - eye) - 3.0) * down},
             Case{eye, down, none, 9, aimed + Vec3{0.0, 12.0, 0.0}},
             Case{pit, down, none, 9, pit + Vec3{0.0, 12.0, 0.0}},
             Case{eye, level, ground, -1, {}},
             Case{eye, skim, ground, -1, {}},
             Case{pit, level, none, -1, {}},
         }) {
        Stars stars = onMoon;
        EXPECT_LT(length(stars.warp(c.eye, c.direction, 4, c.physics) - c.arrival), 0.01);
        EXPECT_EQ(stars.frameBody, c.frame);
        if (c.frame == -1) {
            EXPECT_LT(length(stars.freeOrigin - (moonOrigin + c.eye + lightYear * c.direction)), 16.0);
        }
    }

    // Fifteen jumps of 1e11 light-years each leave every number of the star world finite.
    Stars far = onMoon;
    Vec3 position = eye;
    for (int k = 0; k < 15; ++k) {
        position = far.warp(position, {std::cos(k), 0.3, std::sin(k)}, 15, none);
        far.update(position, 1.0 / 120.0);
        ASSERT_TRUE(finite(position) && finite(far.freeOrigin) && finite(far.gravity(position)));
        ASSERT_TRUE(finite(far.sky(position)) && std::isfinite(far.illumination(position, {0.0, 1.0, 0.0})));
        for (const OrbitalState& state : far.orbits) {
            ASSERT_TRUE(finite(state.offset) && finite(state.velocity) && finite(far.center(state.body)));
        }
        for (const SkyPoint& point : far.skyPoints) {
            ASSERT_TRUE(finite(point.direction));
        }
    }
    EXPECT_GT(length(far.freeOrigin), 1e27);
}

} // namespace
} // namespace zarn
