#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "physics/FineGrid.hpp"
#include "physics/Math.hpp"
#include "physics/Records.hpp"

namespace zarn::grid {
struct CellRange {
    std::int64_t lo[3];
    std::int64_t hi[3];
};
} // namespace zarn::grid

namespace zarn {

// The allocator of arrays kept per piece whose values a step reads only where it wrote them in the
// same step: an array that grows leaves its new values of a plain type unset instead of filling
// them, so that its fresh memory is only taken up where the step reaches it. The first step that
// moves matter in a world of settled matter reaches few of its pieces.
template <class T> struct UnsetAllocator {
    using value_type = T;
    UnsetAllocator() = default;
    template <class U> UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* values, std::size_t n) noexcept { std::allocator<T>{}.deallocate(values, n); }
    template <class U> void construct(U* value) { ::new (static_cast<void*>(value)) U; }
    template <class U, class... Args> void construct(U* value, Args&&... args) {
        ::new (static_cast<void*>(value)) U(std::forward<Args>(args)...);
    }
    template <class U> bool operator==(const UnsetAllocator<U>&) const noexcept { return true; }
};
template <class T> using UnsetArray = std::vector<T, UnsetAllocator<T>>;

// What the contact solver gathers about one assembly during a step.
struct AssemblyContactState {
    Vec3 normalSum;                 // contact normals, pass 0 only
    double slideWork = 0.0;         // friction work, pass 0 only
    double massRatio = 0.0;         // of the heaviest hard hit
    Vec3 footMin{1e30, 1e30, 1e30}; // resting footprint in (t1, up, t2) coordinates
    Vec3 footMax{-1e30, -1e30, -1e30};
    bool touched = false;
    bool hard = false;
};

// A contact that hit hard enough to fracture, handed to the impact code after the solver.
struct PendingImpact {
    std::uint32_t id = 0;
    Impact hit;
};

// A split candidate of an impact: a piece, its mass and (in the work list) the candidate it came from.
struct SplitEntry {
    std::uint32_t id = 0;
    std::uint32_t root = 0;
    double mass = 0.0;
};

// A piece reached by a blast with its share of the energy.
struct BlastEntry {
    std::uint32_t id = 0;
    double weight = 0.0;
};

// A piece near the new pieces of an impact, with its bounds.
struct NearPiece {
    std::uint32_t id = 0;
    Box bounds;
};

// An assembly that moved a piece further than it is thick in this step, as it was before the step;
// its members' bodies follow one another in StepScratch::fastBodies from firstBody on.
struct FastMove {
    std::int32_t assembly = -1;
    Vec3 center;
    SymmetricMatrix inertia;
    std::size_t firstBody = 0;
};

// A piece weighted by an impact's push.
struct WeightEntry {
    std::uint32_t id = 0;
    double mass = 0.0;
    double weight = 0.0;
    double distance = 0.0; // from the hit point to the piece's box
};

// What the solver knows about the ids listed in the 32 m cells of one query range during a step
// (the coarse grid does not change while the solver runs).
struct RangeInfo {
    grid::CellRange cells{};
    std::vector<std::uint64_t> keys;    // keys of the range's cells, sorted
    std::vector<std::uint32_t> ids;     // ids listed in the range, ascending, each once
    std::vector<std::uint32_t> awake;   // those of awake assemblies, ascending
    std::uint64_t awakeVersion = ~0ull; // wakes of the step the list has taken in; ~0 not made yet
    std::uint32_t sameHash = 0;         // index + 1 of an earlier range with the same hash, 0 none
};

// What a search of the fine grid tests a piece by: its bounds (rounded outward to floats) and its
// assembly's corrections (rounded down) when it last entered the grid.
struct FinePiece {
    float lo[3];
    float hi[3];
    float shift;
    std::int32_t assembly;
};

// The slots of the re-entry stamps of the cells a search looked in; a count of 0xFF when there
// were too many to keep.
struct MoveSlots {
    std::array<std::uint32_t, 8> slots{};
    std::uint8_t count = 0;
};

// The last search of the fine grid for one moving piece during a step: the ids it found are
// StepScratch::searchIds[begin .. end).
struct NearSearch {
    std::uint32_t stamp = 0;  // step it was made in
    std::uint32_t range = 0;  // range whose listed ids it holds
    std::uint32_t moves = 0;  // re-entries before it, or before the last look that found none near it
    std::uint64_t shifts = 0; // corrections before it, or before the last look that found it holding
    bool every = false;       // it holds every id of the range
    std::size_t begin = 0;
    std::size_t end = 0;
    double ownShift = 0.0; // corrections of the piece's assembly when it was made
    Box reach;             // where it looked
    MoveSlots moveSlots;   // of the 4 m cells it looked in
    MoveSlots blockSlots;  // of the 16 m blocks it looked in
};

