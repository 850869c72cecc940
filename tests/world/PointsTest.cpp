#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "world/Game.hpp"
#include "support/StateHash.hpp"

namespace zarn {
namespace {

constexpr double dt = Game::fixedStep;

std::uint64_t scoreHash(const Game& game) {
    test::StateHash h;
    test::hashScore(h, game);
    return h.value();
}

TEST(PointsTest, CloseRewardsRaiseTheComboUpToThreeTimes) {
    Game game;
    game.time = 10.0;
    game.reward(100.0);
    EXPECT_EQ(game.lastGain, 100.0);
    EXPECT_EQ(game.combo, 1.0);
    game.time = 13.9;
    game.reward(100.0);
    EXPECT_NEAR(game.lastGain, 107.0, 1e-9);
    EXPECT_NEAR(game.points, 207.0, 1e-9);

    // A chain of rewards a second apart: the 29th pays 2.96 times, the 30th and later 3 times.
    game.time = 100.0;
    for (int k = 1; k <= 31; ++k) {
        game.time += 1.0;
        game.reward(10.0);
        if (k == 29) {
            EXPECT_NEAR(game.lastGain, 29.6, 1e-9);
        }
        if (k >= 30) {
            EXPECT_EQ(game.lastGain, 30.0);
        }
    }
    EXPECT_EQ(game.combo, 3.0);

    // Four seconds apart is too late: the combo starts again.
    game.time += 4.0;
    game.reward(10.0);
    EXPECT_EQ(game.combo, 1.0);
    EXPECT_EQ(game.lastGain, 10.0);

    // Nothing, a loss or a broken number pays nothing and keeps the combo clock.
    const std::uint64_t before = scoreHash(game);
    for (const double gain : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN()}) {
        game.reward(gain);
    }
    EXPECT_EQ(scoreHash(game), before);
    EXPECT_EQ(game.totalPoints, game.points);

