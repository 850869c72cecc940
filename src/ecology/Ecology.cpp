#include "ecology/Ecology.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

#include "ecology/BoxFrame.hpp"
#include "physics/Hash.hpp"
#include "planet/DayCycle.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {

namespace {

// Densities, kg/m³: Slabs are airy, Cubes and Blocks solid.
constexpr double slabDensity = 8.0;
constexpr double solidDensity = 80.0;

// A Cube passes through these colours over its nine dawns.
constexpr std::array<Vec3, 4> cubeColors{Vec3{0.48, 0.85, 0.22}, Vec3{0.10, 0.40, 0.13},
                                         Vec3{0.86, 0.72, 0.12}, Vec3{0.36, 0.20, 0.09}};
constexpr double cubeLifeDawns = 9.0;
constexpr std::int32_t slabFallDawns = 11;
constexpr std::int32_t lyingSlabDawns = 9;
// Falling and lying Slabs are drawn from pale to deep blue as they grow.
constexpr Vec3 smallSlabBlue{0.6, 0.77, 0.92};
constexpr Vec3 largeSlabBlue{0.04, 0.23, 0.91};
constexpr Vec3 slabGrey{0.84, 0.89, 0.92};

// Slabs made by add stay at most this wide (half extent, m).
constexpr double addedSlabHalfLimit = 12.0;

Vec3 blend(const Vec3& from, const Vec3& to, double t) {
    return from + (to - from) * t;
}

// The day time of the local dawn at a position, as a fraction of a day: the sun rises there
// whenever the day clock passes this value plus a whole number of days. Noon is a quarter day later.
double dawnPhase(const Vec3& p) {
    const double up = p.y + EarthModel::centreDepth;
    const double r = length(Vec3{p.x, up, p.z});
    double s = 0.0;
    double c = 0.0;
    if (r > 1e-9) {
        s = (DayCycle::obliquityCos * p.x + DayCycle::obliquitySin * p.z) / r;
        c = up / r;
    }
    return (std::atan2(s, c) - std::numbers::pi / 2.0) / (2.0 * std::numbers::pi);
}

// Half of a Slab's width or a Cube's side, the size first held within [smallest, largest].
double clampedHalf(double size, double smallest, double largest) {
    if (size < smallest)
        return smallest / 2.0;
    if (size > largest)
        return largest / 2.0;
    return size / 2.0;
}

} // namespace

Ecology::Ecology() : profiles(profileCount) {
    organisms.reserve(capacity);
}

void Ecology::add(LifeKind kind, const Vec3& position, std::uint64_t patch, std::uint32_t seed,
                  const EcoProfile& profile, double daysAgo) {
    if (organisms.size() >= maxAdded)
        return;
    if (kind == LifeKind::Slab) {
        const auto firstGeneration = std::count_if(organisms.begin(), organisms.end(), [](const Organism& o) {
            return o.alive && o.kind == LifeKind::Slab && o.generation == 0;
        });
        if (static_cast<std::size_t>(firstGeneration) >= maxFirstGenerationSlabs)
            return;
    }

    Organism o;
    o.id = static_cast<std::uint32_t>(nextId);
    ++nextId;
    o.kind = kind;
    o.patch = patch;
    o.center = position;
    o.stage = 3;
    o.alive = 1;
    o.placing = 1;
    o.health = 100.0;
    o.birthTime = dayClock - daysAgo;
    o.stageTime = o.birthTime;
    o.brightness = 0.94 + 0.12 * unitHash(seed + 1u);

    switch (kind) {
    case LifeKind::Cube: {
        const double side = (0.8 + 0.4 * unitHash(seed + 3u)) * 2.5 + 0.3 * profile.size;
        const double half = clampedHalf(side, 1.0, 10.0);
        o.halfExtents = {half, half, half};
        break;
    }
    case LifeKind::Block:
        o.halfExtents = {1.0, 1.0, 1.0};
        break;
    case LifeKind::Slab: {
        const double e = std::pow(10.0, 1.0 + 2.0 * unitHash(seed + 4u));
        const double wx = (0.95 + 0.1 * unitHash(seed + 5u)) * e;
        const double wz = (0.95 + 0.1 * unitHash(seed + 7u)) * e;
        o.halfExtents = {std::min(clampedHalf(wx, 10.0, 1000.0), addedSlabHalfLimit),
                         0.5 + unitHash(seed + 6u),
                         std::min(clampedHalf(wz, 10.0, 1000.0), addedSlabHalfLimit)};
        o.color = slabGrey;
        o.landed = 1;
        o.generation = 1;
        break;
    }
    }

    // The box stands on the position.
    o.center.y += o.halfExtents.y;
    o.nextActionTime = time + 0.1 + 0.5 * unitHash(seed + 303u);
    organisms.push_back(o);
    ++births;
}

