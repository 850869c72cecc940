#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <utility>

#include "physics/Hash.hpp"
#include "planet/Stars.hpp"

namespace zarn {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double sunRadius = 696340000.0;
constexpr int generatedStarCount = 3006;
constexpr int namedStarCount = 6;
constexpr int galaxyCount = 4096;
constexpr int localGroupCount = 64;

// The uniform number of the game's hash for a catalogue seed (the seeds are never negative).
double U(int n) {
    return unitHash(static_cast<std::uint32_t>(n));
}

std::string digit(int d) {
    return std::string(1, static_cast<char>('0' + d));
}

struct PlanetRow {
    const char* name;
    double semiMajorAxis; // AU
    double radius;        // m
    Vec3 color;
};

constexpr PlanetRow planetRows[8] = {
    {"水星", 0.387, 2439700.0, {0.45, 0.43, 0.40}},    {"金星", 0.723, 6051800.0, {0.75, 0.62, 0.38}},
    {"地球", 1.0, 6371000.0, {0.16, 0.35, 0.53}},      {"火星", 1.524, 3389500.0, {0.65, 0.27, 0.14}},
    {"木星", 5.203, 69911000.0, {0.69, 0.51, 0.36}},   {"土星", 9.537, 58232000.0, {0.73, 0.65, 0.45}},
    {"天王星", 19.19, 25362000.0, {0.35, 0.70, 0.73}}, {"海王星", 30.07, 24622000.0, {0.18, 0.30, 0.68}},
};

struct NamedStar {
    const char* name;
    double distance;       // ly
    double rightAscension; // degrees
    double declination;    // degrees
};

constexpr NamedStar namedStars[namedStarCount] = {
    {"比邻星", 4.2465, 217.43, -62.68}, {"半人马座 α A", 4.37, 219.9, -60.83},
    {"巴纳德星", 5.96, 269.45, 4.69},   {"天狼星", 8.6, 101.29, -16.72},
    {"天苑四", 10.47, 53.23, -9.46},    {"南河三", 11.46, 114.83, 5.23},
};

void addBody(std::vector<CelestialBody>& bodies, std::string name, const Vec3& position, const Vec3& color,
             double radius, BodyKind kind, int parent, bool atmosphere) {
    bodies.push_back({std::move(name), position, color, radius, kind, parent, atmosphere});
}

// The Sun and its eight planets, the Earth straight below the Sun so that the Sun stands at the
// zenith of the world origin.
void addSolarSystem(std::vector<CelestialBody>& bodies) {
    addBody(bodies, "太阳", {}, {1.0, 0.82, 0.48}, sunRadius, BodyKind::Star, -1, false);
    for (int i = 0; i < 8; ++i) {
        const PlanetRow& row = planetRows[i];
        const double phi = 0.73 * i + 0.55;
        const double a = row.semiMajorAxis * astronomicalUnit;
        const Vec3 position =
            i == 2 ? Vec3{0.0, -astronomicalUnit, 0.0} : Vec3{a * std::sin(phi), -a * std::cos(phi), 0.0};
        addBody(bodies, row.name, position, row.color, row.radius, BodyKind::Planet, 0, i != 0);
    }
}

void addSolarMoons(std::vector<CelestialBody>& bodies) {
    const Vec3 earth = bodies[3].position;
    addBody(bodies, "月球", earth + Vec3{0.0, 2.1e8, 3.21e8}, {0.43, 0.43, 0.41}, 1737400.0, BodyKind::Moon,
            3, false);
    const Vec3 jupiter = bodies[5].position;
    for (int i = 0; i < 4; ++i) {
        const double r = 4.5e8 + 1.9e8 * i;
        const double theta = 1.4 * i;
        addBody(bodies, "木星卫星 " + digit(i + 1),
                jupiter + Vec3{r * std::cos(theta), 0.0, r * std::sin(theta)}, {0.48, 0.43, 0.36},
                1.5e6 + 3e5 * i, BodyKind::Moon, 5, false);
    }
}

void addAsteroidBelt(std::vector<CelestialBody>& bodies) {
    for (int n = 700; n < 1468; ++n) {
        const double d = (2.1 + 1.2 * U(n)) * astronomicalUnit;
        const double theta = 2.0 * pi * U(n - 659);
        const Vec3 position{d * std::cos(theta), (U(n + 211) - 0.5) * 0.12 * astronomicalUnit,
                            d * std::sin(theta)};
        addBody(bodies, "小行星", position, {0.31, 0.29, 0.27}, 10000.0 + 150000.0 * U(n - 608),
                BodyKind::Asteroid, 0, false);
    }
}

// Star s of the galaxy: the six real neighbours by distance, right ascension and declination, the
// rest on four logarithmic spiral arms of a disc 50,000 ly in radius and about 700 ly thick, with the
// Sun 26,000 ly from its centre.
Vec3 starPosition(int s, int n) {
    if (s < namedStarCount) {
        const NamedStar& star = namedStars[s];
        const double alpha = star.rightAscension * pi / 180.0;
        const double delta = star.declination * pi / 180.0;
        return star.distance * lightYear *
               Vec3{std::cos(delta) * std::cos(alpha), std::sin(delta), std::cos(delta) * std::sin(alpha)};
    }
    const double r = 50000.0 * std::sqrt(U(n - 24));
    const double theta = 0.3 * (U(n + 55) - 0.5) + (s % 4) * pi / 2.0 + 2.8 * std::log(r / 1000.0 + 1.0);
    return {(r * std::cos(theta) - 26000.0) * lightYear, 700.0 * (U(n + 735) - 0.5) * lightYear,
            r * std::sin(theta) * lightYear};
}

// Planet i of star s, each directly followed by its moons: two for the first planet, one for the
// others.
void addStarPlanets(std::vector<CelestialBody>& bodies, int s, int n, int star) {
    for (int i = 0; i < 4; ++i) {
        const int m = n + i;
        const double r = (0.4 + 0.85 * i) * astronomicalUnit;
        const double psi = 1.7 * i + s;
        const Vec3 planetPosition = bodies[star].position + Vec3{r * std::cos(psi), 0.0, r * std::sin(psi)};
        const Vec3 color{0.25 + 0.5 * U(s + i), 0.2 + 0.4 * U(m + 46), 0.18 + 0.45 * U(m + 140)};
        const int planet = static_cast<int>(bodies.size());
        addBody(bodies, "行星 " + digit(i + 1), planetPosition, color, (2.0 + 9.0 * U(8 * s + i)) * 1e6,
                BodyKind::Planet, star, i % 2 == 0);
        const int moons = i == 0 ? 2 : 1;
        for (int j = 0; j < moons; ++j) {
            const double c = 0.8 * j - 0.4;
            const double moonDistance = 7e7 + 5e7 * j;
            const double moonAngle = 2.0 * pi * (0.2 * i + 0.2);
            const double ring = moonDistance * std::sqrt(1.0 - c * c);
            const Vec3 offset{ring * std::cos(moonAngle), moonDistance * c, ring * std::sin(moonAngle)};
            addBody(bodies, "卫星 " + digit(i + 1) + "-" + digit(j + 1), planetPosition + offset,
                    {0.4, 0.38, 0.35}, (0.5 + U(m + j)) * 1e6, BodyKind::Moon, planet, false);
        }
    }
}

void addStars(std::vector<CelestialBody>& bodies) {
    for (int s = 0; s < generatedStarCount; ++s) {
        const int n = 42 + s;
        const Vec3 color{0.65 + 0.35 * U(n + 10), 0.55 + 0.4 * U(n + 47), 0.5 + 0.5 * U(n + 49)};
        std::string name = s < namedStarCount ? namedStars[s].name : "银河恒星 " + std::to_string(s);
        const int star = static_cast<int>(bodies.size());
        addBody(bodies, std::move(name), starPosition(s, n), color, (0.3 + 1.7 * U(n + 849)) * sunRadius,
                BodyKind::Star, -1, false);
        addStarPlanets(bodies, s, n, star);
    }
}

// Two named galaxies, then the local group and the distant galaxies, uniform over the sky.
void addGalaxies(std::vector<CelestialBody>& bodies) {
    addBody(bodies, "仙女座星系", Vec3{-2.1e6, 0.8e6, 1.1e6} * lightYear, {0.45, 0.49, 0.62},
            110000.0 * lightYear, BodyKind::Galaxy, -1, false);
    addBody(bodies, "三角座星系", Vec3{-2.6e6, 0.6e6, 1.6e6} * lightYear, {0.4, 0.49, 0.62},
            30000.0 * lightYear, BodyKind::Galaxy, -1, false);
    for (int g = 0; g < galaxyCount; ++g) {
        const int n = 873 + g;
        const bool local = g < localGroupCount;
        const double distance = local ? (2e5 + 4e6 * U(n - 856)) * lightYear
                                      : (5e6 + 4.6e10 * std::pow(U(n - 856), 0.35)) * lightYear;
        const double y = 2.0 * U(n - 47) - 1.0;
        const double rho = std::sqrt(std::max(0.0, 1.0 - y * y));
        const double omega = 2.0 * pi * U(n + 278);
        addBody(bodies, local ? "本星系群" : "遥远星系",
                distance * Vec3{rho * std::cos(omega), y, rho * std::sin(omega)}, {0.22, 0.27, 0.36},
                (1000.0 + 80000.0 * U(n)) * lightYear, BodyKind::Galaxy, -1, false);
    }
}

} // namespace

Stars::Stars() {
    bodies.reserve(1 + 8 + 1 + 4 + 768 + 10 * generatedStarCount + 2 + galaxyCount);
    addSolarSystem(bodies);
    addSolarMoons(bodies);
    addAsteroidBelt(bodies);
    addStars(bodies);
    addGalaxies(bodies);
    select({});
    refreshSky({});
}

} // namespace zarn
