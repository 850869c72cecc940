#include <array>
#include <cmath>
#include <cstdint>

#include "physics/Hash.hpp"
#include "world/World.hpp"

namespace zarn {

namespace {

// The city's seeds are small ints; they go through the game's hash as uint32.
double unitHash(int n) {
    return zarn::unitHash(static_cast<std::uint32_t>(n));
}

// A piece at rest with the defaults every generated piece shares. Only the floor slabs of buildings
// (0.5 m thick or less) are lit as indoor matter.
MatterPiece restingPiece(const Vec3& center, const Vec3& halfExtents, const Vec3& color,
                         std::int32_t building, bool anchored = false) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = halfExtents;
    piece.color = color;
    piece.building = building;
    piece.anchored = anchored;
    piece.indoor = building >= 0 && 2.0 * halfExtents.y <= 0.5;
    return piece;
}

constexpr Vec3 roadColor{0.19, 0.215, 0.21};
constexpr Vec3 blockColor{0.31, 0.34, 0.29};

// 32 m ground tiles over the 1024 m district, x outer and z inner. Streets 64 m wide run along every
// line x = 128k and z = 128k; the blocks lie between them.
void addGround(Physics& physics) {
    for (int ix = 0; ix < 32; ++ix) {
        const double x = -496.0 + 32.0 * ix;
        for (int iz = 0; iz < 32; ++iz) {
            const double z = -496.0 + 32.0 * iz;
            const bool road =
                std::abs(std::remainder(x, 128.0)) <= 16.01 || std::abs(std::remainder(z, 128.0)) <= 16.01;
            physics.add(restingPiece({x, -4.0, z}, {16.0, 4.0, 16.0}, road ? roadColor : blockColor,
                                     buildingTag::ground, true));
        }
    }
}

// Fifty buildings on the 8 x 8 block grid: block k = gx + 8 gz holds one unless k is a multiple of 5.
void addBuildingList(std::vector<Building>& buildings) {
    for (int gz = 0; gz < 8; ++gz) {
        for (int gx = 0; gx < 8; ++gx) {
            const int k = gx + 8 * gz;
            if (k % 5 == 0 || buildings.size() >= 50) {
                continue;
            }
            Building b;
            b.index = static_cast<std::int32_t>(buildings.size());
            b.center = {128.0 * gx - 448.0, 0.0, 128.0 * gz - 448.0};
            b.sizeX = 36.0 + 28.0 * unitHash(k + 19);
            b.sizeZ = 36.0 + 25.0 * unitHash(k + 117);
            b.height = 16.0 + 4.0 * std::trunc(10.0 * unitHash(k + 817));
            buildings.push_back(b);
        }
    }
}

// The ten towers around the start point, nearest first by the distance of their centres from
// (0, 0, -30). Equal distances come in pairs; this fixed order settles them (29 stands before 27).
struct Tower {
    std::int32_t building;
    double height;
};
constexpr std::array<Tower, 10> towers{{{21, 188.0},
                                        {22, 176.0},
                                        {28, 164.0},
                                        {15, 152.0},
                                        {20, 140.0},
                                        {23, 128.0},
                                        {29, 116.0},
                                        {27, 104.0},
                                        {34, 92.0},
                                        {35, 80.0}}};

constexpr Vec3 wallAlongXColor{0.23, 0.32, 0.34};
constexpr Vec3 wallAlongZColor{0.24, 0.33, 0.35};

// A box frame of storeys about 8 m high: four corner columns per storey, a floor slab on top of
// each, and walls between the columns from the second storey up (the ground storey is open).
void addBuildingBody(Physics& physics, const Building& b) {
    const std::int32_t i = b.index;
    const double u = unitHash(i);
    const Vec3 color{0.49 + 0.08 * u, 0.51 + 0.06 * u, 0.49 + 0.06 * u};
    const double cx = b.center.x;
    const double cz = b.center.z;
    const double sx = b.sizeX;
    const double sz = b.sizeZ;
    const int storeys = static_cast<int>(std::ceil(b.height / 8.0));
    const double h = b.height / storeys;
    const double column = h - 0.4;
    for (int s = 0; s < storeys; ++s) {
        const double y = s * h + column / 2.0;
        for (const double xs : {-1.0, 1.0}) {
            for (const double zs : {-1.0, 1.0}) {
                physics.add(restingPiece({cx + xs * (sx / 2.0 - 1.4), y, cz + zs * (sz / 2.0 - 1.4)},
                                         {1.4, column / 2.0, 1.4}, color, i));
            }
        }
        physics.add(restingPiece({cx, s * h + h - 0.2, cz}, {sx / 2.0, 0.2, sz / 2.0}, color, i));
        if (s == 0) {
            continue;
        }
        for (const double sigma : {-1.0, 1.0}) {
            physics.add(restingPiece({cx, y, cz + sigma * (sz / 2.0 - 0.2)},
                                     {(sx - 5.6) / 2.0, column / 2.0, 0.2}, wallAlongXColor, i));
            physics.add(restingPiece({cx + sigma * (sx / 2.0 - 0.2), y, cz},
                                     {0.2, column / 2.0, (sz - 5.6) / 2.0}, wallAlongZColor, i));
        }
    }
}

// A tree and a street lamp on every crossing of the inner 7 x 7 street grid.
void addStreetFurniture(Physics& physics) {
    for (int i = -3; i <= 3; ++i) {
        for (int j = -3; j <= 3; ++j) {
            const double x = 128.0 * i + 21.0;
            const double z = 128.0 * j + 29.0;
            physics.add(restingPiece({x, 2.0, z}, {0.4, 2.0, 0.4}, {0.34, 0.27, 0.19}, buildingTag::tree));
            physics.add(restingPiece({x, 5.1, z}, {2.2, 1.1, 2.2}, {0.27, 0.37, 0.25}, buildingTag::tree));
            physics.add(restingPiece({x - 6.0, 3.5, z - 12.0}, {0.175, 3.5, 0.175}, {0.25, 0.27, 0.26},
                                     buildingTag::lamp));
            physics.add(restingPiece({x - 6.7, 7.12, z - 12.0}, {0.9, 0.12, 0.3}, {0.7, 0.67, 0.45},
                                     buildingTag::lamp));
        }
    }
}

// The test gate stands on the training ground's runway; the blast of the demolition test goes off at
// the foot of its left post.
constexpr Vec3 demolitionPoint{-4.0, 1.0, -461.8};
constexpr double demolitionEnergy = 320000.0;
constexpr double demolitionRadius = 5.0;

} // namespace

