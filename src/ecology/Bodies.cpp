#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <optional>

#include "ecology/AliveIndex.hpp"
#include "ecology/Clearance.hpp"
#include "ecology/Ecology.hpp"
#include "ecology/NearbyMatter.hpp"
#include "physics/Geometry.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {

namespace {

// The player's hull, the far ground and anchored or supported matter do not give way.
constexpr double immovable = 1e30;
// Contacts that close faster than this hurt what meets in them, m/s.
constexpr double hurtingSpeed = 3.0;
// A body meets at most this many obstacles in one step; one left deeper than stuckDepth in the last
// of them stops there.
constexpr int maxHits = 8;
constexpr double stuckDepth = 0.05;
constexpr double leastRemaining = 1e-8;
// A hit is taken a hair before the touch.
constexpr double hitBackoff = 1e-6;
// Bodies whose swept bounds come within this of each other are swept against each other.
constexpr double sweepReach = 0.001;
// The organisms a body's sweeps may meet are found in a box this much wider than the first sweep's
// reach, and a share of its half diagonal: the later sub-steps of most bodies reach no farther.
constexpr double othersMargin = 0.05;
constexpr double othersShare = 0.01;
// Turning by contact: corners within contactBand of the nearest along the normal make the contact
// point, and no contact spins a block faster than maxSpin, rad/s.
constexpr double contactBand = 0.002;
constexpr double maxSpin = 12.0;
// A turn that puts a block into something is undone unless up to pushPasses pushes free it within
// the distance its corners could have swept plus pushSlack.
constexpr int pushPasses = 4;
constexpr double pushSlack = 0.001;
constexpr double leastSpin = 1e-6;
// Drags of blocks: their spin always, and their motion and spin on the ground, 1/s.
constexpr double spinDrag = 0.15;
constexpr double groundDrag = 4.0;
constexpr double groundSpinDrag = 6.0;
// Contact normals within 60 degrees of up are ground.
constexpr double groundCosine = 0.5;
// A new organism that overlaps something tries 20 places on rings of eight, each ring 2 m higher and
// farther out, at most 48 m away.
constexpr int placingTries = 20;
constexpr int ringPlaces = 8;
constexpr double ringLift = 2.0;
constexpr double firstLift = 0.02;
constexpr double ringReach = 48.0;
// The far ground: a still slab 48 m deep and at least 128 m across whose top is the terrain surface.
constexpr double chunkReach = 640.0; // across from the focus, beyond which no terrain is loaded
constexpr double farGroundHalfDepth = 24.0;
constexpr double farGroundHalfWidth = 64.0;
constexpr double farGroundMass = 9600.0;
// Nearer than chunkReach the far ground holds up what no matter lies under within this depth.
constexpr double matterBelowDepth = 64.0;

enum class Obstacle { Piece, Hull, Ground, Organism };

// The earliest hit of a body's sweep: the piece's or the organism's index, the fraction of the
// motion travelled, the overlap when it started inside, and the normal toward the body.
struct BodyHit {
    bool hit = false;
    Obstacle obstacle = Obstacle::Piece;
    std::size_t index = 0;
    double fraction = 1.0;
    double depth = 0.0;
    Vec3 normal;
};

// Earlier wins; at the same time, deeper.
void keepEarliest(BodyHit& best, Obstacle obstacle, std::size_t index, const BoxSweep& sweep) {
    if (!sweep.hit)
        return;
    if (best.hit &&
        !(sweep.fraction < best.fraction || (sweep.fraction == best.fraction && sweep.depth > best.depth)))
        return;
    best = {true, obstacle, index, sweep.fraction, sweep.depth, sweep.normal};
}

// What a hit meets: its velocity and mass.
struct OtherSide {
    Vec3 velocity;
    double mass = immovable;
};

// The spin a block takes from a hit on its corners or face nearest the obstacle.
void spinAtContact(Organism& block, const Vec3& n, double closing, double inverseMasses) {
    const Polyhedron body = Ecology::body(block);
    const std::array<Vec3, 8> corners = body.vertices();
    double nearest = dot(corners[0], n);
    for (const Vec3& corner : corners)
        nearest = std::min(nearest, dot(corner, n));
    Vec3 sum;
    int count = 0;
    for (const Vec3& corner : corners)
        if (dot(corner, n) - nearest <= contactBand) {
            sum += corner;
            ++count;
        }
    const Vec3 r = sum / count - body.center;
    const Vec3 turn = body.inverseInertia(cross(r, n));
    const double lever = std::max(0.0, dot(n, cross(turn, r)));
    block.angularVelocity += turn * (closing / (lever + inverseMasses));
    const double spin = length(block.angularVelocity);
    if (spin > maxSpin)
        block.angularVelocity *= maxSpin / spin;
}

// One body step of every organism: placing, falling, turning and sweeping, in list order.
class BodyStep {
  public:
    BodyStep(Ecology& ecology, Physics& physics, const EarthModel& model, const Vec3& focus,
             const Vec3& gravity, double dt)
        : ecology_(ecology), organisms_(ecology.organisms), physics_(physics), model_(model), focus_(focus),
          gravity_(gravity), up_(upAgainst(gravity)), dt_(dt), hull_(playerHull(focus, gravity)),
          hullBounds_(hull_.bounds()), plain_(ecology.bodyScratch.plainWalks),
          bounds_(ecology.bodyScratch.bounds), cells_(plain_ ? nullptr : &ecology.bodyScratch.cells),
          matterCells_(physics, ecology.bodyScratch.matter),
          clearance_(physics, organisms_, hull_, &bounds_, cells_, plain_ ? nullptr : &matterCells_),
          matter_(physics, plain_ ? nullptr : &matterCells_) {
        // Every organism's bounds, kept up to date as each one moves: the others only change speed.
        bounds_.clear();
        for (const Organism& o : organisms_)
            bounds_.push_back(Ecology::bounds(o));
        if (cells_) {
            cells_->fill(bounds_);
        } else {
            everyOne_.resize(organisms_.size());
            std::iota(everyOne_.begin(), everyOne_.end(), 0u);
        }
    }

