#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "render/HudCanvas.hpp"
#include "render/HudPages.hpp"
#include "render/Renderer.hpp"
#include "render/UiState.hpp"
#include "world/Game.hpp"

namespace zarn::hud {

namespace {

constexpr std::int32_t centerX = HudCanvas::width / 2;
constexpr std::int32_t centerY = HudCanvas::height / 2;
constexpr double lowHealth = 30.0;

// The focal scales of the 3D view, unscoped and through the scope, for marks that follow the view.
constexpr double viewFocus = 1.32704482162041;
constexpr double scopeFocus = 4.704630109478455;
// The flight-path mark stays this far inside the canvas centre's half-extents.
constexpr double markReachX = 626.0;
constexpr double markReachY = 346.0;
constexpr std::int32_t crossArm = 7;
// The horizon marks follow the pitch with the view's focal length in canvas rows (360 x focus).
constexpr double horizonRows = 477.7361357833476;
constexpr double scopeHorizonRows = 1693.6668394122437;
// The physics readout sits just above the speed line (13-pixel text at y 615) so both can be read.
constexpr std::int32_t physicsLineY = 602;

// Integer part of a value, kept within a range a canvas coordinate can use.
std::int32_t truncated(double value) {
    if (!(value == value)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::clamp(value, -1e6, 1e6));
}

std::int32_t rounded(double value) {
    return truncated(std::round(value));
}

const WeaponSlot* selectedSlot(const Game& game) {
    if (game.weapon < 0 || game.weapon >= weaponCount) {
        return nullptr;
    }
    return &game.slots[static_cast<std::size_t>(game.weapon)];
}

std::string lossLine(double loss) {
    std::string value;
    if (loss >= 1e9) {
        value = number(loss / 1e9, 2) + " 十亿";
    } else if (loss >= 1e6) {
        value = number(loss / 1e6, 2) + " 百万";
    } else {
        value = number(loss, 0);
    }
    return "游戏估算损失　¥ " + value;
}

std::string speedLine(const Game& game) {
    const Vec3 up = game.world.gravityUp();
    const Vec3& v = game.player.velocity;
    const double vertical = dot(v, up);
    return "速度 " + number(length(v), 1) + " / 水平 " + number(length(v - up * vertical), 1) + " / 垂直 " +
           (vertical > 0.0 ? "+" : "") + number(vertical, 1) + " 米/秒";
}

// The name of the star world's nearest body; empty should the index not name a body.
std::string nearestName(const Stars& stars) {
    const auto index = static_cast<std::size_t>(stars.nearestBody);
    return index < stars.bodies.size() ? stars.bodies[index].name : std::string();
}

// Where the player is: on the Earth its altitude, latitude and longitude; among the stars the nearest
// body; on the training ground the height. The city and the district show none.
std::string placeLine(const Game& game) {
    const World& world = game.world;
    switch (worldKind(world)) {
    case WorldKind::earth: {
        const Vec3 place = EarthModel::coordinates(game.player.position);
        return "地球 / 海拔 " + number(place.z, 1) + " 米 / 纬度 " + number(place.x, 2) + " / 经度 " +
               number(place.y, 2);
    }
    case WorldKind::stars:
        return "群星 / " + nearestName(*world.stars);
    case WorldKind::plain:
        break;
    }
    if (game.training) {
        return "手感测试 / 高度 " + number(game.player.position.y, 2) + " 米";
    }
    return {};
}

// Two short marks at the screen rows of the horizon, kept on the canvas when it leaves the view.
void drawHorizonMarks(Renderer& renderer, const Game& game, bool scoped) {
    const double rows = scoped ? scopeHorizonRows : horizonRows;
    const double h = centerY + rows * std::tan(game.player.pitch + game.recoilPitch);
    std::int32_t markTop = 27;
    if (h > 592.0) {
        markTop = 591;
    } else if (h >= 28.0) {
        markTop = truncated(h) - 1;
    }
    for (const std::int32_t x : {579, 675}) {
        renderer.rect(x - 1, markTop, 28, 4, hudColor::panel);
        renderer.rect(x, markTop + 1, 26, 2, hudColor::bright);
    }
}

void drawAimingMarks(Renderer& renderer, const Game& game) {
    const WeaponSlot* slot = selectedSlot(game);
    const bool scoped = slot != nullptr && slot->scoped;
    if (scoped) {
        // The reticle crosses at the aim point, the centre of the view, like the unscoped marks.
        renderer.rect(0, centerY, HudCanvas::width, 1, hudColor::dim);
        renderer.rect(centerX, 0, 1, HudCanvas::height, hudColor::dim);
        renderer.rect(0, 0, 200, HudCanvas::height, hudColor::scopeBlack);
        renderer.rect(1080, 0, 200, HudCanvas::height, hudColor::scopeBlack);
        renderer.text(660, 375, "四倍镜", 0, hudColor::accent);
    } else {
        const std::int32_t s = slot != nullptr ? truncated(200.0 * slot->recoil) : 0;
        renderer.rect(627 - s, 360, 8, 1, hudColor::accent);
        renderer.rect(645 + s, 360, 8, 1, hudColor::accent);
        renderer.rect(640, 347 - s, 1, 8, hudColor::accent);
        renderer.rect(640, 365 + s, 1, 8, hudColor::accent);
    }
    if (worldKind(game.world) == WorldKind::earth) {
        drawHorizonMarks(renderer, game, scoped);
    }
    drawFlightPath(renderer, game, scoped);
    if (game.hitMarker > 0.0) {
        renderer.text(630, 347, "X", 2, hudColor::bright);
    }
}

void drawEffects(Renderer& renderer, const Game& game) {
    if (game.hurtFlash > 0.0) {
        renderer.rect(0, 0, HudCanvas::width, 5, hudColor::hurt);
        renderer.rect(0, 715, HudCanvas::width, 5, hudColor::hurt);
    }
    if (game.dead) {
        renderer.rect(420, 285, 440, 116, hudColor::panel);
        renderer.text(455, 300, "行动员阵亡", 3, hudColor::accent);
        renderer.text(455, 354, "回车重新部署 / 城市破坏保留", 0, hudColor::bright);
    }
}

// What the organisms' colours mean, shown with the physics readout.
void drawOrganismLegend(Renderer& renderer) {
    renderer.rect(360, 487, 620, 64, hudColor::panel);
    renderer.text(372, 494, "生物块 / 质量耗尽永久灰化", 0, hudColor::bright);
    constexpr std::array<const char*, 3> abilities{"红：推力", "绿：吸收", "蓝：连接"};
    for (std::size_t i = 0; i < abilities.size(); ++i) {
        const Vec3 c = Ecology::abilityColor(static_cast<Ability>(i));
        const auto channel = [](double v) {
            return static_cast<std::uint32_t>(std::clamp(v, 0.0, 1.0) * 255.0);
        };
        renderer.text(372 + 180 * static_cast<std::int32_t>(i), 521, abilities[i], 0,
                      channel(c.x) | channel(c.y) << 8 | channel(c.z) << 16);
    }
}

// The star world's lines: the nearest body, how to warp, and the height above that body.
void drawStarLines(Renderer& renderer, const Game& game) {
    const Stars& stars = *game.world.stars;
    renderer.text(37, 215, "群星 / " + nearestName(stars) + " / 活动天体 10 / 生物 0", 1, hudColor::bright);
    renderer.text(37, 239, "前进 4 / 5 / 6 次：1 / 10 / 100 光年；间隔 ≤1秒 / 其他键重置", 0, hudColor::dim);
    const auto nearest = static_cast<std::size_t>(stars.nearestBody);
    if (nearest < stars.bodies.size()) {
        const double height =
            length(game.player.position - stars.center(stars.nearestBody)) - stars.bodies[nearest].radius;
        renderer.text(37, 259, "高度 " + number(height / 1000.0, 1) + " km", 0, hudColor::dim);
    }
}

} // namespace

FlightMark flightPathMark(const Game& game, double aspect, bool scoped) {
    const Vec3& velocity = game.player.velocity;
    const double speed = length(velocity);
    if (!game.player.airMode || !(speed >= 1e-8)) {
        return {};
    }
    const Vec3 direction = velocity / speed;
    const View view = frameView(game, false);
    const double focal = scoped ? scopeFocus : viewFocus;
    if (!(aspect > 0.0) || !std::isfinite(aspect)) {
        aspect = 1.0;
    }
    // The direction on the screen before the division by depth.
    double x = centerX * dot(direction, view.right) * focal / aspect;
    double y = -centerY * dot(direction, view.up) * focal;
    const double ahead = dot(direction, view.forward);
    bool onScreen = false;
    if (ahead > 1e-8) {
        x /= ahead;
        y /= ahead;
        onScreen = std::abs(x) <= markReachX && std::abs(y) <= markReachY;
    }
    if (!onScreen) {
        // Behind the eye or beyond the edge: along the same screen direction onto the border.
        if (std::max(std::abs(x), std::abs(y)) < 1e-9) {
            return {}; // straight backwards: no direction to show
        }
        const double scale =
            std::min(x != 0.0 ? markReachX / std::abs(x) : std::numeric_limits<double>::infinity(),
                     y != 0.0 ? markReachY / std::abs(y) : std::numeric_limits<double>::infinity());
        x *= scale;
        y *= scale;
    }
    return {true, centerX + rounded(x), centerY + rounded(y)};
}

void drawFlightPath(Renderer& renderer, const Game& game, bool scoped) {
    const double aspect = renderer.width > 0 && renderer.height > 0
                              ? static_cast<double>(renderer.width) / renderer.height
                              : 1.0;
    const FlightMark mark = flightPathMark(game, aspect, scoped);
    if (!mark.shown) {
        return;
    }
    const std::int32_t x = mark.x;
    const std::int32_t y = mark.y;
    for (const auto& [pen, colour] : {std::pair{4, hudColor::panel}, std::pair{2, hudColor::bright}}) {
        renderer.line(x - crossArm, y - crossArm, x + crossArm, y + crossArm, pen, colour);
        renderer.line(x - crossArm, y + crossArm, x + crossArm, y - crossArm, pen, colour);
    }
}

void drawPlayHud(Renderer& renderer, const Game& game) {
    renderer.rect(35, 68, 326, 69, hudColor::panel);
    renderer.text(49, 79, "贡献点", 0, hudColor::dim);
    renderer.text(49, 100, number(game.points, 0), 2, hudColor::accent);
    renderer.text(226, 103, "连击 " + number(game.combo, 2) + "  级 " + std::to_string(game.level), 1,
                  hudColor::accent);
    renderer.text(37, 147, lossLine(game.world.loss()), 0, hudColor::bright);
    renderer.text(37, 168,
                  "区域破坏率 " + number(game.world.destructionRate(), 1) + "%  /  击败敌人 " +
                      std::to_string(game.kills),
                  0, hudColor::dim);
    if (game.messageVisible()) {
        renderer.text(36, 570, game.message, 1, hudColor::accent);
    }
    renderer.text(370, 615, speedLine(game), 0, hudColor::accent);
    const std::string place = placeLine(game);
    if (!place.empty()) {
        renderer.text(370, 642, place, 0, hudColor::accent);
    }

    renderer.rect(35, 618, 311, 72, hudColor::panel);
    renderer.text(48, 628, "生命", 0, hudColor::dim);
    // The colour looks at the value itself: 29.6 shows as 30, in the warning colour.
    renderer.text(48, 649, number(game.health, 0), 3,
                  game.health < lowHealth ? hudColor::warning : hudColor::accent);
    renderer.text(186, 628, "护甲", 0, hudColor::dim);
    renderer.text(186, 649, number(game.armour, 0), 3, hudColor::accent);

    renderer.rect(953, 618, 292, 72, hudColor::panel);
    if (const WeaponSlot* slot = selectedSlot(game)) {
        renderer.text(970, 627, std::string(weapons[static_cast<std::size_t>(game.weapon)].name), 0,
                      hudColor::dim);
        renderer.text(970, 649, std::to_string(slot->magazine), 3, hudColor::accent);
        renderer.text(1051, 660, "/ " + std::to_string(slot->reserve), 2, hudColor::dim);
        if (slot->reloadUntil != 0.0) {
            renderer.text(1154, 659, "换弹中", 0, hudColor::accent);
        }
    }
    renderer.text(372, 675, "滚轮切枪 / Esc 菜单 / 操作键位见设置", 0, hudColor::dim);

    drawAimingMarks(renderer, game);
    drawEffects(renderer, game);
}

void drawClosingLines(Renderer& renderer, const Game& game, const UiState& ui) {
    const WorldKind kind = worldKind(game.world);
    if (ui.physicsDebug) {
        if (kind == WorldKind::earth) {
            drawOrganismLegend(renderer);
        }
        const Physics& physics = game.world.physics;
        renderer.text(372, physicsLineY,
                      "物理：活动 " + std::to_string(physics.movingPieceCount()) + "/" +
                          std::to_string(physics.motionLimit) + " / " + std::to_string(physics.aliveCount()) +
                          "　断裂 " + std::to_string(physics.fractureCount),
                      0, hudColor::accent);
        renderer.text(372, 627, "红色：线速度　蓝色：角速度　重力：9.80665 米/秒²", 0, hudColor::dim);
    }
    if (!ui.caption.empty() && ui.page != Page::Playing) {
        renderer.text(35, 699, ui.caption, 0, hudColor::accent);
    }
    if (kind == WorldKind::stars && ui.page == Page::Playing) {
        drawStarLines(renderer, game);
    }
    renderer.text(1172, 699, number(ui.fps, 0) + " 帧/秒", 0, hudColor::dim);
}

} // namespace zarn::hud
