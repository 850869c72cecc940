#include <algorithm>
#include <cmath>
#include <cstdint>
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

} // namespace

void EarthEngine::initialize(Physics& physics) {
    chunks.clear();
    saved.clear();
    cells.clear();
    savedPieces = 0;
    timer = 0.0;
    evictedChunks = 0;
    nextKey = 2;
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
    timer -= dt;
    if (timer > 0.0 && dt > 0.0)
        return;
    timer = passInterval;

    updateOverview(position, forward);
    pinDisturbedChunks(physics);
    unloadFarChunks(physics, position);
    restoreNearChunks(physics, position);
    // Restored chunks keep their own bonds and broken pairs; only what the district and the
    // generator add from here on is bonded.
    const auto firstNew = static_cast<std::uint32_t>(physics.pieces.size() + 1);
    rebuildDistrict(physics, position);
    findCandidates(position, forward);
    generateCandidates(physics, !EarthModel::onFarSide(position));
    bondNewPieces(physics, firstNew);
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

    saveChunks(physics);
    auto goes = [&unloading](std::uint64_t owner) {
        return std::binary_search(unloading.begin(), unloading.end(), owner);
    };
    std::uint64_t lastOwner = 0;
    bool lastGoes = goes(lastOwner);
    for (std::size_t index = 0; index < physics.pieces.size(); ++index) {
        const std::uint64_t owner = physics.pieces[index].owner;
        if (owner != lastOwner) {
            lastOwner = owner;
            lastGoes = goes(owner);
        }
        if (lastGoes)
            physics.remove(static_cast<std::uint32_t>(index));
    }
    for (const std::uint64_t key : unloading)
        chunks.erase(key);
    std::erase_if(cells, [&goes](const auto& entry) { return goes(entry.second); });
    compact(physics);
}

void EarthEngine::restoreNearChunks(Physics& physics, const Vec3& position) {
    bool restored = false;
    for (auto it = saved.begin(); it != saved.end();) {
        const std::uint64_t key = it->first;
        if (!withinReach(distance(it->second.center, position),
                         isDistrict(key) ? districtRestoreDistance : restoreDistance)) {
            ++it;
            continue;
        }
        restore(physics, key, it->second);
        savedPieces -= it->second.pieces.size();
        it = saved.erase(it);
        restored = true;
    }
    // Every change the engine makes is one physics notes (pieces added and removed, bonds appended),
    // so the refresh walks only what the restored chunks reach.
    if (restored) {
        physics.noteTopologyChange();
        physics.refreshNotedTopology();
    }
}

// The district comes back undamaged from the copy taken at the start when it was dropped whole (it
// was never disturbed, or its saved copy was evicted).
void EarthEngine::rebuildDistrict(Physics& physics, const Vec3& position) {
    if (chunks.contains(landmarkOwner) || !(length(position) < districtRestoreDistance))
        return;
    for (MatterPiece piece : baseline) {
        piece.assembly = -1;
        piece.stateTime = 0.0;
        physics.addNoted(piece);
    }
    chunks[landmarkOwner] = Chunk{};
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

void EarthEngine::generateCandidates(Physics& physics, bool nearSide) {
    for (const Candidate& candidate : scratch.candidates) {
        if (generatedThisPass >= chunksPerPass)
            break;
        const ChunkCell& cell = candidate.cell;
        const std::vector<MatterPiece> pieces = generate(cell.i, cell.j, cell.farSide);
        const std::uint64_t key = nextKey++;
        const std::size_t first = physics.pieces.size();
        for (MatterPiece piece : pieces) {
            piece.owner = key;
            piece.stateTime = 0.0;
            physics.addNoted(piece);
        }
        if (populateEcology) {
            // Inside the district the organisms live on the district's own matter of the cell.
            std::vector<MatterPiece>& populated = scratch.populated;
            populated.assign(physics.pieces.begin() + static_cast<std::ptrdiff_t>(first),
                             physics.pieces.end());
            const double x0 = ChunkCell::size * cell.i;
            const double z0 = ChunkCell::size * cell.j;
            const Vec3& c = candidate.center;
            const Box& d = districtBounds;
            if (nearSide && d.min.x < c.x && c.x < d.max.x && d.min.z < c.z && c.z < d.max.z)
                for (const MatterPiece& piece : physics.pieces) {
                    const Vec3& p = piece.body.center;
                    if (piece.alive && isDistrict(piece.owner) && x0 <= p.x && p.x < x0 + ChunkCell::size &&
                        z0 <= p.z && p.z < z0 + ChunkCell::size)
                        populated.push_back(piece);
                }
            populateChunk(cell, key, populated, false);
        }
        cells[cell] = key;
        chunks[key] = Chunk{candidate.center, false};
        ++generatedThisPass;
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
        for (const auto& [cell, owner] : cells)
            if (owner == key)
                copy.cell = cell;
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
    // The pieces kept, with their 1-based positions in their chunk. The lists are sized before they
    // are filled: the district alone holds tens of thousands of pieces and bonds.
    std::vector<std::uint32_t>& positions = scratch.positions;
    positions.assign(physics.pieces.size(), 0);
    std::vector<std::size_t>& counts = scratch.counts;
    counts.assign(saving.size(), 0);
    for (std::size_t index = 0; index < physics.pieces.size(); ++index) {
        const MatterPiece& piece = physics.pieces[index];
        if (const std::size_t slot = piece.alive ? slotOf(piece.owner) : saving.size(); slot < saving.size())
            positions[index] = static_cast<std::uint32_t>(++counts[slot]);
    }
    for (std::size_t slot = 0; slot < saving.size(); ++slot)
        saving[slot].second.pieces.reserve(counts[slot]);
    for (std::size_t index = 0; index < physics.pieces.size(); ++index)
        if (positions[index] != 0)
            saving[slotOf(physics.pieces[index].owner)].second.pieces.push_back(physics.pieces[index]);

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
    for (MatterPiece piece : chunk.pieces) {
        if (frozen) {
            piece.asleep = true;
            piece.body.velocity = {};
            piece.body.angularVelocity = {};
        }
        physics.addNoted(piece);
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
}

void EarthEngine::compact(Physics& physics) {
    // Organisms' bonds to the matter name piece ids: they follow the renumbering.
    ecology.renumberWorldBonds(physics.compactHistory());
}

void EarthEngine::populateChunk(const ChunkCell& cell, std::uint64_t key,
                                const std::vector<MatterPiece>& pieces, bool savedMatter) {
    ecology.populate(cell.i, cell.j, cell.farSide, key, pieces, model, savedMatter);
}

} // namespace zarn
