#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "physics/FineGrid.hpp"
#include "physics/Math.hpp"
#include "physics/Records.hpp"

namespace zarn {

// Room for n values in an array kept per piece or per bond, and half as many again to grow into
// when it must move. Matter grows as play breaks it: without the room, every such array would move
// in the same step, the first time the world grows past the size it loaded with.
template <class T, class Allocator> void makeRoom(std::vector<T, Allocator>& values, std::size_t n) {
    if (values.capacity() < n)
        values.reserve(n + n / 2);
}

// Working storage of the topology refresh, kept between calls so that a refresh allocates nothing
// once the world has reached its size. Apart from the two history counts below and the numbering
// of components and floods it holds no state that outlives one call.
struct TopologyScratch {
    // One end of an intact bond seen from a piece: the other piece's index, the bond's index and the
    // lever of the piece's centre about the bond's centre across the gravity.
    struct Link {
        std::uint32_t neighbour;
        std::uint32_t bond;
        double lever;
    };
    // What the load pass needs of a bond, copied from it where its links are made: the area, the
    // cosine normal . down and the stress the bond held then. The terms derived from them (shear
    // share, bending section) are worked out where a load crosses the bond, at most once per pass.
    struct BondNote {
        double area;
        double cosine;
        double stress;
    };
    std::vector<BondNote> bondNotes; // per bond index
    // The direction of gravity the notes were taken with.
    Vec3 down;
    // A compact copy of the adjacency lists that the load paths walk: the links of the piece at
    // index i are links[linkStart[i] .. linkStart[i + 1]), in the order of Physics::adjacency.
    std::vector<std::uint64_t> linkStart;
    std::vector<Link> links;
    // Bonds made since the last noted refresh that are intact.
    struct IntactBond {
        std::uint32_t bond;
        std::uint32_t a; // piece indices
        std::uint32_t b;
    };
    std::vector<IntactBond> freshBonds;
    // Per piece, as the last adjacency pass saw them: flags (alive, anchored, supported, carried),
    // mass and centre. The load pass works on these instead of the much larger piece records, which
    // it then visits once, in order. (The stress a pass gives a piece is in ChangeNotes.)
    std::vector<std::uint8_t> flags;
    std::vector<double> mass;
    std::vector<Vec3> centers;
    // The piece's stress and assembly as recorded, so that the pass writes only what changed.
    std::vector<double> stressSeen;
    std::vector<std::int32_t> assemblySeen;
    // Per piece: its record above is as the piece is. The walks and the groupings keep what they
    // write in step; a piece that is noted, moves or takes a hit's stress is recorded again.
    std::vector<std::uint8_t> recordCurrent;
    // The pieces below this index have been recorded since they were added (a full pass records
    // every piece): their anchored flags, which never change, are known.
    std::size_t recordedPieces = 0;

    // The links are laid out as a full adjacency pass lays them out: the next full pass writes its
    // links where they are, unless a piece's count changed.
    bool linksLaidOut = false;

    // The links of the piece at index i end at linkEnd[i]. After a full adjacency pass that is
    // linkStart[i + 1]; a refresh of a few components makes again the links of the pieces whose
    // links are not current, after all the others.
    std::vector<std::uint64_t> linkEnd;
    // Per piece: its links are those of its adjacency list as it is, with levers about its centre as
    // it is, and the notes of their bonds hold those bonds' areas, cosines and stresses. Cleared where
    // the piece is noted or moves.
    std::vector<std::uint8_t> linksCurrent;
    // A piece noted or moved: neither its record nor its links are as it is any more.
    void forget(std::size_t index) {
        if (index < linksCurrent.size())
            linksCurrent[index] = 0;
        if (index < recordCurrent.size())
            recordCurrent[index] = 0;
    }

