#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"
#include "planet/EarthEngine.hpp"
#include "support/StateHash.hpp"

namespace zarn {
namespace {

constexpr double passTime = 0.1;
constexpr Vec3 north{0.0, 0.0, 1.0};
// Fields 4 km south-west of the district: the player's own cell and its east neighbour.
constexpr ChunkCell fieldCell{-26, -60, false};
constexpr ChunkCell eastCell{-25, -60, false};

const EarthEngine& prototype() {
    static const EarthEngine engine;
    return engine;
}

// Everything of a piece but its id, owner and assembly index.
bool sameMatter(const MatterPiece& a, const MatterPiece& b) {
    const Polyhedron& p = a.body;
    const Polyhedron& q = b.body;
    return p.center == q.center && p.halfExtents == q.halfExtents && p.velocity == q.velocity &&
           p.angularVelocity == q.angularVelocity && p.orientation == q.orientation && p.mass == q.mass &&
           a.groundLevel == b.groundLevel && a.building == b.building && a.color == b.color &&
           a.alive == b.alive && a.anchored == b.anchored && a.supported == b.supported &&
           a.generation == b.generation && a.stress == b.stress && a.bondableAt == b.bondableAt &&
           a.stateTime == b.stateTime && a.asleep == b.asleep && a.indoor == b.indoor;
}

bool sameMatter(const std::vector<MatterPiece>& a, const std::vector<MatterPiece>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const MatterPiece& x, const MatterPiece& y) { return sameMatter(x, y); });
}

// The pieces handed to the organisms are the physics' own, as they were added: the same ids and places.
bool samePieces(const std::vector<MatterPiece>& a, const std::vector<MatterPiece>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const MatterPiece& x, const MatterPiece& y) {
        return x.id == y.id && x.owner == y.owner && x.body.center == y.body.center &&
               x.body.halfExtents == y.body.halfExtents;
    });
}

MatterPiece box(const Vec3& center, const Vec3& half, bool anchored) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = half;
    piece.anchored = anchored;
    return piece;
}

// A small district in cell (0, 0): a ground slab with a column of three cubes and a lintel on it.
std::vector<MatterPiece> smallDistrict() {
    std::vector<MatterPiece> pieces{box({10.0, -0.5, 10.0}, {6.0, 0.5, 6.0}, true)};
    for (int level = 0; level < 3; ++level)
        pieces.push_back(box({8.0, level + 0.5, 10.0}, {0.5, 0.5, 0.5}, false));
    pieces.push_back(box({9.0, 3.25, 10.0}, {1.5, 0.25, 0.5}, false));
    return pieces;
}

// The engine and its physics with a player on the Earth; the calls meant for the organisms are
// recorded.
struct Streaming {
    struct Population {
        ChunkCell cell;
        std::uint64_t key;
        std::vector<MatterPiece> pieces;
    };
    EarthEngine engine = prototype();
    Physics physics;
    std::vector<Population> populations;
    std::uint64_t renumberings = 0;

    explicit Streaming(const std::vector<MatterPiece>& district = {}) {
        for (const MatterPiece& piece : district)
            physics.add(piece);
        physics.connectTouching();
        engine.populateEcology = true;
        engine.ecologyCalls.populate = [this](int i, int j, bool farSide, std::uint64_t key,
                                              const std::vector<MatterPiece>& pieces,
                                              const EarthModel& model) {
            EXPECT_EQ(&model, &engine.model);
            populations.push_back({{i, j, farSide}, key, pieces});
        };
        engine.ecologyCalls.renumberWorldBonds = [this](const std::vector<std::uint32_t>& newIds) {
            EXPECT_EQ(newIds, physics.compaction.renumbering);
            ++renumberings;
        };
        engine.initialize(physics);
    }
    Streaming(const Streaming&) = delete;

