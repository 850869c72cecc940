#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// A hash grid in levels of growing cells, each four times the last, over boxes of pieces: the
// contact solver's search for the pieces a moving piece may touch, and the bonding of new pieces.
// A box goes into the first level where it spans few cells, so that slabs, walls and ground tiles
// are found through a few coarse cells instead of through every fine one. The cells are set off
// from round coordinates by a share of a cell, so that tiles and slabs laid out on round numbers do
// not reach into the next cells by a margin. A search visits every id entered in a cell its box
// meets, some more than once, and some that the box misses: callers make the exact test.
struct FineGrid {
    // One listing of a piece in one cell.
    struct Entry {
        std::uint32_t id = 0;
        std::uint32_t next = 0;  // next entry of the cell + 1; 0 ends the chain
        std::uint32_t skip = 0;  // the first entry of the chain after this one of another group + 1
        std::int32_t group = -1; // what the caller entered with the box
        // The low bits of the piece's first cell on each axis: a box spans at most a few cells, so
        // they tell whether a listing lies on the first cell of its box along an axis.
        std::array<std::uint16_t, 3> low{};
        bool first = false; // the listing in the piece's first cell
    };
    std::vector<std::uint64_t> slotKey;
    std::vector<std::uint32_t> slotHead; // first entry + 1; 0 marks an empty slot
    std::size_t usedSlots = 0;
    std::vector<Entry> entries;
    std::vector<std::uint64_t> occupied;      // a bit per hashed cell key: set when the cell may hold entries
    std::vector<std::uint64_t> blockOccupied; // the same per block of 4 x 4 x 4 cells
};

namespace fine {

inline constexpr std::size_t levelCount = 4;
inline constexpr std::array<double, levelCount> cellSizes{2.0, 8.0, 32.0, 128.0};
// Cell sizes are powers of two, so these multiply exactly as the sizes divide.
inline constexpr std::array<double, levelCount> cellsPerMetre{0.5, 0.125, 0.03125, 0.0078125};
inline constexpr double maxCellsPerBox = 8.0;        // on the finest level
inline constexpr double maxCoarseCellsPerBox = 12.0; // on the others
inline constexpr double cellOffset = 0.3;            // in cells

// The floor of a coordinate in cells, clamped to +-1e15 (0 for not-a-number). The floor is taken by
// truncation, which is exact below that bound and much cheaper than the library's.
inline std::int64_t floorCell(double scaled) {
    constexpr double limit = 1e15;
    if (!(scaled > -limit))
        return scaled != scaled ? 0 : static_cast<std::int64_t>(-limit);
    if (!(scaled < limit))
        return static_cast<std::int64_t>(limit);
    const auto cell = static_cast<std::int64_t>(scaled);
    return static_cast<double>(cell) > scaled ? cell - 1 : cell;
}

// The cell of a coordinate on a level.
inline std::int64_t cellIndex(double coordinate, std::size_t level) {
    return floorCell(coordinate * cellsPerMetre[level] + cellOffset);
}

struct Range {
    std::int64_t lo[3];
    std::int64_t hi[3];
    double cells;
};

inline Range rangeOf(const Box& box, std::size_t level) {
    Range range{};
    range.cells = 1.0;
    for (int k = 0; k < 3; ++k) {
        range.lo[k] = cellIndex(box.min[k], level);
        range.hi[k] = cellIndex(box.max[k], level);
        range.cells *= static_cast<double>(range.hi[k] - range.lo[k]) + 1.0;
    }
    return range;
}

// The level a box is listed on, the first where it spans few cells, with its range there;
// levelCount for a box too large for every level.
inline std::size_t levelOf(const Box& box, Range& range) {
    for (std::size_t level = 0; level < levelCount; ++level) {
        range = rangeOf(box, level);
        if (range.cells <= (level == 0 ? maxCellsPerBox : maxCoarseCellsPerBox))
            return level;
    }
    return levelCount;
}

// A cell's key: its coordinates times three odd constants, summed modulo 2^64, so that a walk along
// z steps the key by one addition. Cells that share a key share a chain.
inline constexpr std::uint64_t keyX = 0x9E3779B97F4A7C15ull;
inline constexpr std::uint64_t keyY = 0xC2B2AE3D27D4EB4Full;
inline constexpr std::uint64_t keyZ = 0x165667B19E3779F9ull;

inline std::uint64_t key(std::int64_t x, std::int64_t y, std::int64_t z) {
    return static_cast<std::uint64_t>(x) * keyX + static_cast<std::uint64_t>(y) * keyY +
           static_cast<std::uint64_t>(z) * keyZ;
}

inline std::uint64_t slotHash(std::uint64_t key) {
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdull;
    key ^= key >> 33;
    return key;
}

// Most cells a search walks are empty. A bit per hashed cell key says which cells may hold pieces,
// and a bit per hashed block of 4 x 4 x 4 cells which blocks may, so that a search skips empty
// blocks whole and looks at an empty cell in a small table.
inline constexpr std::size_t occupancyWords = 1024;
inline constexpr int occupancyShift = 48; // the top 16 bits of the slot hash pick the bit
inline constexpr int blockShift = 2;      // cells per block edge: 1 << blockShift

inline bool testBit(const std::vector<std::uint64_t>& bits, std::uint64_t hash) {
    const std::uint64_t bit = hash >> occupancyShift;
    return (bits[bit >> 6] >> (bit & 63)) & 1u;
}

// The slot that holds key, or the empty slot where it would go.
inline std::size_t slotOf(const FineGrid& grid, std::uint64_t key, std::uint64_t hash) {
    const std::size_t mask = grid.slotHead.size() - 1;
    std::size_t slot = hash & mask;
    while (grid.slotHead[slot] != 0 && grid.slotKey[slot] != key)
        slot = (slot + 1) & mask;
    return slot;
}

// Whether a listing in cell (x, y, z) of the range lies in the first cell that the range shares with
// its box: there alone does a search that wants each box once take it.
inline bool firstShared(const FineGrid::Entry& entry, const Range& range, std::int64_t x, std::int64_t y,
                        std::int64_t z) {
    return (x == range.lo[0] || static_cast<std::uint16_t>(x) == entry.low[0]) &&
           (y == range.lo[1] || static_cast<std::uint16_t>(y) == entry.low[1]) &&
           (z == range.lo[2] || static_cast<std::uint16_t>(z) == entry.low[2]);
}

// A group no entry has: a walk that skips it skips nothing.
inline constexpr std::int32_t noGroup = INT32_MIN;

// Calls visit(entry, x, y, z) for every listing of every cell of the range, except those of group
// skipped, whose runs along a chain are stepped over whole.
template <class Visit>
void visitRange(const FineGrid& grid, const Range& range, std::int32_t skipped, Visit&& visit) {
    std::int64_t block[2][3];
    for (int k = 0; k < 3; ++k) {
        block[0][k] = range.lo[k] >> blockShift;
        block[1][k] = range.hi[k] >> blockShift;
    }
    constexpr std::int64_t edge = std::int64_t{1} << blockShift;
    for (std::int64_t bx = block[0][0]; bx <= block[1][0]; ++bx)
        for (std::int64_t by = block[0][1]; by <= block[1][1]; ++by)
            for (std::int64_t bz = block[0][2]; bz <= block[1][2]; ++bz) {
                if (!testBit(grid.blockOccupied, slotHash(key(bx, by, bz))))
                    continue;
                const std::int64_t z0 = std::max(range.lo[2], bz * edge);
                const std::int64_t z1 = std::min(range.hi[2], bz * edge + edge - 1);
                for (std::int64_t x = std::max(range.lo[0], bx * edge);
                     x <= std::min(range.hi[0], bx * edge + edge - 1); ++x)
                    for (std::int64_t y = std::max(range.lo[1], by * edge);
                         y <= std::min(range.hi[1], by * edge + edge - 1); ++y) {
                        std::uint64_t cell = key(x, y, z0);
                        for (std::int64_t z = z0; z <= z1; ++z, cell += keyZ) {
                            const std::uint64_t hash = slotHash(cell);
                            if (!testBit(grid.occupied, hash))
                                continue;
                            const std::size_t slot = slotOf(grid, cell, hash);
                            for (std::uint32_t at = grid.slotHead[slot]; at != 0;) {
                                const FineGrid::Entry& entry = grid.entries[at - 1];
                                if (entry.group == skipped) {
                                    at = entry.skip;
                                    continue;
                                }
                                visit(entry, x, y, z);
                                at = entry.next;
                            }
                        }
                    }
            }
}

} // namespace fine

