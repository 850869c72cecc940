#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "app/Application.hpp"
#include "render/MenuLayout.hpp"
#include "render/RecordingBackend.hpp"
#include "support/Files.hpp"

namespace zarn {
namespace {

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

class MenusTest : public ::testing::Test {
  protected:
    std::filesystem::path folder;
    test::DeviceLog log;
    RecordingHost host;
    std::unique_ptr<Application> app;

    void SetUp() override { folder = test::scratchFolder("zarn-menus"); }

    void TearDown() override {
        app.reset();
        std::filesystem::remove_all(folder);
    }

    Application& start(const std::wstring& commandLine = L"") {
        app = std::make_unique<Application>(folder);
        test::attachRecorder(app->renderer, log);
        app->host = &host;
        const CommandLineOptions options = parseCommandLine(commandLine);
        app->applyEarlyOptions(options);
        app->windowReady = true;
        app->applyLateOptions(options);
        app->startLoop(0.0);
        return *app;
    }

    // A key pressed and let go, as the window reports it.
    void press(std::int32_t code) {
        app->keyPressed(code, false, false);
        app->keyReleased(code);
    }
    void type(const std::string& text) {
        for (const char c : text) {
            app->charTyped(static_cast<unsigned char>(c));
        }
    }
    void clickAt(std::int32_t x, std::int32_t y) {
        app->mouseMoved(x, y, 1280, 720);
        app->buttonPressed(keyCode::leftButton);
        app->buttonReleased(keyCode::leftButton);
    }
    // A click in the middle of a drawn menu button.
    void clickRow(const menuLayout::ButtonColumn& column, std::int32_t row) {
        clickAt(260, column.buttonTop(row) + menuLayout::buttonHeight / 2);
    }

