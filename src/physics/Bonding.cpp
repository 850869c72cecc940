#include <algorithm>
#include <array>
#include <vector>

#include "physics/GridCells.hpp"
#include "physics/Physics.hpp"

// Bonding: touching pieces are found through the grid and joined where their faces meet.

namespace zarn {

namespace {

// New pieces look for neighbours this far beyond their bounds; the bond test itself accepts gaps
// up to 0.035 m.
constexpr double touchReach = 0.04;

// How many of the ascending ids from `from` on are at most `id`, added to `from`: a binary search
// whose steps the processor need not guess.
std::size_t countAtMost(const std::vector<std::uint32_t>& ids, std::size_t from, std::uint32_t id) {
    std::size_t length = ids.size() - from;
    if (length == 0)
        return from;
    const std::uint32_t* base = ids.data() + from;
    while (length > 1) {
        const std::size_t half = length / 2;
        base = base[half] <= id ? base + half : base;
        length -= half;
    }
    return static_cast<std::size_t>(base - ids.data()) + (*base <= id ? 1 : 0);
}

// The cell lists met lately, in a small table by cell key, so that the pieces next in id order, which
// mostly reach the same cells, find them without the grid's hash table; the grid does not change
// while bonding. For each list: where the ids from the first new piece on begin, and where those
// above the piece in hand begin, which only moves on as the pieces are taken in ascending id order.
class ReachCells {
  public:
    struct List {
        const std::vector<std::uint32_t>* ids = nullptr; // null for a cell that lists nothing
        std::size_t older = 0;                           // ids before this are older than the first new piece
        std::size_t newer = 0;                           // ids from this on are above the piece in hand
    };
    std::vector<List> lists; // of the cells of the last reach that list pieces
    std::size_t listed = 0;

    ReachCells(const Physics& physics, std::uint32_t first) : physics_(physics), first_(first) {}

    void find(const grid::CellRange& range, std::uint32_t id) {
        lists.clear();
        listed = 0;
        for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
            for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
                for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z) {
                    const List list = cell(Physics::gridKey(x, y, z), id);
                    if (list.ids) {
                        lists.push_back(list);
                        listed += list.ids->size();
                    }
                }
    }

  private:
    struct Slot {
        std::uint64_t key = 0;
        bool used = false;
        List list;
    };
    static constexpr std::size_t slotCount = 1024;

    List cell(std::uint64_t key, std::uint32_t id) {
        Slot& slot = slots_[(key ^ (key >> 32)) & (slotCount - 1)];
        if (!slot.used || slot.key != key) {
            slot.key = key;
            slot.used = true;
            slot.list = {};
            const auto found = physics_.cells.find(key);
            if (found != physics_.cells.end()) {
                const std::vector<std::uint32_t>& ids = found->second;
                const std::size_t older =
                    ids.empty() || first_ <= ids.front() ? 0 : countAtMost(ids, 0, first_ - 1);
                slot.list = {&ids, older, countAtMost(ids, older, id)};
            }
        }
        List& list = slot.list;
        if (list.ids)
            while (list.newer < list.ids->size() && (*list.ids)[list.newer] <= id)
                ++list.newer;
        return list;
    }

