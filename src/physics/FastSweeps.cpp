#include "physics/FastSweeps.hpp"

#include <algorithm>
#include <cmath>

#include "physics/GridCells.hpp"

namespace zarn::fast {

namespace {

constexpr double entryDepth = 0.01;     // m a stopped piece is left inside what it met,
constexpr double entryShare = 0.25;     // at most this share of its thickness
constexpr double pathMargin = 0.001;    // m around the path, for rounding
constexpr double maxPathCells = 4096.0; // 32 m cells along a path beyond which every piece is looked at

double thickness(const Polyhedron& body) {
    const Vec3& h = body.halfExtents;
    return 2.0 * std::min({h.x, h.y, h.z});
}

bool movedFarther(const Polyhedron& before, const Polyhedron& after) {
    const double thick = thickness(before);
    return lengthSquared(after.center - before.center) > thick * thick;
}

// Matter that did not move in this step: what a fast piece can pass through. Two moving pieces the
// contacts meet where the step leaves them, and a sweep against where another piece ended would be
// no truer.
bool still(const Physics& physics, const MatterPiece& piece) {
    return piece.alive &&
           (piece.assembly < 0 || physics.assemblies[static_cast<std::size_t>(piece.assembly)].asleep);
}

// Numbers a stamp vector with, starting over (and clearing it) before they run out.
std::uint32_t nextStamp(std::uint32_t& counter, std::vector<std::uint32_t>& stamps) {
    if (++counter == 0) {
        std::fill(stamps.begin(), stamps.end(), 0u);
        counter = 1;
    }
    return counter;
}

// Enters in the sweep grid the still pieces the 32 m cells of a path list, each cell and piece once a
// step; false when the path crosses too many cells to walk.
bool enterCellsOf(Physics& physics, const Box& path) {
    StepScratch& scratch = physics.stepScratch;
    const grid::CellRange range = grid::cellRange(path, 0.0);
    double cells = 1.0;
    for (int k = 0; k < 3; ++k)
        cells *= static_cast<double>(range.hi[k] - range.lo[k]) + 1.0;
    if (cells > maxPathCells)
        return false;
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z) {
                const std::uint64_t key = Physics::gridKey(x, y, z);
                if (std::find(scratch.sweepCells.begin(), scratch.sweepCells.end(), key) !=
                    scratch.sweepCells.end())
                    continue;
                scratch.sweepCells.push_back(key);
                const auto cell = physics.cells.find(key);
                if (cell == physics.cells.end())
                    continue;
                for (const std::uint32_t id : cell->second) {
                    if (scratch.sweepEntered[id - 1] == scratch.sweepStep)
                        continue;
                    scratch.sweepEntered[id - 1] = scratch.sweepStep;
                    const MatterPiece& piece = physics.pieces[id - 1];
                    if (still(physics, piece))
                        scratch.sweepGrid.enter(piece.body.bounds(), id, piece.assembly);
                }
            }
    return true;
}

// Whether a body's centre lies within reach of the path from start along move.
bool nearPath(const Vec3& start, const Vec3& move, const Polyhedron& body, double reach) {
    const Vec3 offset = body.center - start;
    const double along = std::clamp(dot(offset, move) / std::max(lengthSquared(move), 1e-300), 0.0, 1.0);
    return lengthSquared(offset - move * along) <= reach * reach;
}

// Whether a piece that already touches what it is swept against goes through it: it moves into it,
// its centre ends past the other's along the normal of their overlap, and where it ends it no longer
// meets it. A piece that touches and stays, or slides along or off, the contacts see as always.
bool passesThrough(const Polyhedron& moved, const BoxSweep& overlap, const Vec3& move,
                   const Polyhedron& other) {
    if (!(dot(move, overlap.normal) < 0.0) || dot(moved.center - other.center, overlap.normal) > 0.0)
        return false;
    Contact contact;
    return !collide(moved, other, contact);
}

// The share of the move at which a piece, swept from before along move, has gone a little into the
// other piece; 1 when it does not meet it on the way.
double stopShare(const Polyhedron& before, const Polyhedron& moved, const Vec3& move,
                 const Polyhedron& other) {
    const BoxSweep sweep = sweepPolyhedra(before, move, other);
    if (!sweep.hit || (sweep.depth > 0.0 && !passesThrough(moved, sweep, move, other)))
        return 1.0;
    const double approach = -dot(move, sweep.normal);
    return std::min(1.0, sweep.fraction + std::min(entryDepth, entryShare * thickness(before)) / approach);
}

// The share of its move at which one fast piece of an assembly stops.
double stopShareOf(Physics& physics, std::int32_t assembly, const Polyhedron& before, const Vec3& move) {
    StepScratch& scratch = physics.stepScratch;
    Polyhedron moved = before;
    moved.center += move;
    const Box path = grid::widened(grid::joined(before.bounds(), moved.bounds()), pathMargin);
    const double reach = length(before.halfExtents) + pathMargin;
    double share = 1.0;
    auto consider = [&](std::uint32_t id) {
        const MatterPiece& other = physics.pieces[id - 1];
        if (!still(physics, other) || other.assembly == assembly ||
            !nearPath(before.center, move, other.body, reach + length(other.body.halfExtents)))
            return;
        share = std::min(share, stopShare(before, moved, move, other.body));
    };
    if (!enterCellsOf(physics, path)) {
        // A path across the world: every piece near it.
        for (const MatterPiece& other : physics.pieces)
            consider(other.id);
        return share;
    }
    const std::uint32_t search = nextStamp(scratch.sweepSearch, scratch.sweepSeen);
    scratch.sweepGrid.searchEach(path, assembly, [&](std::uint32_t id, std::int32_t) {
        if (scratch.sweepSeen[id - 1] == search)
            return;
        scratch.sweepSeen[id - 1] = search;
        consider(id);
    });
    return share;
}

} // namespace

