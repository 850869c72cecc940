#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"
#include "physics/StepTestSupport.hpp"
#include "support/BondReference.hpp"

namespace zarn {
namespace {

constexpr double g = 9.80665;

std::uint32_t addBox(Physics& physics, const Vec3& center, const Vec3& half, bool anchored = false) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = half;
    piece.anchored = anchored;
    return physics.add(piece);
}

const Vec3 cube{0.5, 0.5, 0.5};

const Bond* findBond(const Physics& physics, std::uint32_t a, std::uint32_t b) {
    for (const Bond& bond : physics.bonds)
        if (pairKey(bond.a, bond.b) == pairKey(a, b))
            return &bond;
    return nullptr;
}

Bond& bondOf(Physics& physics, std::uint32_t a, std::uint32_t b) {
    const Bond* bond = findBond(physics, a, b);
    EXPECT_NE(bond, nullptr);
    return const_cast<Bond&>(*bond);
}

TEST(LoadPaths, AColumnOnAnAnchoredCubeStandsAndCarriesItsWeight) {
    Physics physics;
    const std::uint32_t ground = addBox(physics, {0, 0.5, 0}, cube, true);
    const std::uint32_t low = addBox(physics, {0, 1.5, 0}, cube);
    const std::uint32_t mid = addBox(physics, {0, 2.5, 0}, cube);
    const std::uint32_t top = addBox(physics, {0, 3.5, 0}, cube);
    physics.connectTouching();

    ASSERT_EQ(physics.bonds.size(), 3u);
    EXPECT_FALSE(physics.topologyDirty);
    EXPECT_TRUE(physics.assemblies.empty());
    for (const MatterPiece& piece : physics.pieces) {
        EXPECT_TRUE(piece.supported);
        EXPECT_EQ(piece.assembly, -1);
    }
    // Three cubes of 1200 kg rest on the bottom bond of 1 m².
    EXPECT_NEAR(bondOf(physics, ground, low).stress, 35303.94, 35303.94 * 1e-6);
    EXPECT_NEAR(bondOf(physics, low, mid).stress, 2 * 1200 * g, 1e-6);
    EXPECT_NEAR(bondOf(physics, mid, top).stress, 1200 * g, 1e-6);
    EXPECT_NEAR(physics.pieces[low - 1].stress, 3 * 1200 * g, 1e-6);
    EXPECT_EQ(physics.pieces[ground - 1].stress, 0.0); // anchored pieces carry nothing further
    EXPECT_EQ(physics.brokenBondCount, 0u);
}

TEST(LoadPaths, ASideLoadedCantileverShearsAndBends) {
    Physics physics;
    // An anchored wall, x -1..0, and a 2 x 0.5 x 1 m plank of 1200 kg fixed to its side, x 0..2.
    const std::uint32_t wall = addBox(physics, {-0.5, 1, 0}, {0.5, 1, 0.5}, true);
    const std::uint32_t plank = addBox(physics, {1, 1.75, 0}, {1, 0.25, 0.5});
    physics.connectTouching();
    ASSERT_EQ(physics.bonds.size(), 1u);
    const double weight = 1200 * g;
    // The bond is 0.5 m² and vertical: no compression, shear = W / A. The plank's centre is 1 m
    // out from the bond: bending = (1 m · W) / (A · max(1, √A)) · 0.12 + shear.
    const double shear = weight / 0.5;
    const double bending = weight * 1.0 / 0.5 * 0.12 + shear;
    EXPECT_NEAR(bending, 26360.2752, 1e-6);
    EXPECT_NEAR(bondOf(physics, wall, plank).stress, bending, 1e-6);
    EXPECT_NEAR(physics.pieces[plank - 1].stress, bending, 1e-6);

    // A post under the plank's free end, 0.5 x 0.5 m², takes a third of the weight (shares go by
    // area) and the plank reports its more stressed bond, whichever comes first.
    const std::uint32_t post = addBox(physics, {1.75, 0.75, 0}, {0.25, 0.75, 0.25}, true);
    physics.connectTouching();
    ASSERT_EQ(physics.bonds.size(), 2u);
    const double sideShare = weight * 0.5 / 0.75;
    const double postShare = weight * 0.25 / 0.75;
    const double sideStress = sideShare * 1.0 / 0.5 * 0.12 + sideShare / 0.5;
    // The post bond is centred at (1.75, 1.5): the plank's centre is 0.75 m to the side of it.
    const double postStress = std::max(postShare / 0.25, postShare * 0.75 / 0.25 * 0.12);
    EXPECT_NEAR(sideStress, 17573.5168, 1e-6);
    EXPECT_NEAR(postStress, 15690.64, 1e-6);
    EXPECT_NEAR(bondOf(physics, wall, plank).stress, sideStress, 1e-6);
    EXPECT_NEAR(bondOf(physics, plank, post).stress, postStress, 1e-6);
    EXPECT_NEAR(physics.pieces[plank - 1].stress, sideStress, 1e-6);

    // The same three pieces numbered the other way round list the post bond first.
    Physics reversed;
    addBox(reversed, {1.75, 0.75, 0}, {0.25, 0.75, 0.25}, true);
    addBox(reversed, {1, 1.75, 0}, {1, 0.25, 0.5});
    addBox(reversed, {-0.5, 1, 0}, {0.5, 1, 0.5}, true);
    reversed.connectTouching();
    ASSERT_EQ(reversed.bonds.size(), 2u);
    ASSERT_EQ(pairKey(reversed.bonds[0].a, reversed.bonds[0].b), pairKey(1, 2));
    EXPECT_NEAR(reversed.pieces[1].stress, sideStress, 1e-6);

    // Without the post and with 5e-4 m² of bond the plank tears off by bending alone:
    // 1.0 · W / 5e-4 · 0.12 + W / 5e-4 ≈ 2.64e7 Pa > 2.5e7 Pa, with no compression at all.
    physics.pieces[post - 1].alive = false;
    physics.bonds[0].area = 5e-4;
    physics.topologyDirty = true;
    physics.refreshTopology();
    EXPECT_FALSE(bondOf(physics, wall, plank).intact);
    EXPECT_EQ(physics.brokenBondCount, 1u);
    EXPECT_FALSE(physics.pieces[plank - 1].supported);
    ASSERT_EQ(physics.assemblies.size(), 1u);
    EXPECT_EQ(physics.assemblies[0].members, (std::vector<std::uint32_t>{plank}));
}

TEST(LoadPaths, AWeakBondCrushesAndThePiecesAboveFallAsOneAssembly) {
    Physics physics;
    const std::uint32_t ground = addBox(physics, {0, 0.5, 0}, cube, true);
    // The two cubes above hang 0.5 m over the ground cube, joined to it only by the bond below.
    const std::uint32_t low = addBox(physics, {0, 2.0, 0}, cube);
    const std::uint32_t high = addBox(physics, {0, 3.0, 0}, cube);
    physics.connectTouching();
    ASSERT_EQ(physics.bonds.size(), 1u);
    Bond weak;
    weak.a = ground;
    weak.b = low;
    weak.area = 1.0;
    weak.center = {0, 1.25, 0};
    weak.normal = {0, 1, 0};
    physics.bonds.push_back(weak);
    physics.topologyDirty = true;
    physics.refreshTopology();
    ASSERT_TRUE(physics.pieces[high - 1].supported);
    ASSERT_TRUE(physics.assemblies.empty());

    // 1e-4 m² under two cubes: 2 · 1200 · g / 1e-4 ≈ 2.35e8 Pa of compression.
    physics.bonds.back().area = 1e-4;
    physics.pieces[low - 1].asleep = true;
    physics.pieces[high - 1].asleep = true;
    physics.pieces[low - 1].body.velocity = {1, 0, 0};
    physics.pieces[high - 1].body.velocity = {-1, 0, 0};
    physics.time = 3.0;
    physics.topologyDirty = true;
    physics.refreshTopology();

    EXPECT_FALSE(physics.bonds.back().intact);
    EXPECT_NEAR(physics.bonds.back().stress, 2 * 1200 * g / 1e-4, 1e-3);
    EXPECT_EQ(physics.brokenBondCount, 1u);
    EXPECT_EQ(physics.brokenPairs.count(pairKey(ground, low)), 1u);
    EXPECT_FALSE(physics.topologyDirty);
    ASSERT_EQ(physics.assemblies.size(), 1u);
    const Assembly& falling = physics.assemblies[0];
    EXPECT_EQ(falling.members, (std::vector<std::uint32_t>{low, high}));
    EXPECT_FALSE(falling.asleep);
    EXPECT_EQ(falling.wakeTime, 3.0);
    for (const std::uint32_t id : {low, high}) {
        const MatterPiece& piece = physics.pieces[id - 1];
        EXPECT_FALSE(piece.supported);
        EXPECT_FALSE(piece.asleep);
        EXPECT_EQ(piece.stateTime, 3.0);
        EXPECT_EQ(piece.assembly, 0);
    }
    EXPECT_TRUE(physics.pieces[ground - 1].supported);
    EXPECT_EQ(physics.pieces[ground - 1].assembly, -1);
    EXPECT_FALSE(physics.motionStopped);

    // Two stacked cubes: I = 2 · 1200/3 · 0.5 + 2 · 1200 · 0.5² about x and z, 2 · 200 about y.
    // The opposite velocities carry angular momentum 2 · 0.5 · 1200 about z.
    EXPECT_DOUBLE_EQ(falling.mass, 2400.0);
    EXPECT_NEAR(falling.center.y, 2.5, 1e-12);
    EXPECT_NEAR(length(falling.velocity), 0.0, 1e-12);
    EXPECT_NEAR(falling.inertia.x, 1000.0, 1e-9);
    EXPECT_NEAR(falling.inertia.y, 400.0, 1e-9);
    EXPECT_NEAR(falling.inertia.z, 1000.0, 1e-9);
    EXPECT_NEAR(falling.angularVelocity.z, 1.2, 1e-12);
    EXPECT_NEAR(falling.angularVelocity.x, 0.0, 1e-12);
}

// Two cubes bonded into a bar lying askew to the world's axes: grouped again and again as a collapse
// regroups its debris, the tumbling bar keeps its spin and its energy.
TEST(LoadPaths, RegroupingKeepsATumblingBodysSpinAndEnergy) {
    Physics physics;
    physics.setGravity({});
    physics.linearDrag = 0.0;
    physics.angularDrag = 0.0;
    const Quaternion askew{std::cos(0.4), 0.3 * std::sin(0.4), 0.2 * std::sin(0.4),
                           std::sqrt(0.87) * std::sin(0.4)};
    const Vec3 spin{0.5, -1.5, 0.7};
    for (const double side : {-0.5, 0.5}) {
        MatterPiece piece;
        piece.body.halfExtents = cube;
        piece.body.orientation = askew;
        piece.body.center = Vec3{0.0, 5.0, 0.0} + askew.rotate({side, 0.0, 0.0});
        piece.body.angularVelocity = spin;
        piece.body.velocity = cross(spin, piece.body.center - Vec3{0.0, 5.0, 0.0});
        physics.add(piece);
    }
    physics.addBond(1, 2);
    physics.refreshTopology();
    const double energy = steptest::movingEnergy(physics);
    for (int n = 0; n < 60; ++n) {
        physics.refreshTopology();
        physics.step(1.0 / 60.0);
        ASSERT_EQ(physics.assemblies.size(), 1u);
        EXPECT_NEAR(steptest::movingEnergy(physics), energy, 1e-9 * energy) << n;
        EXPECT_NEAR(length(physics.assemblies[0].angularVelocity - spin), 0.0, 1e-9) << n;
    }
}

TEST(LoadPaths, UpdateMembersCarriesThePiecesWithTheAssembly) {
    Physics physics;
    addBox(physics, {1, 0, 0}, cube);
    addBox(physics, {2, 0, 0}, cube);
    physics.connectTouching();
    ASSERT_EQ(physics.assemblies.size(), 1u);
    Assembly assembly = physics.assemblies[0];
    const Vec3 previous = assembly.center; // (1.5, 0, 0)
    assembly.center = {1.5, 4, 0};
    assembly.velocity = {0, 1, 0};
    assembly.angularVelocity = {0, 2, 0};
    const Quaternion quarterTurn{std::sqrt(0.5), 0, std::sqrt(0.5), 0}; // 90° about y: x goes to -z
    physics.updateMembers(assembly, previous, quarterTurn);

    const Polyhedron& first = physics.pieces[0].body;
    EXPECT_NEAR(first.center.x, 1.5, 1e-12);
    EXPECT_NEAR(first.center.y, 4.0, 1e-12);
    EXPECT_NEAR(first.center.z, 0.5, 1e-12);
    EXPECT_NEAR(physics.pieces[1].body.center.z, -0.5, 1e-12);
    EXPECT_NEAR(first.orientation.w, std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(first.orientation.y, std::sqrt(0.5), 1e-12);
    EXPECT_EQ(first.angularVelocity, assembly.angularVelocity);
    // v + ω × r with r = (0, 0, 0.5): (0, 1, 0) + (2 · 0.5, 0, 0).
    EXPECT_NEAR(first.velocity.x, 1.0, 1e-12);
    EXPECT_NEAR(first.velocity.y, 1.0, 1e-12);
    EXPECT_NEAR(first.velocity.z, 0.0, 1e-12);
}

TEST(LoadPaths, NewPiecesBondOnceToOldAndNewNeighbours) {
    Physics physics;
    addBox(physics, {0, 0.5, 0}, cube, true);
    addBox(physics, {1, 0.5, 0}, cube, true);
    physics.connectTouching();
    ASSERT_EQ(physics.bonds.size(), 1u);

    const std::uint32_t first = addBox(physics, {1, 1.5, 0}, cube);
    addBox(physics, {2, 1.5, 0}, cube);
    addBox(physics, {5, 5, 5}, cube); // touches nothing
    physics.connectNew(first);
    // Old pairs are not tried again; new-old and new-new pairs once each, from the new side.
    ASSERT_EQ(physics.bonds.size(), 3u);
    EXPECT_EQ(physics.bonds[1].a, 3u);
    EXPECT_EQ(physics.bonds[1].b, 2u);
    EXPECT_EQ(physics.bonds[2].a, 3u);
    EXPECT_EQ(physics.bonds[2].b, 4u);
    EXPECT_NEAR(physics.bonds[1].normal.y, -1.0, 1e-12);
    EXPECT_TRUE(physics.pieces[3].supported);
    ASSERT_EQ(physics.assemblies.size(), 1u);
    EXPECT_EQ(physics.assemblies[0].members, (std::vector<std::uint32_t>{5}));
}

TEST(LoadPaths, ConnectTouchingFormsBrokenPairsAfresh) {
    Physics physics;
    addBox(physics, {0, 0.5, 0}, cube, true);
    addBox(physics, {0, 1.5, 0}, cube);
    physics.connectTouching();
    physics.bonds[0].intact = false;
    physics.topologyDirty = true;
    physics.refreshTopology();
    ASSERT_EQ(physics.brokenPairs.count(pairKey(1, 2)), 1u);
    ASSERT_FALSE(physics.pieces[1].supported);

    physics.connectTouching();
    EXPECT_TRUE(physics.brokenPairs.empty());
    ASSERT_EQ(physics.bonds.size(), 1u);
    EXPECT_TRUE(physics.bonds[0].intact);
    EXPECT_TRUE(physics.pieces[1].supported);
    EXPECT_TRUE(physics.assemblies.empty());
}

TEST(LoadPaths, AChainOfFailuresStopsAfterEightPassesAndGoesOnAtTheNextRefresh) {
    // Twelve cubes side by side, each on its own anchored pillar. The first pillar bond fails
    // under one cube; every other one holds one cube's weight but not two. Each failure hangs
    // the cubes already cut loose on the next one: one more bond breaks in every pass.
    Physics physics;
    constexpr int count = 12;
    for (int i = 0; i < count; ++i) {
        addBox(physics, {static_cast<double>(i), 0.5, 0}, cube, true);
        addBox(physics, {static_cast<double>(i), 1.5, 0}, cube);
    }
    physics.connectTouching();
    ASSERT_EQ(physics.brokenBondCount, 0u);
    const double weight = 1200 * g;
    for (int i = 0; i < count; ++i) {
        const auto pillar = static_cast<std::uint32_t>(2 * i + 1);
        bondOf(physics, pillar, pillar + 1).area = weight / (i == 0 ? 9e7 : 3e7);
    }
    physics.topologyDirty = true;
    physics.refreshTopology();
    EXPECT_EQ(physics.brokenBondCount, 8u);
    EXPECT_TRUE(physics.topologyDirty);
    for (int i = 0; i < count; ++i) {
        const auto pillar = static_cast<std::uint32_t>(2 * i + 1);
        EXPECT_EQ(bondOf(physics, pillar, pillar + 1).intact, i >= 8) << i;
        // The cubes cut loose still hang on their neighbours.
        EXPECT_TRUE(physics.pieces[pillar].supported) << i;
    }
    EXPECT_TRUE(physics.assemblies.empty());

    physics.refreshTopology();
    EXPECT_EQ(physics.brokenBondCount, 12u);
    EXPECT_FALSE(physics.topologyDirty);
    ASSERT_EQ(physics.assemblies.size(), 1u);
    EXPECT_EQ(physics.assemblies[0].members.size(), static_cast<std::size_t>(count));
}

// Bonding finds candidates through the cell lists it met lately, through a fine grid where the cells
// list very many pieces, and by a scan for a huge reach; every way must bond as trying every listed
// piece does, for a whole world and for new pieces joining it: rows of boxes across a cell border,
// gaps on both sides of the bond gap, some turned, dead or added out of order, a block of small
// cubes and a huge slab under it all.
TEST(LoadPaths, BondingMakesTheBondsOfTryingEveryListedPiece) {
    std::uint64_t state = 7;
    auto next = [&state](std::uint64_t below) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (state >> 33) % below;
    };
    auto addRows = [&](Physics& world, int fromX, int toX, bool shuffled) {
        std::vector<Vec3> spots;
        for (int x = fromX; x < toX; ++x)
            for (int y = 0; y < 5; ++y)
                for (int z = -2; z < 2; ++z)
                    if (next(4) != 0)
                        spots.push_back({x + 0.5, y + 0.5, z + 0.5});
        for (std::size_t i = spots.size(); shuffled && i > 1; --i)
            std::swap(spots[i - 1], spots[next(i)]);
        for (const Vec3& spot : spots) {
            const Vec3 half{0.5 - 0.006 * next(4), 0.5 - 0.006 * next(4), 0.5 - 0.006 * next(4)};
            const std::uint32_t id = addBox(world, spot, half);
            MatterPiece& piece = world.pieces[id - 1];
            const double turn = next(8) == 0 ? 0.02 * static_cast<double>(next(20)) : 0.0;
            piece.body.orientation = {std::cos(turn), 0.0, std::sin(turn), 0.0};
            piece.alive = next(16) != 0;
        }
    };
    Physics world;
    addBox(world, {32.0, -300.0, 0.0}, {300.0, 300.0, 300.0}, true);
    addRows(world, 26, 38, false);
    for (int i = 0; i < 600; ++i)
        addBox(world, {0.1 + 0.2 * (i % 10), 0.1 + 0.2 * (i / 100), 0.1 + 0.2 * (i / 10 % 10)},
               {0.1, 0.1, 0.1});
    world.connectTouching();
    test::expectSameBonds(world.bonds, test::bondsTryingEveryListedPiece(world, 1, 0));
    EXPECT_GT(world.bonds.size(), 1000u);

    const std::size_t kept = world.bonds.size();
    const auto first = static_cast<std::uint32_t>(world.pieces.size() + 1);
    addRows(world, 36, 42, true);
    world.connectNew(first);
    test::expectSameBonds(world.bonds, test::bondsTryingEveryListedPiece(world, first, kept));
    EXPECT_GT(world.bonds.size(), kept + 100);
}

TEST(LoadPaths, BondsOfDeadPiecesFallAwayWithoutBreaking) {
    Physics physics;
    addBox(physics, {0, 0.5, 0}, cube, true);
    addBox(physics, {0, 1.5, 0}, cube);
    addBox(physics, {0, 2.5, 0}, cube);
    physics.connectTouching();
    physics.pieces[2].alive = false;
    physics.time = 1.5;
    physics.topologyDirty = true;
    physics.refreshTopology();

    EXPECT_TRUE(physics.bonds[0].intact);
    EXPECT_FALSE(physics.bonds[1].intact);
    EXPECT_EQ(physics.brokenBondCount, 0u);
    EXPECT_EQ(physics.brokenPairs.count(pairKey(2, 3)), 1u);
    EXPECT_FALSE(physics.pieces[2].supported);
    EXPECT_EQ(physics.pieces[2].stateTime, 1.5);
    EXPECT_EQ(physics.pieces[2].assembly, -1);
    EXPECT_TRUE(physics.assemblies.empty());
    EXPECT_NEAR(physics.bonds[0].stress, 1200 * g, 1e-6);
    EXPECT_TRUE(physics.adjacency[2].empty());
}

// The load pass read plainly: one breadth-first walk from every anchor of the world in id order,
// then the whole queue backwards. The library walks one component of loose matter at a time and
// must agree with it to the last bit.
void plainLoadPass(Physics& physics) {
    const std::size_t count = physics.pieces.size();
    std::vector<std::int64_t> depth(count, -1);
    std::vector<std::uint32_t> queue;
    for (std::size_t i = 0; i < count; ++i)
        if (physics.pieces[i].alive && physics.pieces[i].anchored) {
            depth[i] = 0;
            queue.push_back(static_cast<std::uint32_t>(i));
        }
    auto other = [&](std::uint64_t k, std::uint32_t i) {
        const Bond& bond = physics.bonds[k];
        return (bond.a == i + 1 ? bond.b : bond.a) - 1;
    };
    for (std::size_t head = 0; head < queue.size(); ++head)
        for (const std::uint64_t k : physics.adjacency[queue[head]]) {
            const std::uint32_t n = other(k, queue[head]);
            if (depth[n] < 0) {
                depth[n] = depth[queue[head]] + 1;
                queue.push_back(n);
            }
        }
    std::vector<double> load(count);
    for (std::size_t i = 0; i < count; ++i) {
        MatterPiece& piece = physics.pieces[i];
        const bool reached = piece.alive && depth[i] >= 0;
        if (piece.supported && !reached) {
            piece.supported = false;
            piece.asleep = false;
            piece.stateTime = physics.time;
        } else if (reached) {
            piece.supported = true;
        }
        load[i] = length(physics.gravity) * piece.body.mass;
    }
    const Vec3 down = normalized(physics.gravity);
    for (std::size_t q = queue.size(); q-- > 0;) {
        const std::uint32_t i = queue[q];
        MatterPiece& piece = physics.pieces[i];
        if (piece.anchored)
            continue;
        double area = 0.0;
        for (const std::uint64_t k : physics.adjacency[i])
            if (depth[other(k, i)] < depth[i])
                area += physics.bonds[k].area;
        const double spread = area > 1e-4 ? area : 1e-4;
        bool first = true;
        for (const std::uint64_t k : physics.adjacency[i]) {
            const std::uint32_t n = other(k, i);
            if (depth[n] >= depth[i])
                continue;
            Bond& bond = physics.bonds[k];
            const double share = load[i] * bond.area / spread;
            load[n] += share;
            const double c = dot(bond.normal, down);
            const double compressive = std::abs(c) * share / bond.area;
            const double shear = std::sqrt(std::max(0.0, 1.0 - c * c)) * share / bond.area;
            const Vec3 r = piece.body.center - bond.center;
            const double lever = length(r - down * dot(down, r)) * share;
            const double bending = lever / (bond.area * std::max(1.0, std::sqrt(bond.area))) * 0.12 + shear;
            bond.stress = std::max(bending, compressive);
            piece.stress = first ? bond.stress : std::max(piece.stress, bond.stress);
            first = false;
            if (compressive > 4.5e7 || bending > 2.5e7) {
                bond.intact = false;
                ++physics.brokenBondCount;
                physics.topologyDirty = true;
            }
        }
    }
}

// Whether two worlds hold the same supports, stresses and bonds, to the bit.
testing::AssertionResult sameLoads(const Physics& a, const Physics& b) {
    if (a.brokenBondCount != b.brokenBondCount)
        return testing::AssertionFailure()
               << "broken bonds " << a.brokenBondCount << " " << b.brokenBondCount;
    for (std::size_t i = 0; i < a.pieces.size(); ++i) {
        const MatterPiece& x = a.pieces[i];
        const MatterPiece& y = b.pieces[i];
        if (x.supported != y.supported || x.stress != y.stress || x.asleep != y.asleep ||
            x.stateTime != y.stateTime)
            return testing::AssertionFailure() << "piece " << i << ": stress " << x.stress << " " << y.stress;
    }
    for (std::size_t k = 0; k < a.bonds.size(); ++k)
        if (a.bonds[k].stress != b.bonds[k].stress || a.bonds[k].intact != b.bonds[k].intact)
            return testing::AssertionFailure()
                   << "bond " << k << ": stress " << a.bonds[k].stress << " " << b.bonds[k].stress;
    return testing::AssertionSuccess();
}

TEST(LoadPaths, ComponentWalksAgreeWithOneWalkOverTheWorld) {
    // Two walls of 16 x 8 x 2 cubes of assorted weights, cut in two by a dead column, with holes,
    // on anchored pillars that were added last and in shuffled order, so that a walk gathering
    // a component meets its anchors out of id order. Some bonds are weakened to break.
    Physics world;
    std::uint64_t state = 99;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 33;
    };
    for (int x = 0; x < 16; ++x)
        for (int y = 1; y < 9; ++y)
            for (int z = 0; z < 2; ++z) {
                const std::uint32_t id =
                    addBox(world, {static_cast<double>(x), y + 0.5, static_cast<double>(z)}, cube);
                world.pieces[id - 1].alive = x != 7 && (y < 3 || next() % 9 != 0);
                world.pieces[id - 1].body.mass *= 1.0 + static_cast<double>(next() % 1000) / 7.0;
            }
    std::vector<int> pillars;
    for (int x = 0; x < 16; ++x)
        if (x != 7 && next() % 3 != 0)
            pillars.push_back(x);
    for (std::size_t i = pillars.size(); i > 1; --i)
        std::swap(pillars[i - 1], pillars[next() % i]);
    for (const int x : pillars)
        addBox(world, {static_cast<double>(x), 0.5, static_cast<double>(next() % 2)}, cube, true);
    // Loose matter: a bar of three cubes and a single one in the air.
    for (int x = 0; x < 3; ++x)
        addBox(world, {static_cast<double>(x), 20.5, 0}, cube);
    addBox(world, {8, 20.5, 0}, cube);
    world.connectTouching();
    for (Bond& bond : world.bonds)
        if (next() % 5 == 0)
            bond.area *= static_cast<double>(next() % 1000 + 1) * 1e-6;