    void run() {
        for (std::size_t index = 0; index < organisms_.size(); ++index) {
            if (!organisms_[index].alive || !place(index))
                continue;
            fall(organisms_[index]);
            if (organisms_[index].kind == LifeKind::Block)
                turn(index);
            sweep(index);
            const Box moved = Ecology::bounds(organisms_[index]);
            if (cells_)
                cells_->move(static_cast<std::uint32_t>(index), moved);
            bounds_[index] = moved;
        }
    }

  private:
    bool clear(const Organism& o, std::size_t index) { return clearance_.clear(o, index); }

    // The organisms whose bounds may meet the box, in list order: those listed in the cells about
    // it, or on the plain walk every one.
    const std::vector<std::uint32_t>& nearby(const Box& box) {
        if (!cells_)
            return everyOne_;
        cells_->touching(box, near_);
        return near_;
    }
    // The same for the reach of a sweep of the body: found once for its sweeps in a wider box, and
    // again only for a sub-step that reaches out of that box. The others stand still meanwhile.
    const std::vector<std::uint32_t>& othersNear(const Box& reach, const Polyhedron& body) {
        if (!cells_)
            return everyOne_;
        if (!othersKnown_ || !holds(othersCovered_, reach)) {
            othersCovered_ = grown(reach, othersMargin + othersShare * length(body.halfExtents));
            cells_->touching(othersCovered_, others_);
            othersKnown_ = true;
        }
        return others_;
    }

    // A new organism stays where it stands when that is clear, else takes the first clear place of
    // the rings around it; with none of the 20 clear it dies. False when it died.
    bool place(std::size_t index) {
        Organism& o = organisms_[index];
        if (!o.placing)
            return true;
        const Vec3 start = o.center;
        const double spacing = length(o.halfExtents) + 1.0;
        for (int k = -1; k < placingTries; ++k) {
            if (k >= 0) {
                const int ring = k / ringPlaces;
                const double angle = (k % ringPlaces) * (std::numbers::pi / 4.0);
                const double distance = std::min(ringReach, spacing * (ring + 2));
                o.center = start + up_ * (ringLift * ring + firstLift) +
                           Vec3{std::sin(angle), 0.0, std::cos(angle)} * distance;
            }
            if (clear(o, index)) {
                o.placing = 0;
                return true;
            }
        }
        o.alive = 0;
        ++ecology_.deaths;
        return false;
    }

