#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <span>

#include "physics/GridCells.hpp"
#include "physics/LoadPathPasses.hpp"
#include "physics/Physics.hpp"

namespace zarn {

namespace loadpaths {

// Below this much bond area under a piece its weight is spread over this area instead.
constexpr double minSupportArea = 1e-4;
constexpr double compressiveStrength = 4.5e7; // Pa
constexpr double bendingStrength = 2.5e7;     // Pa
constexpr double bendingFactor = 0.12;

bool sameDouble(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void makeRoomForWorld(Physics& physics) {
    const std::size_t pieces = physics.pieces.size();
    const std::size_t bonds = physics.bonds.size();
    TopologyScratch& s = physics.topologyScratch;
    ChangeNotes& n = physics.changes;
    auto room = [](std::size_t count, auto&... arrays) { (makeRoom(arrays, count), ...); };
    room(pieces, physics.adjacency, physics.gridEntries, physics.buildingMassCounts.units,
         physics.buildingMassCounts.isLoose);
    room(pieces, s.flags, s.mass, s.centers, s.stressSeen, s.assemblySeen, s.recordCurrent, s.linksCurrent,
         s.linkEnd, s.depth, s.stamp, s.parent, s.load, s.walk, s.visited, s.visitStamp);
    room(pieces + 1, s.linkStart, s.order);
    room(pieces, n.pieceMark, n.aliveSeen, n.pieceLoaded, n.pieceLoadStress, n.movedMark, n.groupOf);
    room(bonds, s.bondNotes, n.bondLoaded, n.bondLoadStress);
    makeRoom(s.links, 2 * bonds); // two ends a bond
}

// Copies what the load pass needs of a piece into the compact per-piece notes.
void recordPiece(TopologyScratch& scratch, std::size_t index, const MatterPiece& piece) {
    scratch.flags[index] = static_cast<std::uint8_t>(
        (piece.alive ? aliveFlag : 0) | (piece.anchored ? anchoredFlag : 0) |
        (piece.supported ? supportedFlag : 0) | (piece.building >= 0 ? buildingFlag : 0));
    scratch.mass[index] = piece.body.mass;
    scratch.centers[index] = piece.body.center;
    scratch.stressSeen[index] = piece.stress;
    scratch.assemblySeen[index] = piece.assembly;
}

void keepRecord(TopologyScratch& scratch, std::size_t index, const MatterPiece& piece) {
    recordPiece(scratch, index, piece);
    scratch.recordCurrent[index] = 1;
}

void sizePieceNotes(TopologyScratch& scratch, std::size_t count) {
    scratch.flags.resize(count);
    scratch.mass.resize(count);
    scratch.centers.resize(count);
    scratch.stressSeen.resize(count);
    scratch.assemblySeen.resize(count);
    scratch.recordCurrent.resize(count, 0);
}

// The root of x's tree among the components being joined, halving the path on the way.
std::uint32_t rootOf(std::uint32_t* parent, std::uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// Puts two unanchored pieces in one tree. The smaller root stays the root, so that each tree's root
// is its first piece in whatever order the joins come.
void joinTrees(std::uint32_t* parent, std::uint32_t a, std::uint32_t b) {
    const std::uint32_t x = rootOf(parent, a);
    const std::uint32_t y = rootOf(parent, b);
    if (x < y)
        parent[y] = x;
    else if (y < x)
        parent[x] = y;
}

// Every piece its own tree and no anchor link yet: the start of making the links.
void startTrees(TopologyScratch& scratch, std::size_t count) {
    std::vector<std::uint32_t>& parent = scratch.parent;
    parent.resize(count);
    for (std::size_t index = 0; index < count; ++index)
        parent[index] = static_cast<std::uint32_t>(index);
    scratch.groundLinks.clear();
}

// Builds the notes and links from Physics::adjacency as it stands, for a load pass that does not
// follow an adjacency pass.
void linksFromAdjacency(Physics& physics) {
    TopologyScratch& scratch = physics.topologyScratch;
    const std::size_t count = physics.pieces.size();
    sizePieceNotes(scratch, count);
    scratch.linkStart.assign(count + 1, 0);
    scratch.links.clear();
    scratch.linksLaidOut = false;
    scratch.down = normalized(physics.gravity);
    for (std::size_t index = 0; index < count; ++index)
        recordPiece(scratch, index, physics.pieces[index]);
    scratch.recordedPieces = count;
    scratch.recordCurrent.assign(count, 1);
    scratch.bondNotes.resize(physics.bonds.size());
    startTrees(scratch, count);
    for (std::size_t index = 0; index < count; ++index) {
        if (index < physics.adjacency.size())
            for (const std::uint64_t k : physics.adjacency[index]) {
                const Bond& bond = physics.bonds[k];
                const std::uint32_t neighbour = otherEnd(bond, static_cast<std::uint32_t>(index + 1)) - 1;
                scratch.bondNotes[k] = noteOf(bond, scratch.down);
                scratch.links.push_back({neighbour, static_cast<std::uint32_t>(k),
                                         leverOf(bond, scratch.centers[index], scratch.down)});
                // A list may be out of step with its neighbour's here: each link joins from its
                // first end and grounds from its unanchored one, as it is listed.
                if (!unanchored(scratch.flags[index]))
                    continue;
                if (scratch.flags[neighbour] & anchoredFlag)
                    scratch.groundLinks.push_back(
                        {neighbour, static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(index)});
                else if (neighbour > index && unanchored(scratch.flags[neighbour]))
                    joinTrees(scratch.parent.data(), static_cast<std::uint32_t>(index), neighbour);
            }
        scratch.linkStart[index + 1] = scratch.links.size();
    }
    scratch.linkEnd.assign(scratch.linkStart.begin() + 1, scratch.linkStart.end());
    scratch.linksCurrent.assign(count, 1);
}

// The area of a bond where `below` holds, +0 elsewhere: a sum of such terms equals the sum of the
// areas where `below` holds, to the bit (the sum starts at +0, and adding +0 to anything but -0
// changes nothing). Selected without a branch, so that a walk over links that goes one way or the
// other at random does not stall on every turn.
double areaWhere(bool below, double area) {
    const std::uint64_t keep = std::uint64_t{0} - static_cast<std::uint64_t>(below);
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(area) & keep);
}

// Hands the load of every piece of one component down its bonds, deepest piece first (the reverse
// of the breadth-first order `order`), so that a piece has received all of its load before its
// turn. The links under a piece are those to a piece nearer the ground. `members` lists the same
// pieces in the order they were gathered (index order in a full pass).
void handDownLoads(Physics& physics, const std::uint32_t* order, std::size_t size,
                   const std::uint32_t* members, std::size_t memberCount) {
    TopologyScratch& scratch = physics.topologyScratch;
    ChangeNotes& changes = physics.changes;
    std::vector<TopologyScratch::WalkPiece>& walkPieces = scratch.walk;
    if (walkPieces.size() < physics.pieces.size())
        walkPieces.resize(physics.pieces.size());
    // The arrays are reached through pointers held here: a byte-sized mark may be any memory, so
    // after each one written below the compiler would otherwise read every vector's address again.
    Bond* bonds = physics.bonds.data();
    const std::uint64_t* start = scratch.linkStart.data();
    const std::uint64_t* end = scratch.linkEnd.data();
    const TopologyScratch::Link* links = scratch.links.data();
    const std::int32_t* depth = scratch.depth.data();
    double* load = scratch.load.data();
    TopologyScratch::BondNote* notes = scratch.bondNotes.data();
    TopologyScratch::WalkPiece* walk = walkPieces.data();
    std::uint8_t* flags = scratch.flags.data();
    std::uint8_t* bondLoaded = changes.bondLoaded.data();
    double* bondLoadStress = changes.bondLoadStress.data();
    std::uint8_t* pieceLoaded = changes.pieceLoaded.data();
    double* pieceLoadStress = changes.pieceLoadStress.data();
    // First, for every piece, what it brings to its turn: the bond area under it and how many
    // links it has there. Once the depths are known the pieces do not wait on each other, so this
    // runs through them in the order they were gathered, which reads their links and the notes of
    // their bonds in the order those are stored (bonds are numbered piece by piece as they are
    // made); the hand-down below then finds them at hand.
    for (std::size_t m = 0; m < memberCount; ++m) {
        const std::uint32_t index = members[m];
        const std::int32_t level = depth[index];
        double area = 0.0;
        std::uint32_t below = 0;
        for (std::uint64_t l = start[index], last = end[index]; l < last; ++l) {
            const bool under = depth[links[l].neighbour] < level;
            area += areaWhere(under, notes[links[l].bond].area);
            below += under ? 1 : 0;
        }
        walk[index] = {area, below};
    }
    for (std::size_t q = size; q-- > 0;) {
        const std::uint32_t index = order[q];
        const TopologyScratch::WalkPiece piece = walk[index];
        if (piece.below == 0)
            continue;
        const std::int32_t level = depth[index];
        const double spread = piece.supportArea > minSupportArea ? piece.supportArea : minSupportArea;
        // What the piece carries is all in by now, and none of its links under it leads back to it.
        const double carried = load[index];
        // The piece reports the largest stress among the bonds that carry it.
        double pieceStress = 0.0;
        bool first = true;
        for (std::uint64_t l = start[index], last = end[index]; l < last; ++l) {
            const TopologyScratch::Link link = links[l];
            if (depth[link.neighbour] >= level)
                continue;
            const TopologyScratch::BondNote bond = notes[link.bond];
            const BondTerms terms = termsOf(bond);
            const double share = carried * bond.area / spread;
            load[link.neighbour] += share;
            const Pair quotients = Pair{terms.absCosine * share, terms.shear * share} / both(bond.area);
            const double compressive = quotients[0];
            const double shear = quotients[1];
            const double lever = link.lever * share;
            const double bending = lever / terms.section * bendingFactor + shear;
            const double stress = std::max(bending, compressive);
            // A load crosses a bond once in a pass, so the bond takes its stress now, written only
            // where it differs (to the bit) from what the bond holds, which its note keeps.
            bondLoaded[link.bond] = 1;
            bondLoadStress[link.bond] = stress;
            if (!sameDouble(stress, bond.stress)) {
                bonds[link.bond].stress = stress;
                notes[link.bond].stress = stress;
            }
            pieceStress = first ? stress : std::max(pieceStress, stress);
            first = false;
            if (compressive > compressiveStrength || bending > bendingStrength) {
                bonds[link.bond].intact = false;
                ++physics.brokenBondCount;
                physics.topologyDirty.note();
                scratch.breaks.push_back(link.bond);
            }
        }
        flags[index] |= carriedFlag;
        pieceLoaded[index] = 1;
        pieceLoadStress[index] = pieceStress;
    }
}

void loadFromAnchors(Physics& physics, const TopologyScratch::AnchorLink* grounded, std::size_t groundedCount,
                     const std::uint32_t* members, std::size_t memberCount) {
    TopologyScratch& scratch = physics.topologyScratch;
    const std::vector<std::uint64_t>& start = scratch.linkStart;
    const std::vector<std::uint64_t>& end = scratch.linkEnd;
    const std::vector<TopologyScratch::Link>& links = scratch.links;
    std::vector<std::int32_t>& depth = scratch.depth;
    // The queue holds each piece once at most: with one slot more than there are pieces, a
    // neighbour can always be written at its tail, whether or not it joins the queue.
    std::vector<std::uint32_t>& order = scratch.order;
    if (order.size() < physics.pieces.size() + 1)
        order.resize(physics.pieces.size() + 1);
    std::uint32_t* queue = order.data();
    std::size_t tail = 0;
    for (const TopologyScratch::AnchorLink& link : std::span(grounded, groundedCount))
        if (depth[link.piece] < 0) {
            depth[link.piece] = 1;
            queue[tail++] = link.piece;
        }
    for (std::size_t head = 0; head < tail; ++head) {
        const std::uint32_t index = queue[head];
        const std::int32_t next = depth[index] + 1;
        // Without a branch on whether a neighbour is new, which goes either way at random.
        for (std::uint64_t l = start[index]; l < end[index]; ++l) {
            const std::uint32_t neighbour = links[l].neighbour;
            const std::int32_t seen = depth[neighbour];
            const bool fresh = seen < 0;
            depth[neighbour] = fresh ? next : seen;
            queue[tail] = neighbour;
            tail += fresh ? 1 : 0;
        }
    }
    handDownLoads(physics, queue, tail, members, memberCount);
}

// The components of alive unanchored pieces that the links join, each numbered from one in the
// order of its first piece (into scratch.stamp) and listed in index order: the pieces of component
// c are scratch.gathered[componentStart[c - 1] .. componentStart[c]), and its anchor links
// scratch.anchorLinks[groundStart[c - 1] .. groundStart[c]), in the order of anchorsFirst.
//
// The trees were joined where the links were made (each tree's root is its first piece), so the
// components are found without reading the links again.
void findComponents(TopologyScratch& scratch, std::size_t count) {
    const std::vector<std::uint8_t>& flags = scratch.flags;
    std::vector<std::uint32_t>& parent = scratch.parent;
    // Numbers and sizes; a piece comes after its root, which has its number by then.
    std::vector<std::uint32_t>& stamp = scratch.stamp;
    std::vector<std::uint64_t>& componentStart = scratch.componentStart;
    componentStart.clear();
    std::uint32_t components = 0;
    for (std::size_t index = 0; index < count; ++index) {
        if (!unanchored(flags[index]))
            continue;
        const std::uint32_t root = rootOf(parent.data(), static_cast<std::uint32_t>(index));
        if (root == index) {
            stamp[index] = ++components;
            componentStart.push_back(0);
        } else {
            stamp[index] = stamp[root];
        }
        ++componentStart[stamp[index] - 1];
    }
    scratch.lastComponent = components;
    std::uint64_t placed = 0;
    for (std::uint64_t& size : componentStart) {
        placed += size;
        size = placed - size; // the component's first slot, moved up as its pieces are placed
    }
    std::vector<std::uint32_t>& gathered = scratch.gathered;
    gathered.resize(placed);
    for (std::size_t index = 0; index < count; ++index)
        if (unanchored(flags[index]))
            gathered[componentStart[stamp[index] - 1]++] = static_cast<std::uint32_t>(index);
    // The anchor links, component after component into anchorLinks (each component's ending at
    // its groundStart), then each component's in the order of anchorsFirst.
    std::vector<std::uint64_t>& groundStart = scratch.groundStart;
    groundStart.assign(components, 0);
    for (const TopologyScratch::AnchorLink& link : scratch.groundLinks)
        ++groundStart[stamp[link.piece] - 1];
    placed = 0;
    for (std::uint64_t& size : groundStart) {
        placed += size;
        size = placed - size;
    }
    std::vector<TopologyScratch::AnchorLink>& grounded = scratch.anchorLinks;
    grounded.resize(placed);
    for (const TopologyScratch::AnchorLink& link : scratch.groundLinks)
        grounded[groundStart[stamp[link.piece] - 1]++] = link;
    std::uint64_t first = 0;
    for (const std::uint64_t next : groundStart) {
        std::sort(grounded.begin() + static_cast<std::ptrdiff_t>(first),
                  grounded.begin() + static_cast<std::ptrdiff_t>(next), anchorsFirst);
        first = next;
    }
}

// Depths and loads of one component of unanchored pieces (its pieces in index order), given its
// anchor links.
void loadComponent(Physics& physics, const std::uint32_t* members, std::size_t size,
                   const TopologyScratch::AnchorLink* grounded, std::size_t groundedCount, double weight) {
    TopologyScratch& scratch = physics.topologyScratch;
    for (std::size_t m = 0; m < size; ++m)
        scratch.load[members[m]] = weight * scratch.mass[members[m]];
    if (groundedCount == 0)
        return; // nothing holds it up
    loadFromAnchors(physics, grounded, groundedCount, members, size);
}

void settlePiece(Physics& physics, std::size_t index, bool nowSupported, bool wasSupported, bool carried,
                 bool clearAssembly) {
    TopologyScratch& scratch = physics.topologyScratch;
    MatterPiece& piece = physics.pieces[index];
    // Written only where a value changes, so that a refresh of a world at rest leaves its pieces'
    // memory alone.
    if (wasSupported && !nowSupported) {
        // Dead, or cut off from the ground: it starts to move.
        piece.supported = false;
        piece.asleep = false;
        piece.stateTime = physics.time;
    } else if (nowSupported && !wasSupported) {
        // Carried by the ground it stands still; kept, its speed would come back from nowhere the
        // day the support breaks.
        piece.supported = true;
        piece.body.velocity = {};
        piece.body.angularVelocity = {};
    }
    const std::uint8_t flag = static_cast<std::uint8_t>((scratch.flags[index] & ~supportedFlag) |
                                                        (nowSupported ? supportedFlag : 0));
    scratch.flags[index] = flag;
    physics.buildingMassCounts.count(index, (flag & (aliveFlag | buildingFlag)) == (aliveFlag | buildingFlag),
                                     !nowSupported, scratch.mass[index]);
    // A carried piece's stress is the one its load pass noted.
    if (carried) {
        const double stress = physics.changes.pieceLoadStress[index];
        if (!sameDouble(scratch.stressSeen[index], stress)) {
            piece.stress = stress;
            scratch.stressSeen[index] = stress;
        }
    }
    if (clearAssembly && scratch.assemblySeen[index] != -1) {
        piece.assembly = -1;
        scratch.assemblySeen[index] = -1;
    }
}

// One load pass over the links: depths from the anchors, supports, and the weight handed down
// every bond with the stress it puts on it.
//
// Weight only flows between pieces that are not anchored, so the pass runs one component of
// unanchored pieces at a time (a building, a heap of rubble), which keeps its data in cache.
// Restricted to one component, a breadth-first walk from all anchors in id order visits the
// component's pieces in the same order as one started from that component's own anchors in id
// order, so depths, loads and stresses come out exactly as from a single walk over the world
// (adjacency lists are in bond order, as rebuildAdjacency makes them).
//
// Within a topology refresh (clearAssemblies set) the closing walk over the pieces also resets
// their assembly index, which saves rebuildAssemblies a walk of its own.
void loadPathPass(Physics& physics, bool clearAssemblies) {
    TopologyScratch& scratch = physics.topologyScratch;
    const std::size_t count = physics.pieces.size();
    std::vector<std::uint8_t>& flags = scratch.flags;
    std::vector<std::int32_t>& depth = scratch.depth;
    depth.assign(count, -1);
    scratch.stamp.assign(count, 0);
    scratch.lastComponent = 0;
    scratch.load.resize(count);
    scratch.breaks.clear();
    ChangeNotes& notes = physics.changes;
    notes.bondLoaded.assign(physics.bonds.size(), 0);
    notes.bondLoadStress.resize(physics.bonds.size());
    notes.pieceLoaded.assign(count, 0);
    notes.pieceLoadStress.resize(count);
    for (std::size_t index = 0; index < count; ++index)
        if ((flags[index] & (aliveFlag | anchoredFlag)) == (aliveFlag | anchoredFlag))
            depth[index] = 0;

    const double weight = length(physics.gravity);
    findComponents(scratch, count);
    std::uint64_t first = 0;
    std::uint64_t groundFirst = 0;
    for (std::size_t c = 0; c < scratch.componentStart.size(); ++c) {
        const std::uint64_t next = scratch.componentStart[c];
        const std::uint64_t groundNext = scratch.groundStart[c];
        loadComponent(physics, scratch.gathered.data() + first, static_cast<std::size_t>(next - first),
                      scratch.anchorLinks.data() + groundFirst,
                      static_cast<std::size_t>(groundNext - groundFirst), weight);
        first = next;
        groundFirst = groundNext;
    }

    for (std::size_t index = 0; index < count; ++index) {
        const std::uint8_t flag = flags[index];
        const bool nowSupported = (flag & aliveFlag) && depth[index] >= 0;
        const bool wasSupported = flag & supportedFlag;
        if (nowSupported == wasSupported && !(flag & carriedFlag) && !clearAssemblies)
            continue;
        settlePiece(physics, index, nowSupported, wasSupported, flag & carriedFlag, clearAssemblies);
    }
}

void gatherMotion(const Physics& physics, Assembly& assembly) {
    const std::vector<MatterPiece>& pieces = physics.pieces;
    const std::vector<std::uint32_t>& members = assembly.members;
    double mass = 0.0;
    Vec3 weighted;
    Vec3 momentum;
    double wakeTime = pieces[members.front() - 1].stateTime;
    bool asleep = true;
    for (const std::uint32_t id : members) {
        const MatterPiece& piece = pieces[id - 1];
        const double m = piece.body.mass;
        mass += m;
        weighted += piece.body.center * m;
        momentum += piece.body.velocity * m;
        wakeTime = std::max(wakeTime, piece.stateTime);
        asleep = asleep && piece.asleep;
    }
    assembly.mass = mass;
    assembly.center = weighted / mass;
    assembly.velocity = momentum / mass;
    assembly.wakeTime = wakeTime;
    assembly.asleep = asleep;
    assembly.restTime = 0.0;

    // The whole inertia tensor about world axes through the centre, each box as it is turned, and
    // the angular momentum of the members about it. The assembly turns so as to keep that momentum:
    // pieces that already turned as one go on turning as they did, and pieces joined into one body
    // never have more energy together than they had apart. Moments taken about world axes alone
    // would make a body lying askew spin faster at every regrouping.
    SymmetricMatrix inertia;
    Vec3 angularMomentum;
    for (const std::uint32_t id : members) {
        const MatterPiece& piece = pieces[id - 1];
        const double m = piece.body.mass;
        const Vec3 r = piece.body.center - assembly.center;
        const SymmetricMatrix own = piece.body.inertia();
        inertia += own;
        inertia += SymmetricMatrix{
            {m * (r.y * r.y + r.z * r.z), m * (r.z * r.z + r.x * r.x), m * (r.x * r.x + r.y * r.y)},
            {-m * r.x * r.y, -m * r.y * r.z, -m * r.z * r.x}};
        angularMomentum +=
            own * piece.body.angularVelocity + cross(r, (piece.body.velocity - assembly.velocity) * m);
    }
    assembly.setInertia(inertia);
    assembly.angularVelocity = inertia.solve(angularMomentum);
}

// Groups the alive unsupported pieces into assemblies. `fresh` says that the compact notes hold
// every piece's alive and supported state and that every piece's assembly is already -1.
void groupAssemblies(Physics& physics, bool fresh) {
    TopologyScratch& scratch = physics.topologyScratch;
    std::vector<MatterPiece>& pieces = physics.pieces;
    std::vector<Assembly>& assemblies = physics.assemblies;
    // Member lists of the old assemblies are kept for the new ones.
    std::vector<std::vector<std::uint32_t>>& spare = scratch.spareMembers;
    for (Assembly& assembly : assemblies)
        spare.push_back(std::move(assembly.members));
    assemblies.clear();
    const std::size_t count = pieces.size();
    if (!fresh) {
        sizePieceNotes(scratch, count);
        for (std::size_t index = 0; index < count; ++index) {
            recordPiece(scratch, index, pieces[index]);
            pieces[index].assembly = -1;
            scratch.assemblySeen[index] = -1;
        }
        scratch.recordedPieces = count;
        scratch.recordCurrent.assign(count, 1);
    }
    const std::vector<std::uint8_t>& flags = scratch.flags;
    auto loose = [&flags](std::size_t index) {
        return (flags[index] & (aliveFlag | supportedFlag)) == aliveFlag;
    };

    std::vector<std::uint8_t>& visited = scratch.visited;
    visited.assign(count, 0);
    for (std::size_t start = 0; start < count; ++start) {
        if (visited[start] || !loose(start))
            continue;
        Assembly& assembly = assemblies.emplace_back();
        if (!spare.empty()) {
            assembly.members = std::move(spare.back());
            spare.pop_back();
            assembly.members.clear();
        }
        std::vector<std::uint32_t>& members = assembly.members;
        // The member list doubles as the flood's queue, so members are in visiting order.
        visited[start] = 1;
        members.push_back(static_cast<std::uint32_t>(start + 1));
        for (std::size_t head = 0; head < members.size(); ++head) {
            const std::uint32_t id = members[head];
            for (const std::uint64_t k : physics.adjacency[id - 1]) {
                const std::uint32_t next = otherEnd(physics.bonds[k], id);
                if (!visited[next - 1] && !(flags[next - 1] & supportedFlag)) {
                    visited[next - 1] = 1;
                    members.push_back(next);
                }
            }
        }
        const auto assemblyIndex = static_cast<std::int32_t>(assemblies.size() - 1);
        for (const std::uint32_t id : members) {
            pieces[id - 1].assembly = assemblyIndex;
            scratch.assemblySeen[id - 1] = assemblyIndex;
        }
        gatherMotion(physics, assembly);
    }
}

// The piece walk of the full adjacency pass: the compact notes of every piece, its life as the
// notes of changes start from, and the pieces that moved or died since the grid last saw them.
// Returns the number of dead pieces.
std::uint64_t notePieces(Physics& physics, std::vector<std::uint32_t>* gridStale) {
    const std::vector<MatterPiece>& pieces = physics.pieces;
    const std::size_t count = pieces.size();
    TopologyScratch& scratch = physics.topologyScratch;
    std::vector<std::uint8_t>& aliveSeen = physics.changes.aliveSeen;
    aliveSeen.resize(count);
    sizePieceNotes(scratch, count);
    const std::size_t gridded = gridStale ? std::min(count, physics.gridEntries.size()) : 0;
    if (gridStale)
        gridStale->clear();
    std::uint64_t dead = 0;
    for (std::size_t index = 0; index < count; ++index) {
        const MatterPiece& piece = pieces[index];
        recordPiece(scratch, index, piece);
        dead += piece.alive ? 0 : 1;
        aliveSeen[index] = piece.alive ? 1 : 0;
        if (index < gridded && !grid::entryCurrent(physics.gridEntries[index], piece))
            gridStale->push_back(static_cast<std::uint32_t>(index));
    }
    scratch.recordedPieces = count;
    scratch.recordCurrent.assign(count, 1);
    return dead;
}

// The bond walk of the full adjacency pass: a bond that no longer joins two alive pieces stops being
// intact, every pair without an intact bond is refused as a contact bond, and the intact ones get
// their notes, join their ends' trees or ground one end. Their links are written where the last
// full pass left each piece's links (Placed), or counted per end at index + 1, so that the running
// sum gives each piece's first link. Returns the number of bonds that are not intact.
template <bool Placed> std::uint64_t walkBonds(Physics& physics) {
    Bond* bonds = physics.bonds.data();
    const std::size_t bondCount = physics.bonds.size();
    const std::size_t count = physics.pieces.size();
    TopologyScratch& scratch = physics.topologyScratch;
    const std::uint8_t* flags = scratch.flags.data();
    std::uint64_t* start = scratch.linkStart.data();
    std::uint64_t* end = scratch.linkEnd.data();
    TopologyScratch::Link* links = scratch.links.data();
    const Vec3* centers = scratch.centers.data();
    TopologyScratch::BondNote* notes = scratch.bondNotes.data();
    std::uint32_t* parent = scratch.parent.data();
    const Vec3 down = scratch.down;
    // A piece's cursor runs on past its slots when it has more links than last time, and only its
    // slots are written; the layout held if every cursor stopped at the next piece's start.
    auto place = [&](std::uint32_t index, const TopologyScratch::Link& link) {
        const std::uint64_t at = end[index]++;
        if (at < start[index + 1])
            links[at] = link;
    };
    std::uint64_t broken = 0;
    for (std::size_t k = 0; k < bondCount; ++k) {
        Bond& bond = bonds[k];
        // An end names a piece when its id less one is below the count: an id of 0 wraps round.
        const bool inRange = std::uint64_t{bond.a} - 1 < count && std::uint64_t{bond.b} - 1 < count;
        const std::uint32_t a = bond.a - 1;
        const std::uint32_t b = bond.b - 1;
        // A bond to a dead piece is gone, but it did not break: the score does not count it.
        if (bond.intact && (!inRange || !(flags[a] & aliveFlag) || !(flags[b] & aliveFlag)))
            bond.intact = false;
        if (!bond.intact) {
            physics.brokenPairs.insert(pairKey(bond.a, bond.b));
            ++broken;
            continue;
        }
        if constexpr (Placed) {
            const auto index = static_cast<std::uint32_t>(k);
            const Pair levers = leversOf(bond, centers[a], centers[b], down);
            place(a, {b, index, levers[0]});
            place(b, {a, index, levers[1]});
        } else {
            ++start[a + 1];
            ++start[b + 1];
        }
        // Its ends' components and anchor links, for the load pass.
        const std::uint8_t aFlag = flags[a];
        const std::uint8_t bFlag = flags[b];
        if (!((aFlag | bFlag) & anchoredFlag))
            joinTrees(parent, a, b);
        else if (!(aFlag & anchoredFlag))
            scratch.groundLinks.push_back({b, static_cast<std::uint32_t>(k), a});
        else if (!(bFlag & anchoredFlag))
            scratch.groundLinks.push_back({a, static_cast<std::uint32_t>(k), b});
        // What the load pass needs of the bond is taken from it now, while it is at hand.
        notes[k] = noteOf(bond, down);
    }
    return broken;
}

// Whether every piece got as many links as the layout had room for.
bool layoutHeld(const TopologyScratch& scratch, std::size_t count) {
    const std::uint64_t* start = scratch.linkStart.data();
    const std::uint64_t* end = scratch.linkEnd.data();
    bool held = true;
    for (std::size_t index = 0; index < count; ++index)
        held &= end[index] == start[index + 1];
    return held;
}

// After a walk that found the layout changed: each piece's count of links where the counting walk
// puts it (at index + 1), for fillLinks to lay them out afresh.
void countsFromCursors(TopologyScratch& scratch, std::size_t count) {
    std::uint64_t* start = scratch.linkStart.data();
    const std::uint64_t* end = scratch.linkEnd.data();
    for (std::size_t index = count; index-- > 0;)
        start[index + 1] = end[index] - start[index];
    start[0] = 0;
}

// The bond walk (see walkBonds). Its links are in place (scratch.linksLaidOut) when every piece has
// as many as the last full pass gave it, as in a world whose bonds stand as they did; otherwise they
// are counted, for fillLinks. Returns the number of bonds that are not intact.
std::uint64_t noteBonds(Physics& physics) {
    const std::size_t count = physics.pieces.size();
    TopologyScratch& scratch = physics.topologyScratch;
    scratch.bondNotes.resize(physics.bonds.size());
    startTrees(scratch, count);
    const bool placing = scratch.linksLaidOut && scratch.linkStart.size() == count + 1 &&
                         scratch.links.size() == scratch.linkStart[count];
    if (!placing) {
        scratch.linkStart.assign(count + 1, 0);
        scratch.linksLaidOut = false;
        return walkBonds<false>(physics);
    }
    scratch.linkEnd.assign(scratch.linkStart.begin(), scratch.linkStart.end() - 1);
    const std::uint64_t broken = walkBonds<true>(physics);
    scratch.linksLaidOut = layoutHeld(scratch, count);
    if (!scratch.linksLaidOut)
        countsFromCursors(scratch, count);
    return broken;
}

// The second bond walk, where the layout of the links changed: the links of every piece from the
// counts and the bonds that are still intact, each piece's in bond order, with the levers of their
// ends. Walking the bonds again takes about as long as writing a list of the intact ones in the
// first walk and reading it here, and spares that list's memory (as large as the links), which a
// large world touches first in its load.
void fillLinks(Physics& physics) {
    TopologyScratch& scratch = physics.topologyScratch;
    const std::size_t count = physics.pieces.size();
    std::vector<std::uint64_t>& start = scratch.linkStart;
    for (std::size_t index = 0; index < count; ++index)
        start[index + 1] += start[index];
    scratch.links.resize(start[count]);
    // Each piece's end moves up from its start as its links are filled in.
    scratch.linkEnd.assign(start.begin(), start.end() - 1);
    std::uint64_t* end = scratch.linkEnd.data();
    TopologyScratch::Link* links = scratch.links.data();
    const Vec3* centers = scratch.centers.data();
    const Bond* bonds = physics.bonds.data();
    const std::size_t bondCount = physics.bonds.size();
    const Vec3 down = scratch.down;
    for (std::size_t k = 0; k < bondCount; ++k) {
        const Bond& bond = bonds[k];
        if (!bond.intact)
            continue;
        const std::uint32_t a = bond.a - 1;
        const std::uint32_t b = bond.b - 1;
        const auto index = static_cast<std::uint32_t>(k);
        const Pair levers = leversOf(bond, centers[a], centers[b], down);
        links[end[a]++] = {b, index, levers[0]};
        links[end[b]++] = {a, index, levers[1]};
    }
    scratch.linksLaidOut = true;
}

// Physics::adjacency from the links. A list that already holds its bonds is left alone, so that a
// refresh of a world whose bonds stand does not write the lists again.
void writeAdjacency(Physics& physics) {
    const TopologyScratch& scratch = physics.topologyScratch;
    const std::size_t count = physics.pieces.size();
    const std::vector<std::uint64_t>& start = scratch.linkStart;
    const std::vector<TopologyScratch::Link>& links = scratch.links;
    std::vector<std::vector<std::uint64_t>>& adjacency = physics.adjacency;
    adjacency.resize(count);
    for (std::size_t index = 0; index < count; ++index) {
        std::vector<std::uint64_t>& list = adjacency[index];
        const std::uint64_t first = start[index];
        const auto size = static_cast<std::size_t>(start[index + 1] - first);
        bool same = list.size() == size;
        for (std::size_t n = 0; same && n < size; ++n)
            same = list[n] == links[first + n].bond;
        if (same)
            continue;
        // Cleared and refilled, never replaced, so that the list keeps its storage.
        list.resize(size);
        for (std::size_t n = 0; n < size; ++n)
            list[n] = links[first + n].bond;
    }
}

// The full adjacency pass: every piece's list of intact bonds, the compact links and notes of the
// load pass, the dead and broken history counts, and the life of every piece as the notes of
// changes start from.
void adjacencyPass(Physics& physics, std::vector<std::uint32_t>* gridStale) {
    TopologyScratch& scratch = physics.topologyScratch;
    scratch.down = normalized(physics.gravity);
    scratch.deadPieces = notePieces(physics, gridStale);
    scratch.brokenBonds = noteBonds(physics);
    if (!scratch.linksLaidOut)
        fillLinks(physics);
    scratch.linksCurrent.assign(physics.pieces.size(), 1);
    writeAdjacency(physics);
}

void freezeOutsideWindow(Physics& physics) {
    const double end = physics.motionWindowEnd();
    if (!(physics.motionStopped && physics.wakePending))
        physics.motionStopped = false;
    if (physics.time + 1e-9 >= end)
        physics.stopMotion();
}

void closeNotes(Physics& physics, bool stillBreaking, bool groupedNoted) {
    ChangeNotes& notes = physics.changes;
    for (const std::uint32_t index : notes.pieces)
        notes.pieceMark[index] = 0;
    notes.pieces.clear();
    notes.stressedBonds.clear();
    notes.stressedPieces.clear();
    notes.pieceCount = physics.pieces.size();
    notes.bondCount = physics.bonds.size();
    notes.gravity = physics.gravity;
    notes.groupsKnown = notes.groupsKnown && groupedNoted;
    notes.synced = true;
    // A chain of failures still running goes on at the next refresh from both ends of every bond
    // the last pass broke, as the next pass of this refresh would have.
    if (stillBreaking)
        for (const std::uint32_t k : physics.topologyScratch.breaks) {
            physics.notePiece(physics.bonds[k].a - 1);
            physics.notePiece(physics.bonds[k].b - 1);
        }
    physics.topologyDirty.settle(stillBreaking);
}

} // namespace loadpaths

using namespace loadpaths;

void Physics::rebuildAdjacency() {
    adjacencyPass(*this, nullptr);
    changes.synced = false; // the passes called one by one leave the notes behind
}

void Physics::refreshLoadPaths() {
    // Called on its own, the pass walks the adjacency lists as they are now.
    linksFromAdjacency(*this);
    loadPathPass(*this, false);
    changes.synced = false;
}

void Physics::rebuildAssemblies() {
    groupAssemblies(*this, false);
    changes.synced = false;
}

void Physics::updateMembers(const Assembly& assembly, const Vec3& previousCenter,
                            const Quaternion& rotation) {
    changes.motionChanged();
    // Most calls carry a position correction with no turn. The turn (1, 0, 0, 0) multiplies by one
    // and adds only zeros, which leave every non-zero finite number as it is: such offsets and
    // orientations are kept as they are, and only zeros (whose sign the sums may change) and
    // non-finite numbers take the whole rotation.
    const bool still = rotation.w == 1.0 && rotation.x == 0.0 && rotation.y == 0.0 && rotation.z == 0.0;
    // Non-zero and finite: a number that adding a zero of either sign leaves as it is.
    auto solid = [](double value) { return std::abs(value) > 0.0 && std::abs(value) < HUGE_VAL; };
    for (const std::uint32_t id : assembly.members) {
        noteMoved(id - 1);
        Polyhedron& body = pieces[id - 1].body;
        const Vec3 offset = body.center - previousCenter;
        body.center =
            (still && solid(offset.x) && solid(offset.y) && solid(offset.z) ? offset
                                                                            : rotation.rotate(offset)) +
            assembly.center;
        const Quaternion& q = body.orientation;
        if (!still || !(solid(q.w) && solid(q.x) && solid(q.y) && solid(q.z)))
            body.orientation = rotation * body.orientation;
        body.angularVelocity = assembly.angularVelocity;
        body.velocity = assembly.velocity + cross(assembly.angularVelocity, body.center - assembly.center);
    }
}

void Physics::refreshTopology() {
    ++fullRefreshCount;
    makeRoomForWorld(*this);
    // Every piece is settled below, which brings its building mass up to date; pieces that are
    // gone count no more.
    buildingMassCounts.keepFirst(pieces.size());
    // Each pass may break overloaded bonds, which moves their load elsewhere; a chain of failures
    // that is still running after the last pass carries on at the next refresh.
    // Nothing in a refresh moves a piece or ends its life, so the pieces the grid must enter again
    // are found by the first pass.
    std::vector<std::uint32_t>& gridStale = topologyScratch.gridStale;
    for (int pass = 0; pass < maxLoadPasses; ++pass) {
        topologyDirty = false;
        adjacencyPass(*this, pass == 0 ? &gridStale : nullptr);
        loadPathPass(*this, true); // the links are fresh from the adjacency pass
        if (!topologyDirty)
            break;
    }
    const bool stillBreaking = topologyDirty;
    // After a pass that broke nothing the adjacency it started from is still exact.
    if (stillBreaking)
        adjacencyPass(*this, nullptr);
    // The last load pass left every piece's assembly at -1 and its state in the notes.
    groupAssemblies(*this, true);
    freezeOutsideWindow(*this);
    rebuildGridFor(gridStale);
    closeNotes(*this, stillBreaking, false);
}

} // namespace zarn
