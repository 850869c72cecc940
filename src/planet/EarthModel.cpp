#include "planet/EarthModel.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <span>

#include "physics/Hash.hpp"
#include "planet/Noise.hpp"

namespace zarn {

namespace {

// One vertex of an outline: degrees east (past 180, up to 250, for outlines over the date line) and
// degrees north.
struct Point {
    double lon;
    double lat;
};

// A tectonic plate: its drift and its outline, a closed polygon.
struct Plate {
    const char* name;
    double driftEast;
    double driftNorth;
    std::span<const Point> outline;
};

constexpr Point pacificOutline[] = {{140, -60}, {210, -60}, {250, 0}, {230, 60}, {170, 65}, {140, 30}};
constexpr Point northAmericaOutline[] = {{-170, 65}, {-130, 10}, {-60, 15}, {-15, 65}, {-40, 85}, {-170, 85}};
constexpr Point southAmericaOutline[] = {{-82, 12}, {-35, 15}, {-12, -55}, {-75, -60}};
constexpr Point africaOutline[] = {{-35, 35}, {35, 38}, {52, 10}, {35, -55}, {-15, -55}};
constexpr Point eurasiaOutline[] = {{-15, 35}, {30, 35},  {55, 25},  {100, 10},
                                    {145, 35}, {170, 65}, {170, 85}, {-15, 85}};
constexpr Point indiaOutline[] = {{55, -10}, {95, -10}, {100, 25}, {75, 35}, {55, 25}};
constexpr Point australiaOutline[] = {{95, -55}, {165, -55}, {165, -10}, {130, 0}, {95, -10}};
constexpr Point nazcaOutline[] = {{-115, 5}, {-82, 5}, {-75, -55}, {-115, -55}};
constexpr Point arabiaOutline[] = {{35, 12}, {55, 12}, {60, 27}, {45, 38}, {35, 30}};
constexpr Point philippineOutline[] = {{120, 0}, {145, 0}, {145, 35}, {130, 35}};
constexpr Point antarcticPlateOutline[] = {{-180, -90}, {180, -90}, {180, -60}, {-180, -60}};

// Later plates win where outlines overlap (India over Eurasia); a position in no outline lies on
// the Pacific plate.
constexpr std::array<Plate, 11> plates{{
    {"Pacific", -7, 4, pacificOutline},
    {"North America", -2, -1, northAmericaOutline},
    {"South America", -3, 0, southAmericaOutline},
    {"Africa", 2, 2, africaOutline},
    {"Eurasia", 2, 0, eurasiaOutline},
    {"India", 1, 5, indiaOutline},
    {"Australia", 5, 6, australiaOutline},
    {"Nazca", 7, 0, nazcaOutline},
    {"Arabia", 2, 3, arabiaOutline},
    {"Philippine", -6, 3, philippineOutline},
    {"Antarctica", 0, 1, antarcticPlateOutline},
}};

constexpr Point northAmerica[] = {{-168, 70}, {-130, 72}, {-105, 82}, {-55, 55},
                                  {-80, 25},  {-98, 15},  {-125, 48}};
constexpr Point southAmerica[] = {{-82, 12}, {-62, 10}, {-35, -6}, {-42, -23}, {-70, -56}, {-80, -5}};
constexpr Point africa[] = {{-17, 36}, {10, 37},  {35, 30}, {50, 12},
                            {35, -34}, {18, -35}, {8, -5},  {-17, 15}};
constexpr Point eurasia[] = {{-10, 36}, {10, 60}, {45, 72}, {150, 72}, {180, 62}, {140, 35},
                             {120, 20}, {105, 0}, {95, 20}, {75, 8},   {60, 25},  {35, 32}};
constexpr Point australia[] = {{112, -11}, {136, -12}, {153, -25}, {145, -39}, {115, -34}};
constexpr Point greenland[] = {{-55, 60}, {-20, 70}, {-30, 83}, {-60, 80}};
constexpr Point antarctica[] = {{-180, -90}, {180, -90}, {180, -70}, {-180, -70}};

constexpr std::array<std::span<const Point>, 7> continents{northAmerica, southAmerica, africa,    eurasia,
                                                           australia,    greenland,    antarctica};

constexpr int columns = EarthModel::columns;
constexpr int rows = EarthModel::rows;
constexpr int cellCount = columns * rows;
constexpr double radiansPerDegree = std::numbers::pi / 180.0;

// Longitude and latitude of a cell's centre.
double cellLongitude(int i) {
    return 5.0 * i - 177.5;
}
double cellLatitude(int j) {
    return 5.0 * j - 87.5;
}
// Columns wrap round the planet; rows stop at the poles.
int wrapColumn(int i) {
    return ((i % columns) + columns) % columns;
}
int clampRow(int j) {
    return std::clamp(j, 0, rows - 1);
}
int gridIndex(int i, int j) {
    return wrapColumn(i) + columns * clampRow(j);
}

// Even-odd crossing rule.
bool contains(std::span<const Point> outline, double lon, double lat) {
    bool inside = false;
    for (std::size_t k = 0; k < outline.size(); ++k) {
        const Point& p = outline[k];
        const Point& q = outline[(k + 1) % outline.size()];
        if ((lat < p.lat) != (lat < q.lat) &&
            lon < (q.lon - p.lon) * (lat - p.lat) / (q.lat - p.lat) + p.lon) {
            inside = !inside;
        }
    }
    return inside;
}

std::int32_t plateAt(double lon, double lat) {
    for (std::int32_t index = static_cast<std::int32_t>(plates.size()) - 1; index >= 0; --index) {
        const auto outline = plates[static_cast<std::size_t>(index)].outline;
        if (contains(outline, lon, lat) || contains(outline, lon + 360.0, lat)) {
            return index;
        }
    }
    return 0;
}

bool isLand(double lon, double lat) {
    return std::any_of(continents.begin(), continents.end(),
                       [&](std::span<const Point> outline) { return contains(outline, lon, lat); });
}

// Where plates converge across the cell's edges the ground is pushed up: the largest closing drift
// towards any of the four neighbours, at least 0. Neighbours are looked up at the raw offset
// position, so the east neighbour of the last column is asked at longitudes past 180, and the
// neighbours beyond the polar rows at latitude 89.
double boundaryStress(const std::vector<EarthRegion>& grid, int i, int j) {
    struct Offset {
        double lon;
        double lat;
        int column;
        int row;
    };
    constexpr std::array<Offset, 4> offsets{{{5, 0, 1, 0}, {-5, 0, -1, 0}, {0, 5, 0, 1}, {0, -5, 0, -1}}};
    const double lon = cellLongitude(i);
    const double lat = cellLatitude(j);
    const std::int32_t plate = grid[static_cast<std::size_t>(gridIndex(i, j))].plate;
    const Plate& own = plates[static_cast<std::size_t>(plate)];
    double stress = 0.0;
    for (const Offset& offset : offsets) {
        // A neighbour inside the grid sits exactly on that cell's centre (offsets of 5 degrees add
        // without rounding), whose plate is already known; only the edges ask the outlines again.
        const int column = i + offset.column;
        const int row = j + offset.row;
        const bool onGrid = column >= 0 && column < columns && row >= 0 && row < rows;
        const std::int32_t other =
            onGrid ? grid[static_cast<std::size_t>(gridIndex(column, row))].plate
                   : plateAt(std::fmod(lon + offset.lon, 360.0), std::clamp(lat + offset.lat, -89.0, 89.0));
        if (other != plate) {
            const Plate& them = plates[static_cast<std::size_t>(other)];
            stress = std::max(stress, (own.driftEast - them.driftEast) * offset.lon / 5.0 +
                                          (own.driftNorth - them.driftNorth) * offset.lat / 5.0);
        }
    }
    return stress;
}

void buildRelief(std::vector<EarthRegion>& grid) {
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            EarthRegion& cell = grid[static_cast<std::size_t>(gridIndex(i, j))];
            cell = EarthRegion{};
            cell.plate = plateAt(cellLongitude(i), cellLatitude(j));
        }
    }
    for (int j = 0; j < rows; ++j) {
        const double lat = cellLatitude(j);
        for (int i = 0; i < columns; ++i) {
            const double lon = cellLongitude(i);
            EarthRegion& cell = grid[static_cast<std::size_t>(gridIndex(i, j))];
            cell.stress = boundaryStress(grid, i, j);
            if (isLand(lon, lat)) {
                cell.elevation = noise(lon / 18.0, lat / 18.0) * 500.0 + 80.0 + cell.stress * 350.0;
                cell.terrainClass = cell.stress > 8.0        ? 5
                                    : cell.stress > 5.0      ? 4
                                    : cell.stress > 2.0      ? 3
                                    : cell.elevation > 400.0 ? 2
                                                             : 1;
            } else {
                cell.elevation = noise(lon / 12.0, lat / 12.0) * 900.0 - 3800.0;
                cell.terrainClass = 0;
            }
        }
    }
}