    // Rising and drifting Slabs keep the speed their life gives them.
    void fall(Organism& o) const {
        if (o.kind != LifeKind::Slab || o.stage >= 2)
            o.velocity += gravity_ * dt_;
    }

    // A block turns by its spin; a turn into something is pushed free, or undone at half the spin.
    void turn(std::size_t index) {
        Organism& o = organisms_[index];
        const Vec3 center = o.center;
        const Quaternion orientation = o.orientation;
        o.orientation.integrate(o.angularVelocity, dt_);
        const double spin = length(o.angularVelocity);
        if (spin > leastSpin && !clear(o, index)) {
            pushOut(index);
            const double allowed = dt_ * spin * length(o.halfExtents) + pushSlack;
            if (!(length(o.center - center) <= allowed && clear(o, index))) {
                o.center = center;
                o.orientation = orientation;
                o.angularVelocity *= 0.5;
            }
        }
        o.angularVelocity *= std::exp(-spinDrag * dt_);
    }

    // Moves the block along the normal of its deepest contact with matter or placed organisms, a
    // few times, until nothing holds it deeper than touching.
    void pushOut(std::size_t index) {
        Organism& o = organisms_[index];
        for (int pass = 0; pass < pushPasses; ++pass) {
            const Polyhedron body = Ecology::body(o);
            const Box own = body.bounds();
            double deepest = 0.0;
            Vec3 normal;
            auto deeper = [&](const Polyhedron& obstacle) {
                Contact contact; // its normal points from the obstacle to the block
                if (collide(obstacle, body, contact) && contact.depth > deepest) {
                    deepest = contact.depth;
                    normal = contact.normal;
                }
            };
            physics_.query(own, candidates_);
            for (const std::uint32_t id : candidates_)
                if (physics_.pieces[id - 1].alive)
                    deeper(physics_.pieces[id - 1].body);
            for (const std::uint32_t other : nearby(own))
                if (other != index && organisms_[other].alive && !organisms_[other].placing &&
                    strictlyOverlap(own, bounds_[other]))
                    deeper(Ecology::body(organisms_[other]));
            if (deepest <= touchDepth)
                return;
            o.center += normal * (deepest + touchDepth);
        }
    }

    // Sub-steps that end at each hit, until the step's time is spent or the eighth hit.
    void sweep(std::size_t index) {
        Organism& o = organisms_[index];
        o.grounded = 0;
        double remaining = dt_;
        const std::optional<Polyhedron> ground = farGround(o);
        const Box groundBounds = ground ? ground->bounds() : Box{};
        matter_.forget();
        othersKnown_ = false;
        for (int hits = 1;; ++hits) {
            const Polyhedron body = Ecology::body(o);
            const Vec3 motion = o.velocity * remaining;
            const BodyHit hit = earliestHit(index, body, motion, ground, groundBounds);
            if (!hit.hit) {
                o.center += motion;
                return;
            }
            if (!meet(index, hit, motion))
                return; // it did not survive the hit
            remaining *= 1.0 - hit.fraction;
            if (hits == maxHits) {
                if (hit.depth > stuckDepth)
                    o.velocity = Vec3{};
                return;
            }
            if (remaining < leastRemaining)
                return;
        }
    }

    // The far ground under an organism at the start of its sweep: a still slab whose top is the
    // terrain surface under its centre. The terrain streamer keeps chunks out to about 640 m from the
    // focus, so beyond 640 m across it holds up every organism. Nearer, it holds up an organism under
    // which no matter lies: over a chunk that was never generated (only cells within 384 m are) or
    // that was unloaded by its distance in 3-D, which may pass 640 m while the distance across does
    // not. Without it such an organism would fall through the world. Standing over matter settles it
    // without the terrain surface, which costs more to find.
    std::optional<Polyhedron> farGround(const Organism& o) {
        const bool inReach = withinReach(o.center.x - focus_.x, o.center.z - focus_.z);
        Box swept;
        if (inReach) {
            swept = sweptBounds(Ecology::body(o), o.velocity * dt_);
            if (matterBelow(swept))
                return std::nullopt;
        }
        const bool farSide = EarthModel::onFarSide(o.center);
        const double surface = model_.surface(o.center.x, o.center.z, farSide);
        if (!std::isfinite(surface))
            return std::nullopt;
        Polyhedron ground;
        ground.center = {o.center.x, surface - farGroundHalfDepth, o.center.z};
        ground.halfExtents = {std::max(farGroundHalfWidth, o.halfExtents.x), farGroundHalfDepth,
                              std::max(farGroundHalfWidth, o.halfExtents.z)};
        ground.mass = farGroundMass;
        if (inReach && swept.min.y > ground.bounds().max.y)
            return std::nullopt; // out of its reach this step
        return ground;
    }

