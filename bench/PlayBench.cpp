// Scripted play in every world, one run each, timed tick by tick after the world has loaded: the
// training ground's demolition, the district's firefight, the Earth walked, shot at and flown over,
// a charge at a district building on the Earth, the Moon and a warp. "worst ms" is the slowest game
// tick (1/120 s of game time, the matter stepping every second one) in processor time, so that other
// work on the machine does not count; "worst at s" is the game time that tick ended at, "over 16 ms"
// the ticks that took longer than a frame at 60 Hz, "full refreshes" the topology refreshes that
// walked the whole world.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "BenchWorlds.hpp"
#include "world/Game.hpp"

namespace zarn::bench {
namespace {

constexpr double tick = Game::fixedStep;
constexpr int ticksPerSecond = 120;
constexpr int moon = 9;

// The pseudo-random numbers of the scripted player, the same on every platform.
struct Draws {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double range(double a, double b) { return a + (b - a) * unit(); }
    bool oneIn(std::uint64_t n) { return next() % n == 0; }
};

// A player at the keys: a new intent every half second (walk, strafe, jump, crouch, fire or not),
// the view turning steadily in between, another weapon every three seconds.
struct Script {
    explicit Script(std::uint64_t seed) : draws{seed} {}

    Draws draws;
    Input intent;
    double yawRate = 0.0;
    double pitchGoal = 0.0;
    std::int64_t ticks = 0;

    Input next(Game& game) {
        if (ticks % 60 == 0) {
            intent.move.forward = draws.oneIn(4) ? draws.range(-1.0, 1.0) : 1.0;
            intent.move.side = draws.oneIn(3) ? draws.range(-1.0, 1.0) : 0.0;
            intent.move.jump = draws.oneIn(8);
            intent.move.crouch = draws.oneIn(20);
            intent.shoot = draws.oneIn(2);
            yawRate = draws.range(-2.0, 2.0);
            pitchGoal = draws.range(-0.7, 0.4);
        }
        if (ticks % 360 == 7)
            game.selectWeapon(static_cast<std::int32_t>(draws.next() % weaponCount));
        game.player.yaw = std::remainder(game.player.yaw + yawRate * tick, 2.0 * 3.141592653589793);
        game.player.pitch =
            std::clamp(game.player.pitch + (pitchGoal - game.player.pitch) * 0.05, -1.48, 1.48);
        ++ticks;
        return intent;
    }
};

// One scripted run: every tick timed, and the player kept alive and supplied so that the play never
// stops.
class Play {
  public:
    explicit Play(Game& game) : game_(game), fullBefore_(game.world.physics.fullRefreshCount) {}

    // One tick, after `before` (a charge set off, say) as part of it.
    template <class Before> void tickAfter(Before&& before, const Input& input) {
        const double start = processorSeconds();
        before();
        game_.tick(input, tick);
        const double seconds = processorSeconds() - start;
        clock_.record(seconds);
        if (seconds > worstSeconds_) {
            worstSeconds_ = seconds;
            worstAt_ = game_.time;
        }
        over16_ += seconds > 0.016 ? 1 : 0;
        game_.health = game_.maxHealth();
        game_.armour = game_.maxHealth();
        for (WeaponSlot& slot : game_.slots)
            slot.reserve = std::max(slot.reserve, 100);
        game_.heardSounds.clear();
    }
    void tickWith(const Input& input) {
        tickAfter([] {}, input);
    }
    void idle(double seconds) {
        for (int i = 0; i < static_cast<int>(seconds * ticksPerSecond); ++i)
            tickWith(Input{});
    }
    void scripted(Script& script, double seconds) {
        for (int i = 0; i < static_cast<int>(seconds * ticksPerSecond); ++i)
            tickWith(script.next(game_));
    }
    void report(benchmark::State& state) const {
        state.SetIterationTime(clock_.totalSeconds());
        state.counters["worst ms"] = clock_.worstMs();
        state.counters["worst at s"] = worstAt_;
        state.counters["mean ms"] = clock_.meanMs();
        state.counters["over 16 ms"] = static_cast<double>(over16_);
        state.counters["full refreshes"] =
            static_cast<double>(game_.world.physics.fullRefreshCount - fullBefore_);
        state.counters["pieces"] = static_cast<double>(game_.world.physics.pieces.size());
        state.counters["fractures"] = static_cast<double>(game_.world.physics.fractureCount);
        state.counters["kills"] = static_cast<double>(game_.kills);
    }

