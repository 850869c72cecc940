#include <algorithm>
#include <cmath>

#include "ecology/AliveIndex.hpp"
#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"

namespace zarn {

namespace {

// Faces that touch over less than this make no bond.
constexpr double leastStrength = 1e-8;
// Spring constants per kilogram of reduced mass: stiffness, damping and the turning stiffness.
constexpr double springStiffness = 180.0;
constexpr double springDamping = 18.0;
constexpr double turnStiffness = 30.0;
constexpr double turnDamping = 6.0;
// A spring stretched this far from its rest offset breaks whatever its strength.
constexpr double breakingStretch = 0.35;
// A block whose bond broke makes no new bond for this long, s.
constexpr double bondRest = 0.5;
// Making a bond costs this share of the block's volume from its mass budget.
constexpr double bondCost = 0.003;
// Pieces within this of a block's bounds may touch it.
constexpr double pieceReach = 0.03;

double volume(const Vec3& half) {
    return 8.0 * half.x * half.y * half.z;
}

// Only a live Connection block makes bonds.
bool bondsFaces(const Organism& o) {
    return o.kind == LifeKind::Block && !o.gray && o.ability == Ability::Connection;
}

// Strength of a bond between two organisms: the larger of what either side's Connection faces
// give; 0 when neither side bonds.
double organismBondStrength(const Organism& a, const Organism& b) {
    double strength = 0.0;
    if (bondsFaces(a))
        strength = a.strengthPerArea * Ecology::contactArea(a, Ecology::body(b), a.faceMask);
    if (bondsFaces(b))
        strength =
            std::max(strength, b.strengthPerArea * Ecology::contactArea(b, Ecology::body(a), b.faceMask));
    return strength;
}

double pieceBondStrength(const Organism& a, const MatterPiece& piece) {
    return bondsFaces(a) ? a.strengthPerArea * Ecology::contactArea(a, piece.body, a.faceMask) : 0.0;
}

bool joins(const BioBond& bond, std::uint32_t a, std::uint32_t b, bool toWorld) {
    if (!bond.active || (bond.toWorld != 0) != toWorld)
        return false;
    return (bond.a == a && bond.b == b) || (!toWorld && bond.a == b && bond.b == a);
}

// The pairs that active bonds join, kept sorted so that the bonding pass refuses a second bond
// between a pair without walking the bond list for every touching pair.
class JoinedPairs {
  public:
    explicit JoinedPairs(const std::vector<BioBond>& bonds) {
        for (const BioBond& bond : bonds)
            if (bond.active)
                list(bond.toWorld).push_back(key(bond.a, bond.b, bond.toWorld));
        std::sort(organismPairs_.begin(), organismPairs_.end());
        std::sort(worldPairs_.begin(), worldPairs_.end());
    }
    bool joined(std::uint32_t a, std::uint32_t b, bool toWorld) const {
        const std::vector<std::uint64_t>& keys = toWorld ? worldPairs_ : organismPairs_;
        return std::binary_search(keys.begin(), keys.end(), key(a, b, toWorld));
    }
    void add(std::uint32_t a, std::uint32_t b, bool toWorld) {
        std::vector<std::uint64_t>& keys = list(toWorld);
        const std::uint64_t k = key(a, b, toWorld);
        keys.insert(std::lower_bound(keys.begin(), keys.end(), k), k);
    }

  private:
    // Organism bonds join a pair in either order; a world bond joins a block to a piece.
    static std::uint64_t key(std::uint32_t a, std::uint32_t b, bool toWorld) {
        return toWorld ? (static_cast<std::uint64_t>(a) << 32) | b : pairKey(a, b);
    }
    std::vector<std::uint64_t>& list(bool toWorld) { return toWorld ? worldPairs_ : organismPairs_; }