struct Wind {
    double east;
    double north;
};

// Trade winds, westerlies and polar easterlies; h is -1 south of the equator, +1 north of it.
Wind latitudeWind(double absLat, double h) {
    if (absLat < 30.0) {
        return {-1.0, -0.4 * h};
    }
    if (absLat < 60.0) {
        return {1.0, 0.4 * h};
    }
    return {-0.6, 0.4 * h};
}

// On land below 55 degrees the wind blows in from the nearest sea within six cells, searched ring by
// ring east, north, west, south; none found keeps the latitude wind.
Wind onshoreWind(const std::vector<EarthRegion>& grid, int i, int j, Wind wind) {
    for (int d = 1; d <= 6; ++d) {
        const std::array<std::pair<int, Wind>, 4> around{{{gridIndex(i + d, j), {-1.0, 0.0}},
                                                          {gridIndex(i, j + d), {0.0, -1.0}},
                                                          {gridIndex(i - d, j), {1.0, 0.0}},
                                                          {gridIndex(i, j - d), {0.0, 1.0}}}};
        for (const auto& [index, fromThere] : around) {
            if (grid[static_cast<std::size_t>(index)].elevation < 0.0) {
                return fromThere;
            }
        }
    }
    return wind;
}

struct Moisture {
    double carried; // moisture the air brings to the cell
    double loss;    // moisture it rains out over the cell
};

