#include "app/SoundSynthesis.hpp"

#include "physics/Hash.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zarn {

namespace {

constexpr std::int32_t sniperSlot = 4; // its shot is the deeper crack
constexpr std::size_t gunshotLength = 4000;
constexpr std::size_t blastLength = 14000;

// The noise source: the game's 32-bit integer hash run as a state, one step per sample.
struct Noise {
    std::uint32_t x;

    // A white value in [-1, 1).
    double next() {
        x = hash32(x);
        return static_cast<double>(x & 0xFFFFu) / 32768.0 - 1.0;
    }
};

// Sounds with the same energy sound alike; energy that is not a positive finite number seeds 17.
// A sine wave from phase 0, advanced a sample at a time by turning (cos, sin) through a fixed angle:
// two multiplications per sample instead of a sine. Over the longest sound the rounding drifts the
// wave by far less than one part in a billion.
class Oscillator {
  public:
    explicit Oscillator(double radiansPerSample)
        : turnSin(std::sin(radiansPerSample)), turnCos(std::cos(radiansPerSample)) {}
    double value() const { return sine; }
    void advance() {
        const double next = sine * turnCos + cosine * turnSin;
        cosine = cosine * turnCos - sine * turnSin;
        sine = next;
    }

  private:
    double turnSin;
    double turnCos;
    double sine = 0.0;
    double cosine = 1.0;
};

// An exponential decay from 1, multiplied down a sample at a time.
struct Decay {
    explicit Decay(double ratePerSample) : factor(std::exp(-ratePerSample)) {}
    void advance() { value *= factor; }
    double factor;
    double value = 1.0;
};

std::uint32_t noiseSeed(double energy) {
    if (!(energy > 0.0) || !std::isfinite(energy)) {
        return 17u;
    }
    const auto whole = static_cast<std::uint32_t>(std::fmod(energy, 4294967296.0));
    return whole + 17u;
}

std::size_t sampleCount(double duration) {
    if (!(duration > 0.0)) {
        return 0; // also a duration that is not a number
    }
    return static_cast<std::size_t>(std::min(duration, longestSound) * sampleRate);
}

} // namespace

std::int16_t toSample(double value) {
    if (value < -32767.0) {
        return -32767;
    }
    if (value > 32767.0) {
        return 32767;
    }
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<std::int16_t>(value); // truncates toward zero
}

double collisionGain(const CollisionSound& sound, const Vec3& ear, double volume) {
    const double loudness = std::clamp(std::log1p(sound.impulse) / 13.0, 0.0, 1.0);
    return volume * loudness / (1.0 + 0.025 * length(sound.position - ear));
}

std::vector<std::int16_t> collisionSamples(const CollisionSound& sound, double gain) {
    const std::size_t n = sampleCount(sound.duration);
    std::vector<std::int16_t> samples(n, 0);
    const double step = 2.0 * std::numbers::pi * sound.pitch / sampleRate; // tone radians per sample
    const double d = sound.duration * sampleRate;                          // duration in samples
    // Sliding and rushing swell and fade over the whole sound.
    Oscillator swell(std::numbers::pi / static_cast<double>(std::max<std::size_t>(n, 2) - 1));
    Oscillator tone(step);
    Oscillator partial(2.31 * step);
    Oscillator overtone(3.77 * step);
    Decay toneDecay(5.0 / d);
    Decay partialDecay(9.0 / d);
    Decay overtoneDecay(13.0 / d);
    Decay noiseDecay(18.0 / d);
    Noise noise{noiseSeed(sound.energy)};
    double low = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double white = noise.next();
        low = 0.94 * low + 0.06 * white;
        double v = 0.0;
        if (sound.kind == 1) {
            v = (0.22 * white + 0.9 * low) * swell.value() * (0.3 * tone.value() + 0.7);
        } else if (sound.kind == 2) {
            v = 2.0 * low * swell.value();
        } else {
            // An impact: a struck tone with two inharmonic partials dying faster, and a burst of noise
            // at the start, harsh when something broke.
            const double noiseTerm = sound.fractured ? 0.55 * white : 0.8 * low;
            v = 0.5 * (tone.value() * toneDecay.value + 0.35 * partial.value() * partialDecay.value +
                       0.18 * overtone.value() * overtoneDecay.value) +
                noiseDecay.value * noiseTerm;
        }
        samples[i] = toSample(v * gain * collisionScale);
        for (Oscillator* oscillator : {&swell, &tone, &partial, &overtone}) {
            oscillator->advance();
        }
        for (Decay* decay : {&toneDecay, &partialDecay, &overtoneDecay, &noiseDecay}) {
            decay->advance();
        }
    }
    return samples;
}

std::vector<std::int16_t> shotSamples(std::int32_t sound, std::int32_t weapon, double gain) {
    std::vector<std::int16_t> samples;
    if (sound != gunshotSound && sound != blastSound) {
        return samples;
    }
    samples.resize(sound == gunshotSound ? gunshotLength : blastLength);
    // f multiplies the time directly: radians per second, not hertz.
    const double f = weapon == sniperSlot ? 600.0 : 1100.0;
    Noise noise{static_cast<std::uint32_t>(weapon) + 713u};
    double low = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double white = noise.next();
        double s = 0.0;
        if (sound == gunshotSound) {
            s = (0.5 * white + 0.3 * std::sin(f * t)) * std::exp(-32.0 * t);
        } else {
            low = 0.88 * low + 0.12 * white;
            s = (0.15 * std::sin(180.0 * t) + 2.0 * low) * std::exp(-5.0 * t);
        }
        samples[i] = toSample(s * gain * shotScale);
    }
    return samples;
}

} // namespace zarn