bool movedPastThickness(const Physics& physics, const Assembly& assembly,
                        const std::vector<Polyhedron>& before) {
    for (std::size_t m = 0; m < assembly.members.size(); ++m)
        if (movedFarther(before[m], physics.pieces[assembly.members[m] - 1].body))
            return true;
    return false;
}

void noteMove(Physics& physics, std::int32_t assembly, const Vec3& center, const SymmetricMatrix& inertia,
              const std::vector<Polyhedron>& before) {
    StepScratch& scratch = physics.stepScratch;
    scratch.fastMoves.push_back({assembly, center, inertia, scratch.fastBodies.size()});
    scratch.fastBodies.insert(scratch.fastBodies.end(), before.begin(), before.end());
}

bool stopAtFirstMatter(Physics& physics) {
    StepScratch& scratch = physics.stepScratch;
    if (scratch.fastMoves.empty())
        return false;
    scratch.sweepGrid.clear();
    scratch.sweepCells.clear();
    scratch.sweepEntered.resize(physics.pieces.size(), 0);
    scratch.sweepSeen.resize(physics.pieces.size(), 0);
    nextStamp(scratch.sweepStep, scratch.sweepEntered);
    bool stopped = false;
    for (const FastMove& noted : scratch.fastMoves) {
        Assembly& assembly = physics.assemblies[static_cast<std::size_t>(noted.assembly)];
        const Vec3 move = assembly.center - noted.center;
        const Polyhedron* before = scratch.fastBodies.data() + noted.firstBody;
        double share = 1.0;
        for (std::size_t m = 0; m < assembly.members.size(); ++m)
            if (movedFarther(before[m], physics.pieces[assembly.members[m] - 1].body))
                share = std::min(share, stopShareOf(physics, noted.assembly, before[m], move));
        if (!(share < 1.0))
            continue;
        for (std::size_t m = 0; m < assembly.members.size(); ++m)
            physics.pieces[assembly.members[m] - 1].body = before[m];
        assembly.center = noted.center + move * share;
        assembly.setInertia(noted.inertia);
        physics.updateMembers(assembly, noted.center, Quaternion{});
        stopped = true;
    }
    scratch.fastMoves.clear();
    scratch.fastBodies.clear();
    return stopped;
}

} // namespace zarn::fast
