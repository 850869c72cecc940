#include <algorithm>
#include <map>
#include <optional>

#include "ecology/BlockSignature.hpp"
#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"
#include "ecology/RandomDraws.hpp"
#include "physics/Hash.hpp"

namespace zarn {

namespace {

// No more than this many groups copy themselves in one body step.
constexpr int maxCopiesPerCall = 2;
// A group copies itself once its budget reaches this share of its volume.
constexpr double copyingFill = 1.8;
constexpr int placementTries = 16;
// Without a replication area of its own the copies fall within this of the player, m.
constexpr double focusAreaRadius = 48.0;
// Copies are dropped from 24 to 36 m above the area (plus the reference block's half diagonal),
// thrown at up to 2 m/s per axis and spun at up to 1.5 rad/s per axis.
constexpr double dropHeight = 24.0;
constexpr double dropSpan = 12.0;
constexpr double throwSpeed = 2.0;
constexpr double throwSpin = 1.5;
// A fresh copy makes no bond for this long, s.
constexpr double copyRest = 0.1;

// A group that holds enough to copy itself, described as a species in the frame of its reference
// block (its first member in signature order).
struct GroupSpecies {
    std::vector<std::uint64_t> members;     // in signature order; box k is members[k]
    std::vector<BioBond> internal;          // the bonds between members, in the species' bond order
    BioAssembly assembly;                   // without name and ancestors until a copy is placed
    std::vector<std::string> memberSpecies; // distinct, non-empty, ascending
};

bool readyToCopy(const std::vector<Organism>& organisms, const std::vector<std::uint64_t>& group) {
    double budget = 0.0;
    double space = 0.0;
    for (const std::uint64_t m : group) {
        if (organisms[m].gray)
            return false;
        budget += organisms[m].massBudget;
        space += boxVolume(organisms[m].halfExtents);
    }
    return budget / space >= copyingFill;
}

BioTemplate templateOf(const Organism& m, const Organism& reference) {
    const Quaternion frame = conjugate(reference.orientation);
    BioTemplate box;
    box.position = frame.rotate(m.center - reference.center);
    box.halfExtents = m.halfExtents;
    box.axis = m.axis;
    box.ability = m.ability;
    box.massBudget = 0.5 * m.massBudget;
    box.orientation = frame * m.orientation;
    box.power = m.power;
    box.strengthPerArea = m.strengthPerArea;
    box.faceMask = m.faceMask;
    return box;
}

GroupSpecies describe(const std::vector<Organism>& organisms, const std::vector<BioBond>& bonds,
                      std::vector<std::uint64_t> members) {
    sortBySignature(members, organisms);
    GroupSpecies group;
    const Organism& reference = organisms[members.front()];
    std::map<std::uint32_t, std::uint64_t> boxOf; // member id -> box index
    for (const std::uint64_t m : members) {
        boxOf[organisms[m].id] = group.assembly.boxes.size();
        group.assembly.boxes.push_back(templateOf(organisms[m], reference));
        if (!organisms[m].species.empty())
            group.memberSpecies.push_back(organisms[m].species);
    }
    std::sort(group.memberSpecies.begin(), group.memberSpecies.end());
    group.memberSpecies.erase(std::unique(group.memberSpecies.begin(), group.memberSpecies.end()),
                              group.memberSpecies.end());

    // Bond ends as box indices, ordered by their smaller and then their larger end.
    struct Internal {
        std::uint64_t a, b;
        const BioBond* bond;
    };
    std::vector<Internal> internal;
    for (const BioBond& bond : bonds) {
        if (!bond.active || bond.toWorld)
            continue;
        const auto a = boxOf.find(bond.a);
        const auto b = boxOf.find(bond.b);
        if (a != boxOf.end() && b != boxOf.end())
            internal.push_back({a->second, b->second, &bond});
    }
    std::stable_sort(internal.begin(), internal.end(), [](const Internal& x, const Internal& y) {
        const auto ends = [](const Internal& i) { return std::pair(std::min(i.a, i.b), std::max(i.a, i.b)); };
        return ends(x) < ends(y);
    });
    for (const Internal& i : internal) {
        group.assembly.bonds.emplace_back(i.a, i.b);
        group.assembly.strengths.push_back(i.bond->strength);
        group.assembly.anchors.push_back(i.bond->anchor);
        group.assembly.rotations.push_back(i.bond->rotation);
        group.internal.push_back(*i.bond);
    }
    group.members = std::move(members);
    return group;
}

// Attempt k to drop a whole copy of the group, turned at random, somewhere in the replication area:
// every copied block where nothing stands, or nothing.
std::optional<std::vector<Organism>> placeCopy(const Ecology& ecology, const Physics& physics,
                                               const Vec3& focus, const std::vector<std::uint64_t>& members,
                                               std::uint32_t k) {
    const std::vector<Organism>& organisms = ecology.organisms;
    const std::uint32_t s = hash32(31u * static_cast<std::uint32_t>(ecology.replications) +
                                   static_cast<std::uint32_t>(ecology.nextId) + 797u * k);
    const Quaternion turn = randomRotation(s);
    const Vec3 areaCenter = ecology.areaSet ? ecology.areaCenter : focus;
    const double radius = ecology.areaSet ? ecology.areaRadius : focusAreaRadius;
    const Organism& reference = organisms[members.front()];
    const Vec3 drop{areaCenter.x + (2.0 * unitHash(s + 3u) - 1.0) * radius,
                    areaCenter.y + length(reference.halfExtents) + dropHeight + dropSpan * unitHash(s + 4u),
                    areaCenter.z + (2.0 * unitHash(s + 5u) - 1.0) * radius};
    const Vec3 velocity = randomVector(s + 6u) * throwSpeed;
    const Vec3 spin = randomVector(s + 9u) * throwSpin;

    std::vector<Organism> copies;
    copies.reserve(members.size());
    for (const std::uint64_t m : members) {
        const Organism& parent = organisms[m];
        const Vec3 r = turn.rotate(parent.center - reference.center);
        Organism copy = parent;
        copy.center = drop + r;
        copy.orientation = turn * parent.orientation;
        copy.velocity = velocity + cross(spin, r);
        copy.angularVelocity = spin;
        copy.massBudget = 0.5 * parent.massBudget;
        copy.busyUntil = ecology.time + copyRest;
        copy.placing = 0;
        copy.grounded = 0;
        copy.generation = parent.generation + 1;
        // Tested against the world as it stands, the parents included: no organism has this index.
        if (!ecology.clearAt(copy, physics, organisms.size(), focus))
            return std::nullopt;
        copies.push_back(std::move(copy));
    }
    return copies;
}

// The species enters the registry, or counts once more there with any ancestors it did not list.
void record(std::vector<BioAssembly>& registry, const BioAssembly& species) {
    const auto known = std::find_if(registry.begin(), registry.end(),
                                    [&](const BioAssembly& entry) { return entry.name == species.name; });
    if (known == registry.end()) {
        registry.push_back(species);
        registry.back().count = 1;
        return;
    }
    ++known->count;
    for (const std::string& ancestor : species.ancestors)
        if (std::find(known->ancestors.begin(), known->ancestors.end(), ancestor) == known->ancestors.end())
            known->ancestors.push_back(ancestor);
}

// The placed copy is born: the group becomes the named species, parents and copies share the budget
// and the copies join the organisms with the group's own bonds.
void commitCopy(Ecology& ecology, GroupSpecies& group, std::vector<Organism> copies) {
    BioAssembly& species = group.assembly;
    species.name = ecology.speciesName(species);
    for (const std::string& name : group.memberSpecies)
        if (name != species.name)
            species.ancestors.push_back(name);
    record(ecology.registry, species);

    std::vector<std::uint32_t> copyIds; // by box index
    for (std::size_t k = 0; k < group.members.size(); ++k) {
        Organism& parent = ecology.organisms[group.members[k]];
        parent.massBudget *= 0.5;
        parent.species = species.name;
        copies[k].species = species.name;
        copies[k].id = static_cast<std::uint32_t>(ecology.nextId);
        ++ecology.nextId;
        copyIds.push_back(copies[k].id);
    }
    for (Organism& copy : copies) {
        ecology.organisms.push_back(std::move(copy));
        ++ecology.births;
    }
    for (std::size_t k = 0; k < group.internal.size(); ++k) {
        BioBond bond = group.internal[k];
        bond.a = copyIds[species.bonds[k].first];
        bond.b = copyIds[species.bonds[k].second];
        bond.toWorld = 0;
        bond.active = 1;
        ecology.bonds.push_back(bond);
    }
    ++ecology.replications;
}

} // namespace

void Ecology::replicate(Physics& physics, const Vec3& focus,
                        const std::vector<std::vector<std::uint64_t>>& groups) {
    int copies = 0;
    for (const std::vector<std::uint64_t>& members : groups) {
        if (copies >= maxCopiesPerCall)
            return;
        if (members.empty() || organisms.size() + members.size() > maxAdded ||
            !readyToCopy(organisms, members))
            continue;
        GroupSpecies group = describe(organisms, bonds, members);
        if (bonds.size() + group.internal.size() > maxBonds)
            continue;

        // The key does not decide where the copy goes: it is found only for a copy that was placed.
        std::optional<std::vector<Organism>> placed;
        for (std::uint32_t k = 0; k < placementTries && !placed; ++k)
            placed = placeCopy(*this, physics, focus, group.members, k);
        if (!placed)
            continue;
        commitCopy(*this, group, std::move(*placed));
        ++copies;
    }
}

} // namespace zarn
