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

// The game's one 32-bit integer hash (all arithmetic modulo 2^32). Every seeded draw of the game
// goes through it: terrain, noise, climate zones, organisms, stars, sounds and the city. Callers
// form their seeds in unsigned arithmetic: a negative int is cast to uint32 first.
constexpr std::uint32_t hash32(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

// A hash as a number in [0, 1): its low 24 bits times 2^-24.
constexpr double unitValue(std::uint32_t hash) {
    return static_cast<double>(hash & 0xFFFFFFu) * (1.0 / 16777216.0);
}

// The unit value of the hash of a seed.
constexpr double unitHash(std::uint32_t seed) {
    return unitValue(hash32(seed));
}

} // namespace zarn
