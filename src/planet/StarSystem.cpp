#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>

#include "physics/Hash.hpp"
#include "planet/Stars.hpp"

namespace zarn {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double starDensity = 1408.0;  // kg/m^3
constexpr double otherDensity = 3300.0; // kg/m^3
constexpr double shade = 0.018;         // light factor of a surface the light does not reach
constexpr double atmosphereHeight = 120000.0;
constexpr double longestStep = 0.05;                // s
constexpr double skyRebuildDistance = 2991957414.0; // m, 0.02 AU
// Angular radius below which a planet, moon or asteroid is too small to show in the sky, and the
// size every star is drawn at.
constexpr double smallestSkyBody = 5e-5;
constexpr double skyStarSize = 0.00065;

} // namespace

double Stars::mass(int index) const {
    if (index >= 0 && index < static_cast<int>(solar.size())) {
        return solar[static_cast<std::size_t>(index)];
    }
    const CelestialBody& body = bodies[static_cast<std::size_t>(index)];
    const double density = body.kind == BodyKind::Star ? starDensity : otherDensity;
    return 4.0 / 3.0 * pi * body.radius * body.radius * body.radius * density;
}

std::uint64_t SystemSerial::next() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

Vec3 Stars::center(int index) const {
    const CelestialBody& body = bodies[static_cast<std::size_t>(index)];
    Vec3 p;
    if (frameBody < 0) {
        p = body.position - freeOrigin;
    } else {
        // The world origin is the frame body's +y surface point.
        const CelestialBody& frame = bodies[static_cast<std::size_t>(frameBody)];
        p = body.position - frame.position - Vec3{0.0, frame.radius, 0.0};
    }
    for (const OrbitalState& state : orbits) {
        if (state.body == index) {
            p += state.offset;
        }
    }
    if (frameBody >= 0) {
        for (const OrbitalState& state : orbits) {
            if (state.body == frameBody) {
                p -= state.offset;
            }
        }
    }
    return p;
}

// The simulated bodies pull on each other with the law softened to the sum of their radii, so that
// bodies which overlap do not fling each other apart.
Vec3 Stars::pullBetween(int body, const Vec3& bodyCenter, const OrbitalState& other,
                        const Vec3& otherCenter) const {
    const Vec3 d = otherCenter - bodyCenter;
    const double r = std::max(bodies[static_cast<std::size_t>(body)].radius +
                                  bodies[static_cast<std::size_t>(other.body)].radius,
                              length(d));
    return gravitationalConstant * other.mass / (r * r * r) * d;
}

// The world frame rides on the frame body, which the simulation accelerates towards the other
// simulated bodies: the player feels the pulls less that acceleration, which leaves the frame
// body's own pull and the tides of the others. In free space the frame does not move.
Vec3 Stars::gravity(const Vec3& point) const {
    Vec3 g;
    const OrbitalState* frame = nullptr;
    for (const OrbitalState& state : orbits) {
        const Vec3 d = center(state.body) - point;
        const double r = std::max(bodies[static_cast<std::size_t>(state.body)].radius, length(d));
        g += gravitationalConstant * state.mass / (r * r * r) * d;
        if (frameBody >= 0 && state.body == frameBody && frame == nullptr) {
            frame = &state;
        }
    }
    if (frame != nullptr) {
        const Vec3 frameCenter = center(frame->body);
        for (const OrbitalState& state : orbits) {
            if (&state != frame) {
                g -= pullBetween(frame->body, frameCenter, state, center(state.body));
            }
        }
    }
    return g;
}

Vec3 Stars::lightDirection(const Vec3& point) const {
    return normalized(center(lightBody) - point);
}

double Stars::illumination(const Vec3& point, const Vec3& normal, int /*body*/) const {
    const Vec3 toLight = center(lightBody) - point;
    const Vec3 l = normalized(toLight);
    const double c = dot(normal, l);
    if (c <= 0.0) {
        return shade;
    }
    const double d = length(toLight);
    // A near body whose sphere the ray to the light enters before the light is reached casts shade.
    for (const std::int32_t index : nearBodies) {
        if (index == lightBody) {
            continue;
        }
        const double r = bodies[static_cast<std::size_t>(index)].radius;
        const Vec3 v = center(index) - point;
        const double t = dot(l, v);
        const double inside = r * r - lengthSquared(v - l * t);
        if (t >= 0.0 && inside >= 0.0 && d > std::max(0.0, t - std::sqrt(inside))) {
            return shade;
        }
    }
    const double flux = std::clamp(astronomicalUnitSquared / (d * d), 0.03, 1.5);
    return shade + 0.982 * c * flux;
}

