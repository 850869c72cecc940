#include <algorithm>
#include <cmath>
#include <limits>

#include "physics/Physics.hpp"

namespace zarn {

namespace {

constexpr double fractureStress = 2.5e7; // Pa at which matter cracks and bonds tear
constexpr std::size_t maxRegion = 512;
constexpr std::uint64_t maxSplits = 64;
constexpr std::uint32_t maxSplitGeneration = 17; // pieces of generation 18 are too small to split again
constexpr double density = 1200.0;
constexpr double infinity = std::numeric_limits<double>::infinity();

// Outward normal of the face of the box nearest to the point.
Vec3 nearestFaceNormal(const Polyhedron& body, const Vec3& point) {
    const Vec3 local = body.orientation.rotateInverse(point - body.center);
    int axis = 0;
    double best = std::abs(std::abs(local.x) - body.halfExtents.x);
    for (int k = 1; k < 3; ++k) {
        const double gap = std::abs(std::abs(local[k]) - body.halfExtents[k]);
        if (gap < best) {
            best = gap;
            axis = k;
        }
    }
    Vec3 normal;
    normal[axis] = local[axis] > 0.0 ? 1.0 : -1.0;
    return body.orientation.rotate(normal);
}

// A hit point this close to a box lies on it (the nearest point of a box is found with rounding).
constexpr double onTheHit = 1e-6;

// The point of the box nearest to p (p itself when inside).
Vec3 closestPoint(const Polyhedron& body, const Vec3& p) {
    Vec3 local = body.orientation.rotateInverse(p - body.center);
    for (int k = 0; k < 3; ++k)
        local[k] = std::clamp(local[k], -body.halfExtents[k], body.halfExtents[k]);
    return body.center + body.orientation.rotate(local);
}

// The pieces the stress of the hit reaches: a walk along intact bonds out to the reach, at most
// 512 entries, then sorted by id without repeats.
void collectRegion(Physics& physics, std::uint32_t id, const Impact& hit) {
    StepScratch& scratch = physics.stepScratch;
    const double ratio = physics.stressAt(hit, 0.0) / fractureStress;
    const double reach = ratio > 1.0 ? hit.radius * (std::sqrt(ratio) - 1.0) : 0.0;
    auto& distance = scratch.regionDistance;
    if (distance.size() < physics.pieces.size())
        distance.resize(physics.pieces.size(), infinity);
    auto& region = scratch.region;
    region.clear();
    region.push_back(id);
    distance[id - 1] = 0.0;
    for (std::size_t c = 0; c < region.size(); ++c) {
        const std::uint32_t from = region[c];
        if (from - 1 >= physics.adjacency.size())
            continue;
        const Vec3 center = physics.pieces[from - 1].body.center;
        for (const std::uint64_t k : physics.adjacency[from - 1]) {
            const Bond& bond = physics.bonds[k];
            if (!bond.intact)
                continue;
            const std::uint32_t other = bond.a == from ? bond.b : bond.a;
            const double d = length(physics.pieces[other - 1].body.center - center) + distance[from - 1];
            if (d < reach && d < distance[other - 1] && region.size() < maxRegion) {
                distance[other - 1] = d;
                region.push_back(other);
            }
        }
    }
    for (const std::uint32_t entry : region)
        distance[entry - 1] = infinity;
    std::sort(region.begin(), region.end());
    region.erase(std::unique(region.begin(), region.end()), region.end());
}

// How many splits this hit may make: half of the room left under the motion limit, at most 64.
std::uint64_t splitAllowance(const Physics& physics) {
    const std::uint64_t moving = physics.movingPieceCount();
    if (moving >= physics.motionLimit)
        return 0;
    return std::min(maxSplits, (physics.motionLimit - moving) / 2);
}

// Heaviest first; equal masses keep id order, so the choice never depends on the sort.
bool heavierFirst(const SplitEntry& a, const SplitEntry& b) {
    if (a.mass != b.mass)
        return a.mass > b.mass;
    return a.id < b.id;
}

// Hands the allowance out over the candidates: evenly through the list when there are more
// candidates than splits, otherwise one each and the rest by volume.
void shareSplits(const std::vector<SplitEntry>& candidates, std::uint64_t allowance,
                 std::vector<std::int64_t>& counts) {
    const std::size_t n = candidates.size();
    counts.assign(n, 0);
    if (n == 0 || allowance == 0)
        return;
    if (n > allowance) {
        for (std::uint64_t k = 0; k < allowance; ++k) {
            const std::uint64_t entry = allowance == 1 ? 0 : k * (n - 1) / (allowance - 1);
            counts[entry] = 1;
        }
        return;
    }
    double volume = 0.0;
    for (const SplitEntry& c : candidates)
        volume += c.mass / density;
    const std::uint64_t spare = allowance - n;
    std::uint64_t total = n;
    for (std::size_t c = 0; c < n; ++c) {
        const auto extra = static_cast<std::int64_t>(
            std::floor(candidates[c].mass / density * static_cast<double>(spare) / std::max(volume, 1e-20)));
        counts[c] = 1 + extra;
        total += static_cast<std::uint64_t>(extra);
    }
    for (std::size_t c = 0; total < allowance; c = (c + 1) % n, ++total)
        ++counts[c];
}

// The axis a piece breaks across: its longest (y first on ties with both others, then x).
int splitAxis(const Vec3& h) {
    if (h.y > std::max(h.x, h.z))
        return 1;
    if (h.x > h.z)
        return 0;
    return 2;
}

// Cuts the piece in two across the axis through the impact point (kept away from the ends) and
// returns the first child's id; the second child's id follows it.
std::uint32_t splitPiece(Physics& physics, std::uint32_t id, int axis, const Vec3& point) {
    const MatterPiece parent = physics.pieces[id - 1];
    const Polyhedron& body = parent.body;
    const double h = body.halfExtents[axis];
    const Vec3 direction = body.axes()[static_cast<std::size_t>(axis)];
    const double cut =
        std::clamp(body.orientation.rotateInverse(point - body.center)[axis], -0.65 * h, 0.65 * h);
    const double ground = parent.groundLevel >= 1e29 ? physics.groundLevel : parent.groundLevel;
    const double halves[2] = {(h + cut) / 2.0, (h - cut) / 2.0};
    const double offsets[2] = {(cut - h) / 2.0, (h + cut) / 2.0};
    physics.noteTopologyChange();
    physics.notePiece(id - 1);
    physics.noteMoved(id - 1);
    physics.pieces[id - 1].alive = false;
    std::uint32_t first = 0;
    for (int c = 0; c < 2; ++c) {
        MatterPiece child = parent;
        const Vec3 offset = direction * offsets[c];
        child.body.center = body.center + offset;
        child.body.halfExtents[axis] = halves[c];
        child.body.velocity = body.velocity + cross(body.angularVelocity, offset);
        child.generation = parent.generation + 1;
        child.bondableAt = physics.time + 0.6;
        child.stateTime = parent.stateTime >= 0.0 ? parent.stateTime : physics.time;
        child.anchored = parent.anchored && child.body.bounds().min.y <= ground + 0.001;
        const std::uint32_t childId = physics.addNoted(child);
        if (c == 0)
            first = childId;
    }
    return first;
}

// Splits the most stressed candidates within the energy budget and the allowance. Returns the
// energy left.
double splitCandidates(Physics& physics, const Impact& hit, std::uint64_t allowance, std::uint64_t& done) {
    StepScratch& scratch = physics.stepScratch;
    auto& work = scratch.work;
    work.assign(scratch.splitCandidates.begin(), scratch.splitCandidates.end());
    for (std::size_t c = 0; c < work.size(); ++c)
        work[c].root = static_cast<std::uint32_t>(c);
    double budget = hit.energy;
    for (std::size_t w = 0; w < work.size(); ++w) {
        const std::uint32_t id = work[w].id;
        const std::uint32_t root = work[w].root;
        MatterPiece& piece = physics.pieces[id - 1];
        if (!piece.alive)
            continue;
        const double d = boxDistance(hit.point, piece);
        piece.stress = physics.stressAt(hit, d);
        physics.notePieceStress(id - 1);
        if (!(piece.stress > fractureStress) || piece.generation > maxSplitGeneration)
            continue;
        const Vec3 he = piece.body.halfExtents;
        const int axis = splitAxis(he);
        const double h = he[axis];
        if (!(2.0 * h >= 0.6 * d + 0.06) || !(h >= 0.045))
            continue;
        const double cost = 1.5 * 4.0 * (he[(axis + 1) % 3] * he[(axis + 2) % 3]);
        if (cost > budget)
            continue;
        if (done >= allowance || scratch.splitCounts[root] <= 0 ||
            physics.pieces.size() + 2 > Physics::maxPieces)
            continue;
        const std::uint32_t first = splitPiece(physics, id, axis, hit.point);
        scratch.splitPieces.push_back(id);
        --scratch.splitCounts[root];
        for (std::uint32_t child = first; child < first + 2; ++child) {
            work.push_back({child, root, 0.0});
            scratch.newPieces.push_back(child);
        }
        ++done;
        ++physics.fractureCount;
        budget -= cost;
    }
    return budget;
}

Box widenedBy(const Box& box, double margin) {
    const Vec3 m{margin, margin, margin};
    return {box.min - m, box.max + m};
}

bool overlapping(const Box& a, const Box& b) {
    return a.min.x <= b.max.x && b.min.x <= a.max.x && a.min.y <= b.max.y && b.min.y <= a.max.y &&
           a.min.z <= b.max.z && b.min.z <= a.max.z;
}

// Bonds each new piece to the alive pieces that a query of its bounds widened by 0.04 lists, in id
// order; each pair of new pieces is tried once.
//
// The bond test refuses pieces whose bounds are more than 0.035 apart on an axis, and every piece
// that comes closer is listed by such a query. So the pieces near all the new pieces are gathered
// once, and each new piece tries only those whose bounds come within 0.036 of its own: the bonds
// made, and their order, are those of trying every listed piece, which the plain walk does.
void bondNewPieces(Physics& physics, std::uint32_t firstNew) {
    StepScratch& scratch = physics.stepScratch;
    auto bondTo = [&](std::uint32_t id, std::uint32_t other) {
        if (other == id || !physics.pieces[other - 1].alive || (other >= firstNew && other < id))
            return true;
        if (physics.bonds.size() >= Physics::maxBonds)
            return false;
        physics.addBondUnchecked(id, other);
        return true;
    };
    if (scratch.plainWalks) {
        for (const std::uint32_t id : scratch.newPieces) {
            if (!physics.pieces[id - 1].alive)
                continue;
            scratch.queried = physics.query(widenedBy(physics.pieces[id - 1].body.bounds(), 0.04));
            for (const std::uint32_t other : scratch.queried)
                if (!bondTo(id, other))
                    return;
        }
        return;
    }

    Box reach{{1e300, 1e300, 1e300}, {-1e300, -1e300, -1e300}};
    for (const std::uint32_t id : scratch.newPieces) {
        if (!physics.pieces[id - 1].alive)
            continue;
        const Box b = physics.pieces[id - 1].body.bounds();
        reach = {componentMin(reach.min, b.min), componentMax(reach.max, b.max)};
    }
    if (reach.min.x > reach.max.x)
        return; // every new piece was split again
    reach = widenedBy(reach, 0.04);
    auto& near = scratch.nearPieces;
    near.clear();
    for (const std::uint32_t id : physics.query(reach)) {
        const MatterPiece& piece = physics.pieces[id - 1];
        if (!piece.alive)
            continue;
        const Box b = piece.body.bounds();
        if (overlapping(b, reach))
            near.push_back({id, b});
    }
    for (const std::uint32_t id : scratch.newPieces) {
        if (!physics.pieces[id - 1].alive)
            continue;
        const Box close = widenedBy(physics.pieces[id - 1].body.bounds(), 0.036);
        for (const NearPiece& other : near)
            if (overlapping(close, other.bounds) && !bondTo(id, other.id))
                return;
    }
}

// The bonds of the pieces that were split are gone (not broken: the score does not count them).
//
// The topology was refreshed at the start of the impact, so the adjacency lists hold every intact
// bond, and the bonds of the split pieces are found there; the plain walk tries every bond.
void dropBondsOfSplitPieces(Physics& physics) {
    StepScratch& scratch = physics.stepScratch;
    if (scratch.plainWalks) {
        for (Bond& bond : physics.bonds)
            if (bond.intact && (!physics.pieces[bond.a - 1].alive || !physics.pieces[bond.b - 1].alive))
                bond.intact = false;
        return;
    }
    for (const std::uint32_t id : scratch.splitPieces)
        if (id - 1 < physics.adjacency.size())
            for (const std::uint64_t k : physics.adjacency[id - 1])
                physics.bonds[k].intact = false;
}

void stressBond(Physics& physics, std::uint64_t k, const Impact& hit) {
    Bond& bond = physics.bonds[k];
    if (!bond.intact)
        return;
    physics.noteBondStress(k);
    bond.stress = physics.stressAt(hit, length(bond.center - hit.point));
    if (bond.stress > fractureStress) {
        bond.intact = false;
        ++physics.brokenBondCount;
        physics.notePiece(bond.a - 1);
        physics.notePiece(bond.b - 1);
    }
}

// Bonds the hit reaches tear where its stress exceeds what they hold: the intact bonds of the region
// and of the new pieces. Those of the region are in its adjacency lists and those of the new pieces
// were all made by this impact, from firstBond on; a bond met twice gets the same stress again.
void stressBonds(Physics& physics, const Impact& hit, std::size_t firstBond) {
    StepScratch& scratch = physics.stepScratch;
    if (scratch.plainWalks) {
        auto& mark = scratch.touchedMark;
        mark.assign(physics.pieces.size(), 0);
        for (const std::uint32_t id : scratch.region)
            mark[id - 1] = 1;
        for (const std::uint32_t id : scratch.newPieces)
            mark[id - 1] = 1;
        for (std::uint64_t k = 0; k < physics.bonds.size(); ++k)
            if (mark[physics.bonds[k].a - 1] || mark[physics.bonds[k].b - 1])
                stressBond(physics, k, hit);
        return;
    }
    for (const std::uint32_t id : scratch.region)
        if (id - 1 < physics.adjacency.size())
            for (const std::uint64_t k : physics.adjacency[id - 1])
                stressBond(physics, k, hit);
    for (std::size_t k = firstBond; k < physics.bonds.size(); ++k)
        stressBond(physics, k, hit);
}

// The pieces that share the push: the region and the new pieces of its splits, heaviest first.
double weighPieces(Physics& physics, const Impact& hit) {
    StepScratch& scratch = physics.stepScratch;
    auto& weights = scratch.weights;
    weights.clear();
    const double falloff = std::max(hit.radius, 0.02);
    double total = 0.0;
    auto weigh = [&](std::uint32_t id) {
        const MatterPiece& piece = physics.pieces[id - 1];
        if (!piece.alive)
            return;
        const double distance = boxDistance(hit.point, piece);
        const double r = 1.0 + distance / falloff;
        double w = 1.0 / (r * r);
        if (piece.body.mass < 1.0)
            w *= piece.body.mass;
        weights.push_back({id, piece.body.mass, w, distance});
        total += w;
    };
    for (const std::uint32_t id : scratch.region)
        weigh(id);
    for (const std::uint32_t id : scratch.newPieces)
        weigh(id);
    std::sort(weights.begin(), weights.end(), [](const WeightEntry& a, const WeightEntry& b) {
        if (a.mass != b.mass)
            return a.mass > b.mass;
        return a.id < b.id;
    });
    return total;
}

// A weapon's push, shared by weight. An assembly the hit point lies on takes its shares there; one it
// does not lie on (a piece split off, a neighbour that broke away) takes its share at its piece's
// point nearest the hit. Pushed at the hit point from a metre away, a small piece would spin as if it
// hung on a rod of that length, with many times the energy of its share of the push.
void pushStruckPieces(Physics& physics, const Impact& hit, double totalWeight) {
    StepScratch& scratch = physics.stepScratch;
    std::vector<std::int32_t>& struck = scratch.struckAssemblies;
    struck.clear();
    for (const WeightEntry& entry : scratch.weights)
        if (entry.distance <= onTheHit)
            struck.push_back(physics.pieces[entry.id - 1].assembly);
    for (const WeightEntry& entry : scratch.weights) {
        const MatterPiece& piece = physics.pieces[entry.id - 1];
        const Vec3 push = hit.impulse * (entry.weight / std::max(totalWeight, 1e-20));
        const bool onIt = std::find(struck.begin(), struck.end(), piece.assembly) != struck.end();
        physics.applyAssemblyImpulse(piece.assembly, push,
                                     onIt ? hit.point : closestPoint(piece.body, hit.point), true);
    }
}

// Fragments of a hit that broke into supported matter fly off the struck face, spread sideways. None
// flies faster than the hit itself came in (2 energy / impulse: the closing speed of a collision):
// the budget of a heavy block striking the ground is that of all its mass, and given to a few grams
// of its chips it would throw them at kilometres a second.
void throwFragments(Physics& physics, const Impact& hit, const Vec3& faceNormal, double budget) {
    const auto& weights = physics.stepScratch.weights;
    const double impulse = length(hit.impulse);
    const double hitSpeed = impulse > 0.0 ? 2.0 * std::max(hit.energy, 0.0) / impulse : HUGE_VAL;
    double freeWeight = 0.0;
    for (const WeightEntry& entry : weights)
        if (!physics.pieces[entry.id - 1].supported)
            freeWeight += entry.weight;
    for (const WeightEntry& entry : weights) {
        const MatterPiece& piece = physics.pieces[entry.id - 1];
        if (piece.supported)
            continue;
        const Vec3 r = piece.body.center - hit.point;
        Vec3 lateral = r - faceNormal * dot(r, faceNormal);
        const double spread = length(lateral);
        lateral = spread < 1e-9 ? Vec3{} : lateral * (0.7 / spread);
        const Vec3 direction = normalized(faceNormal + lateral);
        const double energy = 0.15 * budget * entry.weight / std::max(freeWeight, 1e-20);
        const double magnitude =
            std::min(std::sqrt(2.0 * piece.body.mass * energy), piece.body.mass * hitSpeed);
        const Vec3 center = piece.body.center;
        physics.applyAssemblyImpulse(piece.assembly, direction * magnitude, center, true);
    }
}

// A hit with a value that is not a number would spread through the world: it is refused whole.
bool finiteHit(const Impact& hit) {
    return std::isfinite(length(hit.point)) && std::isfinite(length(hit.impulse)) &&
           std::isfinite(hit.energy) && std::isfinite(hit.area) && std::isfinite(hit.duration) &&
           std::isfinite(hit.radius);
}

} // namespace

double Physics::stressAt(const Impact& hit, double distance) const {
    const double falloff = 1.0 + distance / std::max(hit.radius, 0.02);
    return length(hit.impulse) / (std::max(hit.area, 1e-5) * std::max(hit.duration, 1e-6)) /
           (falloff * falloff);
}

void Physics::impact(std::uint32_t id, const Impact& hit) {
    if (id == 0 || id > pieces.size() || !pieces[id - 1].alive || !finiteHit(hit))
        return;
    if (hit.weapon)
        beginWeaponImpact();
    else if (motionUntil <= time)
        return;
    if (topologyDirty)
        refreshNotedTopology();

    StepScratch& scratch = stepScratch;
    const Vec3 faceNormal = nearestFaceNormal(pieces[id - 1].body, hit.point);
    collectRegion(*this, id, hit);

    const std::uint64_t allowance = splitAllowance(*this);
    auto& candidates = scratch.splitCandidates;
    candidates.clear();
    for (const std::uint32_t rid : scratch.region) {
        const MatterPiece& piece = pieces[rid - 1];
        if (piece.alive && piece.generation <= maxSplitGeneration &&
            stressAt(hit, boxDistance(hit.point, piece)) > fractureStress)
            candidates.push_back({rid, 0, piece.body.mass});
    }
    std::sort(candidates.begin(), candidates.end(), heavierFirst);
    shareSplits(candidates, allowance, scratch.splitCounts);

    const auto firstNew = static_cast<std::uint32_t>(pieces.size() + 1);
    scratch.newPieces.clear();
    scratch.splitPieces.clear();
    std::uint64_t done = 0;
    const double budget = splitCandidates(*this, hit, allowance, done);

    rebuildNotedGrid();
    dropBondsOfSplitPieces(*this);
    const std::size_t firstBond = bonds.size();
    bondNewPieces(*this, firstNew);
    stressBonds(*this, hit, firstBond);
    noteTopologyChange();
    refreshNotedTopology();

    const double totalWeight = weighPieces(*this, hit);
    if (hit.weapon)
        pushStruckPieces(*this, hit, totalWeight);
    if (done > 0 && budget > 0.0) {
        bool anySupported = false;
        for (const WeightEntry& entry : scratch.weights)
            anySupported = anySupported || pieces[entry.id - 1].supported;
        if (anySupported)
            throwFragments(*this, hit, faceNormal, budget);
    }

    expireMotion();
    if (!scratch.weights.empty())
        emitSound(pieces[scratch.weights.front().id - 1], hit.point, hit.energy, done > 0, 0.0);
}

void Physics::blast(Vec3 center, double energy, double radius) {
    if (!(energy > 0.0) || !(radius > 0.0) || !std::isfinite(energy) || !std::isfinite(radius) ||
        !std::isfinite(length(center)))
        return;
    auto& targets = stepScratch.blastTargets;
    targets.clear();
    const Vec3 reach{radius, radius, radius};
    double total = 0.0;
    for (const std::uint32_t id : query({center - reach, center + reach})) {
        const MatterPiece& piece = pieces[id - 1];
        if (!piece.alive)
            continue;
        const double d = boxDistance(center, piece);
        if (d > radius)
            continue;
        const double w = 1.0 / ((d + 1.0) * (d + 1.0));
        targets.push_back({id, w});
        total += w;
    }
    // Index loop: each impact may add pieces, and nested calls must not see a moved list.
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const BlastEntry target = stepScratch.blastTargets[t];
        const MatterPiece& piece = pieces[target.id - 1];
        if (!piece.alive)
            continue; // split by an earlier hit of this blast
        Vec3 direction = piece.body.center - center;
        direction = normalized(direction);
        if (direction == Vec3{})
            direction = {0.0, 1.0, 0.0}; // centred on the piece: lift it
        const double share = energy * target.weight / std::max(total, 1e-20);
        const double effectiveMass = piece.body.mass > 120.0 ? 240.0 : 2.0 * piece.body.mass;
        Impact hit;
        hit.point = closestPoint(piece.body, center);
        hit.impulse = direction * std::sqrt(effectiveMass * share);
        hit.energy = share;
        hit.area = 0.001;
        hit.duration = 0.01;
        hit.radius = 1.4;
        hit.weapon = true;
        impact(target.id, hit);
    }
}

} // namespace zarn
