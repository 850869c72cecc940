#include "world/SaveFile.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "physics/Hash.hpp"
#include "world/DurableFile.hpp"
#include "world/Utf8Path.hpp"

namespace zarn {

namespace {

namespace fs = std::filesystem;

// What the player is told, one text per refusal.
const char* const sceneRefused = "测试场景不会覆盖城市存档";
const char* const writeFailed = "存档写入失败";
const char* const noSave = "尚无统一物理世界存档";
const char* const tooLarge = "存档超出大小限制";
const char* const wrongFormat = "需要统一物理版存档；旧版存档保留在原文件中";
const char* const hashMismatch = "存档完整性校验失败";
const char* const metadataInvalid = "地图元数据无效";
const char* const buildingInvalid = "地图建筑无效";
const char* const playerInvalid = "玩家状态无效";
const char* const ammoInvalid = "弹药数据无效";
const char* const enemyCountInvalid = "敌人数据无效";
const char* const enemyInvalid = "敌人状态无效";
const char* const supplyCountInvalid = "补给数据无效";
const char* const supplyInvalid = "补给状态无效";
const char* const countersInvalid = "物理计数无效";
const char* const pieceCountInvalid = "物质块数量无效";
const char* const pieceInvalid = "物质块数据无效";
const char* const bondCountInvalid = "连接数量无效";
const char* const bondInvalid = "连接数据无效";
const char* const physicsInvalid = "存档物理数据无效";
const char* const bondToDeadPiece = "连接引用了已细分块";
const char* const restored = "世界已恢复 / 物质块与连接已加载";
const char* const restoredFromTemporary = "存档缺失 / 已从未完成保存的临时文件恢复";
const char* const restoredFromBackup = "存档缺失 / 已从备份恢复上一次存档";
const char* const damagedFromTemporary = "存档损坏 / 已从未完成保存的临时文件恢复";
const char* const damagedFromBackup = "存档损坏 / 已从备份恢复上一次存档";

constexpr std::string_view magic = "ZARNMATTER";
constexpr int writtenVersion = 6;
constexpr int oldestVersion = 3;
constexpr int firstVersionWithMap = 5;
constexpr int firstVersionWithPieceState = 4;
constexpr int firstVersionWithIndoor = 6;

// ---- limits of a save ----
// The reader refuses anything outside them, and the writer refuses to write it, so every save that
// reports success can be read back. Comparisons are written so that a NaN fails them.

constexpr std::uint64_t maxBuildings = 1000;
constexpr std::size_t savedEnemies = 80;
constexpr std::uint64_t maxSupplies = 80;
constexpr std::uint64_t maxCounter = 10000000;
constexpr std::uint32_t maxGeneration = 18;
constexpr std::int32_t lowestBuildingTag = -10;
constexpr std::int32_t maxReserve = 10000;
constexpr std::int32_t maxKills = 80;
constexpr double maxFarTime = 1e10; // s, physics clock and bondable-from times

bool within(double value, double low, double high) {
    return value >= low && value <= high;
}

bool metadataFits(double groundLevel, const Vec3& skyColor, const Vec3& spawnPoint,
                  std::uint64_t buildingCount) {
    return within(groundLevel, -100.0, 0.0) && length(skyColor) <= 2.0 && length(spawnPoint) <= 3000.0 &&
           buildingCount <= maxBuildings;
}

// The player line and the score line.
bool playerFits(const Game& game) {
    const Player& player = game.player;
    if (!(length(player.position) <= 1e9) || !within(player.yaw, -1e9, 1e9) ||
        !within(player.pitch, -1.5, 1.5)) {
        return false;
    }
    if (!within(game.health, 0.0, 200.0) || !within(game.armour, 0.0, 200.0) ||
        !within(game.points, 0.0, 1e12) || !within(game.totalPoints, 0.0, 1e12)) {
        return false;
    }
    if (game.level < 0 || game.level > Game::maxLevel || game.weapon < 0 || game.weapon >= weaponCount ||
        weapons[static_cast<std::size_t>(game.weapon)].level > game.level) {
        return false;
    }
    return game.kills >= 0 && game.kills <= maxKills;
}

bool ammunitionFits(const WeaponSlot& slot, const WeaponSpec& spec) {
    return slot.magazine >= 0 && slot.magazine <= spec.magazine && slot.reserve >= 0 &&
           slot.reserve <= maxReserve;
}

bool enemyFits(const Enemy& enemy, std::int32_t expectedId) {
    return enemy.id == expectedId && length(enemy.position) <= 3000.0 &&
           within(enemy.health, -10000.0, 100.0);
}

bool supplyFits(const Supply& supply) {
    return length(supply.position) <= 3000.0;
}

bool countersFit(const Physics& physics) {
    return within(physics.time, 0.0, maxFarTime) && physics.fractureCount <= maxCounter &&
           physics.brokenBondCount <= maxCounter && physics.contactBondCount <= maxCounter;
}

bool pieceCountFits(std::uint64_t count) {
    return count >= 1 && count <= Physics::maxPieces;
}

bool pieceFits(const MatterPiece& piece, std::size_t index, std::size_t buildingCount, double physicsTime) {
    return piece.id == index + 1 && piece.generation <= maxGeneration &&
           piece.building >= lowestBuildingTag &&
           static_cast<std::int64_t>(piece.building) < static_cast<std::int64_t>(buildingCount) &&
           within(piece.bondableAt, 0.0, maxFarTime) && within(piece.stateTime, 0.0, physicsTime) &&
           length(piece.color) <= 2.0;
}

// A bond that names a dead piece is gone, even before the next topology refresh clears its flag:
// only the bonds that still hold are saved.
bool bondHolds(const Physics& physics, const Bond& bond) {
    const std::size_t count = physics.pieces.size();
    return bond.intact && bond.a >= 1 && bond.a <= count && bond.b >= 1 && bond.b <= count &&
           physics.pieces[bond.a - 1].alive && physics.pieces[bond.b - 1].alive;
}

// The reason the reader would refuse this game, or null when it would read it back.
const char* saveRefusal(const Game& game) {
    const World& world = game.world;
    const Physics& physics = world.physics;
    // A save holds the city: the training ground is a test scene, and the Earth and the stars hold
    // what a save cannot (terrain, organisms, bodies), so none of them is written or read back.
    if (game.training || world.earth || world.stars) {
        return sceneRefused;
    }
    if (!metadataFits(physics.groundLevel, world.skyColor, world.spawnPoint, world.buildings.size())) {
        return metadataInvalid;
    }
    for (const Building& b : world.buildings) {
        if (!buildingFits(b)) {
            return buildingInvalid;
        }
    }
    if (!playerFits(game)) {
        return playerInvalid;
    }
    for (std::size_t i = 0; i < game.slots.size(); ++i) {
        if (!ammunitionFits(game.slots[i], weapons[i])) {
            return ammoInvalid;
        }
    }
    if (game.enemies.size() != savedEnemies) {
        return enemyCountInvalid;
    }
    for (std::size_t i = 0; i < game.enemies.size(); ++i) {
        // A new city game numbers its enemies by their place in the list; the reader compares with it.
        if (!enemyFits(game.enemies[i], static_cast<std::int32_t>(i))) {
            return enemyInvalid;
        }
    }
    if (game.supplies.size() > maxSupplies) {
        return supplyCountInvalid;
    }
    for (const Supply& supply : game.supplies) {
        if (!supplyFits(supply)) {
            return supplyInvalid;
        }
    }
    if (!countersFit(physics)) {
        return countersInvalid;
    }
    if (!pieceCountFits(physics.pieces.size())) {
        return pieceCountInvalid;
    }
    for (std::size_t index = 0; index < physics.pieces.size(); ++index) {
        if (!pieceFits(physics.pieces[index], index, world.buildings.size(), physics.time)) {
            return pieceInvalid;
        }
    }
    std::uint64_t bondCount = 0;
    for (const Bond& bond : physics.bonds) {
        if (bondHolds(physics, bond)) {
            ++bondCount;
            if (!bondFits(bond)) {
                return bondInvalid;
            }
        }
    }
    if (bondCount > Physics::maxBonds) {
        return bondCountInvalid;
    }
    // The saved world is checked as a whole once it has been read: pose, extents and bond ends.
    if (!physics.validate()) {
        return physicsInvalid;
    }
    return nullptr;
}

// ---- the text of the body ----

// Writes fields separated by one space, each record ending its line. Numbers are written in the
// shortest form that reads back to the same double, so every value survives a save exactly.
class TextWriter {
  public:
    std::string text;

