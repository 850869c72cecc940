#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"
#include "planet/EarthEngine.hpp"
#include "support/StateHash.hpp"

namespace zarn {
namespace {

constexpr Vec3 north{0.0, 0.0, 1.0};
// Fields 4 km south-west of the district: the player's own cell and its east neighbour.
constexpr ChunkCell fieldCell{-26, -60, false};
constexpr ChunkCell eastCell{-25, -60, false};

// A digest of the pieces' matter: every field but their ids, owner and assembly index.
std::uint64_t matter(const std::vector<MatterPiece>& pieces) {
    Physics world;
    for (MatterPiece piece : pieces) {
        piece.id = static_cast<std::uint32_t>(world.pieces.size() + 1);
        piece.owner = 0;
        piece.assembly = -1;
        world.pieces.push_back(piece);
    }
    test::StateHash h;
    test::hashPhysics(h, world);
    return h.value();
}

std::vector<std::uint32_t> ids(const std::vector<MatterPiece>& pieces) {
    std::vector<std::uint32_t> out;
    for (const MatterPiece& piece : pieces)
        out.push_back(piece.id);
    return out;
}

// A small district in cell (0, 0): a ground slab with a column of three cubes and a lintel on it.
std::vector<MatterPiece> smallDistrict() {
    std::vector<MatterPiece> pieces(5);
    const Vec3 centers[] = {
        {10.0, -0.5, 10.0}, {8.0, 0.5, 10.0}, {8.0, 1.5, 10.0}, {8.0, 2.5, 10.0}, {9.0, 3.25, 10.0}};
    const Vec3 halves[] = {
        {6.0, 0.5, 6.0}, {0.5, 0.5, 0.5}, {0.5, 0.5, 0.5}, {0.5, 0.5, 0.5}, {1.5, 0.25, 0.5}};
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        pieces[k].body.center = centers[k];
        pieces[k].body.halfExtents = halves[k];
    }
    pieces[0].anchored = true;
    return pieces;
}

// The engine and its physics with a player on the Earth; the calls meant for the organisms are
// recorded, with the ids of the pieces handed on.
struct Streaming {
    struct Population {
        ChunkCell cell;
        std::uint64_t key;
        std::vector<std::uint32_t> ids;
    };
    EarthEngine engine;
    Physics physics;
    std::vector<Population> populations;
    std::uint64_t renumberings = 0;

    explicit Streaming(const std::vector<MatterPiece>& district = {}) {
        static const EarthEngine prototype; // the planet model is built once
        engine = prototype;
        for (const MatterPiece& piece : district)
            physics.add(piece);
        physics.connectTouching();
        engine.populateEcology = true;
        engine.ecologyCalls.populate = [this](int i, int j, bool farSide, std::uint64_t key,
                                              const std::vector<MatterPiece>& pieces,
                                              const EarthModel& model) {
            EXPECT_EQ(&model, &engine.model);
            populations.push_back({{i, j, farSide}, key, ids(pieces)});
        };
        engine.ecologyCalls.renumberWorldBonds = [this](const std::vector<std::uint32_t>& newIds) {
            EXPECT_EQ(newIds, physics.compaction.renumbering);
            ++renumberings;
        };
        engine.initialize(physics);
    }
    Streaming(const Streaming&) = delete;