Vec3 Stars::sky(const Vec3& point) const {
    const CelestialBody& body = bodies[static_cast<std::size_t>(nearestBody)];
    const Vec3 fromCenter = point - center(nearestBody);
    const double altitude = length(fromCenter) - body.radius;
    if (!body.atmosphere || altitude > atmosphereHeight) {
        return {};
    }
    const double mu = dot(lightDirection(point), normalized(fromCenter));
    const double fade = std::min(1.0, 1.0 - altitude / atmosphereHeight);
    const double day = std::clamp(2.0 * mu + 0.15, 0.0, 1.0);
    // A warm band while the light stands within about seven degrees of the horizon.
    const double twilight = 1.0 - 8.0 * std::abs(mu);
    const Vec3 glow = twilight > 0.0 ? Vec3{0.21 * twilight, 0.06 * twilight, 0.015 * twilight} : Vec3{};
    return fade * ((0.07 * body.color + Vec3{0.05, 0.13, 0.26}) * day + glow + 0.002 * body.color);
}

Vec3 Stars::atmosphereBounce(const Vec3& point) const {
    const CelestialBody& body = bodies[static_cast<std::size_t>(nearestBody)];
    if (!body.atmosphere) {
        return {};
    }
    const Vec3 fromCenter = point - center(nearestBody);
    const double r = length(fromCenter);
    const double fade = std::clamp(1.0 - (r - body.radius) / atmosphereHeight, 0.0, 1.0);
    const Vec3 up = r > 1e-9 ? fromCenter / r : Vec3{};
    const double k = 2.0 * dot(up, lightDirection(point));
    if (k <= 0.0 || fade <= 0.0) {
        return {};
    }
    // Only an atmosphere that is itself in the light bounces any.
    const double lit = std::clamp(2.0 * (illumination(point, up, nearestBody) - shade), 0.0, 1.0);
    const double factor = fade * std::min(1.0, k) * lit;
    return factor * (0.12 * body.color + Vec3{0.11, 0.14, 0.19});
}

// Twelve longitude sectors times six latitude bands, each a hashed shade of the body's colour; an
// atmosphere adds polar ice and, in the temperate belt, vegetation, on bodies close enough to their
// light.
Vec3 Stars::surfaceColor(int index, const Vec3& direction) const {
    const CelestialBody& body = bodies[static_cast<std::size_t>(index)];
    const int sector = static_cast<int>((std::atan2(direction.z, direction.x) + pi) / (2.0 * pi) * 12.0);
    const int band = static_cast<int>((1.0 + direction.y) * 3.0);
    const auto cell = static_cast<std::uint32_t>(sector + 12 * band);
    const double distance = length(center(index) - center(lightBody));
    const double q =
        distance > astronomicalUnit / 20.0 ? std::sqrt(astronomicalUnit / distance) : std::sqrt(20.0);
    const auto seed = static_cast<std::uint32_t>(index);
    Vec3 color = (0.7 + 0.6 * unitHash(91u * seed + cell)) * body.color;
    if (body.atmosphere) {
        const bool polar = std::abs(direction.y) > 0.82;
        if (polar && q < 1.4) {
            color = {0.75, 0.8, 0.84};
        } else if (!polar && q < 1.3 && unitHash(17u * seed + cell) > 0.55) {
            color = {0.18, 0.3, 0.15};
        }
    }
    return color;
}

bool Stars::isNear(int index) const {
    return std::find(nearBodies.begin(), nearBodies.end(), index) != nearBodies.end();
}

void Stars::refreshSky(const Vec3& point) {
    skyPoints.clear();
    ++skyRevision;
    skyOrigin = point;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const CelestialBody& body = bodies[i];
        const int index = static_cast<int>(i);
        if (body.kind == BodyKind::Galaxy || isNear(index)) {
            continue;
        }
        const Vec3 v = center(index) - point;
        const double d = length(v);
        double size = d > 1.0 ? body.radius / d : body.radius;
        if (body.kind == BodyKind::Star) {
            size = skyStarSize;
        } else if (size < smallestSkyBody) {
            continue;
        }
        skyPoints.push_back({d > 1e-9 ? v / d : Vec3{}, body.color, size});
    }
}

void Stars::update(const Vec3& point, double dt) {
    selectTimer -= dt;
    if (selectTimer <= 0.0) {
        select(point);
        selectTimer = 1.0;
    }
    const std::size_t n = orbits.size();
    std::vector<Vec3> centers(n);
    std::vector<Vec3> accelerations(n);
    for (std::size_t i = 0; i < n; ++i) {
        centers[i] = center(orbits[i].body);
    }
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            if (i != j) {
                accelerations[i] += pullBetween(orbits[i].body, centers[i], orbits[j], centers[j]);
            }
        }
    }
    // Symplectic Euler: the new velocity moves the body.
    const double h = std::min(dt, longestStep);
    for (std::size_t i = 0; i < n; ++i) {
        orbits[i].velocity += accelerations[i] * h;
        orbits[i].offset += orbits[i].velocity * h;
    }
    if (length(point - skyOrigin) > skyRebuildDistance) {
        refreshSky(point);
    }
}

} // namespace zarn