    void number(double value) {
        separate();
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text.append(buffer, result.ptr);
    }
    template <typename Integer> void integer(Integer value) {
        separate();
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text.append(buffer, result.ptr);
    }
    void flag(bool value) {
        separate();
        text += value ? '1' : '0';
    }
    void vector(const Vec3& v) {
        number(v.x);
        number(v.y);
        number(v.z);
    }
    // In double quotes; a quote or a backslash inside is escaped by a backslash.
    void quoted(std::string_view s) {
        separate();
        text += '"';
        for (const char c : s) {
            if (c == '"' || c == '\\') {
                text += '\\';
            }
            text += c;
        }
        text += '"';
    }
    void endLine() {
        text += '\n';
        lineStart_ = true;
    }

  private:
    void separate() {
        if (!lineStart_) {
            text += ' ';
        }
        lineStart_ = false;
    }

    bool lineStart_ = true;
};

// Reads the fields back, any white space separating them. Each read is false when the field is
// missing or malformed; numbers are parsed without regard to the locale.
class TextReader {
  public:
    explicit TextReader(std::string_view text) : text_(text) {}

    bool number(double& value) { return parseWhole(token(), value); }
    template <typename Integer> bool integer(Integer& value) { return parseWhole(token(), value); }
    bool flag(bool& value) {
        const std::string_view t = token();
        if (t != "0" && t != "1") {
            return false;
        }
        value = t == "1";
        return true;
    }
    bool vector(Vec3& v) { return number(v.x) && number(v.y) && number(v.z); }
    // The next run of characters up to white space; empty at the end of the text.
    std::string_view word() { return token(); }
    bool quoted(std::string& s) {
        skipSpace();
        if (position_ >= text_.size() || text_[position_] != '"') {
            return false;
        }
        s.clear();
        for (++position_; position_ < text_.size(); ++position_) {
            char c = text_[position_];
            if (c == '"') {
                ++position_;
                return true;
            }
            if (c == '\\') {
                if (++position_ >= text_.size()) {
                    return false;
                }
                c = text_[position_];
            }
            s += c;
        }
        return false; // no closing quote
    }
    bool atEnd() {
        skipSpace();
        return position_ == text_.size();
    }
    std::size_t remaining() const { return text_.size() - position_; }

