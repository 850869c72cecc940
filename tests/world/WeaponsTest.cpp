#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Geometry.hpp"
#include "world/CombatScene.hpp"
#include "world/Game.hpp"
#include "support/StateHash.hpp"

namespace zarn {
namespace {

constexpr double dt = Game::fixedStep;

void run(Game& game, const Input& input, int steps) {
    for (int i = 0; i < steps; ++i) {
        game.tick(input, dt);
    }
}

Input trigger() {
    Input input;
    input.shoot = true;
    return input;
}

TEST(WeaponsTest, TableOfTheSevenWeapons) {
    struct Row {
        int magazine, reserve, level;
        double interval, reload, damage;
        bool automatic, explosive;
        double muzzleSpeed, mass;
    };
    const Row rows[weaponCount] = {
        {17, 136, 0, 0.18, 1.6, 24.0, false, false, 360.0, 0.008},
        {30, 240, 0, 0.075, 2.2, 20.0, true, false, 400.0, 0.008},
        {30, 180, 0, 0.1, 2.45, 36.0, true, false, 715.0, 0.0079},
        {30, 180, 0, 0.0875, 2.2, 30.0, true, false, 880.0, 0.004},
        {10, 40, 1, 1.35, 3.2, 125.0, false, false, 900.0, 0.016},
        {100, 400, 1, 0.075, 4.1, 33.0, true, false, 850.0, 0.004},
        {1, 18, 2, 1.0, 2.4, 340.0, false, true, 85.0, 6.0},
    };
    Game game;
    test::emptyCity(game);
    game.level = 2;
    for (int w = 0; w < weaponCount; ++w) {
        SCOPED_TRACE(w);
        const WeaponSpec& spec = weapons[static_cast<std::size_t>(w)];
        const Row& row = rows[w];
        EXPECT_EQ(spec.magazine, row.magazine);
        EXPECT_EQ(spec.reserve, row.reserve);
        EXPECT_EQ(spec.level, row.level);
        EXPECT_EQ(spec.interval, row.interval);
        EXPECT_EQ(spec.reload, row.reload);
        EXPECT_EQ(spec.damage, row.damage);
        EXPECT_EQ(spec.automatic, row.automatic);
        EXPECT_EQ(spec.explosive, row.explosive);

        // One shot of each: the cartridge, the interval to the next shot and the projectile.
        game.weapon = w;
        game.bullets.clear();
        game.rockets.clear();
        game.shoot();
        const WeaponSlot& slot = game.slots[static_cast<std::size_t>(w)];
        EXPECT_EQ(slot.magazine, row.magazine - 1);
        EXPECT_EQ(slot.shots, 1);
        EXPECT_EQ(slot.nextShot, game.time + row.interval);
        EXPECT_EQ(game.shotSound, row.explosive ? 2 : 1);
        if (row.explosive) {
            ASSERT_EQ(game.rockets.size(), 1u);
            EXPECT_NEAR(length(game.rockets[0].velocity), row.muzzleSpeed, 1e-9);
            EXPECT_EQ(game.rockets[0].mass, row.mass);
            EXPECT_EQ(game.rockets[0].life, 6.0);
            EXPECT_TRUE(game.bullets.empty());
        } else {
            ASSERT_EQ(game.bullets.size(), 1u);
            EXPECT_NEAR(length(game.bullets[0].velocity), row.muzzleSpeed, 1e-9);
            EXPECT_EQ(game.bullets[0].mass, row.mass);
            EXPECT_EQ(game.bullets[0].damage, row.damage);
            EXPECT_EQ(game.bullets[0].life, 3.0);
            // It leaves 0.35 m ahead of the eye.
            EXPECT_NEAR(length(game.bullets[0].position - game.eye()), 0.35, 1e-12);
            EXPECT_TRUE(game.rockets.empty());
        }
    }
}

TEST(WeaponsTest, SelectingNeedsTheLevelAndDelaysTheFirstShot) {
    Game game;
    test::emptyCity(game);
    game.time = 5.0;
    for (const int locked : {4, 5, 6}) {
        game.selectWeapon(locked);
        EXPECT_EQ(game.weapon, 2);
        EXPECT_EQ(game.message, "尚未解锁 / 按 B 打开装备升级");
    }
    game.message.clear();
    game.selectWeapon(-1);
    game.selectWeapon(7);
    EXPECT_EQ(game.weapon, 2);
    EXPECT_TRUE(game.message.empty());

    game.level = 1;
    game.selectWeapon(4);
    EXPECT_EQ(game.weapon, 4);
    EXPECT_EQ(game.slots[4].nextShot, 5.28);
    game.selectWeapon(6);
    EXPECT_EQ(game.weapon, 4); // the rocket launcher needs level 2

    // Leaving the sniper rifle takes its scope down; a later shot time is kept.
    game.slots[4].scoped = true;
    game.slots[1].nextShot = 9.0;
    game.selectWeapon(1);
    EXPECT_FALSE(game.slots[4].scoped);
    EXPECT_EQ(game.slots[1].nextShot, 9.0);
    game.level = 2;
    game.selectWeapon(6);
    EXPECT_EQ(game.weapon, 6);
}

TEST(WeaponsTest, AutomaticFireKeepsItsIntervalEmptiesAndReloadsFromReserve) {
    Game game;
    test::emptyCity(game);
    game.player.pitch = 1.2; // into the sky, where nothing is hit
    game.weapon = 1;         // the submachine gun, 0.075 s between shots
    const WeaponSlot& slot = game.slots[1];
    std::vector<double> shotTimes;
    double reloadStarted = 0.0;
    int reloadsStarted = 0;
    for (int i = 0; i < 120 * 6; ++i) {
        const double reloadBefore = slot.reloadUntil;
        const std::int32_t shots = slot.shots;
        game.tick(trigger(), dt);
        if (slot.shots > shots) {
            shotTimes.push_back(game.time);
        }
        if (reloadBefore == 0.0 && slot.reloadUntil != 0.0) {
            ++reloadsStarted;
            reloadStarted = game.time;
            EXPECT_EQ(slot.magazine, 0);
        }
    }
    // One magazine, one reload when it ran dry, then firing again.
    EXPECT_EQ(reloadsStarted, 1);
    ASSERT_GT(shotTimes.size(), 30u);
    for (std::size_t k = 1; k < 30; ++k) {
        const double gap = shotTimes[k] - shotTimes[k - 1];
        EXPECT_GE(gap, 0.075 - 1e-9);
        EXPECT_LT(gap, 0.075 + dt);
    }
    // The trigger pulled on the empty magazine started the reload; when it is done, firing goes on.
    EXPECT_NEAR(reloadStarted - shotTimes[29], dt, 1e-9);
    EXPECT_GE(shotTimes[30] - reloadStarted, 2.2 - 1e-9);
    EXPECT_LT(shotTimes[30] - reloadStarted, 2.2 + dt);
    EXPECT_EQ(slot.reserve, 240 - 30);
    EXPECT_EQ(slot.magazine, 30 - static_cast<std::int32_t>(shotTimes.size() - 30));

    // With an empty reserve, holding the trigger on an empty magazine does nothing at all.
    game.slots[1].magazine = 0;
    game.slots[1].reserve = 0;
    run(game, trigger(), 120);
    EXPECT_EQ(slot.reloadUntil, 0.0);
    EXPECT_EQ(slot.magazine, 0);

    // A semi-automatic weapon fires once per press, however long it is held.
    game.weapon = 0;
    run(game, {}, 1);
    run(game, trigger(), 120);
    EXPECT_EQ(game.slots[0].magazine, 16);
    run(game, {}, 1);
    run(game, trigger(), 1);
    EXPECT_EQ(game.slots[0].magazine, 15);

    // A dead player does not shoot.
    game.dead = true;
    run(game, {}, 30);
    run(game, trigger(), 1);
    EXPECT_EQ(game.slots[0].magazine, 15);
}

TEST(WeaponsTest, SpreadGrowsWithRecoilAndSpeedAndShrinksScopedOrCrouched) {
    // Looking along +z, a shot leaves along (b, a, 1) normalised, where b and a are the two draws of
    // the shot's seed scaled by the spread. Reading them back gives the spread the shot had.
    const auto spreadOf = [](const Game& game) {
        const Vec3 v = game.bullets.back().velocity;
        const WeaponSlot& slot = game.slots[static_cast<std::size_t>(game.weapon)];
        const std::uint32_t seed =
            static_cast<std::uint32_t>(slot.shots) * 71u + static_cast<std::uint32_t>(game.weapon) * 13u;
        const double b = v.x / v.z / (randomDraw(seed) - 0.5);
        const double a = v.y / v.z / (randomDraw(seed + 1u) - 0.5);
        EXPECT_NEAR(a, b, 1e-12);
        return b;
    };
    Game game;
    test::emptyCity(game);
    game.level = 1;
    game.weapon = 4;
    // The sniper rifle from the hip: its own 0.0006, this shot's bloom of 0.004 and 0.035.
    game.shoot();
    EXPECT_NEAR(spreadOf(game), 0.0396, 1e-12);
    EXPECT_NEAR(game.recoilPitch, 0.7 * 0.055, 1e-15);
    EXPECT_EQ(game.slots[4].kick, 0.055);
    EXPECT_EQ(game.muzzleFlash, 0.07);

    // Scoped, a second shot with twice the bloom: (0.0006 + 0.008) x 0.22.
    game.slots[4].scoped = true;
    game.time += 2.0;
    game.recoilPitch = 0.0;
    game.shoot();
    EXPECT_NEAR(spreadOf(game), 0.0086 * 0.22, 1e-12);

    // Crouched and running at 5 m/s with the rifle: (0.002 x 5 + 0.005 + 0.004) x 0.7.
    game.weapon = 2;
    game.recoilPitch = 0.0;
    game.player.crouched = true;
    game.player.velocity = {3.0, 0.0, 4.0};
    game.shoot();
    EXPECT_NEAR(spreadOf(game), 0.019 * 0.7, 1e-12);

    // The kick lifts the view by at most 0.25 rad.
    game.recoilPitch = 0.24;
    game.time += 1.0;
    game.shoot();
    EXPECT_EQ(game.recoilPitch, 0.25);
}

TEST(WeaponsTest, BulletStrikesACityWallWhereTheGeometryPutsIt) {
    Game game;
    test::emptyCity(game);
    const test::WallTarget wall = test::secondStoreyWall(game.world, 40.0);
    ASSERT_GE(wall.building, 0);
    test::faceWall(game, wall, 20.0);
    const double fractures = static_cast<double>(game.world.physics.fractureCount);
    const double broken = static_cast<double>(game.world.physics.brokenBondCount);
    game.shoot(); // the assault rifle

    bool struck = false;
    Vec3 point;
    for (int i = 0; i < 12 && !struck; ++i) {
        game.tick({}, dt);
        if (game.bullets.empty()) {
            struck = true;
            point = game.tracers.back().to;
        }
    }
    ASSERT_TRUE(struck);
    // On the wall's face in front of the eye: the bullet drops by millimetres over 20 m.
    EXPECT_NEAR(point.z, wall.faceZ, 1e-6);
    EXPECT_NEAR(point.x, wall.x, 0.2);
    EXPECT_NEAR(point.y, wall.middleY, 0.2);
    EXPECT_EQ(game.hitMarker, 0.12);

    // The wall broke there: new pieces at the hit, bonds or pieces counted, points paid.
    const Physics& physics = game.world.physics;
    EXPECT_GT(physics.fractureCount + physics.brokenBondCount, fractures + broken);
    bool splitThere = false;
    for (const MatterPiece& piece : physics.pieces) {
        splitThere = splitThere || (piece.alive && piece.generation > 0 && piece.building == wall.building &&
                                    boxDistance(point, piece) < 0.3);
    }
    EXPECT_TRUE(splitThere);
    EXPECT_GT(game.points, 0.0);
    EXPECT_EQ(game.points, game.totalPoints);

    // Its crack starts towards the listener, 20 m away.
    ASSERT_FALSE(game.travelingSounds.empty());
    EXPECT_TRUE(game.travelingSounds.front().sound.fractured);
}

TEST(WeaponsTest, RocketExplodesOnTheTowerWallAndPaysForIt) {
    Game game;
    test::emptyCity(game);
    const test::WallTarget wall = test::secondStoreyWall(game.world, 40.0);
    test::faceWall(game, wall, 30.0);
    game.level = 2;
    game.weapon = 6;
    game.shoot();
    EXPECT_EQ(game.slots[6].magazine, 0);
    ASSERT_EQ(game.rockets.size(), 1u);
    const Physics& physics = game.world.physics;
    const std::uint64_t broken = physics.brokenBondCount;

    int flightSteps = 0;
    while (!game.rockets.empty() && flightSteps < 120) {
        game.shotSound = 0;
        game.tick({}, dt);
        ++flightSteps;
    }
    // About 29.3 m at 85 m/s: the 42nd step reaches the wall.
    EXPECT_EQ(flightSteps, 42);
    EXPECT_EQ(game.blastFlash, 0.45);
    EXPECT_EQ(game.shotSound, 2);
    EXPECT_GT(physics.brokenBondCount, broken);
    EXPECT_GT(game.points, 0.0);
    EXPECT_GT(game.world.destructionRate(), 0.0);
    // Far enough from the blast to be unhurt.
    EXPECT_EQ(game.health, 100.0);

    // The wall lost matter: some of its pieces no longer stand.
    run(game, {}, 60);
    int loose = 0;
    for (const MatterPiece& piece : physics.pieces) {
        loose += piece.alive && piece.building == wall.building && !piece.supported ? 1 : 0;
    }
    EXPECT_GT(loose, 0);
}

TEST(WeaponsTest, RocketThatHitsNothingExplodesAfterSixSeconds) {
    Game game;
    test::emptyCity(game);
    game.level = 2;
    game.weapon = 6;
    game.player.pitch = 1.2;
    game.shoot();
    int steps = 0;
    while (!game.rockets.empty() && steps < 1000) {
        game.tick({}, dt);
        ++steps;
        if (!game.rockets.empty()) {
            EXPECT_EQ(game.blastFlash, 0.0);
        }
    }
    EXPECT_GE(steps, 720);
    EXPECT_LE(steps, 721);
    EXPECT_EQ(game.blastFlash, 0.45);
    EXPECT_EQ(game.world.physics.fractureCount, 0u); // high in the sky, far from any matter
}

TEST(WeaponsTest, ImpactOnMatterUsesTheBulletAndWarheadShapes) {
    Game game;
    test::emptyCity(game);
    // Out-of-range pieces are ignored altogether.
    game.impactMatter(-1, {}, {0.0, 0.0, 10.0}, 100.0, false);
    game.impactMatter(static_cast<std::int32_t>(game.world.physics.pieces.size()), {}, {0.0, 0.0, 10.0},
                      100.0, false);
    EXPECT_EQ(game.hitMarker, 0.0);

    // A nudge of 1 N s on a ground tile with 100 J: x 4 over the bullet's 8e-05 m² for 4e-05 s it
    // makes 1.25e9 Pa and cracks the tile with 1600 J; over the warhead's 0.001 m² for 0.01 s it
    // makes 4e5 Pa and cracks nothing.
    const std::int32_t tile = 0;
    const Vec3 top = game.world.physics.pieces[0].body.center + Vec3{0.0, 4.0, 0.0};
    game.impactMatter(tile, top, {0.0, -1.0, 0.0}, 100.0, true);
    EXPECT_EQ(game.world.physics.fractureCount, 0u);
    EXPECT_EQ(game.hitMarker, 0.12);
    game.impactMatter(tile, top, {0.0, -1.0, 0.0}, 100.0, false);
    EXPECT_GT(game.world.physics.fractureCount, 0u);
    EXPECT_GT(game.points, 0.0);
}

TEST(WeaponsTest, DemolitionChargeOnlyOnTheTrainingGround) {
    Game city;
    const double before = city.world.loss();
    city.demolitionTest();
    EXPECT_EQ(city.world.loss(), before);
    EXPECT_NE(city.message, "冲量施加于支撑 / 观察应力传导与失稳");

    Game game;
    game.reset(true);
    game.demolitionTest();
    EXPECT_GT(game.world.loss(), 0.0);
    EXPECT_FALSE(game.travelingSounds.empty()); // the charge is heard
    EXPECT_EQ(game.message, "冲量施加于支撑 / 观察应力传导与失稳");
}

TEST(WeaponsTest, ScriptedFirefightIsDeterministic) {
    // Walking up the street while firing the rifle, the sniper rifle and rockets at the towers, with
    // the enemies closing in and firing back.
    const auto play = [](double yawRate) {
        Game game;
        game.points = 2000.0;
        game.upgrade(); // level 1
        game.upgrade(); // not enough for level 2
        game.level = 2;
        for (int i = 0; i < 600; ++i) {
            Input input;
            input.move.forward = i < 400 ? 1.0 : 0.0;
            input.shoot = (i / 20) % 3 != 0;
            input.reload = i == 150;
            input.scope = i == 300;
            if (i == 250) {
                game.selectWeapon(4);
            } else if (i == 400) {
                game.selectWeapon(6);
            } else if (i == 520) {
                game.selectWeapon(1);
            }
            game.player.yaw = 0.3 * std::sin(yawRate * i);
            game.player.pitch = 0.05;
            game.tick(input, i % 4 == 0 ? 0.02 : dt);
            game.heardSounds.clear(); // as the shell does
            game.shotSound = 0;
        }
        return game;
    };
    const Game first = play(0.01);
    const Game second = play(0.01);
    EXPECT_GT(first.world.physics.fractureCount, 0u);
    EXPECT_GT(first.slots[6].shots, 0);
    EXPECT_EQ(test::hashGame(first), test::hashGame(second));
    const Game other = play(0.011);
    EXPECT_NE(test::hashGame(first), test::hashGame(other));
}

} // namespace
} // namespace zarn
