#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "world/Game.hpp"
#include "support/StateHash.hpp"

namespace zarn {
namespace {

constexpr double dt = Game::fixedStep;

Input walking(double forward = 1.0) {
    Input input;
    input.move.forward = forward;
    return input;
}

void run(Game& game, const Input& input, int steps) {
    for (int i = 0; i < steps; ++i) {
        game.tick(input, dt);
    }
}

TEST(GameTest, NewGamesInTheCityAndOnTheTrainingGround) {
    Game game;
    EXPECT_EQ(game.world.id, "procedural");
    EXPECT_EQ(game.player.position, (Vec3{0.0, 0.0, -110.0}));
    EXPECT_TRUE(game.player.onGround);
    EXPECT_FALSE(game.training);
    EXPECT_EQ(game.level, 0);
    EXPECT_EQ(game.points, 0.0);
    EXPECT_EQ(game.weapon, 2);
    EXPECT_EQ(game.health, 100.0);
    EXPECT_EQ(game.armour, 100.0);
    EXPECT_EQ(game.message, "城市破坏试验 / 击败敌人赚取贡献 / B 装备");
    EXPECT_TRUE(game.messageVisible());
    for (std::size_t i = 0; i < game.slots.size(); ++i) {
        EXPECT_EQ(game.slots[i].magazine, weapons[i].magazine);
        EXPECT_EQ(game.slots[i].reserve, weapons[i].reserve);
    }
    const std::size_t cityPieces = game.world.physics.pieces.size();

    game.reset(true);
    EXPECT_TRUE(game.training);
    EXPECT_EQ(game.world.id, "training");
    EXPECT_EQ(game.world.name, "训练场");
    EXPECT_EQ(game.world.spawnPoint, (Vec3{0.0, 0.0, -480.0}));
    EXPECT_EQ(game.player.position, (Vec3{0.0, 0.0, -480.0}));
    EXPECT_TRUE(game.world.buildings.empty());
    EXPECT_EQ(game.world.physics.pieces.size(), 16u * 16u + 3u); // the floor and the test gate
    EXPECT_TRUE(game.enemies.empty());
    EXPECT_EQ(game.level, 4);
    EXPECT_EQ(game.points, 99999.0);
    EXPECT_EQ(game.health, 100.0);
    EXPECT_EQ(game.message, "训练场 / 百米跑道 / 爆破与调试键位见设置");

    // Play a while, then a new city game forgets all of it.
    game.world.demolitionTest();
    game.player.yaw = 1.0;
    game.recoilPitch = 0.2;
    game.combo = 2.0;
    game.slots[3].magazine = 0;
    run(game, walking(), 90);
    game.reset(false);
    EXPECT_FALSE(game.training);
    EXPECT_EQ(game.world.id, "procedural");
    EXPECT_EQ(game.world.physics.pieces.size(), cityPieces);
    EXPECT_EQ(game.world.physics.fractureCount, 0u);
    EXPECT_EQ(game.player.position, (Vec3{0.0, 0.0, -110.0}));
    EXPECT_EQ(game.player.yaw, 0.0);
    EXPECT_EQ(game.time, 0.0);
    EXPECT_EQ(game.recoilPitch, 0.0);
    EXPECT_EQ(game.physicsAccumulator, 0.0);
    EXPECT_EQ(game.combo, 1.0);
    EXPECT_EQ(game.level, 0);
    EXPECT_EQ(game.points, 0.0);
    EXPECT_EQ(game.slots[3].magazine, weapons[3].magazine);
}

TEST(GameTest, TickCutsLongFramesAndIgnoresBadOnes) {
    Game split;
    Game stepped;
    split.tick(walking(), 0.05);
    run(stepped, walking(), 6);
    EXPECT_NEAR(split.time, 0.05, 1e-15);
    EXPECT_NEAR(split.world.physics.time, 0.05, 1e-15); // three matter steps
    EXPECT_EQ(split.player.position, stepped.player.position);
    EXPECT_EQ(split.player.velocity, stepped.player.velocity);

    // Just over one game step is still one step.
    Game once;
    once.tick(walking(), dt + 5e-10);
    EXPECT_EQ(once.time, dt + 5e-10);

    Game idle;
    const std::uint64_t before = test::hashGame(idle);
    for (const double bad :
         {0.0, -dt, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        idle.tick(walking(), bad);
    }
    EXPECT_EQ(test::hashGame(idle), before);
}

TEST(GameTest, MatterStepsAtSixtyHertzAndAtMostOncePerGameStep) {
    Game game;
    game.reset(true);
    game.world.demolitionTest(); // keep the matter busy while it is stepped
    int physicsSteps = 0;
    for (int i = 1; i <= 240; ++i) {
        const double before = game.world.physics.time;
        game.tick({}, dt);
        const double advanced = game.world.physics.time - before;
        if (i % 2 == 0) {
            ++physicsSteps;
            EXPECT_NEAR(advanced, Game::physicsStep, 1e-12) << "tick " << i;
        } else {
            EXPECT_EQ(advanced, 0.0) << "tick " << i;
        }
    }
    EXPECT_EQ(physicsSteps, 120);
    EXPECT_NEAR(game.world.physics.time, 2.0, 1e-12);

    // Game steps of 1/100 s: still never two matter steps in one game step, and the matter clock
    // keeps up with the game clock to within one matter step.
    for (int i = 0; i < 300; ++i) {
        const double before = game.world.physics.time;
        game.tick({}, 0.01);
        EXPECT_LE(game.world.physics.time - before, Game::physicsStep + 1e-12);
    }
    EXPECT_NEAR(game.world.physics.time, game.time, Game::physicsStep);

    // A backlog is worked off one matter step per game step, never caught up at once.
    game.physicsAccumulator = 0.1;
    const double matterTime = game.world.physics.time;
    game.tick({}, dt);
    EXPECT_NEAR(game.world.physics.time - matterTime, Game::physicsStep, 1e-12);
    EXPECT_NEAR(game.physicsAccumulator, 0.1 + dt - Game::physicsStep, 1e-15);
}

TEST(GameTest, PlayerStandsAndWalksInTheCity) {
    Game game;
    run(game, {}, 600);
    EXPECT_NEAR(game.player.position.x, 0.0, 1e-12);
    EXPECT_NEAR(game.player.position.y, 0.0, 1e-5);
    EXPECT_NEAR(game.player.position.z, -110.0, 1e-12);
    EXPECT_TRUE(game.player.onGround);
    EXPECT_EQ(game.world.physics.fractureCount, 0u);

    // Up the street along +z towards the towers.
    run(game, walking(), 120);
    EXPECT_NEAR(game.player.velocity.z, 6.35, 1e-9);
    const double z = game.player.position.z;
    run(game, walking(), 120);
    EXPECT_NEAR(game.player.position.z - z, 6.35, 1e-6);
    EXPECT_NEAR(game.player.position.y, 0.0, 1e-5);

    // A dead player does not move.
    game.dead = true;
    const Vec3 at = game.player.position;
    run(game, walking(), 60);
    EXPECT_EQ(game.player.position, at);
}

TEST(GameTest, AimFollowsYawPitchAndTheRecoilKick) {
    Game game;
    EXPECT_EQ(game.aim(), (Vec3{0.0, 0.0, 1.0}));
    game.player.yaw = std::numbers::pi / 2.0;
    EXPECT_NEAR(game.aim().x, 1.0, 1e-15);
    EXPECT_NEAR(game.aim().z, 0.0, 1e-15);

    game.player.yaw = 0.5;
    game.player.pitch = 0.2;
    game.recoilPitch = 0.1;
    const Vec3 a = game.aim();
    EXPECT_NEAR(a.x, std::sin(0.5) * std::cos(0.3), 1e-15);
    EXPECT_NEAR(a.y, std::sin(0.3), 1e-15);
    EXPECT_NEAR(a.z, std::cos(0.5) * std::cos(0.3), 1e-15);
    EXPECT_NEAR(length(a), 1.0, 1e-15);

    // The kick dies away as exp(-7 t); the eye is 1.65 m over the feet, 0.94 crouched.
    run(game, {}, 120);
    EXPECT_NEAR(game.recoilPitch, 0.1 * std::exp(-7.0), 1e-12);
    EXPECT_NEAR(game.eye().y - game.player.position.y, 1.65, 1e-15);
    Input crouch;
    crouch.move.crouch = true;
    run(game, crouch, 1);
    EXPECT_NEAR(game.eye().y - game.player.position.y, 0.94, 1e-15);
}

TEST(GameTest, ResupplyKeyWorksOnlyAtTheStartPoint) {
    Game game;
    Input resupply;
    resupply.move = {};
    resupply.resupply = true;
    const auto emptyReserves = [&game] {
        for (WeaponSlot& slot : game.slots) {
            slot.reserve = 0;
        }
    };

    // Within 12 m of (0, 0, -110) it refills, even when the spawn point is elsewhere.
    game.world.spawnPoint = {300.0, 0.0, 300.0};
    game.player.position = {7.0, 0.0, -101.0};
    emptyReserves();
    game.tick(resupply, dt);
    EXPECT_EQ(game.slots[0].reserve, 136);
    EXPECT_EQ(game.message, "已获得补给");

    // At 12 m it refuses and only says so.
    game.player.position = {12.0, 0.0, -110.0};
    emptyReserves();
    game.tick(resupply, dt);
    EXPECT_EQ(game.slots[0].reserve, 0);
    EXPECT_EQ(game.message, "出生点可免费补给 / 也可拾取敌人掉落");
    EXPECT_TRUE(game.messageVisible());

    // The training ground refills anywhere.
    game.reset(true);
    emptyReserves();
    game.tick(resupply, dt);
    EXPECT_EQ(game.slots[6].reserve, 3 * 18); // level 4
    EXPECT_EQ(game.message, "已获得补给");
}

TEST(GameTest, ReloadAndScopeKeys) {
    Game game;
    Input reload;
    reload.reload = true;
    WeaponSlot& rifle = game.slots[2];
    rifle.magazine = 4;
    rifle.reserve = 10;
    game.tick(reload, dt);
    const double done = game.time + weapons[2].reload;
    EXPECT_NEAR(rifle.reloadUntil, done, 1e-12);
    // Holding the key does not restart the reload.
    run(game, reload, 10);
    EXPECT_NEAR(rifle.reloadUntil, done, 1e-12);
    while (game.time + dt < done) {
        game.tick({}, dt);
    }
    EXPECT_EQ(rifle.magazine, 4);
    run(game, {}, 2);
    EXPECT_EQ(rifle.reloadUntil, 0.0);
    EXPECT_EQ(rifle.magazine, 14); // only the reserve there was
    EXPECT_EQ(rifle.reserve, 0);
    game.tick(reload, dt); // nothing left to load
    EXPECT_EQ(rifle.reloadUntil, 0.0);

    // Only the sniper rifle has a scope; reloading takes it down.
    Input scope;
    scope.scope = true;
    game.tick(scope, dt);
    EXPECT_FALSE(rifle.scoped);
    game.weapon = 4;
    WeaponSlot& sniper = game.slots[4];
    game.tick(scope, dt);
    EXPECT_TRUE(sniper.scoped);
    sniper.magazine = 1;
    game.tick(reload, dt);
    EXPECT_FALSE(sniper.scoped);
    EXPECT_GT(sniper.reloadUntil, game.time);

    // Spread bloom and weapon-model kick fade at 0.035 and 0.15 rad/s.
    sniper.recoil = 0.05;
    sniper.kick = 0.05;
    run(game, {}, 120);
    EXPECT_NEAR(sniper.recoil, 0.015, 1e-12);
    EXPECT_EQ(sniper.kick, 0.0);
}

TEST(GameTest, SameInputsGiveTheSameGame) {
    // A script of walking, turning, jumping into air mode, crouching and the demolition charge.
    const auto play = [](double yawRate) {
        Game game;
        game.reset(true);
        for (int i = 0; i < 900; ++i) {
            Input input;
            input.move.forward = i < 400 ? 1.0 : -0.5;
            input.move.side = (i / 50) % 2 == 0 ? 0.3 : -0.7;
            input.move.jump = (i >= 200 && i < 205) || (i >= 230 && i < 330);
            input.move.crouch = i >= 600 && i < 700;
            input.reload = i == 100;
            game.player.yaw += yawRate;
            if (i == 60) {
                game.world.demolitionTest();
            }
            game.tick(input, i % 3 == 0 ? 0.02 : dt);
        }
        return game;
    };
    const Game first = play(0.002);
    const Game second = play(0.002);
    EXPECT_GT(first.world.physics.brokenBondCount, 0u);
    EXPECT_EQ(test::hashGame(first), test::hashGame(second));

    const Game turned = play(0.0021);
    EXPECT_NE(test::hashGame(first), test::hashGame(turned));
}

} // namespace
} // namespace zarn
