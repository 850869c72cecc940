#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"

namespace zarn::test {

// The bonds that joining the pieces from `first` on makes by trying every piece the grid lists near
// each of them, after the first `kept` bonds of the world: the plain way the fast search must match.
inline std::vector<Bond> bondsTryingEveryListedPiece(Physics physics, std::uint32_t first, std::size_t kept) {
    physics.bonds.resize(kept);
    physics.rebuildGrid();
    for (const MatterPiece& piece : physics.pieces) {
        if (!piece.alive || piece.id < first)
            continue;
        Box reach = piece.body.bounds();
        reach.min -= Vec3{0.04, 0.04, 0.04};
        reach.max += Vec3{0.04, 0.04, 0.04};
        for (const std::uint32_t other : physics.query(reach))
            if (other < first || other > piece.id)
                physics.addBond(piece.id, other);
    }
    return physics.bonds;
}

// Every bond as bonding sets it, to the bit, in the same order.
inline void expectSameBonds(const std::vector<Bond>& made, const std::vector<Bond>& expected) {
    using Bits = std::array<std::uint64_t, 3>;
    auto bits = [](const Bond& bond) {
        return std::make_tuple(bond.a, bond.b, std::bit_cast<std::uint64_t>(bond.area),
                               std::bit_cast<Bits>(bond.center), std::bit_cast<Bits>(bond.normal));
    };
    ASSERT_EQ(made.size(), expected.size());
    for (std::size_t k = 0; k < made.size(); ++k)
        ASSERT_EQ(bits(made[k]), bits(expected[k])) << "bond " << k;
}

} // namespace zarn::test
