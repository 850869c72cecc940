#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/AddressSpace.hpp"
#include "support/BondReference.hpp"
#include "support/Files.hpp"
#include "support/StateHash.hpp"
#include "world/Game.hpp"
#include "world/SaveFile.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

std::string mapFixture(const std::string& name) {
    return std::string(ZARN_TEST_DATA_DIR) + "/maps/" + name;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using test::pathFromUtf8;
using test::utf8;

std::filesystem::path scratchFolder() {
    return test::scratchFolder("zarn-map-tests");
}

std::string writeMap(const std::filesystem::path& path, const std::string& text) {
    return utf8(test::writeText(path, text));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Everything a map load may change, so that "unchanged" means unchanged; a version 1 map knows no
// indoor matter, so it compares with the indoor marks of a version 2 map left out.
std::uint64_t worldHash(const World& world, bool withIndoor = true) {
    if (withIndoor) {
        return test::hashWorld(world);
    }
    World outdoors = world;
    for (MatterPiece& piece : outdoors.physics.pieces) {
        piece.indoor = false;
    }
    return test::hashWorld(outdoors);
}

// ---- the small test map ----

TEST(MapPackTest, ReadsEveryFieldOfTheSmallMap) {
    World world;
    world.physics.motionLimit = 777; // a setting: it survives the load
    world.terrainCell = {256.0, 0.0, -512.0};
    std::string message = "untouched";
    ASSERT_TRUE(world.loadMap(mapFixture("valid-v2.zarnmap"), message));
    EXPECT_EQ(message, "untouched");

    EXPECT_EQ(world.name, "测试地图");
    EXPECT_EQ(world.id, "lujiazui");
    EXPECT_EQ(world.skyColor, (Vec3{0.4, 0.5, 0.6}));
    EXPECT_EQ(world.spawnPoint, (Vec3{0.0, 0.0, -20.0}));
    EXPECT_EQ(world.terrainCell, (Vec3{0.0, 0.0, -256.0})); // the cell of the spawn point

    ASSERT_EQ(world.buildings.size(), 2u);
    const Building& a = world.buildings[0];
    EXPECT_EQ(a.index, 0);
    EXPECT_EQ(a.name, "甲楼");
    EXPECT_EQ(a.center, (Vec3{0.0, 0.0, 0.0}));
    EXPECT_EQ(a.sizeX, 10.0);
    EXPECT_EQ(a.sizeZ, 10.0);
    EXPECT_EQ(a.height, 20.0);
    EXPECT_EQ(a.extra, 1999.0);
    const Building& b = world.buildings[1];
    EXPECT_EQ(b.index, 1);
    EXPECT_EQ(b.name, "乙 \"楼\""); // quotes inside a name are escaped in the file
    EXPECT_EQ(b.center, (Vec3{30.0, 0.0, 0.0}));

    const Physics& physics = world.physics;
    EXPECT_EQ(physics.motionLimit, 777u);
    EXPECT_EQ(physics.groundLevel, -8.0);
    ASSERT_EQ(physics.pieces.size(), 5u);
    const MatterPiece& ground = physics.pieces[0];
    EXPECT_TRUE(ground.anchored);
    EXPECT_EQ(ground.building, -1);
    EXPECT_EQ(ground.body.halfExtents, (Vec3{40.0, 4.0, 40.0}));
    EXPECT_EQ(ground.color, (Vec3{0.3, 0.3, 0.3}));
    const MatterPiece& slab = physics.pieces[2];
    EXPECT_TRUE(slab.indoor);
    EXPECT_FALSE(physics.pieces[1].indoor);
    EXPECT_EQ(physics.pieces[4].building, -10);
    for (const MatterPiece& piece : physics.pieces) {
        EXPECT_EQ(piece.owner, 0u);
        EXPECT_EQ(piece.groundLevel, 1e30);
        EXPECT_TRUE(piece.alive);
        EXPECT_EQ(piece.generation, 0u);
        EXPECT_EQ(piece.stateTime, 0.0);
        const Vec3& h = piece.body.halfExtents;
        EXPECT_DOUBLE_EQ(piece.body.mass, 8.0 * h.x * h.y * h.z * 1200.0);
        EXPECT_TRUE(piece.anchored || piece.supported) << "piece " << piece.id;
    }
    // Bonded afresh: the three boxes on the ground, and the slab on its box.
    EXPECT_EQ(physics.bonds.size(), 4u);
    EXPECT_EQ(physics.brokenBondCount, 0u);
    EXPECT_TRUE(physics.assemblies.empty());
}

TEST(MapPackTest, VersionOneAndTwoOfTheSameMapGiveTheSameWorldButForIndoorLight) {
    World v1;
    World v2;
    std::string message;
    ASSERT_TRUE(v1.loadMap(mapFixture("valid-v1.zarnmap"), message)) << message;
    ASSERT_TRUE(v2.loadMap(mapFixture("valid-v2.zarnmap"), message)) << message;
    EXPECT_EQ(worldHash(v1, false), worldHash(v2, false));
    EXPECT_NE(worldHash(v1), worldHash(v2));
    for (const MatterPiece& piece : v1.physics.pieces) {
        EXPECT_FALSE(piece.indoor);
    }
}

TEST(MapPackTest, WindowsLineEndsAndUnicodePathsReadTheSame) {
    World lf;
    std::string message;
    ASSERT_TRUE(lf.loadMap(mapFixture("valid-v2.zarnmap"), message)) << message;

    std::string text = readText(pathFromUtf8(mapFixture("valid-v2.zarnmap")));
    std::string crlf;
    for (const char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    const std::filesystem::path folder = scratchFolder() / pathFromUtf8("陆家嘴 地图");
    std::filesystem::create_directories(folder);
    const std::string path = writeMap(folder / pathFromUtf8("东方明珠.zarnmap"), crlf);

    World windows;
    ASSERT_TRUE(windows.loadMap(path, message)) << message;
    EXPECT_EQ(windows.name, "测试地图");
    EXPECT_EQ(worldHash(windows), worldHash(lf));
}

// ---- refusals ----

struct Refusal {
    const char* file;
    const char* message;
};

TEST(MapPackTest, EachBrokenSectionGivesItsMessageAndLeavesTheWorldAsItWas) {
    const Refusal refusals[] = {
        {"no-such-file.zarnmap", "地图包格式无效"},        {"bad-magic.zarnmap", "地图包格式无效"},
        {"version-3.zarnmap", "地图包格式无效"},           {"byte-order-mark.zarnmap", "地图包格式无效"},
        {"truncated.zarnmap", "地图包格式无效"},           {"ground-level-5.zarnmap", "地图边界无效"},
        {"sky-too-bright.zarnmap", "地图边界无效"},        {"spawn-too-far.zarnmap", "地图边界无效"},
        {"height-1000.5.zarnmap", "地图建筑无效"},         {"size-0.zarnmap", "地图建筑无效"},
        {"no-pieces.zarnmap", "地图物质预算无效"},         {"building-minus-11.zarnmap", "地图物质无效"},
        {"building-equals-count.zarnmap", "地图物质无效"}, {"version-1-body-as-2.zarnmap", "地图物质无效"},
        {"billion-pieces.zarnmap", "地图物质无效"},        {"trailing-token.zarnmap", "地图几何无效"},
        {"zero-half-extent.zarnmap", "地图几何无效"},      {"non-unit-quaternion.zarnmap", "地图几何无效"},
    };
    // The running world is a map with a setting changed and some damage done.
    World world;
    std::string message;
    ASSERT_TRUE(world.loadMap(mapFixture("valid-v2.zarnmap"), message)) << message;
    world.physics.motionLimit = 99;
    world.physics.brokenBondCount = 3;
    world.terrainCell = {-256.0, 0.0, 0.0};
    const std::uint64_t before = worldHash(world);
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.file);
        message.clear();
        EXPECT_FALSE(world.loadMap(mapFixture(refusal.file), message));
        EXPECT_EQ(message, refusal.message);
        EXPECT_EQ(worldHash(world), before);
    }
    EXPECT_EQ(world.buildings.size(), 2u);
    EXPECT_EQ(world.id, "lujiazui");

    // A path that is not UTF-8 names no file on any system; it must not throw either.
    EXPECT_FALSE(world.loadMap(std::string(ZARN_TEST_DATA_DIR) + "/maps/\xff\xfe.zarnmap", message));
    EXPECT_EQ(message, "地图包格式无效");
    EXPECT_EQ(worldHash(world), before);
}

TEST(MapPackTest, RefusedLoadLeavesTheDemolitionCityAlone) {
    World world;
    const std::uint64_t before = worldHash(world);
    std::string message;
    EXPECT_FALSE(world.loadMap(mapFixture("version-1-body-as-2.zarnmap"), message));
    EXPECT_EQ(message, "地图物质无效");
    EXPECT_EQ(worldHash(world), before);
    EXPECT_EQ(world.id, "procedural");
    EXPECT_EQ(world.buildings.size(), 50u);
}

TEST(MapPackTest, LimitsOnBothSides) {
    const std::string valid = readText(pathFromUtf8(mapFixture("valid-v2.zarnmap")));
    const std::filesystem::path folder = scratchFolder();
    struct Case {
        const char* what;
        std::string text;
        const char* message; // empty: the map loads
    };
    const std::string building = "\"甲楼\" 0 0 10 10 20 1999";
    const std::string noBuildings =
        "ZARNMAP 2\nnone\n-8\n0.4 0.5 0.6\n0 0 0\n0\n2\n-1 1 0 -4 0 40 4 40 0.3 0.3 0.3 1 0 0 0 0\n";
    const auto cubesAt = [](const char* first, const char* second) {
        return std::string("ZARNMAP 2\nfar\n-8\n0.4 0.5 0.6\n0 0 0\n0\n2\n-1 1 ") + first +
               " 0 0 0.5 0.5 0.5 0.5 0.5 0.5 1 0 0 0 0\n-1 1 " + second +
               " 0 0 0.5 0.5 0.5 0.5 0.5 0.5 1 0 0 0 0\n";
    };
    const Case cases[] = {
        {"height 1000", replaced(valid, building, "\"甲楼\" 0 0 10 10 1000 1999"), ""},
        {"height 0", replaced(valid, building, "\"甲楼\" 0 0 10 10 0 1999"), "地图建筑无效"},
        {"negative extra", replaced(valid, building, "\"甲楼\" 0 0 10 10 20 -1"), "地图建筑无效"},
        // A building's limits are the save's: every district that loads can be saved.
        {"centre 3000 m out", replaced(valid, building, "\"甲楼\" 1800 -2400 10 10 20 1999"), ""},
        {"centre 3000.5 m out", replaced(valid, building, "\"甲楼\" 1800 -2400.5 10 10 20 1999"),
         "地图建筑无效"},
        {"sides 0.01 and 2000 m", replaced(valid, building, "\"甲楼\" 0 0 0.01 2000 20 1999"), ""},
        {"side 0.005 m", replaced(valid, building, "\"甲楼\" 0 0 0.005 10 20 1999"), "地图建筑无效"},
        {"side 2000.5 m", replaced(valid, building, "\"甲楼\" 0 0 10 2000.5 20 1999"), "地图建筑无效"},
        {"height 0.005 m", replaced(valid, building, "\"甲楼\" 0 0 10 10 0.005 1999"), "地图建筑无效"},
        {"extra 1e15", replaced(valid, building, "\"甲楼\" 0 0 10 10 20 1e15"), ""},
        // So are its bonds'.
        {"cubes bonded 4999 m out", cubesAt("4998.5", "4999.5"), ""},
        {"cubes bonded 5001 m out", cubesAt("5000.5", "5001.5"), "地图几何无效"},
        {"extra 2e15", replaced(valid, building, "\"甲楼\" 0 0 10 10 20 2e15"), "地图建筑无效"},
        {"ground level -100", replaced(valid, "\n-8\n", "\n-100\n"), ""},
        {"ground level -150", replaced(valid, "\n-8\n", "\n-150\n"), "地图边界无效"},
        {"white sky", replaced(valid, "0.4 0.5 0.6\n", "1 1 1\n"), ""},
        {"spawn 3000 m out", replaced(valid, "0 0 -20\n", "0 0 -3000\n"), ""},
        {"piece colour too bright", replaced(valid, "0.6 0.5 0.4 1 0 0 0", "2 0 0.1 1 0 0 0"),
         "地图物质无效"},
        {"anchored flag 2", replaced(valid, "\n1 0 30", "\n1 2 30"), "地图物质无效"},
        {"negative building count", replaced(valid, "\n2\n\"甲楼\"", "\n-1\n\"甲楼\""), "地图建筑数量无效"},
        // Stream extraction would wrap this one round to 1.
        {"wrapping piece count", replaced(valid, "\n5\n-1 1", "\n-18446744073709551615\n-1 1"),
         "地图物质预算无效"},
        {"cut inside a piece", valid.substr(0, valid.size() - 12), "地图物质无效"},
        {"cut inside a building", valid.substr(0, valid.find("\"乙") + 8), "地图建筑无效"},
        {"cut after the name", valid.substr(0, valid.find("-8")), "地图边界无效"},
        {"no buildings, no building matter", noBuildings + "-2 0 0 1 0 2 1 2 0.5 0.5 0.5 1 0 0 0 0\n", ""},
        {"no buildings, building 0", noBuildings + "0 0 0 1 0 2 1 2 0.5 0.5 0.5 1 0 0 0 0\n", "地图物质无效"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World world;
        const std::uint64_t before = worldHash(world);
        std::string message;
        const bool loaded = world.loadMap(writeMap(folder / "case.zarnmap", c.text), message);
        if (std::strlen(c.message) == 0) {
            EXPECT_TRUE(loaded) << message;
            Game game;
            game.world = std::move(world);
            std::string file;
            EXPECT_TRUE(composeSave(game, file, message)) << message;
        } else {
            EXPECT_FALSE(loaded);
            EXPECT_EQ(message, c.message);
            EXPECT_EQ(worldHash(world), before);
        }
    }
}

// A thousand buildings are the most a map may name.
TEST(MapPackTest, AThousandBuildingsPassAndOneMoreFails) {
    const std::filesystem::path folder = scratchFolder();
    auto mapWith = [](int count) {
        std::ostringstream text;
        text << "ZARNMAP 2\nmany\n-8\n0.4 0.5 0.6\n0 0 0\n" << count << '\n';
        for (int i = 0; i < count; ++i) {
            text << "\"b" << i << "\" " << i << " 0 1 1 1 0\n";
        }
        text << "1\n" << count - 1 << " 1 0 -4 0 40 4 40 0.3 0.3 0.3 1 0 0 0 0\n";
        return text.str();
    };
    World world;
    std::string message;
    EXPECT_TRUE(world.loadMap(writeMap(folder / "1000.zarnmap", mapWith(1000)), message)) << message;
    EXPECT_EQ(world.buildings.size(), 1000u);
    EXPECT_EQ(world.buildings.back().index, 999);
    const std::uint64_t before = worldHash(world);
    EXPECT_FALSE(world.loadMap(writeMap(folder / "1001.zarnmap", mapWith(1001)), message));
    EXPECT_EQ(message, "地图建筑数量无效");
    EXPECT_EQ(worldHash(world), before);
}

// Piles of coincident unit cubes on an anchored slab would bond every pair: 2,000 cubes make about
// two million bonds and 8,000 cubes thirty-two million. Turned a little against each other they bond
// nothing, but every pair is still looked at. Either way the load stops once its bonding has spent
// the budget that real maps stay far below, and the map is refused.
TEST(MapPackTest, PilesOfCoincidentCubesAreRefusedAsTheyBond) {
    const std::filesystem::path folder = scratchFolder();
    auto pile = [](int cubes, const char* orientation) {
        std::ostringstream text;
        text << "ZARNMAP 2\npile\n-8\n0.4 0.5 0.6\n0 0 0\n0\n"
             << cubes + 1 << "\n-1 1 0 -4 0 40 4 40 0.3 0.3 0.3 1 0 0 0 0\n";
        for (int i = 0; i < cubes; ++i)
            text << "-2 0 0 0.5 0 0.5 0.5 0.5 0.5 0.5 0.5 " << orientation << " 0\n";
        return text.str();
    };
    const struct {
        int cubes;
        const char* orientation;
    } piles[] = {{2000, "1 0 0 0"}, {8000, "1 0 0 0"}, {2000, "0.9238795325112867 0 0.3826834323650898 0"}};
    World world;
    const std::uint64_t before = worldHash(world);
    for (const auto& p : piles) {
        SCOPED_TRACE(p.cubes);
        std::string message;
        EXPECT_FALSE(world.loadMap(writeMap(folder / "pile.zarnmap", pile(p.cubes, p.orientation)), message));
        EXPECT_EQ(message, "地图几何无效");
        EXPECT_EQ(worldHash(world), before);
    }
    // A few cubes on top of each other bond and load.
    std::string message;
    EXPECT_TRUE(world.loadMap(writeMap(folder / "few.zarnmap", pile(8, "1 0 0 0")), message)) << message;
    EXPECT_EQ(world.physics.bonds.size(), 8u + 28u); // each cube to the slab, and every pair of cubes
}

// A map of exactly `bytes` bytes: a pile of coincident unit cubes on a slab, as many as fit, and white
// space after the last.
std::string pileOfSize(std::uint64_t bytes) {
    const std::string head = "ZARNMAP 2\npile\n-8\n0.4 0.5 0.6\n0 0 0\n0\n";
    const std::string slab = "-1 1 0 -4 0 40 4 40 0.3 0.3 0.3 1 0 0 0 0\n";
    const std::string cube = "-2 0 0 .5 0 .5 .5 .5 .5 .5 .5 1 0 0 0 0\n";
    const std::uint64_t cubes = (bytes - head.size() - slab.size() - 12) / cube.size();
    std::string text = head + std::to_string(cubes + 1) + "\n" + slab;
    text.reserve(bytes);
    for (std::uint64_t i = 0; i < cubes; ++i)
        text += cube;
    text.resize(bytes, ' ');
    return text;
}

TEST(MapPackTest, AMapOfTheLargestSizeIsReadAndOneByteMoreIsNot) {
    const std::filesystem::path folder = scratchFolder();
    std::string padded = readText(pathFromUtf8(mapFixture("valid-v2.zarnmap")));
    padded.resize(maxMapFileBytes, '\n');
    World world;
    std::string message;
    EXPECT_TRUE(world.loadMap(writeMap(folder / "largest.zarnmap", padded), message)) << message;
    const std::uint64_t before = worldHash(world);
    EXPECT_FALSE(world.loadMap(writeMap(folder / "larger.zarnmap", padded + "\n"), message));
    EXPECT_EQ(message, "地图包格式无效");
    EXPECT_EQ(worldHash(world), before);
}

// Loads the map in a process of its own with this much address space to spare; exits with 0 when it
// was refused with the message and left the world as it was.
void refuseWithin(World& world, std::uint64_t spare, const std::string& path, const std::string& expected) {
    const std::uint64_t before = worldHash(world);
    if (!test::limitAddressSpace(spare))
        std::_Exit(2);
    std::string message;
    const bool loaded = world.loadMap(path, message);
    std::fprintf(stderr, "loaded %d: %s\n", loaded ? 1 : 0, message.c_str());
    std::_Exit(!loaded && message == expected && worldHash(world) == before ? 0 : 1);
}

// A pile of coincident cubes as large as a map may be is refused as soon as its bonding has spent
// the budget of its first pieces, in a few hundred megabytes: given a gigabyte, the game refuses it
// and plays on in the world it had. A larger map is refused unread. With too little memory to read
// the pile at all, the reader refuses it as a file it cannot read.
TEST(MapPackTest, HostileMapsAreRefusedInTheMemoryLeft) {
    if (!test::canLimitAddressSpace)
        GTEST_SKIP() << test::addressSpaceSkip;
    const std::filesystem::path folder = scratchFolder();
    const std::string nearLimit = writeMap(folder / "pile.zarnmap", pileOfSize(maxMapFileBytes - 1000));
    const std::string overLimit = writeMap(folder / "larger.zarnmap", pileOfSize(2 * maxMapFileBytes));
    World world;
    std::string message;
    ASSERT_TRUE(world.loadMap(mapFixture("valid-v2.zarnmap"), message)) << message;
    constexpr std::uint64_t mebibyte = 1 << 20;
    EXPECT_EXIT(refuseWithin(world, 1024 * mebibyte, nearLimit, "地图几何无效"), ::testing::ExitedWithCode(0),
                "");
    EXPECT_EXIT(refuseWithin(world, 16 * mebibyte, overLimit, "地图包格式无效"), ::testing::ExitedWithCode(0),
                "");
    EXPECT_EXIT(refuseWithin(world, 64 * mebibyte, nearLimit, "地图包格式无效"), ::testing::ExitedWithCode(0),
                "");
}

// ---- the Lujiazui district ----

struct TableRow {
    std::string name;
    double x = 0.0;
    double z = 0.0;
    double sizeX = 0.0;
    double sizeZ = 0.0;
    double height = 0.0;
    double year = 0.0;
};

std::vector<TableRow> readTable() {
    std::istringstream in(readText(pathFromUtf8(ZARN_LUJIAZUI_TABLE)));
    std::vector<TableRow> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) {
            f.push_back(field);
        }
        if (f.size() < 8) {
            ADD_FAILURE() << "short line: " << line;
            continue;
        }
        rows.push_back({f[0], std::stod(f[2]), std::stod(f[3]), std::stod(f[4]), std::stod(f[5]),
                        std::stod(f[6]), std::stod(f[7])});
    }
    return rows;
}

