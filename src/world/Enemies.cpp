#include <algorithm>
#include <cmath>

#include "physics/Geometry.hpp"
#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr int enemyCount = 80;
constexpr double startClearance = 38.0; // m kept free of enemies around the start point
constexpr double blockSnap = 128.0;     // m, the street grid posts are snapped to
constexpr double spawnHullRadius = 0.4;
constexpr double enemyHullRadius = 0.36; // m, the enemy's hull half width when walking and falling
constexpr double enemyHullHeight = 1.8;  // m

constexpr double wakeRange = 300.0;   // m; farther enemies stand frozen
constexpr double chaseRange = 95.0;   // m
constexpr double closeRange = 17.0;   // m; nearer than this they keep circling their post
constexpr double fireRange = 110.0;   // m
constexpr double patrolRadius = 12.0; // m around the post
constexpr double patrolRate = 0.17;   // rad/s
constexpr double patrolSpeed = 1.2;   // m/s
constexpr double chaseSpeed = 2.5;    // m/s
constexpr double muzzleHeight = 1.45; // m above the feet
constexpr double enemyTracerLife = 0.12;
constexpr double hitChance = 0.38;

// m below the world's ground level: no matter of a world lies this deep, so an enemy falling past
// it has fallen off the world and would fall for ever (and out of every save's reach).
constexpr double fallOutDepth = 100.0;

// The enemy's body as moving matter sees it: an upright box standing on the feet.
constexpr Vec3 bodyHalfExtents{0.38, 0.9, 0.38};
constexpr double strikeSpeed = 1.0;      // m/s; slower matter hurts nobody
constexpr double heavyPiece = 120.0;     // kg; heavier pieces strike with a fixed effective mass
constexpr double heavyStrikeMass = 60.0; // kg
constexpr double strikeDamageMax = 200.0;
constexpr double matterImmunity = 0.25; // s after a strike

constexpr double killReward = 120.0;
constexpr double supplyReach = 2.5; // m from the player's feet, strictly less

constexpr double armourShare = 0.65; // most of a hit the armour can take
constexpr double hurtFlashTime = 0.35;

// A time truncated towards zero, as an unsigned 32-bit seed (wrapping, never overflowing).
std::uint32_t timeSeed(double t) {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(t));
}

Polyhedron enemyBody(const Enemy& enemy) {
    Polyhedron body;
    body.center = enemy.position + Vec3{0.0, bodyHalfExtents.y, 0.0};
    body.halfExtents = bodyHalfExtents;
    return body;
}

// A moving piece that may strike an enemy, with a box around everything it can reach: its bounds
// grown by more than the enemy's body can add, and stretched along its path over dt.
struct Striker {
    const MatterPiece* piece;
    const Assembly* assembly;
    Box reach;
};

constexpr double reachMargin = 3.0; // m; the enemy body grows a box by less than this on any axis

void collectStrikers(const Physics& physics, double dt, std::vector<Striker>& out) {
    out.clear();
    for (const Assembly& assembly : physics.assemblies) {
        if (assembly.asleep) {
            continue;
        }
        for (const std::uint32_t id : assembly.members) {
            const MatterPiece& piece = physics.pieces[id - 1];
            Box reach = piece.body.bounds();
            const Vec3 path = dt > 0.0 ? piece.body.velocity * dt : Vec3{};
            reach.min =
                componentMin(reach.min, reach.min + path) - Vec3{reachMargin, reachMargin, reachMargin};
            reach.max =
                componentMax(reach.max, reach.max + path) + Vec3{reachMargin, reachMargin, reachMargin};
            out.push_back({&piece, &assembly, reach});
        }
    }
}

bool inside(const Box& box, const Vec3& p) {
    return p.x >= box.min.x && p.x <= box.max.x && p.y >= box.min.y && p.y <= box.max.y && p.z >= box.min.z &&
           p.z <= box.max.z;
}

// Damage one moving piece deals the enemy body: by touching it, or (dt > 0) by having passed
// through it over the last dt. 0 when it misses or is too slow.
double strikeDamage(const Striker& striker, const Polyhedron& body, double dt) {
    const Polyhedron& box = striker.piece->body;
    Vec3 point;
    Contact contact;
    if (collide(box, body, contact)) {
        point = contact.point;
    } else {
        const double v = length(box.velocity);
        if (!(dt > 0.0) || !(v > strikeSpeed)) {
            return 0.0;
        }
        // The enemy's centre traced back along the piece's path against the piece grown by the body.
        Polyhedron grown = box;
        const std::array<Vec3, 3> axes = box.axes();
        for (int k = 0; k < 3; ++k) {
            const Vec3& a = axes[static_cast<std::size_t>(k)];
            grown.halfExtents[k] +=
                (std::abs(a.x) + std::abs(a.z)) * bodyHalfExtents.x + std::abs(a.y) * bodyHalfExtents.y;
        }
        if (tracePolyhedron(body.center, -box.velocity / v, grown, v * dt) < 0.0) {
            return 0.0;
        }
        point = body.center;
    }
    const Assembly& assembly = *striker.assembly;
    const double s = length(assembly.velocity + cross(assembly.angularVelocity, point - assembly.center));
    if (!(s > strikeSpeed)) {
        return 0.0;
    }
    const double mass = box.mass > heavyPiece ? heavyStrikeMass : 0.5 * box.mass;
    return std::min(mass * s * s / 40.0, strikeDamageMax);
}

} // namespace

