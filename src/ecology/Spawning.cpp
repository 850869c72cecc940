#include <algorithm>
#include <cmath>

#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"
#include "ecology/RandomDraws.hpp"
#include "physics/Hash.hpp"

namespace zarn {

namespace {

// A species whose bond does not say otherwise holds with this strength.
constexpr double defaultBondStrength = 500.0;
// Rained blocks are 0.4 to 1.2 m on a side and fall from 12 to 24 m above the centre.
constexpr double rainHalfMin = 0.2;
constexpr double rainHalfSpan = 0.4;
constexpr double rainHeight = 12.0;
constexpr double rainHeightSpan = 12.0;

// New ids start past every id in the list, whatever nextId says.
void raiseNextId(Ecology& ecology) {
    for (const Organism& o : ecology.organisms)
        ecology.nextId = std::max<std::uint64_t>(ecology.nextId, std::uint64_t{o.id} + 1);
}

// A block with the defaults of spawning and rain: stage 3, alive, not placing, zero motion.
Organism newBlock() {
    Organism block;
    block.kind = LifeKind::Block;
    block.stage = 3;
    block.alive = 1;
    block.placing = 0;
    return block;
}

// Entry k of a species' bond list, or what stands for it when the list is shorter.
template <class T> T entryOr(const std::vector<T>& list, std::size_t k, const T& fallback) {
    return k < list.size() ? list[k] : fallback;
}

// The mask of the faces first, first + 1, ... first + extra, round the six.
std::uint32_t faceRun(std::uint32_t first, std::uint32_t extra) {
    std::uint32_t mask = 0;
    for (std::uint32_t k = 0; k <= extra; ++k)
        mask |= 1u << ((first + k) % 6u);
    return mask;
}

} // namespace

void Ecology::spawnAssembly(const BioAssembly& species, const Vec3& origin, std::uint64_t patch) {
    const std::size_t count = species.boxes.size();
    if (count == 0 || organisms.size() + count > maxAdded)
        return;
    raiseNextId(*this);

    // The lowest bottom of the species' boxes comes to rest at the origin's height.
    double lowest = 1e30;
    for (const BioTemplate& box : species.boxes)
        lowest = std::min(lowest, templateBody(box).bounds().min.y);

    const auto firstId = static_cast<std::uint32_t>(nextId);
    for (const BioTemplate& box : species.boxes) {
        Organism block = newBlock();
        block.id = static_cast<std::uint32_t>(nextId);
        ++nextId;
        block.patch = patch;
        block.center = origin + box.position - Vec3{0.0, lowest, 0.0};
        block.halfExtents = box.halfExtents;
        block.ability = box.ability;
        block.axis = box.axis;
        block.massBudget = box.massBudget;
        block.orientation = box.orientation;
        block.power = box.power;
        block.strengthPerArea = box.strengthPerArea;
        block.faceMask = box.faceMask;
        block.species = species.name;
        block.gray = box.massBudget <= 0.0 ? 1 : 0;
        organisms.push_back(block);
        ++births;
    }

    for (std::size_t k = 0; k < species.bonds.size(); ++k) {
        const auto [i, j] = species.bonds[k];
        if (std::max(i, j) >= count)
            continue;
        const BioTemplate& first = species.boxes[i];
        const BioTemplate& second = species.boxes[j];
        BioBond bond;
        bond.a = firstId + static_cast<std::uint32_t>(i);
        bond.b = firstId + static_cast<std::uint32_t>(j);
        bond.toWorld = 0;
        bond.active = 1;
        bond.anchor =
            entryOr(species.anchors, k, first.orientation.rotateInverse(second.position - first.position));
        bond.strength = entryOr(species.strengths, k, defaultBondStrength);
        bond.rotation =
            entryOr(species.rotations, k, relativeRotation(first.orientation, second.orientation));
        bonds.push_back(bond);
    }
}

void Ecology::rainBlocks(Physics& physics, const Vec3& center, double radius, std::uint32_t seed,
                         std::uint64_t count) {
    // The player's hull is kept out of the way, beyond the corner of the area.
    const Vec3 aside{center.x + radius + 10.0, center.y, center.z + radius + 10.0};
    for (std::uint64_t n = 0; n < count && organisms.size() < maxAdded; ++n) {
        raiseNextId(*this);
        const std::uint32_t s = hash32(seed + 101u * static_cast<std::uint32_t>(n));
        auto u = [s](std::uint32_t k) { return unitHash(s + k); };

        Organism block = newBlock();
        block.ability = static_cast<Ability>(hash32(s) % 3u);
        block.halfExtents = {rainHalfMin + rainHalfSpan * u(3), rainHalfMin + rainHalfSpan * u(4),
                             rainHalfMin + rainHalfSpan * u(5)};
        const Vec3& h = block.halfExtents;
        block.center = {center.x + (2.0 * u(6) - 1.0) * radius, center.y + rainHeight + rainHeightSpan * u(7),
                        center.z + (2.0 * u(8) - 1.0) * radius};
        block.orientation = randomRotation(s + 9u);
        // Only thrust may point anywhere; the other abilities work through a face.
        block.axis = block.ability == Ability::Thrust ? normalized(randomVector(s + 12u))
                                                      : faces[hash32(s + 15u) % 6u];
        block.power = 0.3 + 9.7 * u(16);
        block.strengthPerArea = 300.0 + 4700.0 * u(17);
        block.faceMask = faceRun(hash32(s + 19u) % 6u, hash32(s + 18u) % 6u);
        block.massBudget = (0.65 + 0.25 * u(20)) * 8.0 * h.x * h.y * h.z;
        block.velocity = randomVector(s + 21u) * 2.0;
        block.angularVelocity = randomVector(s + 24u) * 1.5;
        block.id = static_cast<std::uint32_t>(nextId);
        ++nextId; // spent also by a block that is left out
        block.patch = 0;
        if (!clearAt(block, physics, organisms.size(), aside))
            continue;
        organisms.push_back(block);
        ++births;
    }
}

} // namespace zarn