// Loading the district bonds twenty thousand pieces; the read-only checks share one load.
class LujiazuiTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        district = std::make_unique<World>();
        std::string message;
        loaded = district->loadMap(ZARN_LUJIAZUI_MAP, message);
        loadMessage = message;
    }
    static void TearDownTestSuite() { district.reset(); }
    void SetUp() override { ASSERT_TRUE(loaded) << loadMessage; }

    static std::unique_ptr<World> district;
    static bool loaded;
    static std::string loadMessage;
};
std::unique_ptr<World> LujiazuiTest::district;
bool LujiazuiTest::loaded = false;
std::string LujiazuiTest::loadMessage;

// The whole loaded district, pieces, bonds, stresses and buildings, is pinned: a faster reader or
// bonding must give it to the bit.
TEST_F(LujiazuiTest, LoadsToThePinnedWorld) {
    EXPECT_EQ(worldHash(*district), 0xff461d062e7ee538ull);
    EXPECT_EQ(district->physics.bonds.size(), 59916u);
}

// The district and its large variant of over a hundred thousand pieces bond as trying every piece
// the grid lists near each piece bonds, bond for bond and in the same order.
TEST_F(LujiazuiTest, BondsAsTryingEveryListedPieceBondsInBothSizes) {
    test::expectSameBonds(district->physics.bonds,
                          test::bondsTryingEveryListedPiece(district->physics, 1, 0));
    World large;
    std::string message;
    ASSERT_TRUE(large.loadMap(ZARN_LUJIAZUI_MAP_LARGE, message)) << message;
    EXPECT_EQ(large.physics.bonds.size(), 372186u);
    test::expectSameBonds(large.physics.bonds, test::bondsTryingEveryListedPiece(large.physics, 1, 0));
}

