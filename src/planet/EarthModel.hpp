#pragma once

#include <cstdint>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// The six climate classes of the planet, each drawn in its own colour.
enum class Biome : std::int32_t { Ocean = 0, Ice = 1, Desert = 2, Grassland = 3, Forest = 4, Taiga = 5 };

// One 5-degree cell of the planet's grid, and what EarthModel::sample answers for any position.
struct EarthRegion {
    double elevation = 0.0;       // m above sea level; negative under the sea
    double stress = 0.0;          // plate-boundary stress, >= 0
    double temperature = 0.0;     // mean temperature, degrees Celsius
    double precipitation = 0.0;   // yearly precipitation units, >= 30
    double seasonality = 0.0;     // seasonal temperature amplitude, degrees Celsius
    double windEast = 0.0;        // prevailing wind, east component
    double windNorth = 0.0;       // prevailing wind, north component
    double flow = 0.0;            // runoff of the cell plus all runoff that drains into it
    double productivity = 0.0;    // vegetation productivity 0..1
    double ruggedness = 0.0;      // 0..1
    double fertility = 0.0;       // 0..1
    double fertileCapacity = 0.0; // share of the capacity that fertile ground carries
    double capacity = 0.0;        // carrying capacity; 0 at sea and on ice
    double yieldScore = 0.0;      // combined yield of the cell
    std::int32_t plate = 0;       // tectonic plate, index into the plate table
    std::int32_t downhill = -1;   // grid index of the neighbour the cell drains into, or -1
    Biome biome = Biome::Ocean;
    std::int32_t terrainClass = 0; // 0 sea; 1 low land; 2 high land; 3, 4, 5 stress above 2, 5, 8

    friend bool operator==(const EarthRegion&, const EarthRegion&) = default;
};

// The whole planet: a fixed grid of 72 x 36 cells of 5 degrees (column i west to east from longitude
// -180, row j south to north from latitude -90; grid index i + 72 j), built once from the plate and
// continent tables and hashed value noise. Two models always hold the same grid.
class EarthModel {
  public:
    static constexpr int columns = 72;
    static constexpr int rows = 36;
    static constexpr double radius = 6371000.0; // m
    // The world origin stands 4 m above the sphere at the district's site, so the planet's centre
    // is this far below it.
    static constexpr double centreDepth = 6371004.0;

    EarthModel();

    // The grid, indexed i + 72 j.
    const std::vector<EarthRegion>& grid() const { return regions; }

    // The biome's colour as linear RGB; black for a value outside the enumeration.
    static Vec3 color(Biome biome);
    // The feature zone 0..5 of a terrain chunk on this region: 0 nothing, 1 crops, 2 and 4 a house,
    // 3 a workshop, 5 left wild. The seed is the chunk's.
    static int zone(const EarthRegion& region, std::uint32_t seed);

    // World position of latitude and longitude (degrees) at the altitude (m) above the sphere.
    static Vec3 geographic(double latitude, double longitude, double altitude);
    // (latitude degrees, longitude degrees, altitude m) of a world position.
    static Vec3 coordinates(const Vec3& position);
    // The altitude alone, the same number coordinates gives.
    static double altitude(const Vec3& position);

    // The climate at a latitude and longitude at a time of year (season 0.25 is the northern
    // midsummer): the containing cell, its elevation blended between the surrounding cell centres.
    EarthRegion sample(double latitude, double longitude, double season) const;
    // The region under world (x, z) on the near or the far hemisphere, at season 0.25; a point off
    // the sphere samples the sphere's rim.
    EarthRegion at(double x, double z, bool farSide) const;
    // The terrain height (a world y) at world (x, z), or NaN where (x, z) lies off the sphere. On the
    // near side the district's square, 1,280 m about the origin, is flat at 0.
    double surface(double x, double z, bool farSide) const;
    // Whether a world position lies on the far hemisphere: below y = -radius, the other side of the
    // planet from the district.
    static constexpr bool onFarSide(const Vec3& position) { return position.y < -radius; }
    // The local up at a world position: the unit direction from the planet's centre to it, on the
    // near and the far side alike; (0, 1, 0) at the centre itself. The planet does not turn in the
    // world's frame (the sun circles it), so neither does its up.
    static Vec3 upAt(const Vec3& position) {
        const Vec3 fromCentre{position.x, position.y + centreDepth, position.z};
        const double r = length(fromCentre);
        return r > 1e-9 ? fromCentre / r : Vec3{0.0, 1.0, 0.0};
    }

  private:
    std::vector<EarthRegion> regions;
};

} // namespace zarn
