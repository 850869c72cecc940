#include <algorithm>
#include <cmath>

#include "physics/GridCells.hpp"
#include "physics/Physics.hpp"

namespace zarn {

namespace {

// New pieces look for neighbours this far beyond their bounds; the bond test itself accepts gaps
// up to 0.035 m.
constexpr double touchReach = 0.04;
// Below this much bond area under a piece its weight is spread over this area instead.
constexpr double minSupportArea = 1e-4;
constexpr double compressiveStrength = 4.5e7; // Pa
constexpr double bendingStrength = 2.5e7;     // Pa
constexpr double bendingFactor = 0.12;
constexpr int maxLoadPasses = 8;

std::uint32_t otherEnd(const Bond& bond, std::uint32_t id) {
    return bond.a == id ? bond.b : bond.a;
}

// Candidates for bonding piece `id`: alive pieces whose bounds come within the reach of its own,
// that are either older than the first new piece or newer than `id`, in ascending id order. The
// grid lists every piece that could pass the bond test; the bounds check only spares the bond
// test the pieces that are too far away, so the bonds made are those of trying every listed piece.
void touchingCandidates(const Physics& physics, std::uint32_t id, std::uint32_t first,
                        std::vector<std::uint32_t>& out) {
    const std::vector<Box>& bounds = physics.topologyScratch.bounds;
    const Box reach = grid::widened(bounds[id - 1], touchReach);
    out.clear();
    auto consider = [&](std::uint32_t other) {
        if ((other < first || other > id) && grid::overlaps(bounds[other - 1], reach))
            out.push_back(other);
    };
    if (grid::needsScan(reach)) {
        for (const MatterPiece& piece : physics.pieces)
            if (piece.alive)
                consider(piece.id);
        return;
    }
    const grid::CellRange range = grid::cellRange(reach, 0.0);
    grid::forEachCell(physics, range, [&](const std::vector<std::uint32_t>& list) {
        for (const std::uint32_t other : list)
            consider(other);
    });
    if (!grid::singleCell(range)) {
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }
}

} // namespace

bool Physics::addBond(std::uint32_t a, std::uint32_t b) {
    if (bonds.size() >= maxBonds)
        return false;
    return addBondUnchecked(a, b);
}

bool Physics::addBondUnchecked(std::uint32_t a, std::uint32_t b) {
    // A piece never bonds with itself, and ids outside the store name nothing.
    if (a == b || a == 0 || b == 0 || a > pieces.size() || b > pieces.size())
        return false;
    Bond bond;
    if (!faceContact(pieces[a - 1], pieces[b - 1], bond))
        return false;
    bond.a = a;
    bond.b = b;
    bond.stress = 0.0;
    bond.intact = true;
    bonds.push_back(bond);
    return true;
}

void Physics::connectNew(std::uint32_t first) {
    rebuildGrid();
    if (first == 0)
        first = 1;
    std::vector<Box>& bounds = topologyScratch.bounds;
    bounds.resize(pieces.size());
    for (std::size_t index = 0; index < pieces.size(); ++index)
        if (pieces[index].alive)
            bounds[index] = pieces[index].body.bounds();
    std::vector<std::uint32_t>& candidates = topologyScratch.candidates;
    for (std::size_t index = first - 1; index < pieces.size(); ++index) {
        if (!pieces[index].alive)
            continue;
        const auto id = static_cast<std::uint32_t>(index + 1);
        touchingCandidates(*this, id, first, candidates);
        for (const std::uint32_t other : candidates) {
            if (bonds.size() >= maxBonds)
                break;
            addBondUnchecked(id, other);
        }
    }
    topologyDirty = true;
    refreshTopology();
}

void Physics::connectTouching() {
    bonds.clear();
    brokenPairs.clear();
    connectNew(1);
}

void Physics::rebuildAdjacency() {
    const std::size_t count = pieces.size();
    // Inner lists are cleared, not replaced, so that they keep their storage between refreshes.
    adjacency.resize(count);
    for (std::vector<std::uint64_t>& list : adjacency)
        list.clear();

    std::uint64_t dead = 0;
    for (const MatterPiece& piece : pieces)
        dead += piece.alive ? 0 : 1;
    std::uint64_t broken = 0;
    for (std::size_t k = 0; k < bonds.size(); ++k) {
        Bond& bond = bonds[k];
        const bool inRange = bond.a != 0 && bond.b != 0 && bond.a <= count && bond.b <= count;
        // A bond to a dead piece is gone, but it did not break: the score does not count it.
        if (!inRange || !pieces[bond.a - 1].alive || !pieces[bond.b - 1].alive)
            bond.intact = false;
        if (!bond.intact) {
            brokenPairs.insert(pairKey(bond.a, bond.b));
            ++broken;
            continue;
        }
        adjacency[bond.a - 1].push_back(k);
        adjacency[bond.b - 1].push_back(k);
    }
    topologyScratch.deadPieces = dead;
    topologyScratch.brokenBonds = broken;
}

void Physics::refreshLoadPaths() {
    const std::size_t count = pieces.size();
    std::vector<std::int64_t>& depth = topologyScratch.depth;
    std::vector<std::uint32_t>& queue = topologyScratch.queue;
    std::vector<double>& load = topologyScratch.load;
    depth.assign(count, -1);
    queue.clear();
    for (std::size_t index = 0; index < count; ++index)
        if (pieces[index].alive && pieces[index].anchored) {
            depth[index] = 0;
            queue.push_back(static_cast<std::uint32_t>(index));
        }

    // Breadth first from the anchors: depth is the number of bonds to the ground.
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::uint32_t index = queue[head];
        const std::uint32_t id = index + 1;
        for (const std::uint64_t k : adjacency[index]) {
            const std::uint32_t next = otherEnd(bonds[k], id) - 1;
            if (depth[next] < 0) {
                depth[next] = depth[index] + 1;
                queue.push_back(next);
            }
        }
    }

