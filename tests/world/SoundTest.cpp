#include <cmath>

#include <gtest/gtest.h>

#include "physics/Geometry.hpp"
#include "world/CombatScene.hpp"
#include "world/Game.hpp"

namespace zarn {
namespace {

constexpr double dt = Game::fixedStep;

CollisionSound soundAt(const Vec3& position, double pitch = 440.0) {
    CollisionSound sound;
    sound.position = position;
    sound.pitch = pitch;
    sound.energy = 10.0;
    sound.duration = 0.2;
    return sound;
}

// A city game without enemies, whose listener stands still at the start point.
Game quietGame() {
    Game game;
    test::emptyCity(game);
    return game;
}

TEST(SoundTest, FrontsTravelAt343MetresPerSecond) {
    Game game = quietGame();
    // At the ear: heard in the very next step, and only once.
    game.queueCollision(soundAt(game.eye(), 100.0));
    EXPECT_EQ(game.travelingSounds.size(), 1u);
    EXPECT_EQ(game.travelingSounds[0].emittedAt, game.time);
    game.tick({}, dt);
    ASSERT_EQ(game.heardSounds.size(), 1u);
    EXPECT_EQ(game.heardSounds[0].pitch, 100.0);
    EXPECT_TRUE(game.travelingSounds.empty());
    game.heardSounds.clear();
    game.tick({}, dt);
    EXPECT_TRUE(game.heardSounds.empty());

    // 343 m away across the district: heard after one second, not before.
    const double queuedAt = game.time;
    game.queueCollision(soundAt(game.eye() + Vec3{343.0, 0.0, 0.0}, 200.0));
    double heardAt = -1.0;
    for (int i = 0; i < 240 && heardAt < 0.0; ++i) {
        game.tick({}, dt);
        if (!game.heardSounds.empty()) {
            heardAt = game.time;
        }
    }
    EXPECT_GE(heardAt - queuedAt, 1.0 - 1e-9);
    EXPECT_LT(heardAt - queuedAt, 1.0 + dt);
    ASSERT_EQ(game.heardSounds.size(), 1u);
    EXPECT_EQ(game.heardSounds[0].pitch, 200.0);

    // 20 km away: its front reaches only 10,290 m in 30 s, and then it is forgotten.
    game.heardSounds.clear();
    game.queueCollision(soundAt(game.eye() + Vec3{0.0, 0.0, 20000.0}));
    const double farQueuedAt = game.time;
    while (game.time < farQueuedAt + 30.0 - dt) {
        game.tick({}, dt);
    }
    EXPECT_EQ(game.travelingSounds.size(), 1u);
    game.tick({}, dt);
    game.tick({}, dt);
    EXPECT_TRUE(game.travelingSounds.empty());
    EXPECT_TRUE(game.heardSounds.empty());
}

TEST(SoundTest, FullQueuesDropTheSurplus) {
    Game game = quietGame();
    // No more than 512 fronts on their way.
    for (int i = 0; i < 600; ++i) {
        game.queueCollision(soundAt(game.eye() + Vec3{5000.0, 0.0, 0.0}, i));
    }
    ASSERT_EQ(game.travelingSounds.size(), 512u);
    EXPECT_EQ(game.travelingSounds.back().sound.pitch, 511.0);

    // With 24 heard sounds waiting for the shell, arriving fronts are thrown away, not kept.
    game.travelingSounds.clear();
    game.heardSounds.assign(23, soundAt({}));
    for (int i = 0; i < 3; ++i) {
        game.queueCollision(soundAt(game.eye(), 1000.0 + i));
    }
    game.tick({}, dt);
    ASSERT_EQ(game.heardSounds.size(), 24u);
    EXPECT_EQ(game.heardSounds.back().pitch, 1000.0);
    EXPECT_TRUE(game.travelingSounds.empty());
    game.heardSounds.clear();
    game.tick({}, dt);
    EXPECT_TRUE(game.heardSounds.empty());

    // A front not yet arrived keeps its place behind the ones that left.
    game.queueCollision(soundAt(game.eye() + Vec3{100.0, 0.0, 0.0}, 1.0));
    game.queueCollision(soundAt(game.eye(), 2.0));
    game.queueCollision(soundAt(game.eye() + Vec3{200.0, 0.0, 0.0}, 3.0));
    game.tick({}, dt);
    ASSERT_EQ(game.travelingSounds.size(), 2u);
    EXPECT_EQ(game.travelingSounds[0].sound.pitch, 1.0);
    EXPECT_EQ(game.travelingSounds[1].sound.pitch, 3.0);
}

TEST(SoundTest, MatterSoundsAreCollectedInOrderAndTheirQueueEmptied) {
    Game game = quietGame();
    game.time = 7.0;
    for (int i = 0; i < 5; ++i) {
        game.world.physics.sounds.push_back(soundAt({0.0, 0.0, 1000.0}, i));
    }
    game.collectPhysicsSounds();
    ASSERT_EQ(game.travelingSounds.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(game.travelingSounds[static_cast<std::size_t>(i)].sound.pitch, i);
        EXPECT_EQ(game.travelingSounds[static_cast<std::size_t>(i)].emittedAt, 7.0);
    }
    EXPECT_TRUE(game.world.physics.sounds.empty());

    // Sounds that find no room are lost with the rest of the matter's queue.
    game.travelingSounds.resize(510);
    for (int i = 0; i < 5; ++i) {
        game.world.physics.sounds.push_back(soundAt({}, 100.0 + i));
    }
    game.collectPhysicsSounds();
    EXPECT_EQ(game.travelingSounds.size(), 512u);
    EXPECT_EQ(game.travelingSounds.back().sound.pitch, 101.0);
    EXPECT_TRUE(game.world.physics.sounds.empty());
}

TEST(SoundTest, WholeBlastSharesOneQueueOfTwelve) {
    // A second rocket into the rubble of a tower wall strikes far more than twelve pieces; all of them
    // sound through the matter's one queue of twelve.
    Game game = quietGame();
    const test::WallTarget wall = test::secondStoreyWall(game.world, 40.0);
    const Vec3 point{wall.x, wall.middleY, wall.faceZ - 0.01};
    game.explode(point);
    game.travelingSounds.clear();
    int inReach = 0;
    for (const MatterPiece& piece : game.world.physics.pieces) {
        inReach += piece.alive && boxDistance(point, piece) <= 8.0 ? 1 : 0;
    }
    ASSERT_GT(inReach, 12);
    game.explode(point);
    EXPECT_EQ(game.travelingSounds.size(), 12u);
    EXPECT_TRUE(game.world.physics.sounds.empty());
}

TEST(SoundTest, LandingBlockIsHeardWhenItsSoundArrives) {
    Game game = quietGame();
    // A loose block 10 m in front of the player, 2 m over the street.
    MatterPiece block;
    block.body.center = {0.0, 2.5, -100.0};
    block.body.halfExtents = {0.5, 0.5, 0.5};
    game.world.physics.connectNew(game.world.physics.add(block));
    int impacts = 0;
    for (int i = 0; i < 240; ++i) {
        game.tick({}, dt);
        for (const CollisionSound& sound : game.heardSounds) {
            impacts += sound.kind == 0 ? 1 : 0;
            EXPECT_NEAR(sound.position.z, -100.0, 1.0);
        }
        game.heardSounds.clear(); // as the shell does after every pass
    }
    EXPECT_GE(impacts, 1);
    EXPECT_TRUE(game.travelingSounds.empty());
}

} // namespace
} // namespace zarn
