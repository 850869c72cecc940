#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "physics/Records.hpp"
#include "world/Enemies.hpp"
#include "world/Movement.hpp"
#include "world/Weapons.hpp"
#include "world/World.hpp"

namespace zarn {

// The keys of one fixed step, as the shell reads them.
struct Input {
    MoveCommand move; // first, so the movement rules see it as the move command
    bool shoot = false;
    bool reload = false;
    bool scope = false;
    bool resupply = false;
};

// The play state of one world: the world itself, the player, the weapons, the projectiles, the
// enemies, the supplies, the score and the HUD message. The shell owns one and ticks it in fixed
// steps; the renderer reads it.
class Game {
  public:
    static constexpr double fixedStep = 1.0 / 120.0;  // s, one game step
    static constexpr double physicsStep = 1.0 / 60.0; // s, one matter step
    static constexpr double messageTime = 4.0;        // s of game time a HUD message is shown
    static constexpr double comboWindow = 4.0;        // s between rewards that keeps the combo going
    static constexpr std::int32_t maxLevel = 4;

    // A collision sound on its way to the listener.
    struct TravelingSound {
        CollisionSound sound;   // its position is the source
        double emittedAt = 0.0; // game time it was queued
    };

    World world;
    std::vector<TravelingSound> travelingSounds; // at most 512
    std::vector<CollisionSound> heardSounds;     // at most 24; the shell plays and clears them
    double physicsAccumulator = 0.0;             // game time not yet given to the matter physics
    double impactMultiplier = 4.0;               // scale of weapon impulses and blasts (a setting)
    Player player;
    std::array<WeaponSlot, weaponCount> slots{};
    std::vector<Enemy> enemies;
    std::vector<Rocket> rockets;
    std::vector<Bullet> bullets;
    std::vector<Tracer> tracers;
    std::vector<Supply> supplies;
    double recoilPitch = 0.0; // rad, view kick added to the pitch, 0..0.25
    double time = 0.0;        // s, game clock
    double health = 100.0;    // up to 100 + 25 x level
    double armour = 100.0;    // up to 100 + 25 x level
    double points = 0.0;      // spendable points
    double totalPoints = 0.0; // every point ever earned
    double combo = 1.0;       // reward multiplier 1..3
    double lastRewardTime = -100.0;
    double hitMarker = 0.0;    // s
    double hurtFlash = 0.0;    // s
    double muzzleFlash = 0.0;  // s
    double blastFlash = 0.0;   // s
    double messageUntil = 0.0; // s; the HUD shows the message while time is below it
    double lastGain = 0.0;     // points paid by the last reward
    std::int32_t level = 0;    // fire-power level 0..4
    std::int32_t weapon = 2;   // selected slot
    std::int32_t kills = 0;
    std::int32_t shotSound = 0; // 1 after a bullet, 2 after a rocket or an explosion; the shell clears it
    bool triggerHeld = false;   // the fire key was down in the previous step
    bool dead = false;
    bool training = false;
    std::string message = "方向移动 / 鼠标瞄准 / B 装备"; // UTF-8, the HUD message line
    std::int32_t warpTaps = 0;
    double lastWarpTap = -1.0;

    // A new game in the demolition city.
    Game();

    // Starts a new game in the demolition city or, with training set, on the training ground.
    void reset(bool training);
    // Advances the game by dt in fixed steps of at most 1/120 s; the matter physics takes at most one
    // 1/60 s step per game step.
    void tick(const Input& input, double dt);
    // The unit view direction: yaw and pitch plus the recoil kick, about the world's up.
    Vec3 aim() const;
    // The player's eye: the feet raised along the world's up by the standing or crouched eye height.
    Vec3 eye() const;

    // Shows a HUD line for four seconds of game time.
    void showMessage(std::string_view text);
    bool messageVisible() const { return time < messageUntil; }

    // ---- points, combo and fire-power levels ----
    // Pays a reward with the combo multiplier; gains of 0 or less are ignored.
    void reward(double gain);
    // Buys the next fire-power level, if the points suffice.
    void upgrade();
    // Refills the reserves for the present level and tops up health and armour.
    void replenish();
    // Health and armour maximum of the present level.
    double maxHealth() const { return 100.0 + 25.0 * level; }

  private:
    void step(const Input& input, double dt);
    void stepPhysics();
    void stepWeaponSlots(double dt);
    void useWeaponKeys(const Input& input);
    void resupplyKey();
};

// Reward paid for the destroyed value growing from one loss to another.
double destructionReward(double lossBefore, double lossAfter);

} // namespace zarn