    Vec3 ground(double x, double z) const { return {x, engine.model.surface(x, z, false) + 1.7, z}; }
    Vec3 centerOf(const ChunkCell& cell) const {
        const double x = (cell.i + 0.5) * 64.0;
        const double z = (cell.j + 0.5) * 64.0;
        return {x, engine.model.surface(x, z, cell.farSide), z};
    }
    void pass(const Vec3& at, const Vec3& forward = north) { engine.update(physics, at, forward, passTime); }
    // Passes at one place until one makes no chunk.
    void settle(const Vec3& at, const Vec3& forward = north) {
        for (int n = 0; n < 100; ++n) {
            pass(at, forward);
            if (engine.generatedThisPass == 0)
                return;
        }
        ADD_FAILURE() << "the terrain never settled";
    }
    std::uint64_t keyOf(const ChunkCell& cell) const {
        const auto it = engine.cells.find(cell);
        return it == engine.cells.end() ? 0 : it->second;
    }
    std::vector<MatterPiece> piecesOf(std::uint64_t key) const {
        std::vector<MatterPiece> out;
        for (const MatterPiece& piece : physics.pieces)
            if (piece.owner == key)
                out.push_back(piece);
        return out;
    }
    // The intact bonds between pieces of one chunk, by the pieces' positions in its list.
    std::set<std::pair<std::uint32_t, std::uint32_t>> bondsOf(std::uint64_t key) const {
        std::vector<std::uint32_t> position(physics.pieces.size() + 1, 0);
        std::uint32_t next = 0;
        for (const MatterPiece& piece : physics.pieces)
            position[piece.id] = piece.owner == key ? ++next : 0;
        std::set<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const Bond& bond : physics.bonds)
            if (bond.intact && position[bond.a] != 0 && position[bond.b] != 0)
                out.insert({position[bond.a], position[bond.b]});
        return out;
    }
    // Marks a chunk disturbed as a woken piece does.
    void wake(std::uint64_t key, const Vec3& velocity = {}) {
        for (MatterPiece& piece : physics.pieces)
            if (piece.owner == key) {
                piece.stateTime = physics.time + 0.5;
                piece.asleep = false;
                piece.body.velocity = velocity;
                return;
            }
    }
};

TEST(TerrainStreaming, AStillPlayerGetsTwoChunksAPassUntilNearAndViewedCellsAreCovered) {
    Streaming s;
    const Vec3 at = s.ground(s.centerOf(fieldCell).x, s.centerOf(fieldCell).z);
    // The first call runs a pass; the next 0.04 s later does not; dt <= 0 always runs one.
    struct Call {
        double dt;
        std::uint64_t generated;
        double timer;
    };
    for (const Call& call : {Call{0.04, 2, 0.1}, Call{0.04, 0, 0.06}, Call{0.0, 2, 0.1}, Call{-1.0, 2, 0.1},
                             Call{0.06, 0, 0.04}, Call{0.06, 2, 0.1}}) {
        s.engine.update(s.physics, at, north, call.dt);
        EXPECT_EQ(s.engine.generatedThisPass, call.generated) << call.dt;
        EXPECT_NEAR(s.engine.timer, call.timer, 1e-12) << call.dt;
    }
    // The district lies 4 km away: its (empty) chunk went in the first pass.
    EXPECT_FALSE(s.engine.chunks.contains(EarthEngine::landmarkOwner));
    int passes = 0;
    do {
        s.pass(at);
        ++passes;
        ASSERT_LE(s.engine.generatedThisPass, 2u);
    } while (s.engine.generatedThisPass == 2);
    EXPECT_GT(passes, 10);

    // Exactly the cells within 160 m and those in view within 384 m are covered.
    std::size_t wanted = 0;
    for (int j = fieldCell.j - 6; j <= fieldCell.j + 6; ++j)
        for (int i = fieldCell.i - 6; i <= fieldCell.i + 6; ++i) {
            const Vec3 center = s.centerOf({i, j, false});
            const double d = length(center - at);
            const bool want = d <= 160.0 || (d <= 384.0 && dot(normalized(center - at), north) >= 0.25);
            wanted += want ? 1 : 0;
            const std::uint64_t key = s.keyOf({i, j, false});
            ASSERT_EQ(key != 0, want) << i << ", " << j;
            if (key != 0) {
                EXPECT_EQ(s.engine.chunks.at(key).center, center);
            }
        }
    EXPECT_EQ(s.engine.cells.size(), wanted);
    EXPECT_EQ(s.engine.chunks.size(), wanted);
    EXPECT_EQ(s.engine.pinnedChunks(), 0u);
    // Every chunk was handed to the organisms once, with its pieces as the physics holds them.
    ASSERT_EQ(s.populations.size(), wanted);
    for (const Streaming::Population& population : s.populations) {
        EXPECT_EQ(s.keyOf(population.cell), population.key);
        EXPECT_TRUE(samePieces(population.pieces, s.piecesOf(population.key)));
    }
}

