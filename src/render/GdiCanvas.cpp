// The HUD canvas on GDI: a memory device context holding a top-down 32-bit DIB section, so the pixels
// GDI draws are plain memory the renderer uploads as the HUD texture.

#include <windows.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

#include "render/GdiCanvas.hpp"

namespace zarn {

namespace {

std::wstring utf16(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

class GdiCanvas final : public HudCanvas {
  public:
    GdiCanvas() {
        dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down: row 0 is the top
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* memory = nullptr;
        bitmap = dc != nullptr ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0) : nullptr;
        if (bitmap == nullptr || memory == nullptr) {
            if (bitmap != nullptr) {
                DeleteObject(bitmap);
            }
            if (dc != nullptr) {
                DeleteDC(dc);
            }
            throw std::runtime_error("HUD canvas allocation failed");
        }
        bits = static_cast<std::uint32_t*>(memory);
        previousBitmap = SelectObject(dc, bitmap);
        SetBkMode(dc, TRANSPARENT);
        for (std::size_t i = 0; i < fonts.size(); ++i) {
            fonts[i] = CreateFontW(-hudFonts[i].height, 0, 0, 0, hudFonts[i].weight, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE, hudFontFace);
        }
    }

    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    ~GdiCanvas() override {
        SelectObject(dc, previousBitmap);
        DeleteObject(bitmap);
        for (HFONT font : fonts) {
            if (font != nullptr) {
                DeleteObject(font);
            }
        }
        DeleteDC(dc);
    }

    void clear() override {
        GdiFlush();
        std::memset(bits, 0, static_cast<std::size_t>(width) * height * sizeof(std::uint32_t));
    }

    void fillRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                  std::uint32_t colour) override {
        const RECT area{x, y, x + w, y + h};
        const HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &area, brush);
        DeleteObject(brush);
    }

    void text(std::int32_t x, std::int32_t y, std::string_view utf8, std::int32_t font,
              std::uint32_t colour) override {
        if (font < 0 || font >= fontCount) {
            return;
        }
        const std::wstring wide = utf16(utf8);
        SelectObject(dc, fonts[static_cast<std::size_t>(font)]);
        SetTextColor(dc, colour);
        TextOutW(dc, x, y, wide.data(), static_cast<int>(wide.size()));
    }

    void line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, std::int32_t penWidth,
              std::uint32_t colour) override {
        const HPEN pen = CreatePen(PS_SOLID, penWidth, colour);
        const HGDIOBJ previous = SelectObject(dc, pen);
        MoveToEx(dc, x0, y0, nullptr);
        LineTo(dc, x1, y1);
        SelectObject(dc, previous);
        DeleteObject(pen);
    }

    std::span<std::uint32_t> pixels() override {
        GdiFlush(); // GDI may batch its drawing; the memory is complete only after the flush
        return {bits, static_cast<std::size_t>(width) * height};
    }

  private:
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    std::uint32_t* bits = nullptr; // B, G, R, X per pixel
    std::array<HFONT, fontCount> fonts{};
};

} // namespace

std::unique_ptr<HudCanvas> createGdiCanvas() {
    return std::make_unique<GdiCanvas>();
}

} // namespace zarn
