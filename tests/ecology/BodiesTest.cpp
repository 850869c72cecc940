#include <array>
#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"
#include "ecology/NearbyMatter.hpp"
#include "ecology/RandomDraws.hpp"
#include "physics/Hash.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {
namespace {

using ecotest::aboutAxis;
using ecotest::block;
using ecotest::pieceAt;
using ecotest::place;

const double dt = ecotest::bodyStep;
const Vec3 gravity = ecotest::bodyGravity;
const EarthModel& model() {
    return ecotest::flatModel();
}

Organism cube(const Vec3& center, double half = 0.5) {
    Organism o = block(center, half);
    o.kind = LifeKind::Cube;
    return o;
}

// Body steps with the player far away (or where given).
void run(Ecology& ecology, Physics& physics, int steps = 1, const Vec3& focus = {0.0, 0.0, 500.0}) {
    for (int k = 0; k < steps; ++k)
        ecology.moveBodies(physics, model(), focus, gravity, dt);
}

// An anchored ground slab whose top is at y = top, listed in the grid.
Physics groundAt(double top, double half = 20.0, std::uint64_t owner = 0) {
    Physics physics;
    MatterPiece ground = pieceAt({0.0, top - half, 0.0}, half, true);
    ground.owner = owner;
    physics.add(ground);
    physics.refreshTopology();
    return physics;
}

TEST(BodyStep, NewOrganismTakesTheFirstClearRingPlaceOrDies) {
    const double ring = 2.0 * std::sqrt(0.5) * (std::sqrt(0.75) + 1.0); // x and z of the second try
    const struct {
        double buildingY;
        Vec3 buildingHalf;
        bool alive;
        double moved;                                     // from where it stood, in x and z
    } cases[] = {{30.0, {1.0, 1.0, 1.0}, true, 0.0},      // clear where it stands
                 {10.5, {1.0, 1.0, 5.0}, true, ring},     // the second try is clear
                 {10.5, {60.0, 60.0, 60.0}, false, 0.0}}; // twenty tries fail
    for (const auto& c : cases) {
        Physics physics;
        MatterPiece building = pieceAt({0.0, c.buildingY, 0.0}, 1.0, true);
        building.body.halfExtents = c.buildingHalf;
        physics.add(building);
        physics.refreshTopology();
        Ecology ecology;
        place(ecology, cube({0.0, 10.5, 0.0}));
        ecology.organisms[0].placing = 1;
        run(ecology, physics);
        const Organism& o = ecology.organisms[0];
        EXPECT_EQ(o.alive != 0, c.alive);
        EXPECT_EQ(ecology.deaths, c.alive ? 0u : 1u);
        if (c.alive) {
            EXPECT_EQ(o.placing, 0);
            EXPECT_NEAR(o.center.x, c.moved, 1e-9);
            EXPECT_NEAR(o.center.z, c.moved, 1e-9);
        }
        EXPECT_EQ(physics.colliders.size(), c.alive ? 1u : 0u);
    }
}

TEST(BodyStep, FallingSlabLandsAndSplitsInTheSameStep) {
    const struct {
        double halfX;
        std::size_t filler; // dead organisms ahead of it in the list
        std::size_t count;
        bool marked;
    } cases[] = {{4.0, 0, 4, false}, {0.2, 0, 1, false}, {4.0, 381, 1, true}};
    for (const auto& c : cases) {
        Physics physics = groundAt(0.0);
        Ecology ecology;
        for (std::size_t k = 0; k < c.filler; ++k) {
            place(ecology, cube({0.0, 50.0, 0.0}));
            ecology.organisms.back().alive = 0;
        }
        Organism slab = cube({1.0, 0.51, 2.0});
        slab.kind = LifeKind::Slab;
        slab.stage = 2;
        slab.generation = 1;
        slab.halfExtents = {c.halfX, 0.5, 6.0};
        slab.velocity = {0.0, -5.0, 0.0}; // fast enough to hurt, were it not landing
        slab.brightness = 1.05;
        ecology.dayClock = 3.25;
        const std::size_t index = place(ecology, slab);
        const std::uint32_t parentId = ecology.organisms[index].id;
        run(ecology, physics);
        ASSERT_EQ(ecology.organisms.size() - c.filler, c.count) << c.halfX;
        EXPECT_EQ(ecology.births, c.count - 1);
        const Organism& first = ecology.organisms[index];
        EXPECT_EQ(first.fractureMarked != 0, c.marked);
        EXPECT_EQ(first.landed * first.stage, 3u);
        EXPECT_EQ(first.stageTime, 3.25);
        EXPECT_EQ(first.health, 100.0); // a landing hurts nothing
        if (c.count != 4)
            continue;
        const double fx = 0.38 + 0.24 * unitHash(parentId + 501u);
        const double fz = 0.38 + 0.24 * unitHash(parentId + 502u);
        const double lowX[2] = {-3.0 + fx * 4.0, -3.0 + 2.0 * fx * 4.0 + (1.0 - fx) * 4.0};
        const double lowZ[2] = {-4.0 + fz * 6.0, -4.0 + 2.0 * fz * 6.0 + (1.0 - fz) * 6.0};
        for (int part = 0; part < 4; ++part) {
            const Organism& child = ecology.organisms[part == 0 ? index : index + part];
            const int x = part % 2, z = part / 2;
            EXPECT_EQ(child.id, parentId + 1 + part);
            EXPECT_EQ(child.generation, 2u);
            EXPECT_DOUBLE_EQ(child.center.x, lowX[x]);
            EXPECT_DOUBLE_EQ(child.center.z, lowZ[z]);
            EXPECT_DOUBLE_EQ(child.halfExtents.x, x ? (1.0 - fx) * 4.0 : fx * 4.0);
            EXPECT_DOUBLE_EQ(child.halfExtents.z, z ? (1.0 - fz) * 6.0 : fz * 6.0);
            EXPECT_EQ(child.center.y, first.center.y);
            EXPECT_DOUBLE_EQ(child.brightness, (0.98 + 0.04 * unitHash(child.id)) * 1.05);
        }
    }
}

TEST(BodyStep, BodyMeetsMatterByIdAndLosesItsClosingSpeed) {
    // The struck piece is the second one (index 1, id 2). Flagged anchored after the last refresh, it
    // still moves with its assembly, which shows the push it gets; the organism meets it as immovable.
    Physics physics;
    physics.add(pieceAt({30.0, -0.5, 0.0}, 0.5));
    const std::uint32_t id = physics.add(pieceAt({0.0, -0.5, 0.0}, 0.5));
    physics.refreshTopology();
    physics.pieces[id - 1].anchored = true;
    Ecology ecology;
    place(ecology, cube({0.0, 0.51, 0.0}));
    ecology.organisms[0].velocity = {1.0, -2.0, 0.0};
    run(ecology, physics);
    const double closing = 2.0 + 9.80665 * dt;
    const Organism& o = ecology.organisms[0];
    EXPECT_NEAR(o.velocity.y, 0.0, 1e-12);
    EXPECT_EQ(o.velocity.x, 1.0);
    EXPECT_EQ(o.grounded, 1);
    EXPECT_NEAR(o.center.y, 0.5001, 1e-6);
    EXPECT_EQ(o.health, 100.0); // below 3 m/s a hit does not hurt
    EXPECT_NEAR(physics.pieces[id - 1].body.velocity.y, -closing * 80.0 / 1200.0, 1e-9);
    EXPECT_EQ(physics.pieces[0].body.velocity, Vec3{});
}

TEST(BodyStep, BlocksTipOnAnEdgeAndClimbOutOfTheGround) {
    // Turned 30 degrees about z, a block's lowest edge (left of its centre) strikes first and it
    // tips clockwise, at most 12 rad/s; then the ground's drag slows the spin for the rest of the step.
    for (const double speed : {1.0, 60.0}) {
        Physics physics = groundAt(0.0);
        Ecology ecology;
        place(ecology, block({0.0, 0.693, 0.0}, 0.5, Ability::Thrust));
        ecology.organisms[0].orientation = aboutAxis({0.0, 0.0, 1.0}, 0.5235987755982988);
        ecology.organisms[0].velocity = {0.0, -speed, 0.0};
        run(ecology, physics);
        const Vec3 spin = ecology.organisms[0].angularVelocity;
        EXPECT_NEAR(length(spin - Vec3{0.0, 0.0, spin.z}), 0.0, 1e-12);
        if (speed > 10.0)
            EXPECT_NEAR(spin.z, -12.0 * std::exp(-6.0 * dt), 1e-9);
        else
            EXPECT_TRUE(spin.z < -0.5 && spin.z > -2.0) << spin.z;
    }

    // Spawning makes no placement test: this pair of bonded blocks starts 0.3 m deep in the ground
    // and comes out whole. (Its thrusters are idle, and holding less than 1.8 times its volume it
    // does not copy itself.)
    BioAssembly species;
    species.boxes.resize(2);
    species.boxes[1].position = {0.8, 0.0, 0.0};
    for (BioTemplate& box : species.boxes) {
        box.power = 0.0;
        box.massBudget = 0.5;
    }
    species.bonds = {{0, 1}};
    Physics physics = groundAt(0.0);
    Ecology ecology;
    ecology.spawnAssembly(species, {0.0, -0.3, 0.0}, 1);
    run(ecology, physics, 60);
    for (const Organism& o : ecology.organisms) {
        EXPECT_NEAR(o.center.y, 0.4, 1e-3);
        EXPECT_LT(length(o.velocity), 0.2);
    }
    EXPECT_EQ(ecology.bonds.size() * ecology.bonds[0].active, 1u);
}

TEST(BodyStep, FarGroundHoldsUpWhatNoMatterLiesUnder) {
    // Across 630 m, 3-D 700 m from the focus: its chunk may be gone, and the far ground serves
    // beyond 640 m across, or wherever no matter lies under the organism.
    const struct {
        double x;
        bool pit; // matter under it, 1 m below the surface
        double restY;
    } cases[] = {{630.0, false, 0.5001}, {630.0, true, -0.4999}, {650.0, true, 0.5001}};
    for (const auto& c : cases) {
        Physics physics;
        if (c.pit)
            physics.add(pieceAt({c.x, -6.0, 0.0}, 5.0, true));
        physics.refreshTopology();
        Ecology ecology;
        place(ecology, cube({c.x, 0.6, 0.0}));
        run(ecology, physics, 60, {0.0, 290.0, 0.0});
        EXPECT_NEAR(ecology.organisms[0].center.y, c.restY, 1e-6) << c.x << " " << c.pit;
    }
}

// Grey blocks become matter of their patch's chunk while it is loaded, lying on the ground or not,
// as noted changes (no whole refresh); a block of a patch whose chunk is gone stays grey.
TEST(BodyStep, GreyBlockBecomesMatterOfItsPatchsChunk) {
    Physics physics = groundAt(0.0, 20.0, 7);
    Ecology ecology;
    ecology.matterChunks = std::set<std::uint64_t>{7, 9};
    const Quaternion turned = aboutAxis({0.0, 1.0, 0.0}, 1.5707963267948966);
    const std::size_t gray = place(ecology, block({0.0, 0.5001, 0.0}, 0.5, Ability::Thrust));
    ecology.organisms[gray].gray = 1;
    place(ecology, block({1.0, 0.5001, 0.0}));                       // id 2: Connection
    place(ecology, block({-1.0, 0.5001, 0.0}));                      // id 3: Connection
    place(ecology, block({0.0, 0.5001, 1.0}, 0.5, Ability::Thrust)); // id 4
    ecology.organisms[1].orientation = turned;
    const std::size_t aloft = place(ecology, block({0.0, 9.0, 0.0}, 0.5));
    const std::size_t away = place(ecology, block({5.0, 0.5001, 5.0}, 0.5));
    for (const std::size_t k : {gray, aloft, away}) {
        ecology.organisms[k].gray = 1;
        ecology.organisms[k].patch = k == away ? 5 : 9;
    }
    // Bonds at rest, so that the springs before the change neither pull nor break them.
    ecology.bonds = {{1, 2, 0, 1, {1.0, 0.0, 0.0}, 500.0, turned},   // reversed onto block 2
                     {3, 1, 0, 1, {1.0, 0.0, 0.0}, 500.0, {}},       // block 3 now holds the piece
                     {1, 4, 0, 1, {0.0, 0.0, 1.0}, 500.0, {}},       // no Connection at the far end
                     {1, 1, 1, 1, {0.0, -20.5001, 0.0}, 500.0, {}}}; // the grey block's own world bond
    const std::uint64_t whole = physics.fullRefreshCount;
    run(ecology, physics);
    EXPECT_EQ(physics.fullRefreshCount, whole);

    ASSERT_EQ(physics.pieces.size(), 3u);
    const MatterPiece& piece = physics.pieces[1];
    EXPECT_EQ(piece.owner, 9u); // the patch's, not the ground's
    EXPECT_EQ(piece.body.center, (Vec3{0.0, 0.5001, 0.0}));
    EXPECT_EQ(piece.body.mass, 1200.0);
    EXPECT_EQ(physics.pieces[2].owner, 9u); // the one in the air too
    EXPECT_FALSE(physics.query(physics.pieces[2].body.bounds()).empty());
    EXPECT_EQ(ecology.organisms[gray].alive + ecology.organisms[aloft].alive, 0);
    EXPECT_EQ(ecology.organisms[away].alive, 1); // its chunk is gone: still a grey organism
    EXPECT_EQ(ecology.deaths, 0u);
    const std::vector<BioBond>& b = ecology.bonds;
    EXPECT_EQ((std::array{b[0].a, b[0].b, std::uint32_t{b[0].toWorld}, std::uint32_t{b[0].active}}),
              (std::array<std::uint32_t, 4>{2, 2, 1, 1}));
    EXPECT_NEAR(b[0].anchor.z, -1.0, 1e-12); // (-1, 0, 0) in block 2's turned frame
    EXPECT_NEAR(b[0].rotation.y, -std::sqrt(0.5), 1e-12);
    EXPECT_EQ((std::array{b[1].a, b[1].b, std::uint32_t{b[1].toWorld}}),
              (std::array<std::uint32_t, 3>{3, 2, 1}));
    EXPECT_EQ(b[1].anchor, (Vec3{1.0, 0.0, 0.0}));
    EXPECT_EQ(b[2].active, 0);
    EXPECT_EQ(b[3].active, 0);

    // A compaction renumbers the piece; the bond follows it.
    physics.pieces[0].alive = false;
    const std::vector<std::uint32_t> newIds{0, 0, 1, 2};
    physics.compactHistory();
    ecology.renumberWorldBonds(newIds);
    EXPECT_EQ(ecology.bonds[0].b, 1u);
    EXPECT_EQ(physics.pieces[ecology.bonds[0].b - 1].body.center, (Vec3{0.0, 0.5001, 0.0}));
}

TEST(NearbyMatter, SweepsAsThePhysicsDoes) {
    // A jumble of turned pieces, some dead; bodies swept through it in sub-steps, each starting a
    // little aside from where the last ended, meet what Physics::sweepBody meets.
    Physics physics;
    std::uint32_t seed = 9;
    for (int k = 0; k < 300; ++k, seed += 7) {
        MatterPiece piece = pieceAt(randomVector(seed) * 12.0, 0.2 + unitHash(seed + 3));
        piece.body.orientation = randomRotation(seed + 4);
        piece.alive = unitHash(seed + 5) > 0.1;
        physics.add(piece);
    }
    physics.rebuildGrid();
    NearbyMatter nearby(physics);
    int hits = 0;
    for (int body = 0; body < 60; ++body, seed += 11) {
        Polyhedron moving = Ecology::body(block(randomVector(seed) * 14.0, 0.3 + unitHash(seed + 3)));
        moving.orientation = randomRotation(seed + 1);
        nearby.forget();
        Vec3 remaining;
        for (int step = 0; step < 6; ++step, seed += 5) {
            // A fresh motion now and then (a new query), else what is left of the last (the same).
            const Vec3 motion = step % 3 == 0 ? randomVector(seed) * (4.0 * unitHash(seed + 3)) : remaining;
            double expectedDepth = -1.0, depth = -1.0;
            const BodySweep expected = physics.sweepBody(moving, motion, expectedDepth);
            const BodySweep swept = nearby.sweep(moving, motion, depth);
            EXPECT_TRUE(std::tie(swept.hit, swept.index, swept.fraction, swept.position, swept.normal,
                                 depth) == std::tie(expected.hit, expected.index, expected.fraction,
                                                    expected.position, expected.normal, expectedDepth));
            hits += swept.hit;
            moving.center += motion * swept.fraction + randomVector(seed + 4) * 0.01;
            remaining = motion * (1.0 - swept.fraction);
        }
    }
    EXPECT_GT(hits, 60);
}

TEST(BodyContacts, CollidersAndThePushesTheyReceive) {
    Ecology ecology;
    place(ecology, cube({}));
    place(ecology, cube({5.0, 0.0, 0.0}));
    place(ecology, cube({9.0, 0.0, 0.0}));
    ecology.organisms[1].placing = 1;
    ecology.organisms[2].alive = 0;
    Physics physics;
    ecology.syncColliders(physics);
    ASSERT_EQ(physics.colliders.size(), 1u);
    EXPECT_EQ(physics.colliders[0].id, 1u);
    EXPECT_EQ(physics.colliders[0].body.mass, 80.0);

    // At a closing speed of exactly 3 m/s a push only moves; above it, it also hurts as a blast.
    for (const double closing : {3.0, 6.0}) {
        physics.externalImpulses = {{1, {0.0, 80.0, 0.0}, closing}, {3, {0.0, 80.0, 0.0}, 9.0}};
        ecology.organisms[0].velocity = {};
        ecology.organisms[0].health = 100.0;
        ecology.receiveContacts(physics);
        EXPECT_EQ(ecology.organisms[0].velocity, (Vec3{0.0, 1.0, 0.0}));
        EXPECT_NEAR(ecology.organisms[0].health, 100.0 - (closing - 3.0) / closing * 80.0 / 960.0 * 100.0,
                    1e-12);
        EXPECT_TRUE(physics.externalImpulses.empty());
    }
}

} // namespace
} // namespace zarn
