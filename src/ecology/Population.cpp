#include <algorithm>
#include <cmath>

#include "ecology/Ecology.hpp"
#include "ecology/PatchMatter.hpp"
#include "physics/Hash.hpp"
#include "planet/DayCycle.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {

namespace {

using patchmatter::topCenter;

// A new patch may give off its first rising Slab this long after it was populated, s.
constexpr double firstEvaporationDelay = 4.0;
constexpr std::size_t maxWaterPoints = 2;
// Far-side patches draw from other seeds than the near-side patch of the same cell.
constexpr std::uint32_t farSideSalt = 0x11645u;
constexpr double maxCubesPerPatch = 4.0;
// Species stand a little apart from the ground points they are drawn at, just above the ground.
constexpr Vec3 speciesAOffset{5.0, 0.01, 0.0};
constexpr Vec3 speciesBOffset{-5.0, 0.01, 0.0};
// A Slab over water starts high up, drifting.
constexpr double raisedSlabLift = 2200.0;
constexpr double raisedSlabLiftSpan = 1400.0;

constexpr double lifeStepInterval = 0.05;
constexpr double bodyStep = 1.0 / 60.0;
// A body step runs once this much time has gathered: a hair under 1/60 s, so that rounding in the
// sums of small steps never skips one.
constexpr double bodyStepDue = 0.016666666566666665;

std::uint32_t patchSeed(std::int32_t i, std::int32_t j, bool farSide) {
    std::uint32_t s = hash32(static_cast<std::uint32_t>(i)) ^ hash32(static_cast<std::uint32_t>(j) + 991u);
    return farSide ? s ^ farSideSalt : s;
}

// Element h(seed) mod the list's size of a non-empty list.
template <class T> const T& drawn(const std::vector<T>& list, std::uint32_t seed) {
    return list[hash32(seed) % list.size()];
}

} // namespace

void Ecology::populate(std::int32_t i, std::int32_t j, bool farSide, std::uint64_t patchId,
                       const std::vector<MatterPiece>& pieces, const EarthModel& model, bool savedMatter) {
    const PatchKey key{i, j, farSide};
    if (const auto live = patches.find(key); live != patches.end()) {
        // The chunk was made again while its patch still lives: the organisms follow the new id.
        const std::uint64_t oldId = live->second.id;
        live->second.id = patchId;
        for (Organism& o : organisms)
            if (o.patch == oldId)
                o.patch = patchId;
        return;
    }

    const double x = ChunkCell::middle(i);
    const double z = ChunkCell::middle(j);
    const double y = model.surface(x, z, farSide);
    if (!std::isfinite(y))
        return;
    Patch patch;
    patch.id = patchId;
    patch.center = {x, y, z};
    for (const MatterPiece& piece : pieces)
        if (patch.water.size() < maxWaterPoints && patchmatter::isWater(piece))
            patch.water.push_back(topCenter(piece));
    patch.nextEvaporation = time + firstEvaporationDelay;
    const Patch& held = patches[key] = patch;

    if (const auto archived = archives.find(key); archived != archives.end()) {
        // Back to a patch left earlier: its organisms return, aged by the dawns that passed.
        for (Organism o : archived->second.organisms) {
            age(o, dayClock);
            o.patch = patchId;
            if (o.alive && organisms.size() < capacity)
                organisms.push_back(o);
        }
        // Bonds whose end did not come back lapse in the next spring pass.
        bonds.insert(bonds.end(), archived->second.bonds.begin(), archived->second.bonds.end());
        archives.erase(archived);
        archiveStamps.erase(key);
        return;
    }

    const std::uint32_t s = patchSeed(i, j, farSide);
    const EcoProfile p = profile(model, held.center);
    std::vector<Vec3> ground;
    for (const MatterPiece& piece : pieces)
        if (patchmatter::isGround(piece))
            ground.push_back(topCenter(piece));
    const bool onLand = !farSide && !ground.empty();

    if (onLand) {
        const auto cubes =
            static_cast<std::uint32_t>(std::min(maxCubesPerPatch, std::floor(unitHash(s) + p.size)));
        for (std::uint32_t k = 0; k < cubes; ++k)
            add(LifeKind::Cube, drawn(ground, s + k), patchId, s + k, p, 8.0 * unitHash(s + 100u + k));
        if (unitHash(s + 32u) < 0.4 * p.assemblyRate && !speciesA.empty())
            spawnAssembly(drawn(speciesA, s + 48u), drawn(ground, s + 22u) + speciesAOffset, patchId);
        // A chunk back from the saved state still holds the grey matter of its group B species.
        if (!savedMatter && !speciesB.empty() && unitHash(s + 93u) < 0.3)
            spawnAssembly(drawn(speciesB, s + 94u), ground.back() + speciesBOffset, patchId);
    }
    if (!held.water.empty() && unitHash(s + 64u) < 0.45 * p.abundance) {
        const std::size_t before = organisms.size();
        add(LifeKind::Slab, held.water[0], patchId, s + 65u, p, 0.0);
        if (organisms.size() > before) {
            Organism& slab = organisms.back();
            patchmatter::makeAirborne(slab, 1, s + 67u);
            slab.center.y += raisedSlabLift + raisedSlabLiftSpan * unitHash(s + 66u);
        }
    }
    if (onLand && unitHash(s + 71u) < 0.16 * p.abundance)
        add(LifeKind::Slab, ground.back(), patchId, s + 72u, p, 7.0 * unitHash(s + 73u));
}

void Ecology::update(Physics& physics, const EarthModel& model, Vec3 focus, Vec3 gravity, double dt,
                     double dayRate) {
    if (!std::isfinite(dt) || dt <= 0.0)
        return;
    const double days = dt * dayRate / DayCycle::secondsPerDay;
    if (std::isfinite(days))
        dayClock += days;
    time += dt;
    stepAccumulator += dt;
    bodyAccumulator += dt;
    if (stepAccumulator >= lifeStepInterval) {
        step(physics, model, focus, gravity, stepAccumulator);
        stepAccumulator = 0.0;
    }
    for (int steps = 0; bodyAccumulator >= bodyStepDue; ++steps) {
        if (steps == maxBodySteps) {
            bodyAccumulator = std::fmod(bodyAccumulator, bodyStep);
            break;
        }
        moveBodies(physics, model, focus, gravity, bodyStep);
        bodyAccumulator -= bodyStep;
    }
}

} // namespace zarn
