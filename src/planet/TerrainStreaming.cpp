#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <unordered_set>
#include <vector>

#include "physics/Physics.hpp"
#include "planet/EarthEngine.hpp"

namespace zarn {

namespace {

constexpr double passInterval = 0.1; // s of game time between streaming passes
// Chunks unload beyond these distances and saved ones come back within the next ones; the district
// stands much farther.
constexpr double unloadDistance = 640.0;
constexpr double districtUnloadDistance = 2600.0;
constexpr double restoreDistance = 384.0;
constexpr double districtRestoreDistance = 2300.0;
// New chunks: every cell within the near reach, and within the restore reach the cells in view
// (roughly 75.5 degrees of the view direction); at most two a pass, from a block of 13 x 13 cells.
constexpr double nearReach = 160.0;
constexpr double viewCosine = 0.25;
constexpr int candidateReach = 6;
constexpr std::uint64_t chunksPerPass = 2;
// Saved damage is kept up to these limits; beyond them the oldest saved chunk is dropped.
constexpr std::uint64_t savedPieceLimit = 24000;
constexpr std::size_t savedChunkLimit = 160;
// A piece that is not anchored leans on the pieces its bounds meet when grown by this much.
constexpr double leanMargin = 0.05;
// Leaning is found on one word a piece: the index of its chunk, with this bit set for an anchored
// piece, so that the pieces a query lists are sorted out without reading them.
constexpr std::uint32_t anchoredBit = 0x80000000u;
constexpr std::uint32_t noChunk = 0x7FFFFFFFu;

using LinkEnd = EarthEngine::LinkEnd;
using CrossLink = EarthEngine::CrossLink;

bool isDistrict(std::uint64_t key) {
    return key == EarthEngine::landmarkOwner;
}

double distance(const Vec3& center, const Vec3& position) {
    return length(center - position);
}

// One comparison for restoring a saved chunk and for generating its cell, so that a saved chunk at
// exactly the reach comes back instead of being made a second time.
bool withinReach(double distance, double reach) {
    return distance <= reach;
}

Vec3 cellCenter(int i, int j, double height) {
    return {ChunkCell::middle(i), height, ChunkCell::middle(j)};
}

Box grown(const Box& box, double margin) {
    const Vec3 by{margin, margin, margin};
    return {box.min - by, box.max + by};
}

bool meet(const Box& a, const Box& b) {
    return a.min.x <= b.max.x && b.min.x <= a.max.x && a.min.y <= b.max.y && b.min.y <= a.max.y &&
           a.min.z <= b.max.z && b.min.z <= a.max.z;
}

LinkEnd loadedEnd(std::uint32_t id) {
    LinkEnd end;
    end.at = id;
    return end;
}

bool isLoaded(const LinkEnd& end) {
    return end.kind == LinkEnd::Kind::loaded;
}

// Whether two ends are on the same chunk, wherever in it.
bool sameChunk(const LinkEnd& a, const LinkEnd& b) {
    return a.kind == b.kind && a.key == b.key &&
           (a.kind != LinkEnd::Kind::dropped || a.key != 0 || a.cell == b.cell);
}

bool onAlivePiece(const Physics& physics, const LinkEnd& end) {
    return isLoaded(end) && end.at != 0 && end.at <= physics.pieces.size() &&
           physics.pieces[end.at - 1].alive;
}

// A link done with, or whose piece is gone, is marked so by an end on no piece, and then dropped.
void forget(CrossLink& link) {
    link.a = loadedEnd(0);
}

void dropForgotten(std::vector<CrossLink>& links) {
    std::erase_if(links, [](const CrossLink& link) {
        return (isLoaded(link.a) && link.a.at == 0) || (isLoaded(link.b) && link.b.at == 0);
    });
}

// Orders the leaning pairs by the leaning chunk alone, to find a chunk's pairs.
struct LeaningOrder {
    bool operator()(const std::pair<std::uint64_t, std::uint64_t>& edge, std::uint64_t key) const {
        return edge.first < key;
    }
    bool operator()(std::uint64_t key, const std::pair<std::uint64_t, std::uint64_t>& edge) const {
        return key < edge.first;
    }
};

std::optional<ChunkCell> cellOfKey(const std::vector<std::pair<std::uint64_t, ChunkCell>>& cells,
                                   std::uint64_t key) {
    const auto it = std::lower_bound(cells.begin(), cells.end(), key,
                                     [](const auto& entry, std::uint64_t k) { return entry.first < k; });
    if (it == cells.end() || it->first != key)
        return std::nullopt;
    return it->second;
}

} // namespace

void EarthEngine::initialize(Physics& physics) {
    chunks.clear();
    saved.clear();
    cells.clear();
    savedPieces = 0;
    timer = 0.0;
    evictedChunks = 0;
    nextKey = 2;
    links.clear();
    compactionsFollowed = physics.compaction.count;
    compact(physics);
    for (MatterPiece& piece : physics.pieces) {
        piece.groundLevel = physics.groundLevel;
        piece.owner = landmarkOwner;
    }
    baseline = physics.pieces;
    chunks[landmarkOwner] = Chunk{};
    shareLoadedChunks();
}

void EarthEngine::update(Physics& physics, Vec3 position, Vec3 forward, double dt) {
    generatedThisPass = 0;
    followCompactions(physics);
    timer -= dt;
    if (timer > 0.0 && dt > 0.0)
        return;
    timer = passInterval;

    updateOverview(position, forward);
    pinDisturbedChunks(physics);
    unloadFarChunks(physics, position);
    restoreNearChunks(physics, position);
    // Restored chunks keep their own bonds and broken pairs, and the links make their bonds to
    // other chunks again; only what the district and the generator add from here on is bonded.
    const auto firstNew = static_cast<std::uint32_t>(physics.pieces.size() + 1);
    rebuildDistrict(physics, position);
    findCandidates(position, forward);
    generateCandidates(physics);
    // What was bonded across a chunk's edge when it went is made again now that both sides are
    // here: a pair that broke is refused before the new pieces bond, which would join it again,
    // and the kept bonds are made after, where that bonding did not make them itself.
    refuseBrokenLinks(physics);
    bondNewPieces(physics, firstNew);
    bondLinks(physics);
    shareLoadedChunks();
}

// The organisms' grey blocks turn into matter only of chunks that are here.
void EarthEngine::shareLoadedChunks() {
    std::set<std::uint64_t>& keys = ecology.matterChunks.emplace();
    for (const auto& entry : chunks)
        keys.insert(keys.end(), entry.first);
}

std::size_t EarthEngine::pinnedChunks() const {
    return static_cast<std::size_t>(
        std::count_if(chunks.begin(), chunks.end(), [](const auto& entry) { return entry.second.pinned; }));
}

// A chunk is pinned once its matter was disturbed: a piece died, split, lost its support or was woken,
// or one of its bonds broke.
void EarthEngine::pinDisturbedChunks(const Physics& physics) {
    // Pieces of one chunk mostly lie together: the last chunk found is asked first.
    std::uint64_t lastOwner = 0;
    Chunk* last = nullptr;
    auto pin = [&](std::uint64_t owner) {
        if (owner != lastOwner || last == nullptr) {
            const auto it = chunks.find(owner);
            lastOwner = owner;
            last = it == chunks.end() ? nullptr : &it->second;
        }
        if (last != nullptr)
            last->pinned = true;
    };
    for (const MatterPiece& piece : physics.pieces)
        if (!piece.alive || piece.generation != 0 || !piece.supported || piece.stateTime > 0.0)
            pin(piece.owner);
    const std::size_t count = physics.pieces.size();
    for (const Bond& bond : physics.bonds) {
        if (bond.intact)
            continue;
        for (const std::uint32_t id : {bond.a, bond.b})
            if (id != 0 && id <= count)
                pin(physics.pieces[id - 1].owner);
    }
}

void EarthEngine::unloadFarChunks(Physics& physics, const Vec3& position) {
    std::vector<std::uint64_t>& unloading = scratch.unloading;
    unloading.clear();
    for (const auto& [key, chunk] : chunks)
        if (distance(chunk.center, position) > (isDistrict(key) ? districtUnloadDistance : unloadDistance))
            unloading.push_back(key);
    if (unloading.empty())
        return;
    findLeaning(physics);
    holdLeanedOn();
    if (unloading.empty())
        return;

    std::vector<std::pair<std::uint64_t, ChunkCell>>& cellOf = scratch.cellOf;
    cellOf.clear();
    for (const auto& [cell, key] : cells)
        cellOf.emplace_back(key, cell);
    std::sort(cellOf.begin(), cellOf.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    numberLeavingPieces(physics);
    saveChunks(physics);
    linkLeavingPieces(physics);
    auto goes = [&unloading](std::uint64_t owner) {
        return std::binary_search(unloading.begin(), unloading.end(), owner);
    };
    // The dead pieces of the chunks that go are dead already: only the numbered ones are taken.
    for (std::size_t index = 0; index < physics.pieces.size(); ++index)
        if (scratch.positions[index] != 0)
            physics.remove(static_cast<std::uint32_t>(index));
    for (const std::uint64_t key : unloading)
        chunks.erase(key);
    std::erase_if(cells, [&goes](const auto& entry) { return goes(entry.second); });
    compact(physics);
}

// Chunk A leans on chunk B when an alive piece of A that is not anchored is bonded to a piece of B,
// or its bounds, grown by leanMargin, meet those of one: without B that piece may fall. Anchored
// pieces never fall and lean on nothing. Only the pairs with a chunk due to unload are found.
void EarthEngine::findLeaning(Physics& physics) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>>& leaning = scratch.leaning;
    leaning.clear();
    std::vector<std::uint64_t>& loaded = scratch.loaded;
    loaded.clear();
    for (const auto& [key, chunk] : chunks)
        loaded.push_back(key);
    std::vector<std::uint8_t>& due = scratch.due;
    due.assign(loaded.size(), 0);
    for (const std::uint64_t key : scratch.unloading)
        due[static_cast<std::size_t>(std::lower_bound(loaded.begin(), loaded.end(), key) - loaded.begin())] =
            1;
    // The chunk of every alive piece, as an index into loaded (no key is 0, the owner of none), and
    // whether it is anchored.
    const std::vector<MatterPiece>& pieces = physics.pieces;
    std::vector<std::uint32_t>& chunkOf = scratch.chunkOf;
    chunkOf.assign(pieces.size(), noChunk);
    std::vector<std::size_t>& sizes = scratch.sizes;
    sizes.assign(loaded.size(), 0);
    std::uint64_t lastOwner = 0;
    std::uint32_t last = noChunk;
    for (std::size_t index = 0; index < pieces.size(); ++index) {
        const MatterPiece& piece = pieces[index];
        if (!piece.alive)
            continue;
        if (piece.owner != lastOwner) {
            lastOwner = piece.owner;
            const auto it = std::lower_bound(loaded.begin(), loaded.end(), lastOwner);
            last = it != loaded.end() && *it == lastOwner ? static_cast<std::uint32_t>(it - loaded.begin())
                                                          : noChunk;
        }
        chunkOf[index] = last | (piece.anchored ? anchoredBit : 0u);
        if (last != noChunk)
            ++sizes[last];
    }
    auto lean = [&](std::uint32_t from, std::uint32_t to) {
        const std::pair<std::uint64_t, std::uint64_t> edge{loaded[from], loaded[to]};
        if (leaning.empty() || leaning.back() != edge)
            leaning.push_back(edge);
    };

    // The bonds across the edges of the chunks due to unload, broken ones too, are noted for the
    // links their pieces leave.
    const std::size_t count = pieces.size();
    std::vector<std::size_t>& crossing = scratch.crossing;
    crossing.clear();
    for (std::size_t k = 0; k < physics.bonds.size(); ++k) {
        const Bond& bond = physics.bonds[k];
        if (bond.a == 0 || bond.b == 0 || bond.a > count || bond.b > count)
            continue;
        const std::uint32_t a = chunkOf[bond.a - 1];
        const std::uint32_t b = chunkOf[bond.b - 1];
        const std::uint32_t ca = a & noChunk;
        const std::uint32_t cb = b & noChunk;
        if (ca == noChunk || cb == noChunk || ca == cb || !(due[ca] || due[cb]))
            continue;
        crossing.push_back(k);
        if (bond.intact && (a & anchoredBit) == 0)
            lean(ca, cb);
        if (bond.intact && (b & anchoredBit) == 0)
            lean(cb, ca);
    }

    // Touching pairs are asked of the grid from one of their two pieces: from the pieces of the
    // chunks due to unload, or, when those are more, from the pieces of every chunk but the largest
    // (two pieces of two chunks are never both of it) that come near the chunks due to unload. The
    // district alone has tens of thousands.
    std::size_t dueSize = 0;
    std::size_t total = 0;
    std::uint32_t largest = noChunk;
    for (std::uint32_t c = 0; c < loaded.size(); ++c) {
        total += sizes[c];
        dueSize += due[c] ? sizes[c] : 0;
        if (largest == noChunk || sizes[c] > sizes[largest])
            largest = c;
    }
    const bool fromDue = dueSize <= total - (largest == noChunk ? 0 : sizes[largest]);
    // Bounds of the pieces due to unload (there is one at least when they are more), each taken as
    // wide as it can be whichever way it turns.
    Box dueBounds;
    if (!fromDue) {
        bool first = true;
        for (std::size_t index = 0; index < count; ++index) {
            const std::uint32_t c = chunkOf[index] & noChunk;
            if (c == noChunk || !due[c])
                continue;
            const Polyhedron& body = pieces[index].body;
            const double r = body.halfExtents.x + body.halfExtents.y + body.halfExtents.z;
            const Box own{body.center - Vec3{r, r, r}, body.center + Vec3{r, r, r}};
            dueBounds =
                first ? own : Box{componentMin(dueBounds.min, own.min), componentMax(dueBounds.max, own.max)};
            first = false;
        }
    }
    physics.rebuildNotedGrid();
    std::vector<std::uint32_t>& found = scratch.found;
    for (std::size_t index = 0; index < count; ++index) {
        const std::uint32_t c = chunkOf[index] & noChunk;
        if (c == noChunk || (fromDue ? !due[c] : c == largest))
            continue;
        const bool anchored = (chunkOf[index] & anchoredBit) != 0;
        const Box reach = grown(pieces[index].body.bounds(), leanMargin);
        if (!fromDue && !meet(reach, dueBounds))
            continue;
        physics.query(reach, found);
        for (const std::uint32_t id : found) {
            const std::uint32_t touched = chunkOf[id - 1];
            const std::uint32_t other = touched & noChunk;
            if (other == noChunk || other == c || (anchored && (touched & anchoredBit) != 0) ||
                !(due[c] || due[other]) || !meet(pieces[id - 1].body.bounds(), reach))
                continue;
            if (!anchored)
                lean(c, other);
            if ((touched & anchoredBit) == 0)
                lean(other, c);
        }
    }
    std::sort(leaning.begin(), leaning.end());
    leaning.erase(std::unique(leaning.begin(), leaning.end()), leaning.end());
}

// A chunk due to unload stays while a chunk that stays leans on it, and so then does what it leans
// on: matter is never left without what holds it up.
void EarthEngine::holdLeanedOn() {
    std::vector<std::uint64_t>& unloading = scratch.unloading;
    auto goes = [&unloading](std::uint64_t key) {
        return std::binary_search(unloading.begin(), unloading.end(), key);
    };
    for (bool held = true; held;) {
        held = false;
        for (const auto& [from, to] : scratch.leaning)
            if (!goes(from) && goes(to)) {
                unloading.erase(std::lower_bound(unloading.begin(), unloading.end(), to));
                held = true;
            }
    }
}

// The 1-based position of every alive piece of a chunk that goes among its chunk's alive pieces.
void EarthEngine::numberLeavingPieces(const Physics& physics) {
    const std::vector<std::uint64_t>& unloading = scratch.unloading;
    std::vector<std::uint32_t>& positions = scratch.positions;
    positions.assign(physics.pieces.size(), 0);
    std::vector<std::size_t>& counts = scratch.counts;
    counts.assign(unloading.size(), 0);
    std::uint64_t lastOwner = 0; // no chunk's key
    std::size_t slot = unloading.size();
    for (std::size_t index = 0; index < physics.pieces.size(); ++index) {
        const MatterPiece& piece = physics.pieces[index];
        if (!piece.alive)
            continue;
        if (piece.owner != lastOwner) {
            lastOwner = piece.owner;
            const auto it = std::lower_bound(unloading.begin(), unloading.end(), lastOwner);
            slot = it != unloading.end() && *it == lastOwner
                       ? static_cast<std::size_t>(it - unloading.begin())
                       : unloading.size();
        }
        if (slot < unloading.size())
            positions[index] = static_cast<std::uint32_t>(++counts[slot]);
    }
}

// Every bond and broken pair between a piece of a chunk that goes and one of another loaded chunk
// is kept as a link, its ends on the pieces that go now at their positions in their chunks; links
// kept before whose loaded end goes now change the same way.
void EarthEngine::linkLeavingPieces(const Physics& physics) {
    const std::vector<std::uint32_t>& positions = scratch.positions;
    const std::vector<MatterPiece>& pieces = physics.pieces;
    const std::size_t count = pieces.size();
    auto leaving = [&](std::uint32_t id) { return id != 0 && id <= count && positions[id - 1] != 0; };
    // The end a piece leaves; none (on no piece) for a chunk of no cell, which never happens.
    auto endOf = [&](std::uint32_t id) {
        if (!leaving(id))
            return loadedEnd(id);
        const std::uint64_t owner = pieces[id - 1].owner;
        LinkEnd end;
        end.at = positions[id - 1];
        if (chunks.at(owner).pinned) {
            end.kind = LinkEnd::Kind::saved;
            end.key = owner;
        } else if (isDistrict(owner)) {
            end.kind = LinkEnd::Kind::dropped;
            end.key = owner;
        } else if (const std::optional<ChunkCell> cell = cellOfKey(scratch.cellOf, owner)) {
            end.kind = LinkEnd::Kind::dropped;
            end.cell = *cell;
        } else {
            return loadedEnd(0);
        }
        return end;
    };
    // Two alive pieces of two loaded chunks, one of them at least going.
    auto crosses = [&](std::uint32_t a, std::uint32_t b) {
        if (a == 0 || b == 0 || a > count || b > count || !(leaving(a) || leaving(b)))
            return false;
        const MatterPiece& pa = pieces[a - 1];
        const MatterPiece& pb = pieces[b - 1];
        return pa.alive && pb.alive && pa.owner != pb.owner && chunks.contains(pa.owner) &&
               chunks.contains(pb.owner);
    };

    for (CrossLink& link : links)
        for (LinkEnd* end : {&link.a, &link.b})
            if (isLoaded(*end) && leaving(end->at))
                *end = endOf(end->at);
    for (const std::size_t k : scratch.crossing)
        if (const Bond& bond = physics.bonds[k]; bond.intact && crosses(bond.a, bond.b))
            links.push_back({endOf(bond.a), endOf(bond.b), bond});
    // Pairs broken since the last refresh are bonds still; the set of the others has no order of
    // its own. Each pair is kept once, in their order.
    std::vector<std::uint64_t>& pairs = scratch.pairs;
    pairs.clear();
    for (const std::size_t k : scratch.crossing)
        if (const Bond& bond = physics.bonds[k]; !bond.intact && crosses(bond.a, bond.b))
            pairs.push_back(pairKey(bond.a, bond.b));
    for (const std::uint64_t key : physics.brokenPairs)
        if (crosses(static_cast<std::uint32_t>(key >> 32), static_cast<std::uint32_t>(key & 0xFFFFFFFFull)))
            pairs.push_back(key);
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    for (const std::uint64_t key : pairs) {
        Bond broken;
        broken.a = static_cast<std::uint32_t>(key >> 32);
        broken.b = static_cast<std::uint32_t>(key & 0xFFFFFFFFull);
        broken.intact = false;
        links.push_back({endOf(broken.a), endOf(broken.b), broken});
    }

    // A saved chunk dropped for the memory limit comes back as its cell makes it, untouched, and is
    // bonded as a new chunk: its links go. A bond between two untouched chunks that are away is
    // made again by the bonding of the one that comes back second.
    for (CrossLink& link : links) {
        auto evicted = [this](const LinkEnd& end) {
            return end.kind == LinkEnd::Kind::saved && !saved.contains(end.key);
        };
        if (evicted(link.a) || evicted(link.b) ||
            (link.bond.intact && link.a.kind == LinkEnd::Kind::dropped &&
             link.b.kind == LinkEnd::Kind::dropped))
            forget(link);
    }
    dropForgotten(links);
}

void EarthEngine::restoreNearChunks(Physics& physics, const Vec3& position) {
    std::vector<std::uint64_t>& restoring = scratch.restoring;
    std::vector<ChunkCell>& supports = scratch.supports;
    restoring.clear();
    supports.clear();
    scratch.supportDistrict = false;
    for (const auto& [key, chunk] : saved)
        if (withinReach(distance(chunk.center, position),
                        isDistrict(key) ? districtRestoreDistance : restoreDistance))
            restoring.push_back(key);
    // A chunk comes back with what it leaned on, before any matter moves again: a saved chunk it
    // leaned on is restored with it however far it is (and so is what that one leaned on), an absent
    // cell is made in this pass beyond the two a pass, an absent district is rebuilt.
    auto restoreToo = [&restoring](std::uint64_t key) {
        if (std::find(restoring.begin(), restoring.end(), key) == restoring.end())
            restoring.push_back(key);
    };
    for (std::size_t n = 0; n < restoring.size(); ++n) {
        const SavedChunk& chunk = saved.at(restoring[n]);
        for (const ChunkCell& cell : chunk.leansOn) {
            if (cells.contains(cell))
                continue;
            const auto kept = std::find_if(saved.begin(), saved.end(),
                                           [&cell](const auto& entry) { return entry.second.cell == cell; });
            if (kept != saved.end())
                restoreToo(kept->first);
            else
                supports.push_back(cell);
        }
        if (chunk.leansOnDistrict && !chunks.contains(landmarkOwner)) {
            if (saved.contains(landmarkOwner))
                restoreToo(landmarkOwner);
            else
                scratch.supportDistrict = true;
        }
    }
    std::sort(restoring.begin(), restoring.end());
    std::sort(supports.begin(), supports.end());
    supports.erase(std::unique(supports.begin(), supports.end()), supports.end());
    for (const std::uint64_t key : restoring) {
        const auto it = saved.find(key);
        restore(physics, key, it->second);
        savedPieces -= it->second.pieces.size();
        saved.erase(it);
    }
    // Every change the engine makes is one physics notes (pieces added and removed, bonds appended),
    // so the refresh walks only what the restored chunks reach.
    if (!restoring.empty()) {
        physics.noteTopologyChange();
        physics.refreshNotedTopology();
    }
}

// The district comes back undamaged from the copy taken at the start when it was dropped whole (it
// was never disturbed, or its saved copy was evicted): within its reach, or farther for a restored
// chunk that leaned on it.
void EarthEngine::rebuildDistrict(Physics& physics, const Vec3& position) {
    if (chunks.contains(landmarkOwner) ||
        !(scratch.supportDistrict || length(position) < districtRestoreDistance))
        return;
    const std::size_t first = physics.pieces.size();
    std::size_t added = 0;
    for (MatterPiece piece : baseline) {
        piece.assembly = -1;
        piece.stateTime = 0.0;
        added += physics.addNoted(piece) != 0 ? 1 : 0;
    }
    chunks[landmarkOwner] = Chunk{};
    LinkEnd district;
    district.kind = LinkEnd::Kind::dropped;
    district.key = landmarkOwner;
    loadLinkEnds(district, first, added, baseline.size());
}

// The cells near the player that no chunk covers and that stand on the sphere, nearest first.
void EarthEngine::findCandidates(const Vec3& position, const Vec3& forward) {
    std::vector<Candidate>& candidates = scratch.candidates;
    candidates.clear();
    // Beyond the sphere (or nowhere at all) no cell has ground.
    const double limit = 2.0 * EarthModel::radius;
    if (!(std::abs(position.x) < limit && std::abs(position.z) < limit && std::isfinite(position.y)))
        return;
    const bool farSide = EarthModel::onFarSide(position);
    const int ci = static_cast<int>(std::floor(position.x / ChunkCell::size));
    const int cj = static_cast<int>(std::floor(position.z / ChunkCell::size));
    for (int j = cj - candidateReach; j <= cj + candidateReach; ++j) {
        for (int i = ci - candidateReach; i <= ci + candidateReach; ++i) {
            const ChunkCell cell{i, j, farSide};
            if (cells.contains(cell))
                continue;
            const Vec3 ground = cellCenter(i, j, 0.0);
            const double height = model.surface(ground.x, ground.z, farSide);
            if (std::isnan(height))
                continue;
            const Vec3 center = cellCenter(i, j, height);
            const double d = distance(center, position);
            if (!withinReach(d, restoreDistance))
                continue;
            if (d <= nearReach || dot(normalized(center - position), forward) >= viewCosine)
                candidates.push_back({d, cell, center});
        }
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.d != b.d)
            return a.d < b.d;
        return a.cell.i != b.cell.i ? a.cell.i < b.cell.i : a.cell.j < b.cell.j;
    });
}

