#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"
#include "physics/StepTestSupport.hpp"

// The refreshes and grid updates that physics starts itself redo only what its noted changes reach.
// They must leave the world exactly as the full refresh and the full grid comparison do, which the
// plain walks still run: twin worlds go through the same random hits, blasts, steps, pushes, gravity
// changes, edits from outside and compactions, and are compared after every operation.
namespace zarn {
namespace {

using steptest::box;
using steptest::cube;
using steptest::StateHash;
using steptest::stateHash;

constexpr double frame = 1.0 / 60.0;

// The state hash and everything else a refresh or a grid update leaves behind.
std::uint64_t fingerprint(const Physics& physics) {
    StateHash h;
    h.add(stateHash(physics));
    h.add(static_cast<std::uint64_t>(physics.adjacency.size()));
    for (const std::vector<std::uint64_t>& list : physics.adjacency) {
        h.add(static_cast<std::uint64_t>(list.size()));
        for (const std::uint64_t k : list)
            h.add(k);
    }
    std::vector<std::uint64_t> pairs(physics.brokenPairs.begin(), physics.brokenPairs.end());
    std::sort(pairs.begin(), pairs.end());
    for (const std::uint64_t key : pairs)
        h.add(key);
    h.add(static_cast<std::uint64_t>(physics.gridEntries.size()));
    for (const Physics::GridEntry& entry : physics.gridEntries) {
        h.add(entry.center);
        h.add(entry.halfExtents);
        h.add(entry.orientation);
        h.add(entry.alive);
        for (const std::uint64_t key : entry.cells)
            h.add(key);
    }
    const std::map<std::uint64_t, std::vector<std::uint32_t>> cells(physics.cells.begin(),
                                                                    physics.cells.end());
    for (const auto& [key, ids] : cells) {
        h.add(key);
        for (const std::uint32_t id : ids)
            h.add(id);
    }
    h.add(physics.topologyDirty);
    h.add(physics.topologyScratch.deadPieces);
    h.add(physics.topologyScratch.brokenBonds);
    h.add(physics.gravity);
    return h.value();
}

// Frame towers on one anchored ground slab: columns of 1 m cubes at the bay corners, beams between
// them and a floor slab of 1 x 0.5 x 1 m plates per storey; bays are 3 m, storeys 3.5 m.
void addTower(Physics& physics, double x0, double z0, int storeys, int bays) {
    const int cells = 3 * bays + 1;
    for (int storey = 0; storey < storeys; ++storey) {
        const double base = storey * 3.5;
        for (int i = 0; i < cells; ++i)
            for (int k = 0; k < cells; ++k) {
                const Vec3 at{x0 + i + 0.5, 0.0, z0 + k + 0.5};
                const bool corner = i % 3 == 0 && k % 3 == 0;
                const bool line = i % 3 == 0 || k % 3 == 0;
                if (corner)
                    for (int level = 0; level < 3; ++level)
                        physics.add(cube({at.x, base + level + 0.5, at.z}, 0.5));
                else if (line)
                    physics.add(box({at.x, base + 2.75, at.z}, {0.5, 0.25, 0.5}));
                physics.add(box({at.x, base + 3.25, at.z}, {0.5, 0.25, 0.5}));
            }
    }
}

Physics cityBlock(int towers, int storeys) {
    Physics physics;
    MatterPiece ground = box({12.0, -0.5, 4.0}, {16.0, 0.5, 8.0}, true);
    ground.groundLevel = -1.0; // its pieces stay anchored when a blast breaks it
    physics.add(ground);
    for (int t = 0; t < towers; ++t)
        addTower(physics, -2.0 + 9.0 * t, 0.0, storeys, 2);
    // Loose rubble just above the ground and a lintel resting on two anchored posts.
    for (int n = 0; n < 6; ++n)
        physics.add(cube({-3.0 + 0.6 * n, 0.3, 10.0 + 0.3 * (n % 2)}, 0.25));
    physics.add(box({20.0, 1.0, 10.0}, {0.3, 1.0, 0.3}, true));
    physics.add(box({23.0, 1.0, 10.0}, {0.3, 1.0, 0.3}, true));
    physics.add(box({21.5, 2.25, 10.0}, {1.8, 0.25, 0.4}));
    // Matter of two buildings and of none, for the building mass the refreshes keep.
    for (MatterPiece& piece : physics.pieces)
        piece.building = piece.anchored ? -1 : static_cast<std::int32_t>(piece.id % 3) - 1;
    physics.connectTouching();
    return physics;
}

// The building mass a refresh keeps is that of counting every piece afresh.
void expectBuildingMassCounted(const Physics& physics) {
    if (physics.topologyDirty)
        return;
    BuildingMass afresh;
    for (std::size_t index = 0; index < physics.pieces.size(); ++index) {
        const MatterPiece& piece = physics.pieces[index];
        afresh.count(index, piece.alive && piece.building >= 0, !piece.supported, piece.body.mass);
    }
    EXPECT_EQ(physics.buildingMass(), BuildingMass::kilograms(afresh.total));
    EXPECT_EQ(physics.looseBuildingMass(), BuildingMass::kilograms(afresh.loose));
}

struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 33;
    }
    double unit() { return static_cast<double>(next() % 1000000) / 1000000.0; }
    std::uint32_t piece(const Physics& physics) {
        for (int tries = 0; tries < 64; ++tries) {
            const auto id = static_cast<std::uint32_t>(next() % physics.pieces.size() + 1);
            if (physics.pieces[id - 1].alive)
                return id;
        }
        return 1;
    }
};

