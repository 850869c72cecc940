#include "world/World.hpp"

#include <cmath>

namespace zarn {

namespace {

constexpr double cellSize = 256.0;
// A player keeps the terrain cell until this far past its edge, so that standing or walking along an
// edge (the district's ground lies on one in height) does not flip the renderer's origin and the
// Earth's gravity back and forth.
constexpr double cellSlack = 8.0;

// The terrain cell is a 256 m square grid offset by half a kilometre, so the district's centre sits
// in the middle of a 1024 m block of cells.
double cellCorner(double coordinate) {
    return std::floor((coordinate + 512.0) / cellSize) * cellSize - 512.0;
}

// The corner of the cell along one axis: the held one while the coordinate lies within the slack
// of it, else the one that holds the coordinate.
double followCell(double held, double coordinate, double corner) {
    return coordinate >= held - cellSlack && coordinate < held + cellSize + cellSlack ? held : corner;
}

} // namespace

std::string Building::label() const {
    if (!name.empty()) {
        return name;
    }
    return "建筑 " + std::to_string(static_cast<std::int64_t>(index) + 1);
}

bool bondFits(const Bond& bond) {
    const double normal = length(bond.normal);
    return normal >= 0.99 && normal <= 1.01 && length(bond.center) <= 5000.0;
}

bool buildingFits(const Building& b) {
    const auto within = [](double value, double low, double high) { return value >= low && value <= high; };
    return std::hypot(b.center.x, b.center.z) <= 3000.0 && within(b.sizeX, 0.01, 2000.0) &&
           within(b.sizeZ, 0.01, 2000.0) && within(b.height, 0.01, 1000.0) && within(b.extra, 0.0, 1e15);
}

World::World() {
    reset();
}

void World::update(const Vec3& position, double dt, const Vec3& viewDirection) {
    // The cell first: on the Earth gravity is taken at its centre.
    followTerrainCell(position);
    // The star world sets the sky and gravity from its bodies; the Earth world first turns the day
    // and follows it with the eye and the sky, then takes its gravity from the planet's up, like the
    // plain world.
    if (earth && !stars) {
        turnEarthDay(position, dt);
    }
    physics.setGravity(stars ? updateStars(position, dt) : gravityUp() * -standardGravity);
    // Then the Earth's terrain streams in while the player stands on it and, in the Earth world, its
    // organisms live; a star world away from the Earth builds the surface of its body and sets
    // gravity again.
    if (earth) {
        streamEarth(position, dt, viewDirection);
    }
    if (stars && !earth) {
        updateStarSurface(position);
    }
}

void World::enterCellOf(const Vec3& position) {
    // The Earth and star worlds stack their cells in height too; the plain world's lie at 0.
    const double y = earth || stars ? std::floor(position.y / cellSize) * cellSize : 0.0;
    terrainCell = {cellCorner(position.x), y, cellCorner(position.z)};
}

void World::followTerrainCell(const Vec3& position) {
    const bool stacked = earth || stars;
    const double y = stacked ? std::floor(position.y / cellSize) * cellSize : 0.0;
    terrainCell = {followCell(terrainCell.x, position.x, cellCorner(position.x)),
                   stacked ? followCell(terrainCell.y, position.y, y) : 0.0,
                   followCell(terrainCell.z, position.z, cellCorner(position.z))};
}

Vec3 World::gravityUp() const {
    // The star world answers the negated physics gravity, or (0, 1, 0) in empty space where nothing
    // pulls; it asks first, as it may stand on the Earth. On the Earth up points away from the
    // planet's centre, taken at the middle of the player's terrain cell: it holds still while the
    // player does and changes by a few thousandths of a degree at a cell's edge. Everything that
    // needs the world's up asks here, so neither the physics nor the traces assume that up is +y.
    if (stars) {
        const double g = length(physics.gravity);
        return g > 1e-30 ? physics.gravity / -g : Vec3{0.0, 1.0, 0.0};
    }
    if (earth) {
        const double half = cellSize / 2.0;
        return EarthModel::upAt(terrainCell + Vec3{half, half, half});
    }
    return {0.0, 1.0, 0.0};
}

int World::detail(const Vec3& a, const Vec3& b) const {
    const double d = std::hypot(a.x - b.x, a.z - b.z);
    if (d < 300.0) {
        return 0;
    }
    if (d < 800.0) {
        return 1;
    }
    if (d < 3000.0) {
        return 2;
    }
    return 3;
}

} // namespace zarn