TEST_F(LujiazuiTest, StandsUnderItsOwnWeight) {
    const Physics& physics = district->physics;
    EXPECT_TRUE(physics.validate());
    EXPECT_EQ(physics.brokenBondCount, 0u);
    EXPECT_EQ(district->loss(), 0.0);
    EXPECT_EQ(district->destructionRate(), 0.0);
    EXPECT_TRUE(physics.assemblies.empty());
    for (const Bond& bond : physics.bonds) {
        ASSERT_TRUE(bond.intact) << "bond " << bond.a << "-" << bond.b;
        // The load-path limits, with room to spare for the tallest towers.
        ASSERT_LT(bond.stress, 0.8 * 2.5e7) << "bond " << bond.a << "-" << bond.b;
    }
    for (const MatterPiece& piece : physics.pieces) {
        ASSERT_TRUE(piece.anchored || piece.supported)
            << "piece " << piece.id << " of building " << piece.building;
        ASSERT_EQ(piece.anchored, piece.building == buildingTag::ground) << "piece " << piece.id;
    }
}

TEST_F(LujiazuiTest, HoldsTheBuildingsOfItsTable) {
    const std::vector<TableRow> table = readTable();
    ASSERT_EQ(district->buildings.size(), table.size());
    std::vector<double> tops(table.size(), 0.0);
    for (const MatterPiece& piece : district->physics.pieces) {
        if (piece.building < 0) {
            continue;
        }
        const Building& b = district->buildings[static_cast<std::size_t>(piece.building)];
        const Vec3 lo = piece.body.center - piece.body.halfExtents;
        const Vec3 hi = piece.body.center + piece.body.halfExtents;
        // Each building's matter stands on its footprint.
        EXPECT_GE(lo.x, b.center.x - b.sizeX / 2.0 - 1e-6) << b.name;
        EXPECT_LE(hi.x, b.center.x + b.sizeX / 2.0 + 1e-6) << b.name;
        EXPECT_GE(lo.z, b.center.z - b.sizeZ / 2.0 - 1e-6) << b.name;
        EXPECT_LE(hi.z, b.center.z + b.sizeZ / 2.0 + 1e-6) << b.name;
        EXPECT_GE(lo.y, -1e-6) << b.name;
        tops[static_cast<std::size_t>(piece.building)] =
            std::max(tops[static_cast<std::size_t>(piece.building)], hi.y);
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Building& b = district->buildings[i];
        SCOPED_TRACE(table[i].name);
        EXPECT_EQ(b.name, table[i].name);
        EXPECT_EQ(b.center, (Vec3{table[i].x, 0.0, table[i].z}));
        EXPECT_EQ(b.sizeX, table[i].sizeX);
        EXPECT_EQ(b.sizeZ, table[i].sizeZ);
        EXPECT_EQ(b.height, table[i].height);
        EXPECT_EQ(b.extra, table[i].year);
        EXPECT_NEAR(tops[i], b.height, 1e-6); // as tall as the table says
    }
}

