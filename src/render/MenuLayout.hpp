#pragma once

#include <cstdint>

namespace zarn {

// Where the menus' rows lie on the 1280 x 720 HUD canvas. The HUD draws them from these numbers and
// the shell's mouse handling hit-tests with the same numbers, so a click lands on the row drawn there.
namespace menuLayout {

// Menu buttons: 360 pixels wide, 40 high, one every 49 pixels; a click anywhere from a button's top
// down to the next button's top selects it.
constexpr std::int32_t buttonLeft = 80;
constexpr std::int32_t buttonRight = 440; // exclusive
constexpr std::int32_t buttonHeight = 40;
constexpr std::int32_t buttonHoverHeight = 42; // the hover highlight reaches 2 pixels below the button
constexpr std::int32_t buttonBarWidth = 3;
constexpr std::int32_t labelInset = 20; // label x from the button's left edge
constexpr std::int32_t labelDrop = 10;  // label y below the button's top
constexpr std::int32_t rowPitch = 49;

// A column of buttons: the first button's top and how many there are.
struct ButtonColumn {
    std::int32_t top;
    std::int32_t rows;

    constexpr std::int32_t buttonTop(std::int32_t row) const { return top + row * rowPitch; }
    constexpr std::int32_t bottom() const { return top + rows * rowPitch; } // exclusive
    // The row under (x, y); -1 outside the column.
    constexpr std::int32_t rowAt(std::int32_t x, std::int32_t y) const {
        if (x < buttonLeft || x >= buttonRight || y < top || y >= bottom()) {
            return -1;
        }
        return (y - top) / rowPitch;
    }
};

constexpr ButtonColumn mainMenu{349, 3};
constexpr ButtonColumn worldSelect{349, 5};
constexpr ButtonColumn paused{275, 4};

// The settings page: the five value rows on the left, the seven bindings of the current binding page
// on the right, and under them the line that turns to the next binding page.
constexpr std::int32_t valueLeft = 80;
constexpr std::int32_t valueRight = 565; // exclusive
constexpr std::int32_t valueTop = 250;
constexpr std::int32_t valuePitch = 48;
constexpr std::int32_t valueRows = 5;
constexpr std::int32_t bindingLeft = 660;
constexpr std::int32_t bindingKeyLeft = 1030;
constexpr std::int32_t bindingRight = 1200; // exclusive
constexpr std::int32_t bindingTop = 250;
constexpr std::int32_t bindingPitch = 40;
constexpr std::int32_t bindingRows = 7;
constexpr std::int32_t bindingPages = 3;
constexpr std::int32_t pageSwitchTop = 545;
constexpr std::int32_t pageSwitchBottom = 580; // exclusive
constexpr std::int32_t pageLineTop = 549;

// The value row under (x, y), 0..4; -1 outside the value column.
constexpr std::int32_t valueRowAt(std::int32_t x, std::int32_t y) {
    if (x < valueLeft || x >= valueRight || y < valueTop || y >= valueTop + valueRows * valuePitch) {
        return -1;
    }
    return (y - valueTop) / valuePitch;
}

// The binding row of the current binding page under (x, y), 0..6; -1 outside the binding column.
constexpr std::int32_t bindingRowAt(std::int32_t x, std::int32_t y) {
    if (x < bindingLeft || x >= bindingRight || y < bindingTop ||
        y >= bindingTop + bindingRows * bindingPitch) {
        return -1;
    }
    return (y - bindingTop) / bindingPitch;
}

constexpr bool onPageSwitch(std::int32_t x, std::int32_t y) {
    return x >= bindingLeft && x < bindingRight && y >= pageSwitchTop && y < pageSwitchBottom;
}

} // namespace menuLayout

} // namespace zarn