    void installDistrict(const std::filesystem::path& base, bool withCatalogue = false) {
        const std::filesystem::path target = base / "Worlds" / "Lujiazui" / "Lujiazui.zarnmap";
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(ZARN_LUJIAZUI_MAP, target,
                                   std::filesystem::copy_options::overwrite_existing);
        if (withCatalogue) {
            const std::filesystem::path catalogue = base / "Worlds" / "Earth" / "ecosystem.zarneco";
            std::filesystem::create_directories(catalogue.parent_path());
            std::filesystem::copy_file(ZARN_ECOSYSTEM_CATALOGUE, catalogue,
                                       std::filesystem::copy_options::overwrite_existing);
        }
    }
};

TEST_F(MenusTest, EveryPageByKeysAndBack) {
    Application& a = start();
    ASSERT_EQ(a.ui.page, Page::MainMenu);
    press(keyCode::enter);
    EXPECT_EQ(a.ui.page, Page::WorldSelect);
    press(keyCode::escape);
    EXPECT_EQ(a.ui.page, Page::MainMenu);
    press(keyCode::enter);
    a.ui.caption = "地图包格式无效";
    a.game.time = 5.0;
    press('1');
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_TRUE(a.game.training);
    EXPECT_EQ(a.game.time, 0.0); // a new training ground
    EXPECT_TRUE(a.ui.caption.empty());
    EXPECT_TRUE(a.mouseCaptured);

    // Every change of page forgets the held keys and the trigger.
    a.keyDown['W'] = 1;
    a.game.triggerHeld = true;
    press(keyCode::escape);
    EXPECT_EQ(a.ui.page, Page::Paused);
    EXPECT_EQ(a.keyDown['W'], 0);
    EXPECT_FALSE(a.game.triggerHeld);
    EXPECT_FALSE(a.mouseCaptured);
    press(keyCode::enter);
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_TRUE(a.mouseCaptured);
    press(keyCode::escape);
    press(keyCode::escape);
    EXPECT_EQ(a.ui.page, Page::Playing);

    const std::int32_t armory = a.ui.binding(Action::Upgrade);
    press(armory);
    EXPECT_EQ(a.ui.page, Page::Armory);
    EXPECT_FALSE(a.mouseCaptured);
    press(keyCode::escape);
    EXPECT_EQ(a.ui.page, Page::Playing);
    press(armory);
    press(armory);
    EXPECT_EQ(a.ui.page, Page::Playing);

    // Settings from the pause panel return there; from the main menu, to the main menu.
    press(keyCode::escape);
    a.activateMenu(1);
    EXPECT_EQ(a.ui.page, Page::Settings);
    EXPECT_FALSE(std::filesystem::exists(folder / "config.ini"));
    press(keyCode::escape);
    EXPECT_EQ(a.ui.page, Page::Paused);
    EXPECT_FALSE(a.mouseCaptured);
    EXPECT_TRUE(std::filesystem::exists(folder / "config.ini")); // leaving the settings saves them
    a.activateMenu(2);
    EXPECT_EQ(a.ui.page, Page::MainMenu);
    a.activateMenu(1);
    EXPECT_EQ(a.ui.page, Page::Settings);
    press(keyCode::escape);
    EXPECT_EQ(a.ui.page, Page::MainMenu);

    // Settings opened in play (the settings return there) capture the mouse again on the way back.
    a.enterPlay();
    a.settingsReturn = Page::Playing;
    a.leavePlay(Page::Settings);
    press(keyCode::escape);
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_TRUE(a.mouseCaptured);

    a.leavePlay(Page::MainMenu);
    std::filesystem::remove(folder / "config.ini");
    press(keyCode::escape);
    EXPECT_FALSE(a.running);
    EXPECT_TRUE(std::filesystem::exists(folder / "config.ini"));
}

TEST_F(MenusTest, MenuRowsByClicks) {
    using namespace menuLayout;
    Application& a = start();
    clickRow(mainMenu, 0);
    EXPECT_EQ(a.ui.page, Page::WorldSelect);
    clickRow(worldSelect, 4);
    EXPECT_EQ(a.ui.page, Page::MainMenu);
    clickRow(mainMenu, 1);
    EXPECT_EQ(a.ui.page, Page::Settings);
    EXPECT_EQ(a.settingsReturn, Page::MainMenu);
    press(keyCode::escape);
    clickRow(mainMenu, 0);
    clickRow(worldSelect, 2); // the Earth is not there yet: nothing happens
    clickRow(worldSelect, 3);
    EXPECT_EQ(a.ui.page, Page::WorldSelect);
    clickRow(worldSelect, 0);
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_EQ(a.keyDown[keyCode::leftButton], 0); // a menu click is no key

    a.leavePlay(Page::Paused);
    clickAt(260, paused.buttonTop(3) + buttonHeight + 5); // below the last button, in its row
    EXPECT_FALSE(a.running);
    a.running = true;
    clickRow(paused, 1);
    EXPECT_EQ(a.ui.page, Page::Settings);
    EXPECT_EQ(a.settingsReturn, Page::Paused);
    press(keyCode::escape);
    clickRow(paused, 0);
    EXPECT_EQ(a.ui.page, Page::Playing);
    a.leavePlay(Page::Paused);
    clickRow(paused, 2);
    EXPECT_EQ(a.ui.page, Page::MainMenu);
    clickAt(260, mainMenu.bottom());             // below the menu
    clickAt(buttonRight, mainMenu.buttonTop(0)); // beside it
    EXPECT_EQ(a.ui.page, Page::MainMenu);
    clickRow(mainMenu, 2);
    EXPECT_FALSE(a.running);

    // Rows outside a page's range and pages without rows do nothing.
    Application& b = start();
    b.activateMenu(3);
    b.activateMenu(-1);
    EXPECT_EQ(b.ui.page, Page::MainMenu);
    b.leavePlay(Page::Armory);
    b.activateMenu(0);
    clickAt(400, 300);
    EXPECT_EQ(b.ui.page, Page::Armory);
    EXPECT_TRUE(b.running);
}

TEST_F(MenusTest, RebindingKeys) {
    Application& a = start();
    a.leavePlay(Page::Settings);
    for (int i = 0; i < 9; ++i) {
        press(keyCode::tab); // to row 9: Jump
    }
    EXPECT_EQ(a.ui.selectedRow, 9);
    EXPECT_EQ(a.ui.bindingPage, 0);
    press(keyCode::enter);
    ASSERT_TRUE(a.ui.awaitingKey);
    // Keys the menus need, and codes outside 1..254, are refused: the wait goes on.
    for (const std::int32_t refused : {keyCode::enter, keyCode::tab, keyCode::f4, 0, 255}) {
        a.key(refused);
        EXPECT_TRUE(a.ui.awaitingKey) << refused;
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "config.ini"));
    press('W');
    EXPECT_FALSE(a.ui.awaitingKey);
    EXPECT_EQ(a.ui.binding(Action::Jump), 'W');
    EXPECT_EQ(a.ui.binding(Action::Forward), ' '); // the two swap
    EXPECT_NE(readText(folder / "config.ini").find("key_0=32\nkey_1=83\nkey_2=65\nkey_3=68\nkey_4=87\n"),
              std::string::npos);
    // The binding keys are keys, not commands: F3 bound here does not toggle the physics lines.
    press(keyCode::enter);
    press(a.ui.binding(Action::PhysicsDebug));
    EXPECT_FALSE(a.ui.physicsDebug);
    EXPECT_EQ(a.ui.binding(Action::Jump), 0x72);
    // Esc gives up and changes nothing; the right button can be bound.
    press(keyCode::enter);
    press(keyCode::escape);
    EXPECT_FALSE(a.ui.awaitingKey);
    EXPECT_EQ(a.ui.page, Page::Settings);
    EXPECT_EQ(a.ui.binding(Action::Jump), 0x72);
    press(keyCode::enter);
    a.buttonPressed(keyCode::rightButton);
    a.buttonReleased(keyCode::rightButton);
    EXPECT_EQ(a.ui.binding(Action::Jump), keyCode::rightButton);
    EXPECT_EQ(a.ui.binding(Action::Scope), 0x72);
    // No two actions ever share a code.
    for (std::size_t i = 0; i < a.ui.bindings.size(); ++i) {
        for (std::size_t j = i + 1; j < a.ui.bindings.size(); ++j) {
            EXPECT_NE(a.ui.bindings[i], a.ui.bindings[j]) << i << " and " << j;
        }
    }
    // Rows from 5 on wait for a key on Enter; Backspace still edits the input there.
    a.ui.selectedRow = 25;
    a.ui.input = "12";
    press(keyCode::backspace);
    EXPECT_EQ(a.ui.input, "1");
    press(keyCode::enter);
    EXPECT_TRUE(a.ui.awaitingKey);
    press('Z');
    EXPECT_EQ(a.ui.binding(Action::RocketLauncher), 'Z');
}

TEST_F(MenusTest, TabWalksTheRowsAndTheBindingPages) {
    Application& a = start();
    a.leavePlay(Page::Settings);
    a.ui.selectedRow = 11;
    a.ui.input = "3";
    press(keyCode::tab);
    EXPECT_EQ(a.ui.selectedRow, 12);
    EXPECT_EQ(a.ui.bindingPage, 1);
    EXPECT_EQ(a.ui.input, "");
    a.ui.selectedRow = 25;
    press(keyCode::tab);
    EXPECT_EQ(a.ui.selectedRow, 0);
    EXPECT_EQ(a.ui.bindingPage, 0);
    // Any other key puts the binding page back to the selected row's page.
    a.ui.selectedRow = 20;
    a.ui.bindingPage = 0;
    press('Q');
    EXPECT_EQ(a.ui.bindingPage, 2);
}

TEST_F(MenusTest, SettingsEditsAreClampedAndSaved) {
    Application& a = start();
    a.leavePlay(Page::Settings);
    const auto enterTyped = [&](std::int32_t row, const std::string& text) {
        a.ui.selectedRow = row;
        type(text);
        press(keyCode::enter);
    };

    enterTyped(3, "12.5");
    EXPECT_EQ(a.ui.volume, 0.125);
    EXPECT_EQ(a.ui.input, "");
    EXPECT_NE(readText(folder / "config.ini").find("volume=0.125\n"), std::string::npos);
    enterTyped(3, "150");
    EXPECT_EQ(a.ui.volume, 1.0);
    enterTyped(3, "1.2.5"); // not a number: the input is emptied and the volume stays
    EXPECT_EQ(a.ui.volume, 1.0);
    EXPECT_EQ(a.ui.input, "");
    enterTyped(3, ".");
    EXPECT_EQ(a.ui.volume, 1.0);
    press(keyCode::enter); // nothing typed: nothing happens
    EXPECT_EQ(a.ui.volume, 1.0);

    enterTyped(2, "3");
    EXPECT_EQ(a.ui.sensitivity, 0.003);
    enterTyped(2, "0.1");
    EXPECT_EQ(a.ui.sensitivity, minSensitivity);
    enterTyped(0, "20000.9");
    EXPECT_EQ(a.game.world.physics.motionLimit, 20000u);
    enterTyped(0, "99999999");
    EXPECT_EQ(a.game.world.physics.motionLimit, 20000u);
    enterTyped(0, "300.7");
    EXPECT_EQ(a.game.world.physics.motionLimit, 300u);
    enterTyped(1, "2000000");
    EXPECT_EQ(a.game.impactMultiplier, maxImpactMultiplier);
    enterTyped(4, "0");
    EXPECT_EQ(a.game.world.dayCycle.rate, 0.0);
    const std::string saved = readText(folder / "config.ini");
    EXPECT_NE(saved.find("motion_limit=300\n"), std::string::npos);
    EXPECT_NE(saved.find("impact_multiplier=1e+06\n"), std::string::npos);
    EXPECT_NE(saved.find("rotation_multiplier=0\n"), std::string::npos);

    // Left and Right step within the range and save nothing.
    a.ui.selectedRow = 2;
    a.ui.sensitivity = 0.0058;
    for (int i = 0; i < 5; ++i) {
        press(keyCode::right);
    }
    EXPECT_EQ(a.ui.sensitivity, maxSensitivity);
    a.ui.selectedRow = 0;
    a.game.world.physics.motionLimit = 10;
    press(keyCode::left);
    EXPECT_EQ(a.game.world.physics.motionLimit, 0u);
    press(keyCode::left); // stays at 0, no wrap-around
    EXPECT_EQ(a.game.world.physics.motionLimit, 0u);
    press(keyCode::right);
    EXPECT_EQ(a.game.world.physics.motionLimit, 16u);
    a.ui.selectedRow = 4;
    press(keyCode::left);
    EXPECT_EQ(a.game.world.dayCycle.rate, 0.0);
    press(keyCode::right);
    EXPECT_EQ(a.game.world.dayCycle.rate, 1.0);
    a.ui.selectedRow = 1;
    press(keyCode::left);
    EXPECT_EQ(a.game.impactMultiplier, maxImpactMultiplier - 0.5);
    a.ui.selectedRow = 3;
    press(keyCode::left);
    EXPECT_EQ(a.ui.volume, 0.95);
    EXPECT_EQ(readText(folder / "config.ini"), saved);

    // An edit stops matter whose motion window has run out, so the new values act at once.
    Physics& physics = a.game.world.physics;
    physics.motionStopped = false;
    physics.motionUntil = physics.time - 1.0;
    press(keyCode::right);
    EXPECT_TRUE(physics.motionStopped);
}

TEST_F(MenusTest, ArmoryCommands) {
    Application& a = start(L"--play");
    a.game.training = false; // the training ground pays for nothing; the armory does here
    a.game.level = 0;
    a.game.points = 149.0;
    a.game.time = 10.0;
    const std::int32_t resupply = a.ui.binding(Action::Resupply);
    press(a.ui.binding(Action::Upgrade));
    ASSERT_EQ(a.ui.page, Page::Armory);
    a.game.slots[0].reserve = 0;
    press(resupply);
    EXPECT_EQ(a.game.points, 149.0);
    EXPECT_EQ(a.game.slots[0].reserve, 0);
    EXPECT_EQ(a.game.message, "贡献点不足");
    EXPECT_EQ(a.game.messageUntil, 14.0);
    a.game.points = 150.0;
    press(resupply);
    EXPECT_EQ(a.game.points, 0.0);
    EXPECT_EQ(a.game.slots[0].reserve, weapons[0].reserve);
    EXPECT_EQ(a.ui.page, Page::Armory);
    // Enter buys the next level.
    a.game.points = 500.0;
    press(keyCode::enter);
    EXPECT_EQ(a.game.level, 1);
    EXPECT_EQ(a.game.points, 0.0);
    press(a.ui.binding(Action::Upgrade));
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_TRUE(a.mouseCaptured);

    // The dead may open the armory and leave it, but buy nothing there: no resupply, no level.
    a.game.dead = true;
    a.game.health = 0.0;
    a.game.armour = 0.0;
    a.game.points = 3266.0;
    a.game.slots[0].reserve = 0;
    a.game.message = "已阵亡 / 按回车重新部署";
    press(a.ui.binding(Action::Upgrade));
    ASSERT_EQ(a.ui.page, Page::Armory);
    press(resupply);
    press(keyCode::enter);
    EXPECT_EQ(a.game.points, 3266.0);
    EXPECT_EQ(a.game.health, 0.0);
    EXPECT_EQ(a.game.armour, 0.0);
    EXPECT_EQ(a.game.level, 1);
    EXPECT_EQ(a.game.slots[0].reserve, 0);
    EXPECT_EQ(a.game.message, "已阵亡 / 按回车重新部署");
    EXPECT_TRUE(a.game.dead);
    press(keyCode::escape);
    EXPECT_EQ(a.ui.page, Page::Playing);
}

TEST_F(MenusTest, PlayCommands) {
    Application& a = start(L"--play");
    // Weapons by their keys.
    for (std::int32_t slot = 0; slot < weaponCount; ++slot) {
        press(a.ui.bindings[static_cast<std::size_t>(Action::Pistol) + static_cast<std::size_t>(slot)]);
        EXPECT_EQ(a.game.weapon, slot);
    }
    // The scope only on the sniper rifle.
    const std::int32_t scope = a.ui.binding(Action::Scope);
    a.buttonPressed(scope);
    a.buttonReleased(scope);
    EXPECT_FALSE(a.game.slots[4].scoped);
    press('5');
    a.buttonPressed(scope);
    a.buttonReleased(scope);
    EXPECT_TRUE(a.game.slots[4].scoped);
    a.buttonPressed(scope);
    EXPECT_FALSE(a.game.slots[4].scoped);
    // Enter respawns only the dead.
    a.game.health = 50.0;
    press(keyCode::enter);
    EXPECT_EQ(a.game.health, 50.0);
    EXPECT_EQ(a.ui.page, Page::Playing);
    a.game.dead = true;
    press(keyCode::enter);
    EXPECT_FALSE(a.game.dead);
    // The demolition charge goes off only on the training ground.
    const std::int32_t demolition = a.ui.binding(Action::Demolition);
    a.game.training = false;
    press(demolition);
    EXPECT_EQ(a.game.world.physics.fractureCount, 0u);
    EXPECT_EQ(a.game.world.physics.brokenBondCount, 0u);
    a.game.training = true;
    press(demolition);
    EXPECT_GT(a.game.world.physics.fractureCount + a.game.world.physics.brokenBondCount, 0u);
    // The physics lines and full screen answer on every page, in play too.
    press(a.ui.binding(Action::PhysicsDebug));
    EXPECT_TRUE(a.ui.physicsDebug);
    EXPECT_EQ(a.ui.page, Page::Playing);
}

TEST_F(MenusTest, MissingDistrictChangesNothingButTheCaption) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder); // nothing under the current directory either
    Application& a = start();
    a.leavePlay(Page::WorldSelect);
    a.game.time = 3.5;
    a.game.points = 77.0;
    const std::size_t pieces = a.game.world.physics.pieces.size();
    press('2');
    std::filesystem::current_path(before);
    EXPECT_EQ(a.ui.caption, "地图包格式无效");
    EXPECT_EQ(a.ui.page, Page::WorldSelect);
    EXPECT_FALSE(a.mouseCaptured);
    EXPECT_EQ(a.game.world.id, "training");
    EXPECT_EQ(a.game.time, 3.5);
    EXPECT_EQ(a.game.points, 77.0);
    EXPECT_EQ(a.game.world.physics.pieces.size(), pieces);
    EXPECT_FALSE(a.clockRestart);

    // An unattended run asked for the district fails with the loader's message.
    std::filesystem::current_path(folder);
    Application& b = start(L"--lujiazui --smoke");
    std::filesystem::current_path(before);
    EXPECT_EQ(b.worldLoadError, "地图包格式无效");
    EXPECT_EQ(b.ui.page, Page::MainMenu);
    EXPECT_EQ(b.game.world.id, "training");
}