    const double weight = length(gravity);
    load.resize(count);
    for (std::size_t index = 0; index < count; ++index) {
        MatterPiece& piece = pieces[index];
        if (!piece.alive) {
            if (piece.supported) {
                piece.supported = false;
                piece.asleep = false;
                piece.stateTime = time;
            }
        } else if (depth[index] >= 0) {
            piece.supported = true;
        } else if (piece.supported) {
            // Cut off from the ground: it starts to move.
            piece.supported = false;
            piece.asleep = false;
            piece.stateTime = time;
        }
        load[index] = weight * piece.body.mass;
    }

    // Deepest first, every piece hands its load to the neighbours below it in proportion to the
    // bond areas; a piece has received all of its load before its turn comes.
    const Vec3 down = normalized(gravity);
    for (std::size_t q = queue.size(); q-- > 0;) {
        const std::uint32_t index = queue[q];
        MatterPiece& piece = pieces[index];
        if (piece.anchored)
            continue;
        const std::uint32_t id = index + 1;
        double supportArea = 0.0;
        for (const std::uint64_t k : adjacency[index])
            if (depth[otherEnd(bonds[k], id) - 1] < depth[index])
                supportArea += bonds[k].area;
        const double spread = supportArea > minSupportArea ? supportArea : minSupportArea;
        // The piece reports the largest stress among the bonds that carry it.
        double pieceStress = 0.0;
        bool carried = false;
        for (const std::uint64_t k : adjacency[index]) {
            Bond& bond = bonds[k];
            const std::uint32_t below = otherEnd(bond, id) - 1;
            if (depth[below] >= depth[index])
                continue;
            const double share = load[index] * bond.area / spread;
            load[below] += share;
            const double c = dot(bond.normal, down);
            const double compressive = std::abs(c) * share / bond.area;
            const double shear = std::sqrt(std::max(0.0, 1.0 - c * c)) * share / bond.area;
            const Vec3 r = piece.body.center - bond.center;
            const double lever = length(r - down * dot(down, r)) * share;
            const double bending =
                lever / (bond.area * std::max(1.0, std::sqrt(bond.area))) * bendingFactor + shear;
            bond.stress = std::max(bending, compressive);
            pieceStress = carried ? std::max(pieceStress, bond.stress) : bond.stress;
            carried = true;
            if (compressive > compressiveStrength || bending > bendingStrength) {
                bond.intact = false;
                ++brokenBondCount;
                topologyDirty = true;
            }
        }
        if (carried)
            piece.stress = pieceStress;
    }
}

