#include <algorithm>
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"
#include "ecology/AliveIndex.hpp"
#include "physics/Hash.hpp"

namespace zarn {
namespace {

using ecotest::aboutAxis;
using ecotest::block;
using ecotest::pieceAt;
using ecotest::place;

const double pi = std::numbers::pi;

TEST(ContactArea, CoplanarOppositeFacesOverlapClippedToTheFace) {
    const Organism o = block({}, 1.0);
    const Quaternion eighthX = aboutAxis({1.0, 0.0, 0.0}, pi / 4.0),
                     quarterZ = aboutAxis({0.0, 0.0, 1.0}, pi / 2.0);
    const struct {
        Vec3 center;
        double half;
        Quaternion turn;
        std::uint32_t mask;
        double area;
    } cases[] = {
        {{2.02, 0.0, 0.0}, 1.0, {}, 63, 4.0},                            // 2 cm apart: full face
        {{2.03, 0.0, 0.0}, 1.0, {}, 63, 0.0},                            // 3 cm apart: none
        {{2.0, 0.0, 0.0}, 1.0, eighthX, 63, 8.0 * std::sqrt(2.0) - 8.0}, // octagon
        {{2.0, 0.0, 0.0}, 1.0, {}, 0, 0.0},                              // no face may bond
        {{2.0, 0.0, 0.0}, 1.0, {}, 2, 0.0},                              // only the far face may
        {{2.0, 0.0, 0.0}, 1.0, quarterZ, 1, 4.0},                        // another face turned onto it
        {{2.0, 2.0, 0.0}, 1.0, {}, 63, 0.0},                             // edge to edge
        {{1.5, 0.9, 0.0}, 0.5, {}, 63, 0.6},                             // partly over the rim
    };
    for (const auto& c : cases) {
        Polyhedron p = Ecology::body(block(c.center, c.half));
        p.orientation = c.turn;
        EXPECT_NEAR(Ecology::contactArea(o, p, c.mask), c.area, 1e-9) << c.center.x << " " << c.mask;
    }
}

// Blocks 1 (Connection) and 2 (Thrust) touch face to face across 1 cm; block 3 is far away.
Ecology touchingPair() {
    Ecology ecology;
    place(ecology, block({}, 0.5));
    place(ecology, block({1.01, 0.0, 0.0}, 0.5, Ability::Thrust));
    place(ecology, block({9.0, 0.0, 0.0}, 0.5));
    return ecology;
}

TEST(Connect, RefusalsInOrderAndTheStrongerSide) {
    Physics physics;
    physics.add(pieceAt({0.0, -1.0, 0.0}, 0.5)); // id 1, under block 1
    physics.add(pieceAt({0.0, -2.0, 0.0}, 0.5)); // id 2, dead
    physics.pieces[1].alive = false;
    const Vec3 east{1.01, 0.0, 0.0}, down{0.0, -1.0, 0.0};
    const struct {
        std::uint32_t a, b;
        bool toWorld, usePhysics, made;
    } cases[] = {
        {1, 2, false, false, true},  {2, 1, false, false, true},  {1, 1, false, false, false},
        {0, 2, false, false, false}, {1, 3, false, false, false}, {1, 7, false, false, false},
        {1, 1, true, true, true},    {1, 1, true, false, false},  {1, 2, true, true, false},
        {1, 3, true, true, false},   {2, 1, true, true, false},
    };
    for (const auto& c : cases) {
        Ecology ecology = touchingPair();
        const Vec3 offset = c.toWorld ? down : (c.a == 1 ? east : -east);
        EXPECT_EQ(ecology.connect(c.a, c.b, c.toWorld, offset, c.usePhysics ? &physics : nullptr), c.made)
            << c.a << " " << c.b << " " << c.toWorld;
        if (c.made) {
            EXPECT_DOUBLE_EQ(ecology.bonds[0].strength, 800.0);
        }
    }

    // Either side's Connection faces make the bond, at the larger strength; a second bond between
    // the pair is refused in either order; the 2,305th bond is refused.
    Ecology ecology = touchingPair();
    ecology.organisms[0].orientation = aboutAxis({0.0, 1.0, 0.0}, pi / 2.0);
    ecology.organisms[0].faceMask = 0;
    EXPECT_FALSE(ecology.connect(1, 2, false, east, nullptr));
    ecology.organisms[1].ability = Ability::Connection;
    ecology.organisms[1].strengthPerArea = 1000.0;
    EXPECT_TRUE(ecology.connect(1, 2, false, east, nullptr));
    const BioBond made = ecology.bonds.back();
    EXPECT_DOUBLE_EQ(made.strength, 1000.0);
    EXPECT_NEAR(made.anchor.z, 1.01, 1e-12); // the offset in block 1's turned frame
    EXPECT_NEAR(made.rotation.y, -std::sin(pi / 4.0), 1e-12);
    EXPECT_FALSE(ecology.connect(1, 2, false, east, nullptr));
    EXPECT_FALSE(ecology.connect(2, 1, false, -east, nullptr));
    ecology.bonds[0].active = 0;
    ecology.bonds.resize(2303, BioBond{7, 8, 0, 1, {}, 1.0, {}});
    EXPECT_TRUE(ecology.connect(2, 1, false, -east, nullptr));
    ecology.bonds.back().active = 0;
    EXPECT_FALSE(ecology.connect(2, 1, false, -east, nullptr)); // inactive bonds count toward the cap
}

TEST(SpringPass, PullsBreaksAndLapses) {
    const double dt = 1.0 / 60.0;
    // A spring stretched 0.36 m breaks whatever its strength; at 0.34 m it pulls.
    for (const double stretch : {0.34, 0.36}) {
        Ecology ecology = touchingPair();
        ecology.time = 2.0;
        ecology.bonds.push_back({1, 2, 0, 1, {1.01 - stretch, 0.0, 0.0}, 1e30, {}});
        ecology.bonds.push_back({3, 99, 0, 1, {}, 1e30, {}}); // its far end is no organism
        Physics physics;
        ecology.springPass(physics, dt);
        const bool broke = stretch > 0.35;
        EXPECT_EQ(ecology.bonds.size(), broke ? 0u : 1u);
        EXPECT_EQ(ecology.bondsBroken, broke ? 1u : 0u);
        EXPECT_EQ(ecology.organisms[1].busyUntil, broke ? 2.5 : 0.0);
        EXPECT_NEAR(ecology.organisms[0].velocity.x, broke ? 0.0 : dt / 80.0 * 180.0 * 40.0 * stretch, 1e-12);
        EXPECT_EQ(ecology.organisms[0].velocity.x, -ecology.organisms[1].velocity.x);
    }

    // A piece is pushed back through contactImpulse by its id; an anchored piece is immovable for the
    // spring (the reduced mass is the block's) but is still pushed. Flagged after the last refresh, the
    // anchored piece here still moves with its assembly, which shows the push.
    for (const bool anchored : {false, true}) {
        Physics physics;
        physics.add(pieceAt({50.0, 0.0, 0.0}, 0.5));
        const std::uint32_t id = physics.add(pieceAt({1.1, 0.0, 0.0}, 0.5)); // 1200 kg
        physics.refreshTopology();
        physics.pieces[id - 1].anchored = anchored;
        Ecology ecology = touchingPair();
        ecology.bonds.push_back({1, id, 1, 1, {1.0, 0.0, 0.0}, 1e9, {}});
        ecology.bonds.push_back({1, 3, 1, 1, {}, 1e9, {}}); // piece id 3 does not exist
        ecology.springPass(physics, dt);
        const double m = anchored ? 80.0 : 1.0 / (1.0 / 80.0 + 1.0 / 1200.0);
        const double force = 180.0 * m * 0.1;
        EXPECT_NEAR(ecology.organisms[0].velocity.x, dt * force / 80.0, 1e-12);
        EXPECT_NEAR(physics.pieces[id - 1].body.velocity.x, -dt * force / 1200.0, 1e-12);
        EXPECT_EQ(physics.pieces[0].body.velocity.x, 0.0);
        EXPECT_EQ(ecology.bonds.size(), 1u);
        EXPECT_EQ(ecology.bondsBroken, 0u);
    }
}

// The bonding pass as written: every pair tried through connect, with its linear searches.
void referenceBondingPass(Ecology& ecology, const Physics& physics) {
    for (Organism& i : ecology.organisms) {
        if (!i.alive || i.kind != LifeKind::Block || i.gray || i.ability != Ability::Connection ||
            i.busyUntil > ecology.time)
            continue;
        const double cost = 0.003 * 8.0 * i.halfExtents.x * i.halfExtents.y * i.halfExtents.z;
        for (const Organism& j : ecology.organisms)
            if (i.massBudget > 0.0 && &j != &i && j.alive && !j.placing && j.busyUntil <= ecology.time &&
                ecology.connect(i.id, j.id, false, j.center - i.center, nullptr))
                i.massBudget = std::max(0.0, i.massBudget - cost);
        Box reach = Ecology::bounds(i);
        reach.min -= Vec3{0.03, 0.03, 0.03};
        reach.max += Vec3{0.03, 0.03, 0.03};
        for (const std::uint32_t id : physics.query(reach))
            if (i.massBudget > 0.0 &&
                ecology.connect(i.id, id, true, physics.pieces[id - 1].body.center - i.center, &physics))
                i.massBudget = std::max(0.0, i.massBudget - cost);
    }
}

// A jittered 6 x 4 x 4 lattice of blocks of every kind and state over anchored ground, with loose
// pieces beside it.
void buildLattice(Ecology& ecology, Physics& physics) {
    std::uint32_t seed = 1;
    auto draw = [&] { return unitHash(seed++); };
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 4; ++y)
            for (int z = 0; z < 4; ++z) {
                const Vec3 jitter{0.05 * draw(), 0.02 * draw(), 0.0};
                Organism o = block(Vec3{1.0 * x, 0.5 + 1.0 * y, 1.0 * z} + jitter, draw() < 0.8 ? 0.5 : 0.3,
                                   static_cast<Ability>(draw() < 0.6 ? 2 : static_cast<int>(2.0 * draw())));
                o.faceMask = draw() < 0.7 ? 63u : static_cast<std::uint32_t>(64.0 * draw());
                o.gray = draw() < 0.1;
                o.placing = draw() < 0.1;
                o.alive = draw() > 0.05;
                o.busyUntil = draw() < 0.1 ? 5.0 : 0.0;
                o.massBudget = draw() < 0.2 ? 0.0035 : 1.0;
                o.kind = draw() < 0.05 ? LifeKind::Cube : LifeKind::Block;
                if (draw() < 0.2)
                    o.orientation = aboutAxis({0.0, 1.0, 0.0}, draw() < 0.5 ? pi / 2.0 : 0.3);
                place(ecology, o);
            }
    physics.add(pieceAt({2.5, -4.0, 1.5}, 4.0, true));
    for (int z = 0; z < 4; ++z)
        physics.add(pieceAt({-1.0 - 0.01 * z, 0.5, 1.0 * z}, 0.5));
    physics.refreshTopology();
}

TEST(BondingPass, MakesTheBondsConnectWouldAndStaysSafePastTheCap) {
    for (const std::size_t filler : {0u, 2250u}) {
        Ecology fast;
        Physics physics;
        buildLattice(fast, physics);
        fast.time = 1.0;
        fast.bonds.assign(filler, BioBond{900, 901, 0, 1, {}, 1.0, {}}); // ends that no organism has
        Ecology reference = fast;
        fast.bondingPass(physics);
        referenceBondingPass(reference, physics);
        ASSERT_EQ(fast.bonds.size(), reference.bonds.size());
        EXPECT_GT(fast.bonds.size(), filler + 40);
        EXPECT_EQ(fast.bonds.size() == Ecology::maxBonds, filler > 0); // the cap stops the pass
        EXPECT_TRUE(fast.bonds == reference.bonds);
        for (std::size_t k = 0; k < fast.organisms.size(); ++k)
            EXPECT_EQ(fast.organisms[k].massBudget, reference.organisms[k].massBudget) << k;
        EXPECT_TRUE(
            std::any_of(fast.bonds.begin(), fast.bonds.end(), [](const BioBond& b) { return b.toWorld; }));

        // Bonds appended past the cap by other paths are sprung, hit and refused like any others.
        fast.bonds.resize(Ecology::maxBonds + 100, fast.bonds[filler]);
        fast.bondingPass(physics);
        EXPECT_EQ(fast.bonds.size(), Ecology::maxBonds + 100);
        EXPECT_TRUE(fast.impact(fast.bonds[filler].a - 1, {0.0, 1e9, 0.0}, false));
        fast.springPass(physics, 1.0 / 60.0);
        EXPECT_LT(fast.bonds.size(), Ecology::maxBonds);
    }
}

TEST(WorldBonds, NamePiecesByIdAcrossCompaction) {
    Physics physics;
    for (int k = 0; k < 6; ++k)
        physics.add(pieceAt({10.0 + 2.0 * k, 0.0, 0.0}, 0.5, true));
    Ecology ecology;
    place(ecology, block({14.0, 1.0, 0.0}, 0.5)); // on piece index 2 (id 3)
    physics.refreshTopology();
    // The trace answers an index; connect takes the id.
    const PieceHit hit = physics.trace({14.0, 5.0, 0.0}, {0.0, -1.0, 0.0}, 10.0);
    ASSERT_TRUE(hit.hit);
    ASSERT_TRUE(ecology.connect(1, hit.index + 1, true,
                                physics.pieces[hit.index].body.center - Vec3{14.0, 1.0, 0.0}, &physics));
    EXPECT_EQ(ecology.bonds[0].b, 3u);
    ecology.bonds.push_back({1, 5, 1, 1, {}, 1.0, {}});
    ecology.bonds.push_back({1, 2, 1, 1, {}, 1.0, {}}); // to a piece that dies
    ecology.bonds.push_back({1, 1, 0, 1, {}, 1.0, {}}); // an organism bond keeps its ids

    physics.pieces[0].alive = false;
    physics.pieces[1].alive = false;
    ecology.renumberWorldBonds(physics.compactHistory()); // the renumbering compaction hands on
    ASSERT_EQ(ecology.bonds.size(), 3u);
    EXPECT_EQ(physics.pieces[ecology.bonds[0].b - 1].body.center.x, 14.0);
    EXPECT_EQ(physics.pieces[ecology.bonds[1].b - 1].body.center.x, 18.0);
    EXPECT_EQ(ecology.bonds[2].b, 1u);
    EXPECT_EQ(ecology.bondsBroken, 0u);
}

// The bonds' ends are found by id: the first alive organism in the list with the id, whether the
// ids lie close together (found in a table) or far apart (found by search).
TEST(AliveIndex, FindsTheFirstAliveOrganismWithAnId) {
    for (const std::uint32_t spread : {1u, 100000u}) {
        std::vector<Organism> organisms(6);
        const std::uint32_t ids[] = {7, 3, 7, 9, 3, 5};
        for (std::size_t k = 0; k < organisms.size(); ++k)
            organisms[k].id = ids[k] * spread;
        organisms[1].alive = 0;
        const AliveIndex alive(organisms);
        EXPECT_EQ(alive.find(7 * spread), 0u);
        EXPECT_EQ(alive.find(3 * spread), 4u); // the first is dead
        EXPECT_EQ(alive.find(9 * spread), 3u);
        for (const std::uint32_t missing : {0u, 4u * spread, 10u * spread, 0xFFFFFFFFu})
            EXPECT_EQ(alive.find(missing), AliveIndex::none) << missing;
    }
}

} // namespace
} // namespace zarn