Impact hitOn(const MatterPiece& piece, Random& random, bool weapon) {
    const Vec3 along = normalized(Vec3{random.unit() - 0.5, random.unit() - 0.7, random.unit() - 0.5});
    Impact hit;
    hit.point = piece.body.center - along * 0.4;
    hit.impulse = along * (10.0 + 60.0 * random.unit());
    hit.energy = 500.0 + 30000.0 * random.unit();
    hit.area = 8e-5;
    hit.duration = 4e-5;
    hit.radius = weapon ? 0.12 : 0.3;
    hit.weapon = weapon;
    return hit;
}

// One random operation on both twins; the random numbers are drawn once, from the fast twin's world.
void operate(Physics& fast, Physics& plain, Random& random) {
    const std::uint64_t choice = random.next() % 100;
    auto both = [&](auto&& op) {
        op(fast);
        op(plain);
    };
    if (choice < 16) {
        const std::uint32_t id = random.piece(fast);
        const Impact hit = hitOn(fast.pieces[id - 1], random, choice < 12);
        both([&](Physics& p) { p.impact(id, hit); });
    } else if (choice < 22) {
        const Vec3 center = fast.pieces[random.piece(fast) - 1].body.center +
                            Vec3{random.unit(), random.unit(), random.unit()};
        const double energy = 2000.0 + 150000.0 * random.unit();
        const double radius = 1.0 + 4.0 * random.unit();
        both([&](Physics& p) { p.blast(center, energy, radius); });
    } else if (choice < 62) {
        const std::uint64_t steps = 1 + random.next() % 12;
        both([&](Physics& p) {
            for (std::uint64_t n = 0; n < steps; ++n)
                p.step(frame);
        });
    } else if (choice < 68) {
        const std::uint32_t id = random.piece(fast);
        const Vec3 push{200.0 * (random.unit() - 0.5), 400.0 * random.unit(), 200.0 * (random.unit() - 0.5)};
        const Vec3 at = fast.pieces[id - 1].body.center;
        both([&](Physics& p) { p.contactImpulse(id, push, at); });
    } else if (choice < 71) {
        const Vec3 options[3] = {{0.0, -9.80665, 0.0}, {0.4, -9.7, 0.1}, {0.0, -1.62, 0.0}};
        const Vec3 g = options[random.next() % 3];
        both([&](Physics& p) { p.setGravity(g); });
    } else if (choice < 78) {
        // Moved from outside, then entered in the grid by hand.
        const std::uint32_t id = random.piece(fast);
        const Vec3 shift{0.01 * (random.unit() - 0.5), 0.01 * random.unit(), 0.0};
        both([&](Physics& p) {
            p.pieces[id - 1].body.center += shift;
            p.rebuildGrid();
        });
    } else if (choice < 82) {
        // Removed by its owner, with the topology marked for a refresh.
        const std::uint32_t id = random.piece(fast);
        both([&](Physics& p) {
            p.pieces[id - 1].alive = false;
            p.topologyDirty = true;
        });
    } else if (choice < 85) {
        // A bond weakened from outside.
        const std::size_t k = random.next() % fast.bonds.size();
        const double factor = 1e-4 + 0.1 * random.unit();
        both([&](Physics& p) {
            p.bonds[k].area *= factor;
            p.topologyDirty = true;
        });
    } else if (choice < 88) {
        // New pieces bonded by a loader: a cube on top of an alive piece.
        const std::uint32_t id = random.piece(fast);
        const Polyhedron& body = fast.pieces[id - 1].body;
        const Vec3 top = body.center + Vec3{0.0, body.bounds().max.y - body.center.y + 0.2, 0.0};
        both([&](Physics& p) {
            const std::uint32_t first = p.add(cube(top, 0.2));
            p.connectNew(first);
        });
    } else if (choice < 90) {
        // A bond appended from outside without marking anything: taken in by the next refresh.
        const std::uint32_t id = random.piece(fast);
        const Polyhedron& body = fast.pieces[id - 1].body;
        const Vec3 top = body.center + Vec3{0.0, body.bounds().max.y - body.center.y + 0.2, 0.0};
        both([&](Physics& p) {
            const std::uint32_t added = p.add(cube(top, 0.2));
            p.refreshTopology();
            p.addBond(id, added);
        });
    } else if (choice < 93) {
        both([](Physics& p) { p.compactHistory(); });
    } else if (choice < 96) {
        const std::uint64_t limit = random.next() % 3 == 0 ? 0 : 256;
        both([&](Physics& p) { p.motionLimit = limit; });
    } else {
        // Past the motion window: the next steps freeze everything; a weapon hit reopens it.
        both([](Physics& p) {
            p.step(12.0);
            p.step(frame);
        });
    }
}

