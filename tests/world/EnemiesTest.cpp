#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "world/CombatScene.hpp"
#include "world/Game.hpp"
#include "world/SaveFile.hpp"

namespace zarn {
namespace {

constexpr double dt = Game::fixedStep;

void run(Game& game, const Input& input, int steps) {
    for (int i = 0; i < steps; ++i) {
        game.tick(input, dt);
    }
}

int enemyTracers(const Game& game) {
    int n = 0;
    for (const Tracer& tracer : game.tracers) {
        n += tracer.enemy ? 1 : 0;
    }
    return n;
}

TEST(EnemiesTest, EightySoldiersOnTheStreetGrid) {
    Game game;
    ASSERT_EQ(game.enemies.size(), 80u);
    for (std::size_t i = 0; i < game.enemies.size(); ++i) {
        const Enemy& e = game.enemies[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(e.id, static_cast<std::int32_t>(i));
        EXPECT_EQ(e.position, e.home);
        EXPECT_EQ(e.position.y, 0.0);
        EXPECT_EQ(e.health, 100.0);
        EXPECT_EQ(e.nextShot, 3.0 + static_cast<double>(i % 7));
        EXPECT_TRUE(e.alive);
        // Nobody stands in matter or near the start point.
        EXPECT_FALSE(game.world.traceHull(e.position, e.position, 0.4, 1.8).stuck);
        EXPECT_GE(std::hypot(e.position.x, e.position.z + 110.0), 38.0);
        // Odd soldiers stand on the streets along z, even ones on the streets along x (or 100 m
        // up the street from one, when it was too close to the start).
        const double snapped = i % 2 == 1 ? e.position.x : e.position.z;
        EXPECT_TRUE(std::remainder(snapped, 128.0) == 0.0 || std::remainder(snapped - 100.0, 128.0) == 0.0);
    }
    EXPECT_EQ(game.enemies[0].position, (Vec3{-256.0, 0.0, -256.0}));
    // Halves round away from zero: -1.5 and -0.5 blocks.
    EXPECT_EQ(game.enemies[1].position, (Vec3{-256.0, 0.0, -210.0}));
    EXPECT_EQ(game.enemies[3].position, (Vec3{-128.0, 0.0, -210.0}));
    EXPECT_EQ(game.enemies[5].position, (Vec3{128.0, 0.0, -210.0}));
    // Two posts at (0, -128) were too close to the start and moved 100 m up the street.
    EXPECT_EQ(game.enemies[12].position, (Vec3{0.0, 0.0, -28.0}));
    EXPECT_EQ(game.enemies[20].position, (Vec3{0.0, 0.0, -28.0}));

    game.reset(true);
    EXPECT_TRUE(game.enemies.empty());
    game.reset(false);
    EXPECT_EQ(game.enemies.size(), 80u);
}

TEST(EnemiesTest, EnemyInSightChasesAndFires) {
    // The first shot at t = 1/120 s draws its hit from draw(23 id); find one soldier who hits and
    // one who misses.
    std::int32_t hitter = -1;
    std::int32_t misser = -1;
    for (std::int32_t id = 0; id < 80; ++id) {
        const bool hits = randomDraw(23u * static_cast<std::uint32_t>(id)) < 0.38;
        (hits ? hitter : misser) = id;
    }
    ASSERT_GE(hitter, 0);
    ASSERT_GE(misser, 0);

    for (const std::int32_t id : {hitter, misser}) {
        SCOPED_TRACE(id);
        Game game;
        test::emptyCity(game);
        game.enemies.push_back(test::postedEnemy(id, {0.0, 0.0, -50.0}));
        game.enemies[0].nextShot = 0.0;
        game.tick({}, dt);
        const Enemy& enemy = game.enemies[0];
        // 60 m away: it runs at the player at 2.5 m/s and fires at once.
        EXPECT_NEAR(enemy.position.z, -50.0 - 2.5 * dt, 1e-9);
        EXPECT_NEAR(enemy.nextShot, dt + 1.4 + 1.8 * randomDraw(static_cast<std::uint32_t>(id)), 1e-12);
        ASSERT_EQ(enemyTracers(game), 1);
        const Tracer& tracer = game.tracers.back();
        EXPECT_NEAR(tracer.life, 0.12 - dt, 1e-15); // it has lived one step
        EXPECT_NEAR(tracer.from.y, 1.45, 1e-9);
        EXPECT_NEAR(tracer.to.z, -110.0, 1e-9);
        if (id == hitter) {
            // (4 + 1.7 x level) x (1 - 60 / 150), two thirds of it and more taken by the armour.
            EXPECT_NEAR(game.armour, 100.0 - 0.65 * 2.4, 1e-6);
            EXPECT_NEAR(game.health, 100.0 - 0.35 * 2.4, 1e-6);
            EXPECT_EQ(game.hurtFlash, 0.35);
        } else {
            EXPECT_EQ(game.health, 100.0);
            EXPECT_EQ(game.armour, 100.0);
        }
        // No second shot before its time; the chase goes on.
        run(game, {}, 120);
        EXPECT_EQ(enemyTracers(game), 0);
        EXPECT_NEAR(enemy.position.z, -50.0 - 2.5 * 121 * dt, 1e-6);
        EXPECT_NEAR(enemy.position.x, 0.0, 1e-9);
    }
}

TEST(EnemiesTest, NoShotThroughMatterOrAtTheDead) {
    Game game;
    test::emptyCity(game);
    game.enemies.push_back(test::postedEnemy(0, {0.0, 0.0, -50.0}));
    game.enemies[0].nextShot = 0.0;
    // A wall across the street between them.
    MatterPiece wall;
    wall.body.center = {0.0, 3.0, -80.0};
    wall.body.halfExtents = {6.0, 3.0, 0.5};
    wall.anchored = true;
    game.world.physics.add(wall);
    game.world.physics.rebuildGrid();
    game.tick({}, dt);
    EXPECT_GT(game.enemies[0].nextShot, 1.4); // it fired ...
    EXPECT_EQ(enemyTracers(game), 0);         // ... into the wall
    EXPECT_EQ(game.hurtFlash, 0.0);

    Game other;
    test::emptyCity(other);
    other.enemies.push_back(test::postedEnemy(0, {0.0, 0.0, -50.0}));
    other.enemies[0].nextShot = 0.0;
    other.dead = true;
    run(other, {}, 60);
    EXPECT_EQ(other.enemies[0].nextShot, 0.0);
    EXPECT_EQ(enemyTracers(other), 0);
}

TEST(EnemiesTest, FarEnemiesPatrolSlowlyAndTheFarthestStandFrozen) {
    Game game;
    test::emptyCity(game);
    // In the air up the street, 300.5 m and 299 m from the player at (0, 0, -110).
    game.enemies.push_back(test::postedEnemy(0, {0.0, 5.0, 190.5}));
    game.enemies.push_back(test::postedEnemy(1, {0.0, 5.0, 188.9}));
    game.enemies.push_back(test::postedEnemy(2, {0.0, 0.0, 60.0})); // 170 m: patrols on the ground
    ASSERT_GT(length(game.enemies[0].position - game.player.position), 300.0);
    ASSERT_LT(length(game.enemies[1].position - game.player.position), 300.0);
    const Vec3 frozen = game.enemies[0].position;
    run(game, {}, 240);
    EXPECT_EQ(game.enemies[0].position, frozen);
    EXPECT_NEAR(game.enemies[1].position.y, 0.0, 1e-5); // fell and landed
    EXPECT_EQ(game.enemies[1].fallSpeed, 0.0);

    // The patrol walks at 1.2 m/s towards a point circling 12 m round the post.
    const Vec3 before = game.enemies[2].position;
    game.tick({}, dt);
    const Vec3 step = game.enemies[2].position - before;
    EXPECT_NEAR(std::hypot(step.x, step.z), 1.2 * dt, 1e-9);
    EXPECT_LT(length(game.enemies[2].position - game.enemies[2].home), 12.0);
}

// An enemy that walks off the ground falls; once it has fallen off the world (100 m below its ground
// level, deeper than any matter lies) it dies, and the game stays saveable however long the fall.
TEST(EnemiesTest, AnEnemyThatFallsOffTheWorldDiesAndTheGameStaysSaveable) {
    Game game;
    Enemy& faller = game.enemies[7];
    faller = test::postedEnemy(7, {700.0, 0.0, 0.0}); // beyond the ground's edge at 512 m
    const double fallOut = game.world.physics.groundLevel - 100.0;
    double lowestAlive = 0.0;
    for (int i = 0; i < 120 * 60 && faller.alive; ++i) {
        // The player dives along, so the enemy stays within waking range.
        game.player.position = faller.position + Vec3{0.0, 20.0, -20.0};
        game.player.velocity = {};
        game.tick({}, dt);
        lowestAlive = faller.alive ? faller.position.y : lowestAlive;
    }
    EXPECT_FALSE(faller.alive);
    EXPECT_GE(lowestAlive, fallOut);
    EXPECT_LT(faller.position.y, fallOut);
    EXPECT_EQ(game.kills, 1);
    ASSERT_EQ(game.supplies.size(), 1u);
    EXPECT_EQ(game.supplies[0].position, faller.position);
    // The others stand on the ground as they did.
    for (const Enemy& enemy : game.enemies) {
        EXPECT_TRUE(enemy.alive || enemy.id == 7) << enemy.id;
    }
    std::string file;
    std::string message;
    EXPECT_TRUE(composeSave(game, file, message)) << message;
}

TEST(EnemiesTest, BulletsHurtEveryEnemyTheyCrossOnceAndHeadsThreeTimes) {
    Game game;
    test::emptyCity(game);
    // A crouched rifleman fires at body height through two soldiers. The bullet's second flight step
    // ends inside the second one, so its third step starts there.
    game.enemies.push_back(test::postedEnemy(0, {0.0, 0.0, -104.0}));
    game.enemies.push_back(test::postedEnemy(1, {0.0, 0.0, -97.8}));
    game.player.crouched = true;
    game.shoot();
    run(game, {}, 4);
    EXPECT_EQ(game.enemies[0].health, 100.0 - 36.0);
    EXPECT_EQ(game.enemies[1].health, 100.0 - 36.0);
    ASSERT_EQ(game.bullets.size(), 1u);
    EXPECT_EQ(game.bullets[0].hitEnemies, (std::vector<std::int32_t>{0, 1}));
    EXPECT_NEAR(game.hitMarker, 0.15 - 2 * dt, 1e-15);

    // Standing, the eye line at 1.65 m passes through the head.
    Game heads;
    test::emptyCity(heads);
    heads.enemies.push_back(test::postedEnemy(0, {0.0, 0.0, -100.0}));
    heads.weapon = 0;
    heads.shoot();
    run(heads, {}, 4); // 3 m per step at 360 m/s
    EXPECT_EQ(heads.enemies[0].health, 100.0 - 3 * 24.0);
    EXPECT_TRUE(heads.enemies[0].alive);
}

TEST(EnemiesTest, KilledEnemyPaysAndDropsOneSupply) {
    Game game;
    test::emptyCity(game);
    game.enemies.push_back(test::postedEnemy(0, {0.0, 0.0, -100.0}));
    game.enemies[0].health = 30.0;
    game.player.crouched = true;
    game.shoot();
    run(game, {}, 2);
    const Enemy& enemy = game.enemies[0];
    EXPECT_FALSE(enemy.alive);
    EXPECT_LE(enemy.health, 0.0);
    EXPECT_EQ(game.kills, 1);
    EXPECT_EQ(game.points, 120.0);
    ASSERT_EQ(game.supplies.size(), 1u);
    EXPECT_EQ(game.supplies[0].position, enemy.position);
    EXPECT_FALSE(game.supplies[0].taken);
    // The dead stay where they fell and do nothing.
    const Vec3 fell = enemy.position;
    run(game, {}, 60);
    EXPECT_EQ(enemy.position, fell);

    // Walking within 2.5 m of it refills the player once.
    const auto emptyReserves = [&game] {
        for (WeaponSlot& slot : game.slots) {
            slot.reserve = 0;
        }
    };
    game.player.position = game.supplies[0].position + Vec3{2.6, 0.0, 0.0};
    game.player.crouched = false;
    emptyReserves();
    game.tick({}, dt);
    EXPECT_FALSE(game.supplies[0].taken);
    game.player.position = game.supplies[0].position + Vec3{2.4, 0.0, 0.0};
    game.health = 50.0;
    game.tick({}, dt);
    EXPECT_TRUE(game.supplies[0].taken);
    EXPECT_EQ(game.slots[2].reserve, 180);
    EXPECT_EQ(game.health, 90.0);
    EXPECT_EQ(game.message, "已获得补给");
    emptyReserves();
    run(game, {}, 10);
    EXPECT_EQ(game.slots[2].reserve, 0);
    EXPECT_EQ(game.supplies.size(), 1u);
}

// A loose box over an enemy who stands frozen more than 300 m from the player.
struct MatterStrike {
    Game game;
    std::uint32_t id = 0;

    MatterStrike(const Vec3& center, const Vec3& halfExtents) {
        test::emptyCity(game);
        game.enemies.push_back(test::postedEnemy(0, {0.0, 0.0, 200.0}));
        MatterPiece piece;
        piece.body.center = center;
        piece.body.halfExtents = halfExtents;
        id = game.world.physics.add(piece);
        game.world.physics.connectNew(id);
    }
    // Sets the box moving (and awake) with this velocity.
    void move(const Vec3& velocity) {
        Physics& physics = game.world.physics;
        MatterPiece& piece = physics.pieces[id - 1];
        Assembly& assembly = physics.assemblies[static_cast<std::size_t>(piece.assembly)];
        assembly.asleep = false;
        assembly.velocity = velocity;
        assembly.angularVelocity = {};
        piece.asleep = false;
        piece.body.velocity = velocity;
    }
    double health() const { return game.enemies[0].health; }
};

TEST(EnemiesTest, MovingMatterHurtsEnemiesWithAPauseBetweenBlows) {
    // A 1200 kg block touching the head at 3 m/s strikes as 60 kg: 60 x 9 / 40.
    MatterStrike heavy({0.0, 2.2, 200.0}, {0.5, 0.5, 0.5});
    ASSERT_GE(heavy.game.world.physics.pieces[heavy.id - 1].assembly, 0);
    heavy.move({0.0, -3.0, 0.0});
    heavy.game.damageEnemiesFromMatter(0.0);
    EXPECT_EQ(heavy.health(), 100.0 - 13.5);
    EXPECT_EQ(heavy.game.enemies[0].safeUntil, heavy.game.time + 0.25);
    heavy.game.damageEnemiesFromMatter(0.0); // immune for 0.25 s
    EXPECT_EQ(heavy.health(), 100.0 - 13.5);
    heavy.game.time += 0.25;
    heavy.game.damageEnemiesFromMatter(0.0);
    EXPECT_EQ(heavy.health(), 100.0 - 27.0);
    heavy.game.time += 0.25;
    heavy.move({0.0, -1.0, 0.0}); // 1 m/s hurts nobody
    heavy.game.damageEnemiesFromMatter(0.0);
    EXPECT_EQ(heavy.health(), 100.0 - 27.0);

    // A 9.6 kg brick 0.1 m over the head falling at 10 m/s: it misses now, but over the next 1/60 s
    // its path crosses the head and it strikes with half its mass: 4.8 x 100 / 40.
    MatterStrike brick({0.0, 2.0, 200.0}, {0.1, 0.1, 0.1});
    brick.move({0.0, -10.0, 0.0});
    brick.game.damageEnemiesFromMatter(0.0);
    EXPECT_EQ(brick.health(), 100.0);
    brick.game.damageEnemiesFromMatter(1.0 / 60.0);
    EXPECT_NEAR(brick.health(), 100.0 - 12.0, 1e-9);

    // A heavier blow is capped at 200 and kills.
    MatterStrike crush({0.0, 2.2, 200.0}, {0.5, 0.5, 0.5});
    crush.move({0.0, -20.0, 0.0});
    crush.game.damageEnemiesFromMatter(0.0);
    EXPECT_EQ(crush.health(), -100.0);
    EXPECT_FALSE(crush.game.enemies[0].alive);
    EXPECT_EQ(crush.game.kills, 1);
    EXPECT_EQ(crush.game.supplies.size(), 1u);
}

TEST(EnemiesTest, FallingMatterHurtsAnEnemyInTheGame) {
    // A 1 m block dropped from 1.3 m over the head meets it at about 5 m/s: about 60 x 25 / 40. It
    // falls on through the body to the street and may strike again, but never within 0.25 s.
    MatterStrike drop({0.0, 3.6, 200.0}, {0.5, 0.5, 0.5});
    std::vector<double> blows;
    std::vector<double> times;
    double health = drop.health();
    for (int i = 0; i < 120; ++i) {
        drop.game.tick({}, dt);
        if (drop.health() < health) {
            blows.push_back(health - drop.health());
            times.push_back(drop.game.time);
        }
        health = drop.health();
    }
    ASSERT_FALSE(blows.empty());
    EXPECT_GT(blows[0], 25.0);
    EXPECT_LT(blows[0], 50.0);
    EXPECT_GT(times[0], 0.45); // sqrt(2 x 1.3 / 9.81) = 0.51 s
    for (std::size_t k = 1; k < times.size(); ++k) {
        EXPECT_GE(times[k] - times[k - 1], 0.25 - 1e-9);
    }
}

TEST(EnemiesTest, ExplosionsHurtEnemiesWithin14MetresAndThePlayerWithin9) {
    Game game;
    test::emptyCity(game);
    // High over the street, where the blast reaches no matter.
    const Vec3 blast{0.0, 20.0, -60.0};
    game.enemies.push_back(test::postedEnemy(0, blast + Vec3{0.0, 0.0, 7.0}));
    game.enemies.push_back(test::postedEnemy(1, blast + Vec3{0.0, 0.0, 13.0}));
    game.enemies.push_back(test::postedEnemy(2, blast + Vec3{0.0, 0.0, 14.0}));
    game.player.position = blast + Vec3{0.0, 0.0, -4.5};
    game.explode(blast);
    EXPECT_FALSE(game.enemies[0].alive);
    EXPECT_NEAR(game.enemies[1].health, 100.0 - 340.0 / 14.0, 1e-9);
    EXPECT_EQ(game.enemies[2].health, 100.0);
    EXPECT_EQ(game.kills, 1);
    EXPECT_EQ(game.hitMarker, 0.2);
    EXPECT_EQ(game.blastFlash, 0.45);
    EXPECT_EQ(game.shotSound, 2);
    // Half of 85 at 4.5 m, two thirds and more of it taken by the armour.
    EXPECT_NEAR(game.armour, 100.0 - 0.65 * 42.5, 1e-9);
    EXPECT_NEAR(game.health, 100.0 - 0.35 * 42.5, 1e-9);
    EXPECT_EQ(game.world.physics.fractureCount, 0u);

    // Fire-power softens the blast on the player: at level 4, 42.5 / 2.6.
    game.level = 4;
    game.armour = 0.0;
    game.health = 100.0;
    game.explode(blast);
    EXPECT_NEAR(game.health, 100.0 - 42.5 / 2.6, 1e-9);
}

TEST(EnemiesTest, ArmourDeathAndRespawn) {
    Game game;
    game.armour = 30.0;
    game.hurtPlayer(100.0);
    EXPECT_EQ(game.armour, 0.0);
    EXPECT_EQ(game.health, 30.0);
    EXPECT_EQ(game.hurtFlash, 0.35);
    game.hurtPlayer(40.0);
    EXPECT_EQ(game.health, 0.0);
    EXPECT_TRUE(game.dead);
    EXPECT_EQ(game.message, "已阵亡 / 按回车重新部署");
    game.hurtPlayer(10.0); // the dead feel nothing more
    EXPECT_EQ(game.health, 0.0);

    // Redeployed at the spawn point with the level's health, armour and reserves; the destruction
    // stays.
    game.level = 2;
    game.world.physics.fractureCount = 7;
    game.world.spawnPoint = {5.0, 0.0, -100.0};
    game.player.yaw = 2.0;
    game.player.velocity = {1.0, 2.0, 3.0};
    game.slots[6].reserve = 0;
    game.respawn();
    EXPECT_FALSE(game.dead);
    EXPECT_EQ(game.player.position, game.world.spawnPoint);
    EXPECT_EQ(game.player.velocity, Vec3{});
    EXPECT_EQ(game.player.yaw, 0.0);
    EXPECT_TRUE(game.player.onGround);
    EXPECT_EQ(game.health, 150.0);
    EXPECT_EQ(game.armour, 150.0);
    EXPECT_EQ(game.slots[6].reserve, 36);
    EXPECT_EQ(game.message, "已重新部署 / 城市破坏状态保留");
    EXPECT_EQ(game.world.physics.fractureCount, 7u);

    game.reset(true);
    game.hurtPlayer(50.0);
    EXPECT_EQ(game.health, 100.0); // nobody is hurt on the training ground
}

TEST(EnemiesTest, SeedsOfLateShotsWrapWithoutOverflow) {
    // After 3e7 s, the shot seed 30,000,000 x 91 no longer fits a signed 32-bit number; it wraps.
    Game game;
    test::emptyCity(game);
    game.enemies.push_back(test::postedEnemy(5, {0.0, 0.0, -50.0}));
    game.enemies[0].nextShot = 0.0;
    game.time = 3.0e7;
    game.tick({}, dt);
    const std::uint32_t seed = 30000000u * 91u + 5u;
    EXPECT_NEAR(game.enemies[0].nextShot, game.time + 1.4 + 1.8 * randomDraw(seed), 1e-6);
    EXPECT_EQ(enemyTracers(game), 1);
}

} // namespace
} // namespace zarn
