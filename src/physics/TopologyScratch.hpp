#pragma once

#include <cstdint>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// Working storage of the topology refresh, kept between calls so that a refresh allocates nothing
// once the world has reached its size. Apart from the two history counts below it holds no state
// that outlives one call.
struct TopologyScratch {
    // Load paths: breadth-first depth from the anchors (-1 unreached), the visiting order, and the
    // weight each piece passes down.
    std::vector<std::int64_t> depth;
    std::vector<std::uint32_t> queue;
    std::vector<double> load;
    // Assemblies: visited marks of the flood and member lists kept from earlier refreshes.
    std::vector<std::uint8_t> visited;
    std::vector<std::vector<std::uint32_t>> spareMembers;
    // Bonding of new pieces: bounds of every piece and the candidates of one piece.
    std::vector<Box> bounds;
    std::vector<std::uint32_t> candidates;
    // Grid: the cell keys of the piece being re-entered.
    std::vector<std::uint64_t> cellKeys;

    // Dead pieces and non-intact bonds as the last adjacency pass counted them. Every change that
    // kills a piece or breaks a bond sets Physics::topologyDirty, so while it is clear these are
    // exact and the history thresholds are checked without walking the store.
    std::uint64_t deadPieces = 0;
    std::uint64_t brokenBonds = 0;
};

} // namespace zarn
