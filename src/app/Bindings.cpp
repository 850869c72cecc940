#include "app/Bindings.hpp"

namespace zarn {

bool bindableKey(std::int32_t code) {
    return code >= 1 && code <= 254 && code != keyCode::tab && code != keyCode::enter &&
           code != keyCode::escape && code != keyCode::f4;
}

bool assignBinding(std::array<std::int32_t, actionCount>& bindings, std::int32_t action, std::int32_t code) {
    if (action < 0 || action >= actionCount || !bindableKey(code)) {
        return false;
    }
    const std::int32_t old = bindings[static_cast<std::size_t>(action)];
    for (std::int32_t& other : bindings) {
        if (other == code) {
            other = old;
        }
    }
    bindings[static_cast<std::size_t>(action)] = code;
    return true;
}

} // namespace zarn
