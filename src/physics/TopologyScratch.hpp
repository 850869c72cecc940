#pragma once

#include <cstdint>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// Working storage of the topology refresh, kept between calls so that a refresh allocates nothing
// once the world has reached its size. Apart from the two history counts below it holds no state
// that outlives one call.
struct TopologyScratch {
    // One end of an intact bond seen from a piece: the other piece's index and the bond's index.
    struct Link {
        std::uint32_t neighbour;
        std::uint32_t bond;
        double area;
    };
    // A compact copy of the adjacency lists that the load paths walk: the links of the piece at
    // index i are links[linkStart[i] .. linkStart[i + 1]), in the order of Physics::adjacency.
    std::vector<std::uint64_t> linkStart;
    std::vector<Link> links;
    std::vector<std::uint64_t> linkCursor;
    struct IntactBond {
        std::uint32_t bond;
        std::uint32_t a; // piece indices
        std::uint32_t b;
        double area;
    };
    std::vector<IntactBond> intactBonds;
    // Per piece, as the last adjacency pass saw them: flags (alive, anchored, supported, carried),
    // mass, centre, and the stress of this load pass. The load pass works on these instead of the
    // much larger piece records, which it then visits once, in order.
    std::vector<std::uint8_t> flags;
    std::vector<double> mass;
    std::vector<Vec3> centers;
    std::vector<double> pieceStress;

    // Load paths: breadth-first depth from the anchors (-1 unreached), the component each piece
    // was last gathered into, one component's pieces and its visiting order, the weight each
    // piece passes down, and the links under the current piece.
    std::vector<std::int64_t> depth;
    std::vector<std::uint32_t> stamp;
    std::vector<std::uint32_t> members;
    std::vector<std::uint32_t> queue;
    // A bond from a piece of the component in hand to an anchor (indices).
    struct AnchorLink {
        std::uint32_t anchor;
        std::uint32_t bond;
        std::uint32_t piece;
    };
    std::vector<AnchorLink> anchorLinks;
    std::vector<double> load;
    std::vector<std::uint32_t> below;
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
