// The map pack reader, through a file as the game reads it. A refused map gives one of the
// reader's messages and leaves the world as it was; a map that loads makes a city game that can be
// saved and loaded again.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "FuzzSupport.hpp"
#include "world/Game.hpp"
#include "world/SaveFile.hpp"

using namespace zarn;

namespace {

const std::set<std::string> messages{"地图包格式无效",   "地图边界无效", "地图建筑数量无效", "地图建筑无效",
                                     "地图物质预算无效", "地图物质无效", "地图几何无效"};

// A small world to load into, cheap to copy: the reader's own test map.
const char* const smallMap = "ZARNMAP 2\n小地图\n-8\n0.4 0.5 0.6\n0 0 -20\n1\n\"甲楼\" 0 0 10 10 20 1999\n2\n"
                             "-1 1 0 -4 0 40 4 40 0.3 0.3 0.3 1 0 0 0 0\n"
                             "0 0 0 1 0 2 1 2 0.5 0.5 0.5 1 0 0 0 1\n";

struct Fixture {
    World small;
    std::uint64_t smallHash = 0;
    Game game; // a city game, whose world a loaded map replaces for the save
    std::filesystem::path file = fuzz::scratchFile("map.zarnmap");

    Fixture() {
        fuzz::writeFile(file, smallMap);
        std::string message;
        fuzz::check(small.loadMap(file.string(), message), "the small map loads", message);
        smallHash = test::hashWorld(small);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    fuzz::writeFile(fixture.file, {reinterpret_cast<const char*>(data), size});
    World world = fixture.small;
    std::string message = "unchanged";
    if (!world.loadMap(fixture.file.string(), message)) {
        fuzz::check(messages.count(message) == 1, "a refused map gives the reader's message:", message);
        fuzz::check(test::hashWorld(world) == fixture.smallHash, "a refused map leaves the world as it was");
        return 0;
    }
    fuzz::check(message == "unchanged", "a map that loads leaves the message alone");
    Game& game = fixture.game;
    game.world = std::move(world);
    std::string text;
    fuzz::check(composeSave(game, text, message), "a district that loads can be saved:", message);
    Game loaded = game;
    fuzz::check(readSave(loaded, text, message, ""), "its save loads:", message);
    fuzz::check(composeSave(loaded, text, message), "and saves again:", message);
    return 0;
}