void runTwins(Physics world, std::uint64_t seed, int count) {
    Physics fast = world;
    Physics plain = world;
    plain.stepScratch.plainWalks = true;
    ASSERT_EQ(fingerprint(fast), fingerprint(plain));
    Random random{seed};
    for (int n = 0; n < count; ++n) {
        operate(fast, plain, random);
        ASSERT_EQ(fingerprint(fast), fingerprint(plain)) << "operation " << n;
        expectBuildingMassCounted(fast);
        expectBuildingMassCounted(plain);
    }
    // The run did demolish something.
    EXPECT_GT(fast.fractureCount, 20u);
    EXPECT_GT(fast.brokenBondCount, 20u);
    EXPECT_TRUE(fast.validate());
}

TEST(NotedRefresh, RandomOperationsOnOneTowerGiveTheWorldOfTheFullRefreshes) {
    runTwins(cityBlock(1, 2), 7, 160);
}

TEST(NotedRefresh, RandomOperationsOnThreeTowersGiveTheWorldOfTheFullRefreshes) {
    runTwins(cityBlock(3, 3), 2024, 160);
}

TEST(NotedRefresh, ACollapseStepByStepGivesTheWorldOfTheFullRefreshes) {
    Physics fast = cityBlock(3, 3);
    Physics plain = fast;
    plain.stepScratch.plainWalks = true;
    for (Physics* p : {&fast, &plain})
        p->blast({7.5, 1.0, 1.5}, 180000.0, 5.0);
    ASSERT_EQ(fingerprint(fast), fingerprint(plain));
    for (int n = 0; n < 240; ++n) {
        fast.step(frame);
        plain.step(frame);
        ASSERT_EQ(fingerprint(fast), fingerprint(plain)) << n;
    }
    EXPECT_GT(fast.contactBondCount, 5u);
}

