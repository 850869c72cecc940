#include <algorithm>
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

std::uint32_t newId(const std::vector<std::uint32_t>& renumbering, std::uint64_t id) {
    return id < renumbering.size() ? renumbering[id] : 0;
}

// The pieces before the first dead one keep their ids.
std::size_t alivePrefix(const Physics& physics) {
    const std::vector<MatterPiece>& pieces = physics.pieces;
    std::size_t prefix = 0;
    while (prefix < pieces.size() && pieces[prefix].alive)
        ++prefix;
    return prefix;
}

// Marks the bonds that go: the broken ones and those that lost a piece or name none. Every piece of
// the prefix is alive.
void markDroppedBonds(Physics& physics, std::size_t prefix) {
    const std::vector<MatterPiece>& pieces = physics.pieces;
    auto alive = [&](std::uint32_t id) {
        return id != 0 && (id <= prefix || (id <= pieces.size() && pieces[id - 1].alive));
    };
    std::vector<std::uint8_t>& drop = physics.compaction.dropBond;
    drop.resize(physics.bonds.size());
    for (std::size_t k = 0; k < physics.bonds.size(); ++k) {
        const Bond& bond = physics.bonds[k];
        drop[k] = bond.intact && alive(bond.a) && alive(bond.b) ? 0 : 1;
    }
}

// Moves the alive pieces after the prefix down over the dead ones, keeping their order, and fills
// the renumbering.
void compactPieces(Physics& physics, std::size_t prefix) {
    std::vector<MatterPiece>& pieces = physics.pieces;
    std::vector<std::uint32_t>& renumbering = physics.compaction.renumbering;
    const std::size_t count = pieces.size();
    renumbering.resize(count + 1);
    renumbering[0] = 0;
    for (std::size_t index = 0; index < prefix; ++index)
        renumbering[index + 1] = static_cast<std::uint32_t>(index + 1);
    std::size_t kept = prefix;
    for (std::size_t index = prefix; index < count; ++index) {
        if (!pieces[index].alive) {
            renumbering[index + 1] = 0;
            continue;
        }
        const auto id = static_cast<std::uint32_t>(kept + 1);
        renumbering[index + 1] = id;
        pieces[kept] = pieces[index];
        pieces[kept].id = id;
        ++kept;
    }
    pieces.resize(kept);
}

// Pairs that broke stay refused between the survivors under their new ids; pairs with a dropped
// piece leave. Only keys naming a piece past the prefix change; they are all taken out before any
// goes back, since a new key may equal an old one still to be rewritten.
void renumberBrokenPairs(Physics& physics, std::size_t prefix) {
    const std::vector<std::uint32_t>& renumbering = physics.compaction.renumbering;
    std::vector<std::unordered_set<std::uint64_t>::node_type>& nodes = physics.compaction.pairs.nodes;
    std::vector<std::uint64_t>& keys = physics.compaction.keys;
    keys.clear();
    for (const std::uint64_t key : physics.brokenPairs)
        if ((key >> 32) > prefix || (key & 0xFFFFFFFFull) > prefix)
            keys.push_back(key);
    nodes.clear();
    for (const std::uint64_t key : keys)
        nodes.push_back(physics.brokenPairs.extract(key));
    for (auto& node : nodes) {
        const std::uint32_t a = newId(renumbering, node.value() >> 32);
        const std::uint32_t b = newId(renumbering, node.value() & 0xFFFFFFFFull);
        if (a == 0 || b == 0)
            continue;
        node.value() = pairKey(a, b);
        physics.brokenPairs.insert(std::move(node));
    }
    nodes.clear();
}

// What compacting the bonds found: the first dropped bond's index (the bonds before it keep theirs)
// and how many of the kept bonds are broken.
struct KeptBonds {
    std::size_t firstDropped = 0;
    std::uint64_t broken = 0;
};

// Keeps the bonds that were not marked, in their order, with their ends renumbered, and fills the
// bond renumbering. A marked bond that broke between two survivors leaves its pair refused (it may
// have broken since the last refresh, so the set may not hold it yet).
KeptBonds compactBonds(Physics& physics) {
    CompactionScratch& scratch = physics.compaction;
    std::vector<Bond>& bonds = physics.bonds;
    scratch.bondIndex.resize(bonds.size());
    KeptBonds result{bonds.size(), 0};
    std::size_t kept = 0;
    for (std::size_t k = 0; k < bonds.size(); ++k) {
        const Bond& bond = bonds[k];
        const std::uint32_t a = newId(scratch.renumbering, bond.a);
        const std::uint32_t b = newId(scratch.renumbering, bond.b);
        if (scratch.dropBond[k]) {
            if (!bond.intact && a != 0 && b != 0)
                physics.brokenPairs.insert(pairKey(a, b));
            result.firstDropped = std::min(result.firstDropped, k);
            continue;
        }
        result.broken += bond.intact ? 0 : 1;
        scratch.bondIndex[k] = kept;
        if (kept != k || a != bond.a || b != bond.b) {
            Bond moved = bond;
            moved.a = a;
            moved.b = b;
            bonds[kept] = moved;
        }
        ++kept;
    }
    bonds.resize(kept);
    return result;
}