TEST_F(MenusTest, DistrictStartsWithItsEnemiesOnTheGrid) {
    installDistrict(folder);
    Application& a = start();
    a.game.impactMultiplier = 7.5;
    a.game.world.physics.motionLimit = 900;
    a.game.world.dayCycle.rate = 3.0;
    a.ui.caption = "旧的消息";
    a.leavePlay(Page::WorldSelect);
    press('2');
    ASSERT_EQ(a.ui.caption, "");
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_TRUE(a.mouseCaptured);
    EXPECT_TRUE(a.clockRestart);
    const Game& game = a.game;
    EXPECT_EQ(game.world.id, "lujiazui");
    EXPECT_EQ(game.world.buildings.size(), 43u);
    EXPECT_FALSE(game.training);
    EXPECT_EQ(game.impactMultiplier, 7.5);
    EXPECT_EQ(game.world.physics.motionLimit, 900u);
    EXPECT_EQ(game.world.dayCycle.rate, 3.0);
    EXPECT_EQ(game.messageUntil, 0.0);
    EXPECT_EQ(game.player.position, game.world.spawnPoint);

    const Vec3 spawn = game.world.spawnPoint;
    ASSERT_EQ(game.enemies.size(), 80u);
    std::size_t grounded = 0;
    for (const Enemy& enemy : game.enemies) {
        const double x = spawn.x + (enemy.id % 10 - 5) * 70.0;
        const double z = spawn.z + (enemy.id / 10 - 4) * 70.0;
        EXPECT_EQ(enemy.position.x, x) << enemy.id;
        EXPECT_EQ(enemy.position.z, z) << enemy.id;
        EXPECT_EQ(enemy.home, enemy.position);
        const MatterHit ground = game.world.traceLine({x, spawn.y + 900.0, z}, {0.0, -1.0, 0.0}, 1000.0);
        EXPECT_EQ(enemy.position.y, ground.hit ? ground.point.y : spawn.y) << enemy.id;
        grounded += ground.hit ? 1 : 0;
    }
    EXPECT_GT(grounded, 40u); // most of the grid lies on the district's ground or roofs
    EXPECT_EQ(game.enemies[45].position.x, spawn.x);
    EXPECT_EQ(game.enemies[45].position.z, spawn.z);
    EXPECT_EQ(game.enemies[0].position.x, spawn.x - 350.0);
    EXPECT_EQ(game.enemies[0].position.z, spawn.z - 280.0);

    // The first pass after the load plays none of the loading time.
    a.pass(30.0, false);
    EXPECT_EQ(a.game.time, 0.0);
}

