#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/Application.hpp"
#include "render/RecordingBackend.hpp"
#include "support/Files.hpp"

namespace zarn {
namespace {

// Records what the application asks of its window.
class RecordingHost final : public WindowHost {
  public:
    std::vector<std::string> calls;
    void clipCursor(bool captured) override { calls.push_back(captured ? "capture" : "release"); }
    void detachIme() override { calls.push_back("ime"); }
    void setFullscreen(bool fullscreen) override { calls.push_back(fullscreen ? "fullscreen" : "windowed"); }
};

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        result.push_back(line);
    }
    return result;
}

class ApplicationTest : public ::testing::Test {
  protected:
    std::filesystem::path folder;
    test::DeviceLog log;
    RecordingHost host;
    std::unique_ptr<Application> app;
    double now = 0.0;

    void SetUp() override {
        folder = test::scratchFolder("zarn-app");
        // A small frame for the screenshot to read back.
        log.frame.width = 2;
        log.frame.height = 2;
        log.frame.pitch = 8;
        log.frame.pixels.assign(16, 200);
    }

    void TearDown() override {
        app.reset();
        std::filesystem::remove_all(folder);
    }

    // Starts the application as the Windows shell does, up to the main loop.
    Application& start(const std::wstring& commandLine = L"") {
        app = std::make_unique<Application>(folder);
        test::attachRecorder(app->renderer, log);
        app->host = &host;
        const CommandLineOptions options = parseCommandLine(commandLine);
        app->applyEarlyOptions(options);
        app->windowReady = true;
        app->applyLateOptions(options);
        now = 100.0;
        app->startLoop(now);
        return *app;
    }

    // Passes at 60 per second until the loop stops or the number of passes is reached.
    void runPasses(int passes) {
        for (int i = 0; i < passes && app->running; ++i) {
            now += 1.0 / 60.0;
            app->pass(now, false);
        }
    }

    std::vector<std::string> report() const { return lines(readText(folder / "zarn-smoke.txt")); }

    std::string value(const std::string& name) const {
        for (const std::string& line : report()) {
            if (line.starts_with(name + "=")) {
                return line.substr(name.size() + 1);
            }
        }
        return "(missing)";
    }
};

TEST_F(ApplicationTest, StartsInTheTrainingGroundWithTheSavedSettings) {
    std::ofstream(folder / "config.ini") << "sensitivity=0.003\nvolume=0.5\nmotion_limit=1000\n"
                                            "impact_multiplier=8\nrotation_multiplier=3\nkey_4=87\n";
    Application& a = start();
    EXPECT_EQ(a.game.world.id, "training");
    EXPECT_EQ(a.ui.page, Page::MainMenu);
    EXPECT_EQ(a.ui.sensitivity, 0.003);
    EXPECT_EQ(a.ui.volume, 0.5);
    EXPECT_EQ(a.game.world.physics.motionLimit, 1000u);
    EXPECT_EQ(a.game.impactMultiplier, 8.0);
    EXPECT_EQ(a.game.world.dayCycle.rate, 3.0);
    EXPECT_EQ(a.ui.binding(Action::Jump), 'W');
    EXPECT_EQ(a.ui.binding(Action::Forward), ' ');
    EXPECT_TRUE(a.running);
    EXPECT_EQ(a.smokeFrames, 0);
    // The settings survive a new training ground.
    a.startTrainingGround();
    EXPECT_EQ(a.game.world.physics.motionLimit, 1000u);
    EXPECT_EQ(a.game.impactMultiplier, 8.0);
    EXPECT_EQ(a.game.world.dayCycle.rate, 3.0);
}

TEST_F(ApplicationTest, SavingWithoutAFileWritesTheDefaults) {
    start().saveSettings();
    const std::vector<std::string> text = lines(readText(folder / "config.ini"));
    ASSERT_EQ(text.size(), 26u);
    EXPECT_EQ(text[0], "sensitivity=0.0022");
    EXPECT_EQ(text[1], "volume=0.35");
    EXPECT_EQ(text[2], "motion_limit=256");
    EXPECT_EQ(text[3], "impact_multiplier=4");
    EXPECT_EQ(text[4], "rotation_multiplier=1");
    EXPECT_EQ(text[5], "key_0=87");
    EXPECT_EQ(text[25], "key_20=55");
}

