#pragma once

#include <cstddef>
#include <cstdint>

namespace zarn {

// The slot of a key in a table of mask + 1 slots: every bit of the key stirs every bit of the hash.
inline std::size_t slotOf(std::uint64_t key, std::size_t mask) {
    key ^= key >> 30;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 27;
    key *= 0x94D049BB133111EBull;
    return static_cast<std::size_t>(key ^ (key >> 31)) & mask;
}

} // namespace zarn
