#include "app/Application.hpp"

#include <algorithm>
#include <fstream>
#include <utility>

#include "render/MenuLayout.hpp"

namespace zarn {

namespace {

constexpr const char* settingsFile = "config.ini";
constexpr const char* screenshotFile = "zarn-smoke.ppm";
constexpr const char* reportFile = "zarn-smoke.txt";

// Where --play and --collapse put the player: before the city's resupply point, and before the
// training ground's test gate looking at it.
constexpr Vec3 playStart{0.0, 0.0, -110.0};
constexpr double playPitch = 0.13;
constexpr Vec3 collapseStart{0.0, 0.0, -480.0};
constexpr double collapsePitch = 0.06;
constexpr double shootPitch = -1.3; // looking at the ground just ahead
constexpr Vec3 districtOverlook{-850.0, 260.0, -100.0};
constexpr double districtOverlookYaw = 1.3;
constexpr double districtOverlookPitch = 0.2;

constexpr double airModeLift = 100.0;   // m along up
constexpr double airModeSpeed = 20.0;   // m/s along the aim
constexpr double airModeClimb = 5.0;    // m/s along up
constexpr std::int32_t inputLimit = 12; // characters typed on the settings page

bool menuCamera(Page page) {
    return page == Page::MainMenu || page == Page::WorldSelect;
}

} // namespace

Application::Application(std::filesystem::path executableFolder) : folder(std::move(executableFolder)) {
    game.reset(true);
    loadSettings();
}

// ---- settings ----

Settings Application::currentSettings() const {
    Settings settings;
    settings.sensitivity = ui.sensitivity;
    settings.volume = ui.volume;
    settings.motionLimit = game.world.physics.motionLimit;
    settings.impactMultiplier = game.impactMultiplier;
    settings.rotationMultiplier = userRotationMultiplier.value_or(game.world.dayCycle.rate);
    settings.bindings = ui.bindings;
    return settings;
}

void Application::applySettings(const Settings& settings) {
    ui.sensitivity = settings.sensitivity;
    ui.volume = settings.volume;
    ui.bindings = settings.bindings;
    game.world.physics.motionLimit = settings.motionLimit;
    game.impactMultiplier = settings.impactMultiplier;
    game.world.dayCycle.rate = settings.rotationMultiplier;
}

void Application::loadSettings() {
    Settings settings = currentSettings();
    loadSettingsFile(folder / settingsFile, settings);
    applySettings(settings);
}

void Application::saveSettings() {
    saveSettingsFile(folder / settingsFile, currentSettings());
}

void Application::freezeDayCycle() {
    if (!userRotationMultiplier) {
        userRotationMultiplier = game.world.dayCycle.rate;
    }
    game.world.dayCycle.rate = 0.0;
}

// ---- command line ----

void Application::applyEarlyOptions(const CommandLineOptions& options) {
    if (options.smoke) {
        smokeFrames = smokeRunFrames;
    }
    playAtStart = options.play;
    collapseAtStart = options.collapse;
}

void Application::applyLateOptions(const CommandLineOptions& options) {
    if (playAtStart || collapseAtStart) {
        startTrainingGround();
        game.player.position = playStart;
        game.player.pitch = playPitch;
        if (collapseAtStart) {
            game.player.position = collapseStart;
            game.player.pitch = collapsePitch;
            game.demolitionTest();
            smokeFrames = collapseRunFrames;
        }
    }
    // The district, through the same loader as the world selection; in an unattended run the player
    // then looks over it from above its western edge. A load that fails leaves its message in
    // worldLoadError, so an unattended run does not pass.
    if (options.lujiazui && startRequestedWorld(false, false) && smokeFrames != 0) {
        game.player.position = districtOverlook;
        game.player.yaw = districtOverlookYaw;
        game.player.pitch = districtOverlookPitch;
    }
    if (options.stars) {
        startRequestedWorld(false, true);
    }
    if (options.earth) {
        startRequestedWorld(true, false);
    }

    if (smokeFrames == 0) {
        return; // the probes and placements below are for unattended runs only
    }
    placeInStarWorld(options);
    if (inEarthWorld()) {
        placeOnEarth(options);
    }
    lightingProbe = options.lightingProbe;
    if (inEarthWorld()) {
        setEarthDay(options);
    }
    if (options.airMode) {
        launchAirMode();
    }
    if (options.shoot) {
        smokeFrames = shootRunFrames;
        shootRun = true;
        game.player.position = game.world.spawnPoint;
        game.player.pitch = shootPitch;
    }
}

bool Application::startRequestedWorld(bool earth, bool stars) {
    if (startLujiazui(earth, stars)) {
        return true;
    }
    worldLoadError = ui.caption;
    return false;
}

void Application::launchAirMode() {
    const Vec3 up = game.world.gravityUp();
    Player& player = game.player;
    player.position = player.position + up * airModeLift;
    player.airMode = true;
    player.jumpCount = 2;
    player.velocity = game.aim() * airModeSpeed + up * airModeClimb;
}

// ---- the main loop ----

void Application::startLoop(double now) {
    lastPass = now;
    frames = 0;
    accumulator.reset();
    clockRestart = false;
}

void Application::pass(double now, bool minimised) {
    if (clockRestart) {
        lastPass = now;
        clockRestart = false;
    } else {
        ui.fps = smoothFps(ui.fps, now - lastPass);
    }
    simulate(now - lastPass);
    playSounds();
    if (!minimised) {
        drawFrame();
    }
    lastPass = now;
}

void Application::simulate(double dt) {
    if (ui.page != Page::Playing || !active || lightingProbe) {
        accumulator.reset();
        return;
    }
    const std::int64_t steps = accumulator.take(dt);
    for (std::int64_t i = 0; i < steps; ++i) {
        const Input input = stepInput(keyDown, keyPresses, ui.bindings);
        game.tick(input, Game::fixedStep);
    }
}

void Application::playSounds() {
    // The sounds that reached the listener in this pass's steps, in the order they arrived, then the
    // pending weapon sound; what finds no free buffer is dropped, and both are used up either way.
    const Vec3 ear = game.eye();
    for (const CollisionSound& sound : game.heardSounds) {
        audio.playCollision(sound, ear, ui.volume);
    }
    game.heardSounds.clear();
    if (game.shotSound != 0) {
        audio.playShot(game.shotSound, game.weapon, ui.volume);
    }
    game.shotSound = 0;
}

void Application::drawFrame() {
    if (shootRun && (frames == firstShotFrame || frames == secondShotFrame)) {
        game.shoot();
    }
    const bool lastFrame = smokeFrames != 0 && frames + 1 >= smokeFrames;
    if (lastFrame) {
        renderer.keepNextFrame(); // the picture is taken before the frame is presented
    }
    renderer.render(game, FrameOptions{menuCamera(ui.page), ui.physicsDebug, &ui});
    ++frames;
    if (smokeFrames != 0 && frames >= smokeFrames) {
        finishUnattendedRun();
    }
}

SmokeReport Application::smokeReport(bool captured) const {
    const World& world = game.world;
    SmokeReport report;
    report.frames = frames;
    report.buildings = world.buildings.size();
    report.fps = ui.fps;
    report.fractures = world.physics.fractureCount;
    report.active = world.physics.movingPieceCount();
    report.staticUploads = renderer.staticUploads;
    report.staticDraws = renderer.staticDraws;
    // Only the Earth world has organisms; the star world's empty ecology counts for nothing.
    if (world.earth && !world.stars) {
        const Ecology& ecology = world.earth->ecology;
        report.organisms = ecology.organisms.size();
        report.ecologyBirths = ecology.births;
        report.ecologyGrayBlocks = ecology.grayBlocks;
    }
    report.rotationMultiplier = world.dayCycle.rate;
    report.rotationPhase = world.dayCycle.phase;
    report.up = world.gravityUp();
    report.captured = captured;
    report.worldLoadError = worldLoadError;
    return report;
}

void Application::finishUnattendedRun() {
    const bool captured = renderer.capture(folder / screenshotFile);
    const SmokeReport report = smokeReport(captured);
    unattendedPassed = report.passed();
    std::ofstream out(folder / reportFile, std::ios::binary | std::ios::trunc);
    out << smokeReportText(report); // a report that cannot be written is skipped
    out.close();
    saveSettings();
    setMouseCapture(false);
    running = false;
}

// ---- page changes ----

void Application::resetInput() {
    ui.awaitingKey = false;
    if (host != nullptr) {
        host->detachIme();
    }
    forgetKeys();
    game.triggerHeld = false;
}

void Application::holdKey(std::int32_t code) {
    keyDown[static_cast<std::size_t>(code)] = 1;
    keyPresses.press(code);
}

void Application::forgetKeys() {
    keyDown.fill(0);
    keyPresses.clear();
}

void Application::setMouseCapture(bool captured) {
    if (captured == mouseCaptured) {
        return;
    }
    mouseCaptured = captured;
    if (host != nullptr) {
        host->clipCursor(captured);
    }
}

void Application::enterPlay() {
    ui.page = Page::Playing;
    resetInput();
    setMouseCapture(active);
}

void Application::leavePlay(Page page) {
    ui.page = page;
    resetInput();
    setMouseCapture(false);
}

void Application::quit() {
    saveSettings();
    setMouseCapture(false);
    running = false;
}

void Application::startTrainingGround() {
    game.reset(true);
    ui.caption.clear();
    enterPlay();
    restartClock();
}

// ---- window messages ----

void Application::activate(bool isActive) {
    active = isActive;
    if (active) {
        return; // the mouse is captured again only when play is entered
    }
    forgetKeys();
    game.warpTaps = 0;
    setMouseCapture(false);
    if (ui.page == Page::Playing) {
        leavePlay(Page::Paused);
    }
}

void Application::resized(std::int32_t width, std::int32_t height, bool minimised) {
    if (!minimised && windowReady) {
        renderer.resize(width, height);
    }
}

void Application::closeRequested() {
    quit();
}

void Application::keyPressed(std::int32_t code, bool alt, bool repeat) {
    if (code == keyCode::f4 && alt) {
        quit();
        return;
    }
    if (code < 0 || code > 255) {
        return;
    }
    if (repeat) {
        keyDown[static_cast<std::size_t>(code)] = 1; // held on, no new press
        return;
    }
    key(code);
    holdKey(code);
}

void Application::keyReleased(std::int32_t code) {
    if (code >= 0 && code <= 255) {
        keyDown[static_cast<std::size_t>(code)] = 0;
    }
}

void Application::charTyped(std::uint32_t character) {
    const bool valueRow = ui.selectedRow >= 0 && ui.selectedRow <= 4;
    const bool numeric = (character >= '0' && character <= '9') || character == '.';
    if (ui.page == Page::Settings && !ui.awaitingKey && valueRow && numeric &&
        ui.input.size() < static_cast<std::size_t>(inputLimit)) {
        ui.input.push_back(static_cast<char>(character));
    }
}

void Application::mouseMoved(std::int32_t x, std::int32_t y, std::int32_t clientWidth,
                             std::int32_t clientHeight) {
    ui.mouseX = x * Renderer::canvasWidth / std::max(clientWidth, 1);
    ui.mouseY = y * Renderer::canvasHeight / std::max(clientHeight, 1);
}

void Application::buttonPressed(std::int32_t code) {
    if (ui.awaitingKey || ui.page == Page::Playing) {
        key(code);
        holdKey(code);
    } else if (code == keyCode::leftButton) {
        click(); // a click on a menu row is no key: keyDown stays as it is
    }
}

void Application::buttonReleased(std::int32_t code) {
    keyDown[static_cast<std::size_t>(code)] = 0;
}

void Application::click() {
    const std::int32_t x = ui.mouseX;
    const std::int32_t y = ui.mouseY;
    if (ui.page != Page::Settings) {
        const std::int32_t row = menuRowAt(ui.page, x, y);
        if (row >= 0) {
            activateMenu(row);
        }
        return;
    }
    // The same rows the settings page draws.
    using namespace menuLayout;
    if (const std::int32_t row = valueRowAt(x, y); row >= 0) {
        ui.selectedRow = row;
        ui.input.clear();
    } else if (const std::int32_t binding = bindingRowAt(x, y); binding >= 0) {
        ui.awaitingKey = true;
        ui.selectedRow = ui.bindingPage * bindingRows + binding + 5;
    } else if (onPageSwitch(x, y)) {
        ui.bindingPage = (ui.bindingPage + 1) % bindingPages;
        ui.selectedRow = ui.bindingPage * bindingRows + 5;
    }
}

void Application::wheelTurned(std::int32_t delta) {
    if (ui.page != Page::Playing) {
        return;
    }
    game.movementKey(false, -1.0); // the wheel ends a series of forward taps like any other key
    const std::int32_t slot = cycledWeapon(game.weapon, game.level, delta > 0 ? -1 : 1);
    if (slot >= 0) {
        game.selectWeapon(slot);
    }
}

void Application::mouseLook(std::int32_t dx, std::int32_t dy) {
    if (!mouseCaptured || ui.page != Page::Playing || game.dead || smokeFrames != 0) {
        return;
    }
    const bool scoped = game.weapon >= 0 && game.weapon < weaponCount &&
                        game.slots[static_cast<std::size_t>(game.weapon)].scoped;
    turnView(game.player, dx, dy, ui.sensitivity * (scoped ? scopedSensitivity : 1.0));
}

} // namespace zarn
