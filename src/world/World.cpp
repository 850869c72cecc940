#include "world/World.hpp"

#include <cmath>

namespace zarn {

namespace {

// The terrain cell is a 256 m square grid offset by half a kilometre, so the district's centre sits
// in the middle of a 1024 m block of cells.
double cellCorner(double coordinate) {
    return std::floor((coordinate + 512.0) / 256.0) * 256.0 - 512.0;
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
    // The star world sets the sky and gravity from its bodies before anything else here; the Earth
    // world first turns the day and follows it with the eye and the sky, then takes its gravity from
    // the turning up below, like the plain world.
    if (earth && !stars) {
        turnEarthDay(position, dt);
    }
    physics.setGravity(gravityUp() * -standardGravity);
    // Then the Earth's terrain streams in and its organisms live; a star world away from the Earth
    // builds the surface of its body and sets gravity again.
    if (earth) {
        streamEarth(position, dt, viewDirection);
    }
    // The Earth and star worlds stack their cells in height too.
    const double cellY = earth || stars ? std::floor(position.y / 256.0) * 256.0 : 0.0;
    terrainCell = {cellCorner(position.x), cellY, cellCorner(position.z)};
}

Vec3 World::gravityUp() const {
    // The star world answers the negated physics gravity, (0, 1, 0) when that is shorter than 1e-30.
    // On the Earth the planet turns about the z axis, so up turns with the day: gravity is sideways
    // at dusk and points to the sky at midnight. Everything that needs the world's up asks here, so
    // neither the physics, the traces nor the renderer assume that up is +y.
    if (stars) {
        const Vec3 gravity = physics.gravity;
        const double pull = length(gravity);
        return pull > 1e-30 ? gravity / -pull : Vec3{0.0, 1.0, 0.0};
    }
    if (earth) {
        return dayCycle.up();
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
