// The save reader reached directly, past the header and the checksum, so that the fuzzer spends its
// time in the body: the first byte chooses the version (3 to 6), the rest is the body, and the
// header line with its hash is put in front. A refused save gives a message and leaves the game as
// it was; a save that loads can be saved again and comes back the same.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.hpp"
#include "SaveChecks.hpp"
#include "physics/Hash.hpp"

using namespace zarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Game game;
    if (size == 0) {
        return 0;
    }
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const int version = 3 + data[0] % 4;
    const std::string text = "ZARNMATTER " + std::to_string(version) + " " + std::to_string(fnv1a64(body)) +
                             "\n" + std::string(body);
    fuzz::checkLoad(game,
                    [&text](Game& g, std::string& message) { return readSave(g, text, message, "载入"); });
    return 0;
}
