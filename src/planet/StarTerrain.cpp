#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "physics/Hash.hpp"
#include "physics/Physics.hpp"
#include "planet/EarthModel.hpp"
#include "planet/Stars.hpp"

namespace zarn {

namespace {

constexpr double pi = std::numbers::pi;

// The ground is built while the viewer is at most this high above the radius, m, and again after
// this much travel, m.
constexpr double groundCeiling = 12000.0;
constexpr double rebuildDistance = 160.0;
// 25 x 25 slabs on a 32 m grid, each a little wider than its cell so that neighbours overlap on a
// curved surface, 16 m thick with its top on the relief.
constexpr int slabReach = 12;
constexpr double slabSpacing = 32.0;
constexpr Vec3 slabHalfExtents{16.16, 8.0, 16.16};

// The planet model's land height (the sea floor counts as 0). The near hemisphere is flattened
// around the district the way the Earth terrain streamer flattens it.
double earthRelief(const EarthModel& model, const Vec3& p, double radius) {
    const Vec3 q{radius * p.x, radius * p.y - radius - 4.0, radius * p.z};
    const Vec3 site = EarthModel::coordinates(q);
    double h = std::max(0.0, model.sample(site.x, site.y, 0.25).elevation);
    if (p.y > 0.0) {
        h *= std::clamp((std::max(std::abs(q.x), std::abs(q.z)) - 1280.0) / 2000.0, 0.0, 1.0);
    }
    return h;
}

// 32 craters per airless body, each a bowl with a raised rim, seeded from the body's index; their
// depths add where they overlap. Outside every rim the ground lies exactly on the radius.
double craterRelief(int index, const Vec3& p, double radius) {
    const auto i = static_cast<std::uint32_t>(index);
    const double scale = std::min(0.003 * radius, 1600.0);
    double h = 0.0;
    for (std::uint32_t j = 0; j < 32; ++j) {
        const std::uint32_t k = 97u * i + 63u + j;
        const double phi = 2.0 * pi * unitHash(k);
        const double y = 2.0 * unitHash(k - 60u * i - 63u) - 1.0;
        const double rho = std::sqrt(std::max(0.0, 1.0 - y * y));
        const Vec3 centre{rho * std::cos(phi), y, rho * std::sin(phi)};
        const double size = 0.025 + 0.065 * unitHash(k - 96u * i - 63u); // angular radius, rad
        const double d = length(p - centre) / size;
        if (d < 1.0) {
            h += -0.7 * (1.0 - d * d) * scale;
        } else if (d < 1.2) {
            h += 0.15 * std::sin((d - 1.0) * pi / 0.2) * scale;
        }
    }
    return h;
}

// Low waves of a few thousand metres at most, as wind and water would leave them.
double waveRelief(int index, const Vec3& p, double radius) {
    return std::sin(31.0 * p.x + index) * std::cos(23.0 * p.y) * std::sin(19.0 * p.z) *
           std::min(0.002 * radius, 2400.0);
}

// The shortest rotation that turns the slab's up axis onto the direction.
Quaternion uprightOnto(const Vec3& d) {
    if (d.y < -0.999999) {
        return {0.0, 1.0, 0.0, 0.0}; // straight down: half a turn about x
    }
    const double w = std::sqrt((1.0 + d.y) / 2.0);
    return {w, d.z / (2.0 * w), 0.0, -d.x / (2.0 * w)};
}

} // namespace

double Stars::relief(int index, const Vec3& direction) const {
    const CelestialBody& body = bodies[static_cast<std::size_t>(index)];
    if (index == earth) {
        // Built on first use: the star world needs the Earth's relief only for a landing on it.
        static const EarthModel model;
        return earthRelief(model, direction, body.radius);
    }
    if (!body.atmosphere) {
        return craterRelief(index, direction, body.radius);
    }
    return waveRelief(index, direction, body.radius);
}

void Stars::terrain(Physics& physics, const Vec3& point) {
    const int index = nearestBody;
    if (index == earth) {
        return; // the Earth terrain streamer owns that ground
    }
    const CelestialBody& body = bodies[static_cast<std::size_t>(index)];
    const Vec3 centre = center(index);
    if (length(point - centre) - body.radius > groundCeiling) {
        // Forgetting the body as well means a viewer who comes back down over the same spot gets
        // the ground built again.
        if (terrainBody != -1) {
            physics.clear();
            terrainBody = -1;
        }
        return;
    }
    if (index == terrainBody && length(point - terrainOrigin) < rebuildDistance) {
        return;
    }
    physics.clear();
    terrainBody = index;
    terrainOrigin = point;

    // A tangent frame at the point under the viewer; zero vectors at the centre itself.
    const Vec3 up = normalized(point - centre);
    const Vec3 east =
        normalized(std::abs(up.y) < 0.9 ? cross(Vec3{0.0, 1.0, 0.0}, up) : cross(Vec3{1.0, 0.0, 0.0}, up));
    const Vec3 north = cross(up, east);
    for (int a = -slabReach; a <= slabReach; ++a) {
        for (int c = -slabReach; c <= slabReach; ++c) {
            const Vec3 d = normalized(body.radius * up + slabSpacing * a * east + slabSpacing * c * north);
            MatterPiece slab;
            slab.body.center = centre + (relief(index, d) + body.radius - slabHalfExtents.y) * d;
            slab.body.halfExtents = slabHalfExtents;
            slab.body.orientation = uprightOnto(d);
            slab.color = surfaceColor(index, d);
            slab.anchored = true;
            slab.building = -1;
            physics.add(slab);
        }
    }
    physics.rebuildGrid();
    physics.refreshTopology();
}

} // namespace zarn
