#pragma once

#include <memory>

#include "render/HudCanvas.hpp"

namespace zarn {

// The HUD canvas drawn with GDI (Windows only): a top-down 32-bit DIB section of 1280 x 720 pixels in a
// memory device context, with the six HUD fonts. Throws std::runtime_error "HUD canvas allocation
// failed" when the DIB section cannot be made.
std::unique_ptr<HudCanvas> createGdiCanvas();

} // namespace zarn