// Breaking one bond pins the player's chunk; its untouched neighbour is dropped when the player
// goes 700 m away and made again on return, the pinned one saved and restored from exactly 384 m.
TEST(TerrainStreaming, DisturbedChunksAreSavedAndRestoredUntouchedOnesAreMadeAgain) {
    Streaming s;
    const Vec3 home = s.ground(s.centerOf(fieldCell).x, s.centerOf(fieldCell).z);
    s.settle(home);
    const std::uint64_t broken = s.keyOf(fieldCell);
    const std::uint64_t untouched = s.keyOf(eastCell);
    ASSERT_NE(broken, 0u);
    ASSERT_NE(untouched, 0u);
    const std::vector<MatterPiece> neighbour = s.piecesOf(untouched);

    // A bond between two of its ground columns breaks: nothing else shows it.
    auto column = [&](std::uint32_t id) {
        const MatterPiece& piece = s.physics.pieces[id - 1];
        return piece.owner == broken && piece.anchored;
    };
    const auto before = s.bondsOf(broken);
    const auto bond = std::find_if(s.physics.bonds.begin(), s.physics.bonds.end(),
                                   [&](const Bond& b) { return column(b.a) && column(b.b); });
    ASSERT_NE(bond, s.physics.bonds.end());
    bond->intact = false;
    s.physics.topologyDirty = true;
    const std::vector<MatterPiece> pieces = s.piecesOf(broken);
    const auto bonds = s.bondsOf(broken);
    ASSERT_EQ(bonds.size() + 1, before.size());
    s.pass(home);
    EXPECT_TRUE(s.engine.chunks.at(broken).pinned);
    EXPECT_FALSE(s.engine.chunks.at(untouched).pinned);
    EXPECT_EQ(s.engine.pinnedChunks(), 1u);

    const Vec3 away = s.ground(home.x, home.z - 700.0);
    s.pass(away);
    EXPECT_FALSE(s.engine.chunks.contains(untouched));
    EXPECT_FALSE(s.engine.saved.contains(untouched));
    EXPECT_EQ(s.keyOf(eastCell), 0u);
    ASSERT_TRUE(s.engine.saved.contains(broken));
    EXPECT_EQ(s.keyOf(fieldCell), 0u);
    const EarthEngine::SavedChunk kept = s.engine.saved.at(broken); // a copy: restoring erases it
    EXPECT_EQ(kept.cell, fieldCell);
    EXPECT_EQ(s.engine.savedPieces, pieces.size());
    ASSERT_EQ(kept.brokenPairs.size(), 1u);
    EXPECT_GT(s.renumberings, 0u);

    // Exactly 384 m east of its centre: restored in the first pass, not made a second time.
    const std::size_t populated = s.populations.size();
    const Vec3 edge = s.engine.saved.at(broken).center + Vec3{384.0, 0.0, 0.0};
    s.pass(edge);
    ASSERT_EQ(s.keyOf(fieldCell), broken);
    EXPECT_TRUE(s.engine.chunks.at(broken).pinned);
    EXPECT_TRUE(s.engine.saved.empty());
    EXPECT_EQ(s.engine.savedPieces, 0u);
    EXPECT_TRUE(sameMatter(s.piecesOf(broken), pieces));
    EXPECT_EQ(s.bondsOf(broken), bonds);
    const std::uint32_t base = s.piecesOf(broken).front().id - 1;
    const auto [a, b] = kept.brokenPairs.front();
    EXPECT_TRUE(s.physics.brokenPairs.contains(pairKey(base + a, base + b)));
    ASSERT_GT(s.populations.size(), populated);
    EXPECT_EQ(s.populations[populated].key, broken);
    EXPECT_EQ(s.populations[populated].cell, fieldCell);
    EXPECT_TRUE(samePieces(s.populations[populated].pieces, s.piecesOf(broken)));

    // Home again: the neighbour is made afresh, identical, under a new key; the broken pair stays
    // apart and no pair is bonded twice.
    s.settle(home);
    const std::uint64_t again = s.keyOf(eastCell);
    EXPECT_GT(again, broken);
    EXPECT_TRUE(sameMatter(s.piecesOf(again), neighbour));
    EXPECT_EQ(s.keyOf(fieldCell), broken);
    std::set<std::uint64_t> pairs;
    for (const Bond& b2 : s.physics.bonds)
        if (b2.intact) {
            EXPECT_TRUE(pairs.insert(pairKey(b2.a, b2.b)).second) << b2.a << ", " << b2.b;
        }
    EXPECT_FALSE(pairs.contains(pairKey(base + a, base + b)));
}