// Hits in a row on rubble, with no step between them, group again only the assemblies they reach
// and keep the motion of the others as it was gathered; a loose piece moved from outside between
// two hits, or an assembly pushed, has its assembly's motion gathered again.
TEST(NotedRefresh, HitsInARowOnRubbleGiveTheWorldOfTheFullRefreshes) {
    Physics fast = cityBlock(3, 3);
    fast.blast({7.5, 1.0, 1.5}, 180000.0, 5.0);
    for (int n = 0; n < 30; ++n)
        fast.step(frame);
    Physics plain = fast;
    plain.stepScratch.plainWalks = true;
    Random random{11};
    auto loosePiece = [&] {
        std::uint32_t id = random.piece(fast);
        for (int tries = 0; tries < 64 && fast.pieces[id - 1].supported; ++tries)
            id = random.piece(fast);
        return id;
    };
    std::size_t regrouped = 0;
    for (int n = 0; n < 48; ++n) {
        const std::uint32_t id = loosePiece();
        const Impact hit = hitOn(fast.pieces[id - 1], random, n % 4 != 0);
        std::uint32_t moved = loosePiece();
        for (const Assembly& assembly : fast.assemblies)
            if (assembly.members.size() > 1 && random.next() % 4 == 0)
                moved = assembly.members[random.next() % assembly.members.size()];
        const Vec3 shift{0.003 * random.unit(), 0.0, -0.002};
        const std::uint32_t pushed = loosePiece();
        for (Physics* p : {&fast, &plain}) {
            p->impact(id, hit);
            if (n % 3 == 0) {
                p->pieces[moved - 1].body.center += shift;
                p->rebuildGrid();
            } else if (n % 3 == 1) {
                p->contactImpulse(pushed, {0.0, 40.0, 5.0}, p->pieces[pushed - 1].body.center);
            }
        }
        ASSERT_EQ(fingerprint(fast), fingerprint(plain)) << "hit " << n;
        regrouped += fast.assemblies.size();
    }
    EXPECT_GT(regrouped, 48u * 4u);
}

// Owners take whole runs of pieces away (a terrain chunk unloading) and compact at once, then add
// and bond new pieces as noted changes (a chunk streaming in), amid the random operations: the
// compaction that refreshes first and renumbers what the refresh left gives the world, and the
// renumbering, of the plain one, and the bonding of noted pieces that of a whole refresh.
TEST(NotedRefresh, CompactionsAfterOwnersRemovePiecesGiveTheWorldOfThePlainOnes) {
    Physics fast = cityBlock(2, 2);
    Physics plain = fast;
    plain.stepScratch.plainWalks = true;
    Random random{99};
    for (int n = 0; n < 30; ++n) {
        operate(fast, plain, random);
        const std::uint64_t first = random.next() % fast.pieces.size();
        const std::uint64_t end = std::min<std::uint64_t>(fast.pieces.size(), first + random.next() % 40);
        const bool noted = random.next() % 4 != 0;
        for (Physics* p : {&fast, &plain}) {
            for (std::uint64_t index = first; index < end; ++index) {
                if (noted) {
                    p->remove(static_cast<std::uint32_t>(index));
                } else {
                    p->pieces[index].alive = false;
                    p->topologyDirty = true;
                }
            }
            p->compactHistory();
        }
        ASSERT_EQ(fingerprint(fast), fingerprint(plain)) << "operation " << n;
        ASSERT_EQ(fast.compaction.renumbering, plain.compaction.renumbering);
        const Polyhedron& body = fast.pieces[random.piece(fast) - 1].body;
        const Vec3 top = body.center + Vec3{0.0, body.bounds().max.y - body.center.y + 0.25, 0.0};
        for (Physics* p : {&fast, &plain}) {
            const std::uint32_t first = p->addNoted(cube(top, 0.25));
            p->addNoted(cube(top + Vec3{0.0, 0.5, 0.0}, 0.25));
            p->connectNew(first);
        }
        ASSERT_EQ(fingerprint(fast), fingerprint(plain)) << "bonding " << n;
    }
    EXPECT_GT(fast.brokenBondCount, 20u);
    EXPECT_TRUE(fast.validate());
}

