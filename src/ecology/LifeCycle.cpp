#include <algorithm>
#include <cmath>

#include "ecology/Ecology.hpp"
#include "ecology/PatchMatter.hpp"
#include "physics/Hash.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {

namespace {

// A patch is left once the player is this far from its centre across, or this far above or below.
constexpr double patchStayReach = 704.0;
constexpr double patchStayHeight = 7000.0;
// Evaporation: a patch gives off at most one rising Slab this often, s, when its water is still
// there (the trace from just above the water point finds a water piece within its reach).
constexpr double evaporationInterval = 45.0;
constexpr double evaporationProbeHeight = 2.0;
constexpr double evaporationProbeReach = 4.0;
// Water gives off nothing while more than this many Slabs are airborne.
constexpr std::size_t maxAirborneSlabs = 23;
// Slabs drift at five times the prevailing wind and rise at 45 m/s, drifting flat above 2400 m.
constexpr double windDrift = 5.0;
constexpr double riseSpeed = 45.0;
constexpr double driftAltitude = 2400.0;
// Slabs that have not landed vanish this far from the player, across.
constexpr double airborneReach = 6500.0;
// A lying Slab sows a Cube every 30 s in daylight.
constexpr double sowingInterval = 30.0;

// The seed of a non-negative number of whole units, wrapped into u32.
std::uint32_t wholeSeed(double value) {
    const double whole = std::trunc(value);
    if (!(whole >= 0.0 && whole < 18446744073709551616.0))
        return 0;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
}

double across(const Vec3& a, const Vec3& b) {
    return std::hypot(a.x - b.x, a.z - b.z);
}

std::size_t airborneSlabs(const std::vector<Organism>& organisms) {
    return static_cast<std::size_t>(std::count_if(organisms.begin(), organisms.end(), [](const Organism& o) {
        return o.alive && o.kind == LifeKind::Slab && o.stage < 3;
    }));
}

// The patches the player has left become archives: their alive organisms and the intact bonds
// between them, taken out of the live lists.
void archiveLeftPatches(Ecology& ecology, const Vec3& focus) {
    for (auto it = ecology.patches.begin(); it != ecology.patches.end();) {
        const Ecology::Patch& patch = it->second;
        if (across(patch.center, focus) <= patchStayReach &&
            std::abs(patch.center.y - focus.y) < patchStayHeight) {
            ++it;
            continue;
        }
        Ecology::Archive archive;
        std::vector<std::uint32_t> ids;
        for (Organism& o : ecology.organisms) {
            if (o.patch != patch.id)
                continue;
            if (o.alive) {
                archive.organisms.push_back(o);
                ids.push_back(o.id);
            }
            o.alive = 0;
        }
        std::sort(ids.begin(), ids.end());
        auto archived = [&ids](std::uint32_t id) { return std::binary_search(ids.begin(), ids.end(), id); };
        for (BioBond& bond : ecology.bonds)
            if (bond.active && !bond.toWorld && archived(bond.a) && archived(bond.b)) {
                archive.bonds.push_back(bond);
                bond.active = 0;
            }
        archive.dayClock = ecology.dayClock;
        ecology.archives[it->first] = std::move(archive);
        ++ecology.archiveCounter;
        ecology.archiveStamps[it->first] = ecology.archiveCounter;
        it = ecology.patches.erase(it);
    }
}

// Past the limit the archive stored longest ago goes; an archive without a stamp counts as oldest.
void evictOldArchives(Ecology& ecology) {
    while (ecology.archives.size() > Ecology::maxArchives) {
        auto oldest = ecology.archives.begin();
        std::uint64_t oldestStamp = ~std::uint64_t{0};
        for (auto it = ecology.archives.begin(); it != ecology.archives.end(); ++it) {
            const auto stamp = ecology.archiveStamps.find(it->first);
            const std::uint64_t value = stamp == ecology.archiveStamps.end() ? 0 : stamp->second;
            if (value < oldestStamp) {
                oldestStamp = value;
                oldest = it;
            }
        }
        ecology.archiveStamps.erase(oldest->first);
        ecology.archives.erase(oldest);
    }
}

// Patches whose water lies in daylight give off a rising Slab every 45 s.
void evaporate(Ecology& ecology, const Physics& physics, const EarthModel& model) {
    for (auto& [key, patch] : ecology.patches) {
        if (patch.nextEvaporation > ecology.time || patch.water.empty() ||
            !Ecology::daylight(ecology.dayClock, patch.center))
            continue;
        patch.nextEvaporation = ecology.time + evaporationInterval;
        const Vec3 water = patch.water[0];
        const PieceHit hit = physics.trace(water + Vec3{0.0, evaporationProbeHeight, 0.0}, {0.0, -1.0, 0.0},
                                           evaporationProbeReach);
        if (!hit.hit || hit.index >= physics.pieces.size() ||
            !patchmatter::isWater(physics.pieces[hit.index]))
            continue;
        if (airborneSlabs(ecology.organisms) > maxAirborneSlabs)
            continue;
        const std::size_t before = ecology.organisms.size();
        ecology.add(LifeKind::Slab, water, patch.id,
                    hash32(static_cast<std::uint32_t>(ecology.nextId + 840u)),
                    ecology.profile(model, patch.center), 0.0);
        if (ecology.organisms.size() > before) {
            Organism& slab = ecology.organisms.back();
            patchmatter::makeAirborne(slab, 0, slab.id + 56u);
        }
    }
}

// A rising or drifting Slab moves with the wind (x east, z north); it drifts flat once above 2400 m
// and may start to rain where the ground is stressed.
void driftWithTheWind(Organism& slab, const EarthModel& model, double time) {
    const bool farSide = EarthModel::onFarSide(slab.center);
    const EarthRegion climate = model.at(slab.center.x, slab.center.z, farSide);
    const double ground = model.surface(slab.center.x, slab.center.z, farSide);
    slab.velocity = {windDrift * climate.windEast, slab.stage == 0 ? riseSpeed : 0.0,
                     windDrift * climate.windNorth};
    if (slab.center.y - ground > driftAltitude)
        slab.stage = 1;
    if (slab.stage == 1 && std::sin(0.025 * time + 0.001 * slab.center.x) + climate.stress > 0.8 &&
        unitHash(wholeSeed(0.125 * time) + slab.id) < 0.18)
        slab.stage = 2;
}

// Every organism present when the pass starts ages; Slabs rise, drift, rain, vanish far away or,
// lying, sow Cubes. Organisms added here are first visited by the next pass.
void lifePass(Ecology& ecology, const EarthModel& model, const Vec3& focus) {
    const std::size_t present = ecology.organisms.size();
    for (std::size_t index = 0; index < present; ++index) {
        Organism& o = ecology.organisms[index];
        if (!o.alive)
            continue;
        Ecology::age(o, ecology.dayClock);
        if (!o.alive) {
            ++ecology.deaths;
            continue;
        }
        if (o.kind != LifeKind::Slab)
            continue;
        if (o.stage <= 1)
            driftWithTheWind(o, model, ecology.time);
        if (o.stage <= 2) {
            if (across(o.center, focus) > airborneReach)
                o.alive = 0;
            continue;
        }
        if (!Ecology::daylight(ecology.dayClock, o.center) || o.nextActionTime > ecology.time)
            continue;
        o.nextActionTime = ecology.time + sowingInterval;
        const Vec3 top = o.center + Vec3{0.0, o.halfExtents.y, 0.0};
        const EcoProfile profile = ecology.profile(model, o.center);
        const std::uint64_t patch = o.patch;
        const std::uint32_t seed = wholeSeed(ecology.time) + o.id;
        ecology.add(LifeKind::Cube, top, patch, seed, profile, 0.0);
    }
}

} // namespace

void Ecology::step(Physics& physics, const EarthModel& model, Vec3 focus, Vec3, double) {
    organisms.reserve(capacity);
    archiveLeftPatches(*this, focus);
    evictOldArchives(*this);
    std::erase_if(organisms, [](const Organism& o) { return !o.alive; });
    evaporate(*this, physics, model);
    lifePass(*this, model, focus);
}

} // namespace zarn
