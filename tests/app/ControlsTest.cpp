#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "app/Bindings.hpp"
#include "app/CommandLine.hpp"
#include "app/Controls.hpp"

namespace zarn {
namespace {

TEST(ControlsTest, AccumulatorTakesWholeFixedSteps) {
    StepAccumulator accumulator;
    EXPECT_EQ(accumulator.take(0.02), 2);
    EXPECT_NEAR(accumulator.time, 0.02 - 2.0 / 120.0, 1e-12);
    // The remainder counts in the next pass: 0.00333 + 0.005 = 0.00833 is one step.
    EXPECT_EQ(accumulator.take(0.005), 1);
    EXPECT_NEAR(accumulator.time, 0.02 + 0.005 - 3.0 / 120.0, 1e-12);
    accumulator.reset();
    EXPECT_EQ(accumulator.take(1.0 / 240.0), 0);
    EXPECT_EQ(accumulator.take(1.0 / 240.0 + 1e-12), 1);
    // Sixty passes at 60 Hz make 120 steps, with nothing lost on the way.
    accumulator.reset();
    std::int64_t steps = 0;
    for (int i = 0; i < 60; ++i) {
        steps += accumulator.take(1.0 / 60.0);
    }
    EXPECT_GE(steps, 119);
    EXPECT_LE(steps, 120);
    EXPECT_LT(accumulator.time, 1.0 / 120.0 + 1e-12);
    // A stall is made up in one pass up to a quarter of a second of game time; the rest of a longer
    // one is dropped, so the next pass at 60 Hz runs its two steps as usual.
    for (const double stall : {1.0, 0.25 + 1.0 / 120.0 + 1e-9, 3600.0, 1e300}) {
        accumulator.reset();
        EXPECT_EQ(accumulator.take(stall), StepAccumulator::maxSteps) << stall;
        EXPECT_LT(accumulator.time, Game::fixedStep) << stall;
        EXPECT_GE(accumulator.time, 0.0) << stall;
        EXPECT_EQ(accumulator.take(1.0 / 60.0), 2) << stall;
    }
    accumulator.reset();
    EXPECT_EQ(accumulator.take(0.25 + 1e-9), 30);
    EXPECT_NEAR(accumulator.time, 1e-9, 1e-12);
    // Time that is not a number or runs backwards adds nothing.
    accumulator.reset();
    EXPECT_EQ(accumulator.take(std::nan("")), 0);
    EXPECT_EQ(accumulator.take(-1.0), 0);
    EXPECT_EQ(accumulator.time, 0.0);
}

TEST(ControlsTest, FramesPerSecondAverage) {
    EXPECT_NEAR(smoothFps(60.0, 1.0 / 60.0), 60.0, 1e-9);
    EXPECT_NEAR(smoothFps(60.0, 0.1), 57.5, 1e-12);
    // Very short passes add 50, so the average stays finite.
    EXPECT_DOUBLE_EQ(smoothFps(60.0, 0.0), 107.0);
    EXPECT_DOUBLE_EQ(smoothFps(60.0, 0.0009), 107.0);
    double fps = 60.0;
    for (int i = 0; i < 400; ++i) {
        fps = smoothFps(fps, 0.04);
    }
    EXPECT_NEAR(fps, 25.0, 1e-6);
}

TEST(ControlsTest, RawMouseTurnsYawAndPitch) {
    Player player;
    turnView(player, 100.0, 50.0, 0.0022);
    EXPECT_NEAR(player.yaw, 0.22, 1e-12);
    EXPECT_NEAR(player.pitch, -0.11, 1e-12); // moving the mouse towards the user looks down
    // The yaw wraps into [-pi, pi].
    player.yaw = 3.0;
    turnView(player, 100.0, 0.0, 0.002);
    EXPECT_NEAR(player.yaw, 3.2 - 2.0 * std::numbers::pi, 1e-12);
    for (int i = 0; i < 1000; ++i) {
        turnView(player, 997.0, 0.0, 0.006);
        ASSERT_LE(std::abs(player.yaw), std::numbers::pi + 1e-12);
    }
    // The pitch stops at +-1.48 rad, both ways.
    player.pitch = 0.0;
    turnView(player, 0.0, -10000.0, 0.006);
    EXPECT_EQ(player.pitch, 1.48);
    turnView(player, 0.0, 10000.0, 0.006);
    EXPECT_EQ(player.pitch, -1.48);
    // The scope's share of the sensitivity.
    player = Player{};
    turnView(player, 10.0, 0.0, 0.002 * scopedSensitivity);
    EXPECT_NEAR(player.yaw, 0.008, 1e-12);
}

TEST(ControlsTest, StepInputReadsTheBoundKeys) {
    UiState ui;
    KeyState keys{};
    KeyPresses presses;
    keys['W'] = 1;
    keys['A'] = 1;
    keys['D'] = 1;
    keys[0x11] = 1; // Ctrl
    keys[keyCode::leftButton] = 1;
    Input input = stepInput(keys, presses, ui.bindings);
    EXPECT_EQ(input.move.forward, 1.0);
    EXPECT_EQ(input.move.side, 0.0); // left and right cancel
    EXPECT_FALSE(input.move.jump);
    EXPECT_TRUE(input.move.crouch);
    EXPECT_TRUE(input.shoot);
    EXPECT_FALSE(input.reload);
    EXPECT_FALSE(input.scope);
    keys['S'] = 1;
    keys['W'] = 0;
    keys['A'] = 0;
    EXPECT_EQ(stepInput(keys, presses, ui.bindings).move.forward, -1.0);
    EXPECT_EQ(stepInput(keys, presses, ui.bindings).move.side, 1.0);
    // The keys go through the bindings: with Forward on the up arrow, W does nothing.
    ASSERT_TRUE(assignBinding(ui.bindings, static_cast<std::int32_t>(Action::Forward), 0x26));
    keys.fill(0);
    keys['W'] = 1;
    EXPECT_EQ(stepInput(keys, presses, ui.bindings).move.forward, 0.0);
    keys[0x26] = 1;
    EXPECT_EQ(stepInput(keys, presses, ui.bindings).move.forward, 1.0);
    // One press of the resupply key asks once, however many steps follow.
    keys['E'] = 1;
    EXPECT_TRUE(stepInput(keys, presses, ui.bindings).resupply);
    EXPECT_FALSE(stepInput(keys, presses, ui.bindings).resupply);
    EXPECT_EQ(keys['E'], 0);
}

TEST(ControlsTest, PressesWaitForAStep) {
    const UiState ui;
    KeyState keys{};
    KeyPresses presses;
    const auto step = [&] { return stepInput(keys, presses, ui.bindings); };

    // Pressed and let go before any step: fire, jump, reload and resupply are on for exactly one
    // step; movement and crouch follow only the held keys.
    for (const std::int32_t code :
         std::array<std::int32_t, 6>{keyCode::leftButton, ' ', 'R', 'E', 'W', 0x11}) {
        presses.press(code);
    }
    Input input = step();
    EXPECT_TRUE(input.shoot && input.move.jump && input.reload && input.resupply);
    EXPECT_TRUE(input.move.forward == 0.0 && !input.move.crouch);
    input = step();
    EXPECT_FALSE(input.shoot || input.move.jump || input.reload || input.resupply);

    // Held, a button is on in every step. Let go and pressed again between two steps, it shows let
    // go for one step, so the game meets a new press; two taps in one frame are two presses.
    presses.press(keyCode::leftButton);
    keys[keyCode::leftButton] = 1;
    std::vector<bool> shots;
    for (int i = 0; i < 10; ++i) {
        if (i == 3) {
            presses.press(keyCode::leftButton); // up and down again
        }
        if (i == 5) {
            keys[keyCode::leftButton] = 0;
            presses.press(keyCode::leftButton);
            presses.press(keyCode::leftButton);
        }
        shots.push_back(step().shoot);
    }
    EXPECT_EQ(shots, (std::vector<bool>{true, true, true, false, true, false, true, false, true, false}));
}

TEST(ControlsTest, MenuRowsUnderTheMouse) {
    EXPECT_EQ(menuRowAt(Page::MainMenu, 80, 349), 0);
    EXPECT_EQ(menuRowAt(Page::MainMenu, 439, 397), 0);
    EXPECT_EQ(menuRowAt(Page::MainMenu, 200, 398), 1);
    EXPECT_EQ(menuRowAt(Page::MainMenu, 200, 495), 2);
    EXPECT_EQ(menuRowAt(Page::MainMenu, 200, 496), -1);
    EXPECT_EQ(menuRowAt(Page::MainMenu, 79, 360), -1);
    EXPECT_EQ(menuRowAt(Page::MainMenu, 440, 360), -1);
    EXPECT_EQ(menuRowAt(Page::MainMenu, 200, 348), -1);
    EXPECT_EQ(menuRowAt(Page::WorldSelect, 200, 593), 4);
    EXPECT_EQ(menuRowAt(Page::WorldSelect, 200, 594), -1);
    EXPECT_EQ(menuRowAt(Page::Paused, 200, 275), 0);
    EXPECT_EQ(menuRowAt(Page::Paused, 200, 470), 3);
    EXPECT_EQ(menuRowAt(Page::Paused, 200, 471), -1);
    EXPECT_EQ(menuRowAt(Page::Armory, 200, 400), -1);
    EXPECT_EQ(menuRowAt(Page::Playing, 200, 400), -1);
}

TEST(ControlsTest, WheelSkipsLockedWeapons) {
    // Level 0 unlocks slots 0 to 3, level 1 adds 4 and 5, level 2 the rocket launcher.
    EXPECT_EQ(cycledWeapon(2, 0, 1), 3);
    EXPECT_EQ(cycledWeapon(3, 0, 1), 0);
    EXPECT_EQ(cycledWeapon(0, 0, -1), 3);
    EXPECT_EQ(cycledWeapon(3, 1, 1), 4);
    EXPECT_EQ(cycledWeapon(5, 1, 1), 0);
    EXPECT_EQ(cycledWeapon(6, 4, 1), 0);
    EXPECT_EQ(cycledWeapon(0, 4, -1), 6);
    // From a locked slot the wheel finds an unlocked one; the current slot comes last.
    EXPECT_EQ(cycledWeapon(6, 0, 1), 0);
    EXPECT_EQ(cycledWeapon(6, -1, 1), -1);
}

TEST(ControlsTest, OptionsAreFoundAnywhereInTheCommandLine) {
    const CommandLineOptions none = parseCommandLine(L"");
    EXPECT_FALSE(none.smoke || none.play || none.collapse || none.shoot || none.airMode);
    const CommandLineOptions smoke = parseCommandLine(L"--smoke");
    EXPECT_TRUE(smoke.smoke);
    EXPECT_FALSE(smoke.play);
    // No separators needed, inside longer words too, in any order.
    const CommandLineOptions joined = parseCommandLine(L"x--collapse--shoot --earthly \"--air-mode\"");
    EXPECT_TRUE(joined.collapse);
    EXPECT_TRUE(joined.shoot);
    EXPECT_TRUE(joined.earth);
    EXPECT_TRUE(joined.airMode);
    EXPECT_FALSE(joined.smoke);
    const CommandLineOptions all =
        parseCommandLine(L"--smoke --play --collapse --lujiazui --earth --stars --moon --space --warp "
                         L"--outskirts --orbit --lighting-probe --night --dusk --air-mode --shoot");
    EXPECT_TRUE(all.smoke && all.play && all.collapse && all.lujiazui && all.earth && all.stars && all.moon &&
                all.space && all.warp && all.outskirts && all.orbit && all.lightingProbe && all.night &&
                all.dusk && all.airMode && all.shoot);
    // Case counts, and a single dash is not an option.
    EXPECT_FALSE(parseCommandLine(L"--SMOKE -smoke").smoke);
    EXPECT_FALSE(parseCommandLine(L"--lighting").lightingProbe);
}

} // namespace
} // namespace zarn
