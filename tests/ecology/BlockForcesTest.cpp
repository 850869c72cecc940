#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {
namespace {

using ecotest::aboutAxis;
using ecotest::block;
using ecotest::place;

constexpr Ability T = Ability::Thrust, A = Ability::Absorption, C = Ability::Connection;
constexpr double dt = 1.0 / 60.0;

// A bond at rest between two organisms as they stand (axis-aligned ends).
void bond(Ecology& ecology, std::size_t i, std::size_t j) {
    const Organism& a = ecology.organisms[i];
    const Organism& b = ecology.organisms[j];
    ecology.bonds.push_back({a.id, b.id, 0, 1, b.center - a.center, 1e9, {}});
}

Organism quiet(const Vec3& center, double half, Ability ability, double budget) {
    Organism o = block(center, half, ability);
    o.power = 0.0; // thrust neither moves nor costs
    o.massBudget = budget;
    return o;
}

TEST(BlockForces, ThrustPushesAlongItsTurnedAxisAndPaysAtTheFillOfItsPool) {
    const Quaternion quarterY = aboutAxis({0.0, 1.0, 0.0}, std::acos(-1.0) / 2.0);
    const struct {
        double budget; // in volumes
        Vec3 axis;
        Quaternion orientation;
        Vec3 push; // per dt
    } cases[] = {
        {1.0, {0.0, 0.0, 1.0}, {}, {0.0, 0.0, 6.0}},
        {1.5, {0.0, 0.0, 1.0}, {}, {0.0, 0.0, 6.0}},       // a surplus does not push harder
        {0.5, {0.0, 0.0, 1.0}, {}, {0.0, 0.0, 3.0}},       // half full, half the push and the cost
        {1.0, {0.0, 0.0, 1.0}, quarterY, {6.0, 0.0, 0.0}}, // the axis turns with the block
        {1.0, {}, {}, {}},                                 // no axis: no push, the same cost
    };
    for (const auto& c : cases) {
        Ecology ecology;
        Organism o = block({}, 0.75, T);
        o.axis = c.axis;
        o.orientation = c.orientation;
        const double v = 27.0 / 8.0;
        o.massBudget = c.budget * v;
        place(ecology, o);
        Physics physics;
        ecology.blockForces(physics, {}, dt);
        const Organism& after = ecology.organisms[0];
        EXPECT_NEAR(length(after.velocity / dt - c.push), 0.0, 1e-9);
        const double f = std::min(c.budget, 1.0);
        EXPECT_NEAR(after.massBudget, c.budget * v - (0.025 * f + 0.0008) * v * dt, 1e-12);
    }
}

TEST(BlockForces, AbsorbingFaceEatsCubesAndForeignPoolsButNotItsOwnGroup) {
    // The absorber's +x face is 1 m²; over 0.625 s at a full pool it takes in 0.5.
    const double longStep = 0.625;
    const struct {
        const char* what;
        LifeKind kind;
        Vec3 at;
        bool bonded;
        double food, eaten; // what the neighbour holds, and what it loses
    } cases[] = {
        {"a Cube holding less than the intake dies", LifeKind::Cube, {1.0, 0.0, 0.0}, false, 0.5, 0.5},
        {"a Cube holding more survives", LifeKind::Cube, {1.0, 0.2, 0.0}, false, 3.0, 0.5},
        {"a Cube off the absorbing face", LifeKind::Cube, {-1.0, 0.0, 0.0}, false, 0.5, 0.0},
        {"a Cube out of reach", LifeKind::Cube, {1.1, 0.0, 0.0}, false, 0.5, 0.0},
        {"a foreign block's pool drains", LifeKind::Block, {1.0, 0.0, 0.0}, false, 1.5, 0.5},
        {"a block of its own group", LifeKind::Block, {1.0, 0.0, 0.0}, true, 1.5, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Ecology ecology;
        Organism absorber = quiet({}, 0.5, A, 1.0);
        absorber.axis = {0.6, -0.5, 0.1}; // x dominates: the +x face
        place(ecology, absorber);
        Organism food = quiet(c.at, 0.5, T, c.food);
        food.kind = c.kind;
        food.biomass = c.food;
        place(ecology, food);
        if (c.bonded)
            bond(ecology, 0, 1);
        Physics physics;
        ecology.blockForces(physics, {}, longStep);

        const double upkeep = 0.0008 * longStep;
        const Organism& fed = ecology.organisms[1];
        const bool cube = c.kind == LifeKind::Cube;
        EXPECT_NEAR(cube ? fed.biomass : fed.massBudget + upkeep, c.bonded ? 1.25 : c.food - c.eaten, 1e-12);
        EXPECT_EQ(fed.alive != 0, c.food - c.eaten > 1e-9);
        EXPECT_NEAR(ecology.organisms[0].massBudget + upkeep, c.bonded ? 1.25 : 1.0 + c.eaten, 1e-12);
    }
}

TEST(BlockForces, GroupsShareTheirPoolByVolumeAndStarveGreyTogether) {
    // A group of three whose pool is empty greys at once, each member counted once, and takes no part
    // in later calls. A small Thrust block bonded to a Connection block of eight times its volume
    // (paying for one bond) shares their pool by volume.
    Ecology ecology;
    place(ecology, quiet({}, 0.5, T, 0.0));
    place(ecology, quiet({1.0, 0.0, 0.0}, 0.5, T, 1e-10));
    place(ecology, quiet({2.0, 0.0, 0.0}, 0.5, A, 0.0));
    place(ecology, quiet({10.0, 0.0, 0.0}, 0.5, T, 4.5));
    place(ecology, quiet({11.5, 0.0, 0.0}, 1.0, C, 0.0));
    bond(ecology, 0, 1);
    bond(ecology, 2, 1);
    bond(ecology, 3, 4);
    Physics physics;
    ecology.blockForces(physics, {}, dt);
    const double pool = 4.5 - 0.0008 * dt - (0.002 + 0.0008) * 8.0 * dt;
    EXPECT_NEAR(ecology.organisms[3].massBudget, pool / 9.0, 1e-12);
    EXPECT_NEAR(ecology.organisms[4].massBudget, pool * 8.0 / 9.0, 1e-12);
    ecology.blockForces(physics, {}, dt);
    EXPECT_EQ(ecology.grayBlocks, 3u);
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(ecology.organisms[k].gray, k < 3 ? 1 : 0);
        EXPECT_EQ(ecology.organisms[k].massBudget == 0.0, k < 3);
    }
}

TEST(BlockForces, EveryAuthoredSpeciesAloneKeepsItsBondsForTenSeconds) {
    Ecology catalogue;
    std::string error;
    ASSERT_TRUE(catalogue.load(ZARN_ECOSYSTEM_CATALOGUE, error)) << error;
    const EarthModel model;
    for (const BioAssembly& species : catalogue.speciesA) {
        SCOPED_TRACE(species.name);
        Ecology ecology;
        Physics physics;
        ecology.spawnAssembly(species, {}, 1);
        const std::vector<BioBond> bonds = ecology.bonds;
        ASSERT_EQ(bonds.size(), species.bonds.size());
        // The player stands well away. (The budding pair copies itself at once; its copy, dropped
        // from the sky, may break its bond on landing: only the species' own bonds are looked at.)
        for (int step = 0; step < 600; ++step)
            ecology.moveBodies(physics, model, {0.0, 0.0, 500.0}, {0.0, -9.80665, 0.0}, dt);
        for (const BioBond& held : bonds)
            EXPECT_TRUE(std::any_of(ecology.bonds.begin(), ecology.bonds.end(),
                                    [&](const BioBond& b) { return b.a == held.a && b.b == held.b; }))
                << held.a << "-" << held.b;
        for (std::size_t k = 0; k < species.boxes.size(); ++k)
            EXPECT_TRUE(ecology.organisms[k].alive && !ecology.organisms[k].gray) << k;
    }
}

// ---- replication ----

// Groups by root as blockForces hands them on: each list under its first member's index.
std::vector<std::vector<std::uint64_t>> groupsOf(const Ecology& ecology,
                                                 const std::vector<std::vector<std::uint64_t>>& lists) {
    std::vector<std::vector<std::uint64_t>> groups(ecology.organisms.size());
    for (const auto& list : lists)
        groups[list.front()] = list;
    return groups;
}

// Cubes far away until the list holds `count` organisms.
void fill(Ecology& ecology, std::size_t count) {
    while (ecology.organisms.size() < count) {
        Organism cube = block({500.0 + 3.0 * static_cast<double>(ecology.organisms.size()), 0.0, 0.0});
        cube.kind = LifeKind::Cube;
        place(ecology, cube);
    }
}

TEST(Replication, CapsSizesAndCopiesAndHalvesTheBudgetExactly) {
    const struct {
        std::size_t organisms; // in the list before the call
        std::size_t groups;    // of two blocks each
        double fill;           // budget per volume
        std::size_t copies;
    } cases[] = {
        {286, 1, 1.8, 1},
        {287, 1, 1.8, 0}, // a pair needs room for two more
        {0, 3, 2.0, 2},   // at most two copies in one call
        {0, 1, 1.79, 0},  // not enough stored
    };
    for (const auto& c : cases) {
        Ecology ecology;
        std::vector<std::vector<std::uint64_t>> lists;
        for (std::size_t g = 0; g < c.groups; ++g) {
            const double x = 4.0 * static_cast<double>(g);
            const std::size_t first = place(ecology, quiet({x, 0.0, 0.0}, 0.5, T, c.fill));
            place(ecology, quiet({x + 1.0, 0.0, 0.0}, 0.5, C, c.fill));
            bond(ecology, first, first + 1);
            lists.push_back({first, first + 1});
        }
        fill(ecology, c.organisms);
        const std::size_t before = ecology.organisms.size();
        const std::uint64_t nextId = ecology.nextId;
        Physics physics;
        ecology.replicate(physics, {}, groupsOf(ecology, lists));

        EXPECT_EQ(ecology.organisms.size(), before + 2 * c.copies);
        EXPECT_EQ(ecology.replications, c.copies);
        EXPECT_EQ(ecology.births, 2 * c.copies);
        EXPECT_EQ(ecology.bonds.size(), c.groups + c.copies);
        EXPECT_EQ(ecology.nextId, nextId + 2 * c.copies);
        for (std::size_t k = 0; k < 2 * c.groups; ++k) // parents, the first groups copied
            EXPECT_EQ(ecology.organisms[k].massBudget, k < 2 * c.copies ? c.fill / 2.0 : c.fill) << k;
        for (std::size_t k = before; k < ecology.organisms.size(); ++k) {
            EXPECT_EQ(ecology.organisms[k].massBudget, c.fill / 2.0);
            EXPECT_EQ(ecology.organisms[k].id, nextId + (k - before));
        }
    }
}

TEST(Replication, CopyFallsWholeIntoTheAreaNamedAsItsKeyAndCountedInTheRegistry) {
    // A chain T - C - A listed in either order: named by its key, found once the copy is placed.
    const std::string name = speciesNameOf("topology-v1:3:0,1,2,:011");
    for (const std::vector<Ability>& order : {std::vector{A, C, T}, std::vector{T, C, A}}) {
        Ecology ecology;
        ecology.time = 3.0;
        ecology.areaSet = true;
        ecology.areaCenter = {100.0, 5.0, -40.0};
        ecology.areaRadius = 10.0;
        std::vector<std::uint64_t> members;
        for (const Ability ability : order) {
            Organism o = quiet({ability == T ? 0.0 : ability == C ? 1.0 : 2.0, 0.0, 0.0}, 0.5, ability, 2.0);
            o.species = ability == C ? "species-old" : "";
            members.push_back(place(ecology, o));
        }
        bond(ecology, members[0], members[1]);
        bond(ecology, members[1], members[2]);
        Physics physics;
        ecology.replicate(physics, {}, groupsOf(ecology, {members}));

        ASSERT_EQ(ecology.organisms.size(), 6u);
        ASSERT_EQ(ecology.registry.size(), 1u);
        EXPECT_EQ(ecology.registry[0].name, name);
        EXPECT_EQ(ecology.registry[0].ancestors, std::vector<std::string>{"species-old"});
        for (const Organism& o : ecology.organisms)
            EXPECT_EQ(o.species, name);
        // The copies come in signature order (T, A, C), keep the shape and its bonds.
        const std::vector<Organism>& o = ecology.organisms;
        EXPECT_NEAR(length(o[3].center - o[5].center), 1.0, 1e-12);
        EXPECT_NEAR(length(o[3].center - o[4].center), 2.0, 1e-12);
        for (std::size_t k = 3; k < 6; ++k) {
            EXPECT_LE(std::abs(o[k].center.x - 100.0), 12.0);
            EXPECT_GT(o[k].center.y, 27.0);
            EXPECT_EQ(o[k].busyUntil, 3.1);
            EXPECT_EQ(o[k].generation, 1u);
        }
        EXPECT_EQ(ecology.bonds.size(), 4u);

        // The same species again: counted once more, with only the ancestor it did not list yet.
        for (const std::uint64_t m : members)
            ecology.organisms[m].massBudget = 2.0;
        ecology.organisms[members[0]].species = "species-other";
        ecology.replicate(physics, {}, groupsOf(ecology, {members}));
        ASSERT_EQ(ecology.registry.size(), 1u);
        EXPECT_EQ(ecology.registry[0].count, 2u);
        EXPECT_EQ(ecology.registry[0].ancestors, (std::vector<std::string>{"species-old", "species-other"}));
    }
}

} // namespace
} // namespace zarn
