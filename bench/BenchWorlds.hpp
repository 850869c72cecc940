#pragma once

#include <cstddef>
#include <cstdint>

#include "physics/Math.hpp"
#include "physics/Physics.hpp"

namespace zarn::bench {

// A storeyed frame tower: a grid of columns (three 1 m cubes per storey at every bay corner), beams
// (1 x 0.5 x 1 m pieces between the column tops along the bay lines) and a floor slab of
// 1 x 0.5 x 1 m pieces over the whole footprint, all standing on one anchored ground slab. Bays
// are 4 m wide, storeys 3.5 m high.
struct TowerShape {
    int storeys = 6;
    int baysX = 2;
    int baysZ = 2;
};

// Pieces one tower of this shape adds (ground slab included).
std::size_t towerPieceCount(const TowerShape& shape);

// Footprint width of a tower along x (or z with baysZ), m.
double towerWidth(int bays);

// Adds one tower whose footprint starts at (corner.x, corner.z) and whose ground slab's top is at
// corner.y. Does not bond anything; returns the first id added.
std::uint32_t addTower(Physics& physics, const Vec3& corner, const TowerShape& shape, std::int32_t building);

// Clears the world and builds one bonded tower at the origin.
void makeTower(Physics& physics, const TowerShape& shape = {});

// Clears the world and builds rows of bonded six-storey towers (2 x 2 bays, 865 pieces each),
// about targetPieces in all (at least one tower). The world stands under its own weight.
void makeFrameWorld(Physics& physics, std::size_t targetPieces);

// Clears the world and scatters about `pieces` loose 1 m cubes, 2 m apart, on one anchored ground
// slab: each cube rests on the slab on its own, as rubble does after a collapse.
void makeRubbleField(Physics& physics, std::size_t pieces);

} // namespace zarn::bench
