#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zarn {

// The 2D surface the HUD and the menus are drawn on: 1280 x 720 pixels, rows top to bottom, each pixel
// a 32-bit value with the bytes B, G, R, X in memory. The renderer decides what goes where; GDI draws
// it in the game, and the native tests record it. Colours are GDI colour values, 0x00BBGGRR.
class HudCanvas {
  public:
    static constexpr std::int32_t width = 1280;
    static constexpr std::int32_t height = 720;
    static constexpr std::int32_t fontCount = 6;

    virtual ~HudCanvas() = default;

    // Every pixel back to 0 (transparent black), after whatever drawing is still pending.
    virtual void clear() = 0;
    // Fills (x, y) to (x + w, y + h), right and bottom exclusive.
    virtual void fillRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                          std::uint32_t colour) = 0;
    // UTF-8 text with its top-left corner at (x, y), in one of the six fonts, transparent behind.
    virtual void text(std::int32_t x, std::int32_t y, std::string_view utf8, std::int32_t font,
                      std::uint32_t colour) = 0;
    // A straight line with a round pen penWidth pixels wide.
    virtual void line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1,
                      std::int32_t penWidth, std::uint32_t colour) = 0;
    // The pixels, once every drawing call has reached them.
    virtual std::span<std::uint32_t> pixels() = 0;
};

// The six fonts of the HUD, all of the same Chinese sans-serif face.
struct HudFont {
    std::int32_t height; // character height in pixels
    std::int32_t weight; // 400 normal, 700 bold
};
inline constexpr std::array<HudFont, HudCanvas::fontCount> hudFonts{{
    {13, 400},
    {17, 400},
    {22, 400},
    {32, 700},
    {54, 700},
    {116, 700},
}};
constexpr const wchar_t* hudFontFace = L"Microsoft YaHei";

// The HUD's colours (0x00BBGGRR).
namespace hudColor {
constexpr std::uint32_t panel = 0x181912;      // panel backgrounds, shadows of marks
constexpr std::uint32_t accent = 0x68B2D5;     // values, highlights, crosshair
constexpr std::uint32_t bright = 0xD3E2DC;     // titles, important lines
constexpr std::uint32_t dim = 0x9DA697;        // labels, hints
constexpr std::uint32_t warning = 0x4963EB;    // health below 30
constexpr std::uint32_t hurt = 0x1E2CA5;       // hurt-flash bars
constexpr std::uint32_t scopeBlack = 0x010101; // not 0, which would be transparent
constexpr std::uint32_t buttonHover = 0x313B36;
constexpr std::uint32_t buttonBar = 0x61AED3;
constexpr std::uint32_t buttonIdle = 0x1C1D17;
constexpr std::uint32_t buttonText = 0xC0D9DB;
constexpr std::uint32_t buttonTextOff = 0x676F63;
} // namespace hudColor

// Gives every pixel that was drawn on (any colour bit set) full opacity; pixels still 0 stay fully
// transparent, so the 3D view shows through wherever nothing was drawn.
void markDrawnOpaque(std::span<std::uint32_t> pixels);

} // namespace zarn
