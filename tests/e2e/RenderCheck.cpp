// End-to-end check of the renderer on a real device (run under Wine and Xvfb by
// scripts/e2e-render.sh): opens a 1280 x 720 window, draws frames of the training ground, the
// collapsing test gate, the city from its spawn point and the menu's view of the city, captures each
// to a PPM file, reads the files back and checks them by content. Every sampled pixel's colour is
// predicted from the world itself: a ray through the pixel centre either leaves the scene (sky) or
// hits a piece, whose colour, face shading and distance fog give the expected pixel.
//
// Writes zarn-render-check.txt (one line per frame and check, "RENDER_CHECK_OK" last when all
// passed) and, when the renderer throws, zarn-error.log with the message, as the game does.

#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace {

using namespace zarn;

constexpr int frameWidth = 1280;
constexpr int frameHeight = 720;
constexpr double focus = 1.3270448;
constexpr double farthestDrawn = 2963.0; // m of view depth at depth 1
constexpr int sampleStep = 20;           // px between sampled pixels
constexpr int tolerance = 4;             // of 255 per channel
constexpr double requiredMatch = 0.9;    // share of samples that match; edges and slivers miss

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
};

Rgb toBytes(const Vec3& c) {
    auto byte = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return {byte(c.x), byte(c.y), byte(c.z)};
}

