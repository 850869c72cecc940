#include "BenchWorlds.hpp"

#include <cmath>

namespace zarn::bench {

namespace {

constexpr double bay = 4.0;
constexpr double columnHeight = 3.0;
constexpr double slabThickness = 0.5;
constexpr double storeyHeight = columnHeight + slabThickness;
constexpr double street = 7.0;

const Vec3 columnColor{0.55, 0.54, 0.50};
const Vec3 beamColor{0.48, 0.47, 0.44};
const Vec3 slabColor{0.62, 0.60, 0.56};
const Vec3 groundColor{0.30, 0.32, 0.28};

std::uint32_t addBox(Physics& physics, const Vec3& center, const Vec3& halfExtents, const Vec3& color,
                     std::int32_t building, bool anchored) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = halfExtents;
    piece.color = color;
    piece.building = building;
    piece.anchored = anchored;
    piece.owner = 1;
    piece.indoor = building >= 0 && 2.0 * halfExtents.y <= 0.5;
    if (anchored)
        piece.groundLevel = center.y - halfExtents.y;
    return physics.add(piece);
}

} // namespace

std::size_t towerPieceCount(const TowerShape& shape) {
    const std::size_t nx = static_cast<std::size_t>(shape.baysX);
    const std::size_t nz = static_cast<std::size_t>(shape.baysZ);
    const std::size_t columns = 3 * (nx + 1) * (nz + 1);
    const std::size_t beams = 3 * (nx * (nz + 1) + nz * (nx + 1));
    const std::size_t slab = (4 * nx + 1) * (4 * nz + 1);
    return 1 + static_cast<std::size_t>(shape.storeys) * (columns + beams + slab);
}

double towerWidth(int bays) {
    return bay * bays + 1.0;
}

std::uint32_t addTower(Physics& physics, const Vec3& corner, const TowerShape& shape, std::int32_t building) {
    const double width = towerWidth(shape.baysX);
    const double depth = towerWidth(shape.baysZ);
    const std::uint32_t first = addBox(physics, {corner.x + width / 2, corner.y - 0.5, corner.z + depth / 2},
                                       {width / 2, 0.5, depth / 2}, groundColor, -1, true);
    const Vec3 cube{0.5, 0.5, 0.5};
    const Vec3 plate{0.5, slabThickness / 2, 0.5};
    // Lattice cell (i, k) spans corner + [i, i + 1] x [k, k + 1]; bay corners sit at multiples of 4.
    auto cellX = [&](int i) { return corner.x + i + 0.5; };
    auto cellZ = [&](int k) { return corner.z + k + 0.5; };
    const int cellsX = 4 * shape.baysX + 1;
    const int cellsZ = 4 * shape.baysZ + 1;
    for (int storey = 0; storey < shape.storeys; ++storey) {
        const double base = corner.y + storey * storeyHeight;
        for (int i = 0; i < cellsX; i += 4)
            for (int k = 0; k < cellsZ; k += 4)
                for (int level = 0; level < 3; ++level)
                    addBox(physics, {cellX(i), base + level + 0.5, cellZ(k)}, cube, columnColor, building,
                           false);
        const double beamY = base + columnHeight - slabThickness / 2;
        for (int k = 0; k < cellsZ; k += 4)
            for (int i = 0; i + 1 < cellsX; ++i)
                if (i % 4 != 0)
                    addBox(physics, {cellX(i), beamY, cellZ(k)}, plate, beamColor, building, false);
        for (int i = 0; i < cellsX; i += 4)
            for (int k = 0; k + 1 < cellsZ; ++k)
                if (k % 4 != 0)
                    addBox(physics, {cellX(i), beamY, cellZ(k)}, plate, beamColor, building, false);
        const double slabY = base + columnHeight + slabThickness / 2;
        for (int i = 0; i < cellsX; ++i)
            for (int k = 0; k < cellsZ; ++k)
                addBox(physics, {cellX(i), slabY, cellZ(k)}, plate, slabColor, building, false);
    }
    return first;
}

void makeTower(Physics& physics, const TowerShape& shape) {
    physics.clear();
    addTower(physics, {0.0, 0.0, 0.0}, shape, 0);
    physics.connectTouching();
}

void makeFrameWorld(Physics& physics, std::size_t targetPieces) {
    physics.clear();
    const TowerShape shape;
    const std::size_t perTower = towerPieceCount(shape);
    std::size_t towers = (targetPieces + perTower / 2) / perTower;
    if (towers == 0)
        towers = 1;
    const std::size_t perRow = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(towers))));
    const double pitchX = towerWidth(shape.baysX) + street;
    const double pitchZ = towerWidth(shape.baysZ) + street;
    for (std::size_t t = 0; t < towers; ++t) {
        const double x = static_cast<double>(t % perRow) * pitchX;
        const double z = static_cast<double>(t / perRow) * pitchZ;
        addTower(physics, {x, 0.0, z}, shape, static_cast<std::int32_t>(t));
    }
    physics.connectTouching();
}

void makeRubbleField(Physics& physics, std::size_t pieces) {
    physics.clear();
    const auto side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(pieces))));
    const double width = 2.0 * static_cast<double>(side);
    addBox(physics, {width / 2, -0.5, width / 2}, {width / 2, 0.5, width / 2}, groundColor, -1, true);
    for (std::size_t i = 0; i < pieces; ++i) {
        const double x = 2.0 * static_cast<double>(i % side) + 1.0;
        const double z = 2.0 * static_cast<double>(i / side) + 1.0;
        addBox(physics, {x, 0.5, z}, {0.5, 0.5, 0.5}, columnColor, -1, false);
    }
    physics.connectTouching();
}

std::uint32_t nearestPiece(const Physics& physics, const Vec3& point) {
    std::uint32_t best = 0;
    double bestDistance = HUGE_VAL;
    for (const MatterPiece& piece : physics.pieces) {
        const double d = length(piece.body.center - point);
        if (piece.alive && d < bestDistance) {
            bestDistance = d;
            best = piece.id;
        }
    }
    return best;
}

} // namespace zarn::bench