TEST_F(LujiazuiTest, LandmarksStandWhereTheyStandOnTheRiver) {
    auto find = [&](const std::string& name) -> const Building* {
        for (const Building& b : district->buildings) {
            if (b.name == name) {
                return &b;
            }
        }
        ADD_FAILURE() << name << " missing";
        return nullptr;
    };
    const Building* pearl = find("东方明珠广播电视塔");
    const Building* tower = find("上海中心大厦");
    const Building* swfc = find("上海环球金融中心");
    const Building* jinMao = find("金茂大厦");
    ASSERT_TRUE(pearl && tower && swfc && jinMao);
    EXPECT_EQ(tower->height, 632.0);
    EXPECT_EQ(swfc->height, 492.0);
    EXPECT_EQ(jinMao->height, 420.5);
    EXPECT_EQ(pearl->height, 468.0);
    // Jin Mao north of the Shanghai Tower, the World Financial Center east of it, the Pearl Tower
    // north-west of all three by the river bend.
    EXPECT_GT(jinMao->center.z, tower->center.z);
    EXPECT_GT(swfc->center.x, tower->center.x);
    for (const Building* b : {tower, swfc, jinMao}) {
        EXPECT_LT(pearl->center.x, b->center.x - 400.0);
        EXPECT_GT(pearl->center.z, b->center.z + 400.0);
    }
    // West of the Pearl Tower and north of it lies the river: a line from the tower west or north
    // meets nothing standing above the ground before the edge of the district.
    for (const Vec3& direction : {Vec3{-1.0, 0.0, 0.0}, Vec3{0.0, 0.0, 1.0}}) {
        const Vec3 from = pearl->center + Vec3{0.0, 30.0, 0.0} + direction * 250.0;
        const MatterHit hit = district->traceLine(from, direction, 250.0);
        EXPECT_FALSE(hit.hit) << "something stands at " << hit.point.x << ", " << hit.point.z;
    }
}