void Game::spawnEnemies() {
    enemies.clear();
    for (int i = 0; i < enemyCount; ++i) {
        double x = ((i % 8) - 4) * 64.0;
        double z = 40.0 + ((i / 8) - 5) * 50.0;
        // Even soldiers stand on the streets along x, odd ones on the streets along z.
        if (i % 2 == 0) {
            z = std::round(z / blockSnap) * blockSnap;
        } else {
            x = std::round(x / blockSnap) * blockSnap;
        }
        if (std::hypot(x, z + 110.0) < startClearance) {
            z += 100.0;
        }
        const Vec3 post{x, 0.0, z};
        if (world.traceHull(post, post, spawnHullRadius, enemyHullHeight).stuck) {
            x = std::round(x / blockSnap) * blockSnap;
            z = std::round(z / blockSnap) * blockSnap;
        }
        Enemy enemy;
        enemy.id = i;
        enemy.position = {x, 0.0, z};
        enemy.home = enemy.position;
        enemy.health = 100.0;
        enemy.nextShot = 3.0 + (i % 7);
        enemy.alive = true;
        enemy.fallSpeed = 0.0;
        enemy.safeUntil = 0.0;
        enemies.push_back(enemy);
    }
}

void Game::updateEnemies(double dt) {
    for (Enemy& enemy : enemies) {
        if (!enemy.alive) {
            continue;
        }
        const double d = length(enemy.position - player.position);
        if (d > wakeRange) {
            continue;
        }
        // Patrol a circle around the post; chase a player who comes near, but circle again when
        // the player is close.
        Vec3 target = player.position;
        double speed = chaseSpeed;
        if (d >= chaseRange || d <= closeRange) {
            const double phase = time * patrolRate + enemy.id;
            target = enemy.home + Vec3{std::sin(phase), 0.0, std::cos(phase)} * patrolRadius;
            speed = d >= chaseRange ? patrolSpeed : chaseSpeed;
        }
        Vec3 heading = target - enemy.position;
        heading.y = 0.0;
        const Vec3 walk = normalized(heading) * speed;
        enemy.position =
            world.traceHull(enemy.position, enemy.position + walk * dt, enemyHullRadius, enemyHullHeight).end;

        enemy.fallSpeed -= World::standardGravity * dt;
        const HullTrace fall =
            world.traceHull(enemy.position, enemy.position + Vec3{0.0, enemy.fallSpeed * dt, 0.0},
                            enemyHullRadius, enemyHullHeight);
        enemy.position = fall.end;
        if (fall.fraction < 1.0) {
            enemy.fallSpeed = 0.0;
        }
        if (enemy.position.y < world.physics.groundLevel - fallOutDepth) {
            enemy.health = 0.0; // a fall off the world is a death like any other
            killEnemy(enemy);
            continue;
        }

        if (d < fireRange && enemy.nextShot <= time && !dead) {
            const Vec3 muzzle = enemy.position + Vec3{0.0, muzzleHeight, 0.0};
            const auto id = static_cast<std::uint32_t>(enemy.id);
            const std::uint32_t second = timeSeed(time);
            enemy.nextShot = time + 1.4 + 1.8 * randomDraw(second * 91u + id);
            const Vec3 aimPoint = eye();
            const Vec3 line = aimPoint - muzzle;
            const double distance = length(line);
            if (!world.traceLine(muzzle, normalized(line), distance).hit) {
                const double miss = 2.0 * (randomDraw(second + id) - 0.5);
                tracers.push_back(Tracer{muzzle, aimPoint + Vec3{miss, 0.0, 0.0}, enemyTracerLife, true});
                if (randomDraw(timeSeed(13.0 * time) + 23u * id) < hitChance) {
                    hurtPlayer((4.0 + 1.7 * level) * std::max(1.0 - d / 150.0, 0.3));
                }
            }
        }
    }
}

void Game::damageEnemiesFromMatter(double dt) {
    std::vector<Striker> strikers; // stays empty (no allocation) while the matter rests
    collectStrikers(world.physics, dt, strikers);
    if (strikers.empty()) {
        return;
    }
    for (Enemy& enemy : enemies) {
        if (!enemy.alive || enemy.safeUntil > time) {
            continue;
        }
        const Polyhedron body = enemyBody(enemy);
        double damage = 0.0;
        for (const Striker& striker : strikers) {
            if (inside(striker.reach, body.center)) {
                damage = std::max(damage, strikeDamage(striker, body, dt));
            }
        }
        if (damage > 0.0) {
            enemy.health -= damage;
            enemy.safeUntil = time + matterImmunity;
            if (enemy.health <= 0.0) {
                killEnemy(enemy);
            }
        }
    }
}

void Game::killEnemy(Enemy& enemy) {
    enemy.alive = false;
    ++kills;
    reward(killReward);
    supplies.push_back(Supply{enemy.position, false});
}

void Game::hurtPlayer(double damage) {
    if (dead || training) {
        return;
    }
    const double absorbed = std::min(armourShare * damage, armour);
    armour -= absorbed;
    health -= damage - absorbed;
    hurtFlash = hurtFlashTime;
    if (health <= 0.0) {
        health = 0.0;
        dead = true;
        showMessage("已阵亡 / 按回车重新部署");
    }
}

void Game::respawn() {
    player = Player{};
    player.position = world.spawnPoint;
    dead = false;
    health = maxHealth();
    armour = maxHealth();
    replenish();
    showMessage("已重新部署 / 城市破坏状态保留");
}

void Game::pickUpSupplies() {
    for (Supply& supply : supplies) {
        if (!supply.taken && length(supply.position - player.position) < supplyReach) {
            supply.taken = true;
            replenish();
        }
    }
}

} // namespace zarn
