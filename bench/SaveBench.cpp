#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "world/Game.hpp"

namespace zarn {
namespace {

// A game in the demolition city (arg 0), in the district the game ships (arg 1, about twenty
// thousand pieces) or in the large benchmark district (arg 2, over a hundred thousand pieces); null
// when the map cannot be read.
std::unique_ptr<Game> benchGame(std::int64_t which, std::string& message) {
    auto game = std::make_unique<Game>();
    if (which > 0 &&
        !game->world.loadMap(which == 1 ? ZARN_LUJIAZUI_MAP : ZARN_LUJIAZUI_MAP_LARGE, message)) {
        return nullptr;
    }
    return game;
}

// A save file in a folder of this run alone, removed at the end.
class ScratchSave {
  public:
    ScratchSave() {
        folder_ = std::filesystem::temp_directory_path() /
                  ("zarn-save-bench-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(folder_);
        path = (folder_ / "bench.sav").string();
    }
    ~ScratchSave() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    ScratchSave(const ScratchSave&) = delete;
    ScratchSave& operator=(const ScratchSave&) = delete;

    std::string path;

  private:
    std::filesystem::path folder_;
};

// The whole save: the limit checks, the text of every record, the checksum, the temporary file and
// the backup. The large district's text is longer than a save file may be: its save is refused
// after the text and its checksum were made, and the time shown is that of the refusal.
void BM_SaveGame(benchmark::State& state) {
    std::string message;
    const std::unique_ptr<Game> game = benchGame(state.range(0), message);
    if (!game) {
        state.SkipWithError(message.c_str());
        return;
    }
    const ScratchSave save;
    bool written = true;
    for (auto _ : state) {
        written = game->save(save.path, message);
    }
    if (!written) {
        state.SetLabel("refused: " + message);
    }
    state.counters["pieces"] = static_cast<double>(game->world.physics.pieces.size());
    std::error_code error;
    state.counters["bytes"] =
        written ? static_cast<double>(std::filesystem::file_size(save.path, error)) : 0.0;
}
BENCHMARK(BM_SaveGame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The whole load: reading and checking the file, the new city game it is built into, the records,
// the topology refresh and the move over the running game.
void BM_LoadGame(benchmark::State& state) {
    std::string message;
    std::unique_ptr<Game> game = benchGame(state.range(0), message);
    if (!game) {
        state.SkipWithError(message.c_str());
        return;
    }
    const ScratchSave save;
    if (!game->save(save.path, message)) {
        state.SkipWithError(message.c_str());
        return;
    }
    for (auto _ : state) {
        if (!game->load(save.path, message)) {
            state.SkipWithError(message.c_str());
            break;
        }
    }
    state.counters["pieces"] = static_cast<double>(game->world.physics.pieces.size());
    state.counters["bonds"] = static_cast<double>(game->world.physics.bonds.size());
}
BENCHMARK(BM_LoadGame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What every load pays before it reads a record: the new demolition city the saved game is built
// into.
void BM_NewCityGame(benchmark::State& state) {
    for (auto _ : state) {
        Game game;
        benchmark::DoNotOptimize(game.world.physics.pieces.data());
    }
}
BENCHMARK(BM_NewCityGame)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