// A chunk saved before the last motion window ended comes back asleep; one saved after it, in a new
// window, comes back as it was.
TEST(TerrainStreaming, ChunksSavedBeforeTheMotionWindowEndedComeBackAsleep) {
    for (const double savedAt : {5.0, 12.0}) {
        SCOPED_TRACE(savedAt);
        Streaming s;
        const Vec3 home = s.ground(s.centerOf(fieldCell).x, s.centerOf(fieldCell).z);
        s.pass(home);
        const std::uint64_t key = s.keyOf(fieldCell);
        s.physics.time = savedAt;
        s.physics.expireMotion(); // the window of the first 10 s ends, unless it is still open
        const Vec3 velocity{0.0, 0.0, 0.5};
        s.wake(key, velocity);
        s.pass(s.ground(home.x, home.z - 700.0));
        ASSERT_TRUE(s.engine.saved.contains(key));
        s.physics.time = 12.0;
        s.physics.expireMotion();
        EXPECT_EQ(s.physics.motionEndedAt, 10.0);
        s.physics.beginWeaponImpact(); // a new window, open until 22 s
        s.physics.time = 13.0;
        s.pass(home);
        const MatterPiece first = s.piecesOf(key).front();
        const bool asleep = savedAt <= 10.0;
        EXPECT_EQ(first.asleep, asleep);
        EXPECT_EQ(first.body.velocity, asleep ? Vec3{} : velocity);
    }
}

// With the saved chunks at their limit (160 chunks, or 24,000 pieces), saving one more drops the
// oldest, whose cell is then made afresh.
TEST(TerrainStreaming, TheOldestSavedChunkIsDroppedBeyondTheLimits) {
    struct Limit {
        std::size_t chunks;
        bool byPieces;
    };
    for (const Limit& limit : {Limit{159, false}, Limit{1, true}}) {
        SCOPED_TRACE(limit.byPieces ? "pieces" : "chunks");
        Streaming s;
        const Vec3 home = s.ground(s.centerOf(fieldCell).x, s.centerOf(fieldCell).z);
        s.pass(home);
        const std::uint64_t oldest = s.keyOf(fieldCell);
        s.wake(oldest);
        const Vec3 away = s.ground(home.x, home.z - 700.0);
        s.pass(away);
        ASSERT_TRUE(s.engine.saved.contains(oldest));
        // Newer saved chunks far away fill the store up to its limit.
        for (std::size_t n = 0; n < limit.chunks; ++n) {
            EarthEngine::SavedChunk far;
            far.center = {3.0e6, 0.0, 0.0};
            far.pinned = true;
            far.cell = ChunkCell{50000, static_cast<std::int32_t>(n), false};
            far.pieces.resize(limit.byPieces ? 24000 - s.engine.savedPieces : 1);
            s.engine.savedPieces += far.pieces.size();
            s.engine.saved[s.engine.nextKey++] = std::move(far);
        }
        ASSERT_EQ(s.engine.evictedChunks, 0u);
        const std::uint64_t newest = s.keyOf({fieldCell.i, fieldCell.j - 11, false});
        ASSERT_NE(newest, 0u);
        s.wake(newest);
        s.pass(s.ground(away.x, away.z - 700.0));
        EXPECT_GE(s.engine.evictedChunks, 1u);
        EXPECT_FALSE(s.engine.saved.contains(oldest));
        EXPECT_TRUE(s.engine.saved.contains(newest));
        EXPECT_LE(s.engine.saved.size(), 160u);
        EXPECT_LE(s.engine.savedPieces, 24000u);

        s.pass(home);
        const std::uint64_t fresh = s.keyOf(fieldCell);
        EXPECT_GT(fresh, oldest);
        EXPECT_FALSE(s.engine.chunks.at(fresh).pinned);
        std::vector<MatterPiece> made = s.engine.generate(fieldCell.i, fieldCell.j, false);
        const std::vector<MatterPiece> now = s.piecesOf(fresh);
        ASSERT_EQ(now.size(), made.size());
        for (std::size_t k = 0; k < made.size(); ++k)
            EXPECT_EQ(now[k].body.center, made[k].body.center);
    }
}

