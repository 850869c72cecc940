#include <algorithm>
#include <cmath>
#include <utility>

#include "physics/GridCells.hpp"
#include "physics/Physics.hpp"

namespace zarn {

namespace {

constexpr double density = 1200.0; // kg/m³ of every piece of matter

bool finiteVector(const Vec3& v) {
    return std::isfinite(length(v));
}

bool pieceValid(const MatterPiece& piece, std::size_t index) {
    const Polyhedron& body = piece.body;
    if (piece.id != index + 1)
        return false;
    const double reach = length(body.center);
    if (!std::isfinite(reach) || reach > 1e12)
        return false;
    if (!finiteVector(body.velocity) || !finiteVector(body.angularVelocity))
        return false;
    const Quaternion& q = body.orientation;
    const double norm = q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z;
    if (!std::isfinite(norm) || std::abs(norm - 1.0) > 0.01)
        return false;
    const Vec3& h = body.halfExtents;
    const double size = length(h);
    if (!std::isfinite(size) || size > 1000.0)
        return false;
    return h.x >= 0.001 && h.y >= 0.001 && h.z >= 0.001;
}

// Appends the piece to the store with its id, mass and creation time; 0 when it cannot be listed.
std::uint32_t appendPiece(Physics& physics, MatterPiece piece) {
    if (physics.pieces.size() >= Physics::maxPieces || !grid::listable(piece.body))
        return 0;
    const auto id = static_cast<std::uint32_t>(physics.pieces.size() + 1);
    // Copied once, into the store, and completed there.
    MatterPiece& stored = physics.pieces.emplace_back(std::move(piece));
    const Vec3& h = stored.body.halfExtents;
    stored.id = id;
    stored.body.mass = 8.0 * h.x * h.y * h.z * density;
    if (stored.stateTime < 0.0)
        stored.stateTime = physics.time;
    return id;
}

} // namespace

std::uint32_t Physics::add(MatterPiece piece) {
    const std::uint32_t id = appendPiece(*this, std::move(piece));
    // Set as from outside: loaders add pieces and may change others before the refresh, so the
    // next refresh redoes everything. Splits add theirs as noted changes.
    if (id != 0)
        topologyDirty = true;
    return id;
}

std::uint32_t Physics::addNoted(const MatterPiece& piece) {
    // The new piece is noted by the count of pieces.
    const std::uint32_t id = appendPiece(*this, piece);
    if (id != 0)
        noteTopologyChange();
    return id;
}

void Physics::remove(std::uint32_t index) {
    if (index >= pieces.size() || !pieces[index].alive)
        return;
    // Noted as physics notes a split's parent, so that the refresh walks only what it reaches.
    noteTopologyChange();
    notePiece(index);
    noteMoved(index);
    pieces[index].alive = false;
}

void Physics::clear() {
    colliders.clear();
    externalImpulses.clear();
    pieces.clear();
    bonds.clear();
    brokenPairs.clear();
    assemblies.clear();
    sounds.clear();
    cells.clear();
    gridEntries.clear();
    adjacency.clear();
    gravity = {0.0, -9.80665, 0.0};
    topologyDirty = true;
    wakePending = false;
    motionUntil = 10.0;
    motionEndedAt = -1.0;
    wakeDeadline = -1.0;
    motionStopped = false;
    time = 0.0;
    slideSoundAt = 0.0;
    fractureCount = 0;
    brokenBondCount = 0;
    contactBondCount = 0;
    contactTestCount = 0;
    fullRefreshCount = 0;
    topologyScratch.deadPieces = 0;
    topologyScratch.brokenBonds = 0;
    changes = ChangeNotes{};
    buildingMassCounts.clear();
}

bool Physics::validate() const {
    if (pieces.size() > maxPieces || bonds.size() > maxBonds)
        return false;
    for (std::size_t index = 0; index < pieces.size(); ++index)
        if (!pieceValid(pieces[index], index))
            return false;
    const std::uint64_t count = pieces.size();
    for (const Bond& bond : bonds) {
        if (bond.a == 0 || bond.b == 0 || bond.a > count || bond.b > count || bond.a == bond.b)
            return false;
        if (!std::isfinite(bond.area) || !(bond.area > 0.0))
            return false;
    }
    return true;
}

std::uint64_t Physics::movingPieceCount() const {
    std::uint64_t count = 0;
    for (const Assembly& assembly : assemblies)
        if (!assembly.asleep)
            count += assembly.members.size();
    return count;
}

std::uint64_t Physics::aliveCount() const {
    std::uint64_t count = 0;
    for (const MatterPiece& piece : pieces)
        count += piece.alive ? 1 : 0;
    return count;
}

std::uint64_t Physics::awakeCount() const {
    std::uint64_t count = 0;
    for (const Assembly& assembly : assemblies)
        count += assembly.asleep ? 0 : 1;
    return count;
}

double BuildingMass::kilograms(const std::uint64_t (&sum)[2]) {
    return (static_cast<double>(sum[1]) * 18446744073709551616.0 + static_cast<double>(sum[0])) / unitsPerKg;
}

void BuildingMass::clear() {
    total[0] = total[1] = loose[0] = loose[1] = 0;
    units.clear();
    isLoose.clear();
}

namespace {

void addUnits(std::uint64_t (&sum)[2], std::uint64_t units) {
    sum[0] += units;
    sum[1] += sum[0] < units ? 1 : 0;
}

void subtractUnits(std::uint64_t (&sum)[2], std::uint64_t units) {
    sum[1] -= sum[0] < units ? 1 : 0;
    sum[0] -= units;
}

} // namespace

void BuildingMass::recount(std::size_t index, std::uint64_t now, bool nowLoose) {
    if (index >= units.size()) {
        units.resize(index + 1, 0);
        isLoose.resize(index + 1, 0);
    }
    subtractUnits(total, units[index]);
    if (isLoose[index])
        subtractUnits(loose, units[index]);
    addUnits(total, now);
    if (nowLoose)
        addUnits(loose, now);
    units[index] = now;
    isLoose[index] = nowLoose ? 1 : 0;
}

void BuildingMass::keepFirst(std::size_t count) {
    for (std::size_t index = count; index < units.size(); ++index)
        this->count(index, false, false, 0.0);
    units.resize(std::min(units.size(), count));
    isLoose.resize(units.size());
}

double Physics::totalMass() const {
    double mass = 0.0;
    for (const MatterPiece& piece : pieces)
        if (piece.alive)
            mass += piece.body.mass;
    return mass;
}

void Physics::setGravity(const Vec3& g) {
    if (finiteVector(g))
        gravity = g;
}

} // namespace zarn