  private:
    static bool isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }
    void skipSpace() {
        while (position_ < text_.size() && isSpace(text_[position_])) {
            ++position_;
        }
    }
    std::string_view token() {
        skipSpace();
        const std::size_t start = position_;
        while (position_ < text_.size() && !isSpace(text_[position_])) {
            ++position_;
        }
        return text_.substr(start, position_ - start);
    }
    // The whole token must be the number: "12x" or "-3" for a count is malformed, not 12 or a wrap.
    template <typename T> static bool parseWhole(std::string_view t, T& value) {
        const char* end = t.data() + t.size();
        const auto result = std::from_chars(t.data(), end, value);
        return !t.empty() && result.ec == std::errc() && result.ptr == end;
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

// The shortest record of a piece and of a bond, in bytes: one character per field and a separator
// after each. The reader reserves no more records than the text can hold, whatever its counts say.
constexpr std::size_t shortestPiece = 2 * 24;
constexpr std::size_t shortestBond = 2 * 9;

std::string composeBody(const Game& game) {
    const World& world = game.world;
    const Physics& physics = world.physics;
    TextWriter out;
    out.text.reserve(256 + 160 * physics.pieces.size() + 64 * physics.bonds.size());

    out.quoted(world.name);
    out.quoted(world.id);
    out.number(physics.groundLevel);
    out.vector(world.skyColor);
    out.vector(world.spawnPoint);
    out.endLine();
    out.integer(static_cast<std::uint64_t>(world.buildings.size()));
    out.endLine();
    for (const Building& b : world.buildings) {
        out.quoted(b.name);
        out.number(b.center.x);
        out.number(b.center.z);
        out.number(b.sizeX);
        out.number(b.sizeZ);
        out.number(b.height);
        out.number(b.extra);
        out.endLine();
    }

    out.vector(game.player.position);
    out.number(game.player.yaw);
    out.number(game.player.pitch);
    out.endLine();
    out.number(game.health);
    out.number(game.armour);
    out.number(game.points);
    out.number(game.totalPoints);
    out.integer(game.level);
    out.integer(game.weapon);
    out.integer(game.kills);
    out.endLine();
    for (const WeaponSlot& slot : game.slots) {
        out.integer(slot.magazine);
        out.integer(slot.reserve);
        out.endLine();
    }

    out.integer(static_cast<std::uint64_t>(game.enemies.size()));
    out.endLine();
    for (const Enemy& enemy : game.enemies) {
        out.integer(enemy.id);
        out.vector(enemy.position);
        out.number(enemy.health);
        out.flag(enemy.alive);
        out.endLine();
    }
    out.integer(static_cast<std::uint64_t>(game.supplies.size()));
    out.endLine();
    for (const Supply& supply : game.supplies) {
        out.vector(supply.position);
        out.flag(supply.taken);
        out.endLine();
    }

    out.number(physics.time);
    out.integer(physics.fractureCount);
    out.integer(physics.brokenBondCount);
    out.integer(physics.contactBondCount);
    out.endLine();
    out.integer(static_cast<std::uint64_t>(physics.pieces.size()));
    out.endLine();
    for (const MatterPiece& piece : physics.pieces) {
        const Polyhedron& body = piece.body;
        out.integer(piece.id);
        out.integer(piece.building);
        out.flag(piece.alive);
        out.flag(piece.anchored);
        out.integer(piece.generation);
        out.number(piece.bondableAt);
        out.number(piece.stateTime);
        out.flag(piece.asleep);
        out.vector(body.center);
        out.vector(body.halfExtents);
        out.vector(body.velocity);
        out.vector(body.angularVelocity);
        out.vector(piece.color);
        out.number(body.orientation.w);
        out.number(body.orientation.x);
        out.number(body.orientation.y);
        out.number(body.orientation.z);
        out.flag(piece.indoor);
        out.endLine();
    }

    const auto held = std::count_if(physics.bonds.begin(), physics.bonds.end(),
                                    [&physics](const Bond& bond) { return bondHolds(physics, bond); });
    out.integer(static_cast<std::uint64_t>(held));
    out.endLine();
    for (const Bond& bond : physics.bonds) {
        if (!bondHolds(physics, bond)) {
            continue;
        }
        out.integer(bond.a);
        out.integer(bond.b);
        out.number(bond.area);
        out.vector(bond.center);
        out.vector(bond.normal);
        out.endLine();
    }
    return std::move(out.text);
}

// Reads the body into a new game; returns the message of the first failed check, or null.
const char* readBody(std::string_view body, int version, Game& game) {
    TextReader in(body);
    World& world = game.world;
    Physics& physics = world.physics;

    if (version >= firstVersionWithMap) {
        std::string name;
        std::string id;
        double groundLevel = 0.0;
        Vec3 skyColor;
        Vec3 spawnPoint;
        std::uint64_t buildingCount = 0;
        if (!in.quoted(name) || !in.quoted(id) || !in.number(groundLevel) || !in.vector(skyColor) ||
            !in.vector(spawnPoint) || !in.integer(buildingCount) ||
            !metadataFits(groundLevel, skyColor, spawnPoint, buildingCount)) {
            return metadataInvalid;
        }
        std::vector<Building> buildings;
        buildings.reserve(static_cast<std::size_t>(buildingCount));
        for (std::uint64_t i = 0; i < buildingCount; ++i) {
            Building b;
            double x = 0.0;
            double z = 0.0;
            if (!in.quoted(b.name) || !in.number(x) || !in.number(z) || !in.number(b.sizeX) ||
                !in.number(b.sizeZ) || !in.number(b.height) || !in.number(b.extra)) {
                return buildingInvalid;
            }
            b.index = static_cast<std::int32_t>(i);
            b.center = {x, 0.0, z};
            if (!buildingFits(b)) {
                return buildingInvalid;
            }
            buildings.push_back(std::move(b));
        }
        world.buildings = std::move(buildings);
        world.name = std::move(name);
        world.id = std::move(id);
        physics.groundLevel = groundLevel;
        world.skyColor = skyColor;
        world.spawnPoint = spawnPoint;
    }

    Player& player = game.player;
    if (!in.vector(player.position) || !in.number(player.yaw) || !in.number(player.pitch) ||
        !in.number(game.health) || !in.number(game.armour) || !in.number(game.points) ||
        !in.number(game.totalPoints) || !in.integer(game.level) || !in.integer(game.weapon) ||
        !in.integer(game.kills) || !playerFits(game)) {
        return playerInvalid;
    }
    for (std::size_t i = 0; i < game.slots.size(); ++i) {
        WeaponSlot& slot = game.slots[i];
        if (!in.integer(slot.magazine) || !in.integer(slot.reserve) || !ammunitionFits(slot, weapons[i])) {
            return ammoInvalid;
        }
    }

    std::uint64_t enemyCount = 0;
    if (!in.integer(enemyCount) || enemyCount != savedEnemies || game.enemies.size() != savedEnemies) {
        return enemyCountInvalid;
    }
    for (Enemy& fresh : game.enemies) {
        Enemy saved;
        if (!in.integer(saved.id) || !in.vector(saved.position) || !in.number(saved.health) ||
            !in.flag(saved.alive) || !enemyFits(saved, fresh.id)) {
            return enemyInvalid;
        }
        fresh.position = saved.position;
        fresh.health = saved.health;
        fresh.alive = saved.alive;
    }

    std::uint64_t supplyCount = 0;
    if (!in.integer(supplyCount) || supplyCount > maxSupplies) {
        return supplyCountInvalid;
    }
    game.supplies.resize(static_cast<std::size_t>(supplyCount));
    for (Supply& supply : game.supplies) {
        if (!in.vector(supply.position) || !in.flag(supply.taken) || !supplyFits(supply)) {
            return supplyInvalid;
        }
    }

    physics.clear();
    if (!in.number(physics.time) || !in.integer(physics.fractureCount) ||
        !in.integer(physics.brokenBondCount) || !in.integer(physics.contactBondCount) ||
        !countersFit(physics)) {
        return countersInvalid;
    }

    std::uint64_t pieceCount = 0;
    if (!in.integer(pieceCount) || !pieceCountFits(pieceCount)) {
        return pieceCountInvalid;
    }
    physics.pieces.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(pieceCount, in.remaining() / shortestPiece)));
    const std::size_t buildingCount = world.buildings.size();
    for (std::uint64_t index = 0; index < pieceCount; ++index) {
        MatterPiece piece;
        Polyhedron& body = piece.body;
        Quaternion& q = body.orientation;
        if (!in.integer(piece.id) || !in.integer(piece.building) || !in.flag(piece.alive) ||
            !in.flag(piece.anchored) || !in.integer(piece.generation) || !in.number(piece.bondableAt)) {
            return pieceInvalid;
        }
        if (version >= firstVersionWithPieceState) {
            if (!in.number(piece.stateTime) || !in.flag(piece.asleep)) {
                return pieceInvalid;
            }
        } else {
            piece.stateTime = physics.time;
            piece.asleep = false;
        }
        if (!in.vector(body.center) || !in.vector(body.halfExtents) || !in.vector(body.velocity) ||
            !in.vector(body.angularVelocity) || !in.vector(piece.color) || !in.number(q.w) ||
            !in.number(q.x) || !in.number(q.y) || !in.number(q.z)) {
            return pieceInvalid;
        }
        if (version >= firstVersionWithIndoor && !in.flag(piece.indoor)) {
            return pieceInvalid;
        }
        if (!pieceFits(piece, static_cast<std::size_t>(index), buildingCount, physics.time) ||
            physics.add(piece) == 0) {
            return pieceInvalid;
        }
    }

