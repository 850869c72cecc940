#include <algorithm>
#include <cmath>

#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr double bulletTracerLife = 0.045; // s
constexpr double bulletHitMarker = 0.15;   // s, after a bullet or rocket strikes an enemy
constexpr double matterHitMarker = 0.12;   // s, after a projectile strikes matter
constexpr double blastHitMarker = 0.2;     // s, after a blast hurts an enemy
constexpr double headHeight = 1.45;        // m above the feet; a bullet entering above it hits the head
constexpr double headMultiplier = 3.0;
constexpr double rocketEnemyDamage = 340.0;

// The upright box an enemy offers to projectiles: half width and height above the feet.
struct EnemyTarget {
    double halfWidth;
    double height;
};
constexpr EnemyTarget bulletTarget{0.38, 1.85};
constexpr EnemyTarget rocketTarget{0.4, 1.8};

// Impact shapes: the small, brief, sharp contact of a bullet; the wide push of a warhead.
constexpr double bulletArea = 8e-05;       // m²
constexpr double bulletDuration = 4e-05;   // s
constexpr double bulletRadius = 0.12;      // m
constexpr double explosiveArea = 0.001;    // m²
constexpr double explosiveDuration = 0.01; // s
constexpr double explosiveRadius = 1.4;    // m

// Explosions.
constexpr double blastEnergy = 180000.0; // J, times the impact multiplier squared
constexpr double blastLevelGain = 1.15;  // more blast per fire-power level above 2
constexpr double blastRadius = 8.0;      // m
constexpr double blastFlashTime = 0.45;  // s
constexpr double enemyBlastRange = 14.0; // m, strictly less
constexpr double enemyBlastDamage = 340.0;
constexpr double playerBlastRange = 9.0; // m, strictly less
constexpr double playerBlastDamage = 85.0;
constexpr double blastArmourPerLevel = 0.4;

// Distance along the ray (origin, unit direction, length) at which it enters the enemy's upright
// box, or a negative number when it misses within the length. Slabs per axis; an axis the ray runs
// along must hold the origin between its planes.
double enterEnemy(const Vec3& origin, const Vec3& direction, double length, const Enemy& enemy,
                  const EnemyTarget& target) {
    const Vec3 low{enemy.position.x - target.halfWidth, enemy.position.y,
                   enemy.position.z - target.halfWidth};
    const Vec3 high{enemy.position.x + target.halfWidth, enemy.position.y + target.height,
                    enemy.position.z + target.halfWidth};
    double near = 0.0;
    double far = length;
    for (int k = 0; k < 3; ++k) {
        if (std::abs(direction[k]) < 1e-10) {
            if (origin[k] < low[k] || origin[k] > high[k]) {
                return -1.0;
            }
            continue;
        }
        double t0 = (low[k] - origin[k]) / direction[k];
        double t1 = (high[k] - origin[k]) / direction[k];
        if (t0 > t1) {
            std::swap(t0, t1);
        }
        near = std::max(near, t0);
        far = std::min(far, t1);
    }
    return near <= far ? near : -1.0;
}

bool alreadyHit(const std::vector<std::int32_t>& ids, std::int32_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// One flight step of a projectile: gravity, the path over dt and the first matter on it.
struct FlightStep {
    Vec3 end;       // where the projectile gets to without a hit
    Vec3 direction; // unit, zero when it hangs still
    double length = 0.0;
    MatterHit hit;
};

FlightStep flightStep(const World& world, const Vec3& position, Vec3& velocity, double dt) {
    velocity += world.physics.gravity * dt;
    FlightStep step;
    step.end = position + velocity * dt;
    step.direction = normalized(velocity);
    step.length = length(step.end - position);
    step.hit = world.traceLine(position, step.direction, step.length);
    return step;
}

// The nearest living organism on the flight's path short of the matter it hits; none outside the
// Earth engine's worlds.
OrganismHit organismOnPath(const World& world, const Vec3& origin, const FlightStep& flight) {
    if (!world.earth) {
        return {};
    }
    const double limit = flight.hit.hit ? flight.hit.distance : flight.length;
    return world.earth->ecology.trace(origin, flight.direction, limit, 0);
}

} // namespace

void Game::flyBullets(double dt) {
    for (Bullet& bullet : bullets) {
        const FlightStep flight = flightStep(world, bullet.position, bullet.velocity, dt);
        // Bullets pass through enemies, hurting each one once, until they meet matter.
        for (Enemy& enemy : enemies) {
            if (!enemy.alive || alreadyHit(bullet.hitEnemies, enemy.id)) {
                continue;
            }
            const double e =
                enterEnemy(bullet.position, flight.direction, flight.length, enemy, bulletTarget);
            if (e < 0.0 || (flight.hit.hit && !(e < flight.hit.distance))) {
                continue;
            }
            bullet.hitEnemies.push_back(enemy.id);
            const bool head = bullet.position.y + e * flight.direction.y - enemy.position.y > headHeight;
            enemy.health -= head ? bullet.damage * headMultiplier : bullet.damage;
            hitMarker = bulletHitMarker;
            if (enemy.health <= 0.0) {
                killEnemy(enemy);
            }
        }
        // An organism on the way stops the bullet before matter does.
        Vec3 end = flight.end;
        if (const OrganismHit organism = organismOnPath(world, bullet.position, flight);
            organism.index >= 0) {
            world.earth->ecology.impact(static_cast<std::uint64_t>(organism.index),
                                        bullet.velocity * bullet.mass * impactMultiplier, false);
            hitMarker = bulletHitMarker;
            bullet.life = 0.0;
            end = bullet.position + flight.direction * organism.distance;
        } else if (flight.hit.hit) {
            impactMatter(flight.hit.piece, flight.hit.point, bullet.velocity * bullet.mass,
                         0.5 * bullet.mass * lengthSquared(bullet.velocity), false);
            bullet.life = 0.0;
            end = flight.hit.point;
        }
        tracers.push_back(Tracer{bullet.position, end, bulletTracerLife, false});
        bullet.position = end;
        bullet.life -= dt;
    }
    std::erase_if(bullets, [](const Bullet& bullet) { return bullet.life <= 0.0; });
}