void Physics::rebuildAssemblies() {
    // Member lists of the old assemblies are kept for the new ones.
    std::vector<std::vector<std::uint32_t>>& spare = topologyScratch.spareMembers;
    for (Assembly& assembly : assemblies)
        spare.push_back(std::move(assembly.members));
    assemblies.clear();
    for (MatterPiece& piece : pieces)
        piece.assembly = -1;

    const std::size_t count = pieces.size();
    std::vector<std::uint8_t>& visited = topologyScratch.visited;
    visited.assign(count, 0);
    for (std::size_t start = 0; start < count; ++start) {
        if (visited[start] || !pieces[start].alive || pieces[start].supported)
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
            for (const std::uint64_t k : adjacency[id - 1]) {
                const std::uint32_t next = otherEnd(bonds[k], id);
                if (!visited[next - 1] && !pieces[next - 1].supported) {
                    visited[next - 1] = 1;
                    members.push_back(next);
                }
            }
        }

        const auto assemblyIndex = static_cast<std::int32_t>(assemblies.size() - 1);
        double mass = 0.0;
        Vec3 weighted;
        Vec3 momentum;
        double wakeTime = pieces[members.front() - 1].stateTime;
        bool asleep = true;
        for (const std::uint32_t id : members) {
            MatterPiece& piece = pieces[id - 1];
            const double m = piece.body.mass;
            mass += m;
            weighted += piece.body.center * m;
            momentum += piece.body.velocity * m;
            wakeTime = std::max(wakeTime, piece.stateTime);
            asleep = asleep && piece.asleep;
            piece.assembly = assemblyIndex;
        }
        assembly.mass = mass;
        assembly.center = weighted / mass;
        assembly.velocity = momentum / mass;
        assembly.wakeTime = wakeTime;
        assembly.asleep = asleep;
        assembly.restTime = 0.0;

        // Inertia about world axes through the centre; each box counts as if it were axis-aligned.
        Vec3 inertia;
        Vec3 angularMomentum;
        for (const std::uint32_t id : members) {
            const MatterPiece& piece = pieces[id - 1];
            const double m = piece.body.mass;
            const Vec3& h = piece.body.halfExtents;
            const Vec3 r = piece.body.center - assembly.center;
            const Vec3 own{m / 3.0 * (h.y * h.y + h.z * h.z), m / 3.0 * (h.z * h.z + h.x * h.x),
                           m / 3.0 * (h.x * h.x + h.y * h.y)};
            inertia += own + Vec3{m * (r.y * r.y + r.z * r.z), m * (r.z * r.z + r.x * r.x),
                                  m * (r.x * r.x + r.y * r.y)};
            angularMomentum += hadamard(own, piece.body.angularVelocity) +
                               cross(r, (piece.body.velocity - assembly.velocity) * m);
        }
        assembly.inertia = inertia;
        assembly.angularVelocity = divide(angularMomentum, inertia);
    }
}

void Physics::updateMembers(const Assembly& assembly, const Vec3& previousCenter,
                            const Quaternion& rotation) {
    for (const std::uint32_t id : assembly.members) {
        Polyhedron& body = pieces[id - 1].body;
        body.center = rotation.rotate(body.center - previousCenter) + assembly.center;
        body.orientation = rotation * body.orientation;
        body.angularVelocity = assembly.angularVelocity;
        body.velocity = assembly.velocity + cross(assembly.angularVelocity, body.center - assembly.center);
    }
}

void Physics::refreshTopology() {
    // Each pass may break overloaded bonds, which moves their load elsewhere; a chain of failures
    // that is still running after the last pass carries on at the next refresh.
    for (int pass = 0; pass < maxLoadPasses; ++pass) {
        topologyDirty = false;
        rebuildAdjacency();
        refreshLoadPaths();
        if (!topologyDirty)
            break;
    }
    const bool stillBreaking = topologyDirty;
    rebuildAdjacency();
    rebuildAssemblies();

    // The new assemblies may move only inside the motion window that stepping uses. A short wake
    // window opened by a contact keeps the long window closed behind it.
    const double end = motionWindowEnd();
    if (!(motionStopped && wakePending))
        motionStopped = false;
    if (time + 1e-9 >= end)
        stopMotion();

    rebuildGrid();
    topologyDirty = stillBreaking;
}

} // namespace zarn
