#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "render/HudCanvas.hpp"
#include "render/Renderer.hpp"

namespace zarn::test {

// One drawing call on the canvas. Rectangles keep (x, y, w, h); lines keep their two ends in
// (x, y) and (x1, y1).
struct CanvasCall {
    enum class Kind { rect, text, line };
    Kind kind = Kind::rect;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t w = 0;
    std::int32_t h = 0;
    std::int32_t x1 = 0;
    std::int32_t y1 = 0;
    std::int32_t pen = 0;
    std::string text;
    std::int32_t font = -1;
    std::uint32_t colour = 0;
};

// What a recording canvas saw since its last clear. It outlives the renderer that owns the canvas.
struct CanvasLog {
    std::vector<CanvasCall> calls;
    std::size_t clears = 0;

    std::vector<CanvasCall> of(CanvasCall::Kind kind) const {
        std::vector<CanvasCall> found;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
                     [kind](const CanvasCall& call) { return call.kind == kind; });
        return found;
    }
    // The texts drawn, in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> found;
        for (const CanvasCall& call : of(CanvasCall::Kind::text)) {
            found.push_back(call.text);
        }
        return found;
    }
    // The first text call with exactly this text; a call of no font when there is none.
    CanvasCall text(const std::string& wanted) const {
        for (const CanvasCall& call : calls) {
            if (call.kind == CanvasCall::Kind::text && call.text == wanted) {
                return call;
            }
        }
        return CanvasCall{CanvasCall::Kind::text, -1, -1, 0, 0, 0, 0, 0, "(not drawn)", -1, 0};
    }
    // The first text call drawn at (x, y).
    CanvasCall textAt(std::int32_t x, std::int32_t y) const {
        for (const CanvasCall& call : calls) {
            if (call.kind == CanvasCall::Kind::text && call.x == x && call.y == y) {
                return call;
            }
        }
        return CanvasCall{CanvasCall::Kind::text, x, y, 0, 0, 0, 0, 0, "(not drawn)", -1, 0};
    }
    bool hasRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t colour) const {
        return std::any_of(calls.begin(), calls.end(), [&](const CanvasCall& call) {
            return call.kind == CanvasCall::Kind::rect && call.x == x && call.y == y && call.w == w &&
                   call.h == h && call.colour == colour;
        });
    }
};

// A canvas that records every call and fills rectangles into its pixels (text and lines leave the
// pixels alone), so the opacity pass and the upload can be seen too.
class RecordingCanvas final : public HudCanvas {
  public:
    explicit RecordingCanvas(CanvasLog& log)
        : log(log), memory(static_cast<std::size_t>(width) * height, 0u) {}

    void clear() override {
        log.calls.clear();
        ++log.clears;
        std::fill(memory.begin(), memory.end(), 0u);
    }
    void fillRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                  std::uint32_t colour) override {
        log.calls.push_back({CanvasCall::Kind::rect, x, y, w, h, 0, 0, 0, {}, -1, colour});
        // GDI colour 0x00BBGGRR becomes the pixel's bytes B, G, R, X.
        const std::uint32_t pixel = ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
        for (std::int32_t row = std::max(y, 0); row < std::min(y + h, height); ++row) {
            for (std::int32_t column = std::max(x, 0); column < std::min(x + w, width); ++column) {
                memory[static_cast<std::size_t>(row) * width + static_cast<std::size_t>(column)] = pixel;
            }
        }
    }
    void text(std::int32_t x, std::int32_t y, std::string_view utf8, std::int32_t font,
              std::uint32_t colour) override {
        log.calls.push_back({CanvasCall::Kind::text, x, y, 0, 0, 0, 0, 0, std::string(utf8), font, colour});
    }
    void line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, std::int32_t penWidth,
              std::uint32_t colour) override {
        log.calls.push_back({CanvasCall::Kind::line, x0, y0, 0, 0, x1, y1, penWidth, {}, -1, colour});
    }
    std::span<std::uint32_t> pixels() override { return memory; }

  private:
    CanvasLog& log;
    std::vector<std::uint32_t> memory;
};

inline void attachCanvas(Renderer& renderer, CanvasLog& log) {
    renderer.canvas = std::make_unique<RecordingCanvas>(log);
}

} // namespace zarn::test