TEST_F(MenusTest, DistrictFromTheCurrentDirectoryAndUnattended) {
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path elsewhere = folder / "elsewhere";
    installDistrict(elsewhere);
    std::filesystem::current_path(elsewhere);
    Application& a = start(L"--lujiazui --smoke");
    std::filesystem::current_path(before);
    EXPECT_TRUE(a.worldLoadError.empty());
    EXPECT_EQ(a.game.world.id, "lujiazui");
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_EQ(a.game.player.position, (Vec3{-850.0, 260.0, -100.0}));
    EXPECT_EQ(a.game.player.yaw, 1.3);
    EXPECT_EQ(a.game.player.pitch, 0.2);
    EXPECT_EQ(a.smokeReport(true).buildings, 43u);
    // Attended, the player starts at the spawn point.
    std::filesystem::current_path(elsewhere);
    Application& b = start(L"--lujiazui");
    std::filesystem::current_path(before);
    EXPECT_EQ(b.game.player.position, b.game.world.spawnPoint);
}

// The Earth by key and by row: without its catalogue nothing changes but the caption; with it the
// world starts without enemies at level 4 with 100,000 points, the settings typed before in force.
TEST_F(MenusTest, EarthStartsAsAnExplorerWithTheSettingsInForce) {
    installDistrict(folder);
    Application& a = start();
    a.leavePlay(Page::WorldSelect);
    press('3');
    EXPECT_NE(a.ui.caption.find("生态图鉴缺失或格式无效"), std::string::npos) << a.ui.caption;
    EXPECT_EQ(a.ui.page, Page::WorldSelect);
    EXPECT_EQ(a.game.world.id, "training");

    installDistrict(folder, true);
    for (const bool byKey : {true, false}) {
        a.leavePlay(Page::WorldSelect);
        a.game.impactMultiplier = 6.5;
        a.game.world.dayCycle.rate = 120.0;
        a.game.world.physics.motionLimit = 640;
        byKey ? press('3') : a.activateMenu(2);
        ASSERT_EQ(a.ui.caption, "");
        const Game& game = a.game;
        EXPECT_EQ(a.ui.page, Page::Playing);
        EXPECT_EQ(game.world.id, "earth");
        EXPECT_TRUE(game.enemies.empty());
        EXPECT_TRUE(game.training);
        EXPECT_EQ(game.level, 4);
        EXPECT_EQ(game.points, 100000.0);
        EXPECT_EQ(game.impactMultiplier, 6.5);
        EXPECT_EQ(game.world.dayCycle.rate, 120.0);
        EXPECT_EQ(game.world.physics.motionLimit, 640u);
        EXPECT_EQ(game.message, "地球 / 陆家嘴出发 / 周围世界按需生成");
        EXPECT_EQ(game.messageUntil, game.time + 4.0); // shown for 4 s of game time
        std::string refusal;
        EXPECT_FALSE(game.save((folder / "city.sav").string(), refusal));
        EXPECT_EQ(refusal, "测试场景不会覆盖城市存档");
    }
}

