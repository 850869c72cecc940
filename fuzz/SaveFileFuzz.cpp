// The save reader through a file, as the game loads it: the size limit, the header, the checksum
// and the leftovers of a crash (the bytes also go to the temporary file and the backup in turn). A
// refused save gives a message and leaves the game as it was; a save that loads can be saved again.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.hpp"
#include "SaveChecks.hpp"

using namespace zarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path save = fuzz::scratchFile("game.sav");
    static Game game;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first byte chooses the name the bytes lie under: the save, its temporary file or backup.
    const char* const suffixes[] = {"", ".tmp", ".bak"};
    for (const char* suffix : suffixes) {
        std::error_code ignored;
        std::filesystem::remove(save.string() + suffix, ignored);
    }
    const char* suffix = suffixes[size > 0 ? data[0] % 3 : 0];
    fuzz::writeFile(save.string() + suffix, bytes);
    fuzz::checkLoad(game, [](Game& g, std::string& message) { return g.load(save.string(), message); });
    return 0;
}
