// End-to-end check of the renderer on a real device (run under Wine and Xvfb by
// scripts/e2e-render.sh): opens a 1280 x 720 window, draws frames of the training ground, the
// collapsing test gate, the city from its spawn point and the menu's view of the city, captures each
// to a PPM file, reads the files back and checks them by content. Every sampled pixel's colour is
// predicted from the world itself: a ray through the pixel centre either leaves the scene (sky) or
// hits a piece, whose colour, face shading and distance fog give the expected pixel. Then the Earth's
// outskirts at noon, dusk and midnight and the Earth from orbit, the stars from space and the Moon's
// ground, each checked by what its scene puts where (darker by the hour, the planet in the middle,
// star points on black, grey ground under a black sky).
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
#include <memory>
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

// ---- the Earth and the stars: their pictures are checked by what each scene puts where ----

// Shares of the sampled pixels (every 4th of a band of rows) that are dark, bright or grey, and their
// mean brightness (0..255).
struct Tally {
    double mean = 0.0;
    double dark = 0.0;   // every channel below 24
    double bright = 0.0; // some channel above 150
    double grey = 0.0;   // neither dark nor coloured: channels within 12 of each other
};

Tally tally(const std::vector<unsigned char>& pixels, int top, int bottom) {
    Tally t;
    int n = 0;
    for (int py = top; py < bottom; py += 4) {
        for (int px = 0; px < frameWidth; px += 4) {
            const unsigned char* p = pixels.data() + (static_cast<std::size_t>(py) * frameWidth + px) * 3;
            const int lo = std::min({p[0], p[1], p[2]});
            const int hi = std::max({p[0], p[1], p[2]});
            t.mean += (p[0] + p[1] + p[2]) / 3.0;
            t.dark += hi < 24 ? 1 : 0;
            t.bright += hi > 150 ? 1 : 0;
            t.grey += hi >= 24 && hi - lo <= 12 ? 1 : 0;
            ++n;
        }
    }
    t.mean /= n;
    t.dark /= n;
    t.bright /= n;
    t.grey /= n;
    return t;
}

// Three frames of a world of the Earth or the stars, the last kept and captured; the pixels of the
// captured file (without its header), empty when it could not be taken.
std::vector<unsigned char> drawAndCapture(Renderer& renderer, const Game& game, const std::string& name,
                                          FrameResult& result) {
    result.name = name;
    for (int frame = 0; frame < 3; ++frame) {
        pumpMessages();
        if (frame == 2) {
            renderer.keepNextFrame();
        }
        renderer.render(game, FrameOptions{false, false});
    }
    const std::string path = name + ".ppm";
    std::vector<unsigned char> file;
    if (renderer.capture(path)) {
        file = readFile(path);
    }
    const std::size_t header = 16;
    if (file.size() != header + std::size_t{frameWidth} * frameHeight * 3) {
        result.failures.push_back(path + ": no 1280 x 720 picture");
        return {};
    }
    return {file.begin() + header, file.end()};
}

void expect(FrameResult& result, bool condition, const std::string& what) {
    if (!condition) {
        result.failures.push_back(result.name + ": " + what);
    }
}

std::string describe(const Tally& t) {
    std::ostringstream text;
    text << "mean=" << std::lround(t.mean) << " dark=" << std::lround(100 * t.dark)
         << "% bright=" << std::lround(100 * t.bright) << "% grey=" << std::lround(100 * t.grey) << "%";
    return text.str();
}

// A game of no matter, buildings, enemies or supplies, for a world of the Earth or the stars.
std::unique_ptr<Game> bareGame() {
    auto game = std::make_unique<Game>();
    game->enemies.clear();
    game->supplies.clear();
    game->world.physics.clear();
    game->world.buildings.clear();
    return game;
}

// The Earth world around the player: the engine follows it, streams a ring of terrain chunks and
// makes the overview; the day sets the sky as the world would.
void placeOnEarth(Game& game, const Vec3& position, double yaw, double pitch, double phase) {
    game.player.position = position;
    game.player.yaw = yaw;
    game.player.pitch = pitch;
    World& world = game.world;
    world.dayCycle.phase = phase;
    world.dayCycle.observer = steadyEye(game);
    world.skyColor = earthSkyColor(world.dayCycle.solarClearance());
    world.terrainCell = {std::floor(position.x / 256.0) * 256.0, std::floor(position.y / 256.0) * 256.0,
                         std::floor(position.z / 256.0) * 256.0};
    for (int pass = 0; pass < 8; ++pass) {
        world.earth->update(world.physics, position, game.aim(), 0.0);
    }
}