    std::uint64_t bondCount = 0;
    if (!in.integer(bondCount) || bondCount > Physics::maxBonds) {
        return bondCountInvalid;
    }
    physics.bonds.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(bondCount, in.remaining() / shortestBond)));
    for (std::uint64_t k = 0; k < bondCount; ++k) {
        Bond bond;
        if (!in.integer(bond.a) || !in.integer(bond.b) || !in.number(bond.area) || !in.vector(bond.center) ||
            !in.vector(bond.normal) || !bondFits(bond)) {
            return bondInvalid;
        }
        physics.bonds.push_back(bond);
    }
    physics.topologyDirty = true;

    if (!in.atEnd() || !physics.validate()) {
        return physicsInvalid;
    }
    for (const Bond& bond : physics.bonds) {
        if (!physics.pieces[bond.a - 1].alive || !physics.pieces[bond.b - 1].alive) {
            return bondToDeadPiece;
        }
    }
    return nullptr;
}

// The new city game a load starts from. Building the city takes longer than reading a small save,
// and loading clears its matter before anything else, so it is built once and kept without its
// matter (and without the working storage the matter left behind).
const Game& newCityGame() {
    static const Game city = [] {
        Game game;
        Physics& physics = game.world.physics;
        physics.clear();
        physics.topologyScratch = TopologyScratch{};
        physics.stepScratch = StepScratch{};
        return game;
    }();
    return city;
}