    // Whether the distance across is at most chunkReach, as std::hypot tells; most distances are
    // settled by its bounds, the larger of the two and their sum, with a margin far above rounding.
    static bool withinReach(double dx, double dz) {
        const double x = std::abs(dx), z = std::abs(dz);
        if (x + z < chunkReach * 0.9)
            return true;
        if (std::max(x, z) > chunkReach * 1.1)
            return false;
        return !(std::hypot(dx, dz) > chunkReach);
    }

    bool matterBelow(const Box& swept) {
        Box column = swept;
        column.min.y -= matterBelowDepth;
        if (!plain_)
            return matterCells_.touches(column);
        physics_.query(column, candidates_);
        return std::any_of(candidates_.begin(), candidates_.end(), [&](std::uint32_t id) {
            const MatterPiece& piece = physics_.pieces[id - 1];
            return piece.alive && overlapOrTouch(piece.body.bounds(), column);
        });
    }

    // The earliest hit among the matter, the player's hull, the far ground and the placed organisms
    // near the swept bounds. The sweeps share the moving body's axes and swept bounds and take the
    // bounds the step keeps of the hull, the ground and the organisms; the plain walks sweep each
    // pair from scratch.
    BodyHit earliestHit(std::size_t index, const Polyhedron& body, const Vec3& motion,
                        const std::optional<Polyhedron>& ground, const Box& groundBounds) {
        const MovingBox moving(body, motion);
        BodyHit best;
        double depth = 0.0;
        const BodySweep matter = matter_.sweep(moving, depth);
        if (matter.hit)
            best = {true, Obstacle::Piece, matter.index, matter.fraction, depth, matter.normal};
        keepEarliest(best, Obstacle::Hull, 0,
                     plain_ ? sweepPolyhedra(body, motion, hull_)
                            : sweepPolyhedra(moving, hull_, hullBounds_));
        if (ground)
            keepEarliest(best, Obstacle::Ground, 0,
                         plain_ ? sweepPolyhedra(body, motion, *ground)
                                : sweepPolyhedra(moving, *ground, groundBounds));
        const Box reach = grown(sweptBounds(body, motion), sweepReach);
        for (const std::uint32_t other : othersNear(reach, body)) {
            const Organism& struck = organisms_[other];
            if (other == index || !struck.alive || struck.placing || !overlapOrTouch(bounds_[other], reach))
                continue;
            if (plain_)
                keepEarliest(best, Obstacle::Organism, other,
                             sweepPolyhedra(body, motion, Ecology::body(struck)));
            else if (moving.reaches(bounds_[other]))
                keepEarliest(best, Obstacle::Organism, other,
                             sweepPolyhedra(moving, Ecology::body(struck), bounds_[other]));
        }
        return best;
    }

    OtherSide otherSide(const BodyHit& hit) const {
        switch (hit.obstacle) {
        case Obstacle::Piece: {
            const MatterPiece& piece = physics_.pieces[hit.index];
            const bool fixed = piece.anchored || piece.supported;
            return {piece.body.velocity, fixed ? immovable : piece.body.mass};
        }
        case Obstacle::Organism:
            return {organisms_[hit.index].velocity, Ecology::mass(organisms_[hit.index])};
        case Obstacle::Hull:
        case Obstacle::Ground:
            break;
        }
        return {};
    }

