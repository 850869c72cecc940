#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"
#include "planet/EarthEngine.hpp"
#include "planet/EarthModel.hpp"
#include "support/StateHash.hpp"

namespace zarn {
namespace {

using ecotest::pieceAt;
using ecotest::place;

const Vec3 gravity{0.0, -9.80665, 0.0};
const Vec3 waterBlue{0.1, 0.2, 0.8};
constexpr double bodyStep = 1.0 / 60.0;

const EarthModel& model() {
    static const EarthModel shared;
    return shared;
}

Vec3 cellCenter(const Ecology::PatchKey& key) {
    const double x = (key.i + 0.5) * 64.0;
    const double z = (key.j + 0.5) * 64.0;
    return {x, model().surface(x, z, key.farSide), z};
}

// An anchored 8 m block whose top lies on the cell's surface at (dx, dz) from its centre; blue for
// water.
MatterPiece patchPiece(const Ecology::PatchKey& key, double dx, double dz, bool water) {
    const Vec3 c = cellCenter(key);
    MatterPiece piece = pieceAt({c.x + dx, c.y - 4.0, c.z + dz}, 4.0, true);
    if (water)
        piece.color = waterBlue;
    return piece;
}

std::size_t activeBonds(const Ecology& ecology) {
    return static_cast<std::size_t>(
        std::count_if(ecology.bonds.begin(), ecology.bonds.end(), [](const BioBond& b) { return b.active; }));
}

std::size_t countOf(const Ecology& ecology, LifeKind kind, std::uint32_t belowStage = 4) {
    return static_cast<std::size_t>(
        std::count_if(ecology.organisms.begin(), ecology.organisms.end(),
                      [&](const Organism& o) { return o.alive && o.kind == kind && o.stage < belowStage; }));
}

// Cells of the flat land about the district, where the ground is at y = 0.
std::vector<Ecology::PatchKey> cells(bool farSide, int count = 24) {
    std::vector<Ecology::PatchKey> out;
    for (int k = 0; k < count; ++k)
        out.push_back({k % 6 - 3, k / 6 - 2, farSide});
    return out;
}

// What a fresh patch gets by its side and matter; a second populate of a live patch only renames it,
// and a cell off the sphere gets no patch.
TEST(Population, FreshPatchesFollowTheirSideAndMatterAndLivePatchesAreRenamed) {
    struct Case {
        bool farSide;
        bool ground;
    };
    for (const Case& c : {Case{false, true}, Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(testing::Message() << c.farSide << c.ground);
        std::size_t raised = 0;
        for (const Ecology::PatchKey& key : cells(c.farSide)) {
            Ecology ecology;
            ecology.speciesA.resize(1);
            ecology.speciesA[0].boxes.resize(1);
            ecology.speciesB = ecology.speciesA;
            std::vector<MatterPiece> pieces;
            for (const double dx : {-20.0, 0.0, 10.0, 20.0})
                if (c.ground || dx >= 0.0)
                    pieces.push_back(patchPiece(key, dx, 0.0, dx >= 0.0));
            ecology.populate(key.i, key.j, key.farSide, 7, pieces, model());
            const Ecology::Patch& patch = ecology.patches.at(key);
            EXPECT_TRUE(patch.id == 7 && patch.water.size() == 2 && patch.nextEvaporation == 4.0);
            // Cubes (floor(u + 3) with the default profile), species and lying Slabs on near-side land
            // only; over water at most one Slab, drifting 2200 to 3600 m up, 5 to 500 m half wide.
            const bool land = c.ground && !c.farSide;
            EXPECT_EQ(countOf(ecology, LifeKind::Cube), land ? 3u : 0u);
            EXPECT_TRUE(land || countOf(ecology, LifeKind::Block) + countOf(ecology, LifeKind::Slab, 4) ==
                                    countOf(ecology, LifeKind::Slab, 3));
            EXPECT_LE(countOf(ecology, LifeKind::Slab, 3), 1u);
            for (const Organism& o : ecology.organisms) {
                if (o.kind != LifeKind::Slab || o.stage == 3)
                    continue;
                ++raised;
                const double lift = o.center.y - patch.water[0].y;
                EXPECT_TRUE(o.stage == 1 && o.generation == 0 && o.landed == 0 &&
                            o.halfExtents.x == o.halfExtents.z && o.halfExtents.x >= 5.0 &&
                            o.halfExtents.x <= 500.0 && lift >= 2200.0 && lift < 3601.5);
            }
            const std::uint64_t births = ecology.births;
            ecology.populate(key.i, key.j, key.farSide, 8, pieces, model());
            EXPECT_EQ(ecology.births, births);
            EXPECT_EQ(ecology.patches.at(key).id, 8u);
            for (const Organism& o : ecology.organisms)
                EXPECT_EQ(o.patch, 8u);
        }
        EXPECT_GT(raised, 3u); // a chance of 0.45 per patch
    }
    Ecology off;
    off.populate(200000, 0, false, 1, {}, model());
    EXPECT_TRUE(off.patches.empty());
}

// Archives: a full list restores no organism but still takes the bonds, which the body step lets
// lapse uncounted even past the bond limit; the 161st archive evicts the smallest stamp.
TEST(Population, ArchivesRestoreUpToTheCapacityAndTheOldestIsEvicted) {
    Ecology ecology;
    Physics physics;
    const Ecology::PatchKey key{0, 0, false};
    Ecology::Archive& archive = ecology.archives[key];
    archive.organisms.resize(2);
    archive.organisms[0].id = 100000;
    archive.organisms[1].id = 100001;
    archive.bonds.push_back({100000, 100001, 0, 1, {0.0, 1.0, 0.0}, 10.0, {}});
    ecology.archiveStamps[key] = 1;
    for (std::size_t k = 0; k < Ecology::capacity; ++k)
        place(ecology, ecotest::block({0.0, 1000.0 + 3.0 * static_cast<double>(k), 0.0}));
    ecology.bonds.assign(Ecology::maxBonds, BioBond{1, 2, 0, 1, {}, 10.0, {}});
    ecology.organisms[0].alive = ecology.organisms[1].alive = 0; // the ends of the full bond list
    ecology.populate(0, 0, false, 3, {}, model());
    EXPECT_EQ(ecology.organisms.size(), Ecology::capacity);
    EXPECT_EQ(ecology.bonds.size(), Ecology::maxBonds + 1);
    EXPECT_TRUE(ecology.archives.empty() && ecology.archiveStamps.empty());
    EXPECT_FALSE(
        ecology.connect(ecology.organisms[2].id, ecology.organisms[3].id, false, {0.0, 3.0, 0.0}, nullptr));
    ecology.springPass(physics, bodyStep);
    EXPECT_TRUE(ecology.bonds.empty());
    EXPECT_EQ(ecology.bondsBroken, 0u);

    // 160 archives under shuffled stamps, then the live patch is left.
    Ecology full;
    for (std::int32_t k = 0; k < 160; ++k) {
        full.archives[{k, 50, false}];
        full.archiveStamps[{k, 50, false}] = 1 + static_cast<std::uint64_t>((k * 37 + 11) % 160);
    }
    full.archiveCounter = 160;
    full.populate(0, 0, false, 3, {}, model());
    full.step(physics, model(), {5000.0, 0.0, 0.0}, gravity, 0.05);
    EXPECT_EQ(full.archives.size(), 160u);
    EXPECT_EQ(full.archiveStamps.size(), 160u);
    EXPECT_EQ(full.archiveStamps.at(key), 161u);
    for (const auto& [cell, stamp] : full.archiveStamps)
        EXPECT_GT(stamp, 1u);
}

// Leaving stores the patch's organisms and their inner bonds; returning later restores them under
// the new id, aged by the dawns that passed, and a species of group B grows on fresh matter only.
TEST(Population, ReturningRestoresTheAgedOrganismsAndSavedMatterGetsNoSecondSpeciesB) {
    Ecology ecology;
    ecology.speciesB.resize(1);
    ecology.speciesB[0].boxes.resize(2);
    ecology.speciesB[0].boxes[1].position = {0.8, 0.0, 0.0};
    ecology.speciesB[0].boxes[0].massBudget = ecology.speciesB[0].boxes[1].massBudget = 0.0;
    ecology.speciesB[0].bonds.push_back({0, 1});
    Physics physics;
    std::size_t grey = 0;
    for (const Ecology::PatchKey& key : cells(false)) {
        const std::vector<MatterPiece> pieces{patchPiece(key, 0.0, 0.0, false)};
        Ecology fresh = ecology;
        Ecology saved = ecology;
        fresh.populate(key.i, key.j, false, 1, pieces, model(), false);
        saved.populate(key.i, key.j, false, 1, pieces, model(), true);
        const std::size_t blocks = countOf(fresh, LifeKind::Block);
        grey += blocks;
        EXPECT_EQ(countOf(saved, LifeKind::Block), 0u);
        EXPECT_EQ(fresh.organisms.size() - blocks, saved.organisms.size());
        EXPECT_EQ(activeBonds(fresh), blocks / 2);

        // Away 800 m: stored; three days on, back under id 2.
        fresh.step(physics, model(), cellCenter(key) + Vec3{800.0, 0.0, 0.0}, gravity, 0.05);
        ASSERT_TRUE(fresh.patches.empty() && fresh.organisms.empty() && activeBonds(fresh) == 0);
        const Ecology::Archive stored = fresh.archives.at(key);
        EXPECT_EQ(stored.bonds.size(), blocks / 2);
        fresh.dayClock += 3.0;
        fresh.populate(key.i, key.j, false, 2, pieces, model(), true);
        std::vector<std::uint32_t> survivors;
        for (Organism o : stored.organisms) {
            Ecology::age(o, fresh.dayClock);
            if (o.alive)
                survivors.push_back(o.id);
        }
        ASSERT_EQ(fresh.organisms.size(), survivors.size());
        for (std::size_t k = 0; k < survivors.size(); ++k)
            EXPECT_TRUE(fresh.organisms[k].id == survivors[k] && fresh.organisms[k].patch == 2u);
        EXPECT_EQ(activeBonds(fresh), blocks / 2);
    }
    EXPECT_GT(grey, 0u);
}

TEST(Population, UpdateRunsTheLifeStepAndCappedBodySteps) {
    struct Case {
        double dt;
        bool lifeStep;
        int bodySteps;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case& c :
         {Case{0.0, false, 0}, Case{-1.0, false, 0}, Case{nan, false, 0}, Case{0.03, false, 1},
          Case{0.2, true, 12}, Case{10.0, true, Ecology::maxBodySteps}}) {
        SCOPED_TRACE(c.dt);
        Ecology ecology;
        Physics physics;
        const Ecology::PatchKey key{0, 0, false};
        ecology.populate(0, 0, false, 1, {patchPiece(key, 0.0, 0.0, false)}, model());
        // A Cube of no patch, high over the district, falling freely.
        ecology.add(LifeKind::Cube, {0.0, 500.0, 0.0}, 0, 1, EcoProfile{}, 0.0);
        ecology.update(physics, model(), {5000.0, 0.0, 0.0}, gravity, c.dt, 2.0);
        const bool ran = c.dt > 0.0;
        EXPECT_EQ(ecology.time, ran ? c.dt : 0.0);
        EXPECT_EQ(ecology.dayClock, ran ? c.dt * 2.0 / 86400.0 : 0.0);
        EXPECT_EQ(ecology.stepAccumulator, ran && !c.lifeStep ? c.dt : 0.0);
        EXPECT_EQ(ecology.archives.size(), c.lifeStep ? 1u : 0u);
        EXPECT_TRUE(ecology.bodyAccumulator >= 0.0 && ecology.bodyAccumulator < bodyStep);
        const Organism& falling = ecology.organisms.back();
        EXPECT_NEAR(falling.velocity.y, gravity.y * bodyStep * c.bodySteps, 1e-9);
    }
}

// Evaporation: a due patch over water in daylight gives off a rising Slab unless 24 Slabs are
// airborne; either way it waits another 45 s.
TEST(Population, EvaporationStopsAt24AirborneSlabsAndEveryDuePatchWaits) {
    for (const std::size_t airborne : {std::size_t{23}, std::size_t{24}}) {
        SCOPED_TRACE(airborne);
        Ecology ecology;
        Physics physics;
        const std::vector<Ecology::PatchKey> keys{{0, 0, false}, {2, 0, false}};
        for (const Ecology::PatchKey& key : keys) {
            const MatterPiece water = patchPiece(key, 0.0, 0.0, true);
            physics.add(water);
            ecology.populate(key.i, key.j, false, 1 + static_cast<std::uint64_t>(key.i), {water}, model());
        }
        physics.refreshTopology();
        ecology.organisms.clear();
        Organism slab = ecotest::block({0.0, 3000.0, 0.0});
        slab.kind = LifeKind::Slab;
        slab.stage = 2; // falling, of no generation that add counts
        slab.generation = 1;
        for (std::size_t k = 0; k < airborne; ++k)
            place(ecology, slab);
        ecology.time = 4.0; // both due; noon over the district at day 0
        ecology.step(physics, model(), {0.0, 0.0, 0.0}, gravity, 0.05);
        const std::size_t risen = countOf(ecology, LifeKind::Slab, 1);
        EXPECT_EQ(risen, airborne == 23 ? 1u : 0u);
        for (const Ecology::PatchKey& key : keys)
            EXPECT_EQ(ecology.patches.at(key).nextEvaporation, 49.0);
    }
}

// One Slab's life through update alone, with the day clock moved on: it rises from the water with
// the wind (x east, z north), drifts above 2400 m, rains after 11 dawns, falls, lands and splits,
// sows Cubes in daylight and dies 10 dawns later.
TEST(Population, ASlabRisesDriftsRainsLandsSplitsSowsAndDies) {
    Ecology ecology;
    Physics physics;
    const Ecology::PatchKey key{10, 10, false};
    const MatterPiece water = patchPiece(key, 0.0, 0.0, true);
    physics.add(water);
    physics.refreshTopology();
    ecology.populate(key.i, key.j, false, 1, {water}, model());
    ecology.organisms.clear();
    const Vec3 focus{22.0, 0.0, 672.0}; // within the patch's reach, clear of the widest Slab
    auto runUntil = [&](auto done, int limit) {
        for (int n = 0; n < limit && !done(); ++n)
            ecology.update(physics, model(), focus, gravity, 0.25, 0.0);
        return done();
    };
    auto slab = [&]() -> const Organism& { return ecology.organisms.front(); };

    ASSERT_TRUE(runUntil([&] { return !ecology.organisms.empty(); }, 40));
    EXPECT_TRUE(slab().kind == LifeKind::Slab && slab().stage == 0 && slab().generation == 0);
    ecology.patches.at(key).water.clear(); // no second Slab
    // Each life step sets the speed of the wind where the Slab is, which the body steps then follow.
    const Vec3 from = slab().center;
    const EarthRegion climate = model().at(from.x, from.z, false);
    ecology.update(physics, model(), focus, gravity, 0.25, 0.0);
    ASSERT_NE(climate.windNorth, 0.0);
    EXPECT_EQ(slab().velocity, (Vec3{5.0 * climate.windEast, 45.0, 5.0 * climate.windNorth}));
    EXPECT_LT(length(slab().center - from - slab().velocity * 0.25), 1e-6);
    EXPECT_GT((slab().center.z - from.z) * climate.windNorth, 0.0);
    ASSERT_TRUE(runUntil([&] { return slab().stage >= 1; }, 400));
    const Vec3 at = slab().center;
    EXPECT_GT(at.y - model().surface(at.x, at.z, false), 2400.0);
    ecology.update(physics, model(), focus, gravity, 0.25, 0.0);
    EXPECT_TRUE(slab().stage == 2 || std::abs(slab().center.y - at.y) < 1e-6); // drifting flat

    ecology.dayClock += 11.0;
    ASSERT_TRUE(runUntil([&] { return slab().stage == 3; }, 800));
    EXPECT_EQ(slab().landed, 1);
    EXPECT_EQ(slab().generation, 1u);
    EXPECT_EQ(countOf(ecology, LifeKind::Slab), 4u);
    ASSERT_TRUE(runUntil([&] { return countOf(ecology, LifeKind::Cube) > 0; }, 4));
    for (const Organism& o : ecology.organisms)
        EXPECT_EQ(o.patch, 1u);

    const std::uint64_t deaths = ecology.deaths;
    ecology.dayClock += 10.0;
    ecology.update(physics, model(), focus, gravity, 0.25, 0.0);
    EXPECT_EQ(countOf(ecology, LifeKind::Slab) + countOf(ecology, LifeKind::Cube), 0u);
    EXPECT_GE(ecology.deaths, deaths + 5);
}

bool finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The world as the game drives it: the streamer, then the organisms, then the physics between the
// colliders and the contacts; 10 km east over the Earth and back, coarsely, with a fast day and the
// game's catalogue.
TEST(Population, ATenKilometreWalkAndBackKeepsTheCapsAndRepeats) {
    auto walk = [] {
        static const EarthEngine prototype;
        EarthEngine engine = prototype;
        Ecology& ecology = engine.ecology;
        Physics physics;
        engine.populateEcology = true;
        std::string error;
        EXPECT_TRUE(ecology.load(ZARN_ECOSYSTEM_CATALOGUE, error)) << error;
        engine.initialize(physics);
        const double dt = 0.1;
        std::size_t most = 0;
        std::size_t blocks = 0;
        for (int n = 0; n <= 200; ++n) {
            const double x = 100.0 * (n <= 100 ? n : 200 - n);
            const Vec3 at{x, engine.model.surface(x, 0.0, false) + 1.7, 0.0};
            engine.update(physics, at, {n <= 100 ? 1.0 : -1.0, 0.0, 0.0}, dt);
            ecology.update(physics, engine.model, at, physics.gravity, dt, 20000.0);
            ecology.syncColliders(physics);
            physics.step(dt);
            ecology.receiveContacts(physics);

            most = std::max(most, ecology.organisms.size());
            blocks = std::max(blocks, countOf(ecology, LifeKind::Block));
            EXPECT_LE(ecology.organisms.size(), Ecology::capacity);
            EXPECT_LE(ecology.archives.size(), Ecology::maxArchives);
            std::vector<std::uint32_t> ids;
            for (const Organism& o : ecology.organisms) {
                EXPECT_TRUE(finite(o.center) && finite(o.velocity) && finite(o.halfExtents)) << o.id;
                if (o.alive)
                    ids.push_back(o.id);
            }
            for (const MatterPiece& piece : physics.pieces)
                EXPECT_TRUE(finite(piece.body.center) && finite(piece.body.velocity)) << piece.id;
            std::sort(ids.begin(), ids.end());
            auto named = [&](std::uint32_t id, bool toWorld) {
                return toWorld ? id >= 1 && id <= physics.pieces.size() && physics.pieces[id - 1].alive
                               : std::binary_search(ids.begin(), ids.end(), id);
            };
            for (const BioBond& bond : ecology.bonds)
                EXPECT_TRUE(!bond.active || (named(bond.a, false) && named(bond.b, bond.toWorld)));
        }
        EXPECT_GT(most, 100u);
        EXPECT_GT(blocks, 0u);
        EXPECT_GT(ecology.deaths, 0u);
        EXPECT_GT(ecology.archiveCounter, 100u);
        test::StateHash h;
        test::hashPhysics(h, physics);
        h.add(ecology.births + ecology.deaths + ecology.archiveCounter + ecology.bonds.size());
        for (const Organism& o : ecology.organisms) {
            h.add(o.center);
            h.add(o.orientation);
            h.add(o.id);
            h.add(o.stage);
        }
        return h.value();
    };
    EXPECT_EQ(walk(), walk());
}

} // namespace
} // namespace zarn
