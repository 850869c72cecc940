#pragma once

// The district generator: reads the readable table of the district's buildings and writes the
// game's map pack. It is a host tool, built with the standard library only, so that a cross-build
// can compile and run it on the build machine.

#include <cstdint>
#include <string>
#include <vector>

namespace zarn::mapgen {

struct V3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Matter of no building carries these numbers (the game's own, plus the river walls of this map).
namespace tag {
constexpr std::int32_t ground = -1;
constexpr std::int32_t tree = -2;
constexpr std::int32_t lamp = -3;
constexpr std::int32_t riverWall = -6;
} // namespace tag

// One axis-aligned box of matter, as the map pack stores it (orientation always identity).
struct Piece {
    std::int32_t building = tag::ground;
    bool anchored = false;
    V3 center;
    V3 half;
    V3 color;
    bool indoor = false;
};

// A horizontal rectangle, x0 < x1 and z0 < z1.
struct Rect {
    double x0 = 0.0;
    double z0 = 0.0;
    double x1 = 0.0;
    double z1 = 0.0;

    bool contains(double x, double z) const { return x >= x0 && x <= x1 && z >= z0 && z <= z1; }
    Rect grown(double m) const { return {x0 - m, z0 - m, x1 + m, z1 + m}; }
};

// One line of the source table.
struct BuildingRow {
    std::string name;
    std::string style; // pearl, shanghai, swfc, jinmao, tower, tapered, twin, podium, gate, house,
                       // convention
    double x = 0.0;    // footprint centre, m east of the origin
    double z = 0.0;    // m north of the origin
    double sizeX = 0.0;
    double sizeZ = 0.0;
    double height = 0.0;
    double extra = 0.0; // year of completion; the game carries it without using it
    V3 color;           // façade glass, linear RGB

    Rect footprint() const { return {x - sizeX / 2.0, z - sizeZ / 2.0, x + sizeX / 2.0, z + sizeZ / 2.0}; }
};

struct Options {
    // The benchmark district: the same plan built from many more, smaller pieces.
    bool large = false;
    int version = 2;
};

struct District {
    std::vector<BuildingRow> buildings;
    std::vector<Piece> pieces;

    // A box from its lower and upper corners.
    void box(std::int32_t building, const V3& lo, const V3& hi, const V3& color, bool indoor = false,
             bool anchored = false);
};

// Ground, river, streets and parks (anchored ground tiles and the river walls).
void addGround(District& district, const Options& options);
// The matter of one building of the table.
void addBuilding(District& district, std::int32_t index, const Options& options);
// Trees along the streets and in the parks, street lamps.
void addStreetFurniture(District& district, const Options& options);

// Where the player starts; kept clear of buildings, trees and lamps.
constexpr V3 spawnPoint{0.0, 0.0, -110.0};
constexpr double groundLevel = -8.0;

} // namespace zarn::mapgen
