#include "world/World.hpp"

namespace zarn {

double World::loss() const {
    return 10000.0 * static_cast<double>(physics.fractureCount) +
           25000.0 * static_cast<double>(physics.brokenBondCount);
}

double World::destructionRate() const {
    double total = 0.0;
    double destroyed = 0.0;
    for (const MatterPiece& piece : physics.pieces) {
        if (!piece.alive || piece.building < 0) {
            continue;
        }
        total += piece.body.mass;
        if (!piece.supported) {
            destroyed += piece.body.mass;
        }
    }
    return total > 0.0 ? 100.0 * destroyed / total : 0.0;
}

} // namespace zarn