TEST(TerrainStreaming, TheDistrictStaysTo2600MAndIsRebuiltStandingWithin2300M) {
    const std::vector<MatterPiece> district = smallDistrict();
    Streaming s(district);
    const std::size_t districtBonds = s.physics.bonds.size();
    ASSERT_EQ(s.engine.baseline.size(), district.size());

    // Cells inside the district are handed to the organisms with the district's own matter there.
    s.pass({0.5, 1.7, 0.5});
    ASSERT_FALSE(s.populations.empty());
    EXPECT_EQ(s.populations.front().cell, (ChunkCell{0, 0, false}));
    EXPECT_TRUE(samePieces(s.populations.front().pieces, s.piecesOf(EarthEngine::landmarkOwner)));

    struct Stop {
        double x;
        bool loaded;
    };
    for (const Stop& stop :
         {Stop{2550.0, true}, Stop{2700.0, false}, Stop{2350.0, false}, Stop{2250.0, true}}) {
        s.pass(s.ground(stop.x, 0.0));
        EXPECT_EQ(s.engine.chunks.contains(EarthEngine::landmarkOwner), stop.loaded) << stop.x;
    }
    EXPECT_TRUE(s.engine.saved.empty());
    const std::vector<MatterPiece> rebuilt = s.piecesOf(EarthEngine::landmarkOwner);
    ASSERT_EQ(rebuilt.size(), district.size());
    for (std::size_t k = 0; k < rebuilt.size(); ++k) {
        EXPECT_EQ(rebuilt[k].body.center, district[k].body.center);
        EXPECT_TRUE(rebuilt[k].supported);
        EXPECT_EQ(rebuilt[k].assembly, -1);
    }
    EXPECT_EQ(s.bondsOf(EarthEngine::landmarkOwner).size(), districtBonds);
    EXPECT_EQ(s.engine.pinnedChunks(), 0u);
}

std::uint64_t engineHash(const EarthEngine& engine, const Physics& physics) {
    test::StateHash h;
    test::hashPhysics(h, physics);
    for (const auto& [key, chunk] : engine.chunks) {
        h.add(key);
        h.add(chunk.center);
        h.add(chunk.pinned);
    }
    for (const auto& [key, chunk] : engine.saved) {
        h.add(key);
        h.add(chunk.time);
        h.add(static_cast<std::uint64_t>(chunk.pieces.size()));
        h.add(static_cast<std::uint64_t>(chunk.bonds.size()));
        h.add(static_cast<std::uint64_t>(chunk.brokenPairs.size()));
    }
    for (const auto& [cell, key] : engine.cells)
        h.add(key);
    for (const MatterPiece& piece : engine.overview)
        h.add(piece.body.center);
    h.add(engine.nextKey);
    h.add(engine.savedPieces);
    h.add(engine.evictedChunks);
    return h.value();
}

// 10 km east and back at 400 m/s, with a shot into the ground every kilometre, the physics stepping
// all the while.
TEST(TerrainStreaming, AScriptedWalkGivesTheSameWorldTwice) {
    auto walk = [] {
        Streaming s(smallDistrict());
        s.wake(EarthEngine::landmarkOwner); // the district is saved and restored too
        int shots = 0;
        for (int n = 0; n <= 500; ++n) {
            const double x = 40.0 * (n <= 250 ? n : 500 - n);
            const Vec3 at = s.ground(x, 0.0);
            s.pass(at, n <= 250 ? Vec3{1.0, 0.0, 0.0} : Vec3{-1.0, 0.0, 0.0});
            s.physics.step(passTime);
            const PieceHit hit = s.physics.trace(at + Vec3{3.0, 20.0, 3.0}, {0.0, -1.0, 0.0}, 100.0);
            if (n % 25 == 24 && hit.hit) {
                s.physics.impact(hit.index + 1,
                                 Impact{hit.point, {0.0, -4000.0, 0.0}, 2e6, 0.01, 1e-3, 2.0, true});
                ++shots;
            }
        }
        EXPECT_GE(shots, 18);
        EXPECT_GT(s.physics.fractureCount, 0u);
        EXPECT_GT(s.engine.saved.size(), 10u);
        // Chunks shot on the way out came back on the way home: populated again under their key.
        std::set<std::uint64_t> keys;
        std::size_t restored = 0;
        for (const Streaming::Population& population : s.populations)
            restored += keys.insert(population.key).second ? 0 : 1;
        EXPECT_GT(restored, 5u);
        return engineHash(s.engine, s.physics);
    };
    EXPECT_EQ(walk(), walk());
}

} // namespace
} // namespace zarn
