#pragma once

#include <cstdint>
#include <string_view>

namespace zarn {

// FNV-1a, 64 bits: the game's checksum of byte strings (the save file's body, and the keys and
// seeds that are hashed from text). Unsigned arithmetic wraps round modulo 2^64.
constexpr std::uint64_t fnvOffsetBasis = 0xcbf29ce484222325ull;
constexpr std::uint64_t fnvPrime = 0x100000001b3ull;

// The hash of the bytes, or, given the hash of earlier bytes, the hash of those followed by these.
constexpr std::uint64_t fnv1a64(std::string_view bytes, std::uint64_t hash = fnvOffsetBasis) {
    for (const char c : bytes) {
        hash ^= static_cast<std::uint64_t>(static_cast<unsigned char>(c));
        hash *= fnvPrime;
    }
    return hash;
}

} // namespace zarn
