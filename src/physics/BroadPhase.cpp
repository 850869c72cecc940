#include <algorithm>
#include <cmath>
#include <iterator>

#include "physics/BroadPhase.hpp"
#include "physics/GridCells.hpp"

// The contact solver's broad phase: which pieces a moving piece is tested against.
//
// Every moving piece is tested against every piece listed in the 32 m cells its bounds touch, and
// contactTestCount counts those tests. In a building such cells list thousands of pieces, nearly all
// far away, and no such test finds contact. So the solver counts them from the cell lists and runs
// only the tests that can find contact, looked up in a fine grid built each step over the 32 m
// cells the moving pieces reach. During the solver only position corrections move pieces, so a
// piece is never further from the bounds it entered with than the corrections of its assembly since
// then add up to. An assembly moved by more than fineDrift enters its members again where they now
// are, so every search reaches fineDrift and a slack beyond, and tests each piece against its own
// entry widened by its own drift, at least fineDrift.
//
// A search then holds for its piece, in this pass and the next ones, as long as the piece's own
// assembly has moved by less than the slack since and no piece was entered again where the search
// looked: every other piece is still within fineDrift of its newest entry. Re-entries stamp the
// cells of a coarse grid, so that a search tells whether one happened near it. The results,
// contactTestCount included, are those of the plain walk, which still runs when plainWalks is set.