// After a refresh, only intact bonds between alive pieces are listed and the dead are in no
// assembly and no grid cell: the lists of the survivors move down with them and their entries,
// members and listed ids are renumbered.
void renumberAdjacency(Physics& physics, std::size_t prefix, std::size_t firstDroppedBond) {
    const CompactionScratch& scratch = physics.compaction;
    std::vector<std::vector<std::uint64_t>>& adjacency = physics.adjacency;
    for (std::size_t index = 0; index < adjacency.size(); ++index) {
        for (std::uint64_t& k : adjacency[index])
            if (k >= firstDroppedBond)
                k = scratch.bondIndex[k];
        const std::uint32_t id = scratch.renumbering[index + 1];
        if (index >= prefix && id != 0)
            adjacency[id - 1].swap(adjacency[index]); // keeps both lists' storage
    }
    adjacency.resize(physics.pieces.size());
    for (Assembly& assembly : physics.assemblies)
        for (std::uint32_t& id : assembly.members)
            id = scratch.renumbering[id];
}

void renumberGrid(Physics& physics, std::size_t prefix) {
    CompactionScratch& scratch = physics.compaction;
    std::vector<Physics::GridEntry>& entries = physics.gridEntries;
    // The cells of the pieces past the prefix, each once. Neighbouring pieces share most of their
    // cells, so a small table of keys already taken keeps the list short before it is sorted.
    std::vector<std::uint64_t>& keys = scratch.keys;
    std::vector<CompactionScratch::SeenKey>& seen = scratch.seenKeys;
    seen.resize(CompactionScratch::seenSlots);
    const std::uint64_t stamp = scratch.count + 1;
    keys.clear();
    for (std::size_t index = prefix; index < entries.size(); ++index)
        for (const std::uint64_t key : entries[index].cells) {
            CompactionScratch::SeenKey& slot = seen[key % CompactionScratch::seenSlots];
            if (slot.stamp == stamp && slot.key == key)
                continue;
            slot = {key, stamp};
            keys.push_back(key);
        }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    // Lists are ascending and the renumbering keeps the order, so each list's tail past the prefix
    // is rewritten where it stands.
    const auto firstMoved = static_cast<std::uint32_t>(prefix + 1);
    for (const std::uint64_t key : keys) {
        const auto cell = physics.cells.find(key);
        if (cell == physics.cells.end())
            continue;
        std::vector<std::uint32_t>& list = cell->second;
        auto out = std::lower_bound(list.begin(), list.end(), firstMoved);
        for (auto in = out; in != list.end(); ++in)
            if (const std::uint32_t id = newId(scratch.renumbering, *in); id != 0)
                *out++ = id;
        list.erase(out, list.end());
        if (list.empty())
            physics.cells.erase(cell);
    }
    for (std::size_t index = prefix; index < entries.size(); ++index) {
        const std::uint32_t id = scratch.renumbering[index + 1];
        if (id != 0 && id - 1 != index)
            std::swap(entries[id - 1], entries[index]);
    }
    entries.resize(physics.pieces.size());
}

// What the notes of changes keep per piece and per bond moves with the pieces and bonds, so that
// the refreshes physics starts next still redo only what changes after the compaction.
template <class T>
void movePast(std::vector<T>& values, std::size_t prefix, std::size_t count,
              const std::vector<std::uint32_t>& renumbering, std::size_t kept) {
    values.resize(std::max(values.size(), count));
    for (std::size_t index = prefix; index < count; ++index)
        if (const std::uint32_t id = renumbering[index + 1]; id != 0)
            values[id - 1] = values[index];
    values.resize(kept);
}