// The header line: magic, version and the hash of the body.
bool readHeader(std::string_view line, int& version, std::uint64_t& hash) {
    TextReader in(line);
    return in.word() == magic && in.integer(version) && in.integer(hash) && version >= oldestVersion &&
           version <= writtenVersion;
}

// The header and the body of a save file's text; null when the header is not a save's.
const char* splitSave(std::string_view text, int& version, std::string_view& body) {
    const std::size_t lineEnd = text.find('\n');
    std::uint64_t hash = 0;
    if (!readHeader(text.substr(0, lineEnd), version, hash)) {
        return wrongFormat;
    }
    body = lineEnd == std::string_view::npos ? std::string_view{} : text.substr(lineEnd + 1);
    return fnv1a64(body) == hash ? nullptr : hashMismatch;
}

fs::path withSuffix(fs::path path, const char* suffix) {
    path += suffix;
    return path;
}

enum class FileRead { read, missing, tooLarge, failed };

FileRead readWholeFile(const fs::path& path, std::string& text) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return FileRead::missing;
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        return FileRead::failed;
    }
    if (size > maxSaveFileBytes) {
        return FileRead::tooLarge;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return FileRead::failed;
    }
    // One byte more than the size shows a file that has grown since.
    text.resize(static_cast<std::size_t>(size) + 1);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) {
        return FileRead::failed;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text.size() > maxSaveFileBytes ? FileRead::tooLarge : FileRead::read;
}

