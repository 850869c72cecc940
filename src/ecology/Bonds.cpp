#include <algorithm>
#include <bit>
#include <cmath>

#include "ecology/AliveIndex.hpp"
#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"
#include "ecology/FaceOverlap.hpp"

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
// Making a bond costs this share of the block's volume from its mass budget.
constexpr double bondCost = 0.003;
// Pieces within this of a block's bounds may touch it.
constexpr double pieceReach = 0.03;

// Only a live Connection block makes bonds.
bool bondsFaces(const Organism& o) {
    return o.kind == LifeKind::Block && !o.gray && o.ability == Ability::Connection;
}

// Strength of a bond between two organisms within touching reach of each other (see beyondTouch):
// the larger of what either side's Connection faces give; 0 when neither side bonds.
double organismBondStrength(const Organism& a, const FacedBox& boxA, const Organism& b,
                            const FacedBox& boxB) {
    double strength = 0.0;
    if (bondsFaces(a))
        strength = a.strengthPerArea * faceOverlap(boxA, boxB, a.faceMask);
    if (bondsFaces(b))
        strength = std::max(strength, b.strengthPerArea * faceOverlap(boxB, boxA, b.faceMask));
    return strength;
}

FacedBox facedBox(const Organism& o) {
    return facedBox(o.center, o.halfExtents, o.orientation);
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

// What the bonding pass reads of the organisms, gathered once: nothing of it changes while the pass
// runs (only budgets and the bond list do).
class BondingScan {
  public:
    BondingScan(const std::vector<Organism>& organisms, double time)
        : count_(organisms.size()), weak_((count_ * count_ + 63) / 64, 0) {
        const AliveIndex alive(organisms);
        ends_.reserve(count_);
        boxes_.reserve(count_);
        reaches_.reserve(count_);
        for (const Organism& o : organisms) {
            ends_.push_back(alive.find(o.id));
            boxes_.push_back(facedBox(o));
            reaches_.push_back({o.center, length(o.halfExtents)});
        }
        for (std::size_t index = 0; index < count_; ++index) {
            const Organism& o = organisms[index];
            // A partner without an alive organism under its id is refused by connect.
            if (o.alive && !o.placing && o.busyUntil <= time && ends_[index] != AliveIndex::none) {
                partners_.push_back(index);
                partnerReaches_.push_back(reaches_[ends_[index]]);
            }
        }
        sortAlongX();
    }

    // Calls visit(k) for every partner k that may lie within touching reach of the sphere, in list
    // order, until visit returns false. Partners farther along x than the widest partner could reach
    // are passed over; apart tells the rest.
    template <class Visit> void forNearPartners(const Reach& own, Visit visit) {
        const double margin =
            touchReach(own.halfDiagonal, widest_) * 1.000001 + 1e-6 * (1.0 + std::abs(own.center.x));
        if (!sortedAlongX_ || !std::isfinite(margin)) {
            for (std::size_t k = 0; k < partners_.size(); ++k)
                if (!visit(k))
                    return;
            return;
        }
        const auto from = std::lower_bound(xs_.begin(), xs_.end(), own.center.x - margin);
        const auto to = std::upper_bound(from, xs_.end(), own.center.x + margin);
        std::fill(near_.begin(), near_.end(), 0);
        for (auto it = from; it != to; ++it) {
            const std::size_t k = byX_[static_cast<std::size_t>(it - xs_.begin())];
            near_[k / 64] |= std::uint64_t{1} << (k % 64);
        }
        for (std::size_t word = 0; word < near_.size(); ++word)
            for (std::uint64_t bits = near_[word]; bits != 0; bits &= bits - 1)
                if (!visit(64 * word + static_cast<std::size_t>(std::countr_zero(bits))))
                    return;
    }

    // The organism that connect finds by the id of the organism at this index (the same one while
    // ids are unique), its box and its reach.
    std::size_t end(std::size_t index) const { return ends_[index]; }
    const FacedBox& box(std::size_t end) const { return boxes_[end]; }
    const Reach& reach(std::size_t end) const { return reaches_[end]; }
    // Alive, placed and not busy, in list order: the organisms a Connection block tries to bond to,
    // with the reach of their ends.
    const std::vector<std::size_t>& partners() const { return partners_; }
    const std::vector<Reach>& partnerReaches() const { return partnerReaches_; }
    // Pairs found too weak to bond: the strength of a pair is the same from either end, so the pass
    // does not measure it again when it comes to the pair from the other end.
    bool weak(std::size_t a, std::size_t b) const {
        const std::size_t bit = pairBit(a, b);
        return (weak_[bit / 64] >> (bit % 64)) & 1u;
    }
    void markWeak(std::size_t a, std::size_t b) {
        const std::size_t bit = pairBit(a, b);
        weak_[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }

  private:
    // The partners in order of their centre's x (ties in list order), when every centre and reach is
    // a finite number.
    void sortAlongX() {
        for (const Reach& reach : partnerReaches_) {
            if (!std::isfinite(reach.center.x) || !std::isfinite(reach.halfDiagonal))
                return;
            widest_ = std::max(widest_, reach.halfDiagonal);
        }
        byX_.resize(partners_.size());
        for (std::size_t k = 0; k < byX_.size(); ++k)
            byX_[k] = k;
        std::sort(byX_.begin(), byX_.end(), [&](std::size_t a, std::size_t b) {
            const double xa = partnerReaches_[a].center.x;
            const double xb = partnerReaches_[b].center.x;
            return xa < xb || (xa == xb && a < b);
        });
        for (const std::size_t k : byX_)
            xs_.push_back(partnerReaches_[k].center.x);
        near_.assign((partners_.size() + 63) / 64, 0);
        sortedAlongX_ = true;
    }

    std::size_t pairBit(std::size_t a, std::size_t b) const {
        return std::min(a, b) * count_ + std::max(a, b);
    }

    std::size_t count_;
    std::vector<std::size_t> ends_;
    std::vector<FacedBox> boxes_;
    std::vector<Reach> reaches_;
    std::vector<std::size_t> partners_;
    std::vector<Reach> partnerReaches_;
    std::vector<std::uint64_t> weak_;
    bool sortedAlongX_ = false;
    double widest_ = 0.0; // the largest half diagonal of a partner
    std::vector<std::size_t> byX_;
    std::vector<double> xs_;
    std::vector<std::uint64_t> near_; // bit k: partner k may be near
};

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
        const bool apart = beyondTouch(first->center, length(first->halfExtents), second->center,
                                       length(second->halfExtents));
        strength = apart ? 0.0 : organismBondStrength(*first, facedBox(*first), *second, facedBox(*second));
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
    if (bonds.size() >= maxBonds)
        return; // connect refuses every bond
    BondingScan scan(organisms, time);
    JoinedPairs joined(bonds);
    std::vector<std::uint32_t> candidates;

    // The refusals of connect, in an order that tries the cheap ones first; a refusal changes
    // nothing, so the order does not change which bonds are made. The pair is within touching reach.
    auto bondOrganisms = [&](std::size_t i, std::size_t j) {
        const std::size_t ia = scan.end(i);
        const std::size_t ib = scan.end(j);
        const Organism& a = organisms[ia];
        const Organism& b = organisms[ib];
        if (a.id == 0 || b.id == 0 || a.id == b.id || joined.joined(a.id, b.id, false) || scan.weak(ia, ib))
            return false;
        const double strength = organismBondStrength(a, scan.box(ia), b, scan.box(ib));
        if (!(strength > leastStrength)) {
            if (strength <= leastStrength) // a strength that is not a number may differ by direction
                scan.markWeak(ia, ib);
            return false;
        }
        appendBond(a, b.id, false, organisms[j].center - organisms[i].center, strength, b.orientation);
        joined.add(a.id, b.id, false);
        return true;
    };
    auto bondPiece = [&](std::size_t i, std::uint32_t id) {
        const Organism& a = organisms[scan.end(i)];
        const MatterPiece* piece = alivePiece(physics, id);
        if (a.id == 0 || !piece || joined.joined(a.id, id, true))
            return false;
        const double strength = pieceBondStrength(a, *piece);
        if (!(strength > leastStrength))
            return false;
        appendBond(a, id, true, piece->body.center - organisms[i].center, strength, piece->body.orientation);
        joined.add(a.id, id, true);
        return true;
    };

    const std::vector<std::size_t>& partners = scan.partners();
    const std::vector<Reach>& partnerReaches = scan.partnerReaches();
    for (std::size_t i = 0; i < organisms.size(); ++i) {
        Organism& block = organisms[i];
        if (!block.alive || !bondsFaces(block) || block.busyUntil > time)
            continue;
        const double cost = bondCost * boxVolume(block.halfExtents);
        // Bonds cost budget while there is some; once the list is full every further bond is refused.
        auto open = [&] { return block.massBudget > 0.0 && bonds.size() < maxBonds; };
        auto pay = [&] { block.massBudget = std::max(0.0, block.massBudget - cost); };
        const Reach& own = scan.reach(scan.end(i));
        if (open())
            scan.forNearPartners(own, [&](std::size_t k) {
                if (partners[k] != i && !apart(own, partnerReaches[k]) && bondOrganisms(i, partners[k]))
                    pay();
                return open();
            });
        if (!open())
            continue;
        Box reach = bounds(block);
        reach.min -= Vec3{pieceReach, pieceReach, pieceReach};
        reach.max += Vec3{pieceReach, pieceReach, pieceReach};
        physics.query(reach, candidates);
        for (const std::uint32_t id : candidates) {
            if (!open())
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
