#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "physics/Physics.hpp"
#include "physics/StepTestSupport.hpp"

namespace zarn {
namespace {

using steptest::box;
using steptest::cube;

constexpr double frame = 1.0 / 60.0;

// Uniform draws, the same on every platform.
struct Draws {
    std::uint64_t state;
    double in(double low, double high) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return low + (high - low) * static_cast<double>(state >> 11) * 0x1.0p-53;
    }
    Vec3 within(const Vec3& low, const Vec3& high) {
        return {in(low.x, high.x), in(low.y, high.y), in(low.z, high.z)};
    }
};

// Two towers of columns and slabs and a hundred loose boxes, turned every way, falling onto one wide
// anchored ground.
Physics debrisScene(Draws& draws) {
    Physics physics;
    MatterPiece ground = box({0.0, -0.5, 0.0}, {150.0, 0.5, 120.0}, true);
    ground.groundLevel = -1.0; // what a blast breaks off it stays anchored
    physics.add(ground);
    for (int tower = 0; tower < 2; ++tower)
        for (int storey = 0; storey < 2 + tower; ++storey) {
            const double x0 = -40.0 + 30.0 * tower, base = 2.5 * storey;
            for (int n = 0; n < 18; ++n)
                physics.add(cube({x0 + 3.0 * (n % 3), base + 0.5 + n / 9, 3.0 * (n / 3 % 3)}, 0.5));
            for (int n = 0; n < 49; ++n)
                physics.add(box({x0 + n % 7, base + 2.25, n / 7.0}, {0.5, 0.25, 0.5}));
        }
    physics.connectTouching();
    for (int n = 0; n < 100; ++n) {
        MatterPiece loose = box(draws.within({-40.0, 1.0, 12.0}, {-10.0, 12.0, 36.0}),
                                draws.within({0.1, 0.1, 0.1}, {0.7, 0.5, 0.7}));
        const Vec3 axis = draws.within({-1.0, -1.0, -1.0}, {1.0, 1.0, 1.0});
        const double w = draws.in(-1.0, 1.0), norm = std::sqrt(w * w + dot(axis, axis));
        loose.body.orientation = {w / norm, axis.x / norm, axis.y / norm, axis.z / norm};
        loose.body.velocity = draws.within({-2.0, -1.0, -2.0}, {2.0, 1.0, 2.0});
        loose.bondableAt = n % 2 == 0 ? 0.0 : 1e9;
        physics.add(loose);
    }
    physics.refreshTopology();
    return physics;
}

// About one step in eleven: a rifle bullet, a blast, the push of an organism or debris thrown in.
void disturb(Physics& physics, Draws& draws) {
    const double roll = draws.in(0.0, 1.0);
    const auto id =
        static_cast<std::uint32_t>(draws.in(1.0, static_cast<double>(physics.pieces.size()) + 1.0));
    if (roll >= 0.093 || id > physics.pieces.size() || !physics.pieces[id - 1].alive)
        return;
    const MatterPiece& piece = physics.pieces[id - 1];
    const Vec3 direction = normalized(draws.within({-1.0, -1.0, -1.0}, {1.0, 0.5, 1.0}));
    if (roll < 0.06) {
        // A bullet of 4 to 16 g at 360 to 900 m/s, with the game's impact multiplier of 4.
        const double mass = draws.in(0.004, 0.016), speed = draws.in(360.0, 900.0);
        physics.impact(id, {piece.body.center - direction * 0.4, direction * (4.0 * mass * speed),
                            8.0 * mass * speed * speed, 8e-5, 4e-5, 0.12, true});
    } else if (roll < 0.075) {
        physics.blast(piece.body.center + draws.within({-2.0, -1.0, -2.0}, {2.0, 2.0, 2.0}),
                      draws.in(3e4, 5e5), draws.in(2.0, 7.0));
    } else if (roll < 0.09) {
        if (piece.assembly >= 0) {
            const double mass = physics.assemblies[static_cast<std::size_t>(piece.assembly)].mass;
            physics.contactImpulse(id, direction * (mass * draws.in(1.0, 8.0)), piece.body.center);
        }
    } else {
        MatterPiece debris = box(draws.within({-40.0, 5.0, -15.0}, {40.0, 20.0, 40.0}),
                                 draws.within({0.2, 0.2, 0.2}, {0.8, 0.8, 0.8}));
        debris.body.velocity = draws.within({-10.0, -5.0, -10.0}, {10.0, 5.0, 10.0});
        physics.addNoted(debris);
    }
}

// The work gravity does in the coming step on what flies: every awake assembly falls against the
// linear drag as a body in free flight does.
double gravityWork(const Physics& physics) {
    const double h = std::min(frame, physics.motionWindowEnd() - physics.time);
    const double k = physics.linearDrag;
    const double a = -std::expm1(-k * h) / k;
    double work = 0.0;
    for (const Assembly& assembly : physics.assemblies)
        if (!assembly.asleep && h > 0.0)
            work +=
                assembly.mass * dot(physics.gravity, assembly.velocity * a + physics.gravity * ((h - a) / k));
    return work;
}

double fastest(const Physics& physics) {
    double speed = 0.0;
    for (const MatterPiece& piece : physics.pieces)
        speed = std::max(speed, piece.alive ? length(piece.body.velocity) : 0.0);
    return speed;
}

// Debris under fire, blasts and pushes for a thousand steps: no step gives the moving matter more
// kinetic energy than gravity's work on it (contacts pass energy on and take it away, and regrouping
// debris into bodies adds none), no step makes anything faster than 2 km/s (or than the fastest a hit
// itself threw: a blast gives a lone pebble its whole share), and the world stays valid.
TEST(Energy, NoStepOfFallingDebrisGainsEnergyFromNowhere) {
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        Draws draws{seed * 0x9e3779b97f4a7c15ull};
        Physics physics = debrisScene(draws);
        for (int n = 0; n < 1000; ++n) {
            disturb(physics, draws);
            if (n % 300 == 299)
                physics.compactHistory();
            if (physics.topologyDirty)
                physics.refreshNotedTopology();
            const double before = steptest::movingEnergy(physics);
            const double work = gravityWork(physics);
            const double thrown = fastest(physics);
            physics.step(frame);
            const double after = steptest::movingEnergy(physics);
            ASSERT_LE(after, before + work + 1e-9 * (before + std::abs(work)) + 1e-9) << seed << " " << n;
            ASSERT_LE(fastest(physics), std::max(2000.0, thrown)) << seed << " " << n;
        }
        EXPECT_GT(physics.fractureCount, 50u) << seed;
        EXPECT_GT(physics.contactBondCount, 10u) << seed;
        EXPECT_TRUE(physics.validate()) << seed;
    }
}

} // namespace
} // namespace zarn
