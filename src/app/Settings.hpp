#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <iosfwd>

#include "render/UiState.hpp"

namespace zarn {

// The values config.ini keeps. They live in several places while the game runs (the UiState, the
// physics, the game and the day cycle); the shell gathers them here to read or write the file.
struct Settings {
    double sensitivity = 0.0022;
    double volume = 0.35;
    std::uint64_t motionLimit = 256; // pieces the physics may set moving at once
    double impactMultiplier = 4.0;
    double rotationMultiplier = 1.0; // the day cycle's rate
    std::array<std::int32_t, actionCount> bindings = defaultBindings;
};

// Reads name=value lines into the settings. Nothing here is ever an error: lines without '=', with
// names it does not know, or with values that are not finite numbers are skipped, values are clamped
// into their ranges, and key lines that would break the bindings are ignored.
void readSettings(std::istream& in, Settings& settings);
// Writes the five values and the 21 key lines, each ending with a line feed.
void writeSettings(std::ostream& out, const Settings& settings);

// The file versions: a file that does not exist leaves the settings as they are; a file that cannot
// be written is left alone (false).
void loadSettingsFile(const std::filesystem::path& path, Settings& settings);
bool saveSettingsFile(const std::filesystem::path& path, const Settings& settings);

} // namespace zarn
