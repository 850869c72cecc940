#pragma once

#include <cstdint>

#include "world/World.hpp"

namespace zarn::test {

// The whole demolition city brought down: a charge of the training ground's strength at the foot of
// every ground-storey column of every building (four per building, two hundred in all), all at
// once, then steps of 1/60 s until nothing moves.
inline constexpr double cityChargeEnergy = 320000.0;
inline constexpr double cityChargeRadius = 5.0;
inline constexpr double cityCollapseStep = 1.0 / 60.0;
// The motion window closes 10 s after the charges, so the collapse ends well before this.
inline constexpr int cityCollapseMaxSteps = 1200;

inline void chargeEveryColumn(World& world) {
    for (const Building& b : world.buildings)
        for (const double xs : {-1.0, 1.0})
            for (const double zs : {-1.0, 1.0}) {
                const Vec3 foot{b.center.x + xs * (b.sizeX / 2.0 - 1.4), 1.0,
                                b.center.z + zs * (b.sizeZ / 2.0 - 1.4)};
                world.physics.blast(foot, cityChargeEnergy, cityChargeRadius);
            }
}

// True while some assembly is awake: the collapse goes on.
inline bool collapsing(const Physics& physics) {
    for (const Assembly& assembly : physics.assemblies)
        if (!assembly.asleep && !assembly.members.empty())
            return true;
    return false;
}

} // namespace zarn::test
