#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "physics/Hash.hpp"
#include "planet/EarthEngine.hpp"

namespace zarn {

namespace {

constexpr double columnSize = 16.0;
constexpr Vec3 columnHalfExtents{8.0, 24.0, 8.0};

constexpr Vec3 roadColor{0.24, 0.25, 0.24};
constexpr Vec3 riverColor{0.13, 0.3, 0.43};
constexpr Vec3 cropColor{0.53, 0.52, 0.23};
constexpr Vec3 workshopColor{0.48, 0.47, 0.43};
constexpr Vec3 houseColor{0.61, 0.58, 0.49};
constexpr Vec3 tableColor{0.37, 0.29, 0.21};
constexpr Vec3 blockColor{0.35, 0.39, 0.4};
constexpr Vec3 bedColor{0.46, 0.49, 0.51};
constexpr Vec3 doorstepColor{0.47, 0.46, 0.43};

// A quarter turn about the vertical. Its two components differ in the last digit; they are kept
// exactly so, since every turned house in the world depends on them.
constexpr Quaternion quarterTurn{0.7071067811865476, 0.0, 0.7071067811865475, 0.0};

// The chunk's seed; negative indices hash as their uint32 patterns and j + 991 wraps.
std::uint32_t chunkSeed(int i, int j) {
    return hash32(static_cast<std::uint32_t>(i)) ^ hash32(static_cast<std::uint32_t>(j) + 991u);
}

// Roads run along every eighth column and row of chunks, negative ones included.
bool onRoadGrid(int index) {
    return (static_cast<std::uint32_t>(index) & 7u) == 0;
}

// A loose, unanchored box of the chunk's features.
MatterPiece featureBox(const Vec3& center, const Vec3& halfExtents, const Vec3& color) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = halfExtents;
    piece.color = color;
    return piece;
}

// One of the sixteen 16 m columns of a chunk, as the terrain leaves it.
struct Column {
    double x = 0.0;
    double z = 0.0;
    double height = 0.0; // world y of the column's top
    EarthRegion region;
    int zone = 0;
    bool road = false;
    bool river = false;
    Vec3 color;
};

Column shapeColumn(const EarthModel& model, int i, int j, int r, int c, double x, double z, double height,
                   bool farSide, std::uint32_t seed) {
    Column column;
    column.x = x;
    column.z = z;
    column.height = height;
    column.region = model.at(x, z, farSide);
    column.zone = EarthModel::zone(column.region, seed);
    column.color = EarthModel::color(column.region.biome);
    const EarthRegion& region = column.region;
    column.road = region.capacity > 100.0 && ((onRoadGrid(i) && c == 0) || (onRoadGrid(j) && r == 0) ||
                                              (column.zone != 0 && (c == 0 || r == 0)));
    if (column.road) {
        column.color = roadColor;
    }
    // Rivers meander across land that gathers enough water; a river cuts through a road.
    column.river = region.elevation > 0.0 && region.flow > 1600.0 &&
                   std::abs(100.0 * std::sin(x / 1800.0 + std::sin(z / 2400.0))) < 12.0;
    if (column.river) {
        column.road = false;
        column.height -= 1.5;
        column.color = riverColor;
    }
    return column;
}

MatterPiece groundColumn(const Column& column) {
    MatterPiece piece = featureBox({column.x, column.height - columnHalfExtents.y, column.z},
                                   columnHalfExtents, column.color);
    piece.anchored = true;
    piece.groundLevel = column.height - 2.0 * columnHalfExtents.y;
    return piece;
}

// Storeys of a house: one for every 3,000 of the cell's yield, one to five.
int houseFloors(double yieldScore) {
    const double storeys = std::trunc(yieldScore / 3000.0) + 1.0;
    return storeys >= 5.0 ? 5 : (storeys >= 1.0 ? static_cast<int>(storeys) : 1);
}

// The small building of zones 2 to 4 on the column (x, h, z): per floor four corner posts, the
// ceiling slab, the end walls and the long walls with a 2 m opening in their middle, a partition, a
// table, and a bed (houses) or a block (the workshop of zone 3). The building is turned a quarter
// when |i % 8| < |j % 8| (the remainders keep the sign of the index, then lose it); the doorstep
// before its south side is never turned.
void addBuilding(std::vector<MatterPiece>& pieces, int i, int j, const Column& column) {
    const EarthRegion& region = column.region;
    const bool workshop = column.zone == 3;
    const double length = workshop ? 12.0 : 10.0; // along x
    const int floors = workshop ? 1 : houseFloors(region.yieldScore);
    const Vec3 color = workshop ? workshopColor : houseColor;
    const bool hot = region.temperature > 20.0;
    const double depth = hot ? 8.0 : 10.0; // along z
    // Low end walls where it is hot or windy, to let the air through.
    const double wallHeight = hot || std::abs(region.windEast) > 0.8 ? 0.9 : 1.5;

    const double x = column.x;
    const double h = column.height;
    const double z = column.z;
    const std::size_t first = pieces.size();
    for (int floor = 0; floor < floors; ++floor) {
        const double y = h + 3.0 * floor;
        for (const double sx : {-1.0, 1.0}) {
            for (const double sz : {-1.0, 1.0}) {
                pieces.push_back(
                    featureBox({x + sx * (length / 2.0 - 0.5), y + 1.35, z + sz * (depth / 2.0 - 0.5)},
                               {0.5, 1.35, 0.5}, color));
            }
        }
        pieces.push_back(featureBox({x, y + 2.85, z}, {length / 2.0, 0.15, depth / 2.0}, color));
        for (const double s : {-1.0, 1.0}) {
            pieces.push_back(featureBox({x + s * length / 2.0, y + wallHeight / 2.0, z},
                                        {0.15, wallHeight / 2.0, (depth - 2.0) / 2.0}, color));
            const Vec3 panel{length / 4.0 - 0.5, 1.35, 0.15};
            pieces.push_back(
                featureBox({x - (length / 4.0 + 0.5), y + 1.35, z + s * depth / 2.0}, panel, color));
            pieces.push_back(
                featureBox({x + (length / 4.0 + 0.5), y + 1.35, z + s * depth / 2.0}, panel, color));
        }
        pieces.push_back(featureBox({x, y + 1.1, z + 2.0}, {0.125, 1.1, 1.5}, color));
        pieces.push_back(featureBox({x - 2.0, y + 0.4, z}, {1.0, 0.4, 0.5}, tableColor));
        if (workshop) {
            pieces.push_back(featureBox({x + 2.0, y + 0.9, z}, {1.0, 0.9, 1.0}, blockColor));
        } else {
            pieces.push_back(featureBox({x + 2.0, y + 0.3, z + 2.0}, {1.0, 0.3, 0.75}, bedColor));
        }
    }

    if (std::abs(i % 8) < std::abs(j % 8)) {
        const Vec3 pivot{x, h, z};
        for (auto piece = pieces.begin() + static_cast<std::ptrdiff_t>(first); piece != pieces.end();
             ++piece) {
            piece->body.center = pivot + quarterTurn.rotate(piece->body.center - pivot);
            piece->body.orientation = quarterTurn;
        }
    }
    pieces.push_back(featureBox({x, h + 0.1, z - depth / 2.0 - 1.0}, {1.0, 0.1, 1.0}, doorstepColor));
}

bool strictlyInside(const Box& box, double x, double z) {
    return box.min.x < x && x < box.max.x && box.min.z < z && z < box.max.z;
}

} // namespace

