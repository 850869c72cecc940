#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "physics/Math.hpp"
#include "physics/Records.hpp"

namespace zarn {

class Physics;

// The astronomical unit and the light-year, m, and the gravitational constant, m^3 kg^-1 s^-2.
constexpr double astronomicalUnit = 149597870700.0;
constexpr double lightYear = 9460730472580800.0;
constexpr double gravitationalConstant = 6.6743e-11;
// One astronomical unit squared, m^2: sunlight at the Earth's distance is the unit of light.
constexpr double astronomicalUnitSquared = 2.237952291797392e22;

enum class BodyKind : std::int32_t { Star = 0, Planet = 1, Moon = 2, Asteroid = 3, Galaxy = 4 };

// One body of the star world, placed in the star-system frame (the Sun at the origin).
struct CelestialBody {
    std::string name; // UTF-8
    Vec3 position;    // m
    Vec3 color;       // RGB 0..1
    double radius = 0.0;
    BodyKind kind = BodyKind::Star;
    std::int32_t parent = -1; // index of the body it belongs to, -1 none
    bool atmosphere = false;
};

// One body of the n-body step: how far the simulation has moved it from its catalogue position.
struct OrbitalState {
    std::int32_t body = -1; // index into Stars::bodies
    Vec3 offset;            // m
    Vec3 velocity;          // m/s
    double mass = 0.0;      // kg
};

// A distant body drawn as a point of the sky.
struct SkyPoint {
    Vec3 direction; // unit vector from the viewer to the body
    Vec3 color;
    double size = 0.0; // angular radius, rad
};

// A number no other star system of this run has had. A copy or an assignment takes a new one, so
// whatever is kept for one system (the renderer's sky buffer) is never taken for another, even one
// that a new game put at the same address.
struct SystemSerial {
    std::uint64_t value = next();

    SystemSerial() = default;
    SystemSerial(const SystemSerial&) : value(next()) {}
    SystemSerial& operator=(const SystemSerial&) {
        value = next();
        return *this;
    }
    static std::uint64_t next();
};

// The star world: the catalogue from the Sun out to the distant galaxies, the frame the playable
// world sits in (a point on a body's surface, or free space after a warp), the few bodies that are
// simulated and drawn up close, and the points of the sky. Positions stay in double throughout; the
// far bodies lie up to 1e26 m away, so a huge position is only ever subtracted once, into a vector
// relative to the frame.
struct Stars {
    static constexpr std::size_t nearCount = 10;
    static constexpr int earth = 3; // the body whose surface the Earth's own terrain streamer builds
    // Masses of bodies 0 to 9, kg: the Sun, the eight planets and the Moon.
    static constexpr std::array<double, nearCount> solar{1.98847e30, 3.3011e23, 4.8675e24, 5.9722e24,
                                                         6.4171e23,  1.8982e27, 5.6834e26, 8.681e25,
                                                         1.02413e26, 7.342e22};

    double selectTimer = 0.0;        // s until the next selection
    Vec3 skyOrigin{1e100, 0.0, 0.0}; // viewer point of the last sky rebuild
    Vec3 terrainOrigin{1e100, 0.0, 0.0};
    std::int32_t terrainBody = -1; // body whose surface matter is in the physics
    std::vector<OrbitalState> orbits;
    std::vector<CelestialBody> bodies;
    std::array<std::int32_t, nearCount> nearBodies{}; // drawn as spheres and tested as occluders
    std::vector<SkyPoint> skyPoints;
    std::vector<MatterPiece> earthPieces; // the district as loaded, for returning to the Earth
    std::int32_t frameBody = 3;           // the world origin is this body's +y surface point; -1 free
    std::int32_t nearestBody = 3;         // body whose surface is nearest to the viewer
    std::int32_t lightBody = 0;           // the star that lights the scene
    Vec3 freeOrigin;                      // star-system position of the world origin in free space
    std::uint64_t skyRevision = 0;        // counts the sky rebuilds
    SystemSerial serial;                  // tells this system from every other one of the run

    // Builds the catalogue, then selects and builds the sky for the world origin.
    Stars();

    // kg: the table for bodies 0 to 9, else a sphere of 1408 kg/m^3 (stars) or 3300 kg/m^3.
    double mass(int index) const;
    // The body's centre in the world frame, with the offset the simulation gave it.
    Vec3 center(int index) const;
    // m/s^2 felt in the world frame: the pull of every simulated body, softened inside a body to
    // that of a uniform ball, less the acceleration of the frame body that the frame rides on.
    Vec3 gravity(const Vec3& point) const;
    // m/s^2: the pull of the other simulated body on the body, as the orbit step has it.
    Vec3 pullBetween(int body, const Vec3& bodyCenter, const OrbitalState& other,
                     const Vec3& otherCenter) const;
    // Unit vector from the point to the light body; zero at its centre.
    Vec3 lightDirection(const Vec3& point) const;
    // Light factor of a surface at the point with the given normal: 0.018 in shade, 1.0 facing the
    // light at 1 AU. The lit body's index does not change the result.
    double illumination(const Vec3& point, const Vec3& normal, int body = -1) const;
    // Sky colour (RGB) at the point, from the atmosphere of the nearest body.
    Vec3 sky(const Vec3& point) const;
    // Light the nearest body's atmosphere bounces onto the point (RGB).
    Vec3 atmosphereBounce(const Vec3& point) const;
    // Colour of body index's surface in the unit direction from its centre (y the polar axis).
    Vec3 surfaceColor(int index, const Vec3& direction) const;
    // Rebuilds the sky points for a viewer at the point.
    void refreshSky(const Vec3& point);
    // Advances the star system by dt seconds for a viewer at the point: selection once a second, one
    // step of the simulated bodies of at most 0.05 s, the sky after 0.02 AU of travel.
    void update(const Vec3& point, double dt);
    // Whether body index is one of the ten near bodies.
    bool isNear(int index) const;
    // Chooses the nearest body, the light body and the ten near bodies for a viewer at the point,
    // and rebuilds the orbit states for them.
    void select(const Vec3& point);

    // Height of body index's ground above its radius, m, in the unit direction from its centre: the
    // planet model's land for the Earth, craters on a body without air, long low waves elsewhere.
    double relief(int index, const Vec3& direction) const;
    // The ground matter of the nearest body (not the Earth) under a viewer at the point: 25 x 25
    // anchored slabs on the relief, rebuilt after 160 m of travel or on another body, and dropped
    // while the viewer is more than 12 km above the surface.
    void terrain(Physics& physics, const Vec3& point);
    // Puts the world origin on body index's +y surface point and returns the point in that frame.
    Vec3 rebase(int index, const Vec3& point);
    // m a warp of this many forward taps reaches: nothing below four taps, then 1 ly, tenfold for
    // each further tap, at most 1e11 ly.
    static double warpRange(unsigned taps);
    // The same reach in whole light-years, exact (a division of warpRange by the light-year can
    // fall short of the power of ten by one).
    static std::uint64_t warpLightYears(unsigned taps);
    // Jumps from the point along the direction, up to warpRange(taps): stops 3 m short of matter in
    // the way, lands 12 m above a body's surface (which becomes the frame), or ends in free space
    // with the world origin moved along. Returns the new position; nothing happens for fewer than
    // four taps or a direction of no length.
    Vec3 warp(const Vec3& point, const Vec3& direction, unsigned taps, const Physics& physics);
};

} // namespace zarn
