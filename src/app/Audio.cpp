#include "app/Audio.hpp"

#include "app/SoundSynthesis.hpp"

namespace zarn {

std::optional<std::size_t> Audio::freeBuffer() const {
    if (!device) {
        return std::nullopt;
    }
    for (std::size_t index = 0; index < bufferCount; ++index) {
        if (!device->holds(index)) {
            return index;
        }
    }
    return std::nullopt;
}

void Audio::submit(std::size_t index) {
    if (device && index < bufferCount) {
        device->queue(index, buffers[index].samples);
    }
}

std::optional<std::size_t> Audio::takeBuffer() {
    const std::optional<std::size_t> index = freeBuffer();
    if (index) {
        device->release(*index);
    }
    return index;
}

bool Audio::playCollision(const CollisionSound& sound, const Vec3& ear, double volume) {
    if (!device) {
        return false;
    }
    const double gain = collisionGain(sound, ear, volume);
    if (!(gain >= quietestGain)) {
        return false; // also a gain that is not a number
    }
    const std::optional<std::size_t> index = takeBuffer();
    if (!index) {
        return false; // every buffer is still playing: the sound is dropped
    }
    buffers[*index].samples = collisionSamples(sound, gain);
    submit(*index);
    return true;
}

bool Audio::playShot(std::int32_t sound, std::int32_t weapon, double volume) {
    const double gain = volume * shotLoudness;
    if (!device || !(gain > 0.0) || (sound != gunshotSound && sound != blastSound)) {
        return false;
    }
    const std::optional<std::size_t> index = takeBuffer();
    if (!index) {
        return false;
    }
    buffers[*index].samples = shotSamples(sound, weapon, gain);
    submit(*index);
    return true;
}

} // namespace zarn
