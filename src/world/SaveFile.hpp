#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

#include "world/Game.hpp"

namespace zarn {

// The largest save file the game reads, in bytes (32 MiB). The writer refuses a game whose file
// would be larger, so that no save is written that could not be read back.
constexpr std::uint64_t maxSaveFileBytes = 33554432;

// The whole text of this game's save file (the header line and the body) in text; false, with the
// reason in message, when the game cannot be saved.
bool composeSave(const Game& game, std::string& text, std::string& message);
// Replaces game by the game saved in text (the bytes of a whole save file) once every check has
// passed, and shows hudMessage; on false the message says why and game is unchanged.
bool readSave(Game& game, std::string_view text, std::string& message, std::string_view hudMessage);

// The steps that put a save on the disk, in the order they are taken.
enum class SaveStep {
    finishInterrupted, // a whole path + ".tmp" left by an interrupted save becomes the save, while
                       // the save's name holds no whole save
    writeTemporary,    // path + ".tmp" is written whole
    syncTemporary,     // and flushed to the disk before it takes any name
    keepBackup,        // the old save becomes path + ".bak", replacing the older backup in one move
    replaceSave,       // the temporary file becomes the save
    syncFolder,        // the folder's new names reach the disk (where the platform has a way)
};

// Points at which a save can be made to fail as a full disk, a lost drive or a crash would make it
// fail, so that the tests can show that no failure costs the player the last good save. Game::save
// runs without any of them.
struct SaveInterruption {
    // The temporary file's stream fails once this many bytes of it have been written.
    std::uint64_t failAfterBytes = std::numeric_limits<std::uint64_t>::max();
    // Called before each step is taken; it may throw, as the file system would.
    std::function<void(SaveStep)> beforeStep;
};

// Game::save with an interruption.
bool saveGame(const Game& game, const std::string& path, std::string& message,
              const SaveInterruption& interruption);

} // namespace zarn
