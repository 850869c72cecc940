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
using steptest::movingEnergy;

constexpr double frame = 1.0 / 60.0;
constexpr double speedLimit = 2000.0; // m/s: no contact ever throws matter faster

// Uniform draws of a scene, the same on every platform.
struct Draws {
    std::uint64_t state;
    double unit() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    }
    double in(double low, double high) { return low + (high - low) * unit(); }
    bool chance(double p) { return unit() < p; }
    Vec3 direction() {
        const Vec3 v{in(-1.0, 1.0), in(-1.0, 0.5), in(-1.0, 1.0)};
        return normalized(v) == Vec3{} ? Vec3{0.0, -1.0, 0.0} : normalized(v);
    }
    Quaternion turn() {
        const double w = in(-1.0, 1.0), x = in(-1.0, 1.0), y = in(-1.0, 1.0), z = in(-1.0, 1.0);
        const double n = std::sqrt(w * w + x * x + y * y + z * z) + 1e-12;
        return {w / n, x / n, y / n, z / n};
    }
};

// Towers of columns and slabs and a field of rubble on one wide anchored ground (top at y = 0), with
// loose turned boxes falling onto it.
Physics debrisScene(Draws& draws) {
    Physics physics;
    MatterPiece ground = box({0.0, -0.5, 0.0}, {150.0, 0.5, 120.0}, true);
    ground.groundLevel = -1.0; // what a blast breaks off it stays anchored
    physics.add(ground);
    const int towers = 1 + static_cast<int>(draws.in(0.0, 2.0));
    for (int t = 0; t < towers; ++t) {
        const double x0 = -40.0 + 30.0 * t + draws.in(-3.0, 3.0);
        const double z0 = draws.in(-8.0, 4.0);
        const int storeys = 2 + static_cast<int>(draws.in(0.0, 2.0));
        for (int storey = 0; storey < storeys; ++storey) {
            const double base = storey * 2.5;
            for (int x = 0; x < 3; ++x)
                for (int z = 0; z < 3; ++z)
                    for (int n = 0; n < 2; ++n)
                        physics.add(cube({x0 + 3.0 * x, base + 0.5 + n, z0 + 3.0 * z}, 0.5));
            for (int x = 0; x < 7; ++x)
                for (int z = 0; z < 7; ++z)
                    physics.add(box({x0 + x, base + 2.25, z0 + z}, {0.5, 0.25, 0.5}));
        }
    }
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k)
            if (draws.chance(0.6))
                physics.add(cube({-40.0 + 2.0 * i, 0.5, 20.0 + 2.0 * k}, 0.5));
    physics.connectTouching();
    for (int n = 0; n < 40; ++n) {
        MatterPiece loose = box({draws.in(-40.0, -24.0), draws.in(2.5, 12.0), draws.in(20.0, 36.0)},
                                {draws.in(0.15, 0.7), draws.in(0.1, 0.5), draws.in(0.15, 0.7)});
        loose.body.orientation = draws.turn();
        loose.body.velocity = {draws.in(-2.0, 2.0), draws.in(-1.0, 1.0), draws.in(-2.0, 2.0)};
        loose.bondableAt = draws.chance(0.5) ? 0.0 : 1e9;
        physics.add(loose);
    }
    physics.refreshTopology();
    return physics;
}

std::uint32_t anyAlive(const Physics& physics, Draws& draws) {
    for (int tries = 0; tries < 64; ++tries) {
        const auto id =
            static_cast<std::uint32_t>(1 + draws.in(0.0, static_cast<double>(physics.pieces.size())));
        if (id <= physics.pieces.size() && physics.pieces[id - 1].alive)
            return id;
    }
    return 0;
}

