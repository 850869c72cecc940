#include <gtest/gtest.h>

#include <set>

#include "app/Bindings.hpp"

namespace zarn {
namespace {

TEST(BindingsTest, TwentyOneActionsWithTheirDefaultKeys) {
    EXPECT_EQ(actionNames.size(), 21u);
    EXPECT_EQ(defaultBindings.size(), 21u);
    const UiState ui;
    EXPECT_EQ(ui.binding(Action::Forward), 'W');
    EXPECT_EQ(ui.binding(Action::Back), 'S');
    EXPECT_EQ(ui.binding(Action::Left), 'A');
    EXPECT_EQ(ui.binding(Action::Right), 'D');
    EXPECT_EQ(ui.binding(Action::Jump), ' ');
    EXPECT_EQ(ui.binding(Action::Crouch), 0x11); // Ctrl
    EXPECT_EQ(ui.binding(Action::Shoot), keyCode::leftButton);
    EXPECT_EQ(ui.binding(Action::Scope), keyCode::rightButton);
    EXPECT_EQ(ui.binding(Action::Reload), 'R');
    EXPECT_EQ(ui.binding(Action::Resupply), 'E');
    EXPECT_EQ(ui.binding(Action::Upgrade), 'B');
    EXPECT_EQ(ui.binding(Action::PhysicsDebug), 0x72); // F3
    EXPECT_EQ(ui.binding(Action::Fullscreen), 0x7A);   // F11
    EXPECT_EQ(ui.binding(Action::Demolition), 'P');
    EXPECT_EQ(ui.binding(Action::Pistol), '1');
    EXPECT_EQ(ui.binding(Action::RocketLauncher), '7');
    EXPECT_EQ(actionNames[static_cast<std::size_t>(Action::Jump)], "跳跃 / 空中连跳");
    EXPECT_EQ(actionNames[static_cast<std::size_t>(Action::RocketLauncher)], "火箭筒");
    // The defaults keep the rule every binding keeps: distinct and bindable.
    const std::set<std::int32_t> codes(defaultBindings.begin(), defaultBindings.end());
    EXPECT_EQ(codes.size(), defaultBindings.size());
    for (std::int32_t code : defaultBindings) {
        EXPECT_TRUE(bindableKey(code)) << code;
    }
    // The other defaults of the shell's state.
    EXPECT_EQ(ui.page, Page::MainMenu);
    EXPECT_EQ(ui.sensitivity, 0.0022);
    EXPECT_EQ(ui.volume, 0.35);
    EXPECT_EQ(ui.fps, 60.0);
    EXPECT_EQ(static_cast<int>(Page::WorldSelect), 5);
}

TEST(BindingsTest, TheMenusKeepTabEnterEscAndF4) {
    for (std::int32_t code : {0, 9, 13, 27, 115, 255, -1, 256}) {
        EXPECT_FALSE(bindableKey(code)) << code;
    }
    for (std::int32_t code : {1, 2, 4, 8, 10, 26, 28, 114, 116, 254}) {
        EXPECT_TRUE(bindableKey(code)) << code;
    }
}

TEST(BindingsTest, AssigningATakenCodeSwapsTheTwoActions) {
    auto bindings = defaultBindings;
    ASSERT_TRUE(assignBinding(bindings, static_cast<std::int32_t>(Action::Jump), 'W'));
    EXPECT_EQ(bindings[static_cast<std::size_t>(Action::Jump)], 'W');
    EXPECT_EQ(bindings[static_cast<std::size_t>(Action::Forward)], ' ');
    // A free code just moves the action; the old code is free afterwards.
    ASSERT_TRUE(assignBinding(bindings, static_cast<std::int32_t>(Action::Shoot), 'F'));
    EXPECT_EQ(bindings[static_cast<std::size_t>(Action::Shoot)], 'F');
    EXPECT_EQ(std::count(bindings.begin(), bindings.end(), keyCode::leftButton), 0);
    // The action's own code again changes nothing.
    const auto before = bindings;
    ASSERT_TRUE(assignBinding(bindings, static_cast<std::int32_t>(Action::Shoot), 'F'));
    EXPECT_EQ(bindings, before);
}

TEST(BindingsTest, RefusedAssignmentsChangeNothing) {
    auto bindings = defaultBindings;
    EXPECT_FALSE(assignBinding(bindings, 0, keyCode::escape));
    EXPECT_FALSE(assignBinding(bindings, 0, keyCode::enter));
    EXPECT_FALSE(assignBinding(bindings, 0, keyCode::tab));
    EXPECT_FALSE(assignBinding(bindings, 0, keyCode::f4));
    EXPECT_FALSE(assignBinding(bindings, 0, 0));
    EXPECT_FALSE(assignBinding(bindings, 0, 255));
    EXPECT_FALSE(assignBinding(bindings, 21, 'K'));
    EXPECT_FALSE(assignBinding(bindings, -1, 'K'));
    EXPECT_EQ(bindings, defaultBindings);
}

TEST(BindingsTest, NoSequenceOfAssignmentsMakesTwoActionsShareACode) {
    auto bindings = defaultBindings;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const auto action = static_cast<std::int32_t>((seed >> 8) % 23) - 1; // -1..21
        const auto code = static_cast<std::int32_t>((seed >> 16) % 258) - 1; // -1..256
        assignBinding(bindings, action, code);
        const std::set<std::int32_t> codes(bindings.begin(), bindings.end());
        ASSERT_EQ(codes.size(), bindings.size()) << "after step " << i;
        for (std::int32_t c : bindings) {
            ASSERT_TRUE(bindableKey(c));
        }
    }
}

} // namespace
} // namespace zarn