EcoProfile Ecology::profile(const EarthModel&, const Vec3& position) const {
    const Vec3 where = EarthModel::coordinates(position); // latitude, longitude, altitude
    const std::size_t index = profileIndex(where.x, where.y);
    return index < profiles.size() ? profiles[index] : EcoProfile{};
}

std::size_t Ecology::profileIndex(double latitude, double longitude) {
    double column = std::fmod(std::floor((longitude + 180.0) / 5.0), static_cast<double>(profileColumns));
    if (column < 0.0)
        column += static_cast<double>(profileColumns);
    if (!std::isfinite(column))
        column = 0.0; // a position off every map still reads a profile
    double row = std::floor((latitude + 90.0) / 5.0);
    row = std::isnan(row) ? 0.0 : std::clamp(row, 0.0, static_cast<double>(profileRows - 1));
    return static_cast<std::size_t>(column) + profileColumns * static_cast<std::size_t>(row);
}

std::int32_t Ecology::dawns(double from, double to, const Vec3& position) {
    const double phase = dawnPhase(position);
    const double count = std::floor(to - phase) - std::floor(from - phase);
    if (!(count > 0.0))
        return 0;
    return count >= static_cast<double>(std::numeric_limits<std::int32_t>::max())
               ? std::numeric_limits<std::int32_t>::max()
               : static_cast<std::int32_t>(count);
}

bool Ecology::daylight(double dayTime, const Vec3& position) {
    const double sinceDawn = dayTime - dawnPhase(position);
    return sinceDawn - std::floor(sinceDawn) < 0.5;
}

void Ecology::age(Organism& organism, double dayTime) {
    switch (organism.kind) {
    case LifeKind::Cube:
        if (dawns(organism.birthTime, dayTime, organism.center) > cubeLifeDawns)
            organism.alive = 0;
        break;
    case LifeKind::Slab:
        if (organism.stage < 3) {
            if (dawns(organism.birthTime, dayTime, organism.center) >= slabFallDawns)
                organism.stage = 2;
        } else if (dawns(organism.stageTime, dayTime, organism.center) > lyingSlabDawns) {
            organism.alive = 0;
        }
        break;
    case LifeKind::Block:
        break;
    }
}

Vec3 Ecology::color(const Organism& organism, double dayTime) {
    Vec3 base = organism.color;
    if (organism.kind == LifeKind::Cube) {
        const double f = dawns(organism.birthTime, dayTime, organism.center) / cubeLifeDawns;
        if (f > 1.0) {
            base = cubeColors[3];
        } else {
            const double g = 3.0 * f;
            const int k = std::min(static_cast<int>(std::floor(g)), 2);
            base = blend(cubeColors[k], cubeColors[k + 1], g - k);
        }
    } else if (organism.kind == LifeKind::Slab && organism.stage >= 2) {
        const double s = std::min(1.0, std::log10(std::max(boxVolume(organism.halfExtents), 100.0)) / 6.0);
        base = blend(smallSlabBlue, largeSlabBlue, s);
    }
    return base * organism.brightness;
}

double Ecology::mass(const Organism& organism) {
    const double density = organism.kind == LifeKind::Slab ? slabDensity : solidDensity;
    return std::max(1.0, boxVolume(organism.halfExtents) * density);
}

Polyhedron Ecology::body(const Organism& organism) {
    Polyhedron body;
    body.center = organism.center;
    body.halfExtents = organism.halfExtents;
    body.velocity = organism.velocity;
    body.angularVelocity = organism.angularVelocity;
    body.orientation = organism.orientation;
    body.mass = mass(organism);
    return body;
}

std::vector<Polyhedron> Ecology::bodies(const Organism& organism) {
    return {body(organism)};
}

Box Ecology::bounds(const Organism& organism) {
    return body(organism).bounds();
}

Vec3 Ecology::abilityColor(Ability ability) {
    switch (ability) {
    case Ability::Absorption:
        return {0.12, 0.82, 0.20};
    case Ability::Connection:
        return {0.12, 0.35, 0.95};
    case Ability::Thrust:
    default:
        return {0.95, 0.13, 0.10};
    }
}

void Ecology::syncDayClock(double phase) {
    if (!std::isfinite(phase))
        return;
    const double days = std::isfinite(dayClock) ? std::floor(dayClock) : 0.0;
    const double synced = days + (phase - std::floor(phase));
    const double shift = std::isfinite(dayClock) ? synced - dayClock : 0.0;
    dayClock = synced;
    auto keepAge = [shift](Organism& o) {
        o.birthTime += shift;
        o.stageTime += shift;
    };
    for (Organism& o : organisms)
        keepAge(o);
    for (auto& [key, archive] : archives) {
        archive.dayClock += shift;
        for (Organism& o : archive.organisms)
            keepAge(o);
    }
}

} // namespace zarn
