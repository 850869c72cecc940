#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "app/Audio.hpp"
#include "app/CommandLine.hpp"
#include "app/Controls.hpp"
#include "app/Settings.hpp"
#include "app/SmokeReport.hpp"
#include "render/Renderer.hpp"
#include "render/UiState.hpp"
#include "world/Game.hpp"

namespace zarn {

// What the shell asks of its window. The Windows shell carries it out; tests record it.
class WindowHost {
  public:
    virtual ~WindowHost() = default;
    // Captured: the cursor is clipped to the client area and hidden. Released: freed and shown.
    virtual void clipCursor(bool captured) = 0;
    // Takes the input method away from the window, so typed keys arrive as keys.
    virtual void detachIme() = 0;
    // Borderless over the whole monitor, or back to the window rectangle it had before.
    virtual void setFullscreen(bool fullscreen) = 0;
    // The system's clock in seconds, for the star warp's forward taps; negative (the default) lets
    // the game use its own time.
    virtual double tickSeconds() const { return -1.0; }
};

// The application: the renderer, the game and the shell's state, driven by the window's messages and
// by the main loop's passes. The platform layer owns the window and the clock; everything it learns
// arrives here as calls, and everything the window has to do leaves through the WindowHost.
class Application {
  public:
    static constexpr std::int32_t smokeRunFrames = 120;
    static constexpr std::int32_t collapseRunFrames = 360;
    static constexpr std::int32_t shootRunFrames = 240;
    static constexpr std::int32_t firstShotFrame = 20;
    static constexpr std::int32_t secondShotFrame = 70;

    Renderer renderer; // its backend is set by the platform layer (or a test)
    Game game;         // replaced as a whole when another world is loaded
    UiState ui;
    // The sound device and its twelve buffers. The platform layer opens the device right after
    // constructing the application (a test may set a fake); without one the game runs silent.
    Audio audio;
    bool running = true;
    bool active = true;       // the window belongs to the active application
    bool windowReady = false; // the renderer has its device; size changes reach it from now on
    bool mouseCaptured = false;
    Page settingsReturn = Page::MainMenu; // where the settings page returns to
    KeyState keyDown{};
    KeyPresses keyPresses;        // presses kept until a fixed step has seen them
    std::int32_t smokeFrames = 0; // frame limit of an unattended run; 0 = none
    bool playAtStart = false;
    bool collapseAtStart = false;
    std::filesystem::path folder; // the executable's folder: config.ini and the smoke outputs

    // Unattended-run state.
    bool shootRun = false;      // fire before the frames 20 and 70
    bool lightingProbe = false; // no fixed step runs
    std::string worldLoadError; // set when a world the command line asked for did not load
    bool unattendedPassed = false;

    // The main loop's own state.
    std::int64_t frames = 0; // frames drawn
    StepAccumulator accumulator;
    double lastPass = 0.0;     // s on the platform's steady clock
    bool clockRestart = false; // the next pass measures from its own start

    WindowHost* host = nullptr; // null: nothing happens to a window (tests without one)

    // Builds the game (the demolition city), puts it into the training ground and reads config.ini
    // from the folder.
    explicit Application(std::filesystem::path folder);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // ---- settings ----
    void loadSettings();
    void saveSettings();
    // The settings as they stand (a probe's overrides replaced by the user's values).
    Settings currentSettings() const;
    void applySettings(const Settings& settings);
    // Stops the day for a picture without touching the rotation multiplier the user saved.
    void freezeDayCycle();

    // ---- command line ----
    // The options read before the window exists: the frame limit, play at once, the collapse run.
    void applyEarlyOptions(const CommandLineOptions& options);
    // The rest, once the window and the renderer are up: play or the collapse run, then (in an
    // unattended run) the probes, air mode and the shooting run.
    void applyLateOptions(const CommandLineOptions& options);

