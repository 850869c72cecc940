#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <utility>

#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr double pi = std::numbers::pi;

// Sky points lie on a sphere of 1000 km around the eye; wider than 0.002 rad they glow as discs.
constexpr double skyRadius = 1'000'000.0;
constexpr double smallestDisc = 0.002;
constexpr int discSegments = 12;
// Distances beyond a million metres are compressed logarithmically, so that the whole solar system
// fits the logarithmic depth range.
constexpr double compressionScale = 1'000'000.0;
// Tiles overlap their neighbours by 5 % and are 1.8 % of the radius thick.
constexpr double tileOverlap = 1.05;
constexpr double tileThickness = 0.018;
// A tile whose outward direction leans this far away from the eye is on the far side.
constexpr double farSide = 0.2;
// Within this height of the nearest body's surface its ground is matter, with far tiles around it.
constexpr double groundCeiling = 12'000.0;
constexpr int skirtReach = 10;
constexpr double skirtSpacing = 768.0;
constexpr double skirtDrop = 300.0;    // below the ground, so the matter terrain stays on top
constexpr double skirtThickness = 2.0; // m

// The vertices of one sky point around the eye: a disc that glows from its centre for a point wider
// than 0.002 rad, else a small square in its own colour. They are relative to the eye, never to the
// frame's origin: the buffer outlives the frame and the origin.
void appendSkyPoint(std::vector<Vertex>& out, const SkyPoint& point) {
    const Vec3& d = point.direction;
    const Vec3 reference = std::abs(d.y) < 0.9 ? Vec3{0.0, 1.0, 0.0} : Vec3{1.0, 0.0, 0.0};
    const Vec3 e1 = normalized(cross(reference, d));
    const Vec3 e2 = cross(d, e1);
    const Vec3 centre = d * skyRadius;
    const double r = skyRadius * point.size;
    const Float3 shine = narrowed(point.color);
    const auto vertex = [&](const Vec3& p, const Float3& c) {
        out.push_back({narrowed(p), c, lighting::skyPoint, {0.0f, 1.0f, 0.0f}});
    };
    if (point.size > smallestDisc) {
        const auto rim = [&](int k) {
            const double angle = 2.0 * pi * k / discSegments;
            return centre + (e1 * std::cos(angle) + e2 * std::sin(angle)) * r;
        };
        for (int k = 1; k <= discSegments; ++k) {
            vertex(centre, shine);
            vertex(rim(k - 1), {});
            vertex(rim(k), {});
        }
        return;
    }
    const Vec3 a = e1 * r;
    const Vec3 b = e2 * r;
    for (const Vec3& corner : {-a - b, a - b, a + b, -a - b, a + b, -a + b}) {
        vertex(centre + corner, shine);
    }
}

} // namespace

double compression(double distance) {
    const double s = compressionScale * std::log1p(distance / compressionScale);
    return distance <= 1.0 ? std::min(1.0, s) : std::min(1.0, s / distance);
}

TileGrid tileGrid(double angularRadius) {
    if (angularRadius < 0.003) {
        return {2, 4};
    }
    if (angularRadius < 0.02) {
        return {6, 12};
    }
    return {16, 32};
}

Quaternion tileTurn(const Vec3& n) {
    if (n.y < -0.999999) {
        return {}; // straight down: a box looks the same either way up
    }
    const double w = std::sqrt((1.0 + n.y) / 2.0);
    return {w, n.z / (2.0 * w), 0.0, -n.x / (2.0 * w)};
}

void Renderer::starsScene(const Game& game, const Camera& camera) {
    const Stars& stars = *game.world.stars;
    Camera celestial = camera;
    celestial.eye = {};
    celestial.projection.z = 1.0f;
    backend->uploadCamera(celestial, "celestial camera");

    skyBackground(stars);
    if (starBuffer != nullptr) {
        backend->setDepthTest(false);
        backend->drawBuffer(starBuffer, starCount);
        backend->setDepthTest(true);
    }

    // Everything celestial is placed relative to the eye.
    const Vec3 frameOrigin = origin;
    origin = {};
    const Vec3 eye = steadyEye(game);
    // Farthest first, so nearer bodies are drawn over them; equal distances by index.
    std::array<std::pair<double, int>, Stars::nearCount> order;
    std::size_t count = 0;
    for (const std::int32_t body : stars.nearBodies) {
        if (body >= 0 && static_cast<std::size_t>(body) < stars.bodies.size()) {
            order[count++] = {length(stars.center(body) - eye), body};
        }
    }
    std::sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count),
              [](const auto& a, const auto& b) {
                  return a.first != b.first ? a.first > b.first : a.second < b.second;
              });
    for (std::size_t k = 0; k < count; ++k) {
        const auto [distance, body] = order[k];
        const double height = distance - stars.bodies[static_cast<std::size_t>(body)].radius;
        if (body == stars.nearestBody && height < groundCeiling) {
            // The ground around the player is matter; beyond it a skirt of far tiles, except on the
            // Earth, whose own terrain streamer builds the ground out to the horizon.
            if (body != Stars::earth) {
                groundSkirt(stars, body, eye);
            }
            continue;
        }
        nearBody(stars, body, eye);
    }
    indoor = lighting::outdoor;
    submit();
    origin = frameOrigin;
    backend->uploadCamera(camera, "camera upload");
}

