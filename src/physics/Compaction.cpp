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

// Marks the bonds that go: the broken ones and those that lost a piece or name none.
void markDroppedBonds(Physics& physics) {
    const std::vector<MatterPiece>& pieces = physics.pieces;
    auto alive = [&pieces](std::uint32_t id) {
        return id != 0 && id <= pieces.size() && pieces[id - 1].alive;
    };
    std::vector<std::uint8_t>& drop = physics.compaction.dropBond;
    drop.resize(physics.bonds.size());
    for (std::size_t k = 0; k < physics.bonds.size(); ++k) {
        const Bond& bond = physics.bonds[k];
        drop[k] = bond.intact && alive(bond.a) && alive(bond.b) ? 0 : 1;
    }
}

// Moves the alive pieces down over the dead ones, keeping their order, and fills the renumbering.
// Returns how many leading pieces keep their ids: nothing before the first dead piece moves.
std::size_t compactPieces(Physics& physics) {
    std::vector<MatterPiece>& pieces = physics.pieces;
    std::vector<std::uint32_t>& renumbering = physics.compaction.renumbering;
    const std::size_t count = pieces.size();
    renumbering.resize(count + 1);
    renumbering[0] = 0;
    std::size_t prefix = 0;
    while (prefix < count && pieces[prefix].alive) {
        renumbering[prefix + 1] = static_cast<std::uint32_t>(prefix + 1);
        ++prefix;
    }
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
    return prefix;
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

// Keeps the bonds that were not marked, in their order, with their ends renumbered, and fills the
// bond renumbering. A marked bond that broke between two survivors leaves its pair refused (it may
// have broken since the last refresh, so the set may not hold it yet). Returns the first dropped
// bond's index: the bonds before it keep theirs.
std::size_t compactBonds(Physics& physics) {
    CompactionScratch& scratch = physics.compaction;
    std::vector<Bond>& bonds = physics.bonds;
    scratch.bondIndex.resize(bonds.size());
    std::size_t firstDropped = bonds.size();
    std::size_t kept = 0;
    for (std::size_t k = 0; k < bonds.size(); ++k) {
        Bond bond = bonds[k];
        const std::uint32_t a = newId(scratch.renumbering, bond.a);
        const std::uint32_t b = newId(scratch.renumbering, bond.b);
        if (scratch.dropBond[k]) {
            if (!bond.intact && a != 0 && b != 0)
                physics.brokenPairs.insert(pairKey(a, b));
            firstDropped = std::min(firstDropped, k);
            continue;
        }
        bond.a = a;
        bond.b = b;
        scratch.bondIndex[k] = kept;
        bonds[kept++] = bond;
    }
    bonds.resize(kept);
    return firstDropped;
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
    std::vector<std::uint64_t>& keys = scratch.keys;
    keys.clear();
    for (std::size_t index = prefix; index < entries.size(); ++index)
        keys.insert(keys.end(), entries[index].cells.begin(), entries[index].cells.end());
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

// The counts of the dead history that a full refresh of the compacted world would leave: no dead
// piece, and the bonds that broke during the refresh.
void countHistory(Physics& physics) {
    std::uint64_t broken = 0;
    for (const Bond& bond : physics.bonds)
        broken += bond.intact ? 0 : 1;
    physics.topologyScratch.deadPieces = 0;
    physics.topologyScratch.brokenBonds = broken;
}

} // namespace

const std::vector<std::uint32_t>& Physics::compactHistory() {
    markDroppedBonds(*this);
    if (stepScratch.plainWalks) {
        // The plain way: drop and renumber, then refresh everything from an empty grid.
        const std::size_t prefix = compactPieces(*this);
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
        const std::size_t prefix = compactPieces(*this);
        renumberBrokenPairs(*this, prefix);
        const std::size_t firstDroppedBond = compactBonds(*this);
        renumberAdjacency(*this, prefix, firstDroppedBond);
        renumberGrid(*this, prefix);
        countHistory(*this);
        // The notes speak the old numbering: the next refresh starts afresh.
        changes.synced = false;
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