    // The centre of a cell on the ground.
    Vec3 at(const ChunkCell& cell) const {
        const double x = (cell.i + 0.5) * 64.0;
        const double z = (cell.j + 0.5) * 64.0;
        return {x, engine.model.surface(x, z, cell.farSide), z};
    }
    void pass(const Vec3& where, const Vec3& forward = north) { engine.update(physics, where, forward, 0.1); }
    // Passes at one place until one makes no chunk.
    void settle(const Vec3& where) {
        for (int n = 0; n < 100 && (n == 0 || engine.generatedThisPass != 0); ++n)
            pass(where);
        EXPECT_EQ(engine.generatedThisPass, 0u);
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
    // The intact bonds between pieces of one chunk, as pairs of the pieces' positions in its list.
    std::set<std::uint64_t> bondsOf(std::uint64_t key) const {
        std::vector<std::uint32_t> position(physics.pieces.size() + 1, 0);
        std::uint32_t next = 0;
        for (const MatterPiece& piece : physics.pieces)
            position[piece.id] = piece.owner == key ? ++next : 0;
        std::set<std::uint64_t> out;
        for (const Bond& bond : physics.bonds)
            if (bond.intact && position[bond.a] != 0 && position[bond.b] != 0)
                out.insert(pairKey(position[bond.a], position[bond.b]));
        return out;
    }
    // Disturbs a chunk as a wake does: one of its pieces moves.
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
    const Vec3 home = s.at(fieldCell) + Vec3{0.0, 1.7, 0.0};
    // A pass runs when the timer has run down, and on every call with dt <= 0; it resets the timer.
    struct Call {
        double dt;
        std::uint64_t generated;
        double timer;
    };
    for (const Call& call : {Call{0.04, 2, 0.1}, Call{0.04, 0, 0.06}, Call{0.0, 2, 0.1}, Call{-1.0, 2, 0.1},
                             Call{0.06, 0, 0.04}, Call{0.06, 2, 0.1}}) {
        s.engine.update(s.physics, home, north, call.dt);
        EXPECT_EQ(s.engine.generatedThisPass, call.generated) << call.dt;
        EXPECT_NEAR(s.engine.timer, call.timer, 1e-12) << call.dt;
    }
    EXPECT_FALSE(s.engine.chunks.contains(EarthEngine::landmarkOwner)); // 4 km away: gone at once
    int passes = 0;
    for (; s.engine.generatedThisPass == 2; ++passes)
        s.pass(home);
    EXPECT_GT(passes, 10);

    // Exactly the cells within 160 m and those in view within 384 m are covered.
    std::size_t wanted = 0;
    for (int j = fieldCell.j - 6; j <= fieldCell.j + 6; ++j)
        for (int i = fieldCell.i - 6; i <= fieldCell.i + 6; ++i) {
            const Vec3 center = s.at({i, j, false});
            const double d = length(center - home);
            const bool want = d <= 160.0 || (d <= 384.0 && dot(normalized(center - home), north) >= 0.25);
            wanted += want ? 1 : 0;
            const std::uint64_t key = s.keyOf({i, j, false});
            ASSERT_EQ(key != 0, want) << i << ", " << j;
            EXPECT_TRUE(key == 0 || s.engine.chunks.at(key).center == center);
        }
    EXPECT_EQ(s.engine.chunks.size(), wanted);
    EXPECT_EQ(s.engine.pinnedChunks(), 0u);
    // Every chunk was handed to the organisms once, with its pieces as the physics holds them.
    ASSERT_EQ(s.populations.size(), wanted);
    for (const Streaming::Population& population : s.populations) {
        EXPECT_EQ(s.keyOf(population.cell), population.key);
        EXPECT_EQ(population.ids, ids(s.piecesOf(population.key)));
    }
}

// Breaking one bond pins the player's chunk; its untouched neighbour is dropped when the player
// goes 700 m away and made again on return, the pinned one saved and restored from exactly 384 m.
TEST(TerrainStreaming, DisturbedChunksAreSavedAndRestoredUntouchedOnesAreMadeAgain) {
    Streaming s;
    const Vec3 home = s.at(fieldCell) + Vec3{0.0, 1.7, 0.0};
    s.settle(home);
    const std::uint64_t broken = s.keyOf(fieldCell);
    const std::uint64_t untouched = s.keyOf(eastCell);
    const std::vector<MatterPiece> neighbour = s.piecesOf(untouched);

    // A bond between two of its ground columns breaks: nothing else shows it.
    auto column = [&](std::uint32_t id) {
        return s.physics.pieces[id - 1].owner == broken && s.physics.pieces[id - 1].anchored;
    };
    const std::size_t before = s.bondsOf(broken).size();
    const auto bond = std::find_if(s.physics.bonds.begin(), s.physics.bonds.end(),
                                   [&](const Bond& b) { return column(b.a) && column(b.b); });
    ASSERT_NE(bond, s.physics.bonds.end());
    bond->intact = false;
    s.physics.topologyDirty = true;
    const std::vector<MatterPiece> pieces = s.piecesOf(broken);
    const std::set<std::uint64_t> bonds = s.bondsOf(broken);
    ASSERT_EQ(bonds.size() + 1, before);
    s.pass(home);
    EXPECT_TRUE(s.engine.chunks.at(broken).pinned);
    EXPECT_EQ(s.engine.pinnedChunks(), 1u);

    s.pass(home + Vec3{0.0, 0.0, -700.0});
    EXPECT_FALSE(s.engine.chunks.contains(untouched) || s.engine.saved.contains(untouched));
    EXPECT_EQ(s.keyOf(eastCell) + s.keyOf(fieldCell), 0u);
    ASSERT_TRUE(s.engine.saved.contains(broken));
    const EarthEngine::SavedChunk kept = s.engine.saved.at(broken); // a copy: restoring erases it
    EXPECT_EQ(kept.cell, fieldCell);
    EXPECT_EQ(s.engine.savedPieces, pieces.size());
    ASSERT_EQ(kept.brokenPairs.size(), 1u);
    EXPECT_GT(s.renumberings, 0u);

    // Exactly 384 m east of its centre: restored in the first pass, not made a second time.
    const std::size_t populated = s.populations.size();
    s.pass(kept.center + Vec3{384.0, 0.0, 0.0});
    ASSERT_EQ(s.keyOf(fieldCell), broken);
    EXPECT_TRUE(s.engine.chunks.at(broken).pinned);
    EXPECT_TRUE(s.engine.saved.empty());
    EXPECT_EQ(s.engine.savedPieces, 0u);
    EXPECT_EQ(matter(s.piecesOf(broken)), matter(pieces));
    EXPECT_EQ(s.bondsOf(broken), bonds);
    const std::uint32_t base = s.piecesOf(broken).front().id - 1;
    const std::uint64_t pair = pairKey(base + kept.brokenPairs[0].first, base + kept.brokenPairs[0].second);
    EXPECT_TRUE(s.physics.brokenPairs.contains(pair));
    ASSERT_GT(s.populations.size(), populated);
    EXPECT_EQ(s.populations[populated].key, broken);
    EXPECT_EQ(s.populations[populated].cell, fieldCell);
    EXPECT_EQ(s.populations[populated].ids, ids(s.piecesOf(broken)));

    // Home again: the neighbour is made afresh, identical, under a new key; the broken pair stays
    // apart and no pair is bonded twice.
    s.settle(home);
    EXPECT_GT(s.keyOf(eastCell), broken);
    EXPECT_EQ(matter(s.piecesOf(s.keyOf(eastCell))), matter(neighbour));
    std::set<std::uint64_t> pairs;
    for (const Bond& b : s.physics.bonds)
        EXPECT_TRUE(!b.intact || pairs.insert(pairKey(b.a, b.b)).second) << b.a << ", " << b.b;
    EXPECT_FALSE(pairs.contains(pair));
}

// A chunk saved before the last motion window ended comes back asleep; one saved after it, in a new
// window, comes back as it was.
TEST(TerrainStreaming, ChunksSavedBeforeTheMotionWindowEndedComeBackAsleep) {
    for (const double savedAt : {5.0, 12.0}) {
        SCOPED_TRACE(savedAt);
        Streaming s;
        const Vec3 home = s.at(fieldCell);
        s.pass(home);
        const std::uint64_t key = s.keyOf(fieldCell);
        s.physics.time = savedAt;
        s.physics.expireMotion(); // the first window closes at 10 s
        const Vec3 velocity{0.0, 0.0, 0.5};
        s.wake(key, velocity);
        s.pass(home + Vec3{0.0, 0.0, -700.0});
        ASSERT_TRUE(s.engine.saved.contains(key));
        s.physics.time = 12.0;
        s.physics.expireMotion();
        s.physics.beginWeaponImpact(); // a new window, open until 22 s
        s.physics.time = 13.0;
        s.pass(home);
        const MatterPiece first = s.piecesOf(key).front();
        EXPECT_EQ(first.asleep, savedAt <= 10.0);
        EXPECT_EQ(first.body.velocity, first.asleep ? Vec3{} : velocity);
    }
}

// With the saved chunks at their limit (160 chunks, or 24,000 pieces), saving one more drops the
// oldest, whose cell is then made afresh.
TEST(TerrainStreaming, TheOldestSavedChunkIsDroppedBeyondTheLimits) {
    for (const bool byPieces : {false, true}) {
        SCOPED_TRACE(byPieces ? "pieces" : "chunks");
        Streaming s;
        const Vec3 home = s.at(fieldCell);
        s.pass(home);
        const std::uint64_t oldest = s.keyOf(fieldCell);
        s.wake(oldest);
        s.pass(home + Vec3{0.0, 0.0, -700.0});
        ASSERT_TRUE(s.engine.saved.contains(oldest));
        // Newer saved chunks far away fill the store to its limit.
        for (std::int32_t n = 0; n < (byPieces ? 1 : 159); ++n) {
            EarthEngine::SavedChunk& far = s.engine.saved[s.engine.nextKey++];
            far.center = {3.0e6, 0.0, 0.0};
            far.cell = ChunkCell{50000, n, false};
            far.pieces.resize(byPieces ? 24000 - s.engine.savedPieces : 1);
            s.engine.savedPieces += far.pieces.size();
        }
        const std::uint64_t newest = s.keyOf({fieldCell.i, fieldCell.j - 11, false});
        ASSERT_NE(newest, 0u);
        s.wake(newest);
        s.pass(home + Vec3{0.0, 0.0, -1400.0});
        EXPECT_GE(s.engine.evictedChunks, 1u);
        EXPECT_FALSE(s.engine.saved.contains(oldest));
        EXPECT_TRUE(s.engine.saved.contains(newest));
        EXPECT_LE(s.engine.saved.size(), 160u);
        EXPECT_LE(s.engine.savedPieces, 24000u);

        s.pass(home);
        const std::uint64_t fresh = s.keyOf(fieldCell);
        EXPECT_GT(fresh, oldest);
        EXPECT_FALSE(s.engine.chunks.at(fresh).pinned);
        EXPECT_EQ(s.piecesOf(fresh).size(), s.engine.generate(fieldCell.i, fieldCell.j, false).size());
    }
}

TEST(TerrainStreaming, TheDistrictStaysTo2600MAndIsRebuiltStandingWithin2300M) {
    const std::vector<MatterPiece> district = smallDistrict();
    Streaming s(district);
    const std::size_t bonds = s.physics.bonds.size();
    // Cells inside the district are handed to the organisms with the district's own matter there.
    s.pass({0.5, 1.7, 0.5});
    ASSERT_FALSE(s.populations.empty());
    EXPECT_EQ(s.populations.front().cell, (ChunkCell{0, 0, false}));
    EXPECT_EQ(s.populations.front().ids, ids(s.piecesOf(EarthEngine::landmarkOwner)));

    for (const double x : {2550.0, 2700.0, 2350.0, 2250.0}) {
        s.pass({x, 0.0, 0.0});
        EXPECT_EQ(s.engine.chunks.contains(EarthEngine::landmarkOwner), x < 2300.0 || x == 2550.0) << x;
    }
    EXPECT_TRUE(s.engine.saved.empty());
    const std::vector<MatterPiece> rebuilt = s.piecesOf(EarthEngine::landmarkOwner);
    ASSERT_EQ(rebuilt.size(), district.size());
    for (std::size_t k = 0; k < rebuilt.size(); ++k)
        EXPECT_TRUE(rebuilt[k].body.center == district[k].body.center && rebuilt[k].supported &&
                    rebuilt[k].assembly == -1);
    EXPECT_EQ(s.bondsOf(EarthEngine::landmarkOwner).size(), bonds);
    EXPECT_EQ(s.engine.pinnedChunks(), 0u);
}

std::uint64_t engineHash(const EarthEngine& engine, const Physics& physics) {
    test::StateHash h;
    test::hashPhysics(h, physics);
    for (const auto& [key, chunk] : engine.chunks)
        h.add(chunk.center + Vec3{static_cast<double>(key), chunk.pinned ? 1.0 : 0.0, 0.0});
    for (const auto& [key, chunk] : engine.saved)
        h.add(matter(chunk.pieces) + key + chunk.bonds.size() + chunk.brokenPairs.size());
    for (const auto& [cell, key] : engine.cells)
        h.add(key);
    for (const MatterPiece& piece : engine.overview)
        h.add(piece.body.center);
    h.add(engine.nextKey + engine.evictedChunks);
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
            const Vec3 at{x, s.engine.model.surface(x, 0.0, false) + 1.7, 0.0};
            s.pass(at, {n <= 250 ? 1.0 : -1.0, 0.0, 0.0});
            s.physics.step(0.1);
            const PieceHit hit = n % 25 == 24
                                     ? s.physics.trace(at + Vec3{3.0, 20.0, 3.0}, {0.0, -1.0, 0.0}, 100.0)
                                     : PieceHit{};
            if (hit.hit) {
                s.physics.impact(hit.index + 1,
                                 Impact{hit.point, {0.0, -4000.0, 0.0}, 2e6, 0.01, 1e-3, 2.0, true});
                ++shots;
            }
        }
        EXPECT_GE(shots, 18);
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
