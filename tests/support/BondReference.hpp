#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"

namespace zarn::test {

// The bonds that joining the pieces from `first` on makes when every piece the grid lists near each
// of them is tried, with the first `kept` bonds of the world as they were before: the plain way,
// against which the fast search is checked.
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

// What bonding sets of every bond, to the bit, in the same order.
inline void expectSameBonds(const std::vector<Bond>& made, const std::vector<Bond>& expected) {
    ASSERT_EQ(made.size(), expected.size());
    for (std::size_t k = 0; k < made.size(); ++k) {
        const Bond& a = made[k];
        const Bond& b = expected[k];
        const bool same = a.a == b.a && a.b == b.b && std::memcmp(&a.area, &b.area, sizeof a.area) == 0 &&
                          std::memcmp(&a.center, &b.center, sizeof a.center) == 0 &&
                          std::memcmp(&a.normal, &b.normal, sizeof a.normal) == 0;
        ASSERT_TRUE(same) << "bond " << k << ": " << a.a << "-" << a.b << " against " << b.a << "-" << b.b;
    }
}

} // namespace zarn::test
