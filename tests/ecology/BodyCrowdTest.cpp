#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"
#include "ecology/RandomDraws.hpp"
#include "physics/Hash.hpp"
#include "planet/EarthModel.hpp"
#include "support/StateHash.hpp"

namespace zarn {
namespace {

using ecotest::block;
using ecotest::pieceAt;
using ecotest::place;

const double dt = ecotest::bodyStep;
const Vec3 gravity = ecotest::bodyGravity;
const EarthModel& model() {
    return ecotest::flatModel();
}

template <class... Values> void addAll(test::StateHash& h, const Values&... values) {
    (h.add(values), ...);
}

// Every field of an organism, bit for bit.
std::uint64_t organismHash(const Organism& o) {
    test::StateHash h;
    addAll(h, o.id, o.patch, static_cast<std::int32_t>(o.kind), o.stage, o.center, o.halfExtents, o.velocity,
           o.color, static_cast<std::int32_t>(o.ability), o.axis, o.massBudget, o.busyUntil, o.orientation,
           o.angularVelocity, o.power, o.strengthPerArea, o.faceMask, o.species, o.birthTime, o.stageTime,
           o.nextActionTime, o.brightness, o.biomass, o.generation, o.health);
    for (const std::uint8_t flag : {o.gray, o.alive, o.placing, o.grounded, o.landed, o.fractureMarked})
        h.add(std::uint32_t{flag});
    return h.value();
}

// The bonds, counters, matter and colliders besides the organisms.
std::uint64_t restHash(const Ecology& e, const Physics& physics) {
    test::StateHash h;
    for (const BioBond& b : e.bonds)
        addAll(h, b.a, b.b, std::uint32_t{b.toWorld} * 2u + b.active, b.anchor, b.strength, b.rotation);
    addAll(h, e.nextId, e.births, e.deaths, e.bondsBroken, e.grayBlocks, e.replications);
    test::hashPhysics(h, physics);
    for (const ExternalCollider& c : physics.colliders)
        addAll(h, c.id, c.body.center, c.body.orientation, c.body.velocity, c.body.mass);
    return h.value();
}

struct Crowd {
    Physics physics;
    Ecology ecology;
    Vec3 focus;
};

// Some 260 organisms of every kind packed around the player on a field of loose cubes that ends at
// x = 10, past which the far ground holds them up: Cubes in touching rows and thrown fast through
// the rest, turning Blocks, some grey that become matter, bonded species, Slabs falling to split on
// what is below, lying ones, a wide one listed apart and one 2 km across far away, a drifting one
// high above, newcomers placed inside others or in the matter, and the dead.
Crowd crowd(std::uint32_t seed) {
    Crowd c;
    c.focus = {4.0, 0.0, 1.0};
    // Without bonds to the matter, no spring pushes on it before the bodies' hits do.
    const std::uint32_t faceMask = seed < 500 ? 63 : 0;
    MatterPiece ground = pieceAt({-20.0, -10.0, 0.0}, 10.0, true);
    ground.body.halfExtents = {30.0, 10.0, 30.0};
    c.physics.add(ground);
    auto draw = [&] { return unitHash(seed++); };
    auto spot = [&](double x0, double x1, double z) {
        return Vec3{x0 + (x1 - x0) * draw(), 0.0, z * (2.0 * draw() - 1.0)};
    };
    for (int k = 0; k < 60; ++k) {
        const double half = 0.3 + 0.3 * draw();
        MatterPiece piece = pieceAt(spot(-30.0, 8.0, 14.0) + Vec3{0.0, half + 0.0001, 0.0}, half);
        if (k % 3 == 0)
            piece.body.orientation = randomRotation(seed += 3);
        c.physics.add(piece);
    }
    c.physics.refreshTopology();

    Ecology& e = c.ecology;
    BioAssembly species;
    species.name = "crowd";
    for (int k = 0; k < 8; ++k) {
        BioTemplate box;
        box.position = {0.7 * (k & 1), 0.7 * ((k >> 1) & 1), 0.7 * ((k >> 2) & 1)};
        box.halfExtents = {0.35, 0.35, 0.35};
        box.ability = static_cast<Ability>(k % 3);
        box.faceMask = faceMask;
        species.boxes.push_back(box);
        for (int axis = 1; axis < 8; axis <<= 1)
            if (!(k & axis))
                species.bonds.emplace_back(k, k | axis);
    }
    for (int k = 0; k < 4; ++k)
        e.spawnAssembly(species, spot(-20.0, 20.0, 10.0) + Vec3{0.0, 0.01, 0.0}, 1);

    for (int k = 0; k < 100; ++k) {
        const double half = 0.3 + 0.9 * draw();
        Organism o = block(spot(-30.0, 30.0, 15.0) + Vec3{0.0, half + 3.0 * draw(), 0.0}, half);
        o.kind = LifeKind::Cube;
        o.velocity = randomVector(seed += 3) * (k % 10 == 0 ? 30.0 : 2.0);
        if (k < 20) // a touching row on the ground
            o.center = {-12.0 + 1.2 * k, 0.6001, -3.0}, o.halfExtents = {0.6, 0.6, 0.6};
        place(e, o);
    }
    for (int k = 0; k < 60; ++k) {
        Organism o = block(spot(-30.0, 30.0, 15.0) + Vec3{0.0, 0.5 + 2.0 * draw(), 0.0}, 0.25 + 0.25 * draw(),
                           static_cast<Ability>(k % 3));
        o.orientation = randomRotation(seed += 3);
        o.angularVelocity = randomVector(seed += 3) * 4.0;
        o.velocity = randomVector(seed += 3);
        o.gray = k % 15 == 0;
        o.faceMask = faceMask;
        place(e, o);
    }
    for (int k = 0; k < 30; ++k) {
        Organism o = block(spot(-30.0, 30.0, 15.0) + Vec3{0.0, 0.3, 0.0}, 0.3);
        o.kind = LifeKind::Slab;
        o.halfExtents = {0.4 + 2.6 * draw(), 0.2 + 0.2 * draw(), 0.4 + 2.6 * draw()};
        o.stage = k < 24 ? 2 : 3;
        o.generation = k % 2;
        if (k < 24)
            o.center.y += 2.0 + 8.0 * draw(), o.velocity = {0.0, -8.0 * draw(), 0.0};
        place(e, o);
    }
    Organism wide = block({90.0, 0.5001, 0.0}, 0.5);
    wide.kind = LifeKind::Slab;
    wide.halfExtents = {80.0, 0.5, 80.0};
    place(e, wide);
    wide.center.x = 2100.0;
    wide.halfExtents = {1000.0, 0.5, 1000.0};
    place(e, wide);
    c.physics.add(pieceAt({2100.0, -0.5, 0.0}, 0.5, true)); // under it
    // Pieces 62 to 67, to be put among the organisms.
    for (int k = 0; k < 6; ++k)
        c.physics.add(pieceAt({300.0 + 2.0 * k, 0.5, 300.0}, 0.4, true));
    c.physics.refreshTopology();
    Organism drifting = wide;
    drifting.halfExtents = {6.0, 0.5, 6.0};
    drifting.center = {0.0, 2400.0, 0.0};
    drifting.stage = 1;
    place(e, drifting);
    const std::size_t placed = e.organisms.size();
    for (std::size_t k = 0; k < 24; ++k) {
        Organism o = e.organisms[(k * 37) % placed];
        o.id = 0;
        o.placing = 1;
        if (k % 4 == 0)
            o.center = c.physics.pieces[1 + k].body.center;
        place(e, o);
    }
    for (std::size_t k = 5; k < e.organisms.size(); k += 41)
        e.organisms[k].alive = 0;
    return c;
}

// Body steps and matter steps of the crowd on the cells and on the plain walks leave every organism,
// bond, piece and collider the same bit for bit after every step.
TEST(BodyStep, CrowdMovesAlikeOnTheCellsAndOnThePlainWalks) {
    for (const std::uint32_t seed : {1u, 77u, 901u}) {
        Crowd cells = crowd(seed);
        Crowd plain = crowd(seed);
        plain.ecology.bodyScratch.plainWalks = true;
        const std::size_t start = cells.ecology.organisms.size();
        for (int step = 0; step < 90; ++step) {
            for (Crowd* c : {&cells, &plain})
                c->ecology.moveBodies(c->physics, model(), c->focus, gravity, dt);
            const std::vector<Organism>& a = cells.ecology.organisms;
            const std::vector<Organism>& b = plain.ecology.organisms;
            ASSERT_EQ(a.size(), b.size()) << seed << " " << step;
            for (std::size_t k = 0; k < a.size(); ++k)
                ASSERT_EQ(organismHash(a[k]), organismHash(b[k])) << seed << " " << step << " " << k;
            ASSERT_EQ(restHash(cells.ecology, cells.physics), restHash(plain.ecology, plain.physics))
                << seed << " " << step;
            for (Crowd* c : {&cells, &plain}) {
                c->physics.step(dt);
                c->ecology.receiveContacts(c->physics);
                // Now and then pieces from far away are put into the first blocks from outside the
                // physics: the grid lists them there from the first push after it, which the
                // spring of a bond to matter or a body's hit brings.
                if (step % 10 == 5) {
                    for (std::size_t k = 1; k < 8; k += 3)
                        c->physics.pieces[62 + (k + step / 10) % 6].body.center =
                            c->ecology.organisms[k].center;
                    c->physics.topologyDirty = true;
                }
            }
        }
        // The crowd did what it was made for: Slabs split, newcomers found places or died.
        EXPECT_GT(cells.ecology.organisms.size(), start + 20) << seed;
        EXPECT_GT(cells.ecology.deaths, 0u) << seed;
    }
}

} // namespace
} // namespace zarn
