#include <algorithm>
#include <cmath>
#include <numeric>

#include "ecology/AliveIndex.hpp"
#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"
#include "physics/Geometry.hpp"

namespace zarn {

namespace {

// Thrust costs this share of the block's volume per second at power 6 and a full budget.
constexpr double thrustCost = 0.025;
constexpr double referencePower = 6.0;
// An absorbing face takes this much per second and square metre of face at a full budget.
constexpr double intakeRate = 0.8;
// The probe that finds what touches an absorbing face reaches this far out of it, m.
constexpr double probeHalfDepth = 0.025;
// Every bond of a Connection block costs this share of its volume per second, and every block this.
constexpr double bondUpkeep = 0.002;
constexpr double blockUpkeep = 0.0008;
// A group whose pooled budget is down to this is starved: its blocks turn grey for good.
constexpr double starved = 1e-9;
// A Cube eaten down to this is gone.
constexpr double eatenBiomass = 1e-9;

// The blocks that take part in groups and abilities.
bool liveBlock(const Organism& o) {
    return o.alive && o.kind == LifeKind::Block && !o.gray;
}

void spend(double& pool, double amount) {
    pool = std::max(0.0, pool - amount);
}

// The blocks joined by organism bonds, as sets of a union-find over the organism indices, with each
// group's members (in organism order), its pooled budget and its pooled volume under its root.
class BlockGroups {
  public:
    BlockGroups(const std::vector<Organism>& organisms, const std::vector<BioBond>& bonds)
        : parent_(organisms.size()), members_(organisms.size()), pool_(organisms.size(), 0.0),
          volume_(organisms.size(), 0.0) {
        for (std::size_t index = 0; index < parent_.size(); ++index)
            parent_[index] = index;
        const AliveIndex alive(organisms);
        for (const BioBond& bond : bonds) {
            if (!bond.active || bond.toWorld)
                continue; // the world holds a block but joins it to nothing
            const std::size_t a = alive.find(bond.a);
            const std::size_t b = alive.find(bond.b);
            if (a == AliveIndex::none || b == AliveIndex::none || !liveBlock(organisms[a]) ||
                !liveBlock(organisms[b]))
                continue;
            const std::size_t rootA = root(a);
            const std::size_t rootB = root(b);
            if (rootA != rootB)
                parent_[rootA] = rootB;
        }
        for (std::size_t index = 0; index < organisms.size(); ++index) {
            if (!liveBlock(organisms[index]))
                continue;
            const std::size_t r = root(index);
            members_[r].push_back(index);
            pool_[r] += organisms[index].massBudget;
            volume_[r] += boxVolume(organisms[index].halfExtents);
        }
    }

    // With path halving: every step of the walk points its vertex at its grandparent.
    std::size_t root(std::size_t index) {
        while (parent_[index] != index) {
            parent_[index] = parent_[parent_[index]];
            index = parent_[index];
        }
        return index;
    }

    double& pool(std::size_t root) { return pool_[root]; }
    // How full the group's budget is, 0..1: a surplus beyond the volume does not make a block stronger.
    double fill(std::size_t root) const {
        const double f = pool_[root] / volume_[root];
        return f > 0.0 ? std::min(f, 1.0) : 0.0; // an empty, negative or meaningless pool gives 0
    }
    double volume(std::size_t root) const { return volume_[root]; }
    // By root, in organism order; empty for an index that is no root.
    const std::vector<std::vector<std::uint64_t>>& members() const { return members_; }

  private:
    std::vector<std::size_t> parent_;
    std::vector<std::vector<std::uint64_t>> members_;
    std::vector<double> pool_;
    std::vector<double> volume_;
};

// A thin box lying on the absorbing face of the block, as wide as the face.
Polyhedron absorbingProbe(const Organism& block, int face) {
    Polyhedron probe = Ecology::body(block);
    probe.center +=
        block.orientation.rotate(hadamard(faces[static_cast<std::size_t>(face)], block.halfExtents));
    probe.halfExtents[faceAxis(face)] = probeHalfDepth;
    return probe;
}

// The area of the block's face, from its two half extents across it.
double faceArea(const Organism& block, int face) {
    const Vec3& h = block.halfExtents;
    switch (faceAxis(face)) {
    case 0:
        return 4.0 * h.y * h.z;
    case 1:
        return 4.0 * h.z * h.x;
    default:
        return 4.0 * h.x * h.y;
    }
}

// Active bonds by organism id, as a Connection block pays for them: every bond it holds as the first
// end, and organism bonds in which it is the second.
class BondCounts {
  public:
    explicit BondCounts(const std::vector<BioBond>& bonds) {
        for (const BioBond& bond : bonds) {
            if (!bond.active)
                continue;
            ends_.push_back(bond.a);
            if (!bond.toWorld)
                ends_.push_back(bond.b);
        }
        std::sort(ends_.begin(), ends_.end());
    }
    std::size_t of(std::uint32_t id) const {
        const auto [from, to] = std::equal_range(ends_.begin(), ends_.end(), id);
        return static_cast<std::size_t>(to - from);
    }

