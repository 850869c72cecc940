// Travel in the star world: the frame that follows the player from body to body, and the warp of
// rapid forward taps.

#include <algorithm>
#include <string>

#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr std::int32_t firstWarpTap = 4;
constexpr std::int32_t mostWarpTaps = 15;
constexpr double tapInterval = 1.000000001; // s: a tap later than this after the last starts anew
// A warp that ends farther than this from where it began, or on another body, rebuilds the matter.
constexpr double rebuildDistance = 10000.0; // m

std::string warpMessage(std::int32_t taps) {
    return "前进四 / " + std::to_string(taps) + " 连按 / 最大 " +
           std::to_string(Stars::warpLightYears(static_cast<unsigned>(taps))) + " 光年";
}

} // namespace

void Game::keepStarFrame() {
    const Vec3 feet = player.position;
    world.syncStars(player, false);
    const Vec3 shift = player.position - feet;
    if (shift == Vec3{}) {
        return;
    }
    // A new frame is the old one moved by a constant: every position still in the old coordinates
    // moves by the same amount, so a sound already on its way is heard from where it was made.
    for (TravelingSound& front : travelingSounds) {
        front.sound.position += shift;
    }
    for (CollisionSound& sound : heardSounds) {
        sound.position += shift;
    }
    for (Bullet& bullet : bullets) {
        bullet.position += shift;
    }
    for (Rocket& rocket : rockets) {
        rocket.position += shift;
    }
    for (Tracer& tracer : tracers) {
        tracer.from += shift;
        tracer.to += shift;
    }
}

void Game::movementKey(bool forwardTap, double when) {
    if (!world.stars) {
        return;
    }
    if (!forwardTap) {
        warpTaps = 0;
        lastWarpTap = -1.0;
        return;
    }
    if (!(when >= 0.0)) {
        when = time; // also for a reading that is no number at all
    }
    if (lastWarpTap < 0.0 || when < lastWarpTap || when - lastWarpTap > tapInterval) {
        warpTaps = 1;
        lastWarpTap = when;
        return;
    }
    lastWarpTap = when;
    warpTaps = std::min(warpTaps + 1, mostWarpTaps);
    if (warpTaps >= firstWarpTap) {
        warpJump();
    }
}

// The eye jumps along the view; where it arrives becomes the feet.
void Game::warpJump() {
    Stars& stars = *world.stars;
    const std::int32_t frameBefore = stars.frameBody;
    const Vec3 before = player.position;
    player.position = stars.warp(eye(), aim(), static_cast<unsigned>(warpTaps), world.physics);
    const bool rebuild = stars.frameBody != frameBefore || length(player.position - before) > rebuildDistance;
    world.syncStars(player, rebuild);

    player.velocity = {};
    player.onGround = false;
    bullets.clear();
    rockets.clear();
    tracers.clear();
    travelingSounds.clear();
    heardSounds.clear();
    world.update(player.position, 0.0, aim());
    showMessage(warpMessage(warpTaps));
}

} // namespace zarn
