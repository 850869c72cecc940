#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "physics/Math.hpp"

namespace zarn {

// The organisms of a body step listed by their bounds in the 4 m cells of a hash grid, so that the
// search for the organisms a box meets looks at the few listed around it instead of the whole list.
// Every cell lists its organisms by index, ascending. Bounds that span more than 16 cells on an
// axis, or that are not finite, are listed apart and found by every search; a box that spans more
// than 64 cells finds every organism. The body step moves its organisms one at a time and enters
// each again where it ended.
class OrganismCells {
  public:
    static constexpr double cellSize = 4.0;
    static constexpr std::int64_t maxSpan = 16;   // cells on an axis
    static constexpr std::int64_t maxSearch = 64; // cells of a search box

    // Lists the organisms of these bounds, index for index, and forgets any listed before.
    void fill(const std::vector<Box>& bounds);
    // The organism at index was listed by the bounds `from` and now has the bounds `to`.
    void move(std::uint32_t index, const Box& from, const Box& to);
    // Into out, ascending and each once: the index of every organism whose bounds overlap or touch
    // the box, among others listed near it.
    void near(const Box& box, std::vector<std::uint32_t>& out);

  private:
    struct Range {
        std::array<std::int64_t, 3> lo{};
        std::array<std::int64_t, 3> hi{};
        bool apart = false; // listed apart: too wide, or not finite
    };
    struct Slot {
        std::array<std::int64_t, 3> cell{};
        std::uint32_t list = 0; // index + 1 in lists_; 0 marks an empty slot
    };

    static Range rangeOf(const Box& box);
    static bool sameRange(const Range& a, const Range& b);
    // The list of a cell, nullptr when nothing was ever listed there in this step.
    const std::vector<std::uint32_t>* find(const std::array<std::int64_t, 3>& cell) const;
    std::vector<std::uint32_t>& listOf(const std::array<std::int64_t, 3>& cell);
    void grow();
    void enter(std::uint32_t index, const Range& range);
    void leave(std::uint32_t index, const Range& range);

    std::vector<Slot> slots_; // a power of two of them, at most half in use
    std::size_t usedSlots_ = 0;
    std::vector<std::uint32_t> usedAt_;             // the slots in use, to be emptied by the next fill
    std::vector<std::vector<std::uint32_t>> lists_; // the first usedSlots_ are this step's
    std::vector<std::uint32_t> apart_;              // ascending
    std::uint32_t count_ = 0;                       // organisms listed
    std::vector<std::uint32_t> seen_;               // per index: the last search that met it
    std::uint32_t search_ = 0;
};

// Working storage of the body step, kept from step to step so that a step allocates next to
// nothing; not part of the world's state (never saved or compared). A copy of an ecology starts
// with empty buffers and keeps its own when another is copied over it; only the choice of walks
// comes along.
struct BodyScratch {
    BodyScratch() = default;
    BodyScratch(const BodyScratch& other) : plainWalks(other.plainWalks) {}
    BodyScratch(BodyScratch&&) noexcept = default;
    BodyScratch& operator=(const BodyScratch& other) {
        plainWalks = other.plainWalks;
        return *this;
    }
    BodyScratch& operator=(BodyScratch&&) noexcept = default;

    // Tests set plainWalks to have every search for the organisms a body meets walk the whole list
    // instead of the cells, and every search for matter test all that the grid lists: both ways
    // must give the same world bit for bit.
    bool plainWalks = false;
    OrganismCells cells;
    std::vector<Box> bounds; // every organism's, as it last moved
};

} // namespace zarn
