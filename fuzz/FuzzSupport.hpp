#pragma once

// What every fuzz target shares: a check that stops the run with a finding, a scratch file of this
// process alone, and a hash of everything a load may change.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

#include "support/StateHash.hpp"
#include "world/World.hpp"

namespace zarn::fuzz {

// A broken promise of the reader is a finding: libFuzzer keeps the input that caused it.
inline void check(bool holds, const char* promise, std::string_view detail = {}) {
    if (!holds) {
        std::fprintf(stderr, "fuzz finding: %s %.*s\n", promise, static_cast<int>(detail.size()),
                     detail.data());
        std::abort();
    }
}

// A file of this process alone (a run with -jobs or -fork starts several), under the scratch folder.
inline std::filesystem::path scratchFile(const char* name) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("zarn-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    return folder / name;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Everything Game::load may change.
inline std::uint64_t hashGame(const Game& game) {
    return test::hashGame(game) ^ (test::hashWorld(game.world) * 31u) ^ (test::hashSavedGame(game) * 7u);
}

} // namespace zarn::fuzz