// A compaction between steps renumbers the pieces and bonds under the working storage that the
// contact solver and the refreshes keep from one call to the next: the collapse goes on exactly as
// in a copy of the compacted world that starts with empty working storage, and the building mass
// moves with the renumbered pieces.
TEST(NotedRefresh, ACollapseCompactedBetweenStepsGoesOnAsWithFreshWorkingStorage) {
    Physics world = cityBlock(3, 3);
    world.blast({7.5, 1.0, 1.5}, 180000.0, 5.0);
    int renumbered = 0;
    for (int n = 0; n < 12; ++n) {
        // A charge somewhere in the block leaves dead pieces to drop.
        world.blast(world.pieces[(static_cast<std::size_t>(n) * 97) % world.pieces.size()].body.center,
                    60000.0, 2.0);
        for (int s = 0; s < 15; ++s)
            world.step(frame);
        const std::size_t before = world.pieces.size();
        world.compactHistory();
        renumbered += world.pieces.size() < before ? 1 : 0;
        Physics fresh = world;
        fresh.stepScratch = StepScratch{};
        fresh.topologyScratch = TopologyScratch{};
        fresh.topologyScratch.deadPieces = world.topologyScratch.deadPieces;
        fresh.topologyScratch.brokenBonds = world.topologyScratch.brokenBonds;
        for (int s = 0; s < 5; ++s) {
            world.step(frame);
            fresh.step(frame);
            ASSERT_EQ(fingerprint(world), fingerprint(fresh)) << "compaction " << n << ", step " << s;
            expectBuildingMassCounted(world);
        }
    }
    EXPECT_GE(renumbered, 6);
}

// A chain of failures that outlasts one refresh goes on in the refreshes physics starts next, from
// the bonds the last pass broke, without walking the rest of the world again: a row of cubes, each
// on its own anchored pillar, whose pillar bonds hold one cube's weight but not two, so that one more
// breaks in every pass, eight refreshes long. Pushes, steps and a compaction meet the chain on the
// way, and a piece killed from outside meanwhile is still taken in; the twin on the full refreshes
// must stay the same world throughout.
TEST(NotedRefresh, AChainOfFailuresGoesOnFromRefreshToRefreshAsInTheFullRefreshes) {
    constexpr int count = 64;
    Physics fast = cityBlock(1, 2);
    const auto firstCube = static_cast<std::uint32_t>(fast.pieces.size() + 2);
    for (int i = 0; i < count; ++i) {
        fast.add(cube({40.0 + i, 0.5, 0.0}, 0.5, true));
        fast.add(cube({40.0 + i, 1.5, 0.0}, 0.5));
    }
    fast.connectTouching();
    ASSERT_EQ(fast.brokenBondCount, 0u);
    const double weight = fast.pieces[firstCube - 1].body.mass * 9.80665;
    for (Bond& bond : fast.bonds) {
        const std::uint32_t top = std::max(bond.a, bond.b);
        if (top >= firstCube && (top - firstCube) % 2 == 0 && std::min(bond.a, bond.b) == top - 1)
            bond.area = weight / (top == firstCube ? 9e7 : 3e7);
    }
    fast.topologyDirty = true;
    Physics plain = fast;
    plain.stepScratch.plainWalks = true;
    for (Physics* p : {&fast, &plain})
        p->refreshTopology();
    ASSERT_EQ(fingerprint(fast), fingerprint(plain));
    ASSERT_TRUE(fast.topologyDirty);
    ASSERT_EQ(fast.brokenBondCount, 8u);

    const std::uint64_t fullBefore = fast.fullRefreshCount;
    const std::uint32_t rubble = firstCube - 6; // the last loose cube by the block's ground
    ASSERT_EQ(fast.pieces[rubble - 1].body.halfExtents.x, 0.25);
    const std::uint32_t lastCube = firstCube + 2 * count - 2;
    for (int n = 0; n < 8 && fast.topologyDirty; ++n) {
        for (Physics* p : {&fast, &plain}) {
            if (n == 1) {
                // Killed from outside while the chain runs: the next refresh must see it.
                p->pieces[lastCube - 1].alive = false;
                p->topologyDirty = true;
                p->step(frame);
            } else if (n == 2) {
                p->contactImpulse(rubble, {0.0, 40.0, 0.0}, p->pieces[rubble - 1].body.center);
            } else if (n == 3) {
                p->compactHistory();
            } else {
                p->step(frame);
            }
        }
        ASSERT_EQ(fingerprint(fast), fingerprint(plain)) << "operation " << n;
        expectBuildingMassCounted(fast);
    }
    EXPECT_FALSE(fast.topologyDirty);
    // Every pillar bond broke but the last one's, which went with its cube.
    EXPECT_EQ(fast.brokenBondCount, static_cast<std::uint64_t>(count - 1));
    EXPECT_FALSE(fast.pieces[fast.pieces.size() - 2].supported);
    // Only the refresh after the edit from outside walked everything.
    EXPECT_EQ(fast.fullRefreshCount, fullBefore + 1);
    EXPECT_GT(plain.fullRefreshCount, fullBefore + 3);
}