void EarthEngine::generateCandidates(Physics& physics) {
    // The cells restored chunks lean on first, beyond the two a pass.
    for (const ChunkCell& cell : scratch.supports) {
        const Vec3 ground = cellCenter(cell.i, cell.j, 0.0);
        const double height = model.surface(ground.x, ground.z, cell.farSide);
        if (!cells.contains(cell) && !std::isnan(height))
            generateChunk(physics, cell, cellCenter(cell.i, cell.j, height));
    }
    std::uint64_t made = 0;
    for (const Candidate& candidate : scratch.candidates) {
        if (made >= chunksPerPass)
            break;
        if (cells.contains(candidate.cell))
            continue; // made above
        generateChunk(physics, candidate.cell, candidate.center);
        ++made;
    }
}

void EarthEngine::generateChunk(Physics& physics, const ChunkCell& cell, const Vec3& center) {
    const std::vector<MatterPiece> pieces = generate(cell.i, cell.j, cell.farSide);
    const std::uint64_t key = nextKey++;
    const std::size_t first = physics.pieces.size();
    std::size_t added = 0;
    for (MatterPiece piece : pieces) {
        piece.owner = key;
        piece.stateTime = 0.0;
        added += physics.addNoted(piece) != 0 ? 1 : 0;
    }
    if (populateEcology) {
        // Inside the district the organisms live on the district's own matter of the cell.
        std::vector<MatterPiece>& populated = scratch.populated;
        populated.assign(physics.pieces.begin() + static_cast<std::ptrdiff_t>(first), physics.pieces.end());
        const double x0 = ChunkCell::size * cell.i;
        const double z0 = ChunkCell::size * cell.j;
        const Box& d = districtBounds;
        if (!cell.farSide && d.min.x < center.x && center.x < d.max.x && d.min.z < center.z &&
            center.z < d.max.z)
            for (const MatterPiece& piece : physics.pieces) {
                const Vec3& p = piece.body.center;
                if (piece.alive && isDistrict(piece.owner) && x0 <= p.x && p.x < x0 + ChunkCell::size &&
                    z0 <= p.z && p.z < z0 + ChunkCell::size)
                    populated.push_back(piece);
            }
        populateChunk(cell, key, populated, false);
    }
    cells[cell] = key;
    chunks[key] = Chunk{center, false};
    ++generatedThisPass;
    LinkEnd dropped;
    dropped.kind = LinkEnd::Kind::dropped;
    dropped.cell = cell;
    loadLinkEnds(dropped, first, added, pieces.size());
}

