#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"
#include "planet/Stars.hpp"

namespace zarn {
namespace {

const Stars& started() {
    static const Stars built;
    return built;
}

bool finite(const Vec3& v) {
    return std::isfinite(v.x + v.y + v.z);
}

TEST(StarSurfaceTest, ReliefOfCratersWavesAndTheEarth) {
    const Stars& stars = started();
    // Over 4,000 evenly spread directions the Moon is bare radius away from its craters, sunk in their
    // bowls and raised on their rims; Jupiter, under air, has waves of at most 2,400 m.
    int flat = 0, bowls = 0, rims = 0;
    for (int k = 0; k < 4000; ++k) {
        const double y = 1.0 - (k + 0.5) / 2000.0;
        const double ring = std::sqrt(1.0 - y * y);
        const Vec3 p{ring * std::cos(2.399963229728653 * k), y, ring * std::sin(2.399963229728653 * k)};
        const double h = stars.relief(9, p);
        (h == 0.0 ? flat : h < 0.0 ? bowls : rims) += 1;
        EXPECT_LE(std::abs(stars.relief(5, p)), 2400.0);
    }
    EXPECT_GT(flat, 3600);
    EXPECT_GT(bowls, 40);
    EXPECT_GT(rims, 10);
    // The Earth's ground is flat about the district only while x and z both lie within 1,280 m.
    const double r = stars.bodies[3].radius;
    const auto under = [&](double x, double z) {
        return normalized({x, std::sqrt(r * r - x * x - z * z), z});
    };
    EXPECT_EQ(stars.relief(3, under(1000.0, -1250.0)), 0.0);
    EXPECT_GT(stars.relief(3, under(1000.0, 3500.0)), 100.0);
    EXPECT_GT(stars.relief(3, under(-3500.0, 1000.0)), 100.0);
}

TEST(StarSurfaceTest, GroundFollowsTheViewerAndReturnsAfterAClimb) {
    Stars stars = started();
    const double radius = stars.bodies[9].radius;
    const Vec3 start = stars.rebase(9, stars.center(9) + Vec3{0.0, radius + 1.65, 0.0});
    EXPECT_LT(length(stars.center(9) - Vec3{0.0, -radius, 0.0}), 1e-6);
    stars.select(start);
    const Vec3 centre = stars.center(9);
    const Vec3 east{1.0, 0.0, 0.0}, up{0.0, 1.0, 0.0};
    Physics physics;
    struct Step {
        Vec3 point;
        bool cleared; // the physics was emptied, and refilled when there are pieces
        std::size_t pieces;
    };
    for (const Step& step : {Step{start, true, 625}, Step{start + 150.0 * east, false, 625},
                             Step{start + 170.0 * east, true, 625}, Step{start + 12100.0 * up, true, 0},
                             Step{start + 15000.0 * up, false, 0}, Step{start + 170.0 * east, true, 625}}) {
        physics.time = 1.0; // an emptied physics starts its clock again
        stars.terrain(physics, step.point);
        EXPECT_EQ(physics.time == 0.0, step.cleared);
        ASSERT_EQ(physics.pieces.size(), step.pieces);
        EXPECT_EQ(stars.terrainBody, step.pieces > 0 ? 9 : -1);
        // The viewer stands 1.65 m above the slab under them; every slab's top lies on the relief.
        const PieceHit ground = physics.trace(step.point, normalized(centre - step.point), 10.0);
        EXPECT_TRUE(step.pieces == 0 || std::abs(ground.distance - 1.65) < 0.01);
        for (const MatterPiece& piece : physics.pieces) {
            const Vec3 d = normalized(piece.body.center - centre);
            EXPECT_TRUE(piece.anchored && length(piece.body.orientation.rotate(up) - d) < 1e-9);
            EXPECT_NEAR(length(piece.body.center + 8.0 * d - centre), radius + stars.relief(9, d), 1e-6);
        }
    }
}

TEST(StarSurfaceTest, WarpRangeGrowsTenfoldPerTapFromTheFourth) {
    struct Range {
        unsigned taps;
        std::uint64_t lightYears;
        double metres;
    };
    for (const Range& r :
         {Range{3, 0, 0.0}, Range{4, 1, 9460730472580800.0}, Range{10, 1000000, 1e6 * lightYear},
          Range{15, 100000000000, 1e11 * lightYear}, Range{99, 100000000000, 1e11 * lightYear}}) {
        EXPECT_EQ(Stars::warpLightYears(r.taps), r.lightYears) << r.taps;
        EXPECT_EQ(Stars::warpRange(r.taps), r.metres) << r.taps;
    }
}

TEST(StarSurfaceTest, WarpsStopAtMatterLandOnBodiesOrLeaveThemBehind) {
    const Stars& start = started();
    const Vec3 eye{0.0, 1.65, 0.0};
    Physics none;
    Stars onEarth = start;
    EXPECT_EQ(onEarth.warp(eye, {0.0, 0.0, 1.0}, 3, none), eye); // three taps do nothing
    EXPECT_EQ(onEarth.frameBody, 3);
    const Vec3 toMoon = normalized(onEarth.center(9) - eye);
    const Vec3 landed = onEarth.warp(eye, toMoon, 4, none) + Vec3{0.0, start.bodies[9].radius, 0.0};
    EXPECT_EQ(onEarth.frameBody, 9);
    EXPECT_NEAR(length(landed) - start.bodies[9].radius - onEarth.relief(9, normalized(landed)), 12.0, 1e-3);
    EXPECT_GT(dot(normalized(landed), -toMoon), 0.99); // on the side that faces the Earth

    // On the Moon, where the ground lies on the radius: a warp into the ground stops 3 m short of the
    // slabs, or without them lands 12 m above where it meets the ground (above the start's ground
    // when the start lies in it already); one that skims the ground beyond the slabs lands there; a
    // level warp leaves the Moon, even from a pit in its ground.
    Stars onMoon = start;
    onMoon.rebase(9, {});
    onMoon.select(eye);
    Physics ground;
    onMoon.terrain(ground, eye);
    const Vec3 upward{0.0, 1.0, 0.0}, level{1.0, 0.0, 0.0}, pit{0.0, -0.5, 0.0};
    const Vec3 down = normalized({1.0, -0.4, 0.0});
    const Vec3 skim = normalized({1.0, -0.003, 0.0}); // into the ground 600 m on, 8 m deep at most
    const Vec3 aimed{1.65 / 0.4, 0.0, 0.0};           // where the downward warp meets the ground
    const Vec3 moonOrigin = start.bodies[9].position + Vec3{0.0, start.bodies[9].radius, 0.0};
    const Vec3 moonCentre = onMoon.center(9);
    // Where a ray from the eye first meets the bare sphere, and the landing 12 m above that.
    const auto landedOnSphere = [&](const Vec3& d) {
        const Vec3 e = eye - moonCentre;
        const double b = dot(e, d), c = lengthSquared(e) - start.bodies[9].radius * start.bodies[9].radius;
        const Vec3 met = eye + (-b - std::sqrt(b * b - c)) * d;
        return met + 12.0 * normalized(met - moonCentre);
    };
    struct Case {
        Vec3 eye, direction;
        const Physics& physics;
        int frame;
        Vec3 arrival;
    };
    for (const Case& c : {Case{eye, down, ground, 9, eye + (length(aimed - eye) - 3.0) * down},
                          Case{eye, down, none, 9, aimed + 12.0 * upward},
                          Case{pit, down, none, 9, 12.0 * upward}, Case{eye, level, ground, -1, {}},
                          Case{eye, skim, ground, 9, landedOnSphere(skim)}, Case{pit, level, none, -1, {}}}) {
        Stars stars = onMoon;
        EXPECT_LT(length(stars.warp(c.eye, c.direction, 4, c.physics) - c.arrival), 0.01);
        EXPECT_EQ(stars.frameBody, c.frame);
        if (c.frame == -1) {
            EXPECT_LT(length(stars.freeOrigin - (moonOrigin + c.eye + lightYear * c.direction)), 16.0);
        }
    }

    // Fifteen jumps of 1e11 light-years leave every number of the star world finite.
    Vec3 position = eye;
    for (int k = 0; k < 15; ++k) {
        position = onMoon.warp(position, {std::cos(k), 0.3, std::sin(k)}, 15, none);
        onMoon.update(position, 1.0 / 120.0);
        Vec3 sum = position + onMoon.freeOrigin + onMoon.gravity(position) + onMoon.sky(position);
        for (const OrbitalState& state : onMoon.orbits) {
            sum += state.offset + state.velocity + onMoon.center(state.body);
        }
        for (const SkyPoint& point : onMoon.skyPoints) {
            sum += point.direction;
        }
        ASSERT_TRUE(finite(sum) && std::isfinite(onMoon.illumination(position, {0.0, 1.0, 0.0}))) << k;
    }
    EXPECT_GT(length(onMoon.freeOrigin), 1e27);
}

// m above the body's ground of a point in the present frame.
double heightOver(const Stars& stars, int body, const Vec3& point) {
    const Vec3 p = point - stars.center(body);
    return length(p) - stars.bodies[static_cast<std::size_t>(body)].radius -
           stars.relief(body, normalized(p));
}

TEST(StarSurfaceTest, AimedWarpsLandOnFarBodiesAtAnyDistance) {
    // From 3 km above the district, at stars beyond 10,000 light-years, their first planets and those
    // planets' first moons: each landing is 12 m above the ground of the body aimed at.
    const Stars& start = started();
    const Vec3 eye{0.0, 3000.0, 0.0};
    const Physics none;
    int far = 0;
    for (std::size_t i = 0; i < start.bodies.size() && far < 8; ++i) {
        const double distance = length(start.center(static_cast<int>(i)) - eye);
        if (start.bodies[i].kind != BodyKind::Star || distance < 1e4 * lightYear || i % 97 != 0) {
            continue;
        }
        ++far;
        for (const int target : {static_cast<int>(i), static_cast<int>(i) + 1, static_cast<int>(i) + 2}) {
            SCOPED_TRACE(target);
            Stars stars = start;
            const Vec3 aim = stars.center(target) - eye;
            const auto taps = static_cast<unsigned>(4 + std::ceil(std::log10(length(aim) / lightYear)));
            const Vec3 arrival = stars.warp(eye, aim, taps, none);
            ASSERT_EQ(stars.frameBody, target);
            EXPECT_NEAR(heightOver(stars, target, arrival), 12.0, 0.01);
        }
    }
    EXPECT_EQ(far, 8);
}

TEST(StarSurfaceTest, WarpsBelowTheHorizonLandWhereTheyFirstMeetTheGround) {
    // From 2 m and from 100 m above the ground of the cratered Moon, waved Mars and a small asteroid,
    // rays 0.5 to 6 degrees below the horizon land above the first point where they meet the ground,
    // as a march in 4 m steps finds it (over the hills before their closest approach too), and
    // leave the body when they pass over its horizon.
    const Stars& start = started();
    const Physics none;
    int landed = 0;
    for (const int body : {9, 4, 14}) {
        for (int k = 0; k < 12; ++k) {
            SCOPED_TRACE(body * 100 + k);
            Stars stars = start;
            stars.rebase(body, {});
            const Vec3 centre = stars.center(body);
            const double y = 0.9 - 0.15 * k, ring = std::sqrt(1.0 - y * y);
            const Vec3 up{ring * std::cos(2.4 * k), y, ring * std::sin(2.4 * k)};
            const Vec3 east = normalized(cross({0.0, 1.0, 0.0}, up)), north = cross(up, east);
            const double radius = stars.bodies[static_cast<std::size_t>(body)].radius;
            const Vec3 eye = centre + (radius + stars.relief(body, up) + (k % 2 == 0 ? 2.0 : 100.0)) * up;
            const double below = (0.5 + 0.5 * k) * std::numbers::pi / 180.0;
            const Vec3 level = std::cos(0.7 * k) * east + std::sin(0.7 * k) * north;
            const Vec3 d = std::cos(below) * level - std::sin(below) * up;
            double met = 0.0;
            while (met < 1e6 && heightOver(stars, body, eye + met * d) > 0.0) {
                met += 4.0;
            }
            const Vec3 arrival = stars.warp(eye, d, 4, none);
            if (met >= 1e6) { // over the horizon of a small body
                EXPECT_NE(stars.frameBody, body);
                continue;
            }
            ASSERT_EQ(stars.frameBody, body);
            const Vec3 ground = arrival - 12.0 * normalized(arrival - stars.center(body));
            EXPECT_NEAR(dot(ground - eye, d), met, 4.0);
            EXPECT_LT(length(cross(ground - eye, d)), 1e-3); // on the ray
            EXPECT_NEAR(heightOver(stars, body, arrival), 12.0, 0.05);
            ++landed;
        }
    }
    EXPECT_GT(landed, 30);
}

} // namespace
} // namespace zarn