TEST_F(ApplicationTest, SmokeRunEndsOnTheMainMenuAfter120Frames) {
    Application& a = start(L"--smoke");
    EXPECT_EQ(a.smokeFrames, 120);
    runPasses(500);
    EXPECT_FALSE(a.running);
    EXPECT_EQ(a.frames, 120);
    EXPECT_TRUE(a.unattendedPassed);
    EXPECT_EQ(a.game.time, 0.0); // no step runs off the playing page
    const std::vector<std::string> text = report();
    ASSERT_EQ(text.size(), 15u);
    EXPECT_EQ(text.front(), "frames=120");
    EXPECT_EQ(value("buildings"), "0");
    EXPECT_EQ(value("fractures"), "0");
    EXPECT_EQ(value("gravity_up_x"), "0");
    EXPECT_EQ(value("gravity_up_y"), "1");
    EXPECT_EQ(value("rotation_multiplier"), "1");
    EXPECT_EQ(text.back(), "D3D11_RENDER_OK");
    EXPECT_EQ(std::filesystem::file_size(folder / "zarn-smoke.ppm"), 11u + 12u); // "P6\n2 2\n255\n" + pixels
    EXPECT_TRUE(std::filesystem::exists(folder / "config.ini"));
    // Only the last frame is kept, before it is presented.
    ASSERT_EQ(log.count("keep"), 1u);
    ASSERT_GE(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[log.calls.size() - 2], "keep");
    EXPECT_EQ(log.calls.back(), "present");
    EXPECT_EQ(log.count("present"), 120u);
}

TEST_F(ApplicationTest, PlayStartsTheTrainingGroundAndSteps) {
    Application& a = start(L"--play --smoke");
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_EQ(a.game.player.pitch, 0.13);
    EXPECT_TRUE(a.mouseCaptured);
    runPasses(500);
    EXPECT_EQ(a.frames, 120);
    // 120 passes of 1/60 s: two fixed steps each, give or take the rounding of the accumulator.
    EXPECT_NEAR(a.game.time, 2.0, 1.5 / 120.0);
    EXPECT_FALSE(a.mouseCaptured); // released at the end of the run
    EXPECT_EQ(report().back(), "D3D11_RENDER_OK");
    // "--play" alone is an ordinary run in play with no frame limit.
    Application& b = start(L"--play");
    EXPECT_EQ(b.smokeFrames, 0);
    EXPECT_EQ(b.ui.page, Page::Playing);
    EXPECT_EQ(b.game.player.position.z, -110.0);
}

TEST_F(ApplicationTest, CollapseRunBreaksTheTestGate) {
    Application& a = start(L"--collapse");
    EXPECT_EQ(a.smokeFrames, 360);
    EXPECT_EQ(a.game.player.position.z, -480.0);
    EXPECT_EQ(a.game.player.pitch, 0.06);
    runPasses(1000);
    EXPECT_EQ(a.frames, 360);
    EXPECT_EQ(report().front(), "frames=360");
    EXPECT_GT(std::stoull(value("fractures")), 0u);
    EXPECT_EQ(report().back(), "D3D11_RENDER_OK");
}

TEST_F(ApplicationTest, ShootingRunFiresTwiceAndEndsAfter240Frames) {
    Application& a = start(L"--collapse --shoot");
    EXPECT_EQ(a.smokeFrames, 240);
    EXPECT_EQ(a.game.player.position, a.game.world.spawnPoint);
    EXPECT_EQ(a.game.player.pitch, -1.3);
    const std::int32_t magazine = a.game.slots[static_cast<std::size_t>(a.game.weapon)].magazine;
    runPasses(1000);
    EXPECT_EQ(a.frames, 240);
    EXPECT_EQ(a.game.slots[static_cast<std::size_t>(a.game.weapon)].magazine, magazine - 2);
    EXPECT_EQ(report().front(), "frames=240");
    // "--smoke" and "--shoot" together: the shooting run's limit wins.
    EXPECT_EQ(start(L"--smoke --shoot").smokeFrames, 240);
    // Without a frame limit, the probes do nothing.
    Application& attended = start(L"--play --shoot --air-mode --lighting-probe");
    EXPECT_EQ(attended.smokeFrames, 0);
    EXPECT_FALSE(attended.shootRun);
    EXPECT_FALSE(attended.lightingProbe);
    EXPECT_FALSE(attended.game.player.airMode);
}

TEST_F(ApplicationTest, AirModeLaunchesThePlayerAlongTheAim) {
    Application& a = start(L"--play --smoke --air-mode");
    const Player& player = a.game.player;
    EXPECT_EQ(player.position, (Vec3{0.0, 100.0, -110.0}));
    EXPECT_TRUE(player.airMode);
    EXPECT_EQ(player.jumpCount, 2);
    const Vec3 expected = a.game.aim() * 20.0 + Vec3{0.0, 5.0, 0.0};
    EXPECT_NEAR(player.velocity.x, expected.x, 1e-12);
    EXPECT_NEAR(player.velocity.y, expected.y, 1e-12);
    EXPECT_NEAR(player.velocity.z, expected.z, 1e-12);
}

