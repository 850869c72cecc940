#pragma once

#include <memory>

#include "planet/EarthEngine.hpp"
#include "planet/Stars.hpp"
#include "world/Game.hpp"

namespace zarn::test {

// A small star system in place of the catalogue: the ten near bodies only, the world's origin on the
// frame body's +y surface point, no simulated motion and a sky of the given points. Bodies 0 (the
// light), 3 (the Earth) and 9 (the Moon) keep their real radii; the rest are spread out on the axes.
inline Stars fakeStars(int frameBody) {
    static const Stars catalogue; // the catalogue is built once
    Stars stars = catalogue;
    const auto body = [](const char* name, Vec3 position, double radius, Vec3 color, BodyKind kind,
                         bool atmosphere) {
        CelestialBody b;
        b.name = name;
        b.position = position;
        b.radius = radius;
        b.color = color;
        b.kind = kind;
        b.atmosphere = atmosphere;
        return b;
    };
    const Vec3 earth{astronomicalUnit, 0.0, 0.0};
    stars.bodies = {
        body("太阳", {}, 6.957e8, {1.0, 0.9, 0.7}, BodyKind::Star, false),
        body("甲", {0.0, 0.0, 3e11}, 6e6, {0.5, 0.5, 0.5}, BodyKind::Planet, false),
        body("乙", {0.0, 3e11, 0.0}, 6e6, {0.6, 0.4, 0.3}, BodyKind::Planet, true),
        body("地球", earth, 6371000.0, {0.2, 0.4, 0.7}, BodyKind::Planet, true),
        body("丙", {-3e11, 0.0, 0.0}, 3e6, {0.5, 0.3, 0.3}, BodyKind::Planet, false),
        body("丁", {0.0, -3e11, 0.0}, 7e7, {0.7, 0.6, 0.5}, BodyKind::Planet, true),
        body("戊", {0.0, 0.0, -3e11}, 6e7, {0.8, 0.7, 0.5}, BodyKind::Planet, true),
        body("己", {3e11, 3e11, 0.0}, 2.5e7, {0.5, 0.7, 0.8}, BodyKind::Planet, true),
        body("庚", {3e11, -3e11, 0.0}, 2.4e7, {0.3, 0.4, 0.8}, BodyKind::Planet, true),
        body("月球", earth + Vec3{0.0, 0.0, 3.844e8}, 1737400.0, {0.6, 0.6, 0.6}, BodyKind::Moon, false),
    };
    stars.orbits.clear();
    for (std::size_t i = 0; i < Stars::nearCount; ++i) {
        stars.nearBodies[i] = static_cast<std::int32_t>(i);
    }
    stars.frameBody = frameBody;
    stars.nearestBody = frameBody >= 0 ? frameBody : 0;
    stars.lightBody = 0;
    stars.skyPoints.clear();
    return stars;
}

// An Earth engine with its planet model, built once and copied.
inline EarthEngine fakeEarth() {
    static const EarthEngine prototype;
    return prototype;
}

// A game of no matter, enemies or supplies, the player at the origin looking along +z.
inline std::unique_ptr<Game> emptyGame() {
    auto game = std::make_unique<Game>();
    game->world.physics.clear();
    game->world.buildings.clear();
    game->player.position = {};
    game->enemies.clear();
    game->supplies.clear();
    return game;
}

} // namespace zarn::test