    // ---- the main loop ----
    // Starts the clock of the loop at now (s).
    void startLoop(double now);
    // One pass after the messages: the frame rate, the fixed steps, the sounds and, unless the window
    // is minimised, one frame. now is the steady clock in seconds, read after the messages.
    void pass(double now, bool minimised);
    // The next pass measures its time from its own start: a world loaded in a message handler does not
    // make the next frame play the loading time as steps.
    void restartClock() { clockRestart = true; }
    // The fixed steps of a pass of dt seconds.
    void simulate(double dt);
    // Draws one frame; in an unattended run, fires on the shooting frames and ends the run after the
    // last frame.
    void drawFrame();
    // Screenshot, report, settings, and the loop stops.
    void finishUnattendedRun();
    SmokeReport smokeReport(bool captured) const;

    // ---- page changes ----
    // Forgets held keys, presses no step has seen, the trigger and a binding being awaited; takes the
    // IME off the window.
    void resetInput();
    void setMouseCapture(bool captured);
    void enterPlay();
    void leavePlay(Page page);
    // Saves the settings, frees the mouse and ends the loop.
    void quit();
    // The training ground, played at once.
    void startTrainingGround();
    // Loads the district map ("Worlds/Lujiazui/Lujiazui.zarnmap" beside the program, else under the
    // current directory) into a new game with the settings in force and plays it, its enemies on a
    // 70 m grid around the spawn point: the city itself, or set on the Earth (earth), or among the
    // stars (stars, which wins when both are set). The Earth and the stars start without enemies at
    // level 4 with 100,000 points. A failed load changes nothing but the caption, which shows the
    // loader's message. True when the world loaded.
    bool startLujiazui(bool earth, bool stars);

    // ---- window messages ----
    void activate(bool isActive);
    void resized(std::int32_t width, std::int32_t height, bool minimised);
    void closeRequested();
    // A key went down; repeat: the auto-repeat of a held key; alt: the Alt key is held.
    void keyPressed(std::int32_t code, bool alt, bool repeat);
    void keyReleased(std::int32_t code);
    void charTyped(std::uint32_t character);
    // The cursor at client pixel (x, y) of a client area of the given size.
    void mouseMoved(std::int32_t x, std::int32_t y, std::int32_t clientWidth, std::int32_t clientHeight);
    // Mouse buttons by their codes 1 (left), 2 (right), 4 (middle).
    void buttonPressed(std::int32_t code);
    void buttonReleased(std::int32_t code);
    // The wheel turned by delta (positive away from the user).
    void wheelTurned(std::int32_t delta);
    // A relative raw mouse movement in counts.
    void mouseLook(std::int32_t dx, std::int32_t dy);

    // A key press that reaches the game's commands (also mouse buttons on the pages that take them).
    void key(std::int32_t code);
    // Runs a row of the current menu page.
    void activateMenu(std::int32_t row);

  private:
    // Starts a world the command line asked for; a failed load leaves its message in worldLoadError.
    bool startRequestedWorld(bool earth, bool stars);
    // The Earth world (its streamer engaged outside the star world) and its unattended options: the
    // player's place, then the time of day and, with the lighting probe, the probe's scene.
    bool inEarthWorld() const;
    void placeOnEarth(const CommandLineOptions& options);
    void setEarthDay(const CommandLineOptions& options);
    void buildLightingProbe();
    void launchAirMode();
    // The unattended placements of the star world: above the Moon, high in space, or after a warp.
    void placeInStarWorld(const CommandLineOptions& options);
    void playSounds();
    // A key or button went down as a key: it is held, and its press waits for a step.
    void holdKey(std::int32_t code);
    void forgetKeys();
    void click();
    void toggleFullscreen();
    // The key commands of the armory, of play and of the settings page's value editor.
    void armoryKey(std::int32_t code);
    void playKey(std::int32_t code);
    void settingsKey(std::int32_t code);
    // Saves the settings and goes back to the page the settings were opened from.
    void leaveSettings();
    // The settings page waits for a key: Esc gives up, a key that can be bound is bound and saved.
    void bindAwaitedKey(std::int32_t code);

    std::optional<double> userRotationMultiplier; // set while a probe holds the day still
};

} // namespace zarn