namespace zarn::broad {

using grid::widened;

constexpr double maxFineCellsPerQuery = 512.0; // in cells of the finest level
constexpr double fineMargin = 0.002;           // rounding between a box test and the bounds of its boxes
constexpr double searchSlack = 0.1;            // searches hold while their piece moves less than this

// Rounds a bound outward to a float, so that a float box holds the double box: moved out by four
// float steps first, more than the conversion's rounding can take back.
float floatBelow(double value) {
    return static_cast<float>(value - (std::abs(value) * 2.5e-7 + 1e-30));
}

float floatAbove(double value) {
    return static_cast<float>(value + (std::abs(value) * 2.5e-7 + 1e-30));
}

// Enters a piece in the fine grid with its present bounds. Entries it had before stay where they
// were: a search that finds the piece through any of them tests it as it last entered.
void fineEnter(Physics& physics, std::uint32_t id, const Box& present) {
    StepScratch& scratch = physics.stepScratch;
    const MatterPiece& piece = physics.pieces[id - 1];
    const Box bounds = widened(present, fineMargin);
    scratch.enteredBounds = bounds;
    FinePiece& entered = scratch.finePieces[id - 1];
    for (int k = 0; k < 3; ++k) {
        entered.lo[k] = floatBelow(bounds.min[k]);
        entered.hi[k] = floatAbove(bounds.max[k]);
    }
    entered.assembly = piece.assembly;
    // Rounded down, so that the drift measured from it is never too small.
    entered.shift =
        piece.assembly >= 0 ? floatBelow(scratch.shifted[static_cast<std::size_t>(piece.assembly)]) : 0.0f;
    scratch.fine.enter(bounds, id, piece.assembly);
}

void fineEnter(Physics& physics, std::uint32_t id) {
    fineEnter(physics, id, physics.pieces[id - 1].body.bounds());
}

// Enters a piece of a 32 m cell in the fine grid once per step, with the cells it is listed in.
void fineInsertPiece(Physics& physics, std::uint32_t id) {
    StepScratch& scratch = physics.stepScratch;
    if (scratch.pieceStamp[id - 1] == scratch.stamp)
        return;
    scratch.pieceStamp[id - 1] = scratch.stamp;
    const Physics::GridEntry& listed = physics.gridEntries[id - 1];
    const MatterPiece& piece = physics.pieces[id - 1];
    const Box present = piece.body.bounds();
    // A key of 0 is as likely as any other: such a piece takes the long way.
    scratch.listedCell[id - 1] = listed.cells.size() == 1 ? listed.cells.front() : 0;
    scratch.listedRange[id - 1] = 0;
    if (listed.cells.size() > 1) {
        // Most pieces have not moved since they were listed.
        Polyhedron pose;
        pose.center = listed.center;
        pose.halfExtents = listed.halfExtents;
        pose.orientation = listed.orientation;
        grid::CellRange range;
        if (grid::listingRange(grid::entryCurrent(listed, piece) ? present : pose.bounds(), range)) {
            scratch.listings.push_back(range);
            scratch.listedRange[id - 1] = static_cast<std::uint32_t>(scratch.listings.size());
        }
    }
    fineEnter(physics, id, present);
}

// The coarse grid of re-entries: 4 m cells, hashed into a table of the last re-entry that reached each.
// Cells that share a slot of the table stamp each other, so it is large: a stamp that reaches a
// search by such a share only costs a search made again. A second table does the same for blocks of
// 4 x 4 x 4 cells: it is small enough to stay in the cache, and a search looks at the stamp of a
// cell only where its block was stamped since.
constexpr double moveCellsPerMetre = 0.25;
constexpr double maxMoveCells = 64.0;
constexpr int moveBlockShift = 2;  // cells per block edge: 1 << moveBlockShift
constexpr int moveSlotShift = 46;  // the top 18 bits of a cell's hash pick its slot
constexpr int blockSlotShift = 52; // the top 12 bits of a block's
constexpr std::size_t moveSlots = std::size_t{1} << (64 - moveSlotShift);
constexpr std::size_t blockSlots = std::size_t{1} << (64 - blockSlotShift);
// Re-entries are numbered on from step to step, so that the tables need no clearing: stamps of an
// earlier step are older than every search of this one. The numbers start over before they run out.
constexpr std::uint32_t lastMoveNumber = 0xF0000000u;

std::int64_t moveCell(double coordinate) {
    return fine::floorCell(coordinate * moveCellsPerMetre);
}

// The cells of a box, and whether they are few enough to stamp.
struct MoveRange {
    std::int64_t lo[3];
    std::int64_t hi[3];
    bool stampable;
};

MoveRange moveRange(const Box& box) {
    MoveRange range{};
    double cells = 1.0;
    for (int k = 0; k < 3; ++k) {
        range.lo[k] = moveCell(box.min[k]);
        range.hi[k] = moveCell(box.max[k]);
        cells *= static_cast<double>(range.hi[k] - range.lo[k]) + 1.0;
    }
    range.stampable = cells <= maxMoveCells;
    return range;
}

std::uint32_t cellSlot(std::int64_t x, std::int64_t y, std::int64_t z) {
    return static_cast<std::uint32_t>(fine::slotHash(fine::key(x, y, z)) >> moveSlotShift);
}

std::uint32_t blockSlotAt(std::int64_t x, std::int64_t y, std::int64_t z) {
    return static_cast<std::uint32_t>(fine::slotHash(fine::key(x, y, z)) >> blockSlotShift);
}

// The slot of the block of cell (x, y, z).
std::uint32_t blockSlot(std::int64_t x, std::int64_t y, std::int64_t z) {
    return blockSlotAt(x >> moveBlockShift, y >> moveBlockShift, z >> moveBlockShift);
}

// Calls visit(x, y, z) for every cell of a stampable range.
template <class Visit> void forEachMoveCell(const MoveRange& range, Visit&& visit) {
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                visit(x, y, z);
}

void reenterMembers(Physics& physics, std::int32_t index) {
    StepScratch& scratch = physics.stepScratch;
    const std::uint32_t move = ++scratch.moves;
    for (const std::uint32_t id : physics.assemblies[static_cast<std::size_t>(index)].members) {
        if (scratch.pieceStamp[id - 1] != scratch.stamp)
            continue;
        fineEnter(physics, id);
        // Searches near the new entry no longer hold; one too large to stamp ends them all.
        const MoveRange range = moveRange(scratch.enteredBounds);
        if (!range.stampable) {
            scratch.movedEverywhere = move;
            continue;
        }
        forEachMoveCell(range, [&](std::int64_t x, std::int64_t y, std::int64_t z) {
            scratch.moveStamps[cellSlot(x, y, z)] = move;
            scratch.blockStamps[blockSlot(x, y, z)] = move;
        });
    }
    scratch.reenteredAt[static_cast<std::size_t>(index)] = scratch.shifted[static_cast<std::size_t>(index)];
}

// The id list of a 32 m cell, nullptr for an empty cell. The first look at a cell in a step enters
// its pieces in the fine grid and keeps the list at hand (the 32 m grid does not change while the
// solver runs).
const std::vector<std::uint32_t>* cellList(Physics& physics, std::uint64_t key) {
    StepScratch& scratch = physics.stepScratch;
    if (const std::uint32_t* known = scratch.cellIndex.find(key))
        return scratch.cellLists[*known];
    const auto cell = physics.cells.find(key);
    const std::vector<std::uint32_t>* list = cell == physics.cells.end() ? nullptr : &cell->second;
    scratch.cellIndex.set(key, static_cast<std::uint32_t>(scratch.cellLists.size()));
    scratch.cellLists.push_back(list);
    if (list == nullptr)
        return list;
    // The pieces of each moving assembly enter one after another, so that they lie in runs along the
    // chains of the fine grid, which a search for one of them steps over whole.
    std::vector<std::uint64_t>& moving = scratch.enteringMembers;
    moving.clear();
    for (const std::uint32_t id : *list) {
        if (!scratch.awakeMark[id - 1])
            fineInsertPiece(physics, id);
        else if (scratch.pieceStamp[id - 1] != scratch.stamp)
            moving.push_back(
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(physics.pieces[id - 1].assembly))
                 << 32) |
                id);
    }
    std::sort(moving.begin(), moving.end());
    for (const std::uint64_t entry : moving)
        fineInsertPiece(physics, static_cast<std::uint32_t>(entry));
    return list;
}