void EarthEngine::refuseBrokenLinks(Physics& physics) {
    for (CrossLink& link : links) {
        if (link.bond.intact || !isLoaded(link.a) || !isLoaded(link.b))
            continue;
        if (onAlivePiece(physics, link.a) && onAlivePiece(physics, link.b))
            physics.brokenPairs.insert(pairKey(link.a.at, link.b.at));
        forget(link);
    }
    dropForgotten(links);
}

void EarthEngine::bondLinks(Physics& physics) {
    auto ready = [](const CrossLink& link) {
        return link.bond.intact && isLoaded(link.a) && isLoaded(link.b);
    };
    if (std::none_of(links.begin(), links.end(), ready))
        return;
    // The pairs among the links' pieces that are bonded already: the bonding of a new chunk makes its
    // face bonds itself.
    std::vector<std::uint8_t>& marked = scratch.marked;
    marked.assign(physics.pieces.size(), 0);
    for (const CrossLink& link : links)
        if (ready(link) && onAlivePiece(physics, link.a) && onAlivePiece(physics, link.b))
            marked[link.a.at - 1] = marked[link.b.at - 1] = 1;
    const std::size_t count = physics.pieces.size();
    std::unordered_set<std::uint64_t> bonded;
    for (const Bond& bond : physics.bonds)
        if (bond.intact && bond.a != 0 && bond.b != 0 && bond.a <= count && bond.b <= count &&
            marked[bond.a - 1] && marked[bond.b - 1])
            bonded.insert(pairKey(bond.a, bond.b));
    bool made = false;
    for (CrossLink& link : links) {
        if (!ready(link))
            continue;
        const std::uint64_t key = pairKey(link.a.at, link.b.at);
        if (onAlivePiece(physics, link.a) && onAlivePiece(physics, link.b) && !bonded.contains(key) &&
            !physics.brokenPairs.contains(key) && physics.bonds.size() < Physics::maxBonds) {
            Bond bond = link.bond;
            bond.a = link.a.at;
            bond.b = link.b.at;
            physics.bonds.push_back(bond);
            bonded.insert(key);
            made = true;
        }
        forget(link);
    }
    dropForgotten(links);
    // Appended bonds are a change physics notes: the refresh walks only what they reach.
    if (made) {
        physics.noteTopologyChange();
        physics.refreshNotedTopology();
    }
}

