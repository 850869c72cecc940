#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Controls.hpp"
#include "render/FakeWorlds.hpp"
#include "render/HudPages.hpp"
#include "render/MenuLayout.hpp"
#include "render/RecordingBackend.hpp"
#include "render/RecordingCanvas.hpp"
#include "render/UiState.hpp"
#include "world/Game.hpp"

namespace zarn {
namespace {

using test::CanvasCall;

class HudTest : public ::testing::Test {
  protected:
    static Game* city;     // built once: the demolition city
    static Game* training; // and the training ground

    static void SetUpTestSuite() {
        city = new Game();
        training = new Game();
        training->reset(true);
    }
    static void TearDownTestSuite() {
        delete city;
        delete training;
        city = training = nullptr;
    }

    test::DeviceLog device;
    test::CanvasLog canvas;
    Renderer renderer;
    UiState ui;

    void SetUp() override {
        test::attachRecorder(renderer, device);
        test::attachCanvas(renderer, canvas);
        ui.mouseX = -1; // nothing hovered
        ui.mouseY = -1;
    }

    void draw(const Game& game) { renderer.drawHud(game, ui); }

    // Expects the text call at (x, y) to hold exactly this text in this font and colour.
    void expectText(std::int32_t x, std::int32_t y, const std::string& text, std::int32_t font,
                    std::uint32_t colour) const {
        const CanvasCall call = canvas.textAt(x, y);
        EXPECT_EQ(call.text, text) << "at (" << x << ", " << y << ")";
        EXPECT_EQ(call.font, font) << text;
        EXPECT_EQ(call.colour, colour) << text;
    }
};

Game* HudTest::city = nullptr;
Game* HudTest::training = nullptr;

TEST_F(HudTest, MainMenuAndWorldSelection) {
    ui.page = Page::MainMenu;
    ui.fps = 59.6;
    draw(*city);
    const std::vector<CanvasCall>& calls = canvas.calls;
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_TRUE(canvas.hasRect(60, 116, 422, 539, hudColor::panel));
    EXPECT_TRUE(canvas.hasRect(80, 144, 42, 4, hudColor::accent));
    expectText(80, 167, "苍曦", 5, hudColor::bright);
    const std::vector<std::string> labels{"进入游戏", "设置", "退出"};
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const std::int32_t y = 349 + 49 * static_cast<std::int32_t>(i);
        EXPECT_TRUE(canvas.hasRect(80, y, 360, 40, hudColor::buttonIdle)) << y;
        expectText(100, y + 10, labels[i], 1, hudColor::buttonText);
    }
    expectText(1172, 699, "60 帧/秒", 0, hudColor::dim);
    EXPECT_EQ(canvas.clears, 1u);
    EXPECT_EQ(device.count("hud"), 1u);
    ASSERT_EQ(device.hud.size(), 1280u * 720u);

    // The hovered button is lit and barred; the mouse two pixels below a button still lights it.
    ui.mouseX = 439;
    ui.mouseY = 398 + 41;
    draw(*city);
    EXPECT_TRUE(canvas.hasRect(80, 398, 360, 40, hudColor::buttonHover));
    EXPECT_TRUE(canvas.hasRect(80, 398, 3, 40, hudColor::buttonBar));
    EXPECT_TRUE(canvas.hasRect(80, 349, 360, 40, hudColor::buttonIdle));
    ui.mouseY = 398 + 42;
    draw(*city);
    EXPECT_FALSE(canvas.hasRect(80, 398, 360, 40, hudColor::buttonHover));