    for (int pass = 0; pass < 8; ++pass) {
        Physics library = world;
        library.rebuildAdjacency();
        library.refreshLoadPaths();
        world.rebuildAdjacency();
        plainLoadPass(world);
        ASSERT_TRUE(sameLoads(library, world));
    }
    EXPECT_GT(world.brokenBondCount, 3u);

    // The refresh reaches the same end as its parts called one by one.
    Physics whole = world;
    whole.topologyDirty = true;
    whole.refreshTopology();
    Physics parts = world;
    for (int pass = 0; pass < 8; ++pass) {
        parts.topologyDirty = false;
        parts.rebuildAdjacency();
        parts.refreshLoadPaths();
        if (!parts.topologyDirty)
            break;
    }
    parts.rebuildAdjacency();
    parts.rebuildAssemblies();
    ASSERT_EQ(whole.assemblies.size(), parts.assemblies.size());
    EXPECT_GE(whole.assemblies.size(), 2u);
    for (std::size_t a = 0; a < whole.assemblies.size(); ++a) {
        EXPECT_EQ(whole.assemblies[a].members, parts.assemblies[a].members);
        EXPECT_EQ(whole.assemblies[a].center, parts.assemblies[a].center);
        EXPECT_EQ(whole.assemblies[a].angularVelocity, parts.assemblies[a].angularVelocity);
    }
    for (std::size_t i = 0; i < whole.pieces.size(); ++i) {
        EXPECT_EQ(whole.pieces[i].assembly, parts.pieces[i].assembly);
        EXPECT_EQ(whole.pieces[i].stress, parts.pieces[i].stress);
    }
    EXPECT_EQ(whole.adjacency, parts.adjacency);
}

