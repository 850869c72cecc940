#include <algorithm>
#include <vector>

#include "physics/GridCells.hpp"
#include "physics/Physics.hpp"

// Bonding: touching pieces are found through the grid and joined where their faces meet.

namespace zarn {

namespace {

// New pieces look for neighbours this far beyond their bounds; the bond test itself accepts gaps
// up to 0.035 m.
constexpr double touchReach = 0.04;

// Candidates for bonding piece `id`: alive pieces whose bounds come within the reach of its own,
// that are either older than the first new piece or newer than `id`, in ascending id order. The
// grid lists every piece that could pass the bond test; the bounds check only spares the bond test
// the pieces that are too far away, so the bonds made are those of trying every listed piece. Cell
// lists are in id order, so the ids between the first new piece and `id` are skipped unseen.
//
// Where the cells of the reach list many pieces (a block of small ones), the same pieces are found
// through a fine grid over the alive pieces, built when first needed: every piece whose bounds meet
// the reach is listed in a cell the reach meets, unless it is too large to be listed at all.
// Returns the number of pieces looked at.
constexpr std::size_t denseCells = 512; // pieces listed in the reach's cells

std::uint64_t touchingCandidates(Physics& physics, std::uint32_t id, std::uint32_t first,
                                 std::vector<std::uint32_t>& out) {
    TopologyScratch& scratch = physics.topologyScratch;
    const std::vector<Box>& bounds = scratch.bounds;
    const Box reach = grid::widened(bounds[id - 1], touchReach);
    out.clear();
    std::uint64_t steps = 0;
    auto consider = [&](std::uint32_t other) {
        ++steps;
        if (grid::overlaps(bounds[other - 1], reach))
            out.push_back(other);
    };
    if (grid::needsScan(reach)) {
        for (const MatterPiece& piece : physics.pieces)
            if (piece.alive && (piece.id < first || piece.id > id))
                consider(piece.id);
        return steps;
    }
    const grid::CellRange range = grid::cellRange(reach, 0.0);
    std::vector<const std::vector<std::uint32_t>*>& lists = scratch.cellLists;
    lists.clear();
    std::size_t listed = 0;
    grid::forEachCell(physics, range, [&](const std::vector<std::uint32_t>& list) {
        lists.push_back(&list);
        listed += list.size();
    });
    if (listed <= denseCells) {
        for (const std::vector<std::uint32_t>* list : lists) {
            const auto older = std::lower_bound(list->begin(), list->end(), first);
            for (auto at = list->begin(); at != older; ++at)
                consider(*at);
            for (auto at = std::upper_bound(older, list->end(), id); at != list->end(); ++at)
                consider(*at);
        }
        if (lists.size() > 1) {
            std::sort(out.begin(), out.end());
            out.erase(std::unique(out.begin(), out.end()), out.end());
        }
        return steps;
    }
    if (!scratch.bondingGridBuilt) {
        scratch.bondingGrid.clear();
        for (std::size_t index = 0; index < physics.pieces.size(); ++index)
            if (physics.pieces[index].alive)
                scratch.bondingGrid.enter(bounds[index], static_cast<std::uint32_t>(index + 1));
        scratch.bondingGridBuilt = true;
    }
    if (++scratch.lastVisit == 0) {
        std::fill(scratch.visitStamp.begin(), scratch.visitStamp.end(), 0u);
        scratch.lastVisit = 1;
    }
    const std::uint32_t mark = scratch.lastVisit;
    scratch.bondingGrid.search(reach, [&](std::uint32_t other) {
        std::uint32_t& seen = scratch.visitStamp[other - 1];
        if (seen == mark) {
            ++steps;
            return;
        }
        seen = mark;
        if ((other < first || other > id) && !physics.gridEntries[other - 1].cells.empty())
            consider(other);
        else
            ++steps;
    });
    std::sort(out.begin(), out.end());
    return steps;
}

// Bonds every alive piece from `first` on to its touching neighbours (see connectNew); false as
// soon as the budget is spent.
bool bondNewPieces(Physics& physics, std::uint32_t first, const BondingBudget& budget) {
    physics.rebuildGrid();
    TopologyScratch& scratch = physics.topologyScratch;
    std::vector<MatterPiece>& pieces = physics.pieces;
    std::vector<Box>& bounds = scratch.bounds;
    bounds.resize(pieces.size());
    scratch.bondingGridBuilt = false;
    scratch.visitStamp.resize(pieces.size(), 0);
    for (std::size_t index = 0; index < pieces.size(); ++index)
        if (pieces[index].alive)
            bounds[index] = pieces[index].body.bounds();
    const std::uint64_t bondsBefore = physics.bonds.size();
    std::uint64_t steps = 0;
    std::vector<std::uint32_t>& candidates = scratch.candidates;
    for (std::size_t index = first - 1; index < pieces.size(); ++index) {
        if (!pieces[index].alive)
            continue;
        const auto id = static_cast<std::uint32_t>(index + 1);
        steps += touchingCandidates(physics, id, first, candidates);
        for (const std::uint32_t other : candidates) {
            if (physics.bonds.size() >= Physics::maxBonds)
                break;
            physics.addBondUnchecked(id, other);
        }
        if (steps > budget.searchSteps || physics.bonds.size() - bondsBefore > budget.bonds)
            return false;
    }
    return true;
}

} // namespace

bool Physics::addBond(std::uint32_t a, std::uint32_t b) {
    if (bonds.size() >= maxBonds)
        return false;
    return addBondUnchecked(a, b);
}

bool Physics::addBondUnchecked(std::uint32_t a, std::uint32_t b) {
    // A piece never bonds with itself, and ids outside the store name nothing.
    if (a == b || a == 0 || b == 0 || a > pieces.size() || b > pieces.size())
        return false;
    Bond bond;
    if (!faceContact(pieces[a - 1], pieces[b - 1], bond))
        return false;
    bond.a = a;
    bond.b = b;
    bond.stress = 0.0;
    bond.intact = true;
    bonds.push_back(bond);
    return true;
}

void Physics::connectNew(std::uint32_t first) {
    bondNewPieces(*this, first == 0 ? 1 : first, BondingBudget{});
    // The new bonds are noted by their count. The refresh walks only what changed when every other
    // change since the last one was noted too (pieces added with addNoted, removed with remove);
    // pieces added with add make it a whole refresh.
    noteTopologyChange();
    refreshNotedTopology();
}

void Physics::connectTouching() {
    bonds.clear();
    brokenPairs.clear();
    // The bonds are made anew: what the notes say of the old ones no longer holds.
    changes.synced = false;
    connectNew(1);
}

bool Physics::connectTouching(const BondingBudget& budget) {
    bonds.clear();
    brokenPairs.clear();
    // Real matter has about three bonds a piece.
    bonds.reserve(std::min<std::uint64_t>(budget.bonds, 3 * pieces.size()));
    topologyDirty = true;
    if (!bondNewPieces(*this, 1, budget))
        return false;
    refreshTopology();
    return true;
}

} // namespace zarn
