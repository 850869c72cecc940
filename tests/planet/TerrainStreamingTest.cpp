#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"
#include "planet/EarthEngine.hpp"
#include "support/StateHash.hpp"

namespace zarn {
namespace {

constexpr Vec3 north{0.0, 0.0, 1.0};
constexpr Vec3 west{-1.0, 0.0, 0.0};
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

// The engine and its physics with a player on the Earth, the organisms populating the chunks.
struct Streaming {
    EarthEngine engine;
    Physics physics;

    explicit Streaming(const std::vector<MatterPiece>& district = {}) {
        static const EarthEngine prototype; // the planet model is built once
        engine = prototype;
        for (const MatterPiece& piece : district)
            physics.add(piece);
        physics.connectTouching();
        engine.populateEcology = true;
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
    // The organisms of a chunk's patch, by id.
    std::vector<std::uint32_t> organismsOf(std::uint64_t key) const {
        std::vector<std::uint32_t> out;
        for (const Organism& o : engine.ecology.organisms)
            if (o.alive && o.patch == key)
                out.push_back(o.id);
        return out;
    }
    // Whether the cell's patch lives under the chunk's key and its Cubes, not moved yet, stand on
    // the tops of the chunk's ground pieces: the population was given the chunk's own pieces.
    bool populatedFrom(const ChunkCell& cell, const std::vector<MatterPiece>& ground) const {
        const auto patch = engine.ecology.patches.find(cell);
        if (patch == engine.ecology.patches.end() || patch->second.id != keyOf(cell))
            return false;
        std::size_t cubes = 0;
        for (const Organism& o : engine.ecology.organisms) {
            if (!o.alive || o.patch != patch->second.id || o.kind != LifeKind::Cube)
                continue;
            ++cubes;
            const Vec3 foot = o.center - Vec3{0.0, o.halfExtents.y, 0.0};
            if (std::none_of(ground.begin(), ground.end(), [&](const MatterPiece& piece) {
                    const Vec3 top = piece.body.center + Vec3{0.0, piece.body.halfExtents.y, 0.0};
                    return piece.anchored && length(top - foot) < 1e-9;
                }))
                return false;
        }
        return cubes > 0;
    }
    // A piece, as its chunk's cell and its 1-based position among the chunk's alive pieces.
    using Place = std::pair<ChunkCell, std::uint32_t>;
    // The intact bonds, or the broken pairs, between pieces of two chunks of these cells.
    std::set<std::pair<Place, Place>> crossings(const std::set<ChunkCell>& among, bool intact) const {
        std::map<std::uint64_t, ChunkCell> cellOf;
        for (const auto& [cell, key] : engine.cells)
            if (among.contains(cell))
                cellOf[key] = cell;
        std::map<std::uint64_t, std::uint32_t> count;
        std::vector<std::optional<Place>> place(physics.pieces.size() + 1);
        for (const MatterPiece& piece : physics.pieces)
            if (piece.alive && cellOf.contains(piece.owner))
                place[piece.id] = Place{cellOf[piece.owner], ++count[piece.owner]};
        std::set<std::pair<Place, Place>> out;
        auto add = [&](std::uint64_t a, std::uint64_t b) {
            if (a < place.size() && b < place.size() && place[a] && place[b] &&
                place[a]->first != place[b]->first)
                out.insert(std::minmax(*place[a], *place[b]));
        };
        for (const Bond& bond : physics.bonds)
            if (bond.intact == intact)
                add(bond.a, bond.b);
        if (!intact)
            for (const std::uint64_t key : physics.brokenPairs)
                add(key >> 32, key & 0xFFFFFFFFull);
        return out;
    }
    // A loose box of chunk `key` on top of a ground column.
    std::uint32_t boxOn(const MatterPiece& column, std::uint64_t key) {
        MatterPiece box;
        box.owner = key;
        box.body.halfExtents = {0.5, 0.25, 0.5};
        box.body.center = column.body.center + Vec3{0.0, column.body.halfExtents.y + 0.25, 0.0};
        return physics.addNoted(box);
    }
    // A player's place on the near side's ground.
    Vec3 standing(Vec3 at) const {
        at.y = engine.model.surface(at.x, at.z, false) + 1.7;
        return at;
    }
    // Passes with a physics step after each.
    void walk(const Vec3& from, const Vec3& to, int passes, const Vec3& forward) {
        for (int n = 1; n <= passes; ++n) {
            pass(standing(from + (to - from) * (static_cast<double>(n) / passes)), forward);
            physics.step(0.1);
        }
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
    // Every chunk was populated from its own pieces, under its key.
    ASSERT_EQ(s.engine.ecology.patches.size(), wanted);
    for (const auto& [cell, patch] : s.engine.ecology.patches)
        EXPECT_TRUE(s.populatedFrom(cell, s.piecesOf(patch.id))) << cell.i << ", " << cell.j;
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

    // The organisms' life step, 800 m away, stores the player's patch away.
    const std::vector<std::uint32_t> organisms = s.organismsOf(broken);
    ASSERT_FALSE(organisms.empty());
    s.pass(home + Vec3{0.0, 0.0, -700.0});
    s.engine.ecology.step(s.physics, s.engine.model, home + Vec3{0.0, 0.0, -800.0}, {0.0, -9.8, 0.0}, 0.05);
    EXPECT_TRUE(s.engine.ecology.archives.contains(fieldCell));
    EXPECT_FALSE(s.engine.chunks.contains(untouched) || s.engine.saved.contains(untouched));
    EXPECT_EQ(s.keyOf(eastCell) + s.keyOf(fieldCell), 0u);
    ASSERT_TRUE(s.engine.saved.contains(broken));
    const EarthEngine::SavedChunk kept = s.engine.saved.at(broken); // a copy: restoring erases it
    EXPECT_EQ(kept.cell, fieldCell);
    EXPECT_EQ(s.engine.savedPieces, pieces.size());
    ASSERT_EQ(kept.brokenPairs.size(), 1u);

    // Exactly 384 m east of its centre: restored in the first pass, not made a second time, and its
    // organisms back from their archive.
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
    EXPECT_EQ(s.engine.ecology.patches.at(fieldCell).id, broken);
    EXPECT_EQ(s.organismsOf(broken), organisms);
    EXPECT_FALSE(s.engine.ecology.archives.contains(fieldCell));

    // Home again: the neighbour is made afresh, identical, under a new key; the broken pair stays
    // apart and no pair is bonded twice.
    s.settle(home);
    EXPECT_GT(s.keyOf(eastCell), broken);
    EXPECT_EQ(matter(s.piecesOf(s.keyOf(eastCell))), matter(neighbour));
    EXPECT_EQ(s.engine.ecology.patches.at(eastCell).id, s.keyOf(eastCell));
    EXPECT_FALSE(s.engine.ecology.archives.contains(eastCell));
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
    std::vector<MatterPiece> cell = s.piecesOf(EarthEngine::landmarkOwner);
    for (const MatterPiece& piece : s.piecesOf(s.keyOf({0, 0, false})))
        cell.push_back(piece);
    EXPECT_TRUE(s.populatedFrom({0, 0, false}, cell));

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

// 10 km east and back at 400 m/s, with a shot into the ground every kilometre, the physics and
// the organisms' life step running all the while.
TEST(TerrainStreaming, AScriptedWalkGivesTheSameWorldTwice) {
    auto walk = [] {
        Streaming s(smallDistrict());
        s.wake(EarthEngine::landmarkOwner); // the district is saved and restored too
        Ecology& ecology = s.engine.ecology;
        int shots = 0;
        std::set<std::uint64_t> seen;
        std::size_t restored = 0;
        // An organism's bond to a piece ahead follows that piece through the compactions.
        std::uint32_t heldId = 0;
        Vec3 heldAt;
        std::size_t renumbered = 0;
        for (int n = 0; n <= 500; ++n) {
            const double x = 40.0 * (n <= 250 ? n : 500 - n);
            const Vec3 at{x, s.engine.model.surface(x, 0.0, false) + 1.7, 0.0};
            std::set<ChunkCell> before;
            for (const auto& [cell, patch] : ecology.patches)
                before.insert(cell);
            s.pass(at, {n <= 250 ? 1.0 : -1.0, 0.0, 0.0});
            ecology.step(s.physics, s.engine.model, at, {0.0, -9.8, 0.0}, 0.1);
            s.physics.step(0.1);
            // Every loaded cell has its patch under the chunk's key; chunks shot on the way out come
            // back on the way home and are populated again under their key.
            for (const auto& [cell, key] : s.engine.cells) {
                const auto patch = ecology.patches.find(cell);
                EXPECT_TRUE(patch != ecology.patches.end() && patch->second.id == key);
                restored += !before.contains(cell) && !seen.insert(key).second ? 1 : 0;
            }
            const auto held = std::find_if(ecology.bonds.begin(), ecology.bonds.end(),
                                           [](const BioBond& bond) { return bond.toWorld; });
            if (held != ecology.bonds.end()) {
                EXPECT_EQ(s.physics.pieces.at(held->b - 1).body.center, heldAt);
                renumbered += held->b != heldId ? 1 : 0;
                heldId = held->b;
            }
            if (n == 100) {
                const MatterPiece& ahead = s.physics.pieces.back();
                ecology.bonds.push_back({1, ahead.id, 1, 1, {}, 1.0, {}});
                heldId = ahead.id;
                heldAt = ahead.body.center;
            }
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
        EXPECT_GT(restored, 5u);
        EXPECT_GT(ecology.archives.size(), 100u);
        EXPECT_GT(renumbered, 0u);
        test::StateHash h;
        h.add(engineHash(s.engine, s.physics) + ecology.births + ecology.organisms.size() +
              ecology.archiveCounter);
        for (const Organism& o : ecology.organisms)
            h.add(o.center + Vec3{static_cast<double>(o.id), static_cast<double>(o.patch), 0.0});
        return h.value();
    };
    EXPECT_EQ(walk(), walk());
}

// The player's chunk and its east neighbour, damaged across their edge: a bond between their
// columns broken, a box of the player's chunk bonded onto a column of the neighbour and another
// lying loose on one, a third chunk woken. A walk west takes the neighbour out of reach first: it
// is held while the boxes lean on it, then both go and are saved; on the way the physics compacts
// its pieces on its own. Home again, the bonds and broken pairs between the chunks of the start are
// those they had, none made twice, and nothing lies under the ground.
TEST(TerrainStreaming, ChunksComeBackJoinedAsTheyWentAndHeldUnderWhatLeansOnThem) {
    Streaming s;
    MatterPiece first; // of no chunk, far below: taken away later, every other piece is renumbered
    first.anchored = true;
    first.body.center = {0.0, -9000.0, 0.0};
    first.body.halfExtents = {1.0, 1.0, 1.0};
    s.physics.add(first);
    const Vec3 home = s.at(fieldCell) + Vec3{0.0, 1.7, 0.0};
    s.settle(home);
    const std::uint64_t player = s.keyOf(fieldCell);
    const std::uint64_t east = s.keyOf(eastCell);
    auto owner = [&](std::uint32_t id) { return s.physics.pieces[id - 1].owner; };
    const auto across = std::find_if(s.physics.bonds.begin(), s.physics.bonds.end(), [&](const Bond& b) {
        return std::minmax(owner(b.a), owner(b.b)) == std::minmax(player, east);
    });
    ASSERT_NE(across, s.physics.bonds.end());
    across->intact = false;
    s.physics.topologyDirty = true;
    const std::vector<MatterPiece> columns = s.piecesOf(east);
    s.physics.connectNew(s.boxOn(columns[0], player));
    s.boxOn(columns[1], player);
    s.wake(s.keyOf({fieldCell.i - 1, fieldCell.j + 1, false}));
    s.walk(home, home, 20, north); // the loose box settles

    std::set<ChunkCell> start;
    for (const auto& [cell, key] : s.engine.cells)
        start.insert(cell);
    const auto bonds = s.crossings(start, true);
    const auto broken = s.crossings(start, false);
    EXPECT_GT(bonds.size(), 100u);
    ASSERT_EQ(broken.size(), 1u);

    // Three seconds where the neighbour is beyond its reach and the player's chunk is not: the
    // neighbour is held.
    const Vec3 between = s.standing(home + Vec3{-610.0, 0.0, 0.0});
    ASSERT_LT(length(s.engine.chunks.at(player).center - between), 640.0);
    ASSERT_GT(length(s.engine.chunks.at(east).center - between), 640.0);
    s.walk(home, between, 20, west);
    s.walk(between, between, 30, west);
    EXPECT_TRUE(s.engine.chunks.contains(player) && s.engine.chunks.contains(east));
    s.physics.remove(0);
    s.physics.compactHistory();
    const Vec3 far = home + Vec3{-1150.0, 0.0, 0.0};
    s.walk(between, far, 20, west);
    ASSERT_TRUE(s.engine.saved.contains(player) && s.engine.saved.contains(east));
    EXPECT_EQ(s.engine.saved.at(player).leansOn, std::vector<ChunkCell>{eastCell});

    s.walk(far, home, 36, {1.0, 0.0, 0.0});
    s.settle(home);
    s.walk(home, home, 10, north);
    EXPECT_EQ(s.keyOf(fieldCell), player);
    EXPECT_EQ(s.keyOf(eastCell), east);
    EXPECT_EQ(s.crossings(start, true), bonds);
    EXPECT_EQ(s.crossings(start, false), broken);
    std::set<std::uint64_t> pairs;
    for (const Bond& b : s.physics.bonds)
        EXPECT_TRUE(!b.intact || pairs.insert(pairKey(b.a, b.b)).second) << b.a << ", " << b.b;
    for (const MatterPiece& piece : s.physics.pieces) {
        const Vec3& p = piece.body.center;
        EXPECT_TRUE(!piece.alive || piece.anchored || p.y > s.engine.model.surface(p.x, p.z, false) - 2.0)
            << p.x << ", " << p.y << ", " << p.z;
    }
}

// A box of the player's chunk bonded onto a column of its untouched east neighbour; the two go in
// one pass, the neighbour dropped. The chunk restored from the west, the player looking away,
// brings the neighbour's cell back in the same pass, and the box stays on it.
TEST(TerrainStreaming, AChunkComesBackWithTheDroppedChunkItLeanedOn) {
    Streaming s;
    const Vec3 home = s.at(fieldCell) + Vec3{0.0, 1.7, 0.0};
    s.settle(home);
    const std::uint64_t player = s.keyOf(fieldCell);
    const std::uint32_t box = s.boxOn(s.piecesOf(s.keyOf(eastCell)).front(), player);
    s.physics.connectNew(box);
    const Vec3 rest = s.physics.pieces[box - 1].body.center;
    s.wake(player);
    s.pass(home);
    s.pass(home + Vec3{0.0, 0.0, -1000.0});
    ASSERT_TRUE(s.engine.saved.contains(player));
    EXPECT_EQ(s.keyOf(eastCell), 0u);

    const Vec3 from = s.engine.saved.at(player).center + Vec3{-380.0, 0.0, 0.0};
    s.pass(from, west);
    ASSERT_EQ(s.keyOf(fieldCell), player);
    EXPECT_NE(s.keyOf(eastCell), 0u);
    EXPECT_TRUE(s.piecesOf(player).back().supported);
    for (int n = 0; n < 10; ++n) {
        s.physics.step(0.1);
        s.pass(from, west);
    }
    EXPECT_EQ(s.piecesOf(player).back().body.center, rest);
}

} // namespace
} // namespace zarn
