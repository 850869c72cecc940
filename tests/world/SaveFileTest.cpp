#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Hash.hpp"
#include "world/CombatScene.hpp"
#include "world/Game.hpp"
#include "support/StateHash.hpp"
#include "world/SaveFile.hpp"

namespace zarn {
namespace {

namespace fs = std::filesystem;

constexpr double dt = Game::fixedStep;
const std::string restoredMessage = "世界已恢复 / 物质块与连接已加载";

void run(Game& game, const Input& input, int steps) {
    for (int i = 0; i < steps; ++i) {
        game.tick(input, dt);
        game.heardSounds.clear(); // as the shell does
        game.shotSound = 0;
    }
}

fs::path pathFromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::string suffixed(const std::string& path, const char* suffix) {
    return path + suffix;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(pathFromUtf8(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(pathFromUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path) {
    return fs::exists(pathFromUtf8(path));
}

// A scratch folder of this test alone, under a name that is not ASCII; two runs of the suite at
// once (native and sanitizer builds) get folders of their own.
class ScratchFolder {
  public:
    ScratchFolder() {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::random_device random;
        folder_ = fs::temp_directory_path() / pathFromUtf8("zarn-存档-" + std::to_string(random())) /
                  (std::string(info->test_suite_name()) + "." + info->name());
        fs::create_directories(folder_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(folder_.parent_path(), ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string file(const std::string& name) const { return utf8(folder_ / pathFromUtf8(name)); }

  private:
    fs::path folder_;
};

// A save file taken apart into its body lines, to be changed line by line and put together again
// with a fresh header (so that only the checks behind the hash see the change).
struct SaveText {
    int version = 6;
    std::vector<std::string> lines;

    explicit SaveText(const std::string& file) {
        std::istringstream in(file.substr(file.find('\n') + 1));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
    }
    std::string body() const {
        std::string text;
        for (const std::string& line : lines) {
            text += line + '\n';
        }
        return text;
    }
    std::string file() const {
        const std::string b = body();
        return "ZARNMATTER " + std::to_string(version) + " " + std::to_string(fnv1a64(b)) + "\n" + b;
    }

    // Where the sections of a version 6 body start, from the counts the body holds.
    std::size_t count(std::size_t line) const { return std::stoull(lines[line]); }
    std::size_t buildingCountLine() const { return 1; }
    std::size_t playerLine() const { return 2 + count(buildingCountLine()); }
    std::size_t scoreLine() const { return playerLine() + 1; }
    std::size_t ammoLine(std::size_t weapon) const { return scoreLine() + 1 + weapon; }
    std::size_t enemyCountLine() const { return ammoLine(7); }
    std::size_t supplyCountLine() const { return enemyCountLine() + 1 + count(enemyCountLine()); }
    std::size_t countersLine() const { return supplyCountLine() + 1 + count(supplyCountLine()); }
    std::size_t pieceCountLine() const { return countersLine() + 1; }
    std::size_t bondCountLine() const { return pieceCountLine() + 1 + count(pieceCountLine()); }

    static std::vector<std::string> fields(const std::string& line) {
        std::vector<std::string> out;
        std::istringstream in(line);
        for (std::string f; in >> f;) {
            out.push_back(f);
        }
        return out;
    }
    std::string field(std::size_t line, std::size_t index) const { return fields(lines[line]).at(index); }
    void setField(std::size_t line, std::size_t index, const std::string& value) {
        std::vector<std::string> f = fields(lines[line]);
        f.at(index) = value;
        std::string joined;
        for (std::size_t i = 0; i < f.size(); ++i) {
            joined += (i ? " " : "") + f[i];
        }
        lines[line] = joined;
    }
};

// A city game after a fight: a blast has torn a tower's wall open at the foot of which an enemy
// stood (broken bonds, loose matter still falling, the enemy dead and a supply dropped, points
// paid), and a burst of rifle fire has chipped the wall; nothing is in flight any more.
Game battle() {
    Game game;
    const test::WallTarget wall = test::secondStoreyWall(game.world, 40.0);
    game.enemies[0].position = {wall.x, 0.0, wall.faceZ - 2.0};
    game.enemies[0].health = 30.0; // already wounded: the blast finishes it
    test::faceWall(game, wall, 30.0);
    game.explode({wall.x, wall.middleY, wall.faceZ});
    Input fire;
    fire.shoot = true;
    run(game, fire, 12);
    run(game, {}, 60);
    return game;
}

// Values that only an exact number format brings back: signed zeros, subnormals, a name with
// quotes, backslashes and line ends, the largest building number allowed.
void addAwkwardValues(Game& game) {
    World& world = game.world;
    world.name = "东方 \"明珠\" \\ 塔\n第二行";
    world.buildings[0].name = "\"\\\"";
    world.buildings[1].extra = -0.0;
    world.buildings[2].extra = std::numeric_limits<double>::denorm_min();
    world.buildings[3].extra = 1e15;
    game.player.yaw = -0.0;
    game.player.pitch = -std::numeric_limits<double>::denorm_min();
    game.player.position.x += 1.0 / 3.0;
    MatterPiece& piece = world.physics.pieces.front();
    piece.color = {2.2250738585072009e-308, -0.0, 0.1};
}

TEST(SaveFileTest, Fnv1a64OfKnownTexts) {
    EXPECT_EQ(fnv1a64(""), 14695981039346656037ull);
    EXPECT_EQ(fnv1a64("a"), 12638187200555641996ull);
    EXPECT_EQ(fnv1a64("foobar"), 9625390261332436968ull);
    // Hashing on from where the earlier bytes left off is hashing the whole.
    EXPECT_EQ(fnv1a64("bar", fnv1a64("foo")), fnv1a64("foobar"));
    // Bytes above 127 count as unsigned.
    EXPECT_EQ(fnv1a64("\xff"), (fnvOffsetBasis ^ 0xffu) * fnvPrime);
}

TEST(SaveFileTest, BattleInTheCityComesBackBitForBitAndRunsOnFromItsFile) {
    const ScratchFolder scratch;
    Game original = battle();
    const Physics& matter = original.world.physics;
    ASSERT_TRUE(original.bullets.empty());
    ASSERT_TRUE(original.rockets.empty());
    ASSERT_FALSE(matter.topologyDirty);
    ASSERT_GT(matter.movingPieceCount(), 0u);
    ASSERT_GT(matter.brokenBondCount, 0u);
    ASSERT_GT(matter.fractureCount, 0u);
    ASSERT_FALSE(original.enemies[0].alive);
    ASSERT_EQ(original.supplies.size(), 1u);
    ASSERT_GT(original.points, 0.0);
    ASSERT_LT(original.slots[2].magazine, weapons[2].magazine);
    addAwkwardValues(original);

    // Into a folder that does not exist yet, under a name with spaces and Chinese characters.
    const std::string path = scratch.file("城市 存档/第一次.sav");
    std::string message;
    ASSERT_TRUE(original.save(path, message)) << message;
    const std::string file = readBytes(path);
    ASSERT_EQ(file.rfind("ZARNMATTER 6 ", 0), 0u);
    EXPECT_EQ(file.find("\r"), std::string::npos);
    // Numbers take their shortest exact form, the same on every platform: the two buildings' numbers.
    EXPECT_NE(file.find(" -0\n"), std::string::npos);
    EXPECT_NE(file.find(" 5e-324\n"), std::string::npos);
    EXPECT_FALSE(exists(suffixed(path, ".tmp")));
    EXPECT_FALSE(exists(suffixed(path, ".bak")));

    Game loaded;
    ASSERT_TRUE(loaded.load(path, message)) << message;
    EXPECT_EQ(test::hashSavedGame(loaded), test::hashSavedGame(original));
    EXPECT_EQ(loaded.world.name, original.world.name);
    EXPECT_EQ(loaded.world.buildings[0].name, "\"\\\"");
    EXPECT_TRUE(std::signbit(loaded.world.buildings[1].extra));
    EXPECT_EQ(loaded.world.buildings[2].extra, std::numeric_limits<double>::denorm_min());
    EXPECT_TRUE(std::signbit(loaded.player.yaw));
    EXPECT_EQ(loaded.player.pitch, -std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(loaded.world.physics.pieces.front().color.x, 2.2250738585072009e-308);
    EXPECT_TRUE(std::signbit(loaded.world.physics.pieces.front().color.y));
    EXPECT_FALSE(loaded.enemies[0].alive);
    EXPECT_EQ(loaded.kills, original.kills);
    // The broken bonds are gone; the loose matter is still moving.
    EXPECT_LT(loaded.world.physics.bonds.size(), matter.bonds.size());
    EXPECT_EQ(loaded.world.physics.movingPieceCount(), matter.movingPieceCount());
    EXPECT_EQ(loaded.message, restoredMessage);
    EXPECT_EQ(loaded.messageUntil, loaded.time + Game::messageTime);
    EXPECT_FALSE(loaded.dead);

    // Saving the loaded game writes the same bytes: nothing the file holds was lost or changed.
    const std::string again = scratch.file("第二次.sav");
    ASSERT_TRUE(loaded.save(again, message)) << message;
    EXPECT_EQ(readBytes(again), file);

    // A game loaded from that file into a game in the middle of something else runs on exactly
    // as the first one does: fighting on, walking and turning, with the matter still moving.
    Game other;
    other.reset(true);
    other.world.demolitionTest();
    Input walk;
    walk.move.forward = 1.0;
    walk.shoot = true;
    run(other, walk, 30);
    ASSERT_TRUE(other.load(again, message)) << message;
    EXPECT_EQ(test::hashGame(other), test::hashGame(loaded));
    const std::uint64_t fractures = loaded.world.physics.fractureCount;
    for (int i = 0; i < 360; ++i) {
        Input input;
        input.move.forward = i < 200 ? 1.0 : 0.0;
        input.move.side = i % 90 < 45 ? 0.3 : -0.3;
        input.shoot = (i / 30) % 2 == 0;
        input.reload = i == 250;
        for (Game* game : {&loaded, &other}) {
            game->player.yaw = 0.2 * std::sin(0.02 * i);
            game->tick(input, i % 5 == 0 ? 0.02 : dt);
            game->heardSounds.clear();
            game->shotSound = 0;
        }
    }
    EXPECT_GT(loaded.world.physics.fractureCount, fractures);
    EXPECT_EQ(test::hashGame(other), test::hashGame(loaded));
    EXPECT_EQ(test::hashSavedGame(other), test::hashSavedGame(loaded));
}

TEST(SaveFileTest, DistrictGameComesBack) {
    const ScratchFolder scratch;
    Game district;
    std::string message;
    ASSERT_TRUE(district.world.loadMap(ZARN_LUJIAZUI_MAP, message)) << message;
    const std::string path = scratch.file("陆家嘴.sav");
    ASSERT_TRUE(district.save(path, message)) << message;
    Game loaded;
    ASSERT_TRUE(loaded.load(path, message)) << message;
    EXPECT_EQ(loaded.world.id, "lujiazui");
    EXPECT_EQ(test::hashSavedGame(loaded), test::hashSavedGame(district));
}

// ---- refused saves ----

TEST(SaveFileTest, GameTheLoaderWouldRefuseIsNotSavedAndTheLastSaveStays) {
    const ScratchFolder scratch;
    const Game city;
    const std::string path = scratch.file("城市.sav");
    std::string message;
    ASSERT_TRUE(city.save(path, message)) << message;
    ASSERT_TRUE(city.save(path, message)) << message; // with a backup too
    const std::string save = readBytes(path);
    const std::string backup = readBytes(suffixed(path, ".bak"));

    struct Case {
        const char* what;
        std::function<void(Game&)> change;
        const char* message;
    };
    const std::vector<Case> cases{
        {"ground level above 0", [](Game& g) { g.world.physics.groundLevel = 0.5; }, "地图元数据无效"},
        {"spawn point 3001 m out",
         [](Game& g) {
             g.world.spawnPoint = {3001.0, 0.0, 0.0};
         },
         "地图元数据无效"},
        {"1001 buildings", [](Game& g) { g.world.buildings.resize(1001, g.world.buildings[0]); },
         "地图元数据无效"},
        {"building 3000.5 m out",
         [](Game& g) {
             g.world.buildings[4].center = {2121.5, 0.0, 2122.0};
         },
         "地图建筑无效"},
        {"building 5 mm wide", [](Game& g) { g.world.buildings[4].sizeX = 0.005; }, "地图建筑无效"},
        {"building 2000.5 m deep", [](Game& g) { g.world.buildings[4].sizeZ = 2000.5; }, "地图建筑无效"},
        {"building 1000.5 m high", [](Game& g) { g.world.buildings[4].height = 1000.5; }, "地图建筑无效"},
        {"building number 2e15", [](Game& g) { g.world.buildings[4].extra = 2e15; }, "地图建筑无效"},
        {"pitch 1.6", [](Game& g) { g.player.pitch = 1.6; }, "玩家状态无效"},
        {"health NaN", [](Game& g) { g.health = std::nan(""); }, "玩家状态无效"},
        {"rocket launcher at level 0", [](Game& g) { g.weapon = 6; }, "玩家状态无效"},
        {"81 kills", [](Game& g) { g.kills = 81; }, "玩家状态无效"},
        {"reserve 10001", [](Game& g) { g.slots[1].reserve = 10001; }, "弹药数据无效"},
        {"no enemies", [](Game& g) { g.enemies.clear(); }, "敌人数据无效"},
        {"enemy 3001 m out",
         [](Game& g) {
             g.enemies[7].position = {0.0, -3001.0, 0.0};
         },
         "敌人状态无效"},
        {"enemies out of order", [](Game& g) { std::swap(g.enemies[3], g.enemies[4]); }, "敌人状态无效"},
        {"81 supplies", [](Game& g) { g.supplies.resize(81); }, "补给数据无效"},
        {"supply 3001 m out",
         [](Game& g) {
             g.supplies.push_back({{3001.0, 0.0, 0.0}, false});
         },
         "补给状态无效"},
        {"ten million and one fractures", [](Game& g) { g.world.physics.fractureCount = 10000001; },
         "物理计数无效"},
        {"no matter", [](Game& g) { g.world.physics.clear(); }, "物质块数量无效"},
        {"generation 19", [](Game& g) { g.world.physics.pieces[9].generation = 19; }, "物质块数据无效"},
        {"state time ahead of the clock",
         [](Game& g) { g.world.physics.pieces[9].stateTime = g.world.physics.time + 1.0; }, "物质块数据无效"},
        {"colour too bright",
         [](Game& g) {
             g.world.physics.pieces[9].color = {2.0, 0.0, 0.1};
         },
         "物质块数据无效"},
        {"building number of no building",
         [](Game& g) {
             g.world.physics.pieces[9].building = static_cast<std::int32_t>(g.world.buildings.size());
         },
         "物质块数据无效"},
        {"bond 5001 m out",
         [](Game& g) {
             g.world.physics.bonds[5].center = {0.0, 5001.0, 0.0};
         },
         "连接数据无效"},
        {"bond normal of length 2",
         [](Game& g) {
             g.world.physics.bonds[5].normal = {0.0, 2.0, 0.0};
         },
         "连接数据无效"},
        {"flat piece", [](Game& g) { g.world.physics.pieces[9].body.halfExtents.y = 0.0; },
         "存档物理数据无效"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Game game = city;
        c.change(game);
        message.clear();
        EXPECT_FALSE(game.save(path, message));
        EXPECT_EQ(message, c.message);
    }

    Game training;
    training.reset(true);
    EXPECT_FALSE(training.save(path, message));
    EXPECT_EQ(message, "测试场景不会覆盖城市存档");
    EXPECT_FALSE(training.save(scratch.file("训练场.sav"), message));
    EXPECT_FALSE(exists(scratch.file("训练场.sav")));

    EXPECT_EQ(readBytes(path), save);
    EXPECT_EQ(readBytes(suffixed(path, ".bak")), backup);
    EXPECT_FALSE(exists(suffixed(path, ".tmp")));
}

TEST(SaveFileTest, BondsOfPiecesKilledSinceTheLastRefreshAreLeftOut) {
    const ScratchFolder scratch;
    Game game;
    Physics& physics = game.world.physics;
    const Bond bond = physics.bonds[100];
    // A split kills the piece and leaves its bonds to the next topology refresh.
    physics.pieces[bond.a - 1].alive = false;
    physics.topologyDirty = true;
    const std::string path = scratch.file("城市.sav");
    std::string message;
    ASSERT_TRUE(game.save(path, message)) << message;
    Game loaded;
    ASSERT_TRUE(loaded.load(path, message)) << message;
    EXPECT_FALSE(loaded.world.physics.pieces[bond.a - 1].alive);
    for (const Bond& b : loaded.world.physics.bonds) {
        ASSERT_TRUE(b.a != bond.a && b.b != bond.a);
    }
}

// ---- refused loads ----

class SaveFileLoadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Game city;
        city.world.physics.pieces[11].alive = false; // its bonds are gone after the refresh
        city.world.physics.refreshTopology();
        city.health = 0.0;
        city.dead = true;
        const fs::path folder =
            fs::temp_directory_path() / ("zarn-save-fixture-" + std::to_string(std::random_device()()));
        fs::create_directories(folder);
        const std::string path = utf8(folder / "城市.sav");
        std::string message;
        saved = city.save(path, message);
        cityFile = readBytes(path);
        cityHash = test::hashSavedGame(city);
        fs::remove_all(folder);
    }

    void SetUp() override { ASSERT_TRUE(saved); }

    // Loads the text into a game in the middle of play; on refusal, checks that it is unchanged.
    std::string refusal(const std::string& text) {
        writeBytes(path_, text);
        const std::uint64_t before = test::hashGame(running_);
        const std::uint64_t savedBefore = test::hashSavedGame(running_);
        std::string message;
        if (running_.load(path_, message)) {
            return "loaded";
        }
        EXPECT_EQ(test::hashGame(running_), before);
        EXPECT_EQ(test::hashSavedGame(running_), savedBefore);
        return message;
    }

    static Game playing() {
        Game game;
        Input input;
        input.move.forward = 1.0;
        input.shoot = true;
        run(game, input, 20);
        return game;
    }

    static bool saved;
    static std::string cityFile;
    static std::uint64_t cityHash;
    ScratchFolder scratch_;
    std::string path_ = scratch_.file("存档.sav");
    Game running_ = playing();
};
bool SaveFileLoadTest::saved = false;
std::string SaveFileLoadTest::cityFile;
std::uint64_t SaveFileLoadTest::cityHash = 0;

TEST_F(SaveFileLoadTest, DamagedOrForeignFilesAreRefused) {
    std::string message;
    EXPECT_FALSE(running_.load(scratch_.file("没有.sav"), message));
    EXPECT_EQ(message, "尚无统一物理世界存档");
    fs::create_directories(pathFromUtf8(scratch_.file("文件夹.sav")));
    EXPECT_FALSE(running_.load(scratch_.file("文件夹.sav"), message));
    EXPECT_EQ(message, "尚无统一物理世界存档");

    const std::string integrity = "存档完整性校验失败";
    const std::string format = "需要统一物理版存档；旧版存档保留在原文件中";
    const std::size_t bodyStart = cityFile.find('\n') + 1;
    for (const std::size_t at : {bodyStart, bodyStart + 1000, cityFile.size() / 2, cityFile.size() - 2}) {
        std::string flipped = cityFile;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x04);
        EXPECT_EQ(refusal(flipped), integrity) << "byte " << at;
    }
    EXPECT_EQ(refusal(cityFile.substr(0, cityFile.size() / 2)), integrity);
    EXPECT_EQ(refusal(cityFile.substr(0, cityFile.size() - 1)), integrity);
    EXPECT_EQ(refusal(cityFile + " "), integrity);

    SaveText text(cityFile);
    for (const int version : {2, 7}) {
        text.version = version;
        EXPECT_EQ(refusal(text.file()), format) << version;
    }
    const std::string rest = cityFile.substr(10); // " 6 " and the hash on

    EXPECT_EQ(refusal("ZARNMATTERS" + rest), format);
    EXPECT_EQ(refusal("ZARNMAP" + rest), format);
    EXPECT_EQ(refusal("ZARNMATTER 6\n" + cityFile.substr(bodyStart)), format);
    EXPECT_EQ(refusal("ZARNMATTER 6 -1\n" + cityFile.substr(bodyStart)), format);
    EXPECT_EQ(refusal(""), format);
}

TEST_F(SaveFileLoadTest, FileOfThirtyTwoMebibytesIsReadAndOneByteMoreIsNot) {
    SaveText text(cityFile);
    std::string body = text.body();
    const auto fileOf = [](const std::string& b) {
        return "ZARNMATTER 6 " + std::to_string(fnv1a64(b)) + "\n" + b;
    };
    // White space after the last bond is allowed: pad the body up to the limit, choosing two of the
    // last blanks so that the hash has twenty digits and the header its longest length. (A change
    // in the very last bytes only reaches the hash's low bits, so the choice is made further back.)
    body.resize(maxSaveFileBytes - 34, '\n');
    const std::string_view padded(body);
    const std::size_t first = body.size() - 20;
    const std::size_t second = body.size() - 10;
    const std::uint64_t prefix = fnv1a64(padded.substr(0, first));
    const char blanks[] = " \t\r\n";
    for (int i = 0; i < 16 && std::to_string(fnv1a64(padded.substr(first), prefix)).size() < 20; ++i) {
        body[first] = blanks[i / 4];
        body[second] = blanks[i % 4];
    }
    const std::string file = fileOf(body);
    ASSERT_EQ(file.size(), maxSaveFileBytes);
    EXPECT_EQ(refusal(file), "loaded");
    EXPECT_EQ(running_.message, restoredMessage);
    EXPECT_EQ(refusal(file + "\n"), "存档超出大小限制");
}

TEST_F(SaveFileLoadTest, EachLimitIsCheckedOnBothSides) {
    struct Case {
        const char* what;
        std::function<void(SaveText&)> change;
        const char* message; // null: the file still loads
    };
    const auto set = [](std::function<std::size_t(const SaveText&)> line, std::size_t field,
                        std::string value) {
        return [line, field, value](SaveText& t) { t.setField(line(t), field, value); };
    };
    const auto at = [](std::size_t n) { return [n](const SaveText&) { return n; }; };
    const auto building = [](std::size_t i) { return [i](const SaveText&) { return 2 + i; }; };
    const auto player = [](const SaveText& t) { return t.playerLine(); };
    const auto score = [](const SaveText& t) { return t.scoreLine(); };
    const auto ammo = [](std::size_t w) { return [w](const SaveText& t) { return t.ammoLine(w); }; };
    const auto enemy = [](std::size_t i) {
        return [i](const SaveText& t) { return t.enemyCountLine() + 1 + i; };
    };
    const auto counters = [](const SaveText& t) { return t.countersLine(); };
    const auto piece = [](std::size_t i) {
        return [i](const SaveText& t) { return t.pieceCountLine() + 1 + i; };
    };
    const auto bond = [](std::size_t i) {
        return [i](const SaveText& t) { return t.bondCountLine() + 1 + i; };
    };
    const char* const metadata = "地图元数据无效";
    const char* const buildingBad = "地图建筑无效";
    const char* const playerBad = "玩家状态无效";
    const char* const pieceBad = "物质块数据无效";
    const char* const bondBad = "连接数据无效";

    const std::vector<Case> cases{
        {"ground level 0", set(at(0), 2, "0"), nullptr},
        {"ground level 0.5", set(at(0), 2, "0.5"), metadata},
        {"ground level -100.5", set(at(0), 2, "-100.5"), metadata},
        {"sky colour (2, 0, 0.1)", [](SaveText& t) { t.setField(0, 3, "2"), t.setField(0, 5, "0.1"); },
         metadata},
        {"spawn point 3000 m out", [](SaveText& t) { t.setField(0, 6, "0"), t.setField(0, 8, "-3000"); },
         nullptr},
        {"spawn point 3000.5 m out", set(at(0), 8, "-3000.5"), metadata},
        {"spawn point not a number", set(at(0), 7, "nan"), metadata},
        {"building count 1001", set(at(1), 0, "1001"), metadata},
        {"building count -1", set(at(1), 0, "-1"), metadata},
        {"building 3000 m out", [](SaveText& t) { t.setField(2, 1, "1800"), t.setField(2, 2, "-2400"); },
         nullptr},
        {"building 3000.5 m out", [](SaveText& t) { t.setField(2, 1, "1800"), t.setField(2, 2, "-2400.5"); },
         buildingBad},
        {"building 0.01 m wide", set(building(3), 3, "0.01"), nullptr},
        {"building 0.0099 m wide", set(building(3), 3, "0.0099"), buildingBad},
        {"building 2000.5 m deep", set(building(3), 4, "2000.5"), buildingBad},
        {"building 1000 m high", set(building(3), 5, "1000"), nullptr},
        {"building 1000.5 m high", set(building(3), 5, "1000.5"), buildingBad},
        {"building number -1", set(building(3), 6, "-1"), buildingBad},
        {"building number 1.5e15", set(building(3), 6, "1.5e15"), buildingBad},
        {"building number infinite", set(building(3), 6, "inf"), buildingBad},
        {"building without a quoted name", set(building(3), 0, "tower"), buildingBad},
        {"position 1e9 out",
         [](SaveText& t) {
             t.setField(t.playerLine(), 0, "0"), t.setField(t.playerLine(), 1, "1e9"),
                 t.setField(t.playerLine(), 2, "0");
         },
         nullptr},
        {"position 1.5e9 out", set(player, 1, "1.5e9"), playerBad},
        {"yaw -1e9", set(player, 3, "-1e9"), nullptr},
        {"yaw 2e9", set(player, 3, "2e9"), playerBad},
        {"pitch 1.5", set(player, 4, "1.5"), nullptr},
        {"pitch -1.51", set(player, 4, "-1.51"), playerBad},
        {"health 200.5", set(score, 0, "200.5"), playerBad},
        {"armour -1", set(score, 1, "-1"), playerBad},
        {"points 1e12", set(score, 2, "1e12"), nullptr},
        {"total points 1.1e12", set(score, 3, "1.1e12"), playerBad},
        {"level 5", set(score, 4, "5"), playerBad},
        {"level 4 with the rocket launcher",
         [](SaveText& t) { t.setField(t.scoreLine(), 4, "4"), t.setField(t.scoreLine(), 5, "6"); }, nullptr},
        {"rocket launcher at level 1",
         [](SaveText& t) { t.setField(t.scoreLine(), 4, "1"), t.setField(t.scoreLine(), 5, "6"); },
         playerBad},
        {"weapon 7", set(score, 5, "7"), playerBad},
        {"kills 80", set(score, 6, "80"), nullptr},
        {"kills 81", set(score, 6, "81"), playerBad},
        {"level written as a fraction", set(score, 4, "1.5"), playerBad},
        {"magazine of 30 in the rifle", set(ammo(2), 0, "30"), nullptr},
        {"magazine of 31 in the rifle", set(ammo(2), 0, "31"), "弹药数据无效"},
        {"reserve 10000", set(ammo(6), 1, "10000"), nullptr},
        {"reserve 10001", set(ammo(6), 1, "10001"), "弹药数据无效"},
        {"79 enemies",
         [](SaveText& t) {
             t.setField(t.enemyCountLine(), 0, "79"),
                 t.lines.erase(t.lines.begin() + static_cast<std::ptrdiff_t>(t.enemyCountLine()) + 1);
         },
         "敌人数据无效"},
        {"enemy with another's id", set(enemy(5), 0, "6"), "敌人状态无效"},
        {"enemy 3001 m out", set(enemy(5), 2, "3001"), "敌人状态无效"},
        {"enemy health 100.5", set(enemy(5), 4, "100.5"), "敌人状态无效"},
        {"enemy health -10000", set(enemy(5), 4, "-10000"), nullptr},
        {"enemy health -10001", set(enemy(5), 4, "-10001"), "敌人状态无效"},
        {"enemy alive 2", set(enemy(5), 5, "2"), "敌人状态无效"},
        {"81 supplies", [](SaveText& t) { t.setField(t.supplyCountLine(), 0, "81"); }, "补给数据无效"},
        {"a supply 3001 m out",
         [](SaveText& t) {
             t.setField(t.supplyCountLine(), 0, "1");
             t.lines.insert(t.lines.begin() + static_cast<std::ptrdiff_t>(t.supplyCountLine()) + 1,
                            "0 3001 0 0");
         },
         "补给状态无效"},
        {"a supply 3000 m out",
         [](SaveText& t) {
             t.setField(t.supplyCountLine(), 0, "1");
             t.lines.insert(t.lines.begin() + static_cast<std::ptrdiff_t>(t.supplyCountLine()) + 1,
                            "0 3000 0 1");
         },
         nullptr},
        {"physics time -1", set(counters, 0, "-1"), "物理计数无效"},
        {"ten million fractures", set(counters, 1, "10000000"), nullptr},
        {"ten million and one broken bonds", set(counters, 2, "10000001"), "物理计数无效"},
        {"no pieces", [](SaveText& t) { t.setField(t.pieceCountLine(), 0, "0"); }, "物质块数量无效"},
        {"4294967295 pieces", [](SaveText& t) { t.setField(t.pieceCountLine(), 0, "4294967295"); },
         "物质块数量无效"},
        {"piece count far beyond the file",
         [](SaveText& t) { t.setField(t.pieceCountLine(), 0, "4294967294"); }, pieceBad},
        {"piece id out of place", set(piece(20), 0, "20"), pieceBad},
        {"generation 18", set(piece(20), 4, "18"), nullptr},
        {"generation 19", set(piece(20), 4, "19"), pieceBad},
        {"building -10", set(piece(20), 1, "-10"), nullptr},
        {"building -11", set(piece(20), 1, "-11"), pieceBad},
        {"building of the count", [](SaveText& t) { t.setField(t.pieceCountLine() + 21, 1, t.lines[1]); },
         pieceBad},
        {"bondable from -1", set(piece(20), 5, "-1"), pieceBad},
        {"bondable from 1e10", set(piece(20), 5, "1e10"), nullptr},
        {"state time beyond the clock", set(piece(20), 6, "1"), pieceBad},
        {"colour of length 2.01", [](SaveText& t) { t.setField(t.pieceCountLine() + 21, 20, "2.01"); },
         pieceBad},
        {"piece record cut short",
         [](SaveText& t) {
             std::string& line = t.lines[t.pieceCountLine() + 21];
             line = line.substr(0, line.rfind(' '));
         },
         pieceBad},
        {"4294967295 bonds", [](SaveText& t) { t.setField(t.bondCountLine(), 0, "4294967295"); },
         "连接数量无效"},
        {"bond normal of length 1.02", set(bond(7), 7, "1.02"), bondBad},
        {"bond normal of length 0.99",
         [](SaveText& t) {
             const std::size_t l = t.bondCountLine() + 8;
             t.setField(l, 6, "0"), t.setField(l, 7, "0.99"), t.setField(l, 8, "0");
         },
         nullptr},
        {"bond 5001 m out",
         [](SaveText& t) {
             const std::size_t l = t.bondCountLine() + 8;
             t.setField(l, 3, "5001"), t.setField(l, 4, "0"), t.setField(l, 5, "0");
         },
         bondBad},
        {"bond of a piece to itself",
         [](SaveText& t) {
             const std::size_t l = t.bondCountLine() + 8;
             t.setField(l, 1, t.field(l, 0));
         },
         "存档物理数据无效"},
        {"bond of no area", set(bond(7), 2, "0"), "存档物理数据无效"},
        {"bond to piece 0", set(bond(7), 0, "0"), "存档物理数据无效"},
        {"piece of no height", set(piece(20), 12, "0"), "存档物理数据无效"},
        {"a word after the last bond", [](SaveText& t) { t.lines.push_back("0"); }, "存档物理数据无效"},
        {"bond to the dead piece", set(bond(7), 0, "12"), "连接引用了已细分块"},
    };
    for (const Case& c : cases) {
        SaveText text(cityFile);
        c.change(text);
        EXPECT_EQ(refusal(text.file()), c.message ? c.message : "loaded") << c.what;
    }
}

// The loader's refresh breaks the bonds that a saved world overloads, and counts them: a save whose
// count of broken bonds is at its limit still loads and can be saved again.
TEST_F(SaveFileLoadTest, SaveWhoseOverloadedBondsBreakOnLoadSavesAgain) {
    SaveText text(cityFile);
    text.setField(text.countersLine(), 2, "10000000");
    const std::size_t bonds = text.count(text.bondCountLine());
    for (std::size_t k = 0; k < bonds; ++k) {
        text.setField(text.bondCountLine() + 1 + k, 2, "1e-9"); // no bond carries anything
    }
    ASSERT_EQ(refusal(text.file()), "loaded");
    const Physics& physics = running_.world.physics;
    const auto intact =
        std::count_if(physics.bonds.begin(), physics.bonds.end(), [](const Bond& b) { return b.intact; });
    EXPECT_LT(static_cast<std::size_t>(intact), bonds);
    EXPECT_EQ(physics.brokenBondCount, 10000000u);
    std::string file;
    std::string message;
    EXPECT_TRUE(composeSave(running_, file, message)) << message;
}

TEST_F(SaveFileLoadTest, DeadPlayerAndDeadPiecesComeBackDead) {
    EXPECT_EQ(refusal(cityFile), "loaded");
    EXPECT_EQ(test::hashSavedGame(running_), cityHash);
    EXPECT_TRUE(running_.dead);
    EXPECT_FALSE(running_.world.physics.pieces[11].alive);
    // Settings the player chose stay with the running game.
    running_.impactMultiplier = 2.5;
    running_.world.physics.motionLimit = 900;
    EXPECT_EQ(refusal(cityFile), "loaded");
    EXPECT_EQ(running_.impactMultiplier, 2.5);
    EXPECT_EQ(running_.world.physics.motionLimit, 900u);
}

TEST_F(SaveFileLoadTest, OlderVersionsLoadWithTheCityItself) {
    // A version 4 file has no map section and no indoor flags; version 3 neither state time nor
    // sleep. Made from the city's save with a changed name, which the old versions cannot carry.
    SaveText v6(cityFile);
    v6.setField(0, 0, "\"旧城\"");
    SaveText v4 = v6;
    v4.version = 4;
    const std::size_t mapLines = v6.playerLine();
    v4.lines.erase(v4.lines.begin(), v4.lines.begin() + static_cast<std::ptrdiff_t>(mapLines));
    const std::size_t firstPiece = v6.pieceCountLine() + 1 - mapLines;
    const std::size_t pieceCount = v6.count(v6.pieceCountLine());
    for (std::size_t i = firstPiece; i < firstPiece + pieceCount; ++i) {
        std::string& line = v4.lines[i];
        line = line.substr(0, line.rfind(' '));
    }
    SaveText v3 = v4;
    v3.version = 3;
    for (std::size_t i = firstPiece; i < firstPiece + pieceCount; ++i) {
        std::vector<std::string> f = SaveText::fields(v3.lines[i]);
        f.erase(f.begin() + 6, f.begin() + 8);
        std::string joined;
        for (const std::string& s : f) {
            joined += (joined.empty() ? "" : " ") + s;
        }
        v3.lines[i] = joined;
    }

    EXPECT_EQ(refusal(v6.file()), "loaded");
    EXPECT_EQ(running_.world.name, "旧城");
    const Game fresh;
    bool indoor = false;
    for (const MatterPiece& piece : running_.world.physics.pieces) {
        indoor = indoor || piece.indoor;
    }
    EXPECT_TRUE(indoor);

    EXPECT_EQ(refusal(v4.file()), "loaded");
    EXPECT_EQ(running_.world.name, fresh.world.name);
    EXPECT_EQ(running_.world.buildings.size(), fresh.world.buildings.size());
    for (const MatterPiece& piece : running_.world.physics.pieces) {
        ASSERT_FALSE(piece.indoor);
    }
    EXPECT_TRUE(running_.dead);

    EXPECT_EQ(refusal(v3.file()), "loaded");
    for (const MatterPiece& piece : running_.world.physics.pieces) {
        ASSERT_EQ(piece.stateTime, running_.world.physics.time);
        ASSERT_FALSE(piece.asleep);
    }
    // A version 4 body under a version 6 header runs out of fields.
    v4.version = 6;
    EXPECT_EQ(refusal(v4.file()), "地图元数据无效");
}

// ---- interrupted saves ----

// A save interrupted by a file-system error just before the given step.
SaveInterruption failingAt(SaveStep failing) {
    SaveInterruption interruption;
    interruption.beforeStep = [failing](SaveStep step) {
        if (step == failing) {
            throw fs::filesystem_error("interrupted", std::make_error_code(std::errc::io_error));
        }
    };
    return interruption;
}

bool loadsAs(const std::string& file, const Game& expected, const std::string& hudMessage) {
    Game game;
    std::string why;
    return game.load(file, why) && test::hashSavedGame(game) == test::hashSavedGame(expected) &&
           game.message == hudMessage;
}

TEST(SaveFileTest, InterruptedSaveNeverCostsTheLastGoodSave) {
    const ScratchFolder scratch;
    const std::string path = scratch.file("城市.sav");
    const std::string temporary = suffixed(path, ".tmp");
    const std::string backup = suffixed(path, ".bak");
    Game first;
    first.player.yaw = 0.5;
    Game second = first;
    second.player.yaw = 1.5;
    std::string message;

    // A crash while writing an earlier save left half a temporary file: the save does not care.
    // The file reaches the disk before it takes the save's name, and the folder's names after.
    writeBytes(temporary, "ZARNMATTER 6 123\n\"half");
    std::vector<SaveStep> steps;
    SaveInterruption watched;
    watched.beforeStep = [&steps](SaveStep step) { steps.push_back(step); };
    ASSERT_TRUE(saveGame(first, path, message, watched)) << message;
    EXPECT_EQ(steps, (std::vector<SaveStep>{SaveStep::writeTemporary, SaveStep::syncTemporary,
                                            SaveStep::replaceSave, SaveStep::syncFolder}));
    EXPECT_FALSE(exists(temporary));
    const std::string firstFile = readBytes(path);

    // Saving again keeps the first save as the backup.
    steps.clear();
    ASSERT_TRUE(saveGame(second, path, message, watched)) << message;
    EXPECT_EQ(steps,
              (std::vector<SaveStep>{SaveStep::writeTemporary, SaveStep::syncTemporary, SaveStep::keepBackup,
                                     SaveStep::replaceSave, SaveStep::syncFolder}));
    const std::string secondFile = readBytes(path);
    EXPECT_EQ(readBytes(backup), firstFile);
    EXPECT_NE(secondFile, firstFile);

    // The disk fills up while writing, or the file never reaches it, or the file system fails before
    // the old save becomes the backup or as it does: nothing changes but the message, and no
    // temporary file is left behind.
    Game third = first;
    third.player.yaw = 2.5;
    std::vector<SaveInterruption> untouched;
    for (const std::uint64_t bytes : {std::uint64_t{0}, std::uint64_t{5}, std::uint64_t{20000}}) {
        untouched.emplace_back().failAfterBytes = bytes;
    }
    for (const SaveStep step : {SaveStep::writeTemporary, SaveStep::syncTemporary, SaveStep::keepBackup}) {
        untouched.push_back(failingAt(step));
    }
    for (std::size_t i = 0; i < untouched.size(); ++i) {
        SCOPED_TRACE(i);
        message.clear();
        EXPECT_FALSE(saveGame(third, path, message, untouched[i]));
        if (i < 3) {
            EXPECT_EQ(message, "存档写入失败");
        } else {
            EXPECT_FALSE(message.empty()); // the file system's own words
        }
        EXPECT_EQ(readBytes(path), secondFile);
        EXPECT_EQ(readBytes(backup), firstFile);
        EXPECT_FALSE(exists(temporary));
    }

    // It fails after the old save became the backup: the whole temporary file stays beside it, and
    // loading finds the newest game there and says so.
    message.clear();
    EXPECT_FALSE(saveGame(third, path, message, failingAt(SaveStep::replaceSave)));
    EXPECT_FALSE(message.empty());
    EXPECT_FALSE(exists(path));
    const std::string thirdFile = readBytes(temporary);
    EXPECT_EQ(readBytes(backup), secondFile);
    const std::string fromTemporary = "存档缺失 / 已从未完成保存的临时文件恢复";
    EXPECT_TRUE(loadsAs(path, third, fromTemporary));

    // The game recovered from the temporary file outlives any failed save that follows: one that fails
    // as the temporary file takes the save's name changes nothing, and one that fills the disk finds
    // the recovered game already under the save's name.
    Game fourth = first;
    fourth.player.yaw = 3.0;
    EXPECT_FALSE(saveGame(fourth, path, message, failingAt(SaveStep::finishInterrupted)));
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(readBytes(temporary), thirdFile);
    EXPECT_TRUE(loadsAs(path, third, fromTemporary));
    SaveInterruption fullDisk;
    fullDisk.failAfterBytes = 100;
    EXPECT_FALSE(saveGame(fourth, path, message, fullDisk));
    EXPECT_EQ(message, "存档写入失败");
    EXPECT_EQ(readBytes(path), thirdFile);
    EXPECT_EQ(readBytes(backup), secondFile);
    EXPECT_FALSE(exists(temporary));
    EXPECT_TRUE(loadsAs(path, third, restoredMessage));
    // Back to what the failed move left, for the save below.
    writeBytes(temporary, thirdFile);
    fs::remove(pathFromUtf8(path));

    // A folder of the save's name is neither replaced nor moved aside.
    const std::string folder = scratch.file("文件夹");
    fs::create_directories(pathFromUtf8(folder) / "里面");
    EXPECT_FALSE(third.save(folder, message));
    EXPECT_EQ(message, "存档写入失败");
    EXPECT_TRUE(fs::is_directory(pathFromUtf8(folder) / "里面"));
    EXPECT_FALSE(exists(suffixed(folder, ".bak")));

    // The next save goes through as usual, and keeps the recovered game as its backup.
    ASSERT_TRUE(fourth.save(path, message)) << message;
    EXPECT_TRUE(loadsAs(path, fourth, restoredMessage));
    EXPECT_EQ(readBytes(backup), thirdFile);
    EXPECT_FALSE(exists(temporary));
}

// A crash between the two renames of a save leaves no save under its name: the new save whole in
// the temporary file and the old one as the backup (or less, if the crash came earlier). A save
// damaged since is passed over for the same files, and stays as it is.
TEST(SaveFileTest, LoadingRecoversWhatACrashLeft) {
    const ScratchFolder scratch;
    const std::string path = scratch.file("城市.sav");
    Game older;
    older.player.yaw = 0.5;
    Game newer = older;
    newer.player.yaw = 1.5;
    std::string olderFile;
    std::string newerFile;
    std::string message;
    ASSERT_TRUE(composeSave(older, olderFile, message)) << message;
    ASSERT_TRUE(composeSave(newer, newerFile, message)) << message;
    const std::string halfFile = newerFile.substr(0, newerFile.size() / 2);
    std::string damagedFile = newerFile;
    damagedFile[damagedFile.size() / 2] = static_cast<char>(damagedFile[damagedFile.size() / 2] ^ 0x04);
    const std::string foreignFile = "ZARNMATTER 7" + newerFile.substr(12);
    const std::string fromTemporary = "存档缺失 / 已从未完成保存的临时文件恢复";
    const std::string fromBackup = "存档缺失 / 已从备份恢复上一次存档";

    struct Case {
        const char* what;
        const char* save; // the bytes under each name; null: no such file
        const char* temporary;
        const char* backup;
        const Game* loads; // null: refused
        std::string message;
    };
    const Case cases[] = {
        {"whole new save and the old one", nullptr, newerFile.c_str(), olderFile.c_str(), &newer,
         fromTemporary},
        {"half a new save and the old one", nullptr, halfFile.c_str(), olderFile.c_str(), &older, fromBackup},
        {"the old one alone", nullptr, nullptr, olderFile.c_str(), &older, fromBackup},
        {"the new one alone", nullptr, newerFile.c_str(), nullptr, &newer, fromTemporary},
        {"a save beside a whole temporary file", olderFile.c_str(), newerFile.c_str(), nullptr, &older,
         restoredMessage},
        {"half a new save alone", nullptr, halfFile.c_str(), nullptr, nullptr, "尚无统一物理世界存档"},
        {"a damaged backup alone", nullptr, nullptr, halfFile.c_str(), nullptr, "存档完整性校验失败"},
        {"a damaged save beside the old one", damagedFile.c_str(), nullptr, olderFile.c_str(), &older,
         "存档损坏 / 已从备份恢复上一次存档"},
        {"a damaged save beside a whole new one and the old one", damagedFile.c_str(), newerFile.c_str(),
         olderFile.c_str(), &newer, "存档损坏 / 已从未完成保存的临时文件恢复"},
        {"a save of another version beside half a new one and a damaged backup", foreignFile.c_str(),
         halfFile.c_str(), damagedFile.c_str(), nullptr, "需要统一物理版存档；旧版存档保留在原文件中"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::pair<const char*, const char*> files[] = {
            {"", c.save}, {".tmp", c.temporary}, {".bak", c.backup}};
        for (const auto& [suffix, bytes] : files) {
            std::error_code ignored;
            fs::remove(pathFromUtf8(path + suffix), ignored);
            if (bytes) {
                writeBytes(path + suffix, bytes);
            }
        }
        if (c.loads) {
            EXPECT_TRUE(loadsAs(path, *c.loads, c.message));
        } else {
            Game game;
            const std::uint64_t before = test::hashGame(game);
            EXPECT_FALSE(game.load(path, message));
            EXPECT_EQ(message, c.message);
            EXPECT_EQ(test::hashGame(game), before);
        }
        if (c.save) {
            EXPECT_EQ(readBytes(path), c.save);
        }
    }
}

} // namespace
} // namespace zarn