void World::reset() {
    earth.reset();
    stars.reset();
    dayCycle.phase = 0.0;
    physics.clear();
    physics.groundLevel = -8.0;

    skyColor = {0.42, 0.48, 0.49};
    spawnPoint = {0.0, 0.0, -110.0};
    name = "城市破坏试验";
    id = "procedural";
    buildings.clear();
    enterCellOf(spawnPoint);

    // Pieces are added in this order, so their ids follow it.
    addGround(physics);
    addBuildingList(buildings);
    for (const Tower& tower : towers) {
        buildings[static_cast<std::size_t>(tower.building)].height = tower.height;
    }
    for (const Building& b : buildings) {
        addBuildingBody(physics, b);
    }
    addStreetFurniture(physics);
    physics.add(restingPiece({0.0, 0.4, -116.0}, {1.0, 0.4, 0.55}, {0.3, 0.4, 0.26}, buildingTag::crate));
    physics.connectTouching();
    physics.prepareStepStorage();
}

void World::addTestStructures() {
    const Vec3 postColor{0.53, 0.52, 0.40};
    physics.add(restingPiece({-4.0, 2.0, -461.0}, {0.8, 2.0, 0.8}, postColor, buildingTag::testGate));
    physics.add(restingPiece({4.0, 2.0, -461.0}, {0.8, 2.0, 0.8}, postColor, buildingTag::testGate));
    physics.add(restingPiece({0.0, 4.5, -461.0}, {5.0, 0.5, 1.4}, {0.55, 0.53, 0.43}, buildingTag::testGate));
    physics.connectTouching();
}

void World::demolitionTest() {
    physics.blast(demolitionPoint, demolitionEnergy, demolitionRadius);
}

} // namespace zarn
