#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "world/Game.hpp"

namespace zarn {
namespace {

constexpr int earthBody = Stars::earth;
constexpr int moon = 9;
constexpr double step = 1.0 / 120.0;

// The star world as it loads, made once: every test plays on its own copy.
const Game& loadedStars() {
    static const Game game = [] {
        Game g;
        std::string message;
        EXPECT_TRUE(g.world.loadStars(ZARN_LUJIAZUI_MAP, message)) << message;
        g.enemies.clear();
        g.player.position = g.world.spawnPoint;
        return g;
    }();
    return game;
}

bool finite(const Vec3& v) {
    return std::isfinite(v.x + v.y + v.z);
}

// Everything of the game and its star system that a far warp could turn into NaN or infinity.
bool everythingFinite(const Game& game) {
    const World& world = game.world;
    bool ok = finite(game.player.position) && finite(game.player.velocity) && finite(game.aim()) &&
              finite(world.physics.gravity) && finite(world.skyColor) && finite(world.stars->freeOrigin);
    for (const MatterPiece& piece : world.physics.pieces) {
        ok = ok && finite(piece.body.center);
    }
    for (const OrbitalState& orbit : world.stars->orbits) {
        ok = ok && finite(orbit.offset) && finite(orbit.velocity);
    }
    return ok;
}

TEST(StarWorldTest, LoadsAndRebuildsOnlyWhenForcedOrWhenTheFrameChanges) {
    const World& loaded = loadedStars().world;
    EXPECT_EQ(loaded.id + loaded.name, "stars群星");
    ASSERT_TRUE(loaded.stars && loaded.earth);
    EXPECT_FALSE(loaded.earth->populateEcology);
    EXPECT_EQ(loaded.stars->earthPieces.size(), loaded.physics.pieces.size());
    EXPECT_EQ(loaded.buildings.size(), 43u);
    EXPECT_EQ(loaded.skyColor, loaded.stars->sky(loaded.spawnPoint));
    EXPECT_NEAR(length(loaded.physics.gravity), World::standardGravity, 0.05); // towards the Earth
    EXPECT_NEAR(loaded.gravityUp().y, 1.0, 1e-6);
    World plain; // a map that does not load leaves the world without stars
    std::string message;
    EXPECT_FALSE(plain.loadStars(std::string(ZARN_TEST_DATA_DIR) + "/maps/truncated.zarnmap", message));
    EXPECT_FALSE(plain.stars || plain.earth);

    struct Case {
        const char* name;
        int nearest;
        bool force;
    };
    const Case cases[] = {{"right after the load", earthBody, false},
                          {"forced", earthBody, true},
                          {"the Moon nearest but beyond its reach", moon, false},
                          {"the Moon nearest beyond its reach, forced", moon, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Game game = loadedStars();
        World& world = game.world;
        world.stars->nearestBody = c.nearest;
        world.physics.pieces[0].alive = false; // a rebuild brings the district back as it was loaded
        world.syncStars(game.player, c.force);
        EXPECT_EQ(world.physics.pieces[0].alive, c.force);
        EXPECT_EQ(world.physics.pieces.size(), loaded.physics.pieces.size());
        EXPECT_EQ(game.player.position, loadedStars().player.position);
        EXPECT_EQ(world.stars->frameBody, earthBody);
        EXPECT_TRUE(world.earth);
    }
}

TEST(StarWorldTest, EarthToMoonAndBackRestoresTheDistrictUndamaged) {
    Game game = loadedStars();
    World& world = game.world;
    Stars& stars = *world.stars;
    Player& player = game.player;
    const Physics& loaded = loadedStars().world.physics;
    world.physics.blast(world.spawnPoint + Vec3{0.0, 0.0, 120.0}, 4e7, 30.0);
    ASSERT_GT(world.physics.brokenBondCount + world.physics.fractureCount, 0u);

    // Over the Moon, with a sound on its way and one just made at the player's feet.
    player.position = stars.center(moon) + Vec3{0.0, stars.bodies[moon].radius + 500.0, 0.0};
    stars.select(player.position);
    game.queueCollision(CollisionSound{.position = player.position + Vec3{2000.0, 0.0, 0.0}});
    game.queueCollision(CollisionSound{.position = player.position});
    game.tick(Input{}, step);
    EXPECT_EQ(stars.frameBody, moon);
    EXPECT_NEAR(length(player.position - Vec3{0.0, 500.0, 0.0}), 0.0, 0.1);
    EXPECT_FALSE(world.earth);
    EXPECT_EQ(world.physics.pieces.size(), 625u); // the Moon's own ground
    EXPECT_NEAR(length(world.physics.gravity), 1.62, 0.02);
    // The sounds moved with the frame: heard from where they were made.
    ASSERT_EQ(game.heardSounds.size() + game.travelingSounds.size(), 2u);
    EXPECT_LT(length(game.heardSounds[0].position - player.position), 1.0);
    EXPECT_NEAR(length(game.travelingSounds[0].sound.position - player.position), 2000.0, 1.0);

    // Back on the Earth the district stands again as it was loaded, without its building list.
    player.position = stars.center(earthBody) + Vec3{0.0, stars.bodies[earthBody].radius + 200.0, 0.0};
    stars.select(player.position);
    world.syncStars(player, false);
    EXPECT_EQ(stars.frameBody, earthBody);
    EXPECT_NEAR(length(player.position - Vec3{0.0, 200.0, 0.0}), 0.0, 0.1);
    ASSERT_TRUE(world.earth);
    EXPECT_TRUE(world.buildings.empty());
    ASSERT_EQ(world.physics.pieces.size(), loaded.pieces.size());
    EXPECT_EQ(world.physics.bonds.size(), loaded.bonds.size());
    EXPECT_EQ(world.physics.brokenBondCount + world.physics.fractureCount, 0u);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < loaded.pieces.size(); ++i) {
        const MatterPiece& piece = world.physics.pieces[i];
        changed += !piece.alive || piece.body.center != loaded.pieces[i].body.center ||
                   piece.building != loaded.pieces[i].building;
    }
    EXPECT_EQ(changed, 0u);
    // A ray onto a district piece: its building number names no building any more.
    const auto piece = std::find_if(loaded.pieces.begin(), loaded.pieces.end(),
                                    [](const MatterPiece& p) { return p.building >= 0; });
    const MatterHit hit =
        world.traceLine(piece->body.center + Vec3{0.0, 2000.0, 0.0}, {0.0, -1.0, 0.0}, 4000.0);
    ASSERT_TRUE(hit.hit);
    EXPECT_EQ(hit.building, -1);
}

TEST(StarWorldTest, StandingStillOnJupitersMoonsKeepsThePlayerOnLevelGround) {
    // The frame rides on the moon as the moon falls about Jupiter: the player feels the moon's own
    // pull and Jupiter's tide, stays where they stand and has up along the ground's vertical.
    for (const int body : {10, 11, 12, 13}) {
        SCOPED_TRACE(body);
        Game game = loadedStars();
        Stars& stars = *game.world.stars;
        Player& player = game.player;
        const Vec3 up{0.0, 1.0, 0.0};
        player.position =
            stars.center(body) + (stars.bodies[body].radius + stars.relief(body, up) + 0.3) * up;
        stars.select(player.position);
        for (int k = 0; k < 120; ++k) { // settle
            game.tick(Input{}, step);
        }
        ASSERT_EQ(stars.frameBody, body);
        const Vec3 stood = player.position;
        int grounded = 0;
        for (int k = 0; k < 2400; ++k) {
            game.tick(Input{}, step);
            grounded += player.onGround;
        }
        EXPECT_LT(length(player.position - stood), 0.01);
        EXPECT_EQ(grounded, 2400);
        const Vec3 vertical = normalized(player.position - stars.center(body));
        EXPECT_GT(dot(game.world.gravityUp(), vertical), std::cos(0.5 * std::numbers::pi / 180.0));
    }
}

TEST(StarWorldTest, ForwardTapsMakeASeriesThatOtherKeysEnd) {
    struct Case {
        const char* name;
        std::vector<std::pair<bool, double>> keys; // forward tap, clock reading
        std::vector<std::int32_t> taps;            // counted after each key
    };
    const Case cases[] = {
        {"taps a second apart go on", {{true, 0.0}, {true, 1.0}, {true, 2.0}}, {1, 2, 3}},
        {"taps 1.1 s apart start anew", {{true, 0.0}, {true, 1.1}}, {1, 1}},
        {"a clock going back starts anew", {{true, 5.0}, {true, 4.0}, {true, 4.5}}, {1, 1, 2}},
        {"any other key ends the series",
         {{true, 0.0}, {true, 0.5}, {false, 0.6}, {true, 0.7}},
         {1, 2, 0, 1}},
        {"no reading takes the game's time", {{true, -1.0}, {true, -1.0}, {true, NAN}}, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Game game = loadedStars();
        Game plain;
        for (std::size_t k = 0; k < c.keys.size(); ++k) {
            game.movementKey(c.keys[k].first, c.keys[k].second);
            plain.movementKey(c.keys[k].first, c.keys[k].second);
            EXPECT_EQ(game.warpTaps, c.taps[k]) << k;
            EXPECT_TRUE(plain.warpTaps == 0 && plain.lastWarpTap == -1.0); // not outside the star world
        }
        EXPECT_EQ(game.player.position, loadedStars().player.position); // no warp below four taps
    }
}

TEST(StarWorldTest, WarpsFromTheFourthTapWithTheirRangeShown) {
    Game game = loadedStars();
    Player& player = game.player;
    // Looking down at the district's ground a few metres ahead: the first warp stops short of it.
    player.pitch = -0.3;
    game.world.physics.pieces.back().alive = false; // a mark that a rebuild would undo
    game.bullets.push_back(Bullet{});
    game.queueCollision(CollisionSound{});
    for (int tap = 0; tap < 4; ++tap) {
        game.movementKey(true, 10.0 + 0.5 * tap);
    }
    EXPECT_EQ(game.message, "前进四 / 4 连按 / 最大 1 光年");
    EXPECT_EQ(game.messageUntil, game.time + 4.0);
    const double jump = length(player.position - loadedStars().player.position);
    EXPECT_TRUE(jump > 1.0 && jump < 10.0) << jump;
    EXPECT_EQ(game.world.stars->frameBody, earthBody);
    EXPECT_FALSE(game.world.physics.pieces.back().alive); // a short stop at matter rebuilds nothing
    EXPECT_TRUE(game.bullets.empty() && game.travelingSounds.empty() && !player.onGround);
    EXPECT_EQ(player.velocity, Vec3{});

    // Up and away: the range grows tenfold with each tap up to fifteen, and far beyond that nothing
    // in the game turns into NaN or infinity.
    player.pitch = 1.2;
    for (int tap = 5; tap <= 30; ++tap) {
        game.movementKey(true, 11.5 + 0.9 * (tap - 4));
        EXPECT_EQ(game.warpTaps, std::min(tap, 15));
        if (tap == 10) {
            EXPECT_EQ(game.message, "前进四 / 10 连按 / 最大 1000000 光年");
        }
        game.tick(Input{}, step);
        ASSERT_TRUE(everythingFinite(game)) << tap;
    }
    EXPECT_EQ(game.message, "前进四 / 15 连按 / 最大 100000000000 光年");
    EXPECT_FALSE(game.world.earth);
}

} // namespace
} // namespace zarn