// The Earth's unattended options: placements, the time of day (dusk wins over night) and the lighting
// probe's two cubes; none of them acts without a frame limit or outside the Earth world.
TEST_F(MenusTest, EarthOptionsPlaceThePlayerAndSetTheDay) {
    installDistrict(folder, true);
    const double spawn = std::nan(""); // x: where the world starts the player; y: on the ground
    const struct {
        const wchar_t* line;
        double phase;
        Vec3 position;
        double pitch;
    } cases[] = {
        {L"--earth --smoke --night --dusk", 0.25, {spawn, 0.0, 0.0}, 0.0},
        {L"--earth --smoke --night", 0.5, {spawn, 0.0, 0.0}, 0.0},
        {L"--earth --night --dusk --orbit", 0.0, {spawn, 0.0, 0.0}, 0.0},
        {L"--smoke --night --dusk --orbit", 0.0, {spawn, 0.0, 0.0}, 0.0},
        {L"--earth --smoke --orbit", 0.0, {0.0, 14000000.0, 0.0}, -1.55},
        {L"--earth --smoke --outskirts", 0.0, {5000.0, spawn, 0.0}, -0.1},
        {L"--earth --lighting-probe --smoke --dusk", 0.25, {}, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::filesystem::path(c.line).string());
        Application& a = start(c.line);
        const World& world = a.game.world;
        EXPECT_EQ(world.dayCycle.phase, c.phase);
        Vec3 expected = std::isnan(c.position.x) ? world.spawnPoint : c.position;
        if (std::isnan(expected.y)) {
            expected.y = world.earth->model.surface(5000.0, 0.0, false) + 1.0;
        }
        EXPECT_EQ(a.game.player.position, expected);
        EXPECT_EQ(a.game.player.pitch, c.pitch);
        const SmokeReport report = a.smokeReport(true);
        EXPECT_EQ(report.rotationPhase, c.phase);
        // Up points away from the planet's centre whatever the hour: straight up at the district,
        // within a thousandth of a radian 5 km out.
        EXPECT_EQ(report.up, world.gravityUp());
        EXPECT_NEAR(report.up.y, 1.0, 1e-6);
        const bool probe = a.lightingProbe && world.earth;
        EXPECT_EQ(world.physics.pieces.size() == 2u, probe);
        if (probe) { // the cubes stand upright on the ground beside the player's start
            for (const MatterPiece& cube : world.physics.pieces) {
                EXPECT_EQ(std::abs(cube.body.center.x), 2.0);
                EXPECT_EQ(cube.body.center.y, 2.0);
                EXPECT_EQ(cube.body.orientation, Quaternion{});
            }
        }
        EXPECT_EQ(world.dayCycle.rate == 0.0, probe);
    }
}

