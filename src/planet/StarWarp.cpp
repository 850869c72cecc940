#include <algorithm>
#include <cmath>
#include <cstdint>

#include "physics/Physics.hpp"
#include "planet/Stars.hpp"

namespace zarn {

namespace {

constexpr unsigned firstWarpTap = 4;
constexpr unsigned greatestPower = 11; // the farthest warp reaches 1e11 light-years
// The body test looks for the ground between two shells this far outside and inside the radius.
constexpr double shellDepth = 10000.0;
constexpr int halvings = 32;
constexpr double matterMargin = 3.0;   // m a warp stops short of matter
constexpr double landingHeight = 12.0; // m above the ground a landing arrives at

// What ends a warp: matter, a body's ground, or nothing within the range.
struct WarpStop {
    double reach = 0.0;  // m along the ray
    bool matter = false; // stopped by matter
    int body = -1;       // landed on this body
    Vec3 landing;        // the ground point, from the body's centre
};

// How far a point (from the body's centre) lies above the body's ground; not above 0 is on or under it.
double heightAbove(const Stars& stars, int index, const Vec3& p) {
    const double radius = stars.bodies[static_cast<std::size_t>(index)].radius;
    return length(p) - radius - stars.relief(index, normalized(p));
}

// The warp's first stop at matter: the nearest alive piece the ray meets within its range.
void stopAtMatter(const Physics& physics, const Vec3& start, const Vec3& d, WarpStop& stop) {
    const PieceHit hit = physics.trace(start, d, stop.reach);
    if (hit.hit && hit.distance < stop.reach) {
        stop.reach = hit.distance;
        stop.matter = true;
    }
}

// The ground of one body the ray reaches before the present stop: between the ray's point on the
// outer shell (the start itself when it starts inside that shell) and its point on the inner shell
// (or its closest approach to the centre when it passes above the inner shell), halved 32 times,
// keeping the last point above the ground.
void stopAtBody(const Stars& stars, int index, const Vec3& start, const Vec3& d, WarpStop& stop) {
    const double radius = stars.bodies[static_cast<std::size_t>(index)].radius;
    const Vec3 fromCentre = start - stars.center(index);
    const double along = -dot(d, fromCentre);
    if (along < 0.0) {
        return; // heading away from the centre
    }
    // Points of the ray are measured from its closest approach to the centre: the halving then
    // adds small numbers however far away the start lies.
    const Vec3 closest = fromCentre + along * d;
    const auto at = [&](double u) { return closest + u * d; };
    const double miss = lengthSquared(closest);
    const double outer = radius + shellDepth;
    if (miss > outer * outer) {
        return;
    }
    const double entry = -std::sqrt(outer * outer - miss); // from the closest approach
    if (!(std::max(0.0, along + entry) < stop.reach)) {
        return;
    }
    const bool startsInside = along + entry < 0.0;
    const double inner = radius - shellDepth;
    const bool reachesInner = inner > 0.0 && miss < inner * inner;
    // A ray from the body's own surface that never gets down to the inner shell skims the ground
    // and leaves the body: it is a jump away from it, not onto it.
    if (startsInside && !reachesInner) {
        return;
    }
    double above = std::max(-along, entry);
    double below = reachesInner ? -std::sqrt(inner * inner - miss) : 0.0;
    if (heightAbove(stars, index, at(below)) > 0.0) {
        return; // the ray passes above the ground
    }
    for (int k = 0; k < halvings; ++k) {
        const double middle = 0.5 * (above + below);
        if (heightAbove(stars, index, at(middle)) > 0.0) {
            above = middle;
        } else {
            below = middle;
        }
    }
    const double distance = along + above;
    if (distance >= 0.0 && distance < stop.reach) {
        stop = {distance, false, index, at(above)};
    }
}

// The star-system position of the world origin: the frame body's +y surface point, where the
// simulation has moved it, or the free origin.
Vec3 worldOrigin(const Stars& stars) {
    if (stars.frameBody < 0) {
        return stars.freeOrigin;
    }
    const CelestialBody& frame = stars.bodies[static_cast<std::size_t>(stars.frameBody)];
    Vec3 origin = frame.position + Vec3{0.0, frame.radius, 0.0};
    for (const OrbitalState& state : stars.orbits) {
        if (state.body == stars.frameBody) {
            origin += state.offset;
        }
    }
    return origin;
}

} // namespace

Vec3 Stars::rebase(int index, const Vec3& point) {
    const Vec3 c = center(index);
    frameBody = index;
    terrainBody = -1;
    selectTimer = 0.0;
    skyOrigin = {1e100, 0.0, 0.0};
    return {point.x - c.x, point.y - c.y - bodies[static_cast<std::size_t>(index)].radius, point.z - c.z};
}

std::uint64_t Stars::warpLightYears(unsigned taps) {
    if (taps < firstWarpTap) {
        return 0;
    }
    std::uint64_t lightYears = 1;
    for (unsigned k = firstWarpTap; k < taps && k < firstWarpTap + greatestPower; ++k) {
        lightYears *= 10;
    }
    return lightYears;
}

double Stars::warpRange(unsigned taps) {
    // Powers of ten up to 1e11 are exact in a double: one rounding, in the product.
    return static_cast<double>(warpLightYears(taps)) * lightYear;
}

Vec3 Stars::warp(const Vec3& point, const Vec3& direction, unsigned taps, const Physics& physics) {
    const double range = warpRange(taps);
    if (range == 0.0 || !(length(direction) > 1e-9)) {
        return point;
    }
    const Vec3 d = normalized(direction);
    WarpStop stop;
    stop.reach = range;
    stopAtMatter(physics, point, d, stop);
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (bodies[i].kind != BodyKind::Galaxy) {
            stopAtBody(*this, static_cast<int>(i), point, d, stop);
        }
    }

    Vec3 arrival;
    if (stop.matter) {
        arrival = point + std::max(0.0, stop.reach - matterMargin) * d;
    } else if (stop.body >= 0) {
        frameBody = stop.body;
        const double radius = bodies[static_cast<std::size_t>(stop.body)].radius;
        arrival = stop.landing + landingHeight * normalized(stop.landing) - Vec3{0.0, radius, 0.0};
    } else {
        freeOrigin = worldOrigin(*this) + point + range * d;
        frameBody = -1;
    }
    terrainBody = -1;
    selectTimer = 0.0;
    select(arrival);
    refreshSky(arrival);
    return arrival;
}

} // namespace zarn