TEST_F(ApplicationTest, LightingProbeFreezesTheSimulationButNotTheSavedSettings) {
    std::ofstream(folder / "config.ini") << "rotation_multiplier=250\n";
    Application& a = start(L"--play --smoke --lighting-probe");
    EXPECT_TRUE(a.lightingProbe);
    a.freezeDayCycle(); // what the Earth's probe scene does to the day
    EXPECT_EQ(a.game.world.dayCycle.rate, 0.0);
    runPasses(500);
    EXPECT_EQ(a.game.time, 0.0);
    EXPECT_EQ(value("rotation_multiplier"), "0");
    EXPECT_NE(readText(folder / "config.ini").find("rotation_multiplier=250\n"), std::string::npos);
}

TEST_F(ApplicationTest, FailedScreenshotOrWorldMakesAFailedRun) {
    log.readable = false;
    Application& a = start(L"--smoke");
    runPasses(500);
    EXPECT_FALSE(a.unattendedPassed);
    EXPECT_EQ(report().size(), 15u);
    EXPECT_EQ(report().back(), "screenshot_failed=zarn-smoke.ppm");

    log.readable = true;
    Application& b = start(L"--smoke");
    b.worldLoadError = "地图包格式无效";
    runPasses(500);
    EXPECT_FALSE(b.unattendedPassed);
    EXPECT_EQ(report().back(), "world_load_failed=地图包格式无效");
}

TEST_F(ApplicationTest, StepsRunOnlyWhilePlayingAndActive) {
    Application& a = start(L"--play");
    runPasses(60);
    const double playing = a.game.time;
    EXPECT_NEAR(playing, 1.0, 1.5 / 120.0);
    // Losing the focus pauses, forgets held keys and frees the cursor.
    a.keyDown['W'] = 1;
    a.activate(false);
    EXPECT_EQ(a.ui.page, Page::Paused);
    EXPECT_EQ(a.keyDown['W'], 0);
    EXPECT_FALSE(a.mouseCaptured);
    runPasses(60);
    EXPECT_EQ(a.game.time, playing);
    EXPECT_EQ(a.accumulator.time, 0.0);
    // Coming back does not resume by itself.
    a.activate(true);
    runPasses(60);
    EXPECT_EQ(a.ui.page, Page::Paused);
    EXPECT_EQ(a.game.time, playing);
    a.enterPlay();
    EXPECT_TRUE(a.mouseCaptured);
    runPasses(60);
    EXPECT_NEAR(a.game.time, playing + 1.0, 1.5 / 120.0);
}

TEST_F(ApplicationTest, AWorldLoadedInAMessageDoesNotPlayItsLoadingTime) {
    Application& a = start(L"--play");
    runPasses(10);
    // A message handler starts the training ground and the load takes three seconds.
    a.startTrainingGround();
    now += 3.0;
    a.pass(now, false);
    EXPECT_EQ(a.game.time, 0.0);
    runPasses(1);
    EXPECT_NEAR(a.game.time, 2.0 / 120.0, 1e-9);
    // A short stall is made up in one pass.
    now += 0.2;
    a.pass(now, false);
    EXPECT_NEAR(a.game.time, 26.0 / 120.0, 1.5 / 120.0);
    // A one-second stall plays a quarter of a second and drops the rest: the game slows down
    // instead of freezing, and the next pass plays its own time only.
    now += 1.0;
    a.pass(now, false);
    EXPECT_NEAR(a.game.time, 56.0 / 120.0, 1.5 / 120.0);
    runPasses(1);
    EXPECT_NEAR(a.game.time, 58.0 / 120.0, 1.5 / 120.0);
}

TEST_F(ApplicationTest, MinimisedPassesDrawNothingAndCountNothing) {
    Application& a = start(L"--smoke");
    for (int i = 0; i < 300; ++i) {
        now += 1.0 / 60.0;
        a.pass(now, true);
    }
    EXPECT_EQ(a.frames, 0);
    EXPECT_TRUE(a.running);
    EXPECT_EQ(log.count("present"), 0u);
}