TEST_F(LujiazuiTest, GroundCoversTheDistrictAtLevelZero) {
    const Physics& physics = district->physics;
    EXPECT_EQ(physics.groundLevel, -8.0);
    EXPECT_EQ(district->spawnPoint, (Vec3{0.0, 0.0, -110.0}));
    EXPECT_EQ(district->name, "陆家嘴");
    // The tiles lie inside the rectangle that the Earth world leaves to the map, never overlap and
    // add up to its whole area: every point of it is on ground whose top is at y = 0.
    std::vector<Box> ground;
    double area = 0.0;
    for (const MatterPiece& piece : physics.pieces) {
        if (!piece.anchored) {
            continue;
        }
        const Box b = piece.body.bounds();
        EXPECT_EQ(b.max.y, 0.0);
        EXPECT_EQ(b.min.y, -8.0);
        EXPECT_TRUE(b.min.x >= -896.0 && b.max.x <= 768.0 && b.min.z >= -768.0 && b.max.z <= 896.0);
        area += (b.max.x - b.min.x) * (b.max.z - b.min.z);
        ground.push_back(b);
    }
    for (std::size_t i = 0; i < ground.size(); ++i) {
        for (std::size_t j = i + 1; j < ground.size(); ++j) {
            const double dx =
                std::min(ground[i].max.x, ground[j].max.x) - std::max(ground[i].min.x, ground[j].min.x);
            const double dz =
                std::min(ground[i].max.z, ground[j].max.z) - std::max(ground[i].min.z, ground[j].min.z);
            ASSERT_FALSE(dx > 1e-6 && dz > 1e-6) << "tiles " << i << " and " << j << " overlap";
        }
    }
    EXPECT_NEAR(area, 1664.0 * 1664.0, 1e-3);
    // The spawn point, where the player also resupplies, is open ground.
    const MatterHit down = district->traceLine({0.0, 900.0, -110.0}, {0.0, -1.0, 0.0}, 1000.0);
    ASSERT_TRUE(down.hit);
    EXPECT_NEAR(down.point.y, 0.0, 1e-9);
    EXPECT_TRUE(physics.pieces[static_cast<std::size_t>(down.piece)].anchored);
}

