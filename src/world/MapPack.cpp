#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <istream>
#include <locale>
#include <string>
#include <utility>
#include <vector>

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

// Paths arrive as UTF-8; on Windows they must become wide paths, not the ANSI code page.
std::filesystem::path pathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

bool readVec3(std::istream& in, Vec3& v) {
    return static_cast<bool>(in >> v.x >> v.y >> v.z);
}

// A count is an unsigned decimal number. Stream extraction would take "-1" and wrap it round to
// a huge count (or, for a long enough minus number, to a small one), so a sign is refused here.
bool readCount(std::istream& in, std::uint64_t& count) {
    in >> std::ws;
    if (in.peek() == '-') {
        return false;
    }
    return static_cast<bool>(in >> count);
}

bool colorFits(const Vec3& color) {
    const double l = length(color);
    return std::isfinite(l) && l <= maxColorLength;
}

// The last number may have ended the file; otherwise only white space may follow it.
bool atEnd(std::istream& in) {
    if (in.eof()) {
        return true;
    }
    in >> std::ws;
    return in.peek() == std::char_traits<char>::eof();
}

// Header: magic, version, rest of the first line, and the display name on the second line.
bool readHeader(std::istream& in, int& version, std::string& name) {
    std::string magic;
    if (!(in >> magic) || magic != "ZARNMAP") {
        return false;
    }
    if (!(in >> version) || (version != 1 && version != 2)) {
        return false;
    }
    in.ignore(1000, '\n');
    if (!std::getline(in, name)) {
        return false;
    }
    // A file written with Windows line ends keeps its carriage return on the name line.
    if (!name.empty() && name.back() == '\r') {
        name.pop_back();
    }
    return true;
}

bool readBuilding(std::istream& in, std::int32_t index, Building& b) {
    double x = 0.0;
    double z = 0.0;
    if (!(in >> std::quoted(b.name) >> x >> z >> b.sizeX >> b.sizeZ >> b.height >> b.extra)) {
        return false;
    }
    b.index = index;
    b.center = {x, 0.0, z};
    // The save's limits: a district that loads can always be saved.
    return buildingFits(b);
}

bool readPiece(std::istream& in, int version, std::uint64_t buildingCount, MatterPiece& piece) {
    Polyhedron& body = piece.body;
    Quaternion& q = body.orientation;
    if (!(in >> piece.building >> piece.anchored) || !readVec3(in, body.center) ||
        !readVec3(in, body.halfExtents) || !readVec3(in, piece.color) || !(in >> q.w >> q.x >> q.y >> q.z)) {
        return false;
    }
    if (version >= 2 && !(in >> piece.indoor)) {
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
const char* readMap(std::istream& in, std::uint64_t motionLimit, MapContents& map) {
    int version = 0;
    if (!readHeader(in, version, map.name)) {
        return formatInvalid;
    }

    Physics& physics = map.physics;
    physics.motionLimit = motionLimit;
    if (!(in >> physics.groundLevel) || !(physics.groundLevel >= -100.0 && physics.groundLevel <= 0.0)) {
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

    // The count is only a promise: nothing is reserved for it, so a short file claiming billions of
    // pieces fails at its first missing piece instead of asking for the memory.
    std::uint64_t pieceCount = 0;
    if (!readCount(in, pieceCount) || pieceCount < 1 || pieceCount > Physics::maxPieces) {
        return pieceBudgetInvalid;
    }
    for (std::uint64_t i = 0; i < pieceCount; ++i) {
        MatterPiece piece;
        if (!readPiece(in, version, buildingCount, piece) || physics.add(piece) == 0) {
            return pieceInvalid;
        }
    }

    if (!atEnd(in) || !physics.validate()) {
        return geometryInvalid;
    }
    return nullptr;
}

} // namespace

bool World::loadMap(const std::string& path, std::string& message) {
    // Binary, so that Windows hands over the line ends as they are in the file. A path that is not
    // UTF-8 cannot name a file on Windows (the conversion throws there): it is an unreadable file.
    std::ifstream file;
    try {
        file.open(pathFromUtf8(path), std::ios::binary);
    } catch (const std::exception&) {
        file.setstate(std::ios::failbit);
    }
    if (!file.is_open()) {
        message = formatInvalid;
        return false;
    }
    file.imbue(std::locale::classic());

    MapContents map;
    if (const char* failure = readMap(file, physics.motionLimit, map)) {
        message = failure;
        return false;
    }
    map.physics.connectTouching();
    // Matter far out may bond where a save cannot keep the bond: refused now rather than at the save.
    for (const Bond& bond : map.physics.bonds) {
        if (!bondFits(bond)) {
            message = geometryInvalid;
            return false;
        }
    }

    // Installed all at once; a map is a plain world, without the Earth and star parts.
    earth.reset();
    stars.reset();
    physics = std::move(map.physics);
    buildings = std::move(map.buildings);
    skyColor = map.skyColor;
    spawnPoint = map.spawnPoint;
    name = std::move(map.name);
    id = "lujiazui";
    terrainCell = {};
    return true;
}

} // namespace zarn