TEST_F(ApplicationTest, MouseTurnsTheViewOnlyInAttendedPlay) {
    Application& a = start();
    a.mouseLook(100, 0); // main menu, cursor free
    EXPECT_EQ(a.game.player.yaw, 0.0);
    a.enterPlay();
    a.mouseLook(100, -50);
    EXPECT_NEAR(a.game.player.yaw, 0.22, 1e-12);
    EXPECT_NEAR(a.game.player.pitch, 0.11, 1e-12);
    // Through the scope of the sniper rifle the view turns slower.
    a.game.weapon = 4;
    a.game.slots[4].scoped = true;
    a.mouseLook(100, 0);
    EXPECT_NEAR(a.game.player.yaw, 0.22 + 0.088, 1e-12);
    a.game.slots[4].scoped = false;
    // Not while dead, not with the cursor free, not in an unattended run.
    const double yaw = a.game.player.yaw;
    a.game.dead = true;
    a.mouseLook(100, 0);
    a.game.dead = false;
    a.setMouseCapture(false);
    a.mouseLook(100, 0);
    a.setMouseCapture(true);
    a.smokeFrames = 120;
    a.mouseLook(100, 0);
    EXPECT_EQ(a.game.player.yaw, yaw);
}

TEST_F(ApplicationTest, ShortClicksFireAtAnyFrameRate) {
    Application& a = start(L"--play");
    runPasses(30);
    const auto frames = [&](int perSecond, double seconds) {
        for (int i = 0; i < static_cast<int>(seconds * perSecond); ++i) {
            now += 1.0 / perSecond;
            a.pass(now, false);
        }
    };
    ASSERT_EQ(a.game.weapon, 2); // the automatic rifle
    const WeaponSlot& rifle = a.game.slots[2];
    // At 8 frames per second a click down and up between two frames fires once.
    std::int32_t shots = rifle.shots;
    a.buttonPressed(keyCode::leftButton);
    a.buttonReleased(keyCode::leftButton);
    frames(8, 0.5);
    EXPECT_EQ(rifle.shots, shots + 1);
    // Held for a second, it fires at its rate, as often at 8 frames per second as at 60.
    for (const int perSecond : {60, 8}) {
        shots = rifle.shots;
        a.buttonPressed(keyCode::leftButton);
        frames(perSecond, 1.0);
        a.buttonReleased(keyCode::leftButton);
        frames(perSecond, 0.25);
        EXPECT_EQ(rifle.shots, shots + 10) << perSecond;
    }
}

TEST_F(ApplicationTest, KeysRepeatsAndAltF4) {
    Application& a = start();
    const std::int32_t f3 = a.ui.binding(Action::PhysicsDebug);
    a.keyPressed(f3, false, false);
    EXPECT_TRUE(a.ui.physicsDebug);
    EXPECT_EQ(a.keyDown[static_cast<std::size_t>(f3)], 1);
    a.keyPressed(f3, false, true); // auto-repeat: the key stays held, the command does not run again
    EXPECT_TRUE(a.ui.physicsDebug);
    a.keyReleased(f3);
    EXPECT_EQ(a.keyDown[static_cast<std::size_t>(f3)], 0);
    a.keyPressed(0x1FF, false, false); // beyond the key table
    // F4 alone is a key like any other; with Alt it closes, saving the settings.
    a.keyPressed(keyCode::f4, false, false);
    EXPECT_TRUE(a.running);
    EXPECT_FALSE(std::filesystem::exists(folder / "config.ini"));
    a.keyPressed(keyCode::f4, true, false);
    EXPECT_FALSE(a.running);
    EXPECT_TRUE(std::filesystem::exists(folder / "config.ini"));
    // Closing the window does the same.
    Application& b = start();
    std::filesystem::remove(folder / "config.ini");
    b.closeRequested();
    EXPECT_FALSE(b.running);
    EXPECT_TRUE(std::filesystem::exists(folder / "config.ini"));
}

TEST_F(ApplicationTest, FullscreenToggleMovesTheCursorClip) {
    Application& a = start(L"--play");
    host.calls.clear();
    const std::int32_t f11 = a.ui.binding(Action::Fullscreen);
    a.keyPressed(f11, false, false);
    EXPECT_TRUE(a.ui.fullscreen);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"fullscreen", "release", "capture"}));
    a.keyReleased(f11);
    host.calls.clear();
    a.leavePlay(Page::Paused);
    host.calls.clear();
    a.keyPressed(f11, false, false); // on any page; without a captured cursor there is no clip to move
    EXPECT_FALSE(a.ui.fullscreen);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"windowed"}));
}

TEST_F(ApplicationTest, WindowSizeReachesTheRendererOnlyWhenReady) {
    Application& a = start();
    a.resized(1920, 1080, true);
    a.windowReady = false;
    a.resized(800, 600, false);
    EXPECT_EQ(log.count("resize 1920x1080") + log.count("resize 800x600"), 0u);
    a.windowReady = true;
    a.resized(1920, 1080, false);
    EXPECT_EQ(log.count("resize 1920x1080"), 1u);
    EXPECT_EQ(a.renderer.width, 1920);
}

