#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zarn {

// The screen the shell shows. The simulation advances only while playing.
enum class Page : std::int32_t {
    MainMenu = 0,
    Playing = 1,
    Paused = 2,
    Armory = 3,
    Settings = 4,
    WorldSelect = 5,
};

// The bindable actions, in the order of UiState::bindings and of the key lines of config.ini.
enum class Action : std::int32_t {
    Forward,
    Back,
    Left,
    Right,
    Jump,
    Crouch,
    Shoot,
    Scope,
    Reload,
    Resupply,
    Upgrade,
    PhysicsDebug,
    Fullscreen,
    Demolition,
    Pistol,
    Smg,
    AssaultRifle,
    Carbine,
    SniperRifle,
    MachineGun,
    RocketLauncher,
};

constexpr std::int32_t actionCount = 21;

// Virtual-key codes the shell itself looks at. The mouse buttons count as keys 1 (left), 2 (right) and
// 4 (middle) wherever a key can be bound.
namespace keyCode {
constexpr std::int32_t leftButton = 0x01;
constexpr std::int32_t rightButton = 0x02;
constexpr std::int32_t middleButton = 0x04;
constexpr std::int32_t backspace = 0x08;
constexpr std::int32_t tab = 0x09;
constexpr std::int32_t enter = 0x0D;
constexpr std::int32_t escape = 0x1B;
constexpr std::int32_t left = 0x25;
constexpr std::int32_t right = 0x27;
constexpr std::int32_t f4 = 0x73;
} // namespace keyCode

// The labels the settings page shows for the actions (UTF-8).
inline constexpr std::array<std::string_view, actionCount> actionNames{
    "前进", "后退",   "向左",     "向右",     "跳跃 / 空中连跳", "蹲伏",   "射击",
    "开镜", "换弹",   "补给",     "装备升级", "物理调试",        "全屏",   "训练场爆破",
    "手枪", "冲锋枪", "突击步枪", "卡宾步枪", "狙击步枪",        "轻机枪", "火箭筒",
};

// W S A D, Space, Ctrl, left and right mouse button, R E B, F3, F11, P, then the digits 1 to 7.
inline constexpr std::array<std::int32_t, actionCount> defaultBindings{
    0x57, 0x53, 0x41, 0x44, 0x20, 0x11, 0x01, 0x02, 0x52, 0x45, 0x42,
    0x72, 0x7A, 0x50, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,
};

// Ranges the settings are kept in, shared by config.ini and the settings page.
constexpr double minSensitivity = 0.0004; // view radians per raw mouse count
constexpr double maxSensitivity = 0.006;
constexpr double maxMotionLimit = 20000.0;
constexpr double maxImpactMultiplier = 1e6;
constexpr double maxRotationMultiplier = 1e6;

// What the shell shows and the renderer draws: the page, the user's settings, the key bindings, the
// mouse in canvas pixels, the number being typed on the settings page and a caption line.
struct UiState {
    Page page = Page::MainMenu;
    bool fullscreen = false;
    bool physicsDebug = false;
    double sensitivity = 0.0022; // kept in [minSensitivity, maxSensitivity]
    double volume = 0.35;        // kept in [0, 1]
    double fps = 60.0;           // smoothed frames per second
    std::int32_t mouseX = 0;     // 1280 x 720 canvas pixels
    std::int32_t mouseY = 0;
    std::array<std::int32_t, actionCount> bindings = defaultBindings;
    bool awaitingKey = false;     // the settings page waits for the key to bind to the selected row
    std::int32_t bindingPage = 0; // which seven bindings the settings page lists, 0..2
    std::int32_t selectedRow = 0; // 0..4 the values, 5..25 the bindings (row - 5 = action)
    std::string input;            // digits and '.', at most 12 characters
    std::string caption;          // the message of the last failed world load; emptied when play starts

    std::int32_t binding(Action action) const { return bindings[static_cast<std::size_t>(action)]; }
};

} // namespace zarn