// About one step in eleven: a rifle bullet, a rocket's blast, the push of an organism on a loose
// piece, or debris thrown in.
void disturb(Physics& physics, Draws& draws) {
    const double roll = draws.unit();
    const std::uint32_t id = anyAlive(physics, draws);
    if (id == 0)
        return;
    const MatterPiece& piece = physics.pieces[id - 1];
    if (roll < 0.06) {
        // The guns' bullets of 4 to 16 g at 360 to 900 m/s, with the game's impact multiplier of 4.
        const Vec3 direction = draws.direction();
        const double mass = draws.in(0.004, 0.016);
        const double speed = draws.in(360.0, 900.0);
        Impact hit;
        hit.point = piece.body.center - direction * 0.4;
        hit.impulse = direction * (4.0 * mass * speed);
        hit.energy = 16.0 * 0.5 * mass * speed * speed;
        hit.area = 8e-5;
        hit.duration = 4e-5;
        hit.radius = 0.12;
        hit.weapon = true;
        physics.impact(id, hit);
    } else if (roll < 0.075) {
        physics.blast(piece.body.center + Vec3{draws.in(-2.0, 2.0), draws.in(-1.0, 2.0), draws.in(-2.0, 2.0)},
                      draws.in(3e4, 5e5), draws.in(2.0, 7.0));
    } else if (roll < 0.09) {
        if (piece.assembly >= 0) {
            const double mass = physics.assemblies[static_cast<std::size_t>(piece.assembly)].mass;
            physics.contactImpulse(id, draws.direction() * (mass * draws.in(1.0, 8.0)), piece.body.center);
        }
    } else if (roll < 0.093) {
        MatterPiece debris = box({draws.in(-40.0, 40.0), draws.in(5.0, 20.0), draws.in(-15.0, 40.0)},
                                 {draws.in(0.2, 0.8), draws.in(0.2, 0.8), draws.in(0.2, 0.8)});
        debris.body.orientation = draws.turn();
        debris.body.velocity = {draws.in(-10.0, 10.0), draws.in(-5.0, 5.0), draws.in(-10.0, 10.0)};
        physics.addNoted(debris);
    }
}

// The work gravity does over the coming step on what flies: each awake assembly falls under
// gravity against the linear drag, exactly as a body in free flight.
double gravityWork(const Physics& physics) {
    const double h = std::min(frame, physics.motionWindowEnd() - physics.time);
    if (!(h > 0.0))
        return 0.0;
    const double k = physics.linearDrag;
    const double a = -std::expm1(-k * h) / k;
    const double b = (h - a) / k;
    double work = 0.0;
    for (const Assembly& assembly : physics.assemblies)
        if (!assembly.asleep)
            work += assembly.mass * dot(physics.gravity, assembly.velocity * a + physics.gravity * b);
    return work;
}

double fastest(const Physics& physics) {
    double speed = 0.0;
    for (const MatterPiece& piece : physics.pieces)
        if (piece.alive)
            speed = std::max(speed, length(piece.body.velocity));
    return speed;
}

// Debris under fire, blasts and pushes, for a thousand steps and more: no step gives the moving
// matter more kinetic energy than gravity's work on it (contacts pass energy on and take it away,
// and regrouping the debris into bodies adds none), no step makes anything faster than 2 km/s (or
// than the fastest a hit itself threw: a blast gives a lone pebble its whole share), and the world
// stays valid. The weapons' own energy goes in between the steps.
TEST(Energy, NoStepOfFallingDebrisGainsEnergyFromNowhere) {
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        Draws draws{seed * 0x9e3779b97f4a7c15ull};
        Physics physics = debrisScene(draws);
        std::uint64_t compactAt = 300;
        for (int n = 0; n < 1000; ++n) {
            disturb(physics, draws);
            if (static_cast<std::uint64_t>(n) == compactAt) {
                physics.compactHistory();
                compactAt += 300;
            }
            if (physics.topologyDirty)
                physics.refreshNotedTopology();
            const double before = movingEnergy(physics);
            const double work = gravityWork(physics);
            const double thrown = fastest(physics);
            physics.step(frame);
            const double after = movingEnergy(physics);
            ASSERT_LE(after, before + work + 1e-9 * (before + std::abs(work)) + 1e-9)
                << "seed " << seed << " step " << n;
            ASSERT_LE(fastest(physics), std::max(speedLimit, thrown)) << "seed " << seed << " step " << n;
        }
        EXPECT_GT(physics.fractureCount, 50u) << seed;
        EXPECT_GT(physics.contactBondCount, 10u) << seed;
        EXPECT_TRUE(physics.validate()) << seed;
    }
}

} // namespace
} // namespace zarn
