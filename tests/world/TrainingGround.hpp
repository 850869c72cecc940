#pragma once

#include "world/World.hpp"

namespace zarn::test {

// The training ground as a new game builds it over the reset city: the city's matter and buildings
// go, a 16 x 16 floor of 64 m slabs is laid and the test gate is put on it. The floor is laid with x
// in the outer loop and z in the inner one, so the slab at (x, z) has id 16 * ix + iz + 1 and the
// gate's posts and beam follow as ids 257, 258 and 259.
inline void buildTrainingGround(World& world) {
    world.physics.clear();
    world.buildings.clear();
    world.id = "training";
    world.name = "训练场";
    world.spawnPoint = {0.0, 0.0, -480.0};
    for (int x = -512; x <= 448; x += 64) {
        for (int z = -512; z <= 448; z += 64) {
            MatterPiece slab;
            slab.body.center = {x + 32.0, -4.0, z + 32.0};
            slab.body.halfExtents = {32.0, 4.0, 32.0};
            slab.building = -1;
            slab.color = {0.24, 0.27, 0.25};
            slab.anchored = true;
            world.physics.add(slab);
        }
    }
    world.addTestStructures();
}

} // namespace zarn::test
