#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "physics/Math.hpp"
#include "physics/Records.hpp"

namespace zarn {

// The sound device as the game uses it: one 22050 Hz mono 16-bit output stream that plays numbered
// buffers in the order they are queued. waveOut carries it out on Windows; tests record it.
class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // Whether the device still holds the buffer: queued and not yet played out.
    virtual bool holds(std::size_t buffer) const = 0;
    // Lets go of a buffer the device has played, before its samples are written anew.
    virtual void release(std::size_t buffer) = 0;
    // Queues the samples as the buffer. They must stay alive and untouched while the device holds it.
    virtual void queue(std::size_t buffer, std::span<const std::int16_t> samples) = 0;
};

// The game's sounds on their way out: twelve buffers of samples, filled by the synthesis and handed to
// the device, which the main loop polls once a pass. Without a device the game is silent and nothing
// is synthesised.
class Audio {
  public:
    static constexpr std::size_t bufferCount = 12;

    struct Buffer {
        std::vector<std::int16_t> samples;
    };

    std::array<Buffer, bufferCount> buffers;
    // Declared after the buffers, so the device is reset and closed before their samples are freed.
    std::unique_ptr<AudioOutput> device; // null: no device could be opened

    Audio() = default;
    // Never moved or copied: the device may hold the buffers' samples.
    Audio(const Audio&) = delete;
    Audio& operator=(const Audio&) = delete;

    // The first buffer the device does not hold; none when all twelve are queued (or no device).
    std::optional<std::size_t> freeBuffer() const;
    // Hands the buffer's samples to the device.
    void submit(std::size_t index);

    // Plays a sound the matter made, heard at the ear at the volume setting (0..1). False when it was
    // not played: no device, too quiet, or no free buffer.
    bool playCollision(const CollisionSound& sound, const Vec3& ear, double volume);
    // Plays a weapon sound (a gunshot or a blast) fired with the selected slot. False when it was not
    // played: no device, volume 0, or no free buffer.
    bool playShot(std::int32_t sound, std::int32_t weapon, double volume);

  private:
    // Takes a free buffer for new samples, letting the device go of it first.
    std::optional<std::size_t> takeBuffer();
};

} // namespace zarn