// Follows the air six cells upwind and back to the cell: the sea fills it to 0.88, every land cell
// rains out 12% of it, more where the ground rises (orographic rain). Over the cell itself the sea
// rains out a fixed 0.12 while the air keeps its 0.88.
Moisture moistureWalk(const std::vector<EarthRegion>& grid, int i, int j, Wind wind) {
    const int stepEast = static_cast<int>(std::trunc(wind.east));
    double moisture = 0.0;
    double ground = 0.0;
    double loss = 0.0;
    for (int k = 6; k >= 0; --k) {
        const int stepNorth = static_cast<int>(std::trunc(wind.north * k));
        const double elevation =
            grid[static_cast<std::size_t>(gridIndex(i - k * stepEast, j - stepNorth))].elevation;
        const bool sea = elevation < 0.0;
        if (k == 6) {
            moisture = sea ? 0.88 : 0.0;
        } else if (sea) {
            moisture = 0.88;
            loss = k == 0 ? 0.12 : 0.0;
        } else {
            const double rise = elevation - ground;
            loss = (rise <= 0.0 ? 0.12 : std::min(rise / 1800.0 + 0.12, 0.8)) * moisture;
            moisture -= loss;
        }
        ground = std::max(elevation, 0.0);
    }
    return {moisture, loss};
}

// The neighbour the cell drains into: the lowest of the eight, the first found on ties, or -1 when
// none lies lower than the cell (a sink).
std::int32_t downhillOf(const std::vector<EarthRegion>& grid, int i, int j) {
    constexpr std::array<std::array<int, 2>, 8> offsets{
        {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}}};
    const int own = gridIndex(i, j);
    int best = own;
    for (const auto& [dRow, dColumn] : offsets) {
        const int index = gridIndex(i + dColumn, j + dRow);
        if (grid[static_cast<std::size_t>(index)].elevation <
            grid[static_cast<std::size_t>(best)].elevation) {
            best = index;
        }
    }
    return best == own ? -1 : best;
}

void buildClimate(std::vector<EarthRegion>& grid) {
    for (int j = 0; j < rows; ++j) {
        const double lat = cellLatitude(j);
        const double absLat = std::abs(lat);
        const double hemisphere = lat <= 0.0 ? -1.0 : 1.0;
        const double baseTemperature = 30.0 - 0.68 * absLat;
        const double seasonalSwing = std::sin(absLat * radiansPerDegree);
        for (int i = 0; i < columns; ++i) {
            EarthRegion& cell = grid[static_cast<std::size_t>(gridIndex(i, j))];
            const bool land = cell.elevation > 0.0;
            cell.temperature = land ? baseTemperature - 0.0065 * cell.elevation : baseTemperature;
            cell.seasonality = (land ? 20.0 : 3.0) * seasonalSwing;

            Wind wind = latitudeWind(absLat, hemisphere);
            if (land && absLat < 55.0) {
                wind = onshoreWind(grid, i, j, wind);
            }
            cell.windEast = wind.east;
            cell.windNorth = wind.north;

            const Moisture moisture = moistureWalk(grid, i, j, wind);
            cell.precipitation = std::max(30.0, 600.0 * moisture.carried + 3000.0 * moisture.loss +
                                                    250.0 * (1.0 - absLat / 90.0));
            if (land) {
                const double runoff =
                    cell.precipitation - (cell.temperature > 0.0 ? 12.0 * cell.temperature : 0.0);
                cell.flow = runoff > 0.0 ? runoff : 0.0;
            }
            cell.downhill = downhillOf(grid, i, j);
        }
    }
}