  private:
    std::vector<std::uint32_t> ends_;
};

// A box that holds the sphere of a reach grown by the margin, and more than rounding could lose: two
// reaches that are not apart have boxes of margin 0 and touchReach(0, 0) that overlap.
Box reachBox(const Reach& reach, double margin) {
    const Vec3& c = reach.center;
    const double e = (reach.halfDiagonal + margin) * 1.001 +
                     1e-9 * (1.0 + std::max({std::abs(c.x), std::abs(c.y), std::abs(c.z)}));
    return {c - Vec3{e, e, e}, c + Vec3{e, e, e}};
}

// The absorbing block i of the group under root r takes from every Cube and every foreign block that
// touches its absorbing face, as much as the face takes at the fill f over dt and the source holds.
// reaches holds every organism's centre and half diagonal (nothing moves while the abilities act),
// and candidates every organism that may not be apart from the block, in list order.
void absorb(std::vector<Organism>& organisms, const std::vector<Reach>& reaches,
            const std::vector<std::uint32_t>& candidates, std::size_t i, std::size_t r, BlockGroups& groups,
            double f, double dt) {
    const Organism& block = organisms[i];
    const int face = dominantFace(block.axis);
    const Polyhedron probe = absorbingProbe(block, face);
    const double amount = faceArea(block, face) * intakeRate * f * dt;
    for (const std::size_t j : candidates) {
        if (j == i || apart(reaches[i], reaches[j]))
            continue;
        Organism& food = organisms[j];
        if (!food.alive || food.placing || food.gray)
            continue;
        if (food.kind != LifeKind::Cube && (food.kind != LifeKind::Block || groups.root(j) == r))
            continue;
        Contact contact;
        if (!collide(probe, Ecology::body(food), contact))
            continue;
        if (food.kind == LifeKind::Cube) {
            const double taken = std::max(0.0, std::min(amount, food.biomass));
            food.biomass -= taken;
            groups.pool(r) += taken;
            if (food.biomass <= eatenBiomass)
                food.alive = 0;
        } else {
            double& source = groups.pool(groups.root(j));
            const double taken = std::max(0.0, std::min(amount, source));
            source -= taken;
            groups.pool(r) += taken;
        }
    }
}

} // namespace

void Ecology::blockForces(Physics& physics, const Vec3& focus, double dt) {
    springPass(physics, dt);
    bondingPass(physics);

    BlockGroups groups(organisms, bonds);
    const BondCounts bondCounts(bonds);
    std::vector<Reach> reaches;
    reaches.reserve(organisms.size());
    for (const Organism& o : organisms)
        reaches.push_back({o.center, length(o.halfExtents)});
    // The absorbing faces find what they may touch in the cells of the reaches' boxes, which list
    // the Cubes and blocks that may be eaten (none becomes so while the abilities act); the plain
    // walks look at every organism.
    OrganismCells* cells = bodyScratch.plainWalks ? nullptr : &bodyScratch.cells;
    std::vector<std::uint32_t> candidates;
    if (cells) {
        std::vector<Box>& boxes = bodyScratch.bounds; // free until the body step
        std::vector<std::uint8_t> food;
        boxes.clear();
        for (std::size_t j = 0; j < organisms.size(); ++j) {
            const Organism& o = organisms[j];
            boxes.push_back(reachBox(reaches[j], 0.0));
            food.push_back(o.alive && !o.placing && !o.gray &&
                           (o.kind == LifeKind::Cube || o.kind == LifeKind::Block));
        }
        cells->fill(boxes, &food);
    } else {
        candidates.resize(organisms.size());
        std::iota(candidates.begin(), candidates.end(), 0u);
    }
    for (std::size_t i = 0; i < organisms.size(); ++i) {
        if (!liveBlock(organisms[i]) || organisms[i].placing)
            continue;
        const std::size_t r = groups.root(i);
        // Taken before the block's own change: the blocks of a group act on the same footing as far
        // as the earlier members left the pool.
        const double f = groups.fill(r);
        double& pool = groups.pool(r);
        Organism& block = organisms[i];
        const double v = boxVolume(block.halfExtents);
        switch (block.ability) {
        case Ability::Thrust: {
            // A block without an axis pushes nowhere but burns as if it did.
            const Vec3 direction = block.orientation.rotate(normalized(block.axis));
            block.velocity += direction * (block.power * thrustScale * f * dt);
            spend(pool, thrustCost * costScale * (block.power / referencePower) * f * v * dt);
            break;
        }
        case Ability::Absorption:
            if (cells)
                cells->touching(reachBox(reaches[i], touchReach(0.0, 0.0)), candidates);
            absorb(organisms, reaches, candidates, i, r, groups, f, dt);
            break;
        case Ability::Connection:
            for (std::size_t k = bondCounts.of(block.id); k > 0; --k)
                spend(pool, bondUpkeep * v * dt);
            break;
        }
        spend(pool, blockUpkeep * v * dt);
    }

    const std::vector<std::vector<std::uint64_t>>& members = groups.members();
    for (std::size_t r = 0; r < members.size(); ++r) {
        const double pool = groups.pool(r);
        for (const std::uint64_t m : members[r]) {
            Organism& block = organisms[m];
            if (!(pool > starved)) {
                block.massBudget = 0.0;
                block.gray = 1;
                ++grayBlocks;
            } else if (groups.volume(r) > 0.0) {
                block.massBudget = boxVolume(block.halfExtents) * pool / groups.volume(r);
            } else { // blocks without volume share alike
                block.massBudget = pool / static_cast<double>(members[r].size());
            }
        }
    }
    replicate(physics, focus, members);
}

} // namespace zarn