// The whole refresh read plainly: the adjacency lists made bond by bond, and load passes until one
// breaks nothing (eight at most), with the lists made again after a pass that broke bonds.
void plainAdjacency(Physics& physics) {
    const std::size_t count = physics.pieces.size();
    physics.adjacency.assign(count, {});
    for (std::size_t k = 0; k < physics.bonds.size(); ++k) {
        Bond& bond = physics.bonds[k];
        if (bond.a == 0 || bond.b == 0 || bond.a > count || bond.b > count ||
            !physics.pieces[bond.a - 1].alive || !physics.pieces[bond.b - 1].alive)
            bond.intact = false;
        if (bond.intact) {
            physics.adjacency[bond.a - 1].push_back(k);
            physics.adjacency[bond.b - 1].push_back(k);
        }
    }
}

void plainRefresh(Physics& physics) {
    for (int pass = 0; pass < 8; ++pass) {
        physics.topologyDirty = false;
        plainAdjacency(physics);
        plainLoadPass(physics);
        if (!physics.topologyDirty)
            return;
    }
    plainAdjacency(physics);
}

// Rows of boxes of assorted widths, heights and weights, two deep, stacked in layers, so that bond
// areas run from slivers to several square metres; a tilted gravity, so that no bond is level or
// upright to it; dead boxes, loose boxes and weakened bonds. The refresh must agree with the plain
// one to the last bit, through chains of failures that run over several refreshes.
TEST(LoadPaths, TheRefreshAgreesWithThePlainOneOnRandomWorlds) {
    struct Case {
        std::uint64_t seed;
        Vec3 gravity;
    };
    const Case cases[] = {{1, {0, -g, 0}}, {2, {0.9, -g, 0.4}}, {3, {-0.3, -g, 1.2}}, {4, {2.5, -8.0, -1.5}}};
    for (const Case& test : cases) {
        std::uint64_t state = test.seed;
        auto next = [&state](std::uint64_t range) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return (state >> 33) % range;
        };
        Physics world;
        world.setGravity(test.gravity);
        double y = 0.0;
        for (int layer = 0; layer < 6; ++layer) {
            const double height = 0.25 + 0.25 * static_cast<double>(next(8));
            for (int row = 0; row < 2; ++row) {
                double x = 0.0;
                while (x < 12.0) {
                    const double width = 0.5 + 0.25 * static_cast<double>(next(10));
                    const std::uint32_t id = addBox(world, {x + width / 2, y + height / 2, row + 0.5},
                                                    {width / 2, height / 2, 0.5}, layer == 0 && next(3) != 0);
                    MatterPiece& piece = world.pieces[id - 1];
                    piece.body.mass *= 1.0 + static_cast<double>(next(400)) / 9.0;
                    piece.alive = layer == 0 || next(12) != 0;
                    x += width;
                }
            }
            y += height;
        }
        addBox(world, {3, y + 5, 0.5}, cube); // loose in the air
        // Apart from the rows, stacks of one to three cubes on one anchored slab: many components
        // resting on the same anchor, each through its own bond to it.
        addBox(world, {6, 0.5, 6}, {6, 0.5, 1}, true);
        for (int stack = 0; stack < 6; ++stack)
            for (std::uint64_t level = 0, height = 1 + next(3); level < height; ++level)
                addBox(world, {1.0 + 2 * stack, 1.5 + static_cast<double>(level), 6}, cube);
        world.connectTouching();
        for (Bond& bond : world.bonds)
            if (next(6) == 0)
                bond.area *= static_cast<double>(next(1000) + 1) * 1e-5;

        Physics plain = world;
        for (int refresh = 0; refresh < 3; ++refresh) {
            world.topologyDirty = true;
            world.refreshTopology();
            plainRefresh(plain);
            SCOPED_TRACE(testing::Message() << "seed " << test.seed << " refresh " << refresh);
            ASSERT_EQ(world.adjacency, plain.adjacency);
            ASSERT_TRUE(sameLoads(world, plain));
        }
        EXPECT_GT(world.brokenBondCount, 0u);
        EXPECT_FALSE(world.assemblies.empty());
    }
}

