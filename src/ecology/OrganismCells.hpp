#pragma once

#include <cstdint>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// Boxes of organisms (their bounds, or the spheres they may touch within) listed in the cells of a
// hash grid, so that the search for the organisms a box meets looks at the few listed around it
// instead of the whole list. Organisms live on the ground, so cells are 8 m across and 32 m high:
// most bodies lie in one to four of them, and a lying Slab in some twenty. Every cell lists its
// organisms by index, ascending. Boxes that span more than 16 cells on an axis, or that are not
// finite or lie beyond 8,000 km, are listed apart and looked at by every search, and a search box
// that spans more than 64 cells looks at every organism. The body step moves its organisms one at
// a time and enters each again where it ended.
class OrganismCells {
  public:
    static constexpr double cellWidth = 8.0;
    static constexpr double cellHeight = 32.0;
    static constexpr std::int64_t maxSpan = 16;   // cells on an axis
    static constexpr std::int64_t maxSearch = 64; // cells of a search box

    // Lists the organisms of these boxes, index for index, and forgets any listed before. Given
    // flags, only the organisms flagged are listed, and no search finds the others.
    void fill(const std::vector<Box>& boxes, const std::vector<std::uint8_t>* listed = nullptr);
    // The organism at index, listed, now has this box.
    void move(std::uint32_t index, const Box& box);
    // Into out, ascending: the index of every organism whose box overlaps or touches this one.
    void touching(const Box& box, std::vector<std::uint32_t>& out);

  private:
    struct Range {
        std::int64_t lo[3] = {0, 0, 0};
        std::int64_t hi[3] = {0, 0, 0};
        bool apart = false; // listed apart: too wide, not finite or too far
    };
    struct Slot {
        std::uint64_t key = 0;
        std::uint32_t list = 0; // index + 1 in lists_; 0 marks an empty slot
    };

    static Range rangeOf(const Box& box);
    static bool sameRange(const Range& a, const Range& b);
    // The list of a cell, nullptr when nothing was listed there since the last fill.
    const std::vector<std::uint32_t>* find(std::uint64_t key) const;
    std::vector<std::uint32_t>& listOf(std::uint64_t key);
    void grow();
    template <class Change> void forEachList(const Range& range, Change&& change);

    std::vector<Slot> slots_;                       // a power of two of them, at most half in use
    std::vector<std::uint32_t> usedAt_;             // the slots in use, emptied by the next fill
    std::vector<std::vector<std::uint32_t>> lists_; // the first usedAt_.size() are in use
    std::vector<std::uint32_t> apart_;              // ascending
    std::vector<Box> boxes_;                        // by index
    std::vector<std::uint8_t> listed_;              // by index
    std::vector<std::uint32_t> seen_;               // per index: the last search that met it
    std::uint32_t search_ = 0;
};

} // namespace zarn
