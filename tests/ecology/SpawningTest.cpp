#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"
#include "ecology/BoxFrame.hpp"
#include "ecology/RandomDraws.hpp"
#include "physics/Hash.hpp"

namespace zarn {
namespace {

using ecotest::aboutAxis;
using ecotest::block;
using ecotest::pieceAt;
using ecotest::place;

BioTemplate box(const Vec3& position, double massBudget = 1.0) {
    BioTemplate t;
    t.position = position;
    t.massBudget = massBudget;
    return t;
}

TEST(SpawnAssembly, StandsOnTheOriginWithItsBondsAndFallbacks) {
    // Three boxes; the third is turned a quarter about z, so its bottom lies its x extent down.
    BioAssembly species;
    species.name = "species-1";
    species.boxes = {box({0.0, -1.0, 0.0}), box({0.8, -1.0, 0.0}, 0.0), box({0.0, -1.2, 0.8})};
    species.boxes[2].halfExtents = {0.8, 0.2, 0.4};
    species.boxes[2].orientation = aboutAxis({0.0, 0.0, 1.0}, 1.5707963267948966); // bottom -2.0
    species.bonds = {{0, 1}, {1, 2}, {0, 3}};
    species.strengths = {900.0};
    species.anchors = {{7.0, 0.0, 0.0}};

    Ecology ecology;
    place(ecology, block({}));
    ecology.organisms[0].id = 41; // new ids start past it
    ecology.spawnAssembly(species, {5.0, 3.0, 0.0}, 12);
    ASSERT_EQ(ecology.organisms.size(), 4u);
    EXPECT_EQ(ecology.births, 3u);
    double lowest = 1e30;
    for (std::size_t k = 1; k < 4; ++k) {
        const Organism& o = ecology.organisms[k];
        EXPECT_EQ(o.id, 41u + k);
        EXPECT_EQ(o.patch, 12u);
        EXPECT_EQ(o.species, "species-1");
        EXPECT_EQ(o.gray, k == 2 ? 1 : 0); // no mass budget: grey from the start
        EXPECT_EQ(o.placing, 0);
        lowest = std::min(lowest, Ecology::bounds(o).min.y);
    }
    EXPECT_NEAR(lowest, 3.0, 1e-12);
    EXPECT_NEAR(ecology.organisms[1].center.y, 4.0, 1e-12); // lifted by 2

    // The out-of-range bond is left out; stored entries are taken, missing ones computed.
    ASSERT_EQ(ecology.bonds.size(), 2u);
    const BioBond& stored = ecology.bonds[0];
    const BioBond& computed = ecology.bonds[1];
    EXPECT_EQ((std::array{stored.a, stored.b, computed.a, computed.b}),
              (std::array<std::uint32_t, 4>{42, 43, 43, 44}));
    EXPECT_EQ(stored.strength, 900.0);
    EXPECT_EQ(stored.anchor, (Vec3{7.0, 0.0, 0.0}));
    EXPECT_EQ(stored.rotation, Quaternion{});
    EXPECT_EQ(computed.strength, 500.0);
    EXPECT_NEAR(length(computed.anchor - Vec3{-0.8, -0.2, 0.8}), 0.0, 1e-12);
    EXPECT_EQ(computed.rotation, species.boxes[2].orientation);

    // A species that would take the list past 288 is not spawned.
    ecology.organisms.resize(286, ecology.organisms[0]);
    ecology.spawnAssembly(species, {}, 1);
    EXPECT_EQ(ecology.organisms.size(), 286u);
}

TEST(RainBlocks, SeededAndCappedAndOnlyWhereClear) {
    Physics physics;
    physics.add(pieceAt({0.0, 18.0, 0.0}, 4.0, true)); // a block of matter in the middle of the rain
    physics.refreshTopology();
    auto rain = [&](std::size_t present, std::uint64_t count) {
        Ecology ecology;
        for (std::size_t k = 0; k < present; ++k)
            place(ecology, block({0.0, -500.0 - 3.0 * k, 0.0}, 0.5));
        ecology.rainBlocks(physics, {}, 8.0, 77, count);
        return ecology;
    };

    const Ecology first = rain(0, 40);
    const Ecology again = rain(0, 40);
    ASSERT_EQ(first.organisms.size(), again.organisms.size());
    EXPECT_EQ(first.nextId, 41u); // dropped blocks spend their ids too
    EXPECT_LT(first.organisms.size(), 40u);
    EXPECT_GT(first.organisms.size(), 10u);
    EXPECT_EQ(first.births, first.organisms.size());
    for (std::size_t k = 0; k < first.organisms.size(); ++k) {
        const Organism& o = first.organisms[k];
        EXPECT_EQ(o.center, again.organisms[k].center);
        EXPECT_EQ(o.orientation, again.organisms[k].orientation);
        EXPECT_TRUE(first.clearAt(o, physics, k, {18.0, 0.0, 18.0}));
        EXPECT_NEAR(length(o.axis), 1.0, 1e-12);
        // Only a thrust's axis may point anywhere.
        EXPECT_EQ(std::count(faces.begin(), faces.end(), o.axis), o.ability == Ability::Thrust ? 0 : 1) << k;
        const Quaternion& q = o.orientation;
        EXPECT_NEAR(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z, 1.0, 1e-12);
    }
    EXPECT_LE(rain(287, 5).organisms.size(), 288u);
    EXPECT_EQ(rain(288, 5).organisms.size(), 288u);
    EXPECT_EQ(randomVector(5),
              (Vec3{2.0 * unitHash(5) - 1.0, 2.0 * unitHash(6) - 1.0, 2.0 * unitHash(7) - 1.0}));
}

} // namespace
} // namespace zarn
