#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

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

// The ray through one body's shells, measured from its closest approach to the body's centre, so
// that its points are small numbers however far away the start lies.
struct RayNearBody {
    Vec3 d;         // the unit direction
    Vec3 closest;   // the closest approach, from the body's centre
    double along;   // m from the start to the closest approach
    double first;   // where the search starts: the outer shell's entry, or the start within it
    double last;    // where it ends: the inner shell's entry, or the outer shell's exit
    bool deep;      // the ray gets down to the inner shell
    bool fromStart; // the search starts at the start itself
    Vec3 at(double u) const { return closest + u * d; }
};

// The part of the ray that could meet the body's ground, if any. Far away the difference between
// the start and the body's centre rounds by kilometres, so the closest approach is found once more
// from the first estimate, whose error lies along the ray.
bool nearBody(const Stars& stars, int index, const Vec3& start, const Vec3& d, RayNearBody& ray) {
    const double radius = stars.bodies[static_cast<std::size_t>(index)].radius;
    const Vec3 fromCentre = start - stars.center(index);
    ray.d = d;
    ray.along = -dot(d, fromCentre);
    if (ray.along < 0.0) {
        return false; // heading away from the centre
    }
    ray.closest = fromCentre + ray.along * d;
    const double slip = dot(ray.closest, d);
    ray.closest -= slip * d;
    ray.along -= slip;
    const double miss = lengthSquared(ray.closest);
    const double outer = radius + shellDepth;
    if (miss > outer * outer) {
        return false;
    }
    const double half = std::sqrt(outer * outer - miss);
    ray.fromStart = -ray.along > -half;
    ray.first = std::max(-ray.along, -half);
    const double inner = radius - shellDepth;
    ray.deep = inner > 0.0 && miss < inner * inner;
    ray.last = ray.deep ? -std::sqrt(inner * inner - miss) : half;
    return ray.first < ray.last;
}

// The first point where the ray comes down onto the ground, from above it: marched in steps no
// longer than half the height above or below the ground (so that no slope up to one in one is
// stepped over), nor shorter than a small share of the body's size, then halved 32 times, keeping
// the last point above the ground. A ray that starts in the ground (as it may from matter laid on
// a slope) meets it only after coming out of it; one that goes deep without ever coming out lands
// on the ground above its start.
std::optional<WarpStop> groundMet(const Stars& stars, int index, const RayNearBody& ray) {
    const double radius = stars.bodies[static_cast<std::size_t>(index)].radius;
    const double shortest = std::clamp(radius * 5e-5, 0.5, 100.0);
    const auto landing = [&](double u, const Vec3& ground) {
        return WarpStop{ray.along + u, false, index, ground};
    };
    double u = ray.first;
    double height = heightAbove(stars, index, ray.at(u));
    bool cameOut = height > 0.0;
    double lastAbove = u;
    while (u < ray.last) {
        const double next = std::min(ray.last, u + std::max(shortest, 0.5 * std::abs(height)));
        const double nextHeight = heightAbove(stars, index, ray.at(next));
        if (nextHeight > 0.0) {
            cameOut = true;
            lastAbove = next;
        } else if (cameOut) {
            double above = lastAbove, below = next;
            for (int k = 0; k < halvings; ++k) {
                const double middle = 0.5 * (above + below);
                (heightAbove(stars, index, ray.at(middle)) > 0.0 ? above : below) = middle;
            }
            return landing(above, ray.at(above));
        }
        u = next;
        height = nextHeight;
    }
    if (!cameOut && ray.deep && ray.fromStart) {
        const Vec3 up = normalized(ray.at(ray.first));
        return landing(ray.first, (radius + stars.relief(index, up)) * up);
    }
    return std::nullopt;
}

// The ground of one body the ray reaches before the present stop.
void stopAtBody(const Stars& stars, int index, const Vec3& start, const Vec3& d, WarpStop& stop) {
    RayNearBody ray;
    if (!nearBody(stars, index, start, d, ray) || !(std::max(0.0, ray.along + ray.first) < stop.reach)) {
        return;
    }
    const std::optional<WarpStop> met = groundMet(stars, index, ray);
    if (met && met->reach >= 0.0 && met->reach < stop.reach) {
        stop = *met;
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