std::uint64_t rangeHash(const grid::CellRange& range) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (int k = 0; k < 3; ++k) {
        h = fine::slotHash(h ^ static_cast<std::uint64_t>(range.lo[k]));
        h = fine::slotHash(h ^ static_cast<std::uint64_t>(range.hi[k]));
    }
    return h;
}

bool sameRange(const RangeInfo& info, const grid::CellRange& range) {
    for (int k = 0; k < 3; ++k)
        if (info.cells.lo[k] != range.lo[k] || info.cells.hi[k] != range.hi[k])
            return false;
    return true;
}

// The ids the 32 m cells of a range list (what a query of a box with that range answers), with their
// cells entered in the fine grid; made once per step and range.
std::uint32_t rangeFor(Physics& physics, const grid::CellRange& range) {
    StepScratch& scratch = physics.stepScratch;
    const std::uint64_t hash = rangeHash(range);
    const std::uint32_t* found = scratch.rangeIndex.find(hash);
    // Ranges that share a hash are chained through sameHash.
    std::uint32_t chained = found == nullptr ? 0 : *found + 1;
    for (std::uint32_t at = chained; at != 0; at = scratch.ranges[at - 1].sameHash)
        if (sameRange(scratch.ranges[at - 1], range))
            return at - 1;

    const auto index = static_cast<std::uint32_t>(scratch.rangeCount++);
    if (scratch.ranges.size() < scratch.rangeCount)
        scratch.ranges.emplace_back();
    RangeInfo& info = scratch.ranges[index];
    info.cells = range;
    info.sameHash = chained;
    scratch.rangeIndex.set(hash, index);
    info.keys.clear();
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                info.keys.push_back(Physics::gridKey(x, y, z));
    std::sort(info.keys.begin(), info.keys.end());
    info.keys.erase(std::unique(info.keys.begin(), info.keys.end()), info.keys.end());
    // Cell lists are ascending: merging them gives the ascending union.
    info.ids.clear();
    for (const std::uint64_t key : info.keys) {
        const std::vector<std::uint32_t>* cell = cellList(physics, key);
        if (cell == nullptr)
            continue;
        const std::vector<std::uint32_t>& list = *cell;
        if (info.ids.empty()) {
            info.ids.assign(list.begin(), list.end());
            continue;
        }
        mergeAscending(info.ids, list, scratch.merged);
    }
    info.awakeVersion = ~0ull;
    return index;
}

// Whether a query of the range lists the piece (the grid as it stood when the solver started).
bool listedIn(const Physics& physics, const RangeInfo& info, std::uint32_t id) {
    for (const std::uint64_t key : physics.gridEntries[id - 1].cells)
        if (std::binary_search(info.keys.begin(), info.keys.end(), key))
            return true;
    return false;
}