    ui.page = Page::WorldSelect;
    ui.mouseX = -1;
    draw(*city);
    expectText(84, 298, "选择地图 / 每次进入都是新地图", 1, hudColor::accent);
    const std::vector<std::string> worlds{"1 / 训练场", "2 / 陆家嘴", "3 / 地球", "4 / 群星 · V2.0", "返回"};
    for (std::size_t i = 0; i < worlds.size(); ++i) {
        expectText(100, 359 + 49 * static_cast<std::int32_t>(i), worlds[i], 1, hudColor::buttonText);
    }
    // A failed load's caption shows off the playing page only.
    ui.caption = "地图包格式无效";
    draw(*city);
    expectText(35, 699, "地图包格式无效", 0, hudColor::accent);
    ui.page = Page::Playing;
    draw(*city);
    EXPECT_EQ(canvas.text("地图包格式无效").font, -1);
}

// Every pixel of every drawn button, and every mouse position that lights one, selects that
// button's row when clicked; the settings page's rows likewise.
TEST_F(HudTest, ClicksSelectTheRowsDrawnThere) {
    for (const Page page : {Page::MainMenu, Page::WorldSelect, Page::Paused}) {
        ui.page = page;
        ui.mouseX = ui.mouseY = -1;
        draw(*training);
        std::vector<CanvasCall> buttons;
        for (const CanvasCall& call : canvas.of(CanvasCall::Kind::rect)) {
            if (call.w == 360 && call.h == 40) {
                buttons.push_back(call);
            }
        }
        ASSERT_EQ(buttons.size(), page == Page::MainMenu ? 3u : page == Page::WorldSelect ? 5u : 4u);
        for (std::size_t row = 0; row < buttons.size(); ++row) {
            const CanvasCall& button = buttons[row];
            for (std::int32_t y = button.y; y < button.y + button.h; ++y) {
                for (std::int32_t x = button.x; x < button.x + button.w; ++x) {
                    ASSERT_EQ(menuRowAt(page, x, y), static_cast<std::int32_t>(row)) << x << ", " << y;
                }
            }
            // Left of, right of and above the column nothing is hit.
            EXPECT_EQ(menuRowAt(page, button.x - 1, button.y), -1);
            EXPECT_EQ(menuRowAt(page, button.x + button.w, button.y), -1);
        }
        EXPECT_EQ(menuRowAt(page, 200, buttons.front().y - 1), -1);
        // Wherever the mouse lights a button, a click there selects it.
        for (std::int32_t y = buttons.front().y; y < buttons.back().y + 60; ++y) {
            ui.mouseX = 200;
            ui.mouseY = y;
            draw(*training);
            for (std::size_t row = 0; row < buttons.size(); ++row) {
                if (canvas.hasRect(80, buttons[row].y, 360, 40, hudColor::buttonHover)) {
                    ASSERT_EQ(menuRowAt(page, 200, y), static_cast<std::int32_t>(row)) << "y " << y;
                }
            }
        }
    }

    ui.page = Page::Settings;
    draw(*training);
    using namespace menuLayout;
    for (std::int32_t row = 0; row < 5; ++row) {
        const CanvasCall line = canvas.textAt(80, 250 + 48 * row);
        ASSERT_EQ(line.font, 1);
        for (std::int32_t y = line.y; y < line.y + hudFonts[1].height; ++y) {
            EXPECT_EQ(valueRowAt(line.x, y), row);
            EXPECT_EQ(valueRowAt(500, y), row);
        }
    }
    for (std::int32_t row = 0; row < 7; ++row) {
        const CanvasCall label = canvas.textAt(660, 250 + 40 * row);
        const CanvasCall key = canvas.textAt(1030, 250 + 40 * row);
        ASSERT_EQ(label.font, 0);
        ASSERT_EQ(key.font, 0);
        for (std::int32_t y = label.y; y < label.y + hudFonts[0].height; ++y) {
            EXPECT_EQ(bindingRowAt(label.x, y), row);
            EXPECT_EQ(bindingRowAt(key.x + 60, y), row);
        }
    }
    const CanvasCall pageLine = canvas.textAt(660, 549);
    ASSERT_EQ(pageLine.font, 1);
    for (std::int32_t y = pageLine.y; y < pageLine.y + hudFonts[1].height; ++y) {
        EXPECT_TRUE(onPageSwitch(pageLine.x, y));
    }
    EXPECT_FALSE(onPageSwitch(659, 560));
    EXPECT_EQ(valueRowAt(80, 490), -1); // the input line is no row
    EXPECT_EQ(bindingRowAt(660, 530), -1);
}

TEST_F(HudTest, InGameHudForAKnownState) {
    Game game = *training;
    game.points = 1234.4;
    game.combo = 1.35;
    game.level = 2;
    game.kills = 7;
    game.health = 29.6; // shows as 30, yet in the warning colour
    game.armour = 80.0;
    game.weapon = 2;
    game.slots[2].magazine = 12;
    game.slots[2].reserve = 150;
    game.slots[2].reloadUntil = 3.5;
    game.slots[2].recoil = 0.0123; // spreads the crosshair by 2 pixels
    game.message = "已获得补给";
    game.messageUntil = game.time + 1.0;
    game.player.position = {0.0, 1.234, -480.0};
    game.player.velocity = {3.0, -4.0, 0.0};
    game.world.physics.fractureCount = 100; // a loss of exactly one million
    ui.page = Page::Playing;
    ui.fps = 144.4;
    draw(game);

    EXPECT_TRUE(canvas.hasRect(35, 68, 326, 69, hudColor::panel));
    expectText(49, 79, "贡献点", 0, hudColor::dim);
    expectText(49, 100, "1234", 2, hudColor::accent);
    expectText(226, 103, "连击 1.35  级 2", 1, hudColor::accent);
    expectText(37, 147, "游戏估算损失　¥ 1.00 百万", 0, hudColor::bright);
    expectText(37, 168, "区域破坏率 0.0%  /  击败敌人 7", 0, hudColor::dim);
    expectText(36, 570, "已获得补给", 1, hudColor::accent);
    expectText(370, 615, "速度 5.0 / 水平 3.0 / 垂直 -4.0 米/秒", 0, hudColor::accent);
    expectText(370, 642, "手感测试 / 高度 1.23 米", 0, hudColor::accent);
    EXPECT_TRUE(canvas.hasRect(35, 618, 311, 72, hudColor::panel));
    expectText(48, 628, "生命", 0, hudColor::dim);
    expectText(48, 649, "30", 3, hudColor::warning);
    expectText(186, 628, "护甲", 0, hudColor::dim);
    expectText(186, 649, "80", 3, hudColor::accent);
    EXPECT_TRUE(canvas.hasRect(953, 618, 292, 72, hudColor::panel));
    expectText(970, 627, "突击步枪 / 7.62毫米", 0, hudColor::dim);
    expectText(970, 649, "12", 3, hudColor::accent);
    expectText(1051, 660, "/ 150", 2, hudColor::dim);
    expectText(1154, 659, "换弹中", 0, hudColor::accent);
    expectText(372, 675, "滚轮切枪 / Esc 菜单 / 操作键位见设置", 0, hudColor::dim);
    EXPECT_TRUE(canvas.hasRect(625, 360, 8, 1, hudColor::accent));
    EXPECT_TRUE(canvas.hasRect(647, 360, 8, 1, hudColor::accent));
    EXPECT_TRUE(canvas.hasRect(640, 345, 1, 8, hudColor::accent));
    EXPECT_TRUE(canvas.hasRect(640, 367, 1, 8, hudColor::accent));
    expectText(1172, 699, "144 帧/秒", 0, hudColor::dim);
    EXPECT_EQ(canvas.text("X").font, -1); // no hit marker
    EXPECT_TRUE(canvas.of(CanvasCall::Kind::line).empty());

    // Rising, healthy, no message, no reload, losses in the billions and below a million.
    game.player.velocity = {0.0, 2.26, 0.0};
    game.health = 30.0;
    game.messageUntil = game.time;
    game.slots[2].reloadUntil = 0.0;
    game.world.physics.fractureCount = 100000;
    draw(game);
    expectText(370, 615, "速度 2.3 / 水平 0.0 / 垂直 +2.3 米/秒", 0, hudColor::accent);
    expectText(48, 649, "30", 3, hudColor::accent);
    expectText(37, 147, "游戏估算损失　¥ 1.00 十亿", 0, hudColor::bright);
    EXPECT_EQ(canvas.text("已获得补给").font, -1);
    EXPECT_EQ(canvas.text("换弹中").font, -1);
    game.world.physics.fractureCount = 99;
    draw(game);
    expectText(37, 147, "游戏估算损失　¥ 990000", 0, hudColor::bright);

    // The city has no place line.
    Game street = *city;
    draw(street);
    EXPECT_EQ(canvas.textAt(370, 642).font, -1);
}

TEST_F(HudTest, ScopeMarksEffectsAndDeath) {
    Game game = *training;
    game.weapon = 4;
    game.slots[4].scoped = true;
    game.hitMarker = 0.1;
    game.hurtFlash = 0.2;
    game.dead = true;
    ui.page = Page::Playing;
    draw(game);
    for (const CanvasCall& call : canvas.of(CanvasCall::Kind::rect)) {
        EXPECT_FALSE(call.colour == hudColor::accent && (call.w == 8 || call.h == 8)) << "crosshair drawn";
    }
    EXPECT_TRUE(canvas.hasRect(0, 360, 1280, 1, hudColor::dim));
    EXPECT_TRUE(canvas.hasRect(640, 0, 1, 720, hudColor::dim));
    EXPECT_TRUE(canvas.hasRect(0, 0, 200, 720, hudColor::scopeBlack));
    EXPECT_TRUE(canvas.hasRect(1080, 0, 200, 720, hudColor::scopeBlack));
    expectText(660, 375, "四倍镜", 0, hudColor::accent);
    expectText(630, 347, "X", 2, hudColor::bright);
    EXPECT_TRUE(canvas.hasRect(0, 0, 1280, 5, hudColor::hurt));
    EXPECT_TRUE(canvas.hasRect(0, 715, 1280, 5, hudColor::hurt));
    EXPECT_TRUE(canvas.hasRect(420, 285, 440, 116, hudColor::panel));
    expectText(455, 300, "行动员阵亡", 3, hudColor::accent);
    expectText(455, 354, "回车重新部署 / 城市破坏保留", 0, hudColor::bright);
    // The scope's side bars stay opaque: nearly black is not transparent black.
    ASSERT_EQ(device.hud.size(), 1280u * 720u);
    EXPECT_EQ(device.hud[300u * 1280u + 100u], 0xFF010101u);
    EXPECT_EQ(device.hud[300u * 1280u + 1200u], 0xFF010101u);
    EXPECT_EQ(device.hud[100u * 1280u + 400u], 0u); // nothing drawn: the view shows through
}

TEST_F(HudTest, PauseAndArmoryPanelsOverTheHud) {
    Game game = *training;
    ui.page = Page::Paused;
    draw(game);
    EXPECT_EQ(canvas.textAt(49, 79).text, "贡献点"); // the HUD underneath
    EXPECT_TRUE(canvas.hasRect(60, 175, 422, 455, hudColor::panel));
    expectText(80, 195, "已暂停", 4, hudColor::bright);
    const std::vector<std::string> labels{"返回游戏", "设置", "返回主菜单", "退出游戏"};
    for (std::size_t i = 0; i < labels.size(); ++i) {
        expectText(100, 285 + 49 * static_cast<std::int32_t>(i), labels[i], 1, hudColor::buttonText);
    }

    game.level = 2;
    game.points = 3399.6;
    ui.page = Page::Armory;
    draw(game);
    EXPECT_TRUE(canvas.hasRect(330, 173, 625, 403, hudColor::panel));
    EXPECT_TRUE(canvas.hasRect(330, 173, 4, 403, hudColor::accent));
    expectText(359, 198, "装备 / 火力等级 2", 3, hudColor::bright);
    expectText(359, 251, "可用贡献点　3400", 1, hudColor::accent);
    expectText(359, 301, "一级　重火力 / 狙击步枪、机枪与护甲", 0, hudColor::dim);
    expectText(829, 301, "已拥有", 0, hudColor::accent);
    expectText(359, 338, "二级　爆破 / 火箭筒与爆炸抗性", 0, hudColor::dim);
    expectText(829, 338, "已拥有", 0, hudColor::accent);
    expectText(359, 375, "三级　反建筑 / 火箭结构伤害 ×2.15", 0, hudColor::bright);
    expectText(829, 375, "3400", 0, hudColor::accent);
    expectText(359, 412, "四级　超人火力 / 火箭结构伤害 ×3.30", 0, hudColor::bright);
    expectText(829, 412, "8000", 0, hudColor::accent);
    expectText(359, 481, "回车购买下一级　　E 补给（150 贡献）", 1, hudColor::accent);
    expectText(359, 526, "B 或退出键 / 返回战斗", 0, hudColor::dim);
}

// The prices the armory shows are the prices an upgrade charges.
TEST_F(HudTest, ArmoryPricesAreWhatAnUpgradeCosts) {
    Game game = *city;
    ui.page = Page::Armory;
    for (std::int32_t level = 0; level < Game::maxLevel; ++level) {
        game.level = level;
        draw(game);
        const double shown = std::stod(canvas.textAt(829, 301 + 37 * level).text);
        game.points = shown - 1.0;
        game.upgrade();
        EXPECT_EQ(game.level, level) << "bought below the shown price";
        game.points = shown;
        game.upgrade();
        EXPECT_EQ(game.level, level + 1);
        EXPECT_EQ(game.points, 0.0);
    }
}

TEST_F(HudTest, SettingsPage) {
    Game game = *training;
    game.world.physics.motionLimit = 1000;
    game.impactMultiplier = 4.5;
    game.world.dayCycle.rate = 2.0;
    ui.page = Page::Settings;
    ui.sensitivity = 0.0022;
    ui.volume = 0.35;
    ui.selectedRow = 3;
    ui.input = "12.5";
    draw(game);
    EXPECT_TRUE(canvas.hasRect(60, 160, 1160, 490, hudColor::panel));
    expectText(80, 183, "设置与操作", 4, hudColor::bright);
    expectText(80, 250, "  新增碎裂预算　1000", 1, hudColor::bright);
    expectText(80, 298, "  武器冲击倍率　4.50", 1, hudColor::bright);
    expectText(80, 346, "  鼠标灵敏度　2.20", 1, hudColor::bright);
    expectText(80, 394, "> 音效音量　35%", 1, hudColor::accent);
    expectText(80, 442, "  地球自转倍数　2.00", 1, hudColor::bright);
    expectText(80, 490, "输入：12.5_   回车应用 / 左右微调", 0, hudColor::accent);
    expectText(80, 522, "碎裂预算 0–20000；已激活碎块不会因预算暂停", 0, hudColor::dim);
    expectText(80, 554, "自转 1 倍 = 24 小时 / 0 暂停自转", 0, hudColor::bright);
    expectText(80, 586, "设置仅保存在游戏文件夹 / 不保存地图进度", 0, hudColor::dim);
    expectText(660, 250, "  前进", 0, hudColor::bright);
    expectText(1030, 250, "W", 0, hudColor::accent);
    expectText(660, 410, "  跳跃 / 空中连跳", 0, hudColor::bright);
    expectText(1030, 410, "Space", 0, hudColor::accent);
    expectText(660, 450, "  蹲伏", 0, hudColor::bright);
    expectText(1030, 450, "Ctrl", 0, hudColor::accent);
    expectText(1030, 490, "鼠标左键", 0, hudColor::accent);
    expectText(660, 549, "点击下一页  1/3", 1, hudColor::accent);
    expectText(660, 589, "点击键位 / 回车改键；重复键自动交换；Esc 取消", 0, hudColor::dim);
    expectText(80, 615, "鼠标瞄准 / 滚轮切枪 / Esc 暂停 / 回车购买或重新部署", 0, hudColor::dim);
    EXPECT_EQ(canvas.text("贡献点").font, -1); // drawn instead of the HUD

    // The second binding page with its selected row waiting for a key.
    ui.bindingPage = 1;
    ui.selectedRow = 5 + 9; // Resupply
    ui.awaitingKey = true;
    ui.bindings[11] = 0x7B; // PhysicsDebug
    ui.bindings[13] = 0x60; // Demolition
    draw(game);
    for (std::int32_t row = 0; row < 5; ++row) {
        EXPECT_EQ(canvas.textAt(80, 250 + 48 * row).text.substr(0, 2), "  ");
    }
    expectText(660, 250, "  开镜", 0, hudColor::bright);
    expectText(660, 330, "> 补给", 0, hudColor::bright);
    expectText(1030, 330, "按新键…", 0, hudColor::accent);
    expectText(1030, 410, "F12", 0, hudColor::accent);
    expectText(1030, 490, "Key 96", 0, hudColor::accent);
    expectText(660, 549, "点击下一页  2/3", 1, hudColor::accent);
}

TEST_F(HudTest, KeyNames) {
    EXPECT_EQ(hud::keyName(1), "鼠标左键");
    EXPECT_EQ(hud::keyName(2), "鼠标右键");
    EXPECT_EQ(hud::keyName(4), "鼠标中键");
    EXPECT_EQ(hud::keyName(3), "Key 3");
    EXPECT_EQ(hud::keyName(0x20), "Space");
    EXPECT_EQ(hud::keyName(0x10), "Shift");
    EXPECT_EQ(hud::keyName(0x11), "Ctrl");
    EXPECT_EQ(hud::keyName(0x12), "Alt");
    EXPECT_EQ(hud::keyName(0x70), "F1");
    EXPECT_EQ(hud::keyName(0x7B), "F12");
    EXPECT_EQ(hud::keyName(0x7C), "Key 124");
    EXPECT_EQ(hud::keyName(0x21), "PageUp");
    EXPECT_EQ(hud::keyName(0x28), "Down");
    EXPECT_EQ(hud::keyName(0x30), "0");
    EXPECT_EQ(hud::keyName(0x5A), "Z");
    EXPECT_EQ(hud::keyName(0x60), "Key 96");
    EXPECT_EQ(hud::keyName(254), "Key 254");
}

TEST_F(HudTest, NumbersInFixedNotation) {
    EXPECT_EQ(hud::number(29.6, 0), "30");
    EXPECT_EQ(hud::number(2.0, 2), "2.00");
    EXPECT_EQ(hud::number(-4.04, 1), "-4.0");
    EXPECT_EQ(hud::number(0.125 * 100.0, 0), "12"); // halves round to even
    EXPECT_EQ(hud::number(1e70, 1).size(), 73u);
}

TEST_F(HudTest, PhysicsLinesAndCaption) {
    Game game = *training;
    ui.page = Page::Playing;
    ui.physicsDebug = true;
    game.world.physics.fractureCount = 12;
    game.world.physics.motionLimit = 300;
    draw(game);
    expectText(372, 602, // clear of the speed line at y 615
               "物理：活动 0/300 / " + std::to_string(game.world.physics.aliveCount()) + "　断裂 12", 0,
               hudColor::accent);
    expectText(372, 627, "红色：线速度　蓝色：角速度　重力：9.80665 米/秒²", 0, hudColor::dim);
    ui.physicsDebug = false;
    draw(game);
    EXPECT_EQ(canvas.textAt(372, 602).font, -1);
}

TEST_F(HudTest, FlightPathMark) {
    Game game = *training;
    game.player.yaw = 0.0;
    game.player.pitch = 0.0;
    const Vec3 forward = game.aim();
    const Vec3 right = normalized(cross(Vec3{0.0, 1.0, 0.0}, forward));
    game.player.velocity = forward * 30.0;
    EXPECT_FALSE(hud::flightPathMark(game, 16.0 / 9.0, false).shown); // not in air mode
    game.player.airMode = true;
    hud::FlightMark mark = hud::flightPathMark(game, 16.0 / 9.0, false);
    EXPECT_TRUE(mark.shown);
    EXPECT_EQ(mark.x, 640);
    EXPECT_EQ(mark.y, 360);

    // Far to the right: on the right border, on the centre's level.
    game.player.velocity = forward + right * 100.0;
    mark = hud::flightPathMark(game, 16.0 / 9.0, false);
    EXPECT_EQ(mark.x, 640 + 626);
    EXPECT_EQ(mark.y, 360);
    // Backwards and to the left: pulled onto the left border, not mirrored.
    game.player.velocity = forward * -1.0 - right * 0.5;
    mark = hud::flightPathMark(game, 16.0 / 9.0, false);
    EXPECT_TRUE(mark.shown);
    EXPECT_EQ(mark.x, 640 - 626);
    // Straight backwards there is no direction to show; standing still neither.
    game.player.velocity = forward * -5.0;
    EXPECT_FALSE(hud::flightPathMark(game, 16.0 / 9.0, false).shown);
    game.player.velocity = {};
    EXPECT_FALSE(hud::flightPathMark(game, 16.0 / 9.0, false).shown);
    // Exactly sideways: on the border, whatever the aspect (even none).
    game.player.velocity = right;
    EXPECT_EQ(hud::flightPathMark(game, 0.0, false).x, 640 + 626);
    // Up a little: higher on the canvas the more the scope magnifies.
    game.player.velocity = forward + Vec3{0.0, 0.05, 0.0};
    const std::int32_t plain = hud::flightPathMark(game, 16.0 / 9.0, false).y;
    const std::int32_t scoped = hud::flightPathMark(game, 16.0 / 9.0, true).y;
    EXPECT_LT(plain, 360);
    EXPECT_LT(scoped, plain);

    // The cross: both strokes wide and dark, then both narrow and bright.
    game.player.velocity = forward * 30.0;
    ui.page = Page::Playing;
    draw(game);
    const std::vector<CanvasCall> lines = canvas.of(CanvasCall::Kind::line);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].pen, 4);
    EXPECT_EQ(lines[1].pen, 4);
    EXPECT_EQ(lines[0].colour, hudColor::panel);
    EXPECT_EQ(lines[2].pen, 2);
    EXPECT_EQ(lines[3].colour, hudColor::bright);
    EXPECT_EQ(lines[0].x, 633);
    EXPECT_EQ(lines[0].y, 353);
    EXPECT_EQ(lines[0].x1, 647);
    EXPECT_EQ(lines[0].y1, 367);
    EXPECT_EQ(lines[1].y, 367);
    EXPECT_EQ(lines[1].y1, 353);
}

