#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "ecology/Records.hpp"

namespace zarn {

// The canonical key of an assembly's bond graph, its boxes coloured by ability: two assemblies get the
// same key exactly when their graphs are isomorphic, whatever the order, sizes and positions of their
// boxes. "topology-v1:", the box count, ":", each box's ability and "," in canonical order, ":", then
// the upper triangle of the adjacency matrix in canonical order, row by row, "1" or "0" per pair. The
// canonical order is the lexicographically smallest key over the leaves of the individualisation and
// refinement search; the search skips branches that provably hold no smaller key. Bond pairs naming a
// box the assembly does not have are ignored.
std::string canonicalTopologyKey(const BioAssembly& assembly);

// "species-" and the FNV-1a-64 hash of the key in lower-case hexadecimal without leading zeros.
std::string speciesNameOf(std::string_view key);

// Keys of the bond structures met lately. A group that qualifies for replication but finds no place
// asks for its key on every body step; while its structure stays the same, that is a lookup.
class TopologyKeyCache {
  public:
    struct Entry {
        std::string key;
        std::string name;
    };
    // The oldest structures are forgotten beyond this many, or once the remembered text passes the
    // byte budget (a group of 288 blocks has a key of about 41 kB); the latest one is always kept.
    static constexpr std::size_t defaultCapacity = 256;
    static constexpr std::size_t byteBudget = std::size_t{4} << 20;

    explicit TopologyKeyCache(std::size_t capacity = defaultCapacity) : capacity_(capacity) {}
    // The key and species name of the assembly; valid until the next call.
    const Entry& lookup(const BioAssembly& assembly);

  private:
    struct Remembered {
        std::string structure; // box count, abilities and the bond pairs in a canonical text
        Entry entry;
    };
    std::deque<Remembered> remembered_; // oldest first
    std::size_t capacity_;
    std::size_t bytes_ = 0;
};

} // namespace zarn