enum class Loaded { yes, missing, refused };

// Loads the save file at path into the game, showing hudMessage; anything but yes leaves the game
// as it was, with the reason in message.
Loaded loadFile(Game& game, const fs::path& path, std::string& message, const char* hudMessage) {
    std::string text;
    switch (readWholeFile(path, text)) {
    case FileRead::missing:
        message = noSave;
        return Loaded::missing;
    case FileRead::tooLarge:
        message = tooLarge;
        return Loaded::refused;
    case FileRead::failed:
        message = hashMismatch; // what cannot be read cannot be trusted either
        return Loaded::refused;
    case FileRead::read:
        break;
    }
    return readSave(game, text, message, hudMessage) ? Loaded::yes : Loaded::refused;
}

// Whether the file holds a whole save, by its header and hash.
bool holdsWholeSave(const fs::path& path) {
    std::string text;
    int version = 0;
    std::string_view body;
    return readWholeFile(path, text) == FileRead::read && !splitSave(text, version, body);
}

bool loadGame(Game& game, const std::string& path, std::string& message) {
    fs::path file;
    try {
        file = pathFromUtf8(path);
    } catch (const std::exception&) {
        message = noSave; // a name that is not UTF-8 names no file
        return false;
    }
    std::string saveFailure;
    const Loaded save = loadFile(game, file, saveFailure, restored);
    if (save == Loaded::yes) {
        return true;
    }
    // A crash between the two moves of a save leaves no file under the save's name: the new save is
    // whole in the temporary file and the old one is the backup. A save damaged since it was written
    // (or refused for any other reason) is passed over the same way, for the last good game among
    // them; the damaged file stays where it is. The HUD says which stood in for the save.
    const bool missing = save == Loaded::missing;
    std::string leftoverFailure;
    if (loadFile(game, withSuffix(file, ".tmp"), leftoverFailure,
                 missing ? restoredFromTemporary : damagedFromTemporary) == Loaded::yes ||
        loadFile(game, withSuffix(file, ".bak"), leftoverFailure,
                 missing ? restoredFromBackup : damagedFromBackup) == Loaded::yes) {
        return true;
    }
    // The save's own failure, or without a save the backup's.
    message = missing ? leftoverFailure : saveFailure;
    return false;
}