void EarthEngine::bondNewPieces(Physics& physics, std::uint32_t firstNew) {
    if (physics.pieces.size() < firstNew)
        return;
    physics.connectNew(firstNew);
    if (std::any_of(physics.bonds.begin(), physics.bonds.end(),
                    [](const Bond& bond) { return !bond.intact; }))
        compact(physics);
}

void EarthEngine::saveChunks(const Physics& physics) {
    // The pinned chunks that go, each with its pieces' 1-based positions noted per piece index.
    std::vector<std::pair<std::uint64_t, SavedChunk>>& saving = scratch.saving;
    saving.clear();
    for (const std::uint64_t key : scratch.unloading) {
        const Chunk& chunk = chunks.at(key);
        if (!chunk.pinned)
            continue;
        SavedChunk copy;
        copy.center = chunk.center;
        copy.pinned = chunk.pinned;
        copy.time = physics.time;
        copy.cell = cellOfKey(scratch.cellOf, key);
        const auto leaned =
            std::equal_range(scratch.leaning.begin(), scratch.leaning.end(), key, LeaningOrder{});
        for (auto edge = leaned.first; edge != leaned.second; ++edge) {
            if (isDistrict(edge->second))
                copy.leansOnDistrict = true;
            else if (const std::optional<ChunkCell> cell = cellOfKey(scratch.cellOf, edge->second))
                copy.leansOn.push_back(*cell);
        }
        std::sort(copy.leansOn.begin(), copy.leansOn.end());
        saving.emplace_back(key, std::move(copy));
    }
    if (saving.empty())
        return;
    auto slotOf = [&saving](std::uint64_t owner) {
        const auto it =
            std::lower_bound(saving.begin(), saving.end(), owner,
                             [](const auto& entry, std::uint64_t key) { return entry.first < key; });
        return it != saving.end() && it->first == owner ? static_cast<std::size_t>(it - saving.begin())
                                                        : saving.size();
    };
    // The pieces kept, in the order of their positions in their chunk. The lists are sized before
    // they are filled: the district alone holds tens of thousands of pieces and bonds.
    const std::vector<std::uint32_t>& positions = scratch.positions;
    std::vector<std::size_t>& counts = scratch.counts;
    counts.assign(saving.size(), 0);
    for (std::size_t index = 0; index < physics.pieces.size(); ++index)
        if (const std::size_t slot =
                positions[index] != 0 ? slotOf(physics.pieces[index].owner) : saving.size();
            slot < saving.size())
            ++counts[slot];
    for (std::size_t slot = 0; slot < saving.size(); ++slot)
        saving[slot].second.pieces.reserve(counts[slot]);
    for (std::size_t index = 0; index < physics.pieces.size(); ++index)
        if (const std::size_t slot =
                positions[index] != 0 ? slotOf(physics.pieces[index].owner) : saving.size();
            slot < saving.size())
            saving[slot].second.pieces.push_back(physics.pieces[index]);

    // A bond or a broken pair is kept when both its pieces are kept in the same chunk.
    auto sameChunk = [&](std::uint64_t a, std::uint64_t b) {
        if (a == 0 || b == 0 || a > positions.size() || b > positions.size() || positions[a - 1] == 0 ||
            positions[b - 1] == 0 || physics.pieces[a - 1].owner != physics.pieces[b - 1].owner)
            return saving.size();
        return slotOf(physics.pieces[a - 1].owner);
    };
    counts.assign(saving.size(), 0);
    for (const Bond& bond : physics.bonds)
        if (const std::size_t slot = sameChunk(bond.a, bond.b); slot < saving.size() && bond.intact)
            ++counts[slot];
    for (std::size_t slot = 0; slot < saving.size(); ++slot)
        saving[slot].second.bonds.reserve(counts[slot]);
    for (const Bond& bond : physics.bonds) {
        const std::size_t slot = sameChunk(bond.a, bond.b);
        if (slot == saving.size())
            continue;
        SavedChunk& copy = saving[slot].second;
        const std::uint32_t a = positions[bond.a - 1];
        const std::uint32_t b = positions[bond.b - 1];
        if (!bond.intact) {
            // Broken since the last refresh, so not yet among the broken pairs: still refused.
            copy.brokenPairs.emplace_back(static_cast<std::int32_t>(std::min(a, b)),
                                          static_cast<std::int32_t>(std::max(a, b)));
            continue;
        }
        Bond kept = bond;
        kept.a = a;
        kept.b = b;
        copy.bonds.push_back(kept);
    }
    for (const std::uint64_t key : physics.brokenPairs) {
        const std::uint64_t a = key >> 32;
        const std::uint64_t b = key & 0xFFFFFFFFull;
        if (const std::size_t slot = sameChunk(a, b); slot < saving.size())
            saving[slot].second.brokenPairs.emplace_back(static_cast<std::int32_t>(positions[a - 1]),
                                                         static_cast<std::int32_t>(positions[b - 1]));
    }
    for (auto& [key, copy] : saving) {
        // The set has no order of its own: the pairs are kept sorted, each once.
        std::vector<std::pair<std::int32_t, std::int32_t>>& pairs = copy.brokenPairs;
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        keep(key, std::move(copy));
    }
}

