#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "world/Game.hpp"

namespace zarn {
namespace {

double fastestMoving(const Physics& physics) {
    double speed = 0.0;
    for (const Assembly& assembly : physics.assemblies)
        for (const std::uint32_t id : assembly.members)
            speed = std::max(speed, length(physics.pieces[id - 1].body.velocity));
    return speed;
}

// A rocket's explosion at one building piece after another of the Lujiazui district, every 2 s of
// game time for two minutes, ticked as the shell ticks the game: debris flies, falls, strikes and
// settles, and none of it ever flies off faster than 2 km/s.
TEST(DistrictBlasts, SixtyExplosionsInTwoMinutesThrowNothingFasterThanTwoKilometresASecond) {
    Game game;
    std::string message;
    ASSERT_TRUE(game.world.loadMap(ZARN_LUJIAZUI_MAP, message)) << message;
    game.enemies.clear();
    const Physics& physics = game.world.physics;
    const int ticksPerExplosion = static_cast<int>(2.0 / Game::fixedStep + 0.5);
    std::uint64_t pick = 0x2545f4914f6cdd1dull;
    std::vector<std::uint32_t> standing;
    double fastest = 0.0;
    for (int explosion = 0; explosion < 60; ++explosion) {
        standing.clear();
        for (const MatterPiece& piece : physics.pieces)
            if (piece.alive && piece.building >= 0)
                standing.push_back(piece.id);
        ASSERT_FALSE(standing.empty());
        pick = pick * 6364136223846793005ull + 1442695040888963407ull;
        game.explode(physics.pieces[standing[(pick >> 33) % standing.size()] - 1].body.center);
        fastest = std::max(fastest, fastestMoving(physics));
        for (int tick = 0; tick < ticksPerExplosion; ++tick) {
            game.tick(Input{}, Game::fixedStep);
            fastest = std::max(fastest, fastestMoving(physics));
        }
        ASSERT_LT(fastest, 2000.0) << "explosion " << explosion;
    }
    EXPECT_TRUE(physics.validate());
    EXPECT_GT(physics.fractureCount, 1000u);
}

} // namespace
} // namespace zarn