// The same for a piece of the fine grid. Cells that meet have the same key, so a range of cells
// that meets the query's lists the piece; one that does not is left to the keys.
bool isListedAcross(const Physics& physics, std::uint32_t id, const RangeInfo& info) {
    const StepScratch& scratch = physics.stepScratch;
    const std::uint32_t listing = scratch.listedRange[id - 1];
    if (listing != 0 && grid::rangesMeet(scratch.listings[listing - 1], info.cells))
        return true;
    return listedIn(physics, info, id);
}

inline bool isListed(const Physics& physics, std::uint32_t id, const RangeInfo& info) {
    const std::uint64_t cell = physics.stepScratch.listedCell[id - 1];
    if (cell == 0)
        return isListedAcross(physics, id, info);
    return info.keys.size() == 1 ? cell == info.keys.front()
                                 : std::binary_search(info.keys.begin(), info.keys.end(), cell);
}

// The members of an assembly that the range lists, ascending, by their index in
// StepScratch::membersInRange; made once per step, range and assembly.
std::uint32_t membersInRangeAt(Physics& physics, std::uint32_t range, std::int32_t assembly) {
    StepScratch& scratch = physics.stepScratch;
    const std::uint64_t key =
        (static_cast<std::uint64_t>(range) << 32) | static_cast<std::uint32_t>(assembly);
    if (const std::uint32_t* found = scratch.membersInRangeIndex.find(key))
        return *found;
    const auto index = static_cast<std::uint32_t>(scratch.membersInRangeCount++);
    if (scratch.membersInRange.size() < scratch.membersInRangeCount)
        scratch.membersInRange.emplace_back();
    std::vector<std::uint32_t>& members = scratch.membersInRange[index];
    members.clear();
    const RangeInfo& info = scratch.ranges[range];
    const std::vector<std::uint32_t>& all = physics.assemblies[static_cast<std::size_t>(assembly)].members;
    // The shorter way: the listed ids that belong to the assembly, or the members that are listed.
    // Every piece the range lists is in the fine grid, with its assembly at hand.
    if (info.ids.size() <= all.size()) {
        for (const std::uint32_t id : info.ids)
            if (scratch.finePieces[id - 1].assembly == assembly)
                members.push_back(id);
    } else {
        for (const std::uint32_t id : all)
            if (scratch.pieceStamp[id - 1] == scratch.stamp && isListed(physics, id, info))
                members.push_back(id);
        std::sort(members.begin(), members.end());
    }
    scratch.membersInRangeIndex.set(key, index);
    return index;
}

const std::vector<std::uint32_t>& membersInRange(Physics& physics, std::uint32_t range,
                                                 std::int32_t assembly) {
    const std::uint32_t at = membersInRangeAt(physics, range, assembly);
    return physics.stepScratch.membersInRange[at];
}

// The awake ids a range lists, brought up to date: made once per step and range, then merged with
// the listed members of each assembly woken since (assemblies only wake while the solver runs).
void refreshAwake(Physics& physics, std::uint32_t range) {
    StepScratch& scratch = physics.stepScratch;
    RangeInfo& info = scratch.ranges[range];
    if (info.awakeVersion == ~0ull) {
        info.awake.clear();
        for (const std::uint32_t id : info.ids)
            if (scratch.awakeMark[id - 1])
                info.awake.push_back(id);
        info.awakeVersion = scratch.wokenLog.size();
        return;
    }
    while (info.awakeVersion < scratch.wokenLog.size()) {
        const std::int32_t woken = scratch.wokenLog[info.awakeVersion++];
        const std::vector<std::uint32_t>& listed = membersInRange(physics, range, woken);
        if (listed.empty())
            continue;
        mergeAscending(info.awake, listed, scratch.merged);
    }
}

// Keeps the slots of a range's cells, when they are few; slotOf(x, y, z) gives a cell's.
template <class SlotOf> void keepSlots(const MoveRange& range, SlotOf&& slotOf, MoveSlots& kept) {
    std::size_t count = 0;
    forEachMoveCell(range, [&](std::int64_t x, std::int64_t y, std::int64_t z) {
        if (count < kept.slots.size())
            kept.slots[count] = slotOf(x, y, z);
        ++count;
    });
    kept.count = count <= kept.slots.size() ? static_cast<std::uint8_t>(count) : std::uint8_t{0xFF};
}

