// The Earth world: the district set on the planet under the circling sun, its terrain streamed
// around the player and its organisms living on the streamed patches.

#include <exception>
#include <utility>

#include "ecology/Ecology.hpp"
#include "world/Utf8Path.hpp"
#include "world/World.hpp"

namespace zarn {

std::filesystem::path ecosystemCatalogueBeside(const std::filesystem::path& mapPath) {
    // A map path without a folder has an empty parent, and so has the parent of that: the catalogue
    // is then looked for under the current directory.
    return mapPath.parent_path().parent_path() / "Earth" / "ecosystem.zarneco";
}

bool World::loadEarth(const std::string& mapPath, std::string& message) {
    // The catalogue first: a missing or bad one fails before the map is read, leaving this world as
    // it was.
    Ecology ecology;
    std::filesystem::path catalogue;
    try {
        catalogue = ecosystemCatalogueBeside(pathFromUtf8(mapPath));
    } catch (const std::exception&) {
        // A path that is not UTF-8 names no file on Windows (the conversion throws there): the
        // catalogue reader reports it as missing.
        catalogue.clear();
    }
    if (!ecology.load(catalogue, message) || !loadMap(mapPath, message)) {
        return false;
    }

    // The map's pieces become the district of a fresh streamer, which grows the terrain and the
    // organisms around it from the first update on.
    earth.emplace();
    earth->ecology = std::move(ecology);
    earth->ecology.syncDayClock(dayCycle.phase);
    earth->populateEcology = true;
    earth->initialize(physics);
    id = "earth";
    name = "地球 / 程序生成";
    return true;
}

void World::turnEarthDay(const Vec3& position, double dt) {
    dayCycle.advance(dt);
    dayCycle.observer = position + gravityUp() * 1.7;
    skyColor = earthSkyColor(dayCycle.solarClearance());
}

void World::streamEarth(const Vec3& position, double dt, const Vec3& viewDirection) {
    earth->update(physics, position, viewDirection, dt);
    if (stars) {
        return; // no organisms live in the star world
    }
    // The organisms live their lives and move their bodies under the gravity just set.
    earth->ecology.update(physics, earth->model, position, physics.gravity, dt, dayCycle.rate);
}

} // namespace zarn
