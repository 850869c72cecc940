#pragma once

#include <cmath>
#include <limits>

#include "world/Game.hpp"

namespace zarn::test {

// A city game with nobody in it but the player, who stands at the start point looking up the street
// along +z (x = 0 is clear of trees, lamps and buildings for more than 13 m either side).
inline void emptyCity(Game& game) {
    game.enemies.clear();
}

// An enemy on its post that will not fire until told to.
inline Enemy postedEnemy(std::int32_t id, const Vec3& at) {
    Enemy enemy;
    enemy.id = id;
    enemy.position = at;
    enemy.home = at;
    enemy.nextShot = std::numeric_limits<double>::infinity();
    return enemy;
}

// The front wall of a building's second storey: the city builds every building as storeys of equal
// height with walls from the second storey up, and the front wall's outer face lies on the
// footprint's edge z = cz - sz / 2.
struct WallTarget {
    std::int32_t building = -1;
    double faceZ = 0.0;   // the outer face of the wall, facing -z
    double middleY = 0.0; // height of the wall's middle
    double x = 0.0;       // the footprint's centre line
};

inline WallTarget secondStoreyWall(const World& world, double minHeight) {
    WallTarget best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const Building& b : world.buildings) {
        const double d = std::hypot(b.center.x, b.center.z);
        if (b.height < minHeight || d >= bestDistance) {
            continue;
        }
        const int storeys = static_cast<int>(std::ceil(b.height / 8.0));
        const double storey = b.height / storeys;
        bestDistance = d;
        best.building = b.index;
        best.faceZ = b.center.z - b.sizeZ / 2.0;
        best.middleY = storey + (storey - 0.4) / 2.0;
        best.x = b.center.x;
    }
    return best;
}

// Puts the player, looking level along +z, with the eye at the wall's middle this far before it.
inline void faceWall(Game& game, const WallTarget& wall, double distance) {
    game.player = Player{};
    game.player.position = {wall.x, wall.middleY - Player::standingEye, wall.faceZ - distance};
}

} // namespace zarn::test