TEST(LoadPaths, TheRefreshFreezesMatterOnlyWhenTheMotionWindowHasEnded) {
    auto looseCube = [] {
        Physics physics;
        addBox(physics, {0, 5, 0}, cube);
        physics.pieces[0].body.velocity = {0, -3, 0};
        physics.connectTouching();
        return physics;
    };

    // Long window closed, a contact reopened it for 0.25 s: the refresh leaves the cube moving.
    Physics physics = looseCube();
    physics.time = 20.0;
    physics.motionUntil = 10.0;
    physics.motionStopped = true;
    physics.wakePending = true;
    physics.wakeDeadline = 20.25;
    physics.topologyDirty = true;
    physics.refreshTopology();
    ASSERT_EQ(physics.assemblies.size(), 1u);
    EXPECT_FALSE(physics.assemblies[0].asleep);
    EXPECT_EQ(physics.pieces[0].body.velocity.y, -3.0);
    EXPECT_TRUE(physics.motionStopped);
    EXPECT_TRUE(physics.wakePending);
    EXPECT_EQ(physics.motionWindowEnd(), 20.25);

    // Past the short window the same refresh freezes everything.
    physics.time = 20.25;
    physics.topologyDirty = true;
    physics.refreshTopology();
    EXPECT_TRUE(physics.assemblies[0].asleep);
    EXPECT_TRUE(physics.pieces[0].asleep);
    EXPECT_EQ(length(physics.pieces[0].body.velocity), 0.0);
    EXPECT_TRUE(physics.motionStopped);
    EXPECT_FALSE(physics.wakePending);
    EXPECT_EQ(physics.motionEndedAt, 10.0);

    // An open long window: moving; once it has run out: frozen.
    physics = looseCube();
    physics.time = 9.0;
    physics.topologyDirty = true;
    physics.refreshTopology();
    EXPECT_FALSE(physics.motionStopped);
    EXPECT_FALSE(physics.assemblies[0].asleep);
    physics.time = 10.0 - 1e-10;
    physics.topologyDirty = true;
    physics.refreshTopology();
    EXPECT_TRUE(physics.motionStopped);
    EXPECT_TRUE(physics.assemblies[0].asleep);
}

} // namespace
} // namespace zarn
