#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "world/Game.hpp"

namespace zarn {

// The largest save file the game reads, in bytes (32 MiB). The writer refuses a game whose file
// would be larger, so that no save is written that could not be read back.
constexpr std::uint64_t maxSaveFileBytes = 33554432;

// Points at which a save can be made to fail as a full disk, a lost drive or a crash would make it
// fail, so that the tests can show that no failure costs the player the last good save. Game::save
// runs without any of them.
struct SaveInterruption {
    // The temporary file's stream fails once this many bytes of it have been written.
    std::uint64_t failAfterBytes = std::numeric_limits<std::uint64_t>::max();
    // A file-system error just before the old save is renamed to the backup name.
    bool failBeforeBackup = false;
    // A file-system error after the old save became the backup, before the new one takes its name.
    bool failBeforeReplace = false;
};

// Game::save with an interruption.
bool saveGame(const Game& game, const std::string& path, std::string& message,
              const SaveInterruption& interruption);

} // namespace zarn