// Writes the header and the body to the temporary file and flushes it to the disk; false when any
// of it failed.
bool writeTemporary(const fs::path& path, std::string_view header, std::string_view body,
                    const SaveInterruption& interruption) {
    DurableFile file(path);
    std::uint64_t budget = interruption.failAfterBytes;
    for (const std::string_view part : {header, body}) {
        const std::uint64_t n = std::min<std::uint64_t>(budget, part.size());
        budget -= n;
        if (!file.write(part.substr(0, static_cast<std::size_t>(n))) || n < part.size()) {
            return false; // the disk is full from here on
        }
    }
    if (interruption.beforeStep) {
        interruption.beforeStep(SaveStep::syncTemporary);
    }
    return file.sync() && file.close();
}

} // namespace

bool composeSave(const Game& game, std::string& text, std::string& message) {
    if (const char* refusal = saveRefusal(game)) {
        message = refusal;
        return false;
    }
    const std::string body = composeBody(game);
    text = std::string(magic) + ' ' + std::to_string(writtenVersion) + ' ' + std::to_string(fnv1a64(body)) +
           '\n';
    if (text.size() + body.size() > maxSaveFileBytes) {
        message = tooLarge;
        return false;
    }
    text += body;
    return true;
}

bool readSave(Game& game, std::string_view text, std::string& message, std::string_view hudMessage) {
    int version = 0;
    std::string_view body;
    if (const char* failure = splitSave(text, version, body)) {
        message = failure;
        return false;
    }

    Game fresh = newCityGame();
    fresh.impactMultiplier = game.impactMultiplier;
    fresh.world.physics.motionLimit = game.world.physics.motionLimit;
    if (const char* failure = readBody(body, version, fresh)) {
        message = failure;
        return false;
    }

    Physics& physics = fresh.world.physics;
    physics.refreshTopology();
    // The refresh breaks the bonds that the saved world overloads. The count of broken bonds stops
    // at what a save holds, so that the game that loads can be saved again.
    physics.brokenBondCount = std::min(physics.brokenBondCount, maxCounter);
    fresh.world.update(fresh.player.position, 0.0, {0.0, 0.0, 1.0});
    fresh.dead = fresh.health <= 0.0;
    fresh.showMessage(hudMessage);
    physics.expireMotion();
    // Whatever loads must save again: the writer's own checks, on the world as loading left it.
    if (const char* refusal = saveRefusal(fresh)) {
        message = refusal;
        return false;
    }
    game = std::move(fresh);
    return true;
}