    // The game step drops the combo once more than 4 s passed without a reward.
    game.time = 0.0;
    game.lastRewardTime = -100.0;
    game.reward(10.0);
    game.reward(10.0);
    ASSERT_GT(game.combo, 1.0);
    for (int i = 0; i < 480; ++i) {
        game.tick({}, dt);
    }
    EXPECT_GT(game.combo, 1.0); // exactly 4 s (or a rounding short of it) keeps it
    game.tick({}, dt);
    EXPECT_EQ(game.combo, 1.0);
}

TEST(PointsTest, DestroyedValuePaysAlongASquareRoot) {
    EXPECT_NEAR(destructionReward(0.0, 10000.0), 10.0 * std::sqrt(10.0), 1e-12);
    EXPECT_NEAR(destructionReward(90000.0, 160000.0), 10.0 * (std::sqrt(160.0) - std::sqrt(90.0)), 1e-12);
    EXPECT_EQ(destructionReward(5e4, 5e4), 0.0);
}

// Puts a 10 m block of matter (1.2 million kg) on a thin post standing at x on the training floor.
// The post is bonded and stands; the block is bonded to it but its weight only reaches the post at
// the next topology refresh, which runs inside the next matter step and breaks the overloaded bonds.
void loadThinPost(Physics& physics, double x) {
    MatterPiece post;
    post.body.center = {x, 1.0, -470.0};
    post.body.halfExtents = {0.1, 1.0, 0.1};
    const std::uint32_t postId = physics.add(post);
    physics.connectNew(postId);
    MatterPiece block;
    block.body.center = {x, 7.0, -470.0};
    block.body.halfExtents = {5.0, 5.0, 5.0};
    const std::uint32_t blockId = physics.add(block);
    ASSERT_TRUE(physics.addBond(postId, blockId));
}

TEST(PointsTest, BreakingMatterPaysTheDestroyedValueTimesTheCombo) {
    Game game;
    game.reset(true);
    game.points = 0.0;
    const std::uint64_t brokenAtStart = game.world.physics.brokenBondCount;
    loadThinPost(game.world.physics, 20.0);
    EXPECT_EQ(game.world.physics.brokenBondCount, brokenAtStart); // nothing broke yet

    int rewards = 0;
    double paidSum = 0.0;
    double previousCombo = 0.0;
    double previousRewardTime = -100.0;
    for (int i = 0; i < 3 * 120; ++i) {
        if (i == 120) {
            loadThinPost(game.world.physics, 60.0); // a second break a second later
        }
        const double lossBefore = game.world.loss();
        game.tick({}, dt);
        const double lossAfter = game.world.loss();
        if (lossAfter == lossBefore) {
            continue;
        }
        ++rewards;
        const double expectedCombo =
            game.time - previousRewardTime < 4.0 ? std::min(previousCombo + 0.07, 3.0) : 1.0;
        EXPECT_NEAR(game.combo, expectedCombo, 1e-12);
        EXPECT_NEAR(game.lastGain, destructionReward(lossBefore, lossAfter) * expectedCombo, 1e-9);
        EXPECT_EQ(game.lastRewardTime, game.time);
        paidSum += game.lastGain;
        previousCombo = game.combo;
        previousRewardTime = game.time;
    }
    EXPECT_GE(rewards, 2);
    EXPECT_GT(previousCombo, 1.0);
    EXPECT_GT(game.points, 0.0);
    EXPECT_NEAR(game.points, paidSum, 1e-9);
    EXPECT_EQ(game.totalPoints, game.points);
}

TEST(PointsTest, RefusedUpgradeChangesNothingAndSaysSoForFourSeconds) {
    Game game;
    game.enemies.clear(); // nobody shoots at the player while the score is watched
    game.tick({}, 1.0);   // some game time has passed
    game.points = 499.0;
    game.health = 60.0;
    game.slots[1].reserve = 7;
    const std::uint64_t before = scoreHash(game);
    const double refusedAt = game.time;
    game.upgrade();
    EXPECT_EQ(scoreHash(game), before);
    EXPECT_EQ(game.message, "贡献点不足");
    EXPECT_EQ(game.messageUntil, refusedAt + 4.0);

    int shownSteps = 0;
    while (game.time < refusedAt + 5.0) {
        EXPECT_EQ(game.messageVisible(), game.time < refusedAt + 4.0) << "at " << game.time;
        shownSteps += game.messageVisible() ? 1 : 0;
        game.tick({}, dt);
    }
    EXPECT_GE(shownSteps, 480); // 4 s of 1/120 s steps, counting the one it was shown in
    EXPECT_LE(shownSteps, 481);
    EXPECT_EQ(game.message, "贡献点不足"); // hidden, not replaced
    EXPECT_EQ(scoreHash(game), before);
}

TEST(PointsTest, LevelsRaiseHealthArmourAndReserves) {
    Game game;
    game.points = 500.0;
    game.health = 30.0;
    game.upgrade();
    EXPECT_EQ(game.level, 1);
    EXPECT_EQ(game.points, 0.0);
    EXPECT_EQ(game.health, 125.0);
    EXPECT_EQ(game.armour, 125.0);
    EXPECT_EQ(game.slots[5].reserve, 400);
    EXPECT_EQ(game.message, "火力升级成功 / 护甲与弹药已恢复");

    game.points = 1400.0 + 3400.0 + 8000.0 + 1.0;
    game.upgrade();
    EXPECT_EQ(game.level, 2);
    EXPECT_EQ(game.health, 150.0);
    EXPECT_EQ(game.slots[6].reserve, 2 * 18);
    game.upgrade();
    game.upgrade();
    EXPECT_EQ(game.level, 4);
    EXPECT_EQ(game.points, 1.0);
    EXPECT_EQ(game.armour, 200.0);
    EXPECT_EQ(game.slots[0].reserve, 3 * 136);

    game.points = 1e6;
    game.upgrade();
    EXPECT_EQ(game.level, 4);
    EXPECT_EQ(game.points, 1e6);
    EXPECT_EQ(game.message, "已达到最高火力 / 四级");
}

TEST(PointsTest, ReplenishSetsReservesAndTopsUpHealthAndArmour) {
    Game game;
    game.health = 90.0;
    game.armour = 20.0;
    game.slots[2].magazine = 3;
    game.slots[2].reserve = 5;
    game.replenish();
    EXPECT_EQ(game.health, 100.0);
    EXPECT_EQ(game.armour, 70.0);
    EXPECT_EQ(game.slots[2].reserve, 180);
    EXPECT_EQ(game.slots[2].magazine, 3);
    EXPECT_EQ(game.message, "已获得补给");
    game.replenish(); // no stacking
    EXPECT_EQ(game.slots[2].reserve, 180);
    EXPECT_EQ(game.armour, 100.0);

    game.level = 3;
    game.health = 160.0;
    game.replenish();
    EXPECT_EQ(game.health, 175.0);
    EXPECT_EQ(game.slots[4].reserve, 2 * 40);
}

} // namespace
} // namespace zarn