// The levels of the fine grid and the boxes too large for any of them.
struct FineLevels {
    std::array<FineGrid, fine::levelCount> levels;
    std::vector<FineGrid::Entry> big;

    void clear();
    // Room on a level of a grid just cleared for this many listings and for the cells of this many
    // boxes, so that a grid whose boxes are known before it is filled is not copied as it grows.
    void presize(std::size_t level, std::size_t listings, std::size_t boxes);
    void enter(const Box& bounds, std::uint32_t id, std::int32_t group = -1);
    // Calls visit(id) for every id whose box may meet reach (ids may repeat).
    template <class Visit> void search(const Box& reach, Visit&& visit) const {
        walk<false>(reach, fine::noGroup, [&](const FineGrid::Entry& entry) { visit(entry.id); });
    }
    // Calls visit(id, group) for every box that may meet reach, once for each time it was entered (a
    // box entered again may come twice, and a cell that shares its key with another may bring boxes
    // of that cell), and may leave out boxes of group skipped.
    template <class Visit> void searchEach(const Box& reach, std::int32_t skipped, Visit&& visit) const {
        walk<true>(reach, skipped, [&](const FineGrid::Entry& entry) { visit(entry.id, entry.group); });
    }

    // Calls visit(id, group) for every listing in the cells that reach meets (a box listed in
    // several of them comes as often), and may leave out boxes of group skipped.
    template <class Visit> void searchListings(const Box& reach, std::int32_t skipped, Visit&& visit) const {
        walk<false>(reach, skipped, [&](const FineGrid::Entry& entry) { visit(entry.id, entry.group); });
    }

  private:
    // Calls visit(entry) for the listings of the cells that reach meets: all of them, or with Once
    // only the first listing of each entry that the search meets.
    template <bool Once, class Visit> void walk(const Box& reach, std::int32_t skipped, Visit&& visit) const {
        for (std::size_t level = 0; level < fine::levelCount; ++level) {
            const FineGrid& grid = levels[level];
            if (grid.entries.empty())
                continue;
            const fine::Range range = fine::rangeOf(reach, level);
            // A level with fewer entries than the search has cells is cheaper to walk whole.
            if (range.cells > static_cast<double>(grid.entries.size())) {
                for (const FineGrid::Entry& entry : grid.entries)
                    if (!Once || entry.first)
                        visit(entry);
                continue;
            }
            fine::visitRange(
                grid, range, skipped,
                [&](const FineGrid::Entry& entry, std::int64_t x, std::int64_t y, std::int64_t z) {
                    if (!Once || fine::firstShared(entry, range, x, y, z))
                        visit(entry);
                });
        }
        for (const FineGrid::Entry& entry : big)
            visit(entry);
    }
};

} // namespace zarn
