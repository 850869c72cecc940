#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

namespace zarn {

// What history compaction hands on, and its working storage, kept between calls so that a
// compaction allocates nothing once the world has reached its size.
struct CompactionScratch {
    // The last compaction's renumbering, indexed by old id: the piece's new id, 0 for a piece that
    // was dropped (and at index 0). Whoever holds piece ids outside the physics rewrites them
    // through it.
    std::vector<std::uint32_t> renumbering;
    // Compactions so far: a caller of Physics::step tells by it that the ids moved under it.
    std::uint64_t count = 0;

    // Per bond index: the bond goes (it was broken or lost a piece before the compaction began).
    std::vector<std::uint8_t> dropBond;
    // Per old bond index: its new index.
    std::vector<std::uint64_t> bondIndex;
    // Grid cells whose lists hold ids that change, and a table of the keys already taken (by the
    // compaction count, so that it never needs clearing).
    std::vector<std::uint64_t> keys;
    struct SeenKey {
        std::uint64_t key = 0;
        std::uint64_t stamp = 0;
    };
    static constexpr std::size_t seenSlots = 4096;
    std::vector<SeenKey> seenKeys;
    // Broken pairs whose ids change, taken out of the set while they are rewritten. Empty between
    // calls; a copy of the world starts with none (the set's nodes cannot be copied).
    struct PairNodes {
        std::vector<std::unordered_set<std::uint64_t>::node_type> nodes;
        PairNodes() = default;
        PairNodes(const PairNodes&) {}
        PairNodes(PairNodes&&) = default;
        PairNodes& operator=(const PairNodes&) { return *this; }
        PairNodes& operator=(PairNodes&&) = default;
        ~PairNodes() = default;
    };
    PairNodes pairs;
};

} // namespace zarn