// Water runs down the chains of downhill cells to the sea or a sink: highest cells first, so that
// every cell has gathered all of its inflow before passing it on. Equal heights go by grid index,
// which fixes the order of the additions into a shared downhill cell.
void drain(std::vector<EarthRegion>& grid) {
    std::array<std::int32_t, cellCount> order{};
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        const double ea = grid[static_cast<std::size_t>(a)].elevation;
        const double eb = grid[static_cast<std::size_t>(b)].elevation;
        return ea > eb || (ea == eb && a < b);
    });
    for (const std::int32_t index : order) {
        const EarthRegion& cell = grid[static_cast<std::size_t>(index)];
        if (cell.downhill != -1) {
            grid[static_cast<std::size_t>(cell.downhill)].flow += cell.flow;
        }
    }
}

Biome biomeOf(const EarthRegion& cell) {
    if (cell.elevation < 0.0) {
        return Biome::Ocean;
    }
    if (cell.temperature < -5.0) {
        return Biome::Ice;
    }
    if (cell.precipitation < 250.0) {
        return Biome::Desert;
    }
    if (cell.precipitation < 600.0) {
        return Biome::Grassland;
    }
    return cell.temperature >= 8.0 ? Biome::Forest : Biome::Taiga;
}

void deriveLandValues(std::vector<EarthRegion>& grid) {
    for (EarthRegion& cell : grid) {
        cell.biome = biomeOf(cell);
        const double water = std::clamp((cell.precipitation + 0.15 * cell.flow) / 1200.0, 0.0, 1.0);
        const double warmth = std::max(0.0, 1.0 - std::abs(cell.temperature - 18.0) / 30.0);
        cell.productivity = warmth * water / (1.0 + 0.3 * cell.stress);
        cell.ruggedness = std::clamp(cell.stress / 10.0 + 0.1, 0.0, 1.0);
        cell.fertility = std::clamp(cell.flow / 6000.0 + 0.2 - 0.06 * cell.stress, 0.0, 1.0);
        cell.capacity = (cell.elevation < 0.0 || cell.biome == Biome::Ice)
                            ? 0.0
                            : 8000.0 * cell.productivity + 2000.0 * cell.fertility;
        const double fertileShare = 0.15 + 0.6 * cell.fertility;
        cell.fertileCapacity = fertileShare * cell.capacity;
        cell.yieldScore = (0.5 * cell.productivity + 0.4 + 0.2 * cell.ruggedness + cell.fertility) *
                          fertileShare * cell.capacity;
    }
}

} // namespace

EarthModel::EarthModel() : regions(static_cast<std::size_t>(cellCount)) {
    // Each pass reads only what the earlier ones finished: the climate needs every cell's elevation,
    // the drainage every cell's runoff and downhill neighbour, the land values the gathered flow.
    buildRelief(regions);
    buildClimate(regions);
    drain(regions);
    deriveLandValues(regions);
}

Vec3 EarthModel::color(Biome biome) {
    switch (biome) {
    case Biome::Ocean:
        return {0.13, 0.3, 0.43};
    case Biome::Ice:
        return {0.86, 0.91, 0.92};
    case Biome::Desert:
        return {0.69, 0.57, 0.34};
    case Biome::Grassland:
        return {0.43, 0.49, 0.24};
    case Biome::Forest:
        return {0.23, 0.39, 0.2};
    case Biome::Taiga:
        return {0.18, 0.3, 0.25};
    }
    return {0.0, 0.0, 0.0};
}

int EarthModel::zone(const EarthRegion& region, std::uint32_t seed) {
    if (region.capacity < 100.0) {
        return 0;
    }
    // Fertile land is settled more often, but never every chunk and never none.
    const double settled = std::clamp(region.fertileCapacity / 6500.0, 0.02, 0.85);
    if (unitHash(seed) > settled) {
        return 0;
    }
    const double u = unitHash(seed + 1u);
    if (0.12 * region.fertility + 0.12 > u) {
        return 5;
    }
    if (0.15 * region.productivity + 0.35 > u) {
        return 1;
    }
    if (0.12 * region.ruggedness + 0.58 > u) {
        return 3;
    }
    return u < 0.85 ? 2 : 4;
}

} // namespace zarn
