// The unattended options of the Earth world: where the player stands, the time of day and the
// lighting probe's scene of two grey cubes, one of them indoors.

#include <cmath>

#include "app/Application.hpp"

namespace zarn {

namespace {

// "--outskirts": 5 km east of the district, on the ground, looking north-east and a little down.
constexpr double outskirtsEast = 5000.0;
constexpr double outskirtsYaw = 0.7;
constexpr double outskirtsPitch = -0.1;
// "--orbit": 14,000 km above the district, looking almost straight down.
constexpr Vec3 orbitPosition{0.0, 14000000.0, 0.0};
constexpr double orbitPitch = -1.55;
constexpr double midnight = 0.5;
constexpr double dusk = 0.25;

// One of the probe's two cubes, 2 m to the side of the eye's line and 8 m north: anchored grey
// matter turned by the tilt of the planet's up about z, so that it stands upright on the ground.
MatterPiece probeCube(const Vec3& center, double angle, bool indoor) {
    MatterPiece cube;
    cube.body.center = center;
    cube.body.halfExtents = {1.0, 1.0, 1.0};
    cube.body.orientation = Quaternion{std::cos(angle / 2.0), 0.0, 0.0, std::sin(angle / 2.0)};
    cube.body.mass = 9600.0;
    cube.building = -1;
    cube.color = {0.6, 0.6, 0.6};
    cube.anchored = true;
    cube.indoor = indoor;
    return cube;
}

} // namespace

bool Application::inEarthWorld() const {
    return game.world.earth.has_value() && !game.world.stars.has_value();
}

void Application::placeOnEarth(const CommandLineOptions& options) {
    Player& player = game.player;
    if (options.outskirts) {
        const double ground = game.world.earth->model.surface(outskirtsEast, 0.0, false);
        player.position = {outskirtsEast, ground + 1.0, 0.0};
        player.yaw = outskirtsYaw;
        player.pitch = outskirtsPitch;
    }
    if (options.orbit) {
        player.position = orbitPosition;
        player.pitch = orbitPitch;
    }
}

void Application::setEarthDay(const CommandLineOptions& options) {
    World& world = game.world;
    if (options.night) {
        world.dayCycle.phase = midnight;
    }
    if (options.dusk) {
        world.dayCycle.phase = dusk;
    }
    // The organisms' dawns follow the sky's sun.
    world.earth->ecology.syncDayClock(world.dayCycle.phase);
    if (lightingProbe) {
        buildLightingProbe();
    }
}

void Application::buildLightingProbe() {
    World& world = game.world;
    // The cubes stand on the planet at the player's start (the origin), under its up there, so the
    // sun of the chosen hour lights them from where it stands in that sky. The up's tilt about z
    // turns the cubes and gives the tangent along which they stand apart.
    const Vec3 up = EarthModel::upAt(Player{}.position);
    const double angle = std::atan2(-up.x, up.y);
    const Vec3 tangent{std::cos(angle), std::sin(angle), 0.0};

    freezeDayCycle();
    world.skyColor = earthSkyColor(world.dayCycle.solarClearance());
    world.physics.clear();
    world.buildings.clear();
    game.player = Player{};
    for (const int side : {-1, 1}) {
        const Vec3 center = tangent * (2.0 * side) + up * 2.0 + Vec3{0.0, 0.0, 8.0};
        world.physics.add(probeCube(center, angle, side > 0));
    }
    world.physics.connectTouching();
}

} // namespace zarn