// What is changed from outside reaches the refreshes physics starts through topologyDirty and
// through the public grid update.
TEST(NotedRefresh, ChangesFromOutsideAreTakenInByTheNextRefresh) {
    Physics physics = cityBlock(1, 2);
    const std::size_t top = physics.pieces.size() - 1; // the lintel on its two posts
    ASSERT_TRUE(physics.pieces[top].supported);

    // The posts die from outside and the flag says so: the next refresh a step starts sees it.
    physics.pieces[top - 1].alive = false;
    physics.pieces[top - 2].alive = false;
    physics.topologyDirty = true;
    physics.step(frame);
    EXPECT_FALSE(physics.pieces[top].supported);
    EXPECT_GE(physics.pieces[top].assembly, 0);
    EXPECT_TRUE(physics.adjacency[top].empty());

    // A supported piece moved from outside and entered in the grid by hand: the next refresh
    // physics starts, after a hit far away, redoes its component with the piece where it now is.
    Physics moved = cityBlock(1, 2);
    std::uint32_t plate = 0; // a floor plate inside the first bay, carried sideways by bending
    std::uint32_t rubble = 0;
    for (const MatterPiece& piece : moved.pieces) {
        if (piece.body.center == Vec3{-0.5, 3.25, 1.5})
            plate = piece.id;
        if (rubble == 0 && piece.body.halfExtents.x == 0.25)
            rubble = piece.id;
    }
    ASSERT_NE(plate, 0u);
    ASSERT_NE(rubble, 0u);
    auto stresses = [&plate](const Physics& p) {
        std::vector<double> out;
        for (const std::uint64_t k : p.adjacency[plate - 1])
            out.push_back(p.bonds[k].stress);
        return out;
    };
    const std::vector<double> before = stresses(moved);
    Physics reference = moved;
    reference.stepScratch.plainWalks = true;
    Random random{3};
    const Impact hit = hitOn(moved.pieces[rubble - 1], random, true);
    for (Physics* p : {&moved, &reference}) {
        p->pieces[plate - 1].body.center.x += 0.02;
        p->rebuildGrid();
        p->impact(rubble, hit);
    }
    EXPECT_NE(stresses(moved), before);
    EXPECT_EQ(fingerprint(moved), fingerprint(reference));
}

} // namespace
} // namespace zarn