// Keeps the slots of the re-entry stamps that a search looks at, when they are few.
void noteMoveSlots(NearSearch& search) {
    const MoveRange range = moveRange(search.reach);
    search.moveSlots.count = 0xFF;
    search.blockSlots.count = 0xFF;
    if (!range.stampable)
        return;
    keepSlots(range, cellSlot, search.moveSlots);
    MoveRange blocks = range;
    for (int k = 0; k < 3; ++k) {
        blocks.lo[k] >>= moveBlockShift;
        blocks.hi[k] >>= moveBlockShift;
    }
    keepSlots(blocks, blockSlotAt, search.blockSlots);
}

// Whether no re-entry after `since` reached the cells of a search's reach: none of its blocks was
// stamped since, or none of its cells in the blocks that were.
bool calmSince(const StepScratch& scratch, const NearSearch& search, std::uint32_t since) {
    auto calmSlots = [since](const std::vector<std::uint32_t>& stamps, const MoveSlots& kept) {
        bool calm = true;
        for (std::size_t k = 0; k < kept.count; ++k)
            calm = calm && stamps[kept.slots[k]] <= since;
        return calm;
    };
    const MoveSlots& blocks = search.blockSlots;
    if (blocks.count <= blocks.slots.size() && calmSlots(scratch.blockStamps, blocks))
        return true;
    const MoveSlots& cells = search.moveSlots;
    if (cells.count <= cells.slots.size())
        return calmSlots(scratch.moveStamps, cells);
    const MoveRange range = moveRange(search.reach);
    if (!range.stampable)
        return false;
    bool calm = true;
    forEachMoveCell(range, [&](std::int64_t x, std::int64_t y, std::int64_t z) {
        calm = calm && (scratch.blockStamps[blockSlot(x, y, z)] <= since ||
                        scratch.moveStamps[cellSlot(x, y, z)] <= since);
    });
    return calm;
}

// The index of piece i's visit in this step, made afresh the first time it is asked for.
std::uint32_t visitOf(StepScratch& scratch, std::uint32_t i) {
    VisitSlot& slot = scratch.visitSlots[i - 1];
    if (slot.stamp != scratch.stamp) {
        slot.stamp = scratch.stamp;
        slot.index = static_cast<std::uint32_t>(scratch.visitCount++);
        if (scratch.visits.size() < scratch.visitCount)
            scratch.visits.emplace_back();
        else
            scratch.visits[slot.index] = PieceVisit{};
    }
    return slot.index;
}

// The last search of piece i, whose visit of this step is made.
NearSearch& searchOf(StepScratch& scratch, std::uint32_t i) {
    return scratch.visits[scratch.visitSlots[i - 1].index].search;
}

// The bounds of a box widened by a margin, on each axis in turn: low, then high.
struct ReachBounds {
    double lo[3];
    double hi[3];
};

ReachBounds reachBounds(const Box& box, double margin) {
    return {{box.min.x - margin, box.min.y - margin, box.min.z - margin},
            {box.max.x + margin, box.max.y + margin, box.max.z + margin}};
}

bool reaches(const FinePiece& piece, const ReachBounds& reach) {
    return piece.lo[0] <= reach.hi[0] && reach.lo[0] <= piece.hi[0] && piece.lo[1] <= reach.hi[1] &&
           reach.lo[1] <= piece.hi[1] && piece.lo[2] <= reach.hi[2] && reach.lo[2] <= piece.hi[2];
}