TEST_F(LujiazuiTest, StreetsHaveTreesAndLampsAndFloorsAreIndoor) {
    int trees = 0;
    int lamps = 0;
    int slabs = 0;
    for (const MatterPiece& piece : district->physics.pieces) {
        trees += piece.building == buildingTag::tree ? 1 : 0;
        lamps += piece.building == buildingTag::lamp ? 1 : 0;
        if (piece.indoor) {
            ++slabs;
            EXPECT_GE(piece.building, 0);
            EXPECT_LE(2.0 * piece.body.halfExtents.y, 0.5);
        }
    }
    EXPECT_GT(trees, 200);
    EXPECT_GT(lamps, 100);
    EXPECT_GT(slabs, 1000);
}

// What a saved game of this district must fit: the save file's limits.
TEST_F(LujiazuiTest, FitsTheSaveFile) {
    const Physics& physics = district->physics;
    EXPECT_LE(physics.pieces.size(), 30000u);
    EXPECT_LE(district->buildings.size(), 1000u);
    for (const Building& b : district->buildings) {
        EXPECT_LE(std::hypot(b.center.x, b.center.z), 3000.0) << b.name;
        EXPECT_GE(std::min(b.sizeX, b.sizeZ), 0.01) << b.name;
        EXPECT_LE(std::max(b.sizeX, b.sizeZ), 2000.0) << b.name;
        EXPECT_GE(b.height, 0.01) << b.name;
        EXPECT_LE(b.extra, 1e15) << b.name;
    }
    for (const MatterPiece& piece : physics.pieces) {
        ASSERT_LE(length(piece.body.center), 5000.0);
    }
    for (const Bond& bond : physics.bonds) {
        ASSERT_LE(length(bond.center), 5000.0);
    }
}

TEST_F(LujiazuiTest, OlderFormatGivesTheSameDistrict) {
    World v1;
    std::string message;
    ASSERT_TRUE(v1.loadMap(ZARN_LUJIAZUI_MAP_V1, message)) << message;
    EXPECT_EQ(worldHash(v1, false), worldHash(*district, false));
}

} // namespace
} // namespace zarn
