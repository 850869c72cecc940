#include <algorithm>
#include <array>

#include "ecology/Ecology.hpp"
#include "physics/Hash.hpp"

namespace zarn {

namespace {

// A split needs room for three more organisms in the list.
constexpr std::size_t lastSplitCount = Ecology::capacity - 3;

// Where a cut at a fraction of the width from the low side leaves the two parts of one axis: their
// centres and half extents.
struct Cut {
    std::array<double, 2> center;
    std::array<double, 2> half;
};

Cut cut(double center, double half, double fraction) {
    const double low = center - half;
    return {{low + fraction * half, low + 2.0 * fraction * half + (1.0 - fraction) * half},
            {fraction * half, (1.0 - fraction) * half}};
}

} // namespace

void Ecology::fracture(std::uint64_t index) {
    if (index >= organisms.size())
        return;
    Organism& parent = organisms[index];
    if (!parent.alive || parent.kind != LifeKind::Slab || !parent.fractureMarked)
        return;
    if (parent.halfExtents.x < leastSplitHalf || parent.halfExtents.z < leastSplitHalf) {
        parent.fractureMarked = 0;
        return;
    }
    if (organisms.size() > lastSplitCount)
        return; // the mark waits for room

    const Cut alongX = cut(parent.center.x, parent.halfExtents.x, 0.38 + 0.24 * unitHash(parent.id + 501u));
    const Cut alongZ = cut(parent.center.z, parent.halfExtents.z, 0.38 + 0.24 * unitHash(parent.id + 502u));
    // The cut follows the world axes. The low-x, low-z part takes the parent's place; then the
    // high-x, low-z, the low-x, high-z and the high-x, high-z parts are appended, ids in that order.
    const Organism whole = parent;
    for (int part = 0; part < 4; ++part) {
        const int x = part % 2;
        const int z = part / 2;
        Organism child = whole;
        child.id = static_cast<std::uint32_t>(nextId);
        ++nextId;
        child.generation = whole.generation + 1;
        child.health = 100.0;
        child.placing = 0;
        child.fractureMarked = 0;
        child.brightness = std::clamp((0.98 + 0.04 * unitHash(child.id)) * whole.brightness, 0.9, 1.08);
        child.center.x = alongX.center[x];
        child.halfExtents.x = alongX.half[x];
        child.center.z = alongZ.center[z];
        child.halfExtents.z = alongZ.half[z];
        if (part == 0)
            organisms[index] = child;
        else
            organisms.push_back(child);
    }
    births += 3;
}

} // namespace zarn
