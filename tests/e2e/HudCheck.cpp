// End-to-end check of the HUD canvas on GDI and its compositing (run under Wine and Xvfb by
// scripts/e2e-menus.sh): opens a 1280 x 720 window, draws the main menu, the world selection, the
// settings page, the in-game HUD, the pause panel and the armory over the training ground, captures
// each frame to hud-PAGE.ppm, reads the files back and checks the text by content: where a line of
// text is drawn, its band holds ink of the text's colour, set off from the panel behind it, in rows
// and columns of many different shapes. Glyphs drawn as empty boxes (a font without Chinese) give
// the same few shapes over and over, and no glyphs at all give no ink.
//
// Writes zarn-hud-check.txt (one line per picture and probe, "HUD_CHECK_OK" last when all passed)
// and, when the renderer throws, zarn-error.log with the message, as the game does.

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "render/HudCanvas.hpp"
#include "render/Renderer.hpp"
#include "render/UiState.hpp"
#include "world/Game.hpp"

namespace {

using namespace zarn;

constexpr int frameWidth = 1280;
constexpr int frameHeight = 720;

Renderer* liveRenderer = nullptr;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SIZE && wParam != SIZE_MINIMIZED && liveRenderer != nullptr) {
        try {
            liveRenderer->resize(LOWORD(lParam), HIWORD(lParam));
        } catch (...) {
            // The frame that follows reports the broken device.
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    friend bool operator<(const Rgb& a, const Rgb& c) {
        return std::array{a.r, a.g, a.b} < std::array{c.r, c.g, c.b};
    }
};

int distance(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

// A GDI colour (0x00BBGGRR) as bytes.
Rgb fromGdi(std::uint32_t colour) {
    return {static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
            static_cast<int>((colour >> 16) & 0xFF)};
}

// A line of text the page draws: where, in which font and colour, about how many character cells
// wide (a Chinese character is one cell, two Latin letters or digits about one), and whether it is
// all Chinese (slashes and spaces aside).
struct TextProbe {
    std::string name;
    int x;
    int y;
    int font;
    std::uint32_t colour;
    int cells;
    bool chinese = false;
};

struct Picture {
    std::vector<unsigned char> pixels; // RGB rows, top to bottom
    Rgb at(int x, int y) const {
        const unsigned char* p = pixels.data() + (static_cast<std::size_t>(y) * frameWidth + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

bool readPicture(const std::string& path, Picture& picture, std::vector<std::string>& failures) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> file{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    const std::string header = "P6\n1280 720\n255\n";
    if (file.size() != header.size() + std::size_t{frameWidth} * frameHeight * 3 ||
        !std::equal(header.begin(), header.end(), file.begin())) {
        failures.push_back(path + ": not a 1280 x 720 PPM (" + std::to_string(file.size()) + " bytes)");
        return false;
    }
    picture.pixels.assign(file.begin() + static_cast<std::ptrdiff_t>(header.size()), file.end());
    return true;
}

// Checks one text band of the picture; appends its measures to the summary.
void checkText(const Picture& picture, const TextProbe& probe, std::ostringstream& summary,
               std::vector<std::string>& failures) {
    const int height = hudFonts[static_cast<std::size_t>(probe.font)].height;
    const int x0 = std::max(probe.x - 2, 0);
    const int x1 = std::min(probe.x + probe.cells * height + 4, frameWidth);
    const int y0 = std::max(probe.y, 0);
    const int y1 = std::min(probe.y + height * 3 / 2, frameHeight);

    // The panel behind the text: the band's most common colour.
    std::map<Rgb, int> counts;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            ++counts[picture.at(x, y)];
        }
    }
    const Rgb background = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                               return a.second < b.second;
                           })->first;

    const Rgb colour = fromGdi(probe.colour);
    int ink = 0;
    int core = 0; // pixels of the text's own colour, the cores of the strokes
    std::set<std::string> rows;
    std::set<std::string> columns;
    std::vector<std::string> columnMasks(static_cast<std::size_t>(x1 - x0));
    for (int y = y0; y < y1; ++y) {
        std::string mask;
        for (int x = x0; x < x1; ++x) {
            const Rgb c = picture.at(x, y);
            const bool inked = distance(c, background) > 60;
            ink += inked ? 1 : 0;
            core += distance(c, colour) <= 45 ? 1 : 0;
            mask.push_back(inked ? '#' : '.');
            columnMasks[static_cast<std::size_t>(x - x0)].push_back(inked ? '#' : '.');
        }
        if (mask.find('#') != std::string::npos) {
            rows.insert(mask);
        }
    }
    for (const std::string& mask : columnMasks) {
        if (mask.find('#') != std::string::npos) {
            columns.insert(mask);
        }
    }
    const int area = (x1 - x0) * (y1 - y0);
    summary << " " << probe.name << "[ink=" << ink << "/" << area << " core=" << core
            << " rows=" << rows.size() << " columns=" << columns.size() << "]";
    const std::string where =
        probe.name + " at (" + std::to_string(probe.x) + ", " + std::to_string(probe.y) + ")";
    if (ink * 50 < area) {
        failures.push_back(where + ": almost no ink (" + std::to_string(ink) + " of " + std::to_string(area) +
                           " pixels)");
    }
    if (core < 3) {
        failures.push_back(where + ": no pixel of the text's colour");
    }
    // Boxes repeat a few shapes (top edge, sides, bottom edge); Chinese glyphs vary from nearly every
    // row and column to the next. Digits and Latin letters repeat more, so mixed lines ask less.
    const std::size_t varied = probe.chinese ? static_cast<std::size_t>(height * 3 / 5) : 4;
    if (rows.size() < varied || columns.size() < varied) {
        failures.push_back(where + ": the ink has too few shapes for glyphs (" + std::to_string(rows.size()) +
                           " rows, " + std::to_string(columns.size()) + " columns)");
    }
}

struct PageResult {
    std::string name;
    std::string summary;
    std::vector<std::string> failures;
};

PageResult drawAndCheck(Renderer& renderer, const Game& game, const UiState& ui, const std::string& name,
                        const std::vector<TextProbe>& probes) {
    PageResult result;
    result.name = name;
    const bool menu = ui.page == Page::MainMenu || ui.page == Page::WorldSelect;
    for (int frame = 0; frame < 2; ++frame) {
        pumpMessages();
        if (frame == 1) {
            renderer.keepNextFrame();
        }
        renderer.render(game, FrameOptions{menu, false, &ui});
    }
    const std::string path = "hud-" + name + ".ppm";
    if (!renderer.capture(path)) {
        result.failures.push_back(path + ": capture failed");
        return result;
    }
    Picture picture;
    if (!readPicture(path, picture, result.failures)) {
        return result;
    }
    std::ostringstream summary;
    for (const TextProbe& probe : probes) {
        checkText(picture, probe, summary, result.failures);
    }
    result.summary = summary.str();
    return result;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    std::ofstream report("zarn-hud-check.txt", std::ios::trunc);
    try {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        windowClass.lpszClassName = L"ZarnHudCheck";
        RegisterClassExW(&windowClass);
        RECT frame{0, 0, frameWidth, frameHeight};
        AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"ZARN HUD check", WS_OVERLAPPEDWINDOW, 0,
                                      0, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                      instance, nullptr);
        if (window == nullptr) {
            report << "FAIL no window\n";
            return 1;
        }
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        pumpMessages();

        Renderer renderer;
        renderer.initialize(window);
        liveRenderer = &renderer;
        report << "client=" << renderer.width << "x" << renderer.height << "\n";
        if (renderer.width != frameWidth || renderer.height != frameHeight) {
            renderer.resize(frameWidth, frameHeight);
        }

        auto game = std::make_unique<Game>();
        game->reset(true);
        game->player.position = game->world.spawnPoint;
        game->world.update(game->player.position, 0.0, game->aim());
        UiState ui;
        ui.mouseX = 200; // over the first menu button
        ui.mouseY = 360;
        ui.fps = 60.0;

        std::vector<PageResult> results;
        using namespace hudColor;

        ui.page = Page::MainMenu;
        results.push_back(drawAndCheck(renderer, *game, ui, "main-menu",
                                       {{"title", 80, 167, 5, bright, 2, true},
                                        {"enter", 100, 359, 1, buttonText, 4, true},
                                        {"settings", 100, 408, 1, buttonText, 2, true},
                                        {"quit", 100, 457, 1, buttonText, 2, true}}));

        ui.page = Page::WorldSelect;
        results.push_back(drawAndCheck(renderer, *game, ui, "world-select",
                                       {{"choose", 84, 298, 1, accent, 14, true},
                                        {"training", 100, 359, 1, buttonText, 5},
                                        {"district", 100, 408, 1, buttonText, 5}}));

        ui.page = Page::Settings;
        ui.selectedRow = 3;
        ui.input = "35";
        results.push_back(drawAndCheck(renderer, *game, ui, "settings",
                                       {{"title", 80, 183, 4, bright, 5, true},
                                        {"budget", 80, 250, 1, bright, 10},
                                        {"volume", 80, 394, 1, accent, 8},
                                        {"input", 80, 490, 0, accent, 12},
                                        {"forward", 662, 250, 0, bright, 3, true},
                                        {"page", 660, 549, 1, accent, 8}}));

        ui.page = Page::Playing;
        game->message = "训练场 / 百米跑道 / 爆破与调试键位见设置";
        game->messageUntil = game->time + 4.0;
        results.push_back(drawAndCheck(renderer, *game, ui, "playing",
                                       {{"points-label", 49, 79, 0, dim, 3, true},
                                        {"points", 49, 100, 2, accent, 3},
                                        {"combo", 226, 103, 1, accent, 5},
                                        {"loss", 37, 147, 0, bright, 9},
                                        {"health-label", 48, 628, 0, dim, 2, true},
                                        {"health", 48, 649, 3, accent, 2},
                                        {"weapon", 970, 627, 0, dim, 9},
                                        {"message", 36, 570, 1, accent, 18, true}}));

        ui.page = Page::Paused;
        results.push_back(drawAndCheck(
            renderer, *game, ui, "paused",
            {{"title", 80, 195, 4, bright, 3, true}, {"resume", 100, 285, 1, buttonText, 4, true}}));

        ui.page = Page::Armory;
        results.push_back(drawAndCheck(renderer, *game, ui, "armory",
                                       {{"title", 359, 198, 3, bright, 7},
                                        {"points", 359, 251, 1, accent, 8},
                                        {"tier-1", 359, 301, 0, dim, 17, true},
                                        {"owned", 829, 301, 0, accent, 3, true},
                                        {"buy", 359, 481, 1, accent, 17}}));

        bool passed = true;
        for (const PageResult& result : results) {
            report << result.name << ":" << result.summary << "\n";
            for (const std::string& failure : result.failures) {
                report << "FAIL " << result.name << ": " << failure << "\n";
                passed = false;
            }
        }
        liveRenderer = nullptr;
        DestroyWindow(window);
        if (!passed) {
            return 1;
        }
        report << "HUD_CHECK_OK\n";
        return 0;
    } catch (const std::exception& error) {
        liveRenderer = nullptr;
        std::ofstream log("zarn-error.log", std::ios::trunc);
        log << error.what() << "\n";
        report << "FAIL exception: " << error.what() << "\n";
        return 2;
    }
}
