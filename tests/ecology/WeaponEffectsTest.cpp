#include <cmath>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"

namespace zarn {
namespace {

using ecotest::block;
using ecotest::place;

TEST(OrganismTrace, NearestAliveOrganismUnlessIgnored) {
    Ecology ecology;
    for (const double x : {20.0, 10.0, 5.0})
        place(ecology, block({x, 0.0, 0.0}));
    ecology.organisms[2].alive = 0;
    const struct {
        double limit;
        std::uint32_t ignoreId;
        int index;
        double distance;
    } cases[] = {{50.0, 0, 1, 9.5}, {50.0, 2, 0, 19.5}, {5.0, 0, -1, 5.0}};
    for (const auto& c : cases) {
        const OrganismHit hit = ecology.trace({}, {1.0, 0.0, 0.0}, c.limit, c.ignoreId);
        EXPECT_EQ(hit.index, c.index);
        EXPECT_DOUBLE_EQ(hit.distance, c.distance);
        // A miss hands on index -1, which impact must find out of range.
        EXPECT_EQ(ecology.impact(static_cast<std::uint64_t>(hit.index), {0.0, 0.0, 1e-3}, false),
                  c.index >= 0);
    }
}

TEST(OrganismImpact, SlabsAndCubesLoseHealthThenDieOrSplit) {
    Organism cube = block({}, 0.5); // 1 m³ at 80 kg/m³
    cube.kind = LifeKind::Cube;
    Organism slab = cube;
    slab.kind = LifeKind::Slab;
    slab.halfExtents = {5.0, 0.5, 5.0};                                    // 800 kg
    const double cubeHit = 100.0 / (5.0 * std::sqrt(80.0) + 12.0) * 100.0; // 176.30
    const struct {
        Organism target;
        std::uint32_t generation;
        double impulse;
        bool blast, result, alive, marked;
        double health;
    } cases[] = {
        {cube, 0, 5e-7, false, false, true, false, 100.0},
        {cube, 0, 100.0, false, true, false, false, 100.0 - cubeHit},
        {cube, 0, 10.0, true, false, true, false, 100.0 - 10.0 / 960.0 * 100.0},
        {slab, 1, 1e6, false, true, true, true, -1.0},
        {slab, 2, 1e6, false, true, false, false, -1.0},
    };
    for (const auto& c : cases) {
        Ecology ecology;
        place(ecology, c.target);
        ecology.organisms[0].generation = c.generation;
        EXPECT_EQ(ecology.impact(0, {0.0, c.impulse, 0.0}, c.blast), c.result) << c.impulse;
        const Organism& o = ecology.organisms[0];
        EXPECT_EQ(o.alive != 0, c.alive) << c.impulse;
        EXPECT_EQ(o.fractureMarked != 0, c.marked) << c.impulse;
        EXPECT_EQ(ecology.deaths, c.alive ? 0u : 1u);
        if (c.health >= 0.0) {
            EXPECT_NEAR(o.health, c.health, 1e-9) << c.impulse;
        }
    }
    EXPECT_NEAR(cubeHit, 176.30, 0.005);
}

TEST(OrganismImpact, BlockHitsBreakWeakBondsAndBlastsPushAlongPlusX) {
    Ecology ecology;
    const std::size_t hit = place(ecology, block({}, 0.5));
    place(ecology, block({1.0, 0.0, 0.0}, 0.5));
    ecology.time = 3.0;
    for (const double strength : {500.0, 700.0})
        ecology.bonds.push_back({2, 1, 0, 1, {}, strength, {}}); // the block as the second end
    ecology.bonds.push_back({1, 9, 1, 1, {}, 100.0, {}});        // a world bond naming piece 9
    EXPECT_TRUE(ecology.impact(hit, {0.0, 0.0, 10.0}, false));
    EXPECT_EQ(ecology.bonds[0].active, 0);
    EXPECT_EQ(ecology.bonds[1].active, 1);
    EXPECT_EQ(ecology.bonds[2].active, 0);
    EXPECT_EQ(ecology.bondsBroken, 2u);
    EXPECT_EQ(ecology.organisms[hit].busyUntil, 3.5);
    EXPECT_EQ(ecology.organisms[hit].velocity, (Vec3{0.0, 0.0, 10.0 / 80.0}));
    EXPECT_TRUE(ecology.impact(hit, {0.0, 0.0, 10.0}, true)); // a blast hit moves no block
    EXPECT_EQ(ecology.organisms[hit].velocity, (Vec3{0.0, 0.0, 10.0 / 80.0}));

    // Blocks west and east of a blast at 23.9 m both fly east; at 24 m nothing reaches them.
    Ecology field;
    for (const double x : {-23.9, 23.9, 24.0, 0.0})
        place(field, block({x, 0.0, 0.0}, 0.5));
    field.blast({}, 572210.0);
    for (const auto& [index, push] : {std::pair{0, 1000.0}, {1, 1000.0}, {2, 0.0}, {3, 572210.0}})
        EXPECT_NEAR(field.organisms[index].velocity.x * 80.0, push, 1e-6) << index;
}

TEST(OrganismBoxes, PassesColoursAndFaceMarkers) {
    Ecology ecology;
    Organism slab = block({}, 1.0);
    slab.kind = LifeKind::Slab;
    for (const std::uint32_t stage : {3u, 0u}) { // lying, then rising
        slab.stage = stage;
        place(ecology, slab);
    }
    Organism grey = block({}, 1.0);
    grey.gray = 1;
    place(ecology, grey);
    EXPECT_EQ(ecology.boxes(true).size(), 1u);
    EXPECT_EQ(ecology.boxes(false).size(), 2u); // the lying Slab and the grey block, unmarked
    EXPECT_EQ(ecology.boxes(false)[1].color, (Vec3{0.72, 0.73, 0.70}));

    // A Connection block marks its bonding faces; the others the face of their axis's largest
    // component (y beats x on a tie, z must beat the winner outright).
    Ecology blocks;
    Organism connector = block({10.0, 0.0, 0.0}, 0.5);
    connector.massBudget = 0.5; // half full
    place(blocks, connector);
    std::vector<BioBox> drawn = blocks.boxes(false);
    ASSERT_EQ(drawn.size(), 7u);
    const Vec3 blue = Ecology::abilityColor(Ability::Connection);
    EXPECT_NEAR(drawn[0].color.z, blue.z * (0.35 + 0.65 * 0.5), 1e-12);
    EXPECT_EQ(drawn[2].center, (Vec3{9.5, 0.0, 0.0}));
    EXPECT_EQ(drawn[2].halfExtents, (Vec3{0.012, 0.11, 0.11}));
    EXPECT_NEAR(drawn[2].color.z, 0.7 * blue.z + 0.3, 1e-12);
    const struct {
        Vec3 axis, markerOffset;
    } cases[] = {
        {{1.0, 1.0, 0.0}, {0.0, 0.5, 0.0}},   {{1.0, -1.0, 0.0}, {0.0, -0.5, 0.0}},
        {{1.0, 1.0, 1.0}, {0.0, 0.5, 0.0}},   {{1.0, 1.0, -1.5}, {0.0, 0.0, -0.5}},
        {{-2.0, 1.0, 1.0}, {-0.5, 0.0, 0.0}}, {{0.0, 0.0, 0.0}, {0.0, 0.5, 0.0}},
    };
    for (const auto& c : cases) {
        Ecology single;
        Organism thruster = block({}, 0.5, Ability::Thrust);
        thruster.axis = c.axis;
        place(single, thruster);
        drawn = single.boxes(false);
        ASSERT_EQ(drawn.size(), 2u);
        EXPECT_EQ(drawn[1].center, c.markerOffset) << c.axis.x << " " << c.axis.y << " " << c.axis.z;
    }
}

} // namespace
} // namespace zarn