void renumberNotes(Physics& physics, std::size_t prefix, std::size_t pieceCount, std::size_t bondCount,
                   std::size_t firstDroppedBond) {
    const CompactionScratch& scratch = physics.compaction;
    ChangeNotes& notes = physics.changes;
    const std::size_t pieces = physics.pieces.size();
    movePast(notes.aliveSeen, prefix, pieceCount, scratch.renumbering, pieces);
    movePast(notes.pieceLoaded, prefix, pieceCount, scratch.renumbering, pieces);
    movePast(notes.pieceLoadStress, prefix, pieceCount, scratch.renumbering, pieces);
    const std::size_t bonds = physics.bonds.size();
    notes.bondLoaded.resize(std::max(notes.bondLoaded.size(), bondCount));
    notes.bondLoadStress.resize(std::max(notes.bondLoadStress.size(), bondCount));
    for (std::size_t k = firstDroppedBond; k < bondCount; ++k)
        if (!scratch.dropBond[k]) {
            notes.bondLoaded[scratch.bondIndex[k]] = notes.bondLoaded[k];
            notes.bondLoadStress[scratch.bondIndex[k]] = notes.bondLoadStress[k];
        }
    notes.bondLoaded.resize(bonds);
    notes.bondLoadStress.resize(bonds);
    // The assemblies' members were renumbered with the pieces: the next refresh reads from the
    // assemblies whose member each piece is.
    notes.groupsKnown = false;
    // The pieces a chain of failures still running goes on from (the ends of bonds it broke, alive).
    std::size_t kept = 0;
    for (const std::uint32_t index : notes.pieces) {
        notes.pieceMark[index] = 0;
        if (const std::uint32_t id = scratch.renumbering[index + 1]; id != 0)
            notes.pieces[kept++] = id - 1;
    }
    notes.pieces.resize(kept);
    for (const std::uint32_t index : notes.pieces)
        notes.pieceMark[index] = 1;
    // The building mass each survivor counts with moves with it; the dropped pieces were dead and
    // counted nothing.
    BuildingMass& mass = physics.buildingMassCounts;
    movePast(mass.units, prefix, pieceCount, scratch.renumbering, pieces);
    movePast(mass.isLoose, prefix, pieceCount, scratch.renumbering, pieces);
    notes.pieceCount = pieces;
    notes.bondCount = bonds;
    // The load pass's own records of each piece move with it, and every link is made again, as the
    // links name pieces and bonds by their old numbers.
    TopologyScratch& topology = physics.topologyScratch;
    movePast(topology.flags, prefix, pieceCount, scratch.renumbering, pieces);
    movePast(topology.mass, prefix, pieceCount, scratch.renumbering, pieces);
    movePast(topology.centers, prefix, pieceCount, scratch.renumbering, pieces);
    movePast(topology.stressSeen, prefix, pieceCount, scratch.renumbering, pieces);
    movePast(topology.assemblySeen, prefix, pieceCount, scratch.renumbering, pieces);
    movePast(topology.recordCurrent, prefix, pieceCount, scratch.renumbering, pieces);
    topology.recordedPieces = topology.recordedPieces >= pieceCount ? pieces : 0;
    topology.linksCurrent.assign(pieces, 0);
}

} // namespace

const std::vector<std::uint32_t>& Physics::compactHistory() {
    const std::size_t prefix = alivePrefix(*this);
    markDroppedBonds(*this, prefix);
    if (stepScratch.plainWalks) {
        // The plain way: drop and renumber, then refresh everything from an empty grid.
        compactPieces(*this, prefix);
        renumberBrokenPairs(*this, prefix);
        compactBonds(*this);
        cells.clear();
        gridEntries.clear();
        topologyDirty = true;
        refreshTopology();
    } else {
        // The refresh that ends the plain way comes first here, while the old ids still hold, so
        // that it redoes only what changed: a refresh gives the same world under any numbering that
        // keeps the pieces' and the bonds' order, and the dead pieces and dropped bonds take no part
        // in it. What it leaves is then renumbered. Bonds it breaks stay, as they would after it.
        noteTopologyChange();
        refreshNotedTopology();
        const std::size_t pieceCount = pieces.size();
        const std::size_t bondCount = bonds.size();
        compactPieces(*this, prefix);
        renumberBrokenPairs(*this, prefix);
        const KeptBonds kept = compactBonds(*this);
        renumberAdjacency(*this, prefix, kept.firstDropped);
        renumberGrid(*this, prefix);
        renumberNotes(*this, prefix, pieceCount, bondCount, kept.firstDropped);
        // The history counts a full refresh of the compacted world would leave: no dead piece, and
        // the bonds that broke during the refresh.
        topologyScratch.deadPieces = 0;
        topologyScratch.brokenBonds = kept.broken;
    }
    ++compaction.count;
    return compaction.renumbering;
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