    std::vector<std::uint64_t> organismPairs_;
    std::vector<std::uint64_t> worldPairs_;
};

// The far end of a bond as the spring sees it.
struct BondEnd {
    Vec3 center;
    Vec3 velocity;
    Vec3 angularVelocity;
    Quaternion orientation;
    double inverseMass = 0.0;
};

BondEnd endOf(const Organism& o) {
    return {o.center, o.velocity, o.angularVelocity, o.orientation, 1.0 / Ecology::mass(o)};
}

// Anchored and supported matter does not give way: it counts as infinitely heavy.
BondEnd endOf(const MatterPiece& piece) {
    const Polyhedron& body = piece.body;
    const double inverseMass = piece.anchored || piece.supported ? 0.0 : 1.0 / body.mass;
    return {body.center, body.velocity, body.angularVelocity, body.orientation, inverseMass};
}

const MatterPiece* alivePiece(const Physics& physics, std::uint32_t id) {
    if (id == 0 || id > physics.pieces.size() || !physics.pieces[id - 1].alive)
        return nullptr;
    return &physics.pieces[id - 1];
}

} // namespace

void Ecology::appendBond(const Organism& a, std::uint32_t b, bool toWorld, const Vec3& offset,
                         double strength, const Quaternion& otherOrientation) {
    BioBond bond;
    bond.a = a.id;
    bond.b = b;
    bond.toWorld = toWorld ? 1 : 0;
    bond.active = 1;
    bond.anchor = a.orientation.rotateInverse(offset);
    bond.strength = strength;
    bond.rotation = relativeRotation(a.orientation, otherOrientation);
    bonds.push_back(bond);
}

bool Ecology::connect(std::uint32_t a, std::uint32_t b, bool toWorld, const Vec3& offset,
                      const Physics* physics) {
    if (a == 0 || b == 0 || (a == b && !toWorld) || bonds.size() >= maxBonds)
        return false;
    auto findAlive = [&](std::uint32_t id) {
        return std::find_if(organisms.begin(), organisms.end(),
                            [id](const Organism& o) { return o.alive && o.id == id; });
    };
    const auto first = findAlive(a);
    if (first == organisms.end())
        return false;

    double strength = 0.0;
    Quaternion otherOrientation;
    if (toWorld) {
        const MatterPiece* piece = physics ? alivePiece(*physics, b) : nullptr;
        if (!piece)
            return false;
        strength = pieceBondStrength(*first, *piece);
        otherOrientation = piece->body.orientation;
    } else {
        const auto second = findAlive(b);
        if (second == organisms.end())
            return false;
        strength = organismBondStrength(*first, *second);
        otherOrientation = second->orientation;
    }
    if (!(strength > leastStrength))
        return false;
    if (std::any_of(bonds.begin(), bonds.end(),
                    [&](const BioBond& bond) { return joins(bond, a, b, toWorld); }))
        return false;
    appendBond(*first, b, toWorld, offset, strength, otherOrientation);
    return true;
}

void Ecology::springPass(Physics& physics, double dt) {
    const AliveIndex alive(organisms);
    for (BioBond& bond : bonds) {
        if (!bond.active)
            continue;
        // A bond whose end died or vanished lapses without counting as broken.
        const std::size_t ia = alive.find(bond.a);
        const MatterPiece* piece = bond.toWorld ? alivePiece(physics, bond.b) : nullptr;
        const std::size_t ib = bond.toWorld ? AliveIndex::none : alive.find(bond.b);
        if (ia == AliveIndex::none || (bond.toWorld ? !piece : ib == AliveIndex::none)) {
            bond.active = 0;
            continue;
        }
        Organism& a = organisms[ia];
        const BondEnd other = piece ? endOf(*piece) : endOf(organisms[ib]);

        const double ma = mass(a);
        const double m = 1.0 / (1.0 / ma + other.inverseMass);
        const Vec3 r = a.orientation.rotate(bond.anchor);
        const Vec3 stretch = other.center - a.center - r;
        const Vec3 drift = other.velocity - (a.velocity + cross(a.angularVelocity, r));
        const Vec3 force = stretch * (springStiffness * m) + drift * (springDamping * m);
        const Quaternion twist = other.orientation * conjugate(a.orientation * bond.rotation);
        const double sign = twist.w >= 0.0 ? 2.0 : -2.0;
        const Vec3 turn = Vec3{twist.x, twist.y, twist.z} * sign;

        // Written so that a load that is not a number breaks the bond rather than the bodies.
        const double load = length(force) + turnStiffness * m * length(turn);
        if (!(load <= bond.strength) || !(length(stretch) <= breakingStretch)) {
            bond.active = 0;
            ++bondsBroken;
            a.busyUntil = time + bondRest;
            if (!piece)
                organisms[ib].busyUntil = time + bondRest;
            continue;
        }

        a.velocity += force * (dt / ma);
        const Vec3 spin = (other.angularVelocity - a.angularVelocity) * turnDamping + turn * turnStiffness;
        const Vec3 spinChange = spin * (0.5 * dt);
        a.angularVelocity += spinChange;
        if (piece) {
            physics.contactImpulse(bond.b, force * -dt, a.center);
        } else {
            Organism& b = organisms[ib];
            b.velocity -= force * (dt / mass(b));
            b.angularVelocity -= spinChange;
        }
    }
    std::erase_if(bonds, [](const BioBond& bond) { return !bond.active; });
}

void Ecology::bondingPass(const Physics& physics) {
    const AliveIndex alive(organisms);
    JoinedPairs joined(bonds);
    // The bond ends as connect would find them by id.
    std::vector<std::size_t> resolved(organisms.size());
    for (std::size_t index = 0; index < organisms.size(); ++index)
        resolved[index] = alive.find(organisms[index].id);
    std::vector<std::uint32_t> candidates;

    // The refusals of connect, in an order that tries the cheap ones first; a refusal changes
    // nothing, so the order does not change which bonds are made.
    auto bondOrganisms = [&](std::size_t i, std::size_t j) {
        const Organism& a = organisms[resolved[i]];
        const Organism& b = organisms[resolved[j]];
        if (bonds.size() >= maxBonds || a.id == 0 || b.id == 0 || a.id == b.id ||
            beyondTouch(a.center, a.halfExtents, b.center, b.halfExtents) || joined.joined(a.id, b.id, false))
            return false;
        const double strength = organismBondStrength(a, b);
        if (!(strength > leastStrength))
            return false;
        appendBond(a, b.id, false, organisms[j].center - organisms[i].center, strength, b.orientation);
        joined.add(a.id, b.id, false);
        return true;
    };
    auto bondPiece = [&](std::size_t i, std::uint32_t id) {
        const Organism& a = organisms[resolved[i]];
        const MatterPiece* piece = alivePiece(physics, id);
        if (bonds.size() >= maxBonds || a.id == 0 || !piece || joined.joined(a.id, id, true))
            return false;
        const double strength = pieceBondStrength(a, *piece);
        if (!(strength > leastStrength))
            return false;
        appendBond(a, id, true, piece->body.center - organisms[i].center, strength, piece->body.orientation);
        joined.add(a.id, id, true);
        return true;
    };

    for (std::size_t i = 0; i < organisms.size(); ++i) {
        Organism& block = organisms[i];
        if (!block.alive || !bondsFaces(block) || block.busyUntil > time)
            continue;
        const double cost = bondCost * volume(block.halfExtents);
        auto pay = [&] { block.massBudget = std::max(0.0, block.massBudget - cost); };
        for (std::size_t j = 0; j < organisms.size() && block.massBudget > 0.0; ++j) {
            const Organism& other = organisms[j];
            if (j == i || !other.alive || other.placing || other.busyUntil > time)
                continue;
            if (bondOrganisms(i, j))
                pay();
        }
        if (!(block.massBudget > 0.0))
            continue;
        Box reach = bounds(block);
        reach.min -= Vec3{pieceReach, pieceReach, pieceReach};
        reach.max += Vec3{pieceReach, pieceReach, pieceReach};
        physics.query(reach, candidates);
        for (const std::uint32_t id : candidates) {
            if (!(block.massBudget > 0.0))
                break;
            if (bondPiece(i, id))
                pay();
        }
    }
}

void Ecology::renumberWorldBonds(const std::vector<std::uint32_t>& newIds) {
    for (BioBond& bond : bonds) {
        if (!bond.toWorld)
            continue;
        bond.b = bond.b < newIds.size() ? newIds[bond.b] : 0;
    }
    // A bond whose piece is gone is dropped, without counting as broken.
    std::erase_if(bonds, [](const BioBond& bond) { return bond.toWorld && bond.b == 0; });
}

} // namespace zarn