void Game::flyRockets(double dt) {
    // explode may not add rockets, so the references stay valid.
    for (Rocket& rocket : rockets) {
        const FlightStep flight = flightStep(world, rocket.position, rocket.velocity, dt);
        for (Enemy& enemy : enemies) {
            if (!enemy.alive || alreadyHit(rocket.hitEnemies, enemy.id)) {
                continue;
            }
            const double e =
                enterEnemy(rocket.position, flight.direction, flight.length, enemy, rocketTarget);
            if (e < 0.0 || (flight.hit.hit && !(e < flight.hit.distance))) {
                continue;
            }
            rocket.hitEnemies.push_back(enemy.id);
            enemy.health -= rocketEnemyDamage;
            hitMarker = bulletHitMarker;
            if (enemy.health <= 0.0) {
                killEnemy(enemy);
            }
        }
        // An organism on the way sets the rocket off before matter does.
        if (const OrganismHit organism = organismOnPath(world, rocket.position, flight);
            organism.index >= 0) {
            world.earth->ecology.impact(static_cast<std::uint64_t>(organism.index),
                                        rocket.velocity * rocket.mass * impactMultiplier, false);
            rocket.life = 0.0;
            explode(rocket.position + flight.direction * organism.distance);
        } else {
            rocket.life -= dt;
            if (flight.hit.hit) {
                impactMatter(flight.hit.piece, flight.hit.point, rocket.velocity * rocket.mass,
                             0.5 * rocket.mass * lengthSquared(rocket.velocity), true);
                explode(flight.hit.point);
                rocket.life = 0.0;
            } else if (rocket.life <= 0.0) {
                explode(flight.end);
                rocket.life = 0.0;
            }
        }
        rocket.position = flight.end;
    }
    std::erase_if(rockets, [](const Rocket& rocket) { return rocket.life <= 0.0; });
}

void Game::impactMatter(std::int32_t pieceIndex, const Vec3& point, const Vec3& momentum, double energy,
                        bool explosive) {
    if (pieceIndex < 0 || static_cast<std::size_t>(pieceIndex) >= world.physics.pieces.size()) {
        return;
    }
    const double lossBefore = world.loss();
    Impact hit;
    hit.point = point;
    hit.impulse = momentum * impactMultiplier;
    hit.energy = energy * impactMultiplier * impactMultiplier;
    hit.area = explosive ? explosiveArea : bulletArea;
    hit.duration = explosive ? explosiveDuration : bulletDuration;
    hit.radius = explosive ? explosiveRadius : bulletRadius;
    hit.weapon = true;
    world.physics.impact(static_cast<std::uint32_t>(pieceIndex) + 1u, hit);
    reward(destructionReward(lossBefore, world.loss()));
    hitMarker = matterHitMarker;
    collectPhysicsSounds();
}

void Game::explode(Vec3 point) {
    const double m = impactMultiplier;
    // The organisms near the blast take their share of it first.
    if (world.earth) {
        world.earth->ecology.blast(point, blastEnergy * m);
    }
    const double lossBefore = world.loss();
    const double strength = 1.0 + blastLevelGain * std::max(level - 2, 0);
    world.physics.blast(point, strength * blastEnergy * m * m, blastRadius);
    reward(destructionReward(lossBefore, world.loss()));
    blastFlash = blastFlashTime;
    shotSound = 2;
    // Every sound of the blast goes out together, within the matter's one queue of a step.
    collectPhysicsSounds();

    for (Enemy& enemy : enemies) {
        if (!enemy.alive) {
            continue;
        }
        const double d = length(enemy.position - point);
        if (d < enemyBlastRange) {
            enemy.health -= (1.0 - d / enemyBlastRange) * enemyBlastDamage;
            hitMarker = blastHitMarker;
            if (enemy.health <= 0.0) {
                killEnemy(enemy);
            }
        }
    }
    const double d = length(player.position - point);
    if (d < playerBlastRange) {
        hurtPlayer((1.0 - d / playerBlastRange) * playerBlastDamage / (1.0 + blastArmourPerLevel * level));
    }
}

void Game::demolitionTest() {
    if (!training) {
        return;
    }
    world.demolitionTest();
    // The charge is heard like any explosion; left in the matter's queue, the next step would drop it.
    collectPhysicsSounds();
    showMessage("冲量施加于支撑 / 观察应力传导与失稳");
}

} // namespace zarn