TEST_F(MenusTest, StarWorldAndItsUnattendedPlacements) {
    installDistrict(folder);
    Application& a = start(L"--stars");
    ASSERT_TRUE(a.worldLoadError.empty()) << a.worldLoadError;
    const Game& game = a.game;
    EXPECT_EQ(a.ui.page, Page::Playing);
    EXPECT_TRUE(game.world.id == "stars" && game.enemies.empty() && game.training);
    EXPECT_EQ(game.level * 1e6 + game.points, 4e6 + 1e5);
    EXPECT_EQ(game.message, "群星 / 每次间隔 ≤1 秒连按前进 4 次跃迁；其他按键重置");
    EXPECT_EQ(game.messageUntil, game.time + 4.0);
    // In play the forward key taps; the wheel and every other key, a mouse button too, reset.
    const std::int32_t forward = a.ui.binding(Action::Forward);
    for (const auto& [action, taps] : std::vector<std::pair<std::function<void()>, std::int32_t>>{
             {[&] { press(forward); }, 1},
             {[&] { press(forward); }, 2},
             {[&] { a.wheelTurned(120); }, 0},
             {[&] { press(forward); }, 1},
             {[&] { a.buttonPressed(keyCode::leftButton); }, 0}}) {
        action();
        EXPECT_EQ(game.warpTaps, taps);
    }

    // The placements act only in an unattended run of the star world.
    struct Case {
        const wchar_t* line;
        const char* world;
        int frame;
        Vec3 position; // (0, 0, 0): the spawn point
        double pitch;
    };
    const Case cases[] = {
        {L"--smoke --moon", "training", 3, {}, 0.0},
        {L"--stars --moon", "stars", 3, {}, 0.0},
        {L"--stars --smoke --moon", "stars", 9, {0.0, 80.0, 0.0}, -0.08},
        {L"--stars --smoke --space", "stars", 3, {0.0, 30000000.0, 0.0}, -0.4},
    };
    for (const Case& c : cases) {
        Application& b = start(c.line);
        const Game& placed = b.game;
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(placed.world.id, c.world);
        const Vec3 expected = c.position == Vec3{} ? placed.world.spawnPoint : c.position;
        EXPECT_LT(length(placed.player.position - expected), 1e-6);
        EXPECT_EQ(placed.player.pitch, c.pitch);
        EXPECT_EQ(placed.world.stars ? placed.world.stars->frameBody : 3, c.frame);
        EXPECT_EQ(placed.world.earth.has_value(), c.frame == 3 && placed.world.stars);
    }
    Application& w = start(L"--stars --smoke --warp"); // four taps from 30,000 km up
    EXPECT_EQ(w.game.message, "前进四 / 4 连按 / 最大 1 光年");
    EXPECT_FALSE(w.game.world.earth);
}

} // namespace
} // namespace zarn
