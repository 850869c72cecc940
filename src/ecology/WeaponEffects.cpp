#include <algorithm>
#include <cmath>

#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"
#include "physics/Geometry.hpp"

namespace zarn {

namespace {

// Pushes weaker than this are no hit at all.
constexpr double leastImpulse = 1e-6;
// A bond breaks under a hit stronger than its strength over this.
constexpr double bondHitShare = 60.0;
// Slabs of these generations at least Ecology::leastSplitHalf wide are split when brought down, not
// killed.
constexpr std::uint32_t lastSplitGeneration = 2;

// Face markers are thin tiles on the block's face.
constexpr double markerShare = 0.22;
constexpr double markerThickness = 0.012;

// Bit i stands for face i of faces.
std::uint32_t markedFaces(const Organism& block) {
    if (block.ability == Ability::Connection)
        return block.faceMask;
    return 1u << dominantFace(block.axis);
}

Vec3 blockColor(const Organism& block) {
    if (block.gray)
        return Ecology::grayColor;
    const double budget = block.massBudget / boxVolume(block.halfExtents);
    const double fill = std::isnan(budget) ? 0.0 : std::clamp(budget, 0.0, 1.0);
    return Ecology::abilityColor(block.ability) * (0.35 + 0.65 * fill);
}

void appendMarkers(const Organism& block, std::vector<BioBox>& out) {
    const std::uint32_t marked = markedFaces(block);
    const Vec3 tint = Ecology::abilityColor(block.ability) * 0.7 + Vec3{0.3, 0.3, 0.3};
    for (int i = 0; i < 6; ++i) {
        if (!(marked & (1u << i)))
            continue;
        const int k = faceAxis(i);
        BioBox marker;
        marker.center = block.center + block.orientation.rotate(hadamard(faces[i], block.halfExtents));
        marker.halfExtents = block.halfExtents * markerShare;
        marker.halfExtents[k] = markerThickness;
        marker.color = tint;
        marker.orientation = block.orientation;
        out.push_back(marker);
    }
}

} // namespace

OrganismHit Ecology::trace(const Vec3& origin, const Vec3& direction, double limit,
                           std::uint32_t ignoreId) const {
    OrganismHit hit;
    hit.distance = limit;
    for (std::size_t index = 0; index < organisms.size(); ++index) {
        const Organism& o = organisms[index];
        if (!o.alive || (ignoreId != 0 && o.id == ignoreId))
            continue;
        // Each test is bounded by the best distance so far, so the nearest organism wins.
        const double t = tracePolyhedron(origin, direction, body(o), hit.distance);
        if (t >= 0.0) {
            hit.index = static_cast<std::int32_t>(index);
            hit.distance = t;
        }
    }
    return hit;
}

bool Ecology::impact(std::uint64_t index, const Vec3& impulse, bool blast) {
    const double strength = length(impulse);
    // Not-a-number pushes are refused like pushes too weak to matter.
    if (index >= organisms.size() || !organisms[index].alive || !(strength >= leastImpulse) ||
        !std::isfinite(strength))
        return false;
    Organism& o = organisms[index];

    if (o.kind == LifeKind::Block) {
        if (!blast)
            o.velocity += impulse / mass(o);
        for (BioBond& bond : bonds) {
            const bool named = bond.a == o.id || (bond.b == o.id && !bond.toWorld);
            if (bond.active && named && strength > bond.strength / bondHitShare) {
                bond.active = 0;
                ++bondsBroken;
                o.busyUntil = time + bondRest;
            }
        }
        return true;
    }

    const double m = mass(o);
    const double damage =
        blast ? strength / (12.0 * m) * 100.0 : strength / (5.0 * std::sqrt(m) + 12.0) * 100.0;
    o.health -= damage;
    if (o.health > 0.0)
        return false;
    if (o.kind == LifeKind::Slab && o.generation < lastSplitGeneration && o.halfExtents.x >= leastSplitHalf &&
        o.halfExtents.z >= leastSplitHalf) {
        o.fractureMarked = 1; // split at the next body step
    } else {
        o.alive = 0;
        ++deaths;
    }
    return true;
}

void Ecology::blast(const Vec3& center, double strength) {
    for (std::size_t index = 0; index < organisms.size(); ++index) {
        const double d = length(organisms[index].center - center);
        // Every organism is struck along +x, as an ordinary hit, whichever side of the blast it is on.
        if (d < blastReach)
            impact(index, Vec3{strength / (d * d + 1.0), 0.0, 0.0}, false);
    }
}

std::vector<BioBox> Ecology::boxes(bool slabPass) const {
    std::vector<BioBox> out;
    for (const Organism& o : organisms) {
        if (!o.alive)
            continue;
        // The Slab pass holds the rising, drifting and falling Slabs; lying Slabs go with the rest.
        const bool movingSlab = o.kind == LifeKind::Slab && o.stage < 3;
        if (slabPass != movingSlab)
            continue;
        const Vec3 colour = o.kind == LifeKind::Block ? blockColor(o) : color(o, dayClock);
        out.push_back({o.center, o.halfExtents, colour, o.orientation});
        if (o.kind == LifeKind::Block && !o.gray)
            appendMarkers(o, out);
    }
    return out;
}

} // namespace zarn
