// Starting the district map, on its own, on the Earth or among the stars: it is loaded into a fresh
// game beside the running one (so for a moment both exist), which it replaces only once the whole
// world has loaded.

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

constexpr std::int32_t explorerLevel = 4;
constexpr double explorerPoints = 100000.0;
constexpr const char* earthMessage = "地球 / 陆家嘴出发 / 周围世界按需生成";
constexpr const char* starsMessage = "群星 / 每次间隔 ≤1 秒连按前进 4 次跃迁；其他按键重置";

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

// The city, the Earth or the stars, all from the same district.
bool loadChosenWorld(World& world, bool earth, bool stars, const std::string& path, std::string& message) {
    if (stars) {
        return world.loadStars(path, message);
    }
    return earth ? world.loadEarth(path, message) : world.loadMap(path, message);
}

// The Earth and the stars are for exploring: no enemies, and the means of a training ground.
void startAsExplorer(Game& game, const char* message) {
    game.enemies.clear();
    game.training = true;
    game.level = explorerLevel;
    game.points = explorerPoints;
    game.showMessage(message);
}

} // namespace

bool Application::startLujiazui(bool earth, bool stars) {
    const std::filesystem::path path = districtMapPath(folder);

    // The settings in force carry over into the new game.
    auto next = std::make_unique<Game>();
    next->impactMultiplier = game.impactMultiplier;
    const double rate = game.world.dayCycle.rate;
    if (std::isfinite(rate)) {
        next->world.dayCycle.rate = std::clamp(rate, 0.0, maxRotationMultiplier);
    }
    next->world.physics.motionLimit = game.world.physics.motionLimit;

    std::string message;
    if (!loadChosenWorld(next->world, earth, stars, utf8(path), message)) {
        ui.caption = message; // the running game, the page and everything else stay as they were
        return false;
    }

    next->messageUntil = 0.0;
    next->player.position = next->world.spawnPoint;
    placeEnemiesOnGrid(*next);
    if (earth || stars) {
        startAsExplorer(*next, stars ? starsMessage : earthMessage);
    }

    ui.caption.clear();
    game = std::move(*next);
    enterPlay();
    restartClock(); // the load's time is not played as steps by the next pass
    return true;
}

} // namespace zarn