std::vector<MatterPiece> EarthEngine::generate(int i, int j, bool farSide) const {
    const std::uint32_t seed = chunkSeed(i, j);
    std::vector<MatterPiece> pieces;
    pieces.reserve(16);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const double x = ChunkCell::size * i + columnSize * c + 8.0;
            const double z = ChunkCell::size * j + columnSize * r + 8.0;
            if (!farSide && strictlyInside(districtBounds, x, z)) {
                continue; // the district's own pieces stand here
            }
            const double height = model.surface(x, z, farSide);
            if (!std::isfinite(height)) {
                continue; // off the sphere
            }
            const Column column = shapeColumn(model, i, j, r, c, x, z, height, farSide, seed);
            pieces.push_back(groundColumn(column));

            // Fields and houses stand on the near side's dry land, off the roads and rivers.
            if (farSide || !(column.region.elevation > 0.0) || column.road || column.river) {
                continue;
            }
            if (column.zone == 1) {
                pieces.push_back(featureBox({x, column.height + 0.2, z}, {6.0, 0.2, 0.6}, cropColor));
            } else if (column.zone >= 2 && column.zone <= 4 && c == 1 && r == 1) {
                addBuilding(pieces, i, j, column);
            }
        }
    }
    return pieces;
}

} // namespace zarn