// What the solver keeps about one moving piece during a step: its range, its assembly's members
// there and its last search of the fine grid. Only the moving pieces have one, made when the solver
// first visits them in the step: a search is large, and a table of one per piece would be most of
// the step's storage in a world of settled matter.
struct PieceVisit {
    std::uint32_t range = 0; // its range this step
    std::uint32_t own = 0;   // its assembly's members in the range (an index in membersInRange)
    bool ranged = false;     // range and own are made
    NearSearch search;
};

// Where a piece's visit of a step is: its index, while the stamp is the step's.
struct VisitSlot {
    std::uint32_t stamp = 0;
    std::uint32_t index = 0;
};

// A table from 64-bit keys to indices, made afresh for every step: open addressing over slots that
// a new stamp empties all at once. Lookups only: nothing iterates it.
struct StepIndex {
    std::vector<std::uint64_t> keys;
    std::vector<std::uint32_t> values;
    std::vector<std::uint32_t> stamps; // a slot is in use when it holds the current stamp
    std::uint32_t stamp = 1;
    std::size_t used = 0;

    void clear() {
        used = 0;
        if (++stamp == 0) {
            std::fill(stamps.begin(), stamps.end(), 0u);
            stamp = 1;
        }
    }
    // The value of key, or nullptr.
    const std::uint32_t* find(std::uint64_t key) const {
        if (used == 0)
            return nullptr;
        const std::size_t slot = slotOf(key);
        return stamps[slot] == stamp ? &values[slot] : nullptr;
    }
    void set(std::uint64_t key, std::uint32_t value) {
        if ((used + 1) * 2 > stamps.size())
            grow();
        const std::size_t slot = slotOf(key);
        if (stamps[slot] != stamp) {
            stamps[slot] = stamp;
            keys[slot] = key;
            ++used;
        }
        values[slot] = value;
    }

    // Room for n keys, so that a step that sets that many does not grow the table.
    void reserve(std::size_t n) {
        std::size_t size = std::max<std::size_t>(1024, stamps.size());
        while (size < 2 * (n + 1))
            size *= 2;
        if (size > stamps.size())
            grow(size);
    }

  private:
    std::size_t slotOf(std::uint64_t key) const {
        const std::size_t mask = stamps.size() - 1;
        std::size_t slot = fine::slotHash(key) & mask;
        while (stamps[slot] == stamp && keys[slot] != key)
            slot = (slot + 1) & mask;
        return slot;
    }
    void grow() { grow(std::max<std::size_t>(1024, stamps.size() * 2)); }
    void grow(std::size_t size) {
        const std::vector<std::uint64_t> oldKeys = std::move(keys);
        const std::vector<std::uint32_t> oldValues = std::move(values);
        const std::vector<std::uint32_t> oldStamps = std::move(stamps);
        keys.assign(size, 0);
        values.assign(size, 0);
        stamps.assign(size, 0);
        const std::uint32_t current = stamp;
        stamp = 1;
        used = 0;
        for (std::size_t slot = 0; slot < oldStamps.size(); ++slot)
            if (oldStamps[slot] == current)
                set(oldKeys[slot], oldValues[slot]);
    }
};

// Working storage of stepping and impacts, kept between calls so that a step allocates nothing
// once the world has reached its size. Holds no state that outlives one call: what it keeps from
// step to step is stamped with numbers that only grow, so that an old entry never passes for one
// of the step under way, and the distances of the impact walk are all back at infinity.
struct StepScratch {
    StepScratch() = default;
    // A copy of a world starts with empty buffers: those of a world that has stepped hold tens of
    // megabytes, a third of what copying the whole world costs, and a copy that steps makes them
    // again in its first step. Only the choice of walks comes with the source.
    StepScratch(const StepScratch& other) : plainWalks(other.plainWalks) {}
    StepScratch(StepScratch&&) noexcept = default;
    // A world copied over another keeps its own buffers and their capacity: the numbers they are
    // stamped with go on growing, so nothing cached about the old world counts in the next step,
    // and that step does no more work than any other (no table cleared, nothing allocated).
    StepScratch& operator=(const StepScratch& other) {
        plainWalks = other.plainWalks;
        return *this;
    }
    // A world moved in brings its own buffers, which agree with its own numbering; assigning an
    // empty scratch lets the buffers go.
    StepScratch& operator=(StepScratch&&) noexcept = default;

