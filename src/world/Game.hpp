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

    // ---- weapons, shots, bullets, rockets and explosions ----
    // Fires the selected weapon if it can: spends a cartridge and launches a bullet or a rocket. An
    // empty magazine with reserve left starts a reload instead.
    void shoot();
    // Selects a weapon slot 0..6; a slot above the present level is refused with a message.
    void selectWeapon(std::int32_t slot);
    // A projectile hit on the matter piece at this index: the impact, the points for what it broke,
    // the hit marker and the sounds.
    void impactMatter(std::int32_t pieceIndex, const Vec3& point, const Vec3& momentum, double energy,
                      bool explosive);
    // A rocket explosion: the blast on the matter, the points, the flash, the sound, and the harm to
    // the enemies and the player near it. The point is taken by value: one on a piece of matter must
    // stay put while the blast splits that piece.
    void explode(Vec3 point);
    // The training ground's demolition charge at the foot of the test gate; elsewhere nothing.
    void demolitionTest();

    // ---- enemies and supplies ----
    // Replaces the enemies by the eighty soldiers of the city's grid.
    void spawnEnemies();
    // Moves every living enemy: patrol or chase, walk, fall, and fire at the player in sight.
    void updateEnemies(double dt);
    // Hurts the enemies struck by moving matter: touching it now, or (dt > 0) in its path over dt.
    void damageEnemiesFromMatter(double dt);
    // Hurts the player through the armour; at no health the player dies. Nothing while dead or on
    // the training ground.
    void hurtPlayer(double damage);
    // Puts the dead player back at the spawn point with full health, armour and reserves.
    void respawn();

    // ---- sound propagation ----
    // Starts one sound towards the listener, if fewer than the most fronts are travelling.
    void queueCollision(const CollisionSound& sound);
    // Starts the sounds the matter made towards the listener and empties the matter's queue.
    void collectPhysicsSounds();
    // Hands the fronts that reached the listener's ear to heardSounds and drops the stale ones.
    void updateSoundPropagation();

    // ---- star travel ----
    // A key pressed in play, at the clock reading `when` in seconds (negative: the game's own time).
    // In the star world taps of the forward key at most a second apart make a series, and from its
    // fourth tap on each one warps the player along the view; any other key ends the series.
    void movementKey(bool forwardTap, double when);

    // ---- save file ----
    // Writes this city game to the file at path (UTF-8) through path + ".tmp", keeping the previous
    // save as path + ".bak". On false the message says why, and any earlier save is as it was.
    bool save(const std::string& path, std::string& message) const;
    // Replaces this game by the one saved at path once every check has passed; on false the message
    // says why and this game is unchanged.
    bool load(const std::string& path, std::string& message);

    static constexpr std::size_t maxTravelingSounds = 512;
    static constexpr std::size_t maxHeardSounds = 24;
    static constexpr double speedOfSound = 343.0; // m/s
    static constexpr double soundLifetime = 30.0; // s a front travels before it is dropped unheard

  private:
    void step(const Input& input, double dt);
    void stepPhysics();
    void stepWeaponSlots(double dt);
    void useWeaponKeys(const Input& input);
    void resupplyKey();
    void flyBullets(double dt);
    void flyRockets(double dt);
    void killEnemy(Enemy& enemy);
    void pickUpSupplies();
    // The star world's frame follows the player to the nearest body; what travels in the old frame's
    // coordinates moves along with it.
    void keepStarFrame();
    void warpJump();
};

// Reward paid for the destroyed value growing from one loss to another.
double destructionReward(double lossBefore, double lossAfter);

} // namespace zarn