bool saveGame(const Game& game, const std::string& path, std::string& message,
              const SaveInterruption& interruption) {
    const auto beforeStep = [&interruption](SaveStep step) {
        if (interruption.beforeStep) {
            interruption.beforeStep(step);
        }
    };
    fs::path temporary;
    bool temporaryStays = false;
    try {
        std::string text;
        if (!composeSave(game, text, message)) {
            return false;
        }
        const std::string_view header = std::string_view(text).substr(0, text.find('\n') + 1);
        const std::string_view body = std::string_view(text).substr(header.size());

        const fs::path target = pathFromUtf8(path);
        const fs::path folder = target.parent_path();
        if (!folder.empty()) {
            fs::create_directories(folder);
        }
        // Only a file is ever replaced (and kept as the backup): never a folder of the same name.
        if (fs::exists(target) && !fs::is_regular_file(target)) {
            message = writeFailed;
            return false;
        }
        const fs::path backup = withSuffix(target, ".bak");
        const fs::path pending = withSuffix(target, ".tmp");
        // While the save's name holds no whole save, a whole temporary file that an interrupted save
        // left is the game loading gives, and the new temporary file would overwrite it: it takes the
        // save's name first, as the interrupted save would have given it, so that it outlives this
        // save whatever becomes of it. (A damaged save under that name gives way to it.)
        if (holdsWholeSave(pending) && !holdsWholeSave(target)) {
            beforeStep(SaveStep::finishInterrupted);
            replaceFile(pending, target);
            syncFolder(folder);
        }

        beforeStep(SaveStep::writeTemporary);
        temporary = pending;
        if (!writeTemporary(temporary, header, body, interruption)) {
            std::error_code ignored;
            fs::remove(temporary, ignored); // half a save is of no use to anyone
            message = writeFailed;
            return false;
        }

        // The old save becomes the backup in one move that replaces the older backup only when it
        // succeeds: a failure here leaves the save and the backup as they were.
        if (fs::exists(target)) {
            beforeStep(SaveStep::keepBackup);
            replaceFile(target, backup);
        }
        // From here on the whole temporary file is the newest game, and loading finds it while the
        // save's name is empty: a failure leaves it beside the backup.
        temporaryStays = true;
        beforeStep(SaveStep::replaceSave);
        replaceFile(temporary, target);
        beforeStep(SaveStep::syncFolder);
        syncFolder(folder);
        return true;
    } catch (const std::exception& error) {
        // A save that fails before the old save leaves its name takes its temporary file with it.
        if (!temporary.empty() && !temporaryStays) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
        }
        message = error.what();
        return false;
    }
}

bool Game::save(const std::string& path, std::string& message) const {
    return saveGame(*this, path, message, SaveInterruption{});
}

bool Game::load(const std::string& path, std::string& message) {
    try {
        return loadGame(*this, path, message);
    } catch (const std::exception& error) {
        message = error.what(); // memory for a huge world, mostly
        return false;
    }
}

} // namespace zarn
