#include "world/Game.hpp"

#include <algorithm>
#include <cmath>

namespace zarn {

namespace {

// The free resupply point at the city's start, used whatever the world's spawn point is.
constexpr Vec3 resupplyPoint{0.0, 0.0, -110.0};
constexpr double resupplyRange = 12.0; // m, strictly less
constexpr double stepSplitTolerance = 1e-9;
constexpr double recoilPitchDecay = 7.0;  // 1/s
constexpr double slotRecoilDecay = 0.035; // rad/s
constexpr double slotKickDecay = 0.15;    // rad/s
constexpr std::int32_t scopedWeapon = 4;
constexpr std::int32_t trainingLevel = 4;
constexpr double trainingPoints = 99999.0;

// The training ground's floor: 16 x 16 anchored slabs of 64 m, x in the outer loop.
void layTrainingFloor(World& world) {
    for (int x = -512; x <= 448; x += 64) {
        for (int z = -512; z <= 448; z += 64) {
            MatterPiece slab;
            slab.body.center = {x + 32.0, -4.0, z + 32.0};
            slab.body.halfExtents = {32.0, 4.0, 32.0};
            slab.owner = 0;
            slab.groundLevel = 1e30;
            slab.building = buildingTag::ground;
            slab.color = {0.24, 0.27, 0.25};
            slab.alive = true;
            slab.anchored = true;
            slab.stateTime = -1.0;
            world.physics.add(slab);
        }
    }
}

WeaponSlot fullSlot(const WeaponSpec& spec) {
    WeaponSlot slot;
    slot.magazine = spec.magazine;
    slot.reserve = spec.reserve;
    return slot;
}

} // namespace

double destructionReward(double lossBefore, double lossAfter) {
    return 10.0 * (std::sqrt(lossAfter / 1000.0) - std::sqrt(lossBefore / 1000.0));
}

Game::Game() {
    reset(false);
}

void Game::showMessage(std::string_view text) {
    message = text;
    messageUntil = time + messageTime;
}

void Game::reset(bool trainingGround) {
    world.reset();
    warpTaps = 0;
    lastWarpTap = -1.0;
    heardSounds.clear();
    travelingSounds.clear();

    player = Player{};
    player.position = resupplyPoint;
    physicsAccumulator = 0.0;

    health = 100.0;
    armour = 100.0;
    level = 0;
    weapon = 2;
    kills = 0;
    triggerHeld = false;
    dead = false;
    training = trainingGround;

    recoilPitch = 0.0;
    time = 0.0;
    points = 0.0;
    totalPoints = 0.0;
    combo = 1.0;
    lastRewardTime = -100.0;
    hitMarker = hurtFlash = muzzleFlash = blastFlash = 0.0;
    messageUntil = 0.0;
    lastGain = 0.0;

    rockets.clear();
    bullets.clear();
    tracers.clear();
    supplies.clear();
    for (int i = 0; i < weaponCount; ++i) {
        slots[static_cast<std::size_t>(i)] = fullSlot(weapons[static_cast<std::size_t>(i)]);
    }
    spawnEnemies();

    if (trainingGround) {
        world.physics.clear();
        world.buildings.clear();
        world.id = "training";
        world.name = "训练场";
        world.spawnPoint = {0.0, 0.0, -480.0};
        world.enterCellOf(world.spawnPoint);
        layTrainingFloor(world);
        world.addTestStructures();
        enemies.clear(); // the training ground has no enemies
        level = trainingLevel;
        player.position = world.spawnPoint;
        points = trainingPoints;
        showMessage("训练场 / 百米跑道 / 爆破与调试键位见设置");
    } else {
        showMessage("城市破坏试验 / 击败敌人赚取贡献 / B 装备");
    }
}

void Game::tick(const Input& input, double dt) {
    if (!std::isfinite(dt) || dt <= 0.0) {
        return;
    }
    if (dt > fixedStep + stepSplitTolerance) {
        // A long frame is played as whole game steps with the same keys.
        double left = dt;
        while (left > stepSplitTolerance) {
            const double piece = std::min(left, fixedStep);
            step(input, piece);
            left -= piece;
        }
        return;
    }
    step(input, dt);
}

void Game::step(const Input& input, double dt) {
    time += dt;
    updateSoundPropagation();
    recoilPitch *= std::exp(-recoilPitchDecay * dt);
    for (double* timer : {&hitMarker, &hurtFlash, &muzzleFlash, &blastFlash}) {
        *timer = std::max(0.0, *timer - dt);
    }
    if (time - lastRewardTime > comboWindow) {
        combo = 1.0;
    }
    keepStarFrame();
    world.update(player.position, dt, aim());

    physicsAccumulator += dt;
    if (physicsAccumulator >= physicsStep) {
        stepPhysics();
        physicsAccumulator -= physicsStep;
    }

    stepWeaponSlots(dt);
    if (!dead) {
        MovementConfig config;
        if (world.stars) {
            config.gravity = length(world.physics.gravity); // the strength of the local field
        }
        simulateCSMove(player, input.move, world, dt, config);
        useWeaponKeys(input);
        if (input.resupply) {
            resupplyKey();
        }
    }
    triggerHeld = input.shoot;

    updateEnemies(dt);
    flyBullets(dt);
    flyRockets(dt);

    for (Tracer& tracer : tracers) {
        tracer.life -= dt;
    }
    std::erase_if(tracers, [](const Tracer& tracer) { return tracer.life <= 0.0; });

    pickUpSupplies();
}

// One matter step. Whatever it destroys is paid as points.
void Game::stepPhysics() {
    const double lossBefore = world.loss();
    world.physics.expireMotion();
    // Moving matter strikes the enemies in its path over the coming step, and those it touches after.
    damageEnemiesFromMatter(physicsStep);
    // The matter meets the organisms as they stand now, and they take the pushes it gave them.
    if (world.earth) {
        world.earth->ecology.syncColliders(world.physics);
    }
    const std::uint64_t compactions = world.physics.compaction.count;
    world.physics.step(physicsStep);
    if (world.earth) {
        // A step that compacted the history renumbered the pieces the organisms are bonded to.
        if (world.physics.compaction.count != compactions) {
            world.earth->ecology.renumberWorldBonds(world.physics.compaction.renumbering);
        }
        world.earth->ecology.receiveContacts(world.physics);
    }
    damageEnemiesFromMatter(0.0);
    reward(destructionReward(lossBefore, world.loss()));
    collectPhysicsSounds();
}

// Reloads complete when their time comes; spread bloom and weapon-model kick die away.
void Game::stepWeaponSlots(double dt) {
    for (int i = 0; i < weaponCount; ++i) {
        WeaponSlot& slot = slots[static_cast<std::size_t>(i)];
        const WeaponSpec& spec = weapons[static_cast<std::size_t>(i)];
        if (slot.reloadUntil != 0.0 && slot.reloadUntil <= time) {
            const std::int32_t n = std::min(slot.reserve, spec.magazine - slot.magazine);
            slot.magazine += n;
            slot.reserve -= n;
            slot.reloadUntil = 0.0;
        }
        slot.recoil = std::max(0.0, slot.recoil - slotRecoilDecay * dt);
        slot.kick = std::max(0.0, slot.kick - slotKickDecay * dt);
    }
}

void Game::useWeaponKeys(const Input& input) {
    WeaponSlot& slot = slots[static_cast<std::size_t>(weapon)];
    const WeaponSpec& spec = weapons[static_cast<std::size_t>(weapon)];
    if (input.reload && slot.reloadUntil == 0.0 && slot.magazine < spec.magazine && slot.reserve > 0) {
        slot.scoped = false;
        slot.reloadUntil = time + spec.reload;
    }
    if (input.scope && weapon == scopedWeapon) {
        slot.scoped = !slot.scoped;
    }
    // Automatic weapons fire on every step while the key is held, the others once per press.
    if (input.shoot && (!triggerHeld || spec.automatic)) {
        shoot();
    }
}

void Game::resupplyKey() {
    if (training || length(player.position - resupplyPoint) < resupplyRange) {
        replenish();
        return;
    }
    showMessage("出生点可免费补给 / 也可拾取敌人掉落");
}

Vec3 Game::aim() const {
    const double p = player.pitch + recoilPitch;
    const Vec3 up = world.gravityUp();
    const Heading h = heading(up);
    return (h.forward * std::cos(player.yaw) + h.right * std::sin(player.yaw)) * std::cos(p) +
           up * std::sin(p);
}

Vec3 Game::eye() const {
    return player.position + world.gravityUp() * player.eyeHeight();
}

} // namespace zarn
