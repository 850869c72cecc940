// The star world: the district on the Earth among the stars, and the matter kept in step with the body
// the player stands on.

#include "world/Movement.hpp"
#include "world/World.hpp"

namespace zarn {

namespace {

// A body becomes the frame once it is the nearest and the player is within this height of its
// surface (measured from its centre, beyond its radius).
constexpr double frameReach = 1e7; // m

// The Earth's terrain streamed around the district. The star world has no organisms: its engine's
// ecology stays empty and is never asked to populate.
void streamEarthWithoutLife(World& world) {
    world.earth.reset(); // one planet model at a time
    world.earth.emplace();
    world.earth->populateEcology = false;
    world.earth->initialize(world.physics);
}

bool withinFrameReach(const Stars& stars, int body, const Vec3& position) {
    const double radius = stars.bodies[static_cast<std::size_t>(body)].radius;
    return length(position - stars.center(body)) < radius + frameReach;
}

} // namespace

bool World::loadStars(const std::string& path, std::string& message) {
    if (!loadMap(path, message)) {
        return false;
    }
    stars.reset();
    stars.emplace(); // its frame is the Earth
    stars->earthPieces = physics.pieces;
    streamEarthWithoutLife(*this);
    id = "stars";
    name = "群星";
    skyColor = stars->sky(spawnPoint);
    physics.setGravity(stars->gravity(spawnPoint));
    return true;
}

void World::syncStars(Player& player, bool force) {
    if (!stars) {
        return;
    }
    const int nearest = stars->nearestBody;
    bool rebased = false;
    if (stars->frameBody != nearest && withinFrameReach(*stars, nearest, player.position)) {
        player.position = stars->rebase(nearest, player.position);
        rebased = true;
    }
    // The Earth's engine runs exactly while the Earth is the frame; a mismatch needs the rebuild too.
    const bool onEarth = stars->frameBody == Stars::earth;
    if (!rebased && !force && onEarth == earth.has_value()) {
        return;
    }
    rebuildStarSurroundings();
}

void World::rebuildStarSurroundings() {
    earth.reset();
    physics.clear();
    // The pieces keep their building numbers, which no longer name an entry of the list.
    buildings.clear();
    stars->terrainBody = -1;
    if (stars->frameBody != Stars::earth) {
        return; // the next update builds this body's ground
    }
    // Back on the Earth the district stands again as it was loaded: damage done before is forgotten.
    for (MatterPiece piece : stars->earthPieces) {
        piece.id = 0;
        piece.assembly = -1;
        physics.add(piece);
    }
    physics.connectTouching();
    streamEarthWithoutLife(*this);
}

Vec3 World::updateStars(const Vec3& position, double dt) {
    stars->update(position, dt);
    skyColor = stars->sky(position);
    return stars->gravity(position);
}

void World::updateStarSurface(const Vec3& position) {
    stars->terrain(physics, position);
    physics.setGravity(stars->gravity(position));
}

} // namespace zarn
