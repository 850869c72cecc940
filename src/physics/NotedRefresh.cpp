#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <span>

#include "physics/GridCells.hpp"
#include "physics/LoadPathPasses.hpp"
#include "physics/Physics.hpp"

namespace zarn {

namespace loadpaths {
namespace {

// Weight never flows between components of unanchored pieces, so a load pass gives a component
// whose pieces, bonds and anchors are as they were at the last refresh (and the gravity too) the
// stresses and supports it already has, and breaks none of its bonds. A refresh started by physics
// therefore redoes only the components that hold a noted piece: one whose bonds, life or stresses
// changed, or one that is new. Bonds are noted through their ends. Each component is walked
// exactly as the full pass walks it, so it comes out the same to the last bit. The assemblies are
// grouped again where the changes reach them and renumbered in id order of their first piece.

// Whether bond k still joins two alive pieces; one that does not loses `intact` (it did not break:
// the score does not count it) and every pair without an intact bond is refused as a contact bond.
bool bondHolds(Physics& physics, Bond& bond) {
    const std::size_t count = physics.pieces.size();
    const bool inRange = bond.a != 0 && bond.b != 0 && bond.a <= count && bond.b <= count;
    if (!inRange || !physics.pieces[bond.a - 1].alive || !physics.pieces[bond.b - 1].alive)
        bond.intact = false;
    if (bond.intact)
        return true;
    physics.brokenPairs.insert(pairKey(bond.a, bond.b));
    return false;
}

// The adjacency list of the piece at this index made again as the full adjacency pass would make it:
// its intact bonds to alive pieces older than firstNew, in bond order. Where a bond is gone the piece
// at the other end is noted, whose list holds the same bond.
void syncListOf(Physics& physics, std::uint32_t index, std::uint64_t firstNew) {
    TopologyScratch& scratch = physics.topologyScratch;
    ChangeNotes& notes = physics.changes;
    std::vector<std::uint64_t>& list = physics.adjacency[index];
    std::size_t kept = 0;
    for (const std::uint64_t k : list) {
        if (k >= firstNew)
            continue; // a contact bond entered by the step: listed again with the new ones
        Bond& bond = physics.bonds[k];
        if (bondHolds(physics, bond)) {
            list[kept++] = k;
            continue;
        }
        const std::uint32_t other = otherEnd(bond, index + 1) - 1;
        physics.notePiece(other);
        if (index < other) // counted once, from its lower end
            ++scratch.brokenBonds;
    }
    list.resize(kept);
    const bool alive = physics.pieces[index].alive;
    if ((notes.aliveSeen[index] != 0) != alive) {
        notes.aliveSeen[index] = alive ? 1 : 0;
        if (alive)
            --scratch.deadPieces;
        else
            ++scratch.deadPieces;
    }
}

// The adjacency lists of the noted pieces, made again as the full adjacency pass would make them:
// intact bonds to alive pieces in bond order. Dead pieces note all their neighbours, whose lists
// hold their bonds.
void syncNotedAdjacency(Physics& physics) {
    TopologyScratch& scratch = physics.topologyScratch;
    ChangeNotes& notes = physics.changes;
    const std::size_t count = physics.pieces.size();
    physics.adjacency.resize(count);
    notes.aliveSeen.resize(count, 1);
    for (std::uint64_t index = notes.pieceCount; index < count; ++index)
        physics.notePiece(static_cast<std::uint32_t>(index));

    // Bonds made since the last refresh, each with its two ends noted.
    const std::uint64_t firstNew = notes.bondCount;
    std::vector<TopologyScratch::IntactBond>& fresh = scratch.freshBonds;
    fresh.clear();
    for (std::uint64_t k = firstNew; k < physics.bonds.size(); ++k) {
        Bond& bond = physics.bonds[k];
        if (bond.a != 0 && bond.b != 0 && bond.a <= count && bond.b <= count) {
            physics.notePiece(bond.a - 1);
            physics.notePiece(bond.b - 1);
        }
        if (bondHolds(physics, bond))
            fresh.push_back({static_cast<std::uint32_t>(k), bond.a - 1, bond.b - 1});
        else
            ++scratch.brokenBonds;
    }

    // The list grows while it is walked.
    for (std::size_t n = 0; n < notes.pieces.size(); ++n)
        syncListOf(physics, notes.pieces[n], firstNew);
    // New bonds come after every old one in bond order.
    for (const TopologyScratch::IntactBond& bond : fresh) {
        physics.adjacency[bond.a].push_back(bond.bond);
        physics.adjacency[bond.b].push_back(bond.bond);
    }
    notes.pieceCount = count;
    notes.bondCount = physics.bonds.size();
}

// The links of the piece at this index made again from its adjacency list and its centre, after the
// links it had, with the notes of their bonds.
void relink(Physics& physics, std::uint32_t index) {
    TopologyScratch& scratch = physics.topologyScratch;
    std::vector<TopologyScratch::Link>& links = scratch.links;
    scratch.linkStart[index] = links.size();
    for (const std::uint64_t k : physics.adjacency[index]) {
        const Bond& bond = physics.bonds[k];
        const std::uint32_t neighbour = otherEnd(bond, index + 1) - 1;
        scratch.bondNotes[k] = noteOf(bond, scratch.down);
        links.push_back(
            {neighbour, static_cast<std::uint32_t>(k), leverOf(bond, scratch.centers[index], scratch.down)});
    }
    scratch.linkEnd[index] = links.size();
    scratch.linksCurrent[index] = 1;
}

// Gathers the component of unanchored pieces around `seed` along their links, with the notes and
// loads of its pieces, and puts the anchors it rests on at depth 0. The links a piece had at the
// last walk serve again while its bonds and its centre are as they were then; the others are made
// again from the adjacency lists.
void gatherNotedComponent(Physics& physics, std::uint32_t seed, std::uint32_t component, double weight) {
    TopologyScratch& scratch = physics.topologyScratch;
    std::vector<std::uint32_t>& stamp = scratch.stamp;
    std::vector<std::uint32_t>& members = scratch.members;
    std::vector<TopologyScratch::AnchorLink>& grounded = scratch.anchorLinks;
    members.clear();
    grounded.clear();
    ChangeNotes& notes = physics.changes;
    // A piece's record is kept current by the walks and the groupings, and made again where the
    // piece was noted or moved.
    auto join = [&](std::uint32_t index) {
        stamp[index] = component;
        scratch.depth[index] = -1;
        if (scratch.recordCurrent[index])
            scratch.flags[index] &= static_cast<std::uint8_t>(~carriedFlag);
        else
            keepRecord(scratch, index, physics.pieces[index]);
        notes.pieceLoaded[index] = 0;
        members.push_back(index);
    };
    join(seed);
    for (std::size_t head = 0; head < members.size(); ++head) {
        const std::uint32_t index = members[head];
        scratch.load[index] = weight * scratch.mass[index];
        if (!scratch.linksCurrent[index])
            relink(physics, index);
        // Anchored is a piece's for its life, so its flag is as it was recorded.
        for (std::uint64_t l = scratch.linkStart[index], last = scratch.linkEnd[index]; l < last; ++l) {
            const TopologyScratch::Link link = scratch.links[l];
            notes.bondLoaded[link.bond] = 0;
            if (scratch.flags[link.neighbour] & anchoredFlag) {
                grounded.push_back({link.neighbour, link.bond, index});
                scratch.depth[link.neighbour] = 0;
            } else if (stamp[link.neighbour] != component) {
                join(link.neighbour);
            }
        }
    }
    scratch.passPieces.insert(scratch.passPieces.end(), members.begin(), members.end());
    if (grounded.empty())
        return;
    std::sort(grounded.begin(), grounded.end(), anchorsFirst);
    loadFromAnchors(physics, grounded.data(), grounded.size(), members.data(), members.size());
}

// One load pass over the components that hold one of these pieces, then the end of the pass for their
// pieces and for those of them outside (anchors and the dead). The ends of the bonds it breaks go into
// scratch.breakEnds, noted.
void notedLoadPass(Physics& physics, const std::vector<std::uint32_t>& seeds) {
    TopologyScratch& scratch = physics.topologyScratch;
    ChangeNotes& notes = physics.changes;
    const std::size_t count = physics.pieces.size();
    sizePieceNotes(scratch, count);
    scratch.depth.resize(count, -1);
    scratch.stamp.resize(count, 0);
    scratch.load.resize(count);
    scratch.linkStart.resize(count + 1);
    scratch.linkEnd.resize(count);
    scratch.linksCurrent.resize(count, 0);
    // The links of pieces made again are appended; the store starts afresh before those left
    // behind outgrow what is alive.
    if (scratch.links.size() > 6 * physics.bonds.size() + 4096) {
        scratch.links.clear();
        std::fill(scratch.linksCurrent.begin(), scratch.linksCurrent.end(), 0);
    }
    scratch.linksLaidOut = false;
    scratch.breaks.clear();
    notes.bondLoaded.resize(physics.bonds.size(), 0);
    notes.bondLoadStress.resize(physics.bonds.size());
    notes.pieceLoaded.resize(count, 0);
    notes.pieceLoadStress.resize(count);
    if (scratch.lastComponent > 0xFFFFFFFFull - count - 1) {
        std::fill(scratch.stamp.begin(), scratch.stamp.end(), 0u);
        scratch.lastComponent = 0;
    }
    const std::uint32_t before = scratch.lastComponent; // stamps above it are this pass's
    const std::size_t passBegin = scratch.passPieces.size();

    const double weight = length(physics.gravity);
    scratch.bondNotes.resize(physics.bonds.size());
    scratch.down = normalized(physics.gravity);
    // The pieces the pass starts from are recorded first, and any piece never recorded: the
    // gathering takes whether a neighbour is an anchor from the records.
    for (std::size_t index = std::min(scratch.recordedPieces, count); index < count; ++index)
        keepRecord(scratch, index, physics.pieces[index]);
    scratch.recordedPieces = count;
    for (const std::uint32_t index : seeds)
        keepRecord(scratch, index, physics.pieces[index]);
    for (const std::uint32_t index : seeds)
        if ((scratch.flags[index] & (aliveFlag | anchoredFlag)) == aliveFlag &&
            scratch.stamp[index] <= before)
            gatherNotedComponent(physics, index, ++scratch.lastComponent, weight);

    for (std::size_t p = passBegin; p < scratch.passPieces.size(); ++p) {
        const std::uint32_t index = scratch.passPieces[p];
        const std::uint8_t flag = scratch.flags[index];
        settlePiece(physics, index, scratch.depth[index] >= 0, flag & supportedFlag, flag & carriedFlag,
                    true);
    }
    for (const std::uint32_t index : seeds) {
        if (scratch.stamp[index] > before)
            continue;
        const MatterPiece& piece = physics.pieces[index];
        settlePiece(physics, index, piece.alive && piece.anchored, piece.supported, false, true);
    }
    // Both ends of a bond that broke are walked again in the next pass.
    std::vector<std::uint32_t>& ends = scratch.breakEnds;
    ends.clear();
    for (const std::uint32_t k : scratch.breaks)
        for (const std::uint32_t id : {physics.bonds[k].a, physics.bonds[k].b}) {
            physics.notePiece(id - 1);
            ends.push_back(id - 1);
        }
}

// A bond's note holds the stress the bond holds, so that a walk writes only the stresses that change:
// the notes of the bonds whose stress a hit wrote since the last refresh take it from them.
void keepNotesOfStressedBonds(Physics& physics) {
    std::vector<TopologyScratch::BondNote>& bondNotes = physics.topologyScratch.bondNotes;
    for (const std::uint64_t k : physics.changes.stressedBonds)
        if (k < bondNotes.size())
            bondNotes[k].stress = physics.bonds[k].stress;
}

// Stresses that hits wrote where a load pass writes its own. The records of a component are
// cleared when it is gathered and set by its walk, so they hold what the last pass over it gave,
// which is what a pass over it now gives unless it changed, and then it was walked again above.
void restoreLoadStresses(Physics& physics) {
    const ChangeNotes& notes = physics.changes;
    std::vector<TopologyScratch::BondNote>& bondNotes = physics.topologyScratch.bondNotes;
    for (const std::uint64_t k : notes.stressedBonds) {
        Bond& bond = physics.bonds[k];
        if (bond.intact && notes.bondLoaded[k]) {
            bond.stress = notes.bondLoadStress[k];
            bondNotes[k].stress = bond.stress;
        }
    }
    // A piece that died keeps the record of its last pass; no pass carries it now.
    std::vector<double>& stressSeen = physics.topologyScratch.stressSeen;
    for (const std::uint32_t index : notes.stressedPieces) {
        MatterPiece& piece = physics.pieces[index];
        if (piece.alive && notes.pieceLoaded[index]) {
            piece.stress = notes.pieceLoadStress[index];
            stressSeen[index] = piece.stress;
        }
    }
}

// The members of an assembly flooded from its first piece (at index start) over the bonds to
// unsupported pieces, in visiting order: the member list doubles as the flood's queue.
void floodAssembly(Physics& physics, std::uint32_t start, std::uint32_t mark,
                   std::vector<std::uint32_t>& members) {
    std::vector<std::uint32_t>& visited = physics.topologyScratch.visitStamp;
    const std::vector<MatterPiece>& pieces = physics.pieces;
    visited[start] = mark;
    members.push_back(start + 1);
    for (std::size_t head = 0; head < members.size(); ++head) {
        const std::uint32_t id = members[head];
        for (const std::uint64_t k : physics.adjacency[id - 1]) {
            const std::uint32_t next = otherEnd(physics.bonds[k], id);
            if (visited[next - 1] != mark && !pieces[next - 1].supported) {
                visited[next - 1] = mark;
                members.push_back(next);
            }
        }
    }
}

// Groups the loose pieces into assemblies as groupAssemblies does, redoing only the assemblies the
// refresh's changes reach. Assemblies are numbered in id order of their first piece, and each one's
// members are in the order of its flood from there. An assembly none of whose members was noted or
// walked by the load passes, and none of whose neighbours came loose, holds the same pieces in the
// same order as before: every piece whose bonds, life or support changed was noted or walked, and
// so was one that came loose. The others are flooded again from their loose pieces and from the
// noted ones, in id order, and the two lists are merged. An assembly's motion is gathered again
// where its members or its motion changed since it was last gathered; elsewhere it is what the
// gathering gives.
void groupNotedAssemblies(Physics& physics) {
    TopologyScratch& scratch = physics.topologyScratch;
    ChangeNotes& notes = physics.changes;
    std::vector<MatterPiece>& pieces = physics.pieces;
    std::vector<Assembly>& assemblies = physics.assemblies;
    const std::size_t count = pieces.size();
    std::vector<std::int32_t>& groupOf = notes.groupOf;
    if (!notes.groupsKnown) {
        // The assemblies hold the loose pieces of the last refresh, as it grouped them.
        groupOf.assign(count, -1);
        for (std::size_t g = 0; g < assemblies.size(); ++g)
            for (const std::uint32_t id : assemblies[g].members)
                groupOf[id - 1] = static_cast<std::int32_t>(g);
        notes.gatheredAt.assign(assemblies.size(), 0);
        notes.groupsKnown = true;
    }
    groupOf.resize(count, -1); // new pieces are in none
    const std::vector<std::uint8_t>& flags = scratch.flags;
    auto isLoose = [&flags](std::uint32_t index) {
        return (flags[index] & (aliveFlag | supportedFlag)) == aliveFlag;
    };

    // The assemblies the changes reach: those of the changed pieces, and those next to a piece that
    // came loose (or is new and loose), which it joins.
    std::vector<std::uint8_t>& reached = scratch.visited;
    reached.assign(assemblies.size(), 0);
    auto reach = [&](std::uint32_t index) {
        const std::int32_t group = groupOf[index];
        if (group >= 0)
            reached[static_cast<std::size_t>(group)] = 1;
        else if (isLoose(index))
            for (const std::uint64_t k : physics.adjacency[index])
                if (const std::int32_t next = groupOf[otherEnd(physics.bonds[k], index + 1) - 1]; next >= 0)
                    reached[static_cast<std::size_t>(next)] = 1;
    };
    for (const std::uint32_t index : notes.pieces)
        reach(index);
    for (const std::uint32_t index : scratch.passPieces)
        reach(index);

    // The pieces the new floods start from: the loose ones among the changed pieces and the members
    // of the assemblies reached, which leave them.
    std::vector<std::uint32_t>& starts = scratch.members;
    starts.clear();
    for (const std::uint32_t index : notes.pieces)
        if (isLoose(index))
            starts.push_back(index);
    for (const std::uint32_t index : scratch.passPieces)
        if (isLoose(index))
            starts.push_back(index);
    std::vector<std::vector<std::uint32_t>>& spare = scratch.spareMembers;
    std::vector<Assembly>& kept = scratch.keptAssemblies;
    std::vector<std::uint64_t>& keptGathered = scratch.keptGathered;
    std::vector<std::int32_t>& keptFrom = scratch.keptFrom;
    kept.clear();
    keptGathered.clear();
    keptFrom.clear();
    for (std::size_t g = 0; g < assemblies.size(); ++g) {
        Assembly& assembly = assemblies[g];
        if (!reached[g]) {
            kept.push_back(std::move(assembly));
            keptGathered.push_back(g < notes.gatheredAt.size() ? notes.gatheredAt[g] : 0);
            keptFrom.push_back(static_cast<std::int32_t>(g));
            continue;
        }
        for (const std::uint32_t id : assembly.members) {
            pieces[id - 1].assembly = -1;
            scratch.assemblySeen[id - 1] = -1;
            groupOf[id - 1] = -1;
            if (isLoose(id - 1))
                starts.push_back(id - 1);
        }
        spare.push_back(std::move(assembly.members));
    }
    assemblies.clear();
    std::sort(starts.begin(), starts.end());

    std::vector<std::uint32_t>& visited = scratch.visitStamp;
    visited.resize(count, 0);
    if (++scratch.lastVisit == 0) {
        std::fill(visited.begin(), visited.end(), 0u);
        scratch.lastVisit = 1;
    }
    const std::uint32_t mark = scratch.lastVisit;
    std::vector<std::uint64_t>& gatheredAt = notes.gatheredAt;
    gatheredAt.clear();
    std::size_t next = 0; // the next kept assembly
    auto place = [&](Assembly&& assembly, std::uint64_t gathered, std::int32_t was) {
        const auto index = static_cast<std::int32_t>(assemblies.size());
        if (index != was)
            for (const std::uint32_t id : assembly.members) {
                pieces[id - 1].assembly = index;
                scratch.assemblySeen[id - 1] = index;
                groupOf[id - 1] = index;
            }
        if (gathered != notes.motionChanges) {
            gatherMotion(physics, assembly);
            gathered = notes.motionChanges;
        }
        assemblies.push_back(std::move(assembly));
        gatheredAt.push_back(gathered);
    };
    for (const std::uint32_t start : starts) {
        if (visited[start] == mark)
            continue;
        while (next < kept.size() && kept[next].members.front() - 1 < start) {
            place(std::move(kept[next]), keptGathered[next], keptFrom[next]);
            ++next;
        }
        Assembly assembly;
        if (!spare.empty()) {
            assembly.members = std::move(spare.back());
            spare.pop_back();
            assembly.members.clear();
        }
        floodAssembly(physics, start, mark, assembly.members);
        place(std::move(assembly), 0, -1);
    }
    for (; next < kept.size(); ++next)
        place(std::move(kept[next]), keptGathered[next], keptFrom[next]);
}

} // namespace
} // namespace loadpaths

using namespace loadpaths;

void Physics::refreshNotedTopology() {
    // Gravity is compared by value: the world's -9.80665 x up has zero components of -0, the same
    // gravity as the +0 of the refresh before.
    const bool noted = changes.synced && !topologyDirty.unnoted() && !stepScratch.plainWalks &&
                       gravity == changes.gravity && pieces.size() >= changes.pieceCount &&
                       bonds.size() >= changes.bondCount && adjacency.size() == changes.pieceCount;
    if (!noted) {
        refreshTopology();
        return;
    }
    makeRoomForWorld(*this);
    TopologyScratch& scratch = topologyScratch;
    scratch.passPieces.clear();
    keepNotesOfStressedBonds(*this);
    // The first pass walks what the noted changes reach. Between the passes of one refresh only the
    // bonds a pass broke change: each later pass walks only the components that hold their ends, as
    // the others give what they gave the pass before and hold it already.
    syncNotedAdjacency(*this);
    scratch.passSeeds.assign(changes.pieces.begin(), changes.pieces.end());
    for (int pass = 0; pass < maxLoadPasses; ++pass) {
        topologyDirty = false;
        if (pass > 0)
            for (const std::uint32_t index : scratch.passSeeds)
                syncListOf(*this, index, bonds.size());
        notedLoadPass(*this, scratch.passSeeds);
        scratch.passSeeds.swap(scratch.breakEnds);
        if (!topologyDirty)
            break;
    }
    const bool stillBreaking = topologyDirty;
    if (stillBreaking)
        for (const std::uint32_t index : scratch.passSeeds)
            syncListOf(*this, index, bonds.size());
    restoreLoadStresses(*this);
    groupNotedAssemblies(*this);
    freezeOutsideWindow(*this);
    rebuildNotedGrid();
    closeNotes(*this, stillBreaking, true);
}

void Physics::noteTopologyChange() {
    topologyDirty.note();
}

void Physics::noteBondStress(std::uint64_t k) {
    changes.stressedBonds.push_back(k);
}

void Physics::notePieceStress(std::uint32_t index) {
    if (index < pieces.size())
        changes.stressedPieces.push_back(index);
    if (index < topologyScratch.recordCurrent.size())
        topologyScratch.recordCurrent[index] = 0;
}

void Physics::notePiece(std::uint32_t index) {
    if (index >= pieces.size())
        return; // the end of a bond that names no piece: the adjacency pass drops such bonds
    topologyScratch.forget(index);
    noteOnce(changes.pieceMark, changes.pieces, index, pieces.size());
}

} // namespace zarn