// Keeps one saved chunk, then drops the oldest saved chunks while the limits are exceeded.
void EarthEngine::keep(std::uint64_t key, SavedChunk chunk) {
    if (const auto old = saved.find(key); old != saved.end())
        savedPieces -= old->second.pieces.size(); // replaced: its pieces are no longer held
    savedPieces += chunk.pieces.size();
    saved.insert_or_assign(key, std::move(chunk));
    while (!saved.empty() && (savedPieces > savedPieceLimit || saved.size() > savedChunkLimit)) {
        savedPieces -= saved.begin()->second.pieces.size();
        saved.erase(saved.begin());
        ++evictedChunks;
    }
}

void EarthEngine::restore(Physics& physics, std::uint64_t key, const SavedChunk& chunk) {
    // A chunk saved before the last motion window ended would have been frozen with everything else.
    const bool frozen = chunk.time <= physics.motionEndedAt;
    const auto base = static_cast<std::uint32_t>(physics.pieces.size());
    std::size_t added = 0;
    for (MatterPiece piece : chunk.pieces) {
        if (frozen) {
            piece.asleep = true;
            piece.body.velocity = {};
            piece.body.angularVelocity = {};
        }
        added += physics.addNoted(piece) != 0 ? 1 : 0;
    }
    for (Bond bond : chunk.bonds) {
        bond.a += base;
        bond.b += base;
        physics.bonds.push_back(bond);
    }
    for (const auto& [a, b] : chunk.brokenPairs)
        physics.brokenPairs.insert(
            pairKey(base + static_cast<std::uint32_t>(a), base + static_cast<std::uint32_t>(b)));
    chunks[key] = Chunk{chunk.center, chunk.pinned};
    if (!isDistrict(key) && chunk.cell) {
        cells[*chunk.cell] = key;
        if (populateEcology) {
            scratch.populated.assign(physics.pieces.begin() + base, physics.pieces.end());
            populateChunk(*chunk.cell, key, scratch.populated, true);
        }
    }
    LinkEnd kept;
    kept.kind = LinkEnd::Kind::saved;
    kept.key = key;
    loadLinkEnds(kept, base, added, chunk.pieces.size());
}

