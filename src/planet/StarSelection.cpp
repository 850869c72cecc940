#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "planet/Stars.hpp"

namespace zarn {

namespace {

constexpr std::size_t planetSlots = 4; // slots 1 to 4; slots 5 to 9 hold the moons
constexpr std::size_t moonSlots = 5;

using NearList = std::array<std::int32_t, Stars::nearCount>;

// A body and the distance from the viewer to its surface. A distance that is not a number sorts
// last, so that the order stays total.
struct Candidate {
    double height = 0.0;
    std::int32_t index = -1;
    friend bool operator<(const Candidate& a, const Candidate& b) {
        return a.height < b.height || (a.height == b.height && a.index < b.index);
    }
};

Candidate candidate(double height, int index) {
    return {std::isnan(height) ? std::numeric_limits<double>::infinity() : height, index};
}

// The count nearest candidates of the light body's system, by (distance, index).
std::vector<Candidate> nearest(std::vector<Candidate> candidates, std::size_t count) {
    const std::size_t kept = std::min(count, candidates.size());
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(kept),
                      candidates.end());
    candidates.resize(kept);
    return candidates;
}

// The speed of a circular orbit about the parent, perpendicular to the radius in the orbit plane
// that holds the world's y axis, or z for a radius close to y; a moon also moves with its planet.
Vec3 circularVelocity(const Stars& stars, int index) {
    const CelestialBody& body = stars.bodies[static_cast<std::size_t>(index)];
    if (body.parent < 0) {
        return {};
    }
    const CelestialBody& parent = stars.bodies[static_cast<std::size_t>(body.parent)];
    const Vec3 r = body.position - parent.position;
    const double distance = length(r);
    const double pull = gravitationalConstant * stars.mass(body.parent);
    const double speed = std::sqrt(distance > 1.0 ? pull / distance : pull);
    const Vec3 axis = std::abs(r.y) / distance >= 0.95 ? Vec3{0.0, 0.0, 1.0} : Vec3{0.0, 1.0, 0.0};
    return speed * normalized(cross(axis, r)) + circularVelocity(stars, body.parent);
}

// What one pass over the catalogue finds: the body whose surface is nearest, the nearest star, and
// the planets and moons of that star's system.
struct Survey {
    int nearest = 3;
    int light = 0;
    std::vector<Candidate> planets;
    std::vector<Candidate> moons;
};

int parentOf(const Stars& stars, int index) {
    return stars.bodies[static_cast<std::size_t>(index)].parent;
}

Survey survey(const Stars& stars, const Vec3& point) {
    Survey found;
    double nearestHeight = std::numeric_limits<double>::infinity();
    double lightHeight = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < stars.bodies.size(); ++i) {
        const CelestialBody& body = stars.bodies[i];
        if (body.kind == BodyKind::Galaxy) {
            continue;
        }
        const int index = static_cast<int>(i);
        const double height = length(stars.center(index) - point) - body.radius;
        if (height < nearestHeight) {
            nearestHeight = height;
            found.nearest = index;
        }
        if (body.kind == BodyKind::Star && height < lightHeight) {
            lightHeight = height;
            found.light = index;
        }
        if (body.kind == BodyKind::Planet) {
            found.planets.push_back(candidate(height, index));
        } else if (body.kind == BodyKind::Moon) {
            found.moons.push_back(candidate(height, index));
        }
    }
    // Only the light body's own planets, and the moons of those planets, are drawn up close.
    std::erase_if(found.planets, [&](const Candidate& c) { return parentOf(stars, c.index) != found.light; });
    std::erase_if(found.moons, [&](const Candidate& c) {
        const int planet = parentOf(stars, c.index);
        return planet < 0 || parentOf(stars, planet) != found.light;
    });
    return found;
}

// Slot 0 the light body, slots 1 to 4 its four nearest planets, slots 5 to 9 the five nearest moons.
NearList nearList(Survey found) {
    NearList list;
    list.fill(-1);
    list[0] = found.light;
    const std::vector<Candidate> planets = nearest(std::move(found.planets), planetSlots);
    const std::vector<Candidate> moons = nearest(std::move(found.moons), moonSlots);
    for (std::size_t k = 0; k < planets.size(); ++k) {
        list[1 + k] = planets[k].index;
    }
    for (std::size_t k = 0; k < moons.size(); ++k) {
        list[1 + planetSlots + k] = moons[k].index;
    }
    return list;
}

// A listed moon is drawn with its planet: a missing parent takes the farthest planet slot whose
// planet no listed moon circles (or stays out when every planet slot is some moon's parent).
void addMoonParents(Stars& stars) {
    NearList& list = stars.nearBodies;
    const auto circledByListedMoon = [&](int planet) {
        for (std::size_t k = 1 + planetSlots; k < Stars::nearCount; ++k) {
            if (list[k] >= 0 && parentOf(stars, list[k]) == planet) {
                return true;
            }
        }
        return false;
    };
    for (std::size_t k = 1 + planetSlots; k < Stars::nearCount; ++k) {
        if (list[k] < 0 || stars.isNear(parentOf(stars, list[k]))) {
            continue;
        }
        for (std::size_t slot = planetSlots; slot >= 1; --slot) {
            if (list[slot] < 0 || !circledByListedMoon(list[slot])) {
                list[slot] = parentOf(stars, list[k]);
                break;
            }
        }
    }
}

// The orbit states of the near bodies, in slot order: a body that was simulated already keeps its
// state; a new one starts at its catalogue position on a circular orbit.
std::vector<OrbitalState> nearOrbits(const Stars& stars) {
    std::vector<OrbitalState> orbits;
    orbits.reserve(Stars::nearCount);
    for (const std::int32_t index : stars.nearBodies) {
        if (index < 0) {
            continue;
        }
        const auto kept = std::find_if(stars.orbits.begin(), stars.orbits.end(),
                                       [&](const OrbitalState& state) { return state.body == index; });
        if (kept != stars.orbits.end()) {
            orbits.push_back(*kept);
        } else {
            orbits.push_back({index, {}, circularVelocity(stars, index), stars.mass(index)});
        }
    }
    return orbits;
}

// The same ten bodies, whatever their order in the slots.
bool sameBodies(NearList a, NearList b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

} // namespace

void Stars::select(const Vec3& point) {
    Survey found = survey(*this, point);
    nearestBody = found.nearest;
    lightBody = found.light;
    const NearList previous = nearBodies;
    nearBodies = nearList(std::move(found));
    addMoonParents(*this);
    if (!isNear(nearestBody)) {
        nearBodies[nearCount - 1] = nearestBody;
    }
    orbits = nearOrbits(*this);
    // The sky lists every body but the near ones: new near bodies need a new sky.
    if (!sameBodies(nearBodies, previous)) {
        skyOrigin = {1e100, 0.0, 0.0};
    }
}

} // namespace zarn
