#pragma once

#include <cstdint>
#include <vector>

#include "physics/Math.hpp"
#include "physics/Records.hpp"

namespace zarn {

// The game has no recorded sounds: every one is computed here, sample by sample, as 16-bit mono PCM
// at 22050 Hz.
constexpr std::int32_t sampleRate = 22050;
constexpr double quietestGain = 0.002;   // a heard sound below this gain is not played
constexpr double collisionScale = 26000; // full scale of a collision voice at gain 1
constexpr double shotScale = 27000;      // full scale of a weapon sound at gain 1
constexpr double shotLoudness = 0.12;    // weapon sounds at full volume
constexpr double longestSound = 4.0;     // s; the matter's sounds last at most 1.8 s

// The game's weapon sounds, as Game::shotSound names them.
constexpr std::int32_t gunshotSound = 1;
constexpr std::int32_t blastSound = 2;

// The gain of a sound the matter made, heard at the ear: the loudness from its impulse, falling off
// with the distance, times the volume setting. Not a number for a sound whose values are not numbers.
double collisionGain(const CollisionSound& sound, const Vec3& ear, double volume);

// The samples of a sound the matter made, in its voice (kind 1 sliding, 2 rushing through the air,
// any other an impact), at the gain.
std::vector<std::int16_t> collisionSamples(const CollisionSound& sound, double gain);

// The samples of a weapon sound (gunshotSound or blastSound) fired with the selected weapon slot, at
// the gain; empty for any other sound.
std::vector<std::int16_t> shotSamples(std::int32_t sound, std::int32_t weapon, double gain);

// A sample value: clamped to +-32767 and truncated toward zero; a value that is not a number is
// silence.
std::int16_t toSample(double value);

} // namespace zarn
