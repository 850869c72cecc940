#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ecology/Records.hpp"

// The ecosystem catalogue ("ZARN_ECOLOGY", version 4): the words and limits of the format, and the
// two computations on a bond that the reader checks and the catalogue's author has to match.
namespace zarn::catalogue {

inline constexpr std::string_view magic = "ZARN_ECOLOGY";
inline constexpr std::int32_t version = 4;
inline constexpr std::uint64_t maxSpeciesA = 4096;
inline constexpr std::uint64_t maxSpeciesB = 64;
inline constexpr std::uint64_t maxBoxes = 288;
inline constexpr std::uint64_t maxBondsPerBox = 6;
inline constexpr std::uint64_t maxAncestors = 4096;
// Names and ancestor names, in bytes.
inline constexpr std::size_t maxName = 64;
// The largest catalogue file, in bytes (16 MiB): some seven hundred times the Earth's own catalogue,
// or a hundred species at the limits of a record. The format's counts alone would let a file run to
// more than a gigabyte, and a record takes up to sixteen times its bytes in memory (a list of
// one-letter ancestor names), so a file at this limit needs at most some 270 MB.
inline constexpr std::uint64_t maxFileBytes = 16777216;

// Ranges of the climate profile's values.
inline constexpr double maxAbundance = 8.0;
inline constexpr double maxSize = 12.0;
inline constexpr double maxAssemblyRate = 4.0;

// Where a bond puts its second box: the first box's orientation turns the anchor and the rotation
// onto the first box's position and orientation.
struct Placement {
    Vec3 position;
    Quaternion orientation;
};
Placement placeSecond(const BioTemplate& first, const Vec3& anchor, const Quaternion& rotation);

// The most a bond between the first box, where it stands, and the second box, where the bond puts it,
// may hold: the larger of the Connection ends' strength per area times the area over which the end's
// bonding faces touch the other box. 0 when neither end is a Connection box or no such face touches.
double strengthLimit(const BioTemplate& first, const BioTemplate& second, const Placement& placed);

// Whether a bond's strength is within what its limit allows (5 % and a millinewton of slack).
bool strengthAllowed(double strength, double limit);

} // namespace zarn::catalogue
