#include <utility>
#include <vector>

#include "physics/Physics.hpp"

namespace zarn {

namespace {

// The dead history is dropped once it is both large and a real share of the store.
constexpr std::uint64_t pieceHistoryLimit = 32768;
constexpr std::uint64_t deadPieceLimit = 4096;
constexpr std::uint64_t bondHistoryLimit = 131072;
constexpr std::uint64_t brokenBondLimit = 32768;

} // namespace

void Physics::compactHistory() {
    // Old id -> new id; 0 for the dead.
    std::vector<std::uint32_t> renumbered(pieces.size() + 1, 0);
    std::vector<MatterPiece> survivors;
    survivors.reserve(pieces.size());
    for (const MatterPiece& piece : pieces) {
        if (!piece.alive)
            continue;
        survivors.push_back(piece);
        survivors.back().id = static_cast<std::uint32_t>(survivors.size());
        renumbered[piece.id] = survivors.back().id;
    }
    auto newId = [&](std::uint64_t id) -> std::uint32_t {
        return id < renumbered.size() ? renumbered[id] : 0;
    };

    // Pairs that broke stay refused between the survivors under their new ids.
    std::unordered_set<std::uint64_t> pairs;
    pairs.reserve(brokenPairs.size());
    for (const std::uint64_t key : brokenPairs) {
        const std::uint32_t a = newId(key >> 32);
        const std::uint32_t b = newId(key & 0xFFFFFFFFull);
        if (a != 0 && b != 0)
            pairs.insert(pairKey(a, b));
    }

    std::vector<Bond> kept;
    kept.reserve(bonds.size());
    for (const Bond& bond : bonds) {
        const std::uint32_t a = newId(bond.a);
        const std::uint32_t b = newId(bond.b);
        if (a == 0 || b == 0)
            continue;
        if (!bond.intact) {
            // A bond that broke since the last refresh is not in brokenPairs yet; its record
            // is about to go, so the refusal is kept here.
            pairs.insert(pairKey(a, b));
            continue;
        }
        kept.push_back(bond);
        kept.back().a = a;
        kept.back().b = b;
    }

    pieces = std::move(survivors);
    bonds = std::move(kept);
    brokenPairs = std::move(pairs);
    cells.clear();
    gridEntries.clear();
    topologyDirty = true;
    refreshTopology();
}

void Physics::reclaimHistoryIfNeeded() {
    const bool manyPieces = pieces.size() > pieceHistoryLimit;
    const bool manyBonds = bonds.size() > bondHistoryLimit;
    if (!manyPieces && !manyBonds)
        return;
    // The adjacency pass counts the dead history; its counts are exact while the topology is
    // clean. A dirty topology (pieces died or bonds broke since) is counted afresh.
    std::uint64_t dead = topologyScratch.deadPieces;
    std::uint64_t broken = topologyScratch.brokenBonds;
    if (topologyDirty) {
        dead = 0;
        for (const MatterPiece& piece : pieces)
            dead += piece.alive ? 0 : 1;
        // A bond to a dead piece counts as the adjacency pass will count it: no longer intact.
        auto gone = [&](std::uint32_t id) { return id == 0 || id > pieces.size() || !pieces[id - 1].alive; };
        broken = 0;
        for (const Bond& bond : bonds)
            broken += bond.intact && !gone(bond.a) && !gone(bond.b) ? 0 : 1;
    }
    if ((manyPieces && dead > deadPieceLimit) || (manyBonds && broken > brokenBondLimit))
        compactHistory();
}

} // namespace zarn