    // Load paths: breadth-first depth from the anchors (-1 unreached), the component each piece
    // was last gathered into (components are numbered on from one pass to the next, so a stamp
    // never needs clearing), one component's pieces and its visiting order (room for every piece).
    std::vector<std::int32_t> depth;
    std::vector<std::uint32_t> stamp;
    std::uint32_t lastComponent = 0;
    std::vector<std::uint32_t> members;
    std::vector<std::uint32_t> order;
    // A full load pass: the trees that join pieces into components (joined where the links are
    // made), and the pieces of every component in index order, component after component (each
    // ending at its componentStart).
    std::vector<std::uint32_t> parent;
    std::vector<std::uint32_t> gathered;
    std::vector<std::uint64_t> componentStart;
    // A bond from a piece of the component in hand to an anchor (indices): of the component in hand
    // in a refresh of a few components, of every component in turn in a full load pass (those of
    // component c end at groundStart[c - 1]).
    struct AnchorLink {
        std::uint32_t anchor;
        std::uint32_t bond;
        std::uint32_t piece;
    };
    std::vector<AnchorLink> anchorLinks;
    std::vector<std::uint64_t> groundStart;
    // A full load pass: the links from every unanchored piece to an anchor as they were found where
    // the links are made, before they are put in component order.
    std::vector<AnchorLink> groundLinks;
    // The weight each piece passes down.
    std::vector<double> load;
    // Per piece index, for the component in hand: the bond area under the piece and the number of
    // its links there.
    struct WalkPiece {
        double supportArea;
        std::uint32_t below;
    };
    std::vector<WalkPiece> walk;
    // Bonds the current load pass broke.
    std::vector<std::uint32_t> breaks;
    // A refresh of a few components: the pieces its load pass gathered, and its flood marks; the
    // pieces a pass starts from, and the ends of the bonds it broke, where the next one starts.
    std::vector<std::uint32_t> passPieces;
    std::vector<std::uint32_t> passSeeds;
    std::vector<std::uint32_t> breakEnds;
    std::vector<std::uint32_t> visitStamp;
    std::uint32_t lastVisit = 0;
    // Assemblies: visited marks of the flood and member lists kept from earlier refreshes.
    std::vector<std::uint8_t> visited;
    std::vector<std::vector<std::uint32_t>> spareMembers;
    // A noted refresh: the assemblies its changes do not reach, with when their motion was gathered
    // and the index each had.
    std::vector<Assembly> keptAssemblies;
    std::vector<std::uint64_t> keptGathered;
    std::vector<std::int32_t> keptFrom;
    // Bonding of new pieces: bounds of every piece, the fine grid over the alive ones for dense
    // cells (found pieces are marked in visitStamp) and the candidates of one piece.
    std::vector<Box> bounds;
    FineLevels bondingGrid;
    bool bondingGridBuilt = false;
    std::vector<std::uint32_t> candidates;
    // Grid: the cell keys of the piece being re-entered, and the pieces a full refresh found away
    // from their grid entries.
    std::vector<std::uint64_t> cellKeys;
    std::vector<std::uint32_t> gridStale;

    // Dead pieces and non-intact bonds as the last adjacency pass counted them. Every change that
    // kills a piece or breaks a bond sets Physics::topologyDirty, so while it is clear these are
    // exact and the history thresholds are checked without walking the store.
    std::uint64_t deadPieces = 0;
    std::uint64_t brokenBonds = 0;
};

// What physics' own operations changed since the topology was last refreshed and the grid last
// brought up to date, so that the refreshes they start redo only what those changes reach.
//
// Physics notes: the pieces whose bonds, life or stresses its impacts and load passes changed;
// the members of every assembly it moved; pieces and bonds appended since the last refresh (by
// their count); the gravity the last refresh used; the ends of the bonds that the last pass of a
// refresh broke, while the failures go on. A change made from outside is not noted. Code that
// writes pieces or bonds directly sets topologyDirty afterwards (as the loaders do): a refresh that
// finds topologyDirty set by anyone but physics itself redoes everything, grid included. The public
// rebuildGrid compares every piece and notes those it finds moved or dead, and the public refreshTopology
// always redoes everything.
struct ChangeNotes {
    // The last refresh redid everything or was itself exact, and the notes below cover every
    // change since. Cleared by the operations that rebuild parts of the topology on their own.
    bool synced = false;
    std::uint64_t pieceCount = 0; // pieces and bonds at the last refresh
    std::uint64_t bondCount = 0;
    Vec3 gravity;                      // gravity at the last refresh
    std::vector<std::uint32_t> pieces; // indices of pieces noted since the last refresh
    std::vector<std::uint8_t> pieceMark;
    std::vector<std::uint8_t> aliveSeen; // per piece index: alive at the last refresh
    // The assemblies as the last refresh left them. While groupsKnown, groupOf holds per piece index
    // the assembly it is a member of (-1 none), so that a refresh groups again only the assemblies
    // its changes reach. Per assembly, gatheredAt is the count of motion changes at which its motion
    // was last gathered from its members: a change that reaches the motion of every assembly (a step,
    // a stop) counts one more, a push at one assembly clears its own.
    std::vector<std::int32_t> groupOf;
    bool groupsKnown = false;
    std::vector<std::uint64_t> gatheredAt;
    std::uint64_t motionChanges = 1;
    void motionChanged() { ++motionChanges; }
    void assemblyPushed(std::size_t index) {
        if (index < gatheredAt.size())
            gatheredAt[index] = 0;
    }
    // What the last load pass over each component gave: per bond whether it carried load and the
    // stress it got, per piece whether it was carried and its stress. Hits write stresses too;
    // where a hit changed nothing else, the refresh writes these back instead of walking again.
    std::vector<std::uint8_t> bondLoaded;
    std::vector<double> bondLoadStress;
    std::vector<std::uint8_t> pieceLoaded;
    std::vector<double> pieceLoadStress;
    // Bonds and pieces whose stress a hit wrote since the last refresh (a bond may repeat).
    std::vector<std::uint64_t> stressedBonds;
    std::vector<std::uint32_t> stressedPieces;
    // Grid: indices of pieces that may have moved or died since the grid was last brought up to date.
    std::vector<std::uint32_t> moved;
    std::vector<std::uint8_t> movedMark;
};

// Adds a piece's index to a list of the notes once, marked in its per-piece marks, which reach at
// least every piece of the world.
inline void noteOnce(std::vector<std::uint8_t>& mark, std::vector<std::uint32_t>& list, std::uint32_t index,
                     std::size_t pieces) {
    if (index >= mark.size())
        mark.resize(std::max<std::size_t>(index + 1, pieces), 0);
    if (mark[index])
        return;
    mark[index] = 1;
    list.push_back(index);
}

} // namespace zarn
