#pragma once

#include <cstdint>
#include <string>

namespace zarn {

class Game;
class Renderer;
struct UiState;

// The pieces of the HUD canvas, each drawn through the renderer's rect, text and button helpers.
namespace hud {

// The value in fixed notation with exactly the given number of digits after the point (no point for
// 0 digits).
std::string number(double value, std::int32_t decimals);
// The name the settings page shows for a key code: the mouse buttons, the named keys, digits and
// capital letters as themselves, else "Key " and the code.
std::string keyName(std::int32_t code);

// The panel of the main menu and the world selection, with the page's buttons.
void drawTitlePanel(Renderer& renderer, const UiState& ui);
// The settings page, drawn instead of the HUD.
void drawSettingsPage(Renderer& renderer, const Game& game, const UiState& ui);
// The in-game HUD: panels, values, message, aiming marks and effects.
void drawPlayHud(Renderer& renderer, const Game& game);
void drawPausePanel(Renderer& renderer, const UiState& ui);
void drawArmoryPanel(Renderer& renderer, const Game& game);
// Where the flight-path cross of air mode goes: the screen point the velocity heads for, drawn for a
// 1280 x 720 canvas stretched over a view of the given aspect (width / height). A direction behind
// the eye or beyond the edge is pulled back onto a border 14 pixels inside the canvas.
struct FlightMark {
    bool shown = false; // only in air mode, moving, and not straight backwards
    std::int32_t x = 0;
    std::int32_t y = 0;
};
FlightMark flightPathMark(const Game& game, double aspect, bool scoped);
void drawFlightPath(Renderer& renderer, const Game& game, bool scoped);
// The lines every page ends with: the physics readout, the caption and the frame rate.
void drawClosingLines(Renderer& renderer, const Game& game, const UiState& ui);

} // namespace hud

} // namespace zarn