bool similar(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// The colour a pixel should have: sky, or the piece the ray through its centre meets first.
struct Prediction {
    bool sky = true;
    Rgb color;
};

Prediction predict(const Game& game, const View& view, int px, int py) {
    const Vec3 fog{0.42, 0.48, 0.49};
    const double aspect = static_cast<double>(frameWidth) / frameHeight;
    const double x = ((px + 0.5) / frameWidth * 2.0 - 1.0) * aspect / focus;
    const double y = (1.0 - (py + 0.5) / frameHeight * 2.0) / focus;
    const Vec3 direction = normalized(view.forward + view.right * x + view.up * y);
    const MatterHit hit = game.world.traceLine(view.eye, direction, 4000.0);
    if (!hit.hit || dot(hit.point - view.eye, view.forward) > farthestDrawn || hit.piece < 0) {
        return {true, toBytes(game.world.skyColor)};
    }
    const MatterPiece& piece = game.world.physics.pieces[static_cast<std::size_t>(hit.piece)];
    // The face hit, in the piece's own axes: the one the hit point lies closest to.
    const Vec3 local = piece.body.orientation.rotateInverse(hit.point - piece.body.center);
    int axis = 0;
    for (int k = 1; k < 3; ++k) {
        if (std::abs(std::abs(local[k]) - piece.body.halfExtents[k]) <
            std::abs(std::abs(local[axis]) - piece.body.halfExtents[axis])) {
            axis = k;
        }
    }
    static constexpr std::array<std::array<double, 2>, 3> shades{{{0.6, 0.9}, {0.5, 1.0}, {0.8, 0.7}}};
    const double shade = shades[static_cast<std::size_t>(axis)][local[axis] > 0.0 ? 1 : 0];
    Vec3 color = piece.color * shade;
    if (!piece.indoor) {
        const double f = std::clamp((length(hit.point - view.eye) - 130.0) / 1550.0, 0.0, 1.0);
        color = color + (fog - color) * f;
    }
    return {false, toBytes(color)};
}

struct FrameResult {
    std::string name;
    std::vector<std::string> failures;
    std::string summary;
};

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads the captured file back and compares it with the world.
void checkPicture(const std::string& path, const Game& game, const View& view, FrameResult& result) {
    const std::vector<unsigned char> file = readFile(path);
    const std::string header = "P6\n1280 720\n255\n";
    const std::size_t expectedSize = header.size() + std::size_t{frameWidth} * frameHeight * 3;
    if (file.size() != expectedSize || !std::equal(header.begin(), header.end(), file.begin())) {
        result.failures.push_back(path + ": not a 1280 x 720 PPM of " + std::to_string(expectedSize) +
                                  " bytes (" + std::to_string(file.size()) + " bytes)");
        return;
    }
    const unsigned char* pixels = file.data() + header.size();
    auto pixel = [&](int px, int py) {
        const unsigned char* p = pixels + (static_cast<std::size_t>(py) * frameWidth + px) * 3;
        return Rgb{p[0], p[1], p[2]};
    };

    // Not black, not one flat colour.
    std::size_t black = 0;
    std::vector<std::uint32_t> colours;
    for (int py = 0; py < frameHeight; py += 4) {
        for (int px = 0; px < frameWidth; px += 4) {
            const Rgb c = pixel(px, py);
            black += (c.r + c.g + c.b) < 6 ? 1 : 0;
            colours.push_back(static_cast<std::uint32_t>(c.r << 16 | c.g << 8 | c.b));
        }
    }
    std::sort(colours.begin(), colours.end());
    const auto distinct = std::distance(colours.begin(), std::unique(colours.begin(), colours.end()));
    if (black * 100 > colours.size()) {
        result.failures.push_back(path + ": " + std::to_string(black) + " black samples");
    }
    if (distinct < 8) {
        result.failures.push_back(path + ": only " + std::to_string(distinct) + " colours");
    }

    // Sky at the top rows where the world leaves them open, matter below the horizon.
    const Rgb sky = toBytes(game.world.skyColor);
    int topSky = 0;
    for (int px = 0; px < frameWidth; ++px) {
        topSky += similar(pixel(px, 0), sky) ? 1 : 0;
    }
    int bottomMatter = 0;
    for (int px = 0; px < frameWidth; ++px) {
        bottomMatter += similar(pixel(px, frameHeight - 1), sky) ? 0 : 1;
    }

    int samples = 0;
    int matches = 0;
    int skySamples = 0;
    int matterSamples = 0;
    std::string firstMiss;
    for (int py = sampleStep / 2; py < frameHeight; py += sampleStep) {
        for (int px = sampleStep / 2; px < frameWidth; px += sampleStep) {
            const Prediction expected = predict(game, view, px, py);
            const Rgb actual = pixel(px, py);
            ++samples;
            (expected.sky ? skySamples : matterSamples) += 1;
            if (similar(actual, expected.color)) {
                ++matches;
            } else if (firstMiss.empty()) {
                std::ostringstream miss;
                miss << " first miss at (" << px << ", " << py << "): " << actual.r << "," << actual.g << ","
                     << actual.b << " for " << expected.color.r << "," << expected.color.g << ","
                     << expected.color.b << (expected.sky ? " (sky)" : " (matter)");
                firstMiss = miss.str();
            }
        }
    }
    const double share = static_cast<double>(matches) / samples;
    std::ostringstream summary;
    summary << "samples=" << samples << " matching=" << matches << " sky=" << skySamples
            << " matter=" << matterSamples << " top_sky=" << topSky << "/" << frameWidth
            << " bottom_matter=" << bottomMatter << "/" << frameWidth << " colours=" << distinct;
    result.summary += summary.str();
    if (share < requiredMatch) {
        result.failures.push_back(path + ": " + std::to_string(matches) + " of " + std::to_string(samples) +
                                  " sampled pixels as predicted;" + firstMiss);
    }
    if (skySamples == 0 || matterSamples == 0) {
        result.failures.push_back(path + ": the view should hold both sky and matter");
    }
    if (bottomMatter < frameWidth * 9 / 10) {
        result.failures.push_back(path + ": the bottom row is not matter");
    }
}

// Draws a few frames of the game, keeps the last for capture and checks the captured picture. The
// frames before the last look another way, so a capture of any frame but the last one fails.
FrameResult drawAndCheck(Renderer& renderer, Game& game, const std::string& name, bool menu,
                         bool expectUploads) {
    FrameResult result;
    result.name = name;
    const FrameOptions options{menu, false};
    std::ostringstream counts;
    const double yaw = game.player.yaw;
    for (int frame = 0; frame < 3; ++frame) {
        pumpMessages();
        game.player.yaw = frame == 2 ? yaw : yaw + 1.5;
        if (frame == 2) {
            renderer.keepNextFrame();
        }
        renderer.render(game, options);
        counts << " frame" << frame << "_uploads=" << renderer.staticUploads << " frame" << frame
               << "_draws=" << renderer.staticDraws;
        if (frame == 0 && expectUploads && renderer.staticUploads == 0) {
            result.failures.push_back(name + ": the first frame built no static chunk");
        }
        if (frame > 0 && renderer.staticUploads != 0) {
            result.failures.push_back(name + ": frame " + std::to_string(frame) + " rebuilt " +
                                      std::to_string(renderer.staticUploads) +
                                      " chunks of an unchanged world");
        }
        if (renderer.staticDraws == 0) {
            result.failures.push_back(name + ": no static chunk drawn");
        }
    }
    const std::string path = name + ".ppm";
    if (!renderer.capture(path)) {
        result.failures.push_back(path + ": capture failed");
        return result;
    }
    checkPicture(path, game, frameView(game, menu), result);
    result.summary += counts.str();
    return result;
}

void placePlayer(Game& game, const Vec3& position, double pitch) {
    game.player.position = position;
    game.player.yaw = 0.0;
    game.player.pitch = pitch;
    game.world.update(game.player.position, 0.0, game.aim());
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    std::ofstream report("zarn-render-check.txt", std::ios::trunc);
    try {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        windowClass.lpszClassName = L"ZarnRenderCheck";
        RegisterClassExW(&windowClass);
        RECT frame{0, 0, frameWidth, frameHeight};
        AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"ZARN render check", WS_OVERLAPPEDWINDOW,
                                      0, 0, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                      nullptr, instance, nullptr);
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
            // The pictures are checked at 1280 x 720; the window must give that client area.
            renderer.resize(frameWidth, frameHeight);
        }

        std::vector<FrameResult> results;
        auto game = std::make_unique<Game>();

        game->reset(true);
        placePlayer(*game, game->world.spawnPoint, 0.0);
        results.push_back(drawAndCheck(renderer, *game, "training", false, true));

        // The demolition charge at the gate's left post, half a second into the collapse.
        game->world.demolitionTest();
        for (int i = 0; i < 30; ++i) {
            game->world.physics.step(Game::physicsStep);
        }
        const std::uint64_t moving = game->world.physics.movingPieceCount();
        results.push_back(drawAndCheck(renderer, *game, "collapse", false, false));
        results.back().summary += " moving=" + std::to_string(moving);
        if (moving == 0) {
            results.back().failures.push_back("collapse: nothing moves after the demolition charge");
        }

        game->reset(false);
        placePlayer(*game, game->world.spawnPoint, 0.0);
        results.push_back(drawAndCheck(renderer, *game, "city", false, true));
        results.push_back(drawAndCheck(renderer, *game, "menu", true, false));

        bool passed = true;
        for (const FrameResult& result : results) {
            report << result.name << ": " << result.summary << "\n";
            for (const std::string& failure : result.failures) {
                report << "FAIL " << failure << "\n";
                passed = false;
            }
        }
        liveRenderer = nullptr;
        DestroyWindow(window);
        if (!passed) {
            return 1;
        }
        report << "RENDER_CHECK_OK\n";
        return 0;
    } catch (const std::exception& error) {
        liveRenderer = nullptr;
        std::ofstream log("zarn-error.log", std::ios::trunc);
        log << error.what() << "\n";
        report << "FAIL exception: " << error.what() << "\n";
        return 2;
    }
}
