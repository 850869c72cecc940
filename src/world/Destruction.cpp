#include "world/World.hpp"

namespace zarn {

double World::loss() const {
    return 10000.0 * static_cast<double>(physics.fractureCount) +
           25000.0 * static_cast<double>(physics.brokenBondCount);
}

double World::destructionRate() const {
    // The physics keeps both masses up to date with every refresh; while one is due, the pieces
    // are counted here the same way.
    BuildingMass counts;
    const BuildingMass* mass = &physics.buildingMassCounts;
    if (physics.topologyDirty) {
        for (std::size_t index = 0; index < physics.pieces.size(); ++index) {
            const MatterPiece& piece = physics.pieces[index];
            counts.count(index, piece.alive && piece.building >= 0, !piece.supported, piece.body.mass);
        }
        mass = &counts;
    }
    const double total = BuildingMass::kilograms(mass->total);
    return total > 0.0 ? 100.0 * BuildingMass::kilograms(mass->loose) / total : 0.0;
}

} // namespace zarn