    // Stepping.
    std::vector<std::uint32_t> candidates;
    std::vector<std::uint32_t> order;
    std::vector<AssemblyContactState> contact;
    std::vector<Polyhedron> savedBodies; // members of the assembly being moved, as they were
    // The sweeps of fast pieces (see FastSweeps.hpp): the assemblies noted this step, and a grid of
    // the matter in the 32 m cells their paths cross, entered as the paths need it.
    std::vector<FastMove> fastMoves;
    std::vector<Polyhedron> fastBodies;
    FineLevels sweepGrid;
    std::vector<std::uint64_t> sweepCells;   // keys of the 32 m cells entered this step
    std::vector<std::uint32_t> sweepEntered; // per piece index: step in which it entered
    std::vector<std::uint32_t> sweepSeen;    // per piece index: last search that met it
    std::uint32_t sweepStep = 0;
    std::uint32_t sweepSearch = 0;
    std::vector<std::uint64_t> cellKeys;
    std::vector<std::uint32_t> bondPairs; // i, j, i, j, ...
    std::vector<PendingImpact> pendingImpacts;
    std::vector<std::int32_t> woken; // assemblies a contact woke while the solver visits one piece

    // Tests set plainWalks to run the plain walks that the fast paths stand in for: the solver over
    // every id the 32 m grid lists (see Step.cpp), impacts over every bond (see Impact.cpp), and
    // every refresh and grid update over the whole world instead of what changed (see ChangeNotes).
    // Both ways must give the same world bit for bit.
    bool plainWalks = false;
    // The fine grid over the pieces near moving matter, rebuilt every step.
    FineLevels fine;
    UnsetArray<FinePiece> finePieces; // per piece index, as it last entered
    // The 32 m cells a piece of the fine grid is listed in: the key of its one cell, or (0 and) the
    // index + 1 of its range of cells in listings.
    UnsetArray<std::uint64_t> listedCell;  // per piece index
    UnsetArray<std::uint32_t> listedRange; // per piece index
    std::vector<grid::CellRange> listings;
    std::vector<std::uint32_t> pieceStamp; // per piece index: step in which it entered the fine grid
    std::vector<std::uint32_t> seen;       // per piece index: last search that found it
    std::uint32_t gatherStamp = 0;
    std::vector<std::uint32_t> merged;
    std::uint32_t stamp = 0;
    // The 32 m cells looked at this step (their pieces are in the fine grid): key -> index in cellLists.
    StepIndex cellIndex;
    std::vector<const std::vector<std::uint32_t>*> cellLists; // nullptr for an empty cell
    std::vector<std::uint64_t> enteringMembers; // (assembly << 32) | id of moving pieces of a cell
    std::vector<RangeInfo> ranges;              // the first rangeCount are this step's
    std::size_t rangeCount = 0;
    StepIndex rangeIndex;              // hash of a range -> its last index
    std::vector<VisitSlot> visitSlots; // per piece index
    std::vector<PieceVisit> visits;    // the first visitCount are this step's
    std::size_t visitCount = 0;
    // Members of one assembly listed in one range, ascending; keyed (range index << 32) | assembly.
    std::vector<std::vector<std::uint32_t>> membersInRange;
    std::size_t membersInRangeCount = 0;
    StepIndex membersInRangeIndex;
    std::vector<std::uint32_t> searchIds;   // the ids of this step's searches
    std::uint32_t moves = 0;                // re-entries so far, numbered on from step to step
    std::uint64_t shifts = 0;               // corrections this step
    std::uint32_t movedEverywhere = 0;      // last re-entry too large to stamp
    std::vector<std::uint32_t> moveStamps;  // per hashed 4 m cell: the last re-entry that reached it
    std::vector<std::uint32_t> blockStamps; // the same per hashed block of 4 x 4 x 4 cells
    Box enteredBounds;                      // bounds of the last entry made
    std::vector<std::int32_t> wokenLog;     // assemblies woken during this step's solver, in order
    std::vector<double> shifted;            // per assembly, distance moved by position corrections this step
    std::vector<double> reenteredAt;        // per assembly, its shifted when its members last entered
    std::vector<std::uint8_t> awakeMark;    // per piece index: member of an awake assembly

    // Impacts (an impact may run inside a step or a blast, so it keeps its own lists).
    std::vector<std::uint32_t> region;
    std::vector<double> regionDistance; // per piece index, +inf outside the walk
    std::vector<SplitEntry> splitCandidates;
    std::vector<std::int64_t> splitCounts;
    std::vector<SplitEntry> work;
    std::vector<std::uint32_t> newPieces;
    std::vector<std::uint32_t> queried;
    std::vector<NearPiece> nearPieces;
    std::vector<std::uint8_t> touchedMark;  // per piece index: region or new piece of this impact
    std::vector<std::uint32_t> splitPieces; // pieces this impact split (dead now)
    std::vector<WeightEntry> weights;
    std::vector<std::int32_t> struckAssemblies; // the assemblies the hit point lies on

    // Blasts.
    std::vector<BlastEntry> blastTargets;
};

} // namespace zarn