void checkEarth(Renderer& renderer, std::vector<FrameResult>& results) {
    auto game = bareGame();
    game->world.earth.emplace();
    game->world.earth->initialize(game->world.physics);
    const double ground = game->world.earth->model.surface(5000.0, 0.0, false);
    const Vec3 outskirts{5000.0, ground + 1.0, 0.0};

    // The outskirts at noon, at dusk and at midnight: each darker than the one before.
    const std::array<std::pair<const char*, double>, 3> days{
        {{"earth-day", 0.0}, {"earth-dusk", 0.25}, {"earth-night", 0.5}}};
    double previous = 256.0;
    for (const auto& [name, phase] : days) {
        placeOnEarth(*game, outskirts, 0.7, -0.1, phase);
        FrameResult result;
        const std::vector<unsigned char> pixels = drawAndCapture(renderer, *game, name, result);
        if (!pixels.empty()) {
            const Tally whole = tally(pixels, 0, frameHeight);
            result.summary = describe(whole);
            expect(result, whole.mean < previous - 5.0, "not darker than the picture of the hour before");
            expect(result, tally(pixels, frameHeight / 2, frameHeight).mean > 1.0, "no ground below");
            previous = whole.mean;
        }
        results.push_back(result);
    }

    // From 14,000 km at noon the planet's disc fills the lower part of the view; above its limb the
    // cleared sky shows.
    placeOnEarth(*game, {0.0, 14'000'000.0, 0.0}, 0.0, -1.55, 0.0);
    FrameResult orbit;
    const std::vector<unsigned char> pixels = drawAndCapture(renderer, *game, "earth-orbit", orbit);
    if (!pixels.empty()) {
        const Tally centre = tally(pixels, frameHeight / 2 - 40, frameHeight / 2 + 40);
        orbit.summary = describe(centre) + " top: " + describe(tally(pixels, 0, 8));
        const Rgb sky = toBytes(game->world.skyColor);
        const unsigned char* middle = pixels.data() + (std::size_t{frameHeight / 2} * frameWidth + 640) * 3;
        expect(orbit, !similar({middle[0], middle[1], middle[2]}, sky), "the planet is not in the middle");
        expect(orbit, centre.dark < 0.5, "the planet's face is dark at noon");
    }
    results.push_back(orbit);
}

// The star world with the player at the position in the frame of the body (or free space for -1).
void placeAmongStars(Game& game, const Vec3& position, double pitch) {
    game.player.position = position;
    game.player.yaw = 0.0;
    game.player.pitch = pitch;
    World& world = game.world;
    Stars& stars = *world.stars;
    const Vec3 eye = position + Vec3{0.0, 1.65, 0.0};
    stars.select(eye);
    stars.refreshSky(eye);
    stars.terrain(world.physics, eye);
    world.physics.gravity = stars.gravity(eye);
    world.skyColor = stars.sky(eye);
    world.terrainCell = {0.0, std::floor(position.y / 256.0) * 256.0, 0.0};
}

void checkStars(Renderer& renderer, std::vector<FrameResult>& results) {
    auto game = bareGame();
    Stars& stars = game->world.stars.emplace();

    // 30,000 km above the Earth looking a little down: star points on black, the Earth below.
    placeAmongStars(*game, {0.0, 30'000'000.0, 0.0}, -0.4);
    FrameResult space;
    std::vector<unsigned char> pixels = drawAndCapture(renderer, *game, "stars-space", space);
    if (!pixels.empty()) {
        const Tally top = tally(pixels, 0, frameHeight / 3);
        space.summary = describe(top) + " sky=" + std::to_string(stars.skyPoints.size());
        expect(space, top.dark > 0.8, "the sky is not black");
        std::size_t points = 0;
        for (std::size_t i = 0; i < pixels.size() / 3; ++i) {
            points += std::max({pixels[3 * i], pixels[3 * i + 1], pixels[3 * i + 2]}) > 150 ? 1 : 0;
        }
        space.summary += " bright_pixels=" + std::to_string(points);
        expect(space, points >= 20, "fewer than 20 bright star pixels");
    }
    results.push_back(space);

    // On the Moon, 80 m up at its noon: grey ground under a black sky.
    const Vec3 c = stars.center(9);
    const double r = stars.bodies[9].radius;
    placeAmongStars(*game, stars.rebase(9, {c.x, c.y + r + 80.0, c.z}), -0.08);
    FrameResult moon;
    pixels = drawAndCapture(renderer, *game, "moon", moon);
    if (!pixels.empty()) {
        const Tally sky = tally(pixels, 0, 60);
        const Tally ground = tally(pixels, frameHeight - 200, frameHeight);
        moon.summary = "sky: " + describe(sky) + " ground: " + describe(ground);
        expect(moon, sky.dark > 0.9, "the sky is not black");
        expect(moon, ground.grey > 0.6, "the ground is not grey");
    }
    results.push_back(moon);
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
        checkEarth(renderer, results);
        checkStars(renderer, results);

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
