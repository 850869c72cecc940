#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>

#include "physics/BroadPhase.hpp"
#include "physics/FastSweeps.hpp"
#include "physics/GridCells.hpp"
#include "physics/Physics.hpp"

namespace zarn {

namespace {

using broad::beginBroadPhase;
using broad::countBelow;
using broad::fineDrift;
using broad::membersInRange;
using broad::mergeAscending;
using broad::pieceRange;
using broad::reenterMembers;
using broad::refreshAwake;
using broad::searchHolds;
using broad::searchNear;
using broad::searchOf;
using grid::joined;
using grid::overlaps;
using grid::widened;

constexpr std::size_t maxSounds = 12;
constexpr std::size_t maxContactImpacts = 2;
constexpr std::size_t maxBondCandidates = 16;
constexpr int maxSlideSounds = 3;
constexpr int solverPasses = 3;
constexpr double restitution = 0.08;
constexpr double friction = 0.68;
constexpr double contactFractureStress = 4.5e7; // Pa a hard contact must reach to fracture
constexpr double slideSoundInterval = 0.1;
constexpr double shortWakeWindow = 0.25;
constexpr double density = 1200.0;

// The frame of the current gravity: up against it and two horizontal tangents.
struct GravityFrame {
    Vec3 up;
    Vec3 t1;
    Vec3 t2;
};

GravityFrame gravityFrame(const Vec3& gravity) {
    const double g = length(gravity);
    if (!(g > 1e-9))
        return {};
    GravityFrame frame;
    frame.up = -gravity / g;
    frame.t1 = std::abs(frame.up.z) < 0.9 ? normalized(cross(frame.up, {0.0, 0.0, 1.0}))
                                          : normalized(cross(frame.up, {1.0, 0.0, 0.0}));
    frame.t2 = cross(frame.t1, frame.up);
    return frame;
}

// 1 / m + (r × n) · I⁻¹ (r × n): the inverse mass an assembly shows to an impulse along n at r.
double inverseMassAlong(const Assembly& assembly, const Vec3& r, const Vec3& n) {
    const Vec3 arm = cross(r, n);
    return 1.0 / assembly.mass + dot(arm, assembly.inertiaTensor().solve(arm));
}

// The change of angular velocity an impulse J at r (from the centre) gives an assembly.
Vec3 turnOf(const Assembly& assembly, const Vec3& r, const Vec3& impulse) {
    return assembly.inertiaTensor().solve(cross(r, impulse));
}

// A size scale that softens the angular drag of big assemblies.
double dragScale(double mass) {
    return std::max(1.0, 0.25 * std::cbrt(mass / density));
}

// Impulses below 1e-12 N s change nothing; those that are not finite are refused.
bool usableImpulse(const Vec3& impulse, const Vec3& point) {
    const double size = length(impulse);
    return size >= 1e-12 && std::isfinite(size) && std::isfinite(length(point));
}

// Moves an assembly's centre by a position correction and carries its members along. The solver's
// broad phase keeps count of how far each assembly was moved this way.
void shiftAssembly(Physics& physics, std::int32_t index, const Vec3& shift) {
    StepScratch& scratch = physics.stepScratch;
    Assembly& assembly = physics.assemblies[static_cast<std::size_t>(index)];
    const Vec3 previous = assembly.center;
    assembly.center += shift;
    physics.updateMembers(assembly, previous, Quaternion{});
    const double distance = length(shift);
    double& moved = scratch.shifted[static_cast<std::size_t>(index)];
    moved += distance;
    ++scratch.shifts;
    if (!scratch.plainWalks && moved - scratch.reenteredAt[static_cast<std::size_t>(index)] > fineDrift)
        reenterMembers(physics, index);
}

// An impulse of the contact solver. Members' velocities are not written here: they always equal
// v + w x (c - C) of their assembly, which the solver computes where it needs them, and the settling
// after the solver writes them for every awake assembly. The plain walks write them at once,
// as applyAssemblyImpulse does.
void solverImpulse(Physics& physics, std::int32_t index, const Vec3& impulse, const Vec3& point, bool wake) {
    if (physics.stepScratch.plainWalks) {
        physics.applyAssemblyImpulse(index, impulse, point, wake);
        return;
    }
    if (!usableImpulse(impulse, point) || index < 0)
        return;
    Assembly& assembly = physics.assemblies[static_cast<std::size_t>(index)];
    if (assembly.asleep && !wake)
        return;
    if (wake) {
        assembly.asleep = false;
        assembly.restTime = 0.0;
        assembly.wakeTime = physics.time;
        for (const std::uint32_t id : assembly.members) {
            MatterPiece& piece = physics.pieces[id - 1];
            piece.asleep = false;
            piece.stateTime = physics.time;
        }
    }
    assembly.velocity += impulse / assembly.mass;
    assembly.angularVelocity += turnOf(assembly, point - assembly.center, impulse);
}

// The velocity a member piece has as part of its assembly.
Vec3 memberVelocity(const Assembly& assembly, const MatterPiece& piece) {
    return assembly.velocity + cross(assembly.angularVelocity, piece.body.center - assembly.center);
}

// Stops an assembly that integration carried into an organism body at the body, with an inelastic
// push along the contact normal.
void stopAtColliders(Physics& physics, std::int32_t index, const Vec3& savedCenter) {
    StepScratch& scratch = physics.stepScratch;
    Assembly& assembly = physics.assemblies[static_cast<std::size_t>(index)];
    bool found = false;
    BoxSweep best;
    std::size_t bestCollider = 0;
    for (std::size_t m = 0; m < assembly.members.size(); ++m) {
        const Polyhedron& before = scratch.savedBodies[m];
        const Polyhedron& after = physics.pieces[assembly.members[m] - 1].body;
        const Box swept = joined(before.bounds(), after.bounds());
        const Vec3 displacement = after.center - before.center;
        for (std::size_t c = 0; c < physics.colliders.size(); ++c) {
            const Polyhedron& body = physics.colliders[c].body;
            if (!overlaps(swept, body.bounds()))
                continue;
            const BoxSweep sweep = sweepPolyhedra(before, displacement, body);
            if (!sweep.hit)
                continue;
            if (!found || sweep.fraction < best.fraction ||
                (sweep.fraction == best.fraction && sweep.depth > best.depth)) {
                found = true;
                best = sweep;
                bestCollider = c;
            }
        }
    }
    if (!found)
        return;

    // Back to the moment of contact, just clear of the body, then an inelastic push along the normal.
    const Vec3 n = best.normal;
    const Vec3 corrected = savedCenter +
                           (assembly.center - savedCenter) * std::max(0.0, best.fraction - 1e-6) +
                           n * (best.depth + 0.001);
    const Vec3 beforeCorrection = assembly.center;
    assembly.center = corrected;
    physics.updateMembers(assembly, beforeCorrection, Quaternion{});
    const ExternalCollider& collider = physics.colliders[bestCollider];
    const double closing = std::max(0.0, -dot(assembly.velocity - collider.body.velocity, n));
    const double colliderInverseMass = collider.body.mass > 1.0 ? 1.0 / collider.body.mass : 1.0;
    const double j = closing / (1.0 / assembly.mass + colliderInverseMass);
    assembly.velocity += n * (j / assembly.mass);
    physics.updateMembers(assembly, assembly.center, Quaternion{});
    physics.externalImpulses.push_back({collider.id, n * -j, closing});
}

// Advances one awake assembly by h under gravity and drag, then stops it against organism bodies,
// and notes it when it moved a piece further than the piece is thick.
void integrateAssembly(Physics& physics, std::int32_t index, double h) {
    StepScratch& scratch = physics.stepScratch;
    Assembly& assembly = physics.assemblies[static_cast<std::size_t>(index)];
    const Vec3 savedCenter = assembly.center;
    const SymmetricMatrix savedInertia = assembly.inertiaTensor();
    scratch.savedBodies.clear();
    for (const std::uint32_t id : assembly.members)
        scratch.savedBodies.push_back(physics.pieces[id - 1].body);

    const double k = physics.linearDrag;
    double e = 1.0;
    double a = h;
    double b = h * h / 2.0;
    if (k > 0.0) {
        e = std::exp(-k * h);
        if (k > 1e-8) {
            a = -std::expm1(-k * h) / k;
            b = (h - a) / k;
        }
    }
    assembly.center += assembly.velocity * a + physics.gravity * b;
    assembly.velocity = assembly.velocity * e + physics.gravity * a;
    assembly.angularVelocity *= std::exp(-physics.angularDrag * h / dragScale(assembly.mass));
    Quaternion turn;
    turn.integrate(assembly.angularVelocity, h);
    physics.updateMembers(assembly, savedCenter, turn);
    if (!(turn == Quaternion{}))
        assembly.setInertia(assembly.inertiaTensor().rotated(turn));

    if (!physics.colliders.empty())
        stopAtColliders(physics, index, savedCenter);
    if (fast::movedPastThickness(physics, assembly, scratch.savedBodies))
        fast::noteMove(physics, index, savedCenter, savedInertia, scratch.savedBodies);
}

// Ids of the alive pieces of awake assemblies, ascending: the solver's visiting order.
void collectAwakePieces(const Physics& physics, std::vector<std::uint32_t>& order) {
    order.clear();
    for (const Assembly& assembly : physics.assemblies) {
        if (assembly.asleep)
            continue;
        for (const std::uint32_t id : assembly.members)
            if (physics.pieces[id - 1].alive)
                order.push_back(id);
    }
    std::sort(order.begin(), order.end());
}

// An assembly woken in the middle of a pass joins the rest of that pass, and the broad phase learns
// that its pieces now move.
void noteWoken(Physics& physics, std::int32_t index, std::uint32_t after, std::size_t cursor) {
    StepScratch& scratch = physics.stepScratch;
    std::vector<std::uint32_t>& order = scratch.order;
    const std::size_t tail = order.size();
    for (const std::uint32_t id : physics.assemblies[static_cast<std::size_t>(index)].members) {
        scratch.awakeMark[id - 1] = 1;
        if (id > after && physics.pieces[id - 1].alive)
            order.push_back(id);
    }
    scratch.woken.push_back(index);
    scratch.wokenLog.push_back(index);
    if (order.size() == tail)
        return;
    // The rest of the pass is in order already: sort the newcomers and merge them in.
    const auto rest = order.begin() + static_cast<std::ptrdiff_t>(cursor) + 1;
    const auto added = order.begin() + static_cast<std::ptrdiff_t>(tail);
    std::sort(added, order.end());
    std::vector<std::uint32_t>& merged = scratch.merged;
    merged.clear();
    std::merge(rest, added, added, order.end(), std::back_inserter(merged));
    std::copy(merged.begin(), merged.end(), rest);
}

struct SolverContext {
    GravityFrame frame;
    double h = 0.0;
    int pass = 0;
};

// Extends an assembly's resting footprint by the lowest corners of a piece lying on something.
void extendFootprint(AssemblyContactState& state, const Polyhedron& body, const GravityFrame& frame) {
    const auto corners = body.vertices();
    std::array<Vec3, 8> local;
    double lowest = 1e300;
    for (int c = 0; c < 8; ++c) {
        local[c] = {dot(corners[c], frame.t1), dot(corners[c], frame.up), dot(corners[c], frame.t2)};
        lowest = std::min(lowest, local[c].y);
    }
    for (int c = 0; c < 8; ++c) {
        if (local[c].y > lowest + 0.03)
            continue;
        state.footMin = componentMin(state.footMin, local[c]);
        state.footMax = componentMax(state.footMax, local[c]);
    }
}

// One contact of piece i (assembly a) with piece j; b is j's assembly when it takes part as a
// moving body, -1 when j counts as fixed matter.
void resolveContact(Physics& physics, const SolverContext& ctx, std::uint32_t i, std::uint32_t j,
                    std::int32_t a, std::int32_t b, const Contact& contact, std::size_t cursor) {
    StepScratch& scratch = physics.stepScratch;
    const Vec3 n = contact.normal;
    const Vec3 p = contact.point;
    const bool dynamic = b >= 0;
    Assembly& asmA = physics.assemblies[static_cast<std::size_t>(a)];
    AssemblyContactState& stateA = scratch.contact[static_cast<std::size_t>(a)];

    if (dot(ctx.frame.up, n) < -0.7)
        extendFootprint(stateA, physics.pieces[i - 1].body, ctx.frame);
    stateA.touched = true;
    if (dynamic)
        scratch.contact[static_cast<std::size_t>(b)].touched = true;
    if (ctx.pass == 0) {
        stateA.normalSum += n;
        if (dynamic)
            scratch.contact[static_cast<std::size_t>(b)].normalSum -= n;
    }

    const double massA = asmA.mass;
    const Vec3 rA = p - asmA.center;
    const Vec3 pointVelocityA = asmA.velocity + cross(asmA.angularVelocity, rA);
    Vec3 pointVelocityB;
    Vec3 rB;
    double massB = physics.pieces[j - 1].body.mass;
    if (dynamic) {
        const Assembly& asmB = physics.assemblies[static_cast<std::size_t>(b)];
        rB = p - asmB.center;
        pointVelocityB = asmB.velocity + cross(asmB.angularVelocity, rB);
        massB = asmB.mass;
    }
    const Vec3 vrel = pointVelocityB - pointVelocityA;
    const double vn = dot(vrel, n);

    if (vn < 0.0) {
        double k = inverseMassAlong(asmA, rA, n);
        if (dynamic)
            k += inverseMassAlong(physics.assemblies[static_cast<std::size_t>(b)], rB, n);
        k = std::max(k, 1e-12);
        const double jn = -(1.0 + restitution) * vn / k;
        if (jn > 0.0) {
            const bool hard = ctx.pass == 0 && std::abs(vn) > 0.5;
            if (hard) {
                stateA.hard = true;
                stateA.massRatio = std::max(stateA.massRatio, massB / (massA + massB));
                if (dynamic) {
                    AssemblyContactState& stateB = scratch.contact[static_cast<std::size_t>(b)];
                    stateB.hard = true;
                    stateB.massRatio = std::max(stateB.massRatio, massA / (massA + massB));
                }
            }

            // A hit only wakes the other side when it lands fast and hard enough to matter to it.
            const bool wakeA = dynamic && length(pointVelocityB) > 1.0 && jn / massA > 0.3;
            solverImpulse(physics, a, n * -jn, p, wakeA);
            if (dynamic) {
                const bool wakeB = length(pointVelocityA) > 1.0 && jn / massB > 0.3;
                const bool wasAsleep = physics.assemblies[static_cast<std::size_t>(b)].asleep;
                solverImpulse(physics, b, n * jn, p, wakeB);
                if (wasAsleep && !physics.assemblies[static_cast<std::size_t>(b)].asleep)
                    noteWoken(physics, b, i, cursor);
            }

            const Vec3 vt = vrel - n * vn;
            const double slip = length(vt);
            if (slip > 0.01) {
                const Vec3 t = vt / slip;
                double kt = inverseMassAlong(asmA, rA, t);
                if (dynamic)
                    kt += inverseMassAlong(physics.assemblies[static_cast<std::size_t>(b)], rB, t);
                kt = std::max(kt, 1e-12);
                const double jt = std::min(slip / kt, friction * jn);
                solverImpulse(physics, a, t * jt, p, false);
                if (dynamic)
                    solverImpulse(physics, b, t * -jt, p, false);
                if (ctx.pass == 0)
                    stateA.slideWork += jt * slip;
            }

            if (hard) {
                const double energy = 0.5 * jn * std::abs(vn);
                physics.emitSound(physics.pieces[i - 1], p, energy, false, jn);
                if (std::abs(vn) > 2.0 && scratch.pendingImpacts.size() < maxContactImpacts) {
                    const Vec3& he = physics.pieces[i - 1].body.halfExtents;
                    const double face = std::max(0.002, std::min({he.x * he.y, he.y * he.z, he.z * he.x}));
                    if (jn / (ctx.h * face) > contactFractureStress) {
                        Impact hit;
                        hit.point = p;
                        hit.impulse = n * -jn;
                        hit.energy = energy;
                        hit.area = face;
                        hit.duration = ctx.h;
                        hit.radius = 0.3;
                        hit.weapon = false;
                        scratch.pendingImpacts.push_back({i, hit});
                    }
                }
            }
        }
    }

    // Push the pair apart by part of the overlap beyond a small allowance, in proportion to the
    // inverse masses. Without overlap there is nothing to move.
    const double inverseB = dynamic ? 1.0 / massB : 0.0;
    const double c = std::max(contact.depth - 0.003, 0.0) * 0.6 / std::max(1e-12, 1.0 / massA + inverseB);
    if (c > 0.0) {
        shiftAssembly(physics, a, n * (-c / massA));
        if (dynamic)
            shiftAssembly(physics, b, n * (c / massB));
    }

    if (ctx.pass == solverPasses - 1 && physics.time > physics.pieces[i - 1].bondableAt &&
        physics.time > physics.pieces[j - 1].bondableAt && std::abs(vn) < 0.2 && length(vrel) < 0.4 &&
        scratch.bondPairs.size() < 2 * maxBondCandidates && !physics.brokenPairs.contains(pairKey(i, j))) {
        scratch.bondPairs.push_back(i);
        scratch.bondPairs.push_back(j);
    }
}

// One candidate pair of the walk. Returns without a test where the walk skips the pair.
void tryPair(Physics& physics, const SolverContext& ctx, std::uint32_t i, std::uint32_t j, std::int32_t a,
             std::size_t cursor, bool count) {
    const MatterPiece& pj = physics.pieces[j - 1];
    if (!pj.alive || j == i || pj.assembly == a)
        return;
    std::int32_t b = pj.assembly;
    if (b >= 0) {
        const Assembly& asmB = physics.assemblies[static_cast<std::size_t>(b)];
        if (!asmB.asleep && j < i)
            return; // handled from j
        // A slow piece does not disturb a sleeping assembly: it rests on it as on fixed matter.
        const Assembly& asmA = physics.assemblies[static_cast<std::size_t>(a)];
        if (asmB.asleep && length(memberVelocity(asmA, physics.pieces[i - 1])) < 1.0)
            b = -1;
    }
    if (count)
        ++physics.contactTestCount;
    Contact contact;
    if (!collide(physics.pieces[i - 1].body, pj.body, contact))
        return;
    resolveContact(physics, ctx, i, j, a, b, contact, cursor);
}

// The plain walk over every id the grid lists for the query box.
void visitListed(Physics& physics, const SolverContext& ctx, std::uint32_t i, std::int32_t a, const Box& box,
                 std::size_t cursor) {
    StepScratch& scratch = physics.stepScratch;
    scratch.candidates = physics.query(box);
    for (const std::uint32_t j : scratch.candidates)
        tryPair(physics, ctx, i, j, a, cursor, true);
    scratch.woken.clear();
}

// The same walk, counted from the cell lists and tested only where contact is possible.
void visitNear(Physics& physics, const SolverContext& ctx, std::uint32_t i, std::int32_t a, const Box& box,
               std::size_t cursor) {
    StepScratch& scratch = physics.stepScratch;
    // A piece's range rarely changes from one pass to the next.
    const grid::CellRange cells = grid::cellRange(box, 0.0);
    const std::uint32_t range = pieceRange(physics, i, a, cells);
    refreshAwake(physics, range);
    const RangeInfo& info = scratch.ranges[range];
    const std::vector<std::uint32_t>& own =
        scratch.membersInRange[scratch.visits[scratch.visitSlots[i - 1].index].own];

    // Tested: every listed id except i's own assembly and the awake pieces of lower id.
    auto below = [i](const std::vector<std::uint32_t>& ids) {
        return static_cast<std::int64_t>(countBelow(ids, i));
    };
    const std::int64_t tested = static_cast<std::int64_t>(info.ids.size()) -
                                static_cast<std::int64_t>(own.size()) - (below(info.awake) - below(own));
    physics.contactTestCount += static_cast<std::uint64_t>(tested);

    // The contacts of the visit move i's assembly and those of the pieces it touches: once the
    // search no longer holds, search again from where i now is and go on after the last id tried.
    const NearSearch& search = searchOf(scratch, i);
    if (!searchHolds(physics, i, a, range))
        searchNear(physics, i, a, box, range);
    std::size_t next = search.begin;
    while (next < search.end) {
        const std::uint32_t j = scratch.searchIds[next++];
        tryPair(physics, ctx, i, j, a, cursor, false);
        // Pieces of lower id than i in an assembly this contact woke are no longer tested.
        for (const std::int32_t b : scratch.woken) {
            if (j >= i)
                break;
            const std::vector<std::uint32_t>& listed = membersInRange(physics, range, b);
            physics.contactTestCount -=
                static_cast<std::uint64_t>(std::lower_bound(listed.begin(), listed.end(), i) -
                                           std::upper_bound(listed.begin(), listed.end(), j));
        }
        scratch.woken.clear();
        if (search.shifts != scratch.shifts && !searchHolds(physics, i, a, range)) {
            searchNear(physics, i, a, widened(physics.pieces[i - 1].body.bounds(), 0.02), range);
            const auto ids = scratch.searchIds.begin();
            next =
                static_cast<std::size_t>(std::upper_bound(ids + static_cast<std::ptrdiff_t>(search.begin),
                                                          ids + static_cast<std::ptrdiff_t>(search.end), j) -
                                         ids);
        }
    }
}

// The visiting order of a later pass: that of the pass before and the members of the assemblies
// it woke (nothing falls asleep or dies while the solver runs).
void addWokenPieces(Physics& physics, std::size_t wokenBefore) {
    StepScratch& scratch = physics.stepScratch;
    std::vector<std::uint32_t>& added = scratch.candidates;
    added.clear();
    for (std::size_t k = wokenBefore; k < scratch.wokenLog.size(); ++k)
        for (const std::uint32_t id :
             physics.assemblies[static_cast<std::size_t>(scratch.wokenLog[k])].members)
            if (physics.pieces[id - 1].alive)
                added.push_back(id);
    if (added.empty())
        return;
    std::sort(added.begin(), added.end());
    mergeAscending(scratch.order, added, scratch.merged);
}

// wokenBefore: the assemblies woken before the last pass began.
void solvePass(Physics& physics, const SolverContext& ctx, std::size_t wokenBefore) {
    StepScratch& scratch = physics.stepScratch;
    if (ctx.pass == 0 || scratch.plainWalks)
        collectAwakePieces(physics, scratch.order);
    else
        addWokenPieces(physics, wokenBefore);
    for (std::size_t cursor = 0; cursor < scratch.order.size(); ++cursor) {
        const std::uint32_t i = scratch.order[cursor];
        const MatterPiece& pi = physics.pieces[i - 1];
        const std::int32_t a = pi.assembly;
        if (!pi.alive || a < 0 || physics.assemblies[static_cast<std::size_t>(a)].asleep)
            continue;
        const Box box = widened(pi.body.bounds(), 0.02);
        scratch.woken.clear();
        if (scratch.plainWalks || grid::needsScan(box))
            visitListed(physics, ctx, i, a, box, cursor);
        else
            visitNear(physics, ctx, i, a, box, cursor);
    }
}

// Friction with the ground, toppling, settling and sleep, once the solver has run.
void settleAssemblies(Physics& physics, const SolverContext& ctx) {
    const double h = ctx.h;
    const GravityFrame& frame = ctx.frame;
    for (std::size_t index = 0; index < physics.assemblies.size(); ++index) {
        Assembly& assembly = physics.assemblies[index];
        if (assembly.asleep)
            continue;
        const AssemblyContactState& state = physics.stepScratch.contact[index];

        // A tall assembly whose centre hangs out past what it stands on is tipping over: keep it awake.
        bool tipping = false;
        const double height = dot(assembly.center, frame.up) - state.footMin.y;
        if (height > 4.0) {
            const double c1 = dot(assembly.center, frame.t1);
            const double c2 = dot(assembly.center, frame.t2);
            tipping = c1 < state.footMin.x - 0.05 || c1 > state.footMax.x + 0.05 ||
                      c2 < state.footMin.z - 0.05 || c2 > state.footMax.z + 0.05;
        }
        if (tipping) {
            assembly.wakeTime = physics.time;
            for (const std::uint32_t id : assembly.members)
                physics.pieces[id - 1].stateTime = physics.time;
        }

        const Vec3 normal = normalized(state.normalSum);
        if (!(state.normalSum == Vec3{}) && !tipping) {
            const Vec3 tangential = assembly.velocity - normal * dot(assembly.velocity, normal);
            assembly.velocity -= tangential * (1.0 - std::exp(-physics.contactDrag * h));
            assembly.angularVelocity *= std::exp(-physics.contactAngularDrag * h / dragScale(assembly.mass));
        }
        if (state.hard && !(normal == Vec3{})) {
            // A hard hit takes away that share of the angular momentum about the contact normal. For a
            // body as wide every way this is that share of the spin about the normal; for a long one,
            // taking the spin itself away could leave a turn of more energy than it had.
            const double keep = 1.0 - state.massRatio;
            const SymmetricMatrix inertia = assembly.inertiaTensor();
            const Vec3 turned = inertia * normal;
            const double share = dot(turned, assembly.angularVelocity) / dot(turned, normal);
            assembly.angularVelocity -= normal * (share * (1.0 - keep * keep));
        }
        if (state.touched && !tipping) {
            if (length(assembly.velocity) <= 0.12)
                assembly.velocity = {};
            const Vec3& w = assembly.angularVelocity;
            if (std::abs(w.x) <= 0.08 && std::abs(w.y) <= 0.08 && std::abs(w.z) <= 0.08)
                assembly.angularVelocity = {};
        }
        physics.updateMembers(assembly, assembly.center, Quaternion{});

        if (!tipping && length(assembly.velocity) < 0.08 && length(assembly.angularVelocity) < 0.04) {
            assembly.restTime += h;
            if (assembly.restTime > 1.0) {
                assembly.asleep = true;
                assembly.velocity = {};
                assembly.angularVelocity = {};
                for (const std::uint32_t id : assembly.members) {
                    MatterPiece& piece = physics.pieces[id - 1];
                    piece.asleep = true;
                    piece.body.velocity = {};
                    piece.body.angularVelocity = {};
                }
            }
        } else {
            assembly.restTime = 0.0;
        }
    }
}

// Scraping and rushing voices of the moving assemblies, evaluated every 0.1 s.
void emitMotionSounds(Physics& physics) {
    int made = 0;
    for (std::size_t index = 0; index < physics.assemblies.size() && made < maxSlideSounds; ++index) {
        const Assembly& assembly = physics.assemblies[index];
        if (assembly.asleep || assembly.members.empty())
            continue;
        double energy = physics.stepScratch.contact[index].slideWork;
        std::int32_t kind = 1;
        if (energy < 2.0) {
            const double speed = length(assembly.velocity);
            if (speed < 8.0)
                continue;
            energy = assembly.mass * 0.5 * speed * speed * -std::expm1(-2.0 * physics.linearDrag * 0.1);
            if (energy < 2.0)
                continue;
            kind = 2;
        }
        if (physics.sounds.size() >= maxSounds)
            break;
        const double size = std::cbrt(assembly.mass / density);
        CollisionSound sound;
        sound.position = physics.pieces[assembly.members.front() - 1].body.center;
        sound.pitch = size > 0.2 ? std::clamp(500.0 / size, 40.0, 1600.0) : 1600.0;
        sound.energy = energy;
        sound.duration = 0.13;
        sound.fractured = false;
        sound.impulse = std::sqrt(2.0 * assembly.mass * energy) * 0.05;
        sound.kind = kind;
        physics.sounds.push_back(sound);
        ++made;
    }
}

bool intactBondJoins(const Physics& physics, std::uint32_t i, std::uint32_t j) {
    for (const std::uint64_t k : physics.adjacency[i - 1]) {
        const Bond& bond = physics.bonds[k];
        if (bond.intact && ((bond.a == i && bond.b == j) || (bond.a == j && bond.b == i)))
            return true;
    }
    return false;
}

// Pieces that came to rest against each other grow a bond where they touch.
void formContactBonds(Physics& physics) {
    const auto& pairs = physics.stepScratch.bondPairs;
    for (std::size_t k = 0; k + 1 < pairs.size(); k += 2) {
        const std::uint32_t i = pairs[k];
        const std::uint32_t j = pairs[k + 1];
        if (physics.brokenPairs.contains(pairKey(i, j)) || intactBondJoins(physics, i, j))
            continue;
        if (physics.bonds.size() >= Physics::maxBonds)
            break;
        const MatterPiece& pi = physics.pieces[i - 1];
        const MatterPiece& pj = physics.pieces[j - 1];
        Bond bond;
        if (!faceContact(pi, pj, bond)) {
            Contact contact;
            if (!collide(pi.body, pj.body, contact))
                continue;
            const Vec3& hi = pi.body.halfExtents;
            const Vec3& hj = pj.body.halfExtents;
            bond = Bond{};
            bond.a = i;
            bond.b = j;
            bond.area = std::max(0.002, std::min(hj.x * hi.z, hi.x * hj.z));
            bond.center = contact.point;
            bond.normal = contact.normal;
        }
        const std::uint64_t index = physics.bonds.size();
        physics.bonds.push_back(bond);
        physics.adjacency[i - 1].push_back(index);
        physics.adjacency[j - 1].push_back(index);
        ++physics.contactBondCount;
        physics.noteTopologyChange(); // the new bond notes its ends by its index
    }
}

bool anyAwakeAssemblyHasMembers(const Physics& physics) {
    for (const Assembly& assembly : physics.assemblies)
        if (!assembly.asleep && !assembly.members.empty())
            return true;
    return false;
}

} // namespace

void Physics::stopMotion() {
    changes.motionChanged();
    for (Assembly& assembly : assemblies) {
        assembly.asleep = true;
        assembly.velocity = {};
        assembly.angularVelocity = {};
    }
    for (MatterPiece& piece : pieces) {
        piece.asleep = true;
        piece.body.velocity = {};
        piece.body.angularVelocity = {};
    }
    motionStopped = true;
    wakePending = false;
    motionEndedAt = motionUntil;
}

void Physics::expireMotion() {
    const bool due =
        motionStopped ? (wakePending && time + 1e-9 >= wakeDeadline) : time + 1e-9 >= motionUntil;
    if (due)
        stopMotion();
}

void Physics::beginWeaponImpact() {
    expireMotion();
    motionStopped = false;
    motionUntil = time + 10.0;
}

void Physics::contactImpulse(std::uint32_t id, const Vec3& impulse, const Vec3& point) {
    // Not-a-number pushes are refused like pushes too small to matter.
    if (id == 0 || id > pieces.size() || !pieces[id - 1].alive || !(length(impulse) >= 1e-8) ||
        !std::isfinite(length(impulse)) || !std::isfinite(length(point)))
        return;
    expireMotion();
    if (topologyDirty)
        refreshNotedTopology();
    const std::int32_t assembly = pieces[id - 1].assembly;
    if (assembly < 0)
        return; // supported matter does not give way to a push
    wakePending = true;
    wakeDeadline = time + shortWakeWindow;
    applyAssemblyImpulse(assembly, impulse, point, true);
}

void Physics::applyAssemblyImpulse(std::int32_t index, const Vec3& impulse, const Vec3& point, bool wake) {
    if (!usableImpulse(impulse, point) || index < 0 || static_cast<std::size_t>(index) >= assemblies.size())
        return;
    Assembly& assembly = assemblies[static_cast<std::size_t>(index)];
    if (assembly.asleep && !wake)
        return;
    changes.assemblyPushed(static_cast<std::size_t>(index));
    if (wake) {
        assembly.asleep = false;
        assembly.restTime = 0.0;
        assembly.wakeTime = time;
    }
    assembly.velocity += impulse / assembly.mass;
    assembly.angularVelocity += turnOf(assembly, point - assembly.center, impulse);
    for (const std::uint32_t id : assembly.members) {
        MatterPiece& piece = pieces[id - 1];
        if (wake) {
            piece.asleep = false;
            piece.stateTime = time;
        }
        piece.body.angularVelocity = assembly.angularVelocity;
        piece.body.velocity =
            assembly.velocity + cross(assembly.angularVelocity, piece.body.center - assembly.center);
    }
}

void Physics::emitSound(const MatterPiece& piece, const Vec3& position, double energy, bool fractured,
                        double impulse) {
    if (sounds.size() >= maxSounds || !(energy >= 0.1))
        return;
    const Vec3& h = piece.body.halfExtents;
    const double size = std::cbrt(8.0 * h.x * h.y * h.z);
    CollisionSound sound;
    sound.position = position;
    sound.pitch = size <= 0.25 ? 3200.0 : std::clamp(1200.0 / size, 35.0, 3200.0);
    sound.energy = energy;
    sound.duration = std::clamp(0.07 * size + 0.18, 0.2, 1.8);
    sound.fractured = fractured;
    sound.impulse = impulse > 0.0 ? impulse : std::sqrt(2.0 * piece.body.mass * energy);
    sound.kind = 0;
    sounds.push_back(sound);
}

void Physics::prepareStepStorage() {
    broad::prepareBroadPhase(*this);
}

void Physics::step(double dt) {
    externalImpulses.clear();
    if (!std::isfinite(dt) || dt <= 0.0)
        return;
    const double stepEnd = time + dt;
    expireMotion();
    const double end = motionWindowEnd();

    if (time >= end) {
        // The world is frozen: only the clock moves.
        time = stepEnd;
        sounds.clear();
        contactTestCount = 0;
        if (topologyDirty)
            refreshNotedTopology();
        reclaimHistoryIfNeeded();
        return;
    }

    SolverContext ctx;
    ctx.h = std::min(dt, end - time);
    ctx.frame = gravityFrame(gravity);
    sounds.clear();
    contactTestCount = 0;
    if (topologyDirty)
        refreshNotedTopology();

    if (!anyAwakeAssemblyHasMembers(*this)) {
        time = stepEnd;
        expireMotion();
        reclaimHistoryIfNeeded();
        return;
    }

    // Everything from here on moves, pushes or settles the assemblies.
    changes.motionChanged();
    for (std::size_t index = 0; index < assemblies.size(); ++index)
        if (!assemblies[index].asleep)
            integrateAssembly(*this, static_cast<std::int32_t>(index), ctx.h);

    rebuildNotedGrid();
    if (fast::stopAtFirstMatter(*this))
        rebuildNotedGrid();
    bool slideSoundsDue = false;
    if (slideSoundAt <= time) {
        slideSoundAt = time + slideSoundInterval;
        slideSoundsDue = true;
    }

    StepScratch& scratch = stepScratch;
    scratch.contact.assign(assemblies.size(), AssemblyContactState{});
    scratch.bondPairs.clear();
    scratch.pendingImpacts.clear();
    beginBroadPhase(*this);
    std::size_t lastPassWoken = 0;
    for (ctx.pass = 0; ctx.pass < solverPasses; ++ctx.pass) {
        const std::size_t passWoken = scratch.wokenLog.size();
        solvePass(*this, ctx, lastPassWoken);
        lastPassWoken = passWoken;
    }

    settleAssemblies(*this, ctx);
    if (slideSoundsDue)
        emitMotionSounds(*this);
    formContactBonds(*this);

    for (std::size_t k = 0; k < scratch.pendingImpacts.size(); ++k) {
        const PendingImpact pending = scratch.pendingImpacts[k];
        impact(pending.id, pending.hit);
    }
    if (topologyDirty)
        refreshNotedTopology();
    time = stepEnd;
    expireMotion();
    rebuildNotedGrid();
    reclaimHistoryIfNeeded();
}

} // namespace zarn
