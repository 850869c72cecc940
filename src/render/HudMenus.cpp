#include <array>
#include <string>
#include <string_view>

#include "render/HudCanvas.hpp"
#include "render/HudPages.hpp"
#include "render/MenuLayout.hpp"
#include "render/Renderer.hpp"
#include "render/UiState.hpp"
#include "world/Game.hpp"

namespace zarn::hud {

namespace {

using namespace menuLayout;

constexpr std::array<std::string_view, mainMenu.rows> mainMenuLabels{"进入游戏", "设置", "退出"};
constexpr std::array<std::string_view, worldSelect.rows> worldLabels{"1 / 训练场", "2 / 陆家嘴", "3 / 地球",
                                                                     "4 / 群星 · V2.0", "返回"};
constexpr std::array<std::string_view, paused.rows> pauseLabels{"返回游戏", "设置", "返回主菜单", "退出游戏"};

// The fire-power levels the armory sells: what each brings and its price in points.
struct Tier {
    std::string_view title;
    std::int32_t cost;
};
constexpr std::array<Tier, Game::maxLevel> tiers{{
    {"一级　重火力 / 狙击步枪、机枪与护甲", 500},
    {"二级　爆破 / 火箭筒与爆炸抗性", 1400},
    {"三级　反建筑 / 火箭结构伤害 ×2.15", 3400},
    {"四级　超人火力 / 火箭结构伤害 ×3.30", 8000},
}};

template <std::size_t N>
void drawButtons(Renderer& renderer, const ButtonColumn& column,
                 const std::array<std::string_view, N>& labels, const UiState& ui) {
    for (std::size_t row = 0; row < N; ++row) {
        renderer.button(column.buttonTop(static_cast<std::int32_t>(row)), std::string(labels[row]), ui, true);
    }
}

std::string marker(bool selected) {
    return selected ? "> " : "  ";
}

std::string valueRowText(std::int32_t row, const Game& game, const UiState& ui) {
    switch (row) {
    case 0:
        return "新增碎裂预算　" + std::to_string(game.world.physics.motionLimit);
    case 1:
        return "武器冲击倍率　" + number(game.impactMultiplier, 2);
    case 2:
        return "鼠标灵敏度　" + number(ui.sensitivity * 1000.0, 2);
    case 3:
        return "音效音量　" + number(ui.volume * 100.0, 0) + "%";
    default:
        return "地球自转倍数　" + number(game.world.dayCycle.rate, 2);
    }
}

} // namespace

std::string keyName(std::int32_t code) {
    static constexpr std::array<std::string_view, 8> navigation{"PageUp", "PageDown", "End",   "Home",
                                                                "Left",   "Up",       "Right", "Down"};
    switch (code) {
    case 0x01:
        return "鼠标左键";
    case 0x02:
        return "鼠标右键";
    case 0x04:
        return "鼠标中键";
    case 0x20:
        return "Space";
    case 0x11:
        return "Ctrl";
    case 0x10:
        return "Shift";
    case 0x12:
        return "Alt";
    default:
        break;
    }
    // Appended rather than concatenated: g++ 12 warns of a false overlap in "F" + std::string.
    std::string name;
    if (code >= 0x70 && code <= 0x7B) {
        name = "F";
        name += std::to_string(code - 0x6F);
        return name;
    }
    if (code >= 0x21 && code <= 0x28) {
        return std::string(navigation[static_cast<std::size_t>(code - 0x21)]);
    }
    if (code >= 0x30 && code <= 0x5A) {
        return std::string(1, static_cast<char>(code));
    }
    name = "Key ";
    name += std::to_string(code);
    return name;
}

void drawTitlePanel(Renderer& renderer, const UiState& ui) {
    renderer.rect(60, 116, 422, 539, hudColor::panel);
    renderer.rect(80, 144, 42, 4, hudColor::accent);
    renderer.text(80, 167, "苍曦", 5, hudColor::bright);
    if (ui.page == Page::WorldSelect) {
        renderer.text(84, 298, "选择地图 / 每次进入都是新地图", 1, hudColor::accent);
        drawButtons(renderer, worldSelect, worldLabels, ui);
    } else {
        drawButtons(renderer, mainMenu, mainMenuLabels, ui);
    }
}

void drawPausePanel(Renderer& renderer, const UiState& ui) {
    renderer.rect(60, 175, 422, 455, hudColor::panel);
    renderer.text(80, 195, "已暂停", 4, hudColor::bright);
    drawButtons(renderer, paused, pauseLabels, ui);
}

void drawArmoryPanel(Renderer& renderer, const Game& game) {
    renderer.rect(330, 173, 625, 403, hudColor::panel);
    renderer.rect(330, 173, 4, 403, hudColor::accent);
    renderer.text(359, 198, "装备 / 火力等级 " + std::to_string(game.level), 3, hudColor::bright);
    renderer.text(359, 251, "可用贡献点　" + number(game.points, 0), 1, hudColor::accent);
    for (std::size_t i = 0; i < tiers.size(); ++i) {
        const std::int32_t y = 301 + 37 * static_cast<std::int32_t>(i);
        const bool owned = game.level > static_cast<std::int32_t>(i);
        renderer.text(359, y, std::string(tiers[i].title), 0, owned ? hudColor::dim : hudColor::bright);
        renderer.text(829, y, owned ? std::string("已拥有") : std::to_string(tiers[i].cost), 0,
                      hudColor::accent);
    }
    renderer.text(359, 481, "回车购买下一级　　E 补给（150 贡献）", 1, hudColor::accent);
    renderer.text(359, 526, "B 或退出键 / 返回战斗", 0, hudColor::dim);
}

void drawSettingsPage(Renderer& renderer, const Game& game, const UiState& ui) {
    renderer.rect(60, 160, 1160, 490, hudColor::panel);
    renderer.text(80, 183, "设置与操作", 4, hudColor::bright);
    for (std::int32_t row = 0; row < valueRows; ++row) {
        const bool selected = ui.selectedRow == row;
        renderer.text(valueLeft, valueTop + valuePitch * row, marker(selected) + valueRowText(row, game, ui),
                      1, selected ? hudColor::accent : hudColor::bright);
    }
    renderer.text(80, 490, "输入：" + ui.input + "_   回车应用 / 左右微调", 0, hudColor::accent);
    renderer.text(80, 522, "碎裂预算 0–20000；已激活碎块不会因预算暂停", 0, hudColor::dim);
    renderer.text(80, 554, "自转 1 倍 = 24 小时 / 0 暂停自转", 0, hudColor::bright);
    renderer.text(80, 586, "设置仅保存在游戏文件夹 / 不保存地图进度", 0, hudColor::dim);

    for (std::int32_t row = 0; row < bindingRows; ++row) {
        const std::int32_t action = row + bindingRows * ui.bindingPage;
        if (action < 0 || action >= actionCount) {
            continue;
        }
        const bool selected = ui.selectedRow == action + 5;
        const std::int32_t y = bindingTop + bindingPitch * row;
        renderer.text(bindingLeft, y,
                      marker(selected) + std::string(actionNames[static_cast<std::size_t>(action)]), 0,
                      hudColor::bright);
        const std::string key = ui.awaitingKey && selected
                                    ? std::string("按新键…")
                                    : keyName(ui.bindings[static_cast<std::size_t>(action)]);
        renderer.text(bindingKeyLeft, y, key, 0, hudColor::accent);
    }
    renderer.text(bindingLeft, pageLineTop, "点击下一页  " + std::to_string(ui.bindingPage + 1) + "/3", 1,
                  hudColor::accent);
    renderer.text(660, 589, "点击键位 / 回车改键；重复键自动交换；Esc 取消", 0, hudColor::dim);
    renderer.text(80, 615, "鼠标瞄准 / 滚轮切枪 / Esc 暂停 / 回车购买或重新部署", 0, hudColor::dim);
}

} // namespace zarn::hud
