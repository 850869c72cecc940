#include <algorithm>
#include <array>
#include <charconv>

#include "render/HudCanvas.hpp"
#include "render/HudPages.hpp"
#include "render/MenuLayout.hpp"
#include "render/Renderer.hpp"
#include "render/UiState.hpp"

namespace zarn {

void markDrawnOpaque(std::span<std::uint32_t> pixels) {
    // Every pixel is written, with the alpha set where any colour was drawn, so that the compiler
    // turns the loop into vector operations.
    for (std::uint32_t& pixel : pixels) {
        pixel |= (pixel & 0x00FFFFFFu) != 0 ? 0xFF000000u : 0u;
    }
}

namespace hud {

std::string number(double value, std::int32_t decimals) {
    // The standard library's own conversion, not the C library's printf: the same digits on Windows
    // and Linux, halves rounded to even.
    const int digits = std::clamp(decimals, 0, 17);
    std::array<char, 400> text; // the largest double has 309 digits before the point
    const std::to_chars_result result =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, digits);
    if (result.ec != std::errc()) {
        return {};
    }
    return std::string(text.data(), result.ptr);
}

} // namespace hud

void Renderer::rect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t colour) {
    if (canvas) {
        canvas->fillRect(x, y, w, h, colour);
    }
}

void Renderer::text(std::int32_t x, std::int32_t y, const std::string& utf8, std::int32_t font,
                    std::uint32_t colour) {
    if (canvas && font >= 0 && font < HudCanvas::fontCount) {
        canvas->text(x, y, utf8, font, colour);
    }
}

void Renderer::line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, std::int32_t penWidth,
                    std::uint32_t colour) {
    if (canvas) {
        canvas->line(x0, y0, x1, y1, penWidth, colour);
    }
}

void Renderer::button(std::int32_t y, const std::string& label, const UiState& ui, bool enabled) {
    using namespace menuLayout;
    const bool hovered = ui.mouseX >= buttonLeft && ui.mouseX < buttonRight && ui.mouseY >= y &&
                         ui.mouseY < y + buttonHoverHeight;
    if (hovered) {
        rect(buttonLeft, y, buttonRight - buttonLeft, buttonHeight, hudColor::buttonHover);
        rect(buttonLeft, y, buttonBarWidth, buttonHeight, hudColor::buttonBar);
    } else {
        rect(buttonLeft, y, buttonRight - buttonLeft, buttonHeight, hudColor::buttonIdle);
    }
    text(buttonLeft + labelInset, y + labelDrop, label, 1,
         enabled ? hudColor::buttonText : hudColor::buttonTextOff);
}

void Renderer::drawHud(const Game& game, const UiState& ui) {
    if (!backend) {
        return;
    }
    if (!canvas) {
        backend->compositeHud({}); // nothing to draw with: the frame shows without a HUD
        return;
    }
    canvas->clear();
    switch (ui.page) {
    case Page::MainMenu:
    case Page::WorldSelect:
        hud::drawTitlePanel(*this, ui);
        break;
    case Page::Settings:
        hud::drawSettingsPage(*this, game, ui);
        break;
    case Page::Playing:
        hud::drawPlayHud(*this, game);
        break;
    case Page::Paused:
        hud::drawPlayHud(*this, game);
        hud::drawPausePanel(*this, ui);
        break;
    case Page::Armory:
        hud::drawPlayHud(*this, game);
        hud::drawArmoryPanel(*this, game);
        break;
    }
    hud::drawClosingLines(*this, game, ui);
    const std::span<std::uint32_t> pixels = canvas->pixels();
    markDrawnOpaque(pixels);
    backend->compositeHud(pixels);
}

} // namespace zarn
