#include <algorithm>

#include "world/Game.hpp"

namespace zarn {

void Game::queueCollision(const CollisionSound& sound) {
    if (travelingSounds.size() < maxTravelingSounds) {
        travelingSounds.push_back({sound, time});
    }
}

void Game::collectPhysicsSounds() {
    for (const CollisionSound& sound : world.physics.sounds) {
        queueCollision(sound);
    }
    // What found no room is lost; the matter starts its next queue empty.
    world.physics.sounds.clear();
}

void Game::updateSoundPropagation() {
    const Vec3 ear = eye();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < travelingSounds.size(); ++i) {
        const TravelingSound& front = travelingSounds[i];
        const double r = length(front.sound.position - ear);
        const double age = time - front.emittedAt;
        if (age * speedOfSound >= r) {
            // Arrived: heard if the shell has room for it, gone either way.
            if (heardSounds.size() < maxHeardSounds) {
                heardSounds.push_back(front.sound);
            }
            continue;
        }
        if (age > soundLifetime) {
            continue; // too far to ever be heard
        }
        if (kept != i) {
            travelingSounds[kept] = front;
        }
        ++kept;
    }
    travelingSounds.resize(kept);
}

} // namespace zarn
