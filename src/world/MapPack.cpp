#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "world/TextReader.hpp"
#include "world/Utf8Path.hpp"
#include "world/World.hpp"

namespace zarn {

namespace {

// What the player is told when a map pack is refused, one text per section of the file.
const char* const formatInvalid = "地图包格式无效";
const char* const boundsInvalid = "地图边界无效";
const char* const buildingCountInvalid = "地图建筑数量无效";
const char* const buildingInvalid = "地图建筑无效";
const char* const pieceBudgetInvalid = "地图物质预算无效";
const char* const pieceInvalid = "地图物质无效";
const char* const geometryInvalid = "地图几何无效";

constexpr std::uint64_t maxBuildings = 1000;
constexpr double maxSpawnDistance = 3000.0;
constexpr double maxColorLength = 2.0;
constexpr std::int32_t lowestBuildingTag = -10;

// The file and its size. Binary, so that Windows hands over the line ends as they are in the file.
// A path that is not UTF-8 cannot name a file on Windows (the conversion throws there): it is an
// unreadable file.
bool openMapFile(const std::string& path, std::ifstream& file, std::uint64_t& size) {
    try {
        file.open(pathFromUtf8(path), std::ios::binary);
    } catch (const std::exception&) {
        return false;
    }
    if (!file.is_open()) {
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    file.seekg(0, std::ios::beg);
    if (end < 0 || !file) {
        return false;
    }
    size = static_cast<std::uint64_t>(end);
    return true;
}

// The shortest piece record: sixteen one-character fields and their separators.
constexpr std::uint64_t minPieceRecord = 32;

// Bonding a map may make at most this many bonds and look at this many neighbours per piece, on
// average over its pieces and over the pieces bonded so far: about six and forty times what the
// district and its large variant need (2.8 bonds and up to 211 neighbours looked at per piece), so
// no real map comes near. The first pieces get the share of a few thousand more, as a ground slab
// under a district could touch that many at once (a piece of the district makes at most 29). A pile
// of coincident or overlapping pieces would need bonds and looks that grow with the square of their
// number; such a map is refused as soon as its bonding runs past the budget, a few pieces into the
// pile.
constexpr BondingBudget bondingBudget{16, 1024, 4096};

bool readVec3(TextReader& in, Vec3& v) {
    return in.number(v.x) && in.number(v.y) && in.number(v.z);
}

// A count is an unsigned decimal number. Stream extraction would take "-1" and wrap it round to
// a huge count (or, for a long enough minus number, to a small one), so a sign is refused here.
bool readCount(TextReader& in, std::uint64_t& count) {
    in.skipSpace();
    if (in.peek() == '-') {
        return false;
    }
    return in.count(count);
}

bool colorFits(const Vec3& color) {
    const double l = length(color);
    return std::isfinite(l) && l <= maxColorLength;
}

// Header: magic, version, rest of the first line, and the display name on the second line.
bool readHeader(TextReader& in, int& version, std::string& name) {
    std::string magic;
    if (!in.word(magic) || magic != "ZARNMAP") {
        return false;
    }
    std::int32_t number = 0;
    if (!in.integer(number) || (number != 1 && number != 2)) {
        return false;
    }
    version = number;
    in.skipLine(1000);
    if (!in.line(name)) {
        return false;
    }
    // A file written with Windows line ends keeps its carriage return on the name line.
    if (!name.empty() && name.back() == '\r') {
        name.pop_back();
    }
    return true;
}

bool readBuilding(TextReader& in, std::int32_t index, Building& b) {
    double x = 0.0;
    double z = 0.0;
    if (!(in.quoted(b.name) && in.number(x) && in.number(z) && in.number(b.sizeX) && in.number(b.sizeZ) &&
          in.number(b.height) && in.number(b.extra))) {
        return false;
    }
    b.index = index;
    b.center = {x, 0.0, z};
    // The save's limits: a district that loads can always be saved.
    return buildingFits(b);
}

bool readPiece(TextReader& in, int version, std::uint64_t buildingCount, MatterPiece& piece) {
    Polyhedron& body = piece.body;
    Quaternion& q = body.orientation;
    if (!(in.integer(piece.building) && in.flag(piece.anchored)) || !readVec3(in, body.center) ||
        !readVec3(in, body.halfExtents) || !readVec3(in, piece.color) ||
        !(in.number(q.w) && in.number(q.x) && in.number(q.y) && in.number(q.z))) {
        return false;
    }
    if (version >= 2 && !in.flag(piece.indoor)) {
        return false;
    }
    // Compared as signed numbers: -1 to -10 mark matter of no building.
    return piece.building >= lowestBuildingTag &&
           static_cast<std::int64_t>(piece.building) < static_cast<std::int64_t>(buildingCount) &&
           colorFits(piece.color);
}

// Everything a map pack holds, read into fresh objects; the world takes them only when all is well.
struct MapContents {
    std::string name;
    Physics physics;
    Vec3 skyColor;
    Vec3 spawnPoint;
    std::vector<Building> buildings;
};

// Reads and checks the whole file; returns the message of the first failed check, or null.
const char* readMap(TextReader& in, std::uint64_t motionLimit, MapContents& map) {
    int version = 0;
    if (!readHeader(in, version, map.name)) {
        return formatInvalid;
    }

    Physics& physics = map.physics;
    physics.motionLimit = motionLimit;
    if (!in.number(physics.groundLevel) || !(physics.groundLevel >= -100.0 && physics.groundLevel <= 0.0)) {
        return boundsInvalid;
    }
    if (!readVec3(in, map.skyColor) || !colorFits(map.skyColor)) {
        return boundsInvalid;
    }
    if (!readVec3(in, map.spawnPoint) || !(length(map.spawnPoint) <= maxSpawnDistance)) {
        return boundsInvalid;
    }

    std::uint64_t buildingCount = 0;
    if (!readCount(in, buildingCount) || buildingCount > maxBuildings) {
        return buildingCountInvalid;
    }
    for (std::uint64_t i = 0; i < buildingCount; ++i) {
        Building b;
        if (!readBuilding(in, static_cast<std::int32_t>(i), b)) {
            return buildingInvalid;
        }
        map.buildings.push_back(std::move(b));
    }

    // The count is only a promise: storage is reserved for no more pieces than the rest of the file
    // can hold, so a short file claiming billions of pieces fails at its first missing piece instead
    // of asking for the memory; with room to grow as play breaks the matter.
    std::uint64_t pieceCount = 0;
    if (!readCount(in, pieceCount) || pieceCount < 1 || pieceCount > Physics::maxPieces) {
        return pieceBudgetInvalid;
    }
    makeRoom(physics.pieces, std::min<std::uint64_t>(pieceCount, in.remaining() / minPieceRecord + 1));
    for (std::uint64_t i = 0; i < pieceCount; ++i) {
        MatterPiece piece;
        if (!readPiece(in, version, buildingCount, piece) || physics.add(std::move(piece)) == 0) {
            return pieceInvalid;
        }
    }

    if (!in.atEnd() || !physics.validate()) {
        return geometryInvalid;
    }
    return nullptr;
}

// Reads the whole file into the map and bonds its matter; returns the message of the first failed
// check, or null. The text is read a piece at a time, so that a large map never holds its file and
// its pieces at once. A map larger than any the game could save is refused before it is read.
const char* readMapFile(const std::string& path, std::uint64_t motionLimit, MapContents& map) {
    std::ifstream file;
    std::uint64_t size = 0;
    if (!openMapFile(path, file, size) || size > maxMapFileBytes)
        return formatInvalid;
    TextReader in(file, size);
    if (const char* failure = readMap(in, motionLimit, map))
        return failure;
    if (!map.physics.connectTouching(bondingBudget))
        return geometryInvalid;
    // Matter far out may bond where a save cannot keep the bond: refused now rather than at the save.
    for (const Bond& bond : map.physics.bonds) {
        if (!bondFits(bond))
            return geometryInvalid;
    }
    return nullptr;
}

} // namespace

bool World::loadMap(const std::string& path, std::string& message) {
    // Everything is read into the fresh map, so a machine without the memory for it refuses the map
    // as one it cannot read, with this world untouched.
    std::optional<MapContents> map;
    const char* failure = nullptr;
    try {
        failure = readMapFile(path, physics.motionLimit, map.emplace());
    } catch (const std::bad_alloc&) {
        failure = formatInvalid;
    }
    if (failure) {
        message = failure;
        return false;
    }

    // Installed all at once; a map is a plain world, without the Earth and star parts.
    earth.reset();
    stars.reset();
    physics = std::move(map->physics);
    buildings = std::move(map->buildings);
    skyColor = map->skyColor;
    spawnPoint = map->spawnPoint;
    name = std::move(map->name);
    id = "lujiazui";
    enterCellOf(spawnPoint);
    return true;
}

} // namespace zarn