    // The organism stops at the hit, pushed clear of it, and the two exchange the impulse of the
    // closing speed without bounce. False when the hit killed it.
    bool meet(std::size_t index, const BodyHit& hit, const Vec3& motion) {
        Organism& o = organisms_[index];
        const Vec3& n = hit.normal; // from the obstacle toward the organism
        o.center += motion * std::max(0.0, hit.fraction - hitBackoff) + n * (hit.depth + touchDepth);

        const OtherSide other = otherSide(hit);
        const double mass = Ecology::mass(o);
        const double closing = std::max(0.0, -dot(o.velocity - other.velocity, n));
        const double inverseMasses = 1.0 / mass + 1.0 / other.mass;
        const double reduced = 1.0 / inverseMasses;
        const double j = closing * reduced;
        const Vec3 hurt = n * (std::max(0.0, closing - hurtingSpeed) * reduced);

        if (o.kind == LifeKind::Block && j > 0.0)
            spinAtContact(o, n, closing, inverseMasses);
        const double into = dot(o.velocity, n);
        if (into < 0.0)
            o.velocity -= n * into;
        if (j > 0.0) {
            if (hit.obstacle == Obstacle::Organism) {
                Organism& struck = organisms_[hit.index];
                struck.velocity -= n * (j / Ecology::mass(struck));
                ecology_.impact(hit.index, hurt, true);
            } else if (hit.obstacle == Obstacle::Piece) {
                // The sweep names the piece by its index; the physics takes its id. A push that
                // brings a refresh of the matter's topology may list the pieces anew.
                if (physics_.topologyDirty)
                    matterCells_.forget();
                physics_.contactImpulse(static_cast<std::uint32_t>(hit.index + 1), n * -j, o.center);
            }
        }

        if (dot(n, up_) > groundCosine) {
            o.grounded = 1;
            if (o.kind == LifeKind::Block) {
                o.velocity *= std::exp(-groundDrag * dt_);
                o.angularVelocity *= std::exp(-groundSpinDrag * dt_);
            }
            if (o.kind == LifeKind::Slab && o.stage == 2 && !o.landed) {
                o.stage = 3;
                o.landed = 1;
                o.fractureMarked = 1; // split later in this step, and unhurt by its landing
                o.stageTime = ecology_.dayClock;
            }
        }
        if (!(o.kind == LifeKind::Slab && o.fractureMarked))
            ecology_.impact(index, hurt, true);
        return o.alive != 0;
    }

    Ecology& ecology_;
    std::vector<Organism>& organisms_;
    Physics& physics_;
    const EarthModel& model_;
    Vec3 focus_;
    Vec3 gravity_;
    Vec3 up_;
    double dt_;
    Polyhedron hull_;
    Box hullBounds_;
    bool plain_;
    std::vector<Box>& bounds_;
    OrganismCells* cells_; // none on the plain walks
    MatterCells matterCells_;
    Clearance clearance_;
    NearbyMatter matter_;
    std::vector<std::uint32_t> near_;
    bool othersKnown_ = false;
    Box othersCovered_;
    std::vector<std::uint32_t> others_;
    std::vector<std::uint32_t> everyOne_;
    std::vector<std::uint32_t> candidates_;
};

} // namespace

void Ecology::syncColliders(Physics& physics) const {
    physics.colliders.clear();
    for (const Organism& o : organisms)
        if (o.alive && !o.placing)
            physics.colliders.push_back({o.id, body(o)});
}

void Ecology::receiveContacts(Physics& physics) {
    const AliveIndex alive(organisms);
    for (const ExternalImpulse& push : physics.externalImpulses) {
        const std::size_t index = alive.find(push.id);
        // A push may kill its organism; later pushes on it find nothing alive.
        if (index == AliveIndex::none || !organisms[index].alive)
            continue;
        Organism& o = organisms[index];
        o.velocity += push.impulse / mass(o);
        if (push.closingSpeed > hurtingSpeed)
            impact(index, push.impulse * ((push.closingSpeed - hurtingSpeed) / push.closingSpeed), true);
    }
    physics.externalImpulses.clear();
}

void Ecology::moveBodies(Physics& physics, const EarthModel& model, const Vec3& focus, const Vec3& gravity,
                         double dt) {
    organisms.reserve(capacity);
    for (Organism& o : organisms) {
        if (o.id == 0) {
            o.id = static_cast<std::uint32_t>(nextId);
            ++nextId;
        } else {
            nextId = std::max<std::uint64_t>(nextId, std::uint64_t{o.id} + 1);
        }
    }
    blockForces(physics, focus, dt);
    grayBlocksToMatter(physics);
    BodyStep(*this, physics, model, focus, gravity, dt).run();
    for (std::size_t index = 0; index < organisms.size(); ++index)
        if (organisms[index].fractureMarked)
            fracture(index);
    syncColliders(physics);
}

} // namespace zarn