    const Physics& physics_;
    std::uint32_t first_;
    std::array<Slot, slotCount> slots_{};
};

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

// The fine grid over the alive pieces. Each level is sized first for the listings and pieces it
// will take, so that its tables are written once instead of copied over and over as they grow.
void buildBondingGrid(Physics& physics) {
    TopologyScratch& scratch = physics.topologyScratch;
    const std::vector<MatterPiece>& pieces = physics.pieces;
    FineLevels& grid = scratch.bondingGrid;
    grid.clear();
    std::array<std::size_t, fine::levelCount + 1> listings{};
    std::array<std::size_t, fine::levelCount + 1> boxes{};
    for (std::size_t index = 0; index < pieces.size(); ++index) {
        if (!pieces[index].alive)
            continue;
        fine::Range range;
        const std::size_t level = fine::levelOf(scratch.bounds[index], range);
        ++boxes[level];
        listings[level] += level < fine::levelCount ? static_cast<std::size_t>(range.cells) : 1;
    }
    for (std::size_t level = 0; level < fine::levelCount; ++level)
        grid.presize(level, listings[level], boxes[level]);
    grid.big.reserve(listings[fine::levelCount]);
    for (std::size_t index = 0; index < pieces.size(); ++index)
        if (pieces[index].alive)
            grid.enter(scratch.bounds[index], static_cast<std::uint32_t>(index + 1));
    scratch.bondingGridBuilt = true;
}

std::uint64_t touchingCandidates(Physics& physics, ReachCells& cells, std::uint32_t id, std::uint32_t first,
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
    cells.find(grid::cellRange(reach, 0.0), id);
    if (cells.listed <= denseCells) {
        for (const ReachCells::List& list : cells.lists) {
            const std::vector<std::uint32_t>& ids = *list.ids;
            for (std::size_t at = 0; at < list.older; ++at)
                consider(ids[at]);
            for (std::size_t at = list.newer; at < ids.size(); ++at)
                consider(ids[at]);
        }
        if (cells.lists.size() > 1) {
            std::sort(out.begin(), out.end());
            out.erase(std::unique(out.begin(), out.end()), out.end());
        }
        return steps;
    }
    if (!scratch.bondingGridBuilt)
        buildBondingGrid(physics);
    if (++scratch.lastVisit == 0) {
        std::fill(scratch.visitStamp.begin(), scratch.visitStamp.end(), 0u);
        scratch.lastVisit = 1;
    }
    const std::uint32_t mark = scratch.lastVisit;
    // Every visit is a step. The cheap tests go first; a piece is marked once it is taken, so that
    // its further listings are passed over.
    scratch.bondingGrid.search(reach, [&](std::uint32_t other) {
        ++steps;
        if ((other >= first && other <= id) || !grid::overlaps(bounds[other - 1], reach))
            return;
        std::uint32_t& seen = scratch.visitStamp[other - 1];
        if (seen == mark || physics.gridEntries[other - 1].cells.empty())
            return;
        seen = mark;
        out.push_back(other);
    });
    std::sort(out.begin(), out.end());
    return steps;
}

// Appends the bond of two distinct pieces of the store when their faces meet, on their bounds.
bool appendBond(Physics& physics, std::uint32_t a, const Box& boundsA, std::uint32_t b, const Box& boundsB) {
    Bond bond;
    if (!faceContact(physics.pieces[a - 1], boundsA, physics.pieces[b - 1], boundsB, bond))
        return false;
    bond.a = a;
    bond.b = b;
    bond.stress = 0.0;
    bond.intact = true;
    physics.bonds.push_back(bond);
    return true;
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
    std::uint64_t toBond = 0; // pieces
    for (std::size_t index = 0; index < pieces.size(); ++index)
        if (pieces[index].alive) {
            bounds[index] = pieces[index].body.bounds();
            toBond += index + 1 >= first ? 1 : 0;
        }
    const std::uint64_t bondsBefore = physics.bonds.size();
    std::uint64_t steps = 0;
    std::uint64_t bonded = 0; // pieces
    ReachCells cells(physics, first);
    std::vector<std::uint32_t>& candidates = scratch.candidates;
    for (std::size_t index = first - 1; index < pieces.size(); ++index) {
        if (!pieces[index].alive)
            continue;
        const auto id = static_cast<std::uint32_t>(index + 1);
        const std::uint64_t shares = std::min(++bonded + budget.leeway, toBond);
        steps += touchingCandidates(physics, cells, id, first, candidates);
        if (steps > BondingBudget::allowance(budget.searchStepsPerPiece, shares))
            return false;
        // Checked bond by bond: one piece among a pile of coincident ones would bond to all the others.
        const std::uint64_t mostBonds = BondingBudget::allowance(budget.bondsPerPiece, shares);
        for (const std::uint32_t other : candidates) {
            if (physics.bonds.size() >= Physics::maxBonds)
                break;
            // A pair that broke stays apart, as it does for the contacts' bonds.
            if (!physics.brokenPairs.empty() && physics.brokenPairs.contains(pairKey(id, other)))
                continue;
            if (appendBond(physics, id, bounds[index], other, bounds[other - 1]) &&
                physics.bonds.size() - bondsBefore > mostBonds)
                return false;
        }
    }
    return true;
}

// What the bonding kept for a world that bonds once, when it is loaded: the bounds of its pieces and
// the fine grid over them (some 20 MB for a large map), which the world need not carry for its life.
// A later bonding makes them again.
void releaseBonding(TopologyScratch& scratch) {
    std::vector<Box>().swap(scratch.bounds);
    scratch.bondingGrid = FineLevels{};
    scratch.bondingGridBuilt = false;
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
    return appendBond(*this, a, pieces[a - 1].body.bounds(), b, pieces[b - 1].body.bounds());
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
    // Real matter has about three bonds a piece, and gains more as play breaks it.
    makeRoom(bonds, std::min<std::uint64_t>(BondingBudget::allowance(budget.bondsPerPiece, pieces.size()),
                                            3 * pieces.size()));
    topologyDirty = true;
    const bool bonded = bondNewPieces(*this, 1, budget);
    if (bonded)
        refreshTopology();
    releaseBonding(topologyScratch);
    return bonded;
}

} // namespace zarn
