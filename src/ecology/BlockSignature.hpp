#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ecology/Records.hpp"

namespace zarn {

// A block's line in the order that fixes a species' frame: its ability in decimal, its half extents,
// axis, power and strength per area with 17 significant digits in the general format (0.5 is "0.5",
// 0.1 is "0.10000000000000001"), then its face mask in decimal, one space between fields. The same
// text on every platform and in every locale.
std::string blockSignature(const Organism& block);

// Sorts group members (indices into organisms) by their signatures, byte by byte; members with equal
// signatures keep their order, so the first of them stays the reference block.
void sortBySignature(std::vector<std::uint64_t>& members, const std::vector<Organism>& organisms);

} // namespace zarn