void Renderer::skyBackground(const Stars& stars) {
    if (starSerial == stars.serial.value && starRevision == stars.skyRevision) {
        return;
    }
    if (starBuffer != nullptr) {
        backend->releaseBuffer(starBuffer);
        starBuffer = nullptr;
    }
    starCount = 0;
    starSerial = stars.serial.value;
    starRevision = stars.skyRevision;
    std::vector<Vertex> sky;
    for (const SkyPoint& point : stars.skyPoints) {
        appendSkyPoint(sky, point);
    }
    if (!sky.empty()) { // an empty sky makes no buffer: the device refuses one of no bytes
        starBuffer = backend->createBuffer(sky, "cached star background");
        starCount = static_cast<std::uint32_t>(sky.size());
    }
}

void Renderer::surfaceTile(const Vec3& center, const Vec3& n, double width, double thickness,
                           const Color& tileColor) {
    Polyhedron tile;
    tile.center = center;
    tile.halfExtents = {width / 2.0, thickness / 2.0, width / 2.0};
    tile.orientation = tileTurn(n);
    const std::array<Vec3, 3> axes = tile.axes();
    // The box keeps the current lighting class, where a matter mesh would reset it.
    orientedBox(tile.vertices(axes), axes, tileColor);
}

void Renderer::nearBody(const Stars& stars, int body, const Vec3& eye) {
    const CelestialBody& record = stars.bodies[static_cast<std::size_t>(body)];
    const Vec3 centre = stars.center(body);
    const Vec3 toCentre = centre - eye;
    const double d = length(toCentre);
    const double f = compression(d);
    const double radius = record.radius;
    const TileGrid grid = tileGrid(d > 0.0 ? radius / d : 1.0);
    const bool lightSource = body == stars.lightBody;
    const bool raised = body == stars.nearestBody;
    const double width = tileOverlap * radius * pi / grid.sectors * f;
    indoor = lighting::unlit; // the colour already holds the light
    for (int j = 0; j < grid.bands; ++j) {
        const double latitude = (j + 0.5) * pi / grid.bands - pi / 2.0;
        for (int k = 0; k < grid.sectors; ++k) {
            const double longitude = (2 * k + 1) * pi / grid.sectors;
            const Vec3 n{std::cos(latitude) * std::cos(longitude), std::sin(latitude),
                         std::cos(latitude) * std::sin(longitude)};
            if (d > 1e-9 && dot(n, toCentre) / d > farSide) {
                continue; // the far side
            }
            const double ground = radius + (raised ? stars.relief(body, n) : 0.0);
            const Vec3 surface = centre + n * ground;
            const Vec3 shade = lightSource
                                   ? record.color
                                   : stars.surfaceColor(body, n) * stars.illumination(surface, n, body);
            surfaceTile(toCentre * f + n * (ground * f), n, width, tileThickness * radius * f,
                        colorOf(shade));
        }
    }
}

void Renderer::groundSkirt(const Stars& stars, int body, const Vec3& eye) {
    const double radius = stars.bodies[static_cast<std::size_t>(body)].radius;
    const Vec3 centre = stars.center(body);
    // The same tangent frame the matter ground is laid out in.
    const Vec3 up = normalized(eye - centre);
    const Vec3 east =
        normalized(std::abs(up.y) < 0.9 ? cross(Vec3{0.0, 1.0, 0.0}, up) : cross(Vec3{1.0, 0.0, 0.0}, up));
    const Vec3 north = cross(up, east);
    indoor = lighting::unlit;
    for (int a = -skirtReach; a <= skirtReach; ++a) {
        for (int c = -skirtReach; c <= skirtReach; ++c) {
            if (a == 0 && c == 0) {
                continue; // the matter ground is there
            }
            const Vec3 n = normalized(up * radius + east * (skirtSpacing * a) + north * (skirtSpacing * c));
            const Vec3 surface = centre + n * (radius + stars.relief(body, n) - skirtDrop);
            const Vec3 shade = stars.surfaceColor(body, n) * stars.illumination(surface, n, body);
            surfaceTile(surface - eye, n, skirtSpacing * tileOverlap, skirtThickness, colorOf(shade));
        }
    }
}

} // namespace zarn