TEST_F(ApplicationTest, MouseAndWheel) {
    Application& a = start();
    a.mouseMoved(200, 740, 2560, 1440);
    EXPECT_EQ(a.ui.mouseX, 100);
    EXPECT_EQ(a.ui.mouseY, 370);
    a.mouseMoved(-5, 10, 0, 0); // a client area of no size counts as one pixel
    EXPECT_EQ(a.ui.mouseX, -6400);
    // Menu clicks are no keys; buttons are keys in play.
    a.mouseMoved(200, 370, 1280, 720);
    a.buttonPressed(keyCode::leftButton);
    EXPECT_EQ(a.keyDown[keyCode::leftButton], 0);
    a.buttonPressed(keyCode::rightButton);
    EXPECT_EQ(a.keyDown[keyCode::rightButton], 0);
    a.enterPlay();
    a.buttonPressed(keyCode::leftButton);
    a.buttonPressed(keyCode::middleButton);
    EXPECT_EQ(a.keyDown[keyCode::leftButton], 1);
    EXPECT_EQ(a.keyDown[keyCode::middleButton], 1);
    a.buttonReleased(keyCode::leftButton);
    EXPECT_EQ(a.keyDown[keyCode::leftButton], 0);
    // The wheel cycles the unlocked weapons, only in play.
    a.game.level = 0;
    a.game.weapon = 2;
    a.wheelTurned(-120);
    EXPECT_EQ(a.game.weapon, 3);
    a.wheelTurned(-120);
    EXPECT_EQ(a.game.weapon, 0);
    a.wheelTurned(120);
    EXPECT_EQ(a.game.weapon, 3);
    a.leavePlay(Page::Paused);
    a.wheelTurned(120);
    EXPECT_EQ(a.game.weapon, 3);
}

TEST_F(ApplicationTest, SettingsPageTypingClicksAndBinding) {
    Application& a = start();
    a.ui.page = Page::Settings;
    a.ui.selectedRow = 3;
    for (char c : std::string("12a.5-x9999999999")) {
        a.charTyped(static_cast<unsigned char>(c));
    }
    EXPECT_EQ(a.ui.input, "12.599999999"); // digits and points only, at most twelve
    // A click on the value column selects its row and clears the input.
    a.mouseMoved(300, 250 + 2 * 48 + 5, 1280, 720);
    a.buttonPressed(keyCode::leftButton);
    EXPECT_EQ(a.ui.selectedRow, 2);
    EXPECT_EQ(a.ui.input, "");
    // The page switch shows the next seven bindings.
    a.mouseMoved(700, 560, 1280, 720);
    a.buttonPressed(keyCode::leftButton);
    EXPECT_EQ(a.ui.bindingPage, 1);
    EXPECT_EQ(a.ui.selectedRow, 12);
    // A click on a binding row waits for a key; typing does not reach the input meanwhile.
    a.mouseMoved(700, 250 + 40 * 2, 1280, 720);
    a.buttonPressed(keyCode::leftButton);
    EXPECT_TRUE(a.ui.awaitingKey);
    EXPECT_EQ(a.ui.selectedRow, 14); // row 5 + 9: Resupply
    a.charTyped('5');
    EXPECT_EQ(a.ui.input, "");
    // Enter cannot be bound, the right button can: Resupply takes it and Scope gets Resupply's E.
    a.keyPressed(keyCode::enter, false, false);
    EXPECT_TRUE(a.ui.awaitingKey);
    a.buttonPressed(keyCode::rightButton);
    EXPECT_FALSE(a.ui.awaitingKey);
    EXPECT_EQ(a.ui.binding(Action::Resupply), keyCode::rightButton);
    EXPECT_EQ(a.ui.binding(Action::Scope), 'E');
    EXPECT_NE(readText(folder / "config.ini").find("key_9=2\n"), std::string::npos);
    // Esc gives up waiting and changes nothing.
    a.buttonReleased(keyCode::rightButton);
    a.mouseMoved(700, 250, 1280, 720);
    a.buttonPressed(keyCode::leftButton);
    EXPECT_EQ(a.ui.selectedRow, 12); // Scope
    a.keyPressed(keyCode::escape, false, false);
    EXPECT_FALSE(a.ui.awaitingKey);
    EXPECT_EQ(a.ui.binding(Action::Scope), 'E');
}

} // namespace
} // namespace zarn