  private:
    Game& game_;
    StepClock clock_;
    double worstSeconds_ = 0.0;
    double worstAt_ = 0.0;
    std::int64_t over16_ = 0;
    std::uint64_t fullBefore_;
};

// Runs one scene per iteration on a fresh game made by `start` (untimed); false from `start` skips.
template <class Start, class Scene> void playScene(benchmark::State& state, Start start, Scene scene) {
    for (auto _ : state) {
        Game game;
        std::string message;
        if (!start(game, message)) {
            state.SkipWithError(message.c_str());
            return;
        }
        Play play(game);
        scene(game, play);
        play.report(state);
    }
}

// The Earth and the stars as the world selection starts them for exploring: no enemies, the player
// at the spawn point with a training ground's means.
void explore(Game& game) {
    game.messageUntil = 0.0;
    game.player.position = game.world.spawnPoint;
    game.enemies.clear();
    game.training = true;
    game.level = 4;
    game.points = 100000.0;
}

bool onEarth(Game& game, std::string& message) {
    if (!game.world.loadEarth(ZARN_LUJIAZUI_MAP, message))
        return false;
    explore(game);
    return true;
}

bool amongStars(Game& game, std::string& message) {
    if (!game.world.loadStars(ZARN_LUJIAZUI_MAP, message))
        return false;
    explore(game);
    return true;
}

// The training ground's demolition test watched from the runway, then walking and shooting about.
void BM_PlayTrainingGround(benchmark::State& state) {
    playScene(
        state,
        [](Game& game, std::string&) {
            game.reset(true);
            game.player.position = {0.0, 0.0, -470.0};
            return true;
        },
        [](Game& game, Play& play) {
            game.demolitionTest();
            play.idle(4.0);
            Script script(1);
            play.scripted(script, 8.0);
        });
}
BENCHMARK(BM_PlayTrainingGround)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The district's firefight: the eighty enemies posted on a 70 m grid round the spawn point, the
// player sweeping the streets with the assault rifle and a rocket into the towers every two seconds.
void BM_PlayDistrictFirefight(benchmark::State& state) {
    playScene(
        state,
        [](Game& game, std::string& message) {
            if (!game.world.loadMap(ZARN_LUJIAZUI_MAP, message))
                return false;
            game.messageUntil = 0.0;
            game.player.position = game.world.spawnPoint;
            const Vec3 spawn = game.world.spawnPoint;
            for (Enemy& enemy : game.enemies) {
                const double x = spawn.x + (enemy.id % 10 - 5) * 70.0;
                const double z = spawn.z + (enemy.id / 10 - 4) * 70.0;
                const MatterHit ground =
                    game.world.traceLine({x, spawn.y + 900.0, z}, {0.0, -1.0, 0.0}, 1000.0);
                enemy.position = {x, ground.hit ? ground.point.y : spawn.y, z};
                enemy.home = enemy.position;
            }
            game.level = 4;
            return true;
        },
        [](Game& game, Play& play) {
            Input fire;
            fire.shoot = true;
            game.weapon = 2;
            for (int i = 0; i < 12 * ticksPerSecond; ++i) {
                game.player.yaw = 1.2 * std::sin(0.004 * i);
                game.player.pitch = 0.03 + 0.05 * std::sin(0.011 * i);
                if (i % (2 * ticksPerSecond) == ticksPerSecond) {
                    // The launcher, loaded at once, then back to the rifle.
                    WeaponSlot& launcher = game.slots[6];
                    launcher.magazine = 1;
                    launcher.nextShot = 0.0;
                    game.weapon = 6;
                    game.shoot();
                    game.weapon = 2;
                }
                play.tickWith(fire);
            }
        });
}
BENCHMARK(BM_PlayDistrictFirefight)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The Earth: walking and shooting about from the district's spawn point while the terrain streams
// in, then two jumps into air mode and flying on by thrust.
void BM_PlayEarth(benchmark::State& state) {
    playScene(state, onEarth, [](Game& game, Play& play) {
        Script script(5);
        play.scripted(script, 10.0);
        Input jump;
        jump.move.jump = true;
        jump.move.forward = 1.0;
        Input coast;
        coast.move.forward = 1.0;
        play.tickWith(jump);
        play.tickWith(coast);
        play.tickWith(jump);
        game.player.pitch = 0.2;
        for (int i = 0; i < 6 * ticksPerSecond; ++i)
            play.tickWith(i % 240 < 200 ? jump : coast);
    });
}
BENCHMARK(BM_PlayEarth)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A charge at a facade slab of the district's tallest tower on the Earth, 76 m up, a second after
// the load (untimed): the slab and its neighbours break and the failures run on through the tower
// for longer than one topology refresh, while the organisms about keep pushing at the matter. The
// charge is timed with the tick it goes off in.
void BM_PlayEarthImpact(benchmark::State& state) {
    playScene(
        state,
        [](Game& game, std::string& message) {
            if (!onEarth(game, message))
                return false;
            for (int i = 0; i < ticksPerSecond; ++i)
                game.tick(Input{}, tick);
            return true;
        },
        [](Game& game, Play& play) {
            const std::uint32_t id = nearestPiece(game.world.physics, {225.5, 76.0, -420.8});
            play.tickAfter([&] { game.explode(game.world.physics.pieces[id - 1].body.center); }, Input{});
            play.idle(3.0);
        });
}
BENCHMARK(BM_PlayEarthImpact)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Dropped onto the Moon from 80 m as the "--moon" run is, then walking and shooting there with the
// rocket launcher at hand.
void BM_PlayMoon(benchmark::State& state) {
    playScene(state, amongStars, [](Game& game, Play& play) {
        Stars& stars = *game.world.stars;
        game.player.position = stars.rebase(moon, game.player.position);
        const Vec3 center = stars.center(moon);
        game.player.position =
            stars.rebase(moon, {center.x, center.y + stars.bodies[moon].radius + 80.0, center.z});
        game.player.velocity = {};
        stars.update(game.player.position, 0.0);
        game.world.syncStars(game.player, true);
        game.player.pitch = -0.08;
        for (int quarter = 0; quarter < 120 && !game.player.onGround; ++quarter)
            play.idle(0.25);
        game.selectWeapon(6);
        Script script(9);
        play.scripted(script, 8.0);
    });
}
BENCHMARK(BM_PlayMoon)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A warp: a few seconds' play on the Earth among the stars, then six taps of the forward key half a
// second apart, and the flight on.
void BM_PlayWarp(benchmark::State& state) {
    playScene(state, amongStars, [](Game& game, Play& play) {
        Script script(3);
        play.scripted(script, 3.0);
        game.player.yaw = 0.7;
        game.player.pitch = 0.9;
        for (int tap = 0; tap < 6; ++tap) {
            game.movementKey(true, -1.0);
            play.idle(0.5);
        }
        game.movementKey(false, -1.0);
        play.idle(3.0);
    });
}
BENCHMARK(BM_PlayWarp)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn::bench
