#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "planet/EarthModel.hpp"
#include "planet/Noise.hpp"

namespace zarn {

namespace {

constexpr double radiansPerDegree = std::numbers::pi / 180.0;
constexpr double degreesPerRadian = 180.0 / std::numbers::pi;
constexpr double radius = EarthModel::radius;

// The district's site, latitude 31.239 N and longitude 121.499 E, as the planet-frame axes of the
// world: x runs east, y up and z north there.
struct SiteFrame {
    Vec3 east;
    Vec3 top;
    Vec3 north;
};

SiteFrame makeSiteFrame() {
    const double lat = 31.239 * radiansPerDegree;
    const double lon = 121.499 * radiansPerDegree;
    return {{-std::sin(lon), 0.0, std::cos(lon)},
            {std::cos(lat) * std::cos(lon), std::sin(lat), std::cos(lat) * std::sin(lon)},
            {-std::sin(lat) * std::cos(lon), std::cos(lat), -std::sin(lat) * std::sin(lon)}};
}

const SiteFrame site = makeSiteFrame();

// The column of a whole number of 5-degree steps east of the first column (any sign, at most a
// turn or two away), wrapped into 0..71. A NaN, from a position that is not finite, takes column 0
// rather than an index off the grid.
int wrapColumn(double steps) {
    if (std::isnan(steps)) {
        return 0;
    }
    const int i = static_cast<int>(steps);
    return ((i % EarthModel::columns) + EarthModel::columns) % EarthModel::columns;
}

// The row of a whole number of 5-degree steps north of the first row, clamped to the poles' rows;
// a NaN takes row 0.
int clampRow(double steps) {
    return std::isnan(steps) ? 0 : static_cast<int>(std::clamp(steps, 0.0, EarthModel::rows - 1.0));
}

// The sphere's height above the world's horizontal plane at (x, z): the positive root on the near
// side, the negative one on the far side; 0 off the sphere.
double sphereRoot(double x, double z, bool farSide) {
    const double d = radius * radius - x * x - z * z;
    const double root = d > 0.0 ? std::sqrt(d) : 0.0;
    return farSide ? -root : root;
}

// Elevation blended from the four cell centres around the position; rows beyond the first and the
// last centre use that row alone.
double blendedElevation(const std::vector<EarthRegion>& grid, double latitude, double longitude) {
    const double fx = (longitude + 177.5) / 5.0;
    const double fy = (latitude + 87.5) / 5.0;
    const double floorX = std::floor(fx);
    const int c0 = wrapColumn(floorX);
    const int c1 = wrapColumn(floorX + 1.0);
    const double tx = fx - floorX;
    const auto alongRow = [&](int row) {
        const std::size_t base = static_cast<std::size_t>(EarthModel::columns * row);
        return grid[base + static_cast<std::size_t>(c0)].elevation * (1.0 - tx) +
               grid[base + static_cast<std::size_t>(c1)].elevation * tx;
    };
    if (fy < 0.0) {
        return alongRow(0);
    }
    if (fy > EarthModel::rows - 1.0) {
        return alongRow(EarthModel::rows - 1);
    }
    const double floorY = std::floor(fy);
    const int r0 = clampRow(floorY);
    const int r1 = clampRow(floorY + 1.0);
    const double ty = fy - floorY;
    return alongRow(r0) * (1.0 - ty) + alongRow(r1) * ty;
}

// A world position in the planet's own frame, from its centre.
Vec3 planetFrame(const Vec3& position) {
    return site.east * position.x + site.top * (position.y + EarthModel::centreDepth) +
           site.north * position.z;
}

} // namespace

Vec3 EarthModel::geographic(double latitude, double longitude, double altitude) {
    const double lat = latitude * radiansPerDegree;
    const double lon = longitude * radiansPerDegree;
    const double r = radius + altitude;
    const Vec3 p{r * std::cos(lat) * std::cos(lon), r * std::sin(lat), r * std::cos(lat) * std::sin(lon)};
    return {dot(site.east, p), dot(site.top, p) - centreDepth, dot(site.north, p)};
}

Vec3 EarthModel::coordinates(const Vec3& position) {
    const Vec3 p = planetFrame(position);
    const double r = length(p);
    const double sine = r > 1.0 ? p.y / r : p.y;
    return {std::asin(std::clamp(sine, -1.0, 1.0)) * degreesPerRadian,
            std::atan2(p.z, p.x) * degreesPerRadian, r - radius};
}

double EarthModel::altitude(const Vec3& position) {
    return length(planetFrame(position)) - radius;
}

EarthRegion EarthModel::sample(double latitude, double longitude, double season) const {
    longitude = std::fmod(longitude, 360.0);
    const int row = clampRow(std::floor((latitude + 90.0) / 5.0));
    const int column = wrapColumn(std::floor((longitude + 180.0) / 5.0));
    EarthRegion region = regions[static_cast<std::size_t>(column + columns * row)];
    region.elevation = blendedElevation(regions, latitude, longitude);

    // The hemisphere away from the sun has its winter: s runs from -1 to 1 over the year.
    double s = std::sin(2.0 * std::numbers::pi * season);
    if (latitude < 0.0) {
        s = -s;
    }
    region.temperature += region.seasonality * s;
    // Monsoons: over land the summer draws the wind in and brings rain; over the sea barely.
    const bool land = region.elevation > 0.0;
    region.windNorth += (land ? 1.2 : 0.2) * s;
    const double rainFactor = 1.0 + (land ? 0.35 : 0.08) * s;
    region.precipitation *= std::clamp(rainFactor, 0.5, 1.5);
    return region;
}

EarthRegion EarthModel::at(double x, double z, bool farSide) const {
    const Vec3 c = coordinates({x, sphereRoot(x, z, farSide) - radius - 4.0, z});
    return sample(c.x, c.y, 0.25);
}

double EarthModel::surface(double x, double z, bool farSide) const {
    if (!(radius * radius - x * x - z * z > 0.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const EarthRegion region = at(x, z, farSide);
    // Land gets a few metres of fine relief; the sea lies flat on the sphere.
    double height =
        region.elevation > 0.0 ? region.elevation + 12.0 * (noise(x / 1200.0, z / 1200.0) - 0.5) : 0.0;
    // The district stands on a flat square 4 m above the sphere; the real relief fades in over the
    // next 2,000 m around it. The far side has no such square.
    double blend = 1.0;
    if (!farSide) {
        blend = std::clamp((std::max(std::abs(x), std::abs(z)) - 1280.0) / 2000.0, 0.0, 1.0);
        height = blend * height + 4.0 * (1.0 - blend);
    }
    const double r = std::sqrt((radius + height) * (radius + height) - x * x - z * z);
    return farSide ? -r - radius - 4.0 : (r - radius - 4.0) * blend;
}

} // namespace zarn