// A new search for piece i of assembly a, whose bounds widened by 0.02 are box: the ids that the
// range lists and that may touch the piece while its assembly moves by less than the slack, ascending;
// or every id of the range when the search is too big for the fine grid.
void searchNear(Physics& physics, std::uint32_t i, std::int32_t a, const Box& box, std::uint32_t range) {
    StepScratch& scratch = physics.stepScratch;
    const RangeInfo& info = scratch.ranges[range];
    NearSearch& search = searchOf(scratch, i);
    search.stamp = scratch.stamp;
    search.range = range;
    search.moves = scratch.moves;
    search.shifts = scratch.shifts;
    search.ownShift = scratch.shifted[static_cast<std::size_t>(a)];
    search.reach = widened(box, fineDrift + searchSlack + fineMargin);
    std::vector<std::uint32_t>& out = scratch.searchIds;
    search.begin = out.size();
    search.every = fine::rangeOf(search.reach, 0).cells > maxFineCellsPerQuery;
    if (search.every) {
        out.insert(out.end(), info.ids.begin(), info.ids.end());
        search.end = out.size();
        return;
    }
    noteMoveSlots(search);
    if (++scratch.gatherStamp == 0) {
        std::fill(scratch.seen.begin(), scratch.seen.end(), 0u);
        scratch.gatherStamp = 1;
    }
    const double base = searchSlack + fineMargin;
    // Most pieces drifted no further than fineDrift since they entered (still matter not at all):
    // their margin, and so the bounds they are tested against, are the same for the whole search.
    const ReachBounds near = reachBounds(box, base + fineDrift);
    auto consider = [&](std::uint32_t id, std::int32_t assembly) {
        // The walk never tests i's own assembly.
        if (assembly == a)
            return;
        // A piece is met through each of its listings, and tested by how it last entered: the first
        // meeting decides.
        std::uint32_t& seen = scratch.seen[id - 1];
        if (seen == scratch.gatherStamp)
            return;
        seen = scratch.gatherStamp;
        const FinePiece& piece = scratch.finePieces[id - 1];
        if (!reaches(piece, near)) {
            // Bounds widened by more than fineDrift hold those widened by fineDrift.
            const double drift = piece.assembly >= 0
                                     ? scratch.shifted[static_cast<std::size_t>(piece.assembly)] - piece.shift
                                     : 0.0;
            if (!(fineDrift < drift && reaches(piece, reachBounds(box, base + drift))))
                return;
        }
        // Nor a moving piece of lower id, which tests i itself; moving pieces do not stop moving
        // while the solver runs.
        if (id < i && scratch.awakeMark[id - 1])
            return;
        if (isListed(physics, id, info))
            out.push_back(id);
    };
    scratch.fine.searchListings(search.reach, a, consider);
    search.end = out.size();
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(search.begin), out.end());
}

// Whether the last search for piece i of assembly a still holds for a visit with this range.
bool searchHolds(Physics& physics, std::uint32_t i, std::int32_t a, std::uint32_t range) {
    StepScratch& scratch = physics.stepScratch;
    NearSearch& search = searchOf(scratch, i);
    if (search.stamp != scratch.stamp || search.range != range)
        return false;
    if (search.every || search.shifts == scratch.shifts)
        return true; // nothing was moved since it last held
    if (scratch.shifted[static_cast<std::size_t>(a)] - search.ownShift > searchSlack)
        return false;
    if (search.moves != scratch.moves) {
        if (scratch.movedEverywhere > search.moves)
            return false;
        const std::uint32_t since = search.moves;
        if (!calmSince(scratch, search, since))
            return false;
        search.moves = scratch.moves; // nothing near it was entered again in between
    }
    search.shifts = scratch.shifts;
    return true;
}

void beginBroadPhase(Physics& physics) {
    StepScratch& scratch = physics.stepScratch;
    scratch.awakeMark.assign(physics.pieces.size(), 0);
    for (const Assembly& assembly : physics.assemblies)
        if (!assembly.asleep)
            for (const std::uint32_t id : assembly.members)
                scratch.awakeMark[id - 1] = 1;
    scratch.wokenLog.clear();
    scratch.shifted.assign(physics.assemblies.size(), 0.0);
    scratch.reenteredAt.assign(physics.assemblies.size(), 0.0);
    if (scratch.plainWalks)
        return;
    scratch.fine.clear();
    scratch.listings.clear();
    scratch.searchIds.clear();
    if (scratch.moveStamps.size() != moveSlots || scratch.moves > lastMoveNumber) {
        scratch.moveStamps.assign(moveSlots, 0u);
        scratch.blockStamps.assign(blockSlots, 0u);
        scratch.moves = 0;
    }
    scratch.movedEverywhere = 0;
    scratch.shifts = 0;
    if (++scratch.stamp == 0) {
        std::fill(scratch.pieceStamp.begin(), scratch.pieceStamp.end(), 0u);
        for (VisitSlot& slot : scratch.visitSlots)
            slot.stamp = 0;
        scratch.stamp = 1;
    }
    // Play adds pieces a few at a time: room to grow into, so that the arrays kept per piece do not
    // all move again in the next steps.
    const std::size_t pieces = physics.pieces.size();
    auto room = [pieces](auto&... arrays) { (makeRoom(arrays, pieces), ...); };
    room(scratch.pieceStamp, scratch.seen, scratch.visitSlots, scratch.listedCell, scratch.finePieces,
         scratch.listedRange);
    scratch.pieceStamp.resize(pieces, 0);
    scratch.seen.resize(pieces, 0);
    scratch.visitSlots.resize(pieces);
    scratch.listedCell.resize(pieces);
    scratch.finePieces.resize(pieces);
    scratch.listedRange.resize(pieces);
    scratch.visitCount = 0;
    scratch.cellIndex.clear();
    scratch.cellLists.clear();
    scratch.rangeCount = 0;
    scratch.rangeIndex.clear();
    scratch.membersInRangeCount = 0;
    scratch.membersInRangeIndex.clear();
}