TEST_F(HudTest, OpacityAndTheFrame) {
    std::vector<std::uint32_t> pixels{0u, 0x010101u, 0x00FF0000u, 0x000000FFu, 0xFF000000u};
    markDrawnOpaque(pixels);
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{0u, 0xFF010101u, 0xFFFF0000u, 0xFF0000FFu, 0xFF000000u}));

    // A frame with the shell's state draws the HUD between the 3D view and presenting it.
    ui.page = Page::MainMenu;
    renderer.render(*city, FrameOptions{true, false, &ui});
    EXPECT_EQ(canvas.clears, 1u);
    ASSERT_EQ(device.hud.size(), 1280u * 720u);
    EXPECT_EQ(device.hud[200u * 1280u + 70u], 0xFF121918u); // the panel, bytes B, G, R, A
    // Without it, or without a canvas, the HUD stays blank.
    renderer.render(*city, FrameOptions{true, false, nullptr});
    EXPECT_TRUE(device.hud.empty());
    renderer.canvas.reset();
    renderer.render(*city, FrameOptions{true, false, &ui});
    EXPECT_TRUE(device.hud.empty());
    EXPECT_EQ(device.count("hud"), 3u);
}

TEST_F(HudTest, EarthAndStarLines) {
    // On the Earth: where the player is, the horizon marks at the pitch, and with physics debugging
    // the organisms' legend in their ability colours.
    auto earth = test::emptyGame();
    earth->world.earth = test::fakeEarth();
    earth->player.position = {120.0, 35.0, -80.0};
    ui.page = Page::Playing;
    ui.physicsDebug = true;
    const Vec3 place = EarthModel::coordinates(earth->player.position);
    const struct {
        double pitch;
        bool scoped;
        std::int32_t top; // the panel-coloured rectangle's row; the bright one lies one below
    } marks[] = {{0.0, false, 359}, {0.1, false, 406}, {0.1, true, 528},
                 {1.2, false, 591}, {-1.2, false, 27}, {0.7, true, 591}};
    for (const auto& mark : marks) {
        earth->player.pitch = mark.pitch;
        earth->weapon = 4;
        earth->slots[4].scoped = mark.scoped;
        canvas.calls.clear();
        draw(*earth);
        for (const std::int32_t x : {579, 675}) {
            EXPECT_TRUE(canvas.hasRect(x - 1, mark.top, 28, 4, hudColor::panel)) << mark.pitch << " " << x;
            EXPECT_TRUE(canvas.hasRect(x, mark.top + 1, 26, 2, hudColor::bright)) << mark.pitch << " " << x;
        }
    }
    expectText(370, 642,
               "地球 / 海拔 " + hud::number(place.z, 1) + " 米 / 纬度 " + hud::number(place.x, 2) +
                   " / 经度 " + hud::number(place.y, 2),
               0, hudColor::accent);
    EXPECT_TRUE(canvas.hasRect(360, 487, 620, 64, hudColor::panel));
    expectText(372, 494, "生物块 / 质量耗尽永久灰化", 0, hudColor::bright);
    expectText(372, 521, "红：推力", 0, 0x1921F2u);
    expectText(552, 521, "绿：吸收", 0, 0x33D11Eu);
    expectText(732, 521, "蓝：连接", 0, 0xF2591Eu);

    // Among the stars: the nearest body, the warp keys and the height above it on the playing page;
    // no horizon marks nor legend. A body list emptied by a rebuild leaves the name out.
    auto stars = test::emptyGame();
    stars->world.stars = test::fakeStars(9);
    stars->player.position = {0.0, 1234.0, 0.0};
    canvas.calls.clear();
    draw(*stars);
    expectText(370, 642, "群星 / 月球", 0, hudColor::accent);
    expectText(37, 215, "群星 / 月球 / 活动天体 10 / 生物 0", 1, hudColor::bright);
    expectText(37, 239, "前进 4 / 5 / 6 次：1 / 10 / 100 光年；间隔 ≤1秒 / 其他键重置", 0, hudColor::dim);
    expectText(37, 259, "高度 1.2 km", 0, hudColor::dim);
    EXPECT_FALSE(canvas.hasRect(578, 359, 28, 4, hudColor::panel));
    EXPECT_FALSE(canvas.hasRect(360, 487, 620, 64, hudColor::panel));
    ui.page = Page::Paused;
    canvas.calls.clear();
    draw(*stars);
    EXPECT_EQ(canvas.textAt(37, 215).font, -1);
    ui.page = Page::Playing;
    stars->world.stars->bodies.clear();
    canvas.calls.clear();
    draw(*stars);
    expectText(370, 642, "群星 / ", 0, hudColor::accent);
    expectText(37, 215, "群星 /  / 活动天体 10 / 生物 0", 1, hudColor::bright);
    EXPECT_EQ(canvas.textAt(37, 259).font, -1);
}

} // namespace
} // namespace zarn
