// Where an unattended run puts the player in the star world: above the Moon, high above the Earth,
// or wherever a four-tap warp from there leads.

#include "app/Application.hpp"

namespace zarn {

namespace {

constexpr int moon = 9;
constexpr double moonDropHeight = 80.0; // m above the Moon's radius
constexpr double moonPitch = -0.08;
constexpr Vec3 highAbove{0.0, 30000000.0, 0.0}; // m, 30,000 km over the district
constexpr double spacePitch = -0.4;             // looking back down at the Earth
constexpr double warpPitch = 1.2;               // looking away from it
constexpr int warpTaps = 4;                     // the first tap of a series that warps

} // namespace

void Application::placeInStarWorld(const CommandLineOptions& options) {
    if (!game.world.stars) {
        return;
    }
    Stars& stars = *game.world.stars;
    Player& player = game.player;
    if (options.moon) {
        const Vec3 center = stars.center(moon);
        const double radius = stars.bodies[moon].radius;
        player.position = stars.rebase(moon, {center.x, center.y + radius + moonDropHeight, center.z});
        stars.update(player.position, 0.0);
        game.world.syncStars(player, true);
        player.pitch = moonPitch;
    }
    if (options.space) {
        player.position = highAbove;
        player.pitch = spacePitch;
    }
    if (options.warp) {
        player.position = highAbove;
        player.pitch = warpPitch;
        for (int tap = 0; tap < warpTaps; ++tap) {
            game.movementKey(true, -1.0);
        }
    }
}

} // namespace zarn
