// Starting the district map: it is loaded into a fresh game beside the running one, which it replaces
// only once the whole world has loaded.

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>

#include "app/Application.hpp"

namespace zarn {

namespace {

constexpr const char* districtMap = "Worlds/Lujiazui/Lujiazui.zarnmap";

// Each enemy gets its own square of a 70 m grid around the spawn point, ten squares across.
constexpr double enemyGrid = 70.0;
constexpr double groundProbeHeight = 900.0; // m above the spawn point the ground is looked for from
constexpr double groundProbeLength = 1000.0;

// Beside the program, or else under the current directory.
std::filesystem::path districtMapPath(const std::filesystem::path& folder) {
    const std::filesystem::path besideProgram = folder / districtMap;
    std::error_code error;
    if (std::filesystem::exists(besideProgram, error)) {
        return besideProgram;
    }
    return std::filesystem::path(districtMap);
}

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

void placeEnemiesOnGrid(Game& game) {
    const Vec3 spawn = game.world.spawnPoint;
    for (Enemy& enemy : game.enemies) {
        const std::int32_t k = enemy.id;
        const double x = spawn.x + (k % 10 - 5) * enemyGrid;
        const double z = spawn.z + (k / 10 - 4) * enemyGrid;
        const MatterHit ground =
            game.world.traceLine({x, spawn.y + groundProbeHeight, z}, {0.0, -1.0, 0.0}, groundProbeLength);
        const Vec3 post{x, ground.hit ? ground.point.y : spawn.y, z};
        enemy.position = post;
        enemy.home = post;
    }
}

} // namespace

bool Application::startLujiazui() {
    const std::filesystem::path path = districtMapPath(folder);

    // The settings in force carry over into the new game.
    auto next = std::make_unique<Game>();
    next->impactMultiplier = game.impactMultiplier;
    const double rate = game.world.dayCycle.rate;
    if (std::isfinite(rate)) {
        next->world.dayCycle.rate = std::clamp(rate, 0.0, maxRotationMultiplier);
    }
    next->world.physics.motionLimit = game.world.physics.motionLimit;

    // The Earth (World::loadEarth) and the stars (World::loadStars) are chosen here, once those
    // worlds exist; both take the same path and report their failures the same way.
    std::string message;
    if (!next->world.loadMap(utf8(path), message)) {
        ui.caption = message; // the running game, the page and everything else stay as they were
        return false;
    }

    next->messageUntil = 0.0;
    next->player.position = next->world.spawnPoint;
    placeEnemiesOnGrid(*next);
    // The Earth and star worlds empty the enemy list here and start as a training ground at level 4
    // with 100000 points and their own message.

    ui.caption.clear();
    game = std::move(*next);
    enterPlay();
    restartClock(); // the load's time is not played as steps by the next pass
    return true;
}

} // namespace zarn