void EarthEngine::loadLinkEnds(const LinkEnd& end, std::size_t first, std::size_t added, std::size_t count) {
    // A piece that could not be added leaves the positions after it uncertain: the chunk's links go.
    // So do those to a piece the chunk no longer has (one the organisms laid on it).
    for (CrossLink& link : links)
        for (LinkEnd* at : {&link.a, &link.b}) {
            if (!sameChunk(*at, end))
                continue;
            if (added != count || at->at == 0 || at->at > count) {
                forget(link);
                break;
            }
            *at = loadedEnd(static_cast<std::uint32_t>(first + at->at));
        }
    dropForgotten(links);
}

void EarthEngine::compact(Physics& physics) {
    followCompactions(physics);
    const std::vector<std::uint32_t>& renumbering = physics.compactHistory();
    // Organisms' bonds to the matter and the links' loaded ends name piece ids: they follow the
    // renumbering.
    ecology.renumberWorldBonds(renumbering);
    renumberLinks(renumbering);
    compactionsFollowed = physics.compaction.count;
}

void EarthEngine::followCompactions(const Physics& physics) {
    const std::uint64_t count = physics.compaction.count;
    if (count == compactionsFollowed)
        return;
    // Only the last renumbering is kept: after more than one the loaded ends cannot be told, and go.
    renumberLinks(count == compactionsFollowed + 1 ? physics.compaction.renumbering
                                                   : std::vector<std::uint32_t>{});
    compactionsFollowed = count;
}

void EarthEngine::renumberLinks(const std::vector<std::uint32_t>& renumbering) {
    for (CrossLink& link : links)
        for (LinkEnd* end : {&link.a, &link.b})
            if (isLoaded(*end))
                end->at = end->at < renumbering.size() ? renumbering[end->at] : 0;
    dropForgotten(links);
}

void EarthEngine::populateChunk(const ChunkCell& cell, std::uint64_t key,
                                const std::vector<MatterPiece>& pieces, bool savedMatter) {
    ecology.populate(cell.i, cell.j, cell.farSide, key, pieces, model, savedMatter);
}

} // namespace zarn
