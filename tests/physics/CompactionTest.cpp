#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"

namespace zarn {
namespace {

constexpr int side = 200;

// A 200 x 200 floor of anchored 1 m cubes (40,000 pieces, 79,600 bonds).
const Physics& floorWorld() {
    static const Physics world = [] {
        Physics physics;
        for (int ix = 0; ix < side; ++ix)
            for (int iz = 0; iz < side; ++iz) {
                MatterPiece piece;
                piece.body.center = {static_cast<double>(ix), 0.5, static_cast<double>(iz)};
                piece.body.halfExtents = {0.5, 0.5, 0.5};
                piece.anchored = true;
                physics.add(piece);
            }
        physics.connectTouching();
        return physics;
    }();
    return world;
}

// Kills every eighth piece up to `dead` of them.
void killEveryEighth(Physics& physics, int dead) {
    for (int k = 1; k <= dead; ++k)
        physics.pieces[8 * k - 1].alive = false;
}

TEST(Compaction, FiveThousandDeadOfFortyThousandAreDroppedAndTheRestRenumbered) {
    Physics physics = floorWorld();
    ASSERT_EQ(physics.pieces.size(), 40000u);
    ASSERT_EQ(physics.bonds.size(), 79600u);
    MatterPiece loose;
    loose.body.center = {500, 50, 500};
    loose.body.halfExtents = {0.5, 0.5, 0.5};
    const std::uint32_t looseId = physics.add(loose);

    // Pieces 100 and 101 are neighbours along z; their bond broke under load.
    Bond* broken = nullptr;
    for (Bond& bond : physics.bonds)
        if (pairKey(bond.a, bond.b) == pairKey(100, 101))
            broken = &bond;
    ASSERT_NE(broken, nullptr);
    broken->intact = false;
    physics.brokenBondCount = 1;
    physics.fractureCount = 11;
    physics.contactBondCount = 13;
    killEveryEighth(physics, 5000);
    physics.topologyDirty = true; // the dead are counted even before the next refresh

    const std::uint64_t compactions = physics.compaction.count;
    physics.reclaimHistoryIfNeeded();

    ASSERT_EQ(physics.pieces.size(), 35001u);
    // The renumbering handed on: old id k is new id k - floor(k / 8), every eighth is gone.
    EXPECT_EQ(physics.compaction.count, compactions + 1);
    const std::vector<std::uint32_t>& renumbering = physics.compaction.renumbering;
    ASSERT_EQ(renumbering.size(), 40002u);
    EXPECT_EQ(renumbering[0], 0u);
    EXPECT_EQ(renumbering[7], 7u);
    EXPECT_EQ(renumbering[8], 0u);
    EXPECT_EQ(renumbering[100], 88u);
    EXPECT_EQ(renumbering[looseId], looseId - 5000);
    EXPECT_TRUE(physics.validate());
    for (std::size_t index = 0; index < physics.pieces.size(); ++index) {
        ASSERT_EQ(physics.pieces[index].id, index + 1);
        ASSERT_TRUE(physics.pieces[index].alive);
    }
    for (const Bond& bond : physics.bonds)
        ASSERT_TRUE(bond.intact);
    EXPECT_EQ(physics.brokenBondCount, 1u);
    EXPECT_EQ(physics.fractureCount, 11u);
    EXPECT_EQ(physics.contactBondCount, 13u);

    // Old id k is now k - floor(k / 8): 100 -> 88 and 101 -> 89, in the same place.
    EXPECT_EQ(physics.pieces[87].body.center, (Vec3{0, 0.5, 99}));
    EXPECT_EQ(physics.brokenPairs.count(pairKey(88, 89)), 1u);
    EXPECT_EQ(physics.brokenPairs.count(pairKey(100, 101)), 0u);
    for (const std::uint64_t key : physics.brokenPairs)
        EXPECT_EQ(key, pairKey(88, 89)); // pairs with a dead end are gone

    // The grid and the assemblies speak the new numbering.
    const PieceHit hit = physics.trace({0, 5, 99}, {0, -1, 0}, 10);
    ASSERT_TRUE(hit.hit);
    EXPECT_EQ(hit.index, 87u);
    const std::uint32_t newLooseId = looseId - 5000;
    const MatterPiece& moved = physics.pieces[newLooseId - 1];
    EXPECT_EQ(moved.body.center, loose.body.center);
    ASSERT_GE(moved.assembly, 0);
    EXPECT_EQ(physics.assemblies[static_cast<std::size_t>(moved.assembly)].members,
              (std::vector<std::uint32_t>{newLooseId}));
    EXPECT_FALSE(physics.topologyDirty);
}

TEST(Compaction, ThresholdsNeedMoreThan4096DeadPieces) {
    Physics physics = floorWorld();
    killEveryEighth(physics, 4096);
    physics.topologyDirty = true;
    physics.refreshTopology(); // counted by the refresh this time
    physics.reclaimHistoryIfNeeded();
    EXPECT_EQ(physics.pieces.size(), 40000u);

    physics.pieces[8 * 4097 - 1].alive = false;
    physics.topologyDirty = true;
    physics.refreshTopology();
    physics.reclaimHistoryIfNeeded();
    EXPECT_EQ(physics.pieces.size(), 40000u - 4097u);
}

TEST(Compaction, ThresholdsNeedMoreThan32768BrokenBondsOfMoreThan131072) {
    Physics base;
    for (int i = 0; i < 2; ++i) {
        MatterPiece piece;
        piece.body.center = {static_cast<double>(i), 0.5, 0};
        piece.body.halfExtents = {0.5, 0.5, 0.5};
        piece.anchored = true;
        base.add(piece);
    }
    base.connectTouching();
    ASSERT_EQ(base.bonds.size(), 1u);
    base.bonds.resize(131073, base.bonds[0]);

    Physics few = base;
    for (std::size_t k = 0; k < 32768; ++k)
        few.bonds[2 * k].intact = false;
    few.topologyDirty = true;
    few.reclaimHistoryIfNeeded();
    EXPECT_EQ(few.bonds.size(), 131073u);

    Physics many = base;
    for (std::size_t k = 0; k < 32769; ++k)
        many.bonds[2 * k].intact = false;
    many.topologyDirty = true;
    many.refreshTopology();
    many.reclaimHistoryIfNeeded();
    EXPECT_EQ(many.bonds.size(), 131073u - 32769u);
    EXPECT_EQ(many.brokenPairs.count(pairKey(1, 2)), 1u);

    Physics small = base;
    small.bonds.resize(131072);
    for (Bond& bond : small.bonds)
        bond.intact = false;
    small.reclaimHistoryIfNeeded();
    EXPECT_EQ(small.bonds.size(), 131072u);
}

} // namespace
} // namespace zarn