namespace {

// Room for n values in a working array and its whole capacity written once; its size and values
// stay as they were.
template <class T, class Allocator> void takeUp(std::vector<T, Allocator>& values, std::size_t n) {
    if (values.capacity() < n)
        values.reserve(n);
    const std::size_t size = values.size();
    values.resize(values.capacity(), T{});
    values.resize(size);
}

} // namespace

void prepareBroadPhase(Physics& physics) {
    StepScratch& scratch = physics.stepScratch;
    if (scratch.moveStamps.size() != moveSlots) {
        // As the first step would.
        scratch.moveStamps.assign(moveSlots, 0u);
        scratch.blockStamps.assign(blockSlots, 0u);
        scratch.moves = 0;
    }
    const std::size_t pieces = physics.pieces.size();
    // The arrays kept per piece, with the room the step gives them.
    auto perPiece = [pieces](auto&... arrays) { ((makeRoom(arrays, pieces), takeUp(arrays, 0)), ...); };
    perPiece(scratch.pieceStamp, scratch.seen, scratch.visitSlots, scratch.listedCell, scratch.finePieces,
             scratch.listedRange, scratch.awakeMark);
    // At most one visit, range and listing of the moving pieces per piece.
    takeUp(scratch.visits, pieces);
    takeUp(scratch.ranges, pieces);
    takeUp(scratch.membersInRange, pieces);
    takeUp(scratch.listings, pieces);
    // The searches find about ten pieces near each moving one.
    takeUp(scratch.searchIds, 16 * pieces);
    scratch.rangeIndex.reserve(pieces);
    scratch.membersInRangeIndex.reserve(pieces);
    scratch.cellIndex.reserve(physics.cells.size());
    takeUp(scratch.cellLists, physics.cells.size());
    // The fine grid with every piece in it, then emptied as every step begins by emptying it.
    scratch.fine.clear();
    for (std::uint32_t id = 1; id <= pieces; ++id) {
        const MatterPiece& piece = physics.pieces[id - 1];
        if (piece.alive)
            scratch.fine.enter(piece.body.bounds(), id, piece.assembly);
    }
    scratch.fine.clear();
}

// How many ids of an ascending list are below id: a binary search that selects instead of branching,
// since the lists are long and the branches unforeseeable.
std::size_t countBelow(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
    if (ids.empty())
        return 0;
    const std::uint32_t* base = ids.data();
    std::size_t n = ids.size();
    while (n > 1) {
        const std::size_t half = n / 2;
        base = base[half] < id ? base + half : base;
        n -= half;
    }
    return static_cast<std::size_t>(base - ids.data()) + (*base < id ? 1 : 0);
}

// The range of piece i of assembly a whose query box has these cells, with its members in the range;
// the piece's visit of this step is made here.
std::uint32_t pieceRange(Physics& physics, std::uint32_t i, std::int32_t a, const grid::CellRange& cells) {
    StepScratch& scratch = physics.stepScratch;
    PieceVisit& visit = scratch.visits[visitOf(scratch, i)];
    if (!visit.ranged || !sameRange(scratch.ranges[visit.range], cells)) {
        visit.range = rangeFor(physics, cells);
        visit.ranged = true;
        visit.own = membersInRangeAt(physics, visit.range, a);
    }
    return visit.range;
}

} // namespace zarn::broad
