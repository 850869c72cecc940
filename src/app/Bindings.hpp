#pragma once

#include <array>
#include <cstdint>

#include "render/UiState.hpp"

namespace zarn {

// Whether a key code can be bound at all: 1..254 and none of Tab, Enter, Esc and F4, which the menus
// need for themselves.
bool bindableKey(std::int32_t code);

// Gives the code to the action, handing the action's old code to every other action that held this
// code, so no two actions ever share one. False, with nothing changed, when the action index is not
// 0..20 or the code cannot be bound.
bool assignBinding(std::array<std::int32_t, actionCount>& bindings, std::int32_t action, std::int32_t code);

} // namespace zarn
