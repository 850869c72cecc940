#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "app/SoundSynthesis.hpp"

namespace zarn {
namespace {

using Samples = std::vector<std::int16_t>;

// An impulse whose loudness is exactly 1.
const double fullImpulse = std::exp(13.0) - 1.0;

CollisionSound sound(std::int32_t kind, double pitch, double duration) {
    CollisionSound s;
    s.kind = kind;
    s.pitch = pitch;
    s.duration = duration;
    s.energy = 1234.5;
    s.impulse = fullImpulse;
    return s;
}

// The power of the samples at one frequency (Goertzel), over samples [begin, end).
double power(const std::vector<double>& x, double hertz, std::size_t begin = 0, std::size_t end = 0) {
    if (end == 0) {
        end = x.size();
    }
    const double k = 2.0 * std::cos(2.0 * std::numbers::pi * hertz / sampleRate);
    double s1 = 0.0;
    double s2 = 0.0;
    for (std::size_t i = begin; i < end; ++i) {
        const double s = x[i] + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

std::vector<double> asDouble(const Samples& samples) {
    std::vector<double> x(samples.size());
    std::copy(samples.begin(), samples.end(), x.begin());
    return x;
}

// The frequency between from and to (in 1 Hz steps) at which the samples are strongest.
double strongestFrequency(const std::vector<double>& x, double from, double to) {
    double best = from;
    double bestPower = -1.0;
    for (double f = from; f <= to; f += 1.0) {
        const double p = power(x, f);
        if (p > bestPower) {
            bestPower = p;
            best = f;
        }
    }
    return best;
}

std::size_t zeroCrossings(const Samples& samples, std::size_t begin, std::size_t end) {
    std::size_t n = 0;
    for (std::size_t i = begin + 1; i < end; ++i) {
        n += (samples[i - 1] < 0) != (samples[i] < 0) ? 1 : 0;
    }
    return n;
}

double rms(const Samples& samples, std::size_t begin, std::size_t end) {
    double sum = 0.0;
    for (std::size_t i = begin; i < end; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return std::sqrt(sum / static_cast<double>(end - begin));
}

TEST(SoundSynthesisTest, LengthFollowsTheDuration) {
    for (const std::int32_t kind : {0, 1, 2}) {
        EXPECT_EQ(collisionSamples(sound(kind, 300.0, 0.5), 0.1).size(), 11025u);
        EXPECT_EQ(collisionSamples(sound(kind, 300.0, 0.123456), 0.1).size(), 2722u); // 2722.1 truncated
        EXPECT_EQ(collisionSamples(sound(kind, 300.0, 1.8), 0.1).size(), 39690u);
        EXPECT_TRUE(collisionSamples(sound(kind, 300.0, 0.0), 0.1).empty());
        EXPECT_TRUE(collisionSamples(sound(kind, 300.0, -1.0), 0.1).empty());
        EXPECT_TRUE(collisionSamples(sound(kind, 300.0, std::nan("")), 0.1).empty());
    }
    // A duration no matter makes is cut short rather than filling memory.
    EXPECT_EQ(collisionSamples(sound(0, 300.0, 1e12), 0.1).size(),
              static_cast<std::size_t>(4.0 * sampleRate));
}

TEST(SoundSynthesisTest, ImpactRingsAtItsPitch) {
    for (const double pitch : {140.0, 440.0, 1500.0}) {
        for (const bool fractured : {false, true}) {
            CollisionSound s = sound(0, pitch, 0.6);
            s.fractured = fractured;
            const std::vector<double> x = asDouble(collisionSamples(s, 0.5));
            const double found = strongestFrequency(x, 0.6 * pitch, 1.6 * pitch);
            EXPECT_NEAR(found, pitch, 0.02 * pitch) << "pitch " << pitch << " fractured " << fractured;
            // The first inharmonic partial is there too, weaker than the fundamental.
            const double partial = power(x, 2.31 * pitch);
            EXPECT_GT(partial, 0.02 * power(x, pitch));
            EXPECT_LT(partial, power(x, pitch));
        }
    }
}

TEST(SoundSynthesisTest, ImpactDiesAwayAndBreakingIsHarsher) {
    CollisionSound s = sound(0, 400.0, 1.0);
    const Samples whole = collisionSamples(s, 0.5);
    // Five time constants later the tone has fallen to well under a tenth.
    EXPECT_LT(rms(whole, 20000, 22000), 0.1 * rms(whole, 0, 2000));
    // The noise of something breaking is white, not low-passed: far more zero crossings at the start.
    s.pitch = 50.0;
    const Samples dull = collisionSamples(s, 0.5);
    s.fractured = true;
    const Samples harsh = collisionSamples(s, 0.5);
    EXPECT_GT(zeroCrossings(harsh, 0, 400), 3 * zeroCrossings(dull, 0, 400));
}

TEST(SoundSynthesisTest, SlidingSwellsAndCarriesItsPitch) {
    const double pitch = 900.0;
    const Samples samples = collisionSamples(sound(1, pitch, 1.0), 0.8);
    const std::size_t n = samples.size();
    EXPECT_EQ(samples.front(), 0);
    EXPECT_EQ(samples.back(), 0);
    const double middle = rms(samples, n / 2 - 1000, n / 2 + 1000);
    EXPECT_GT(middle, 2.0 * rms(samples, 0, 2000));
    EXPECT_GT(middle, 2.0 * rms(samples, n - 2000, n));
    // The pitch rides on the noise as a swing of its loudness: the rectified sound has a line there.
    std::vector<double> rectified;
    for (const std::int16_t v : samples) {
        rectified.push_back(std::abs(static_cast<double>(v)));
    }
    const double found = strongestFrequency(rectified, 0.6 * pitch, 1.6 * pitch);
    EXPECT_NEAR(found, pitch, 0.02 * pitch);
}

TEST(SoundSynthesisTest, RushingIsLowNoiseWithoutPitch) {
    const Samples rushing = collisionSamples(sound(2, 900.0, 1.0), 0.8);
    const std::size_t n = rushing.size();
    EXPECT_EQ(rushing.front(), 0);
    EXPECT_GT(rms(rushing, n / 2 - 1000, n / 2 + 1000), 2.0 * rms(rushing, 0, 2000));
    // Low-passed: few zero crossings, far fewer than the sliding voice's white share gives it.
    const Samples sliding = collisionSamples(sound(1, 900.0, 1.0), 0.8);
    EXPECT_LT(zeroCrossings(rushing, 0, n), zeroCrossings(sliding, 0, n) / 2);
    EXPECT_LT(zeroCrossings(rushing, 0, n), n / 6); // white noise crosses at every other sample
    // The pitch plays no part.
    EXPECT_EQ(collisionSamples(sound(2, 100.0, 1.0), 0.8), rushing);
}

TEST(SoundSynthesisTest, NoiseFollowsTheEnergy) {
    CollisionSound a = sound(2, 300.0, 0.3);
    CollisionSound b = a;
    a.energy = 0.0;
    b.energy = -3.0;
    EXPECT_EQ(collisionSamples(a, 0.5), collisionSamples(b, 0.5)); // no energy: the same noise
    b.energy = std::nan("");
    EXPECT_EQ(collisionSamples(a, 0.5), collisionSamples(b, 0.5));
    a.energy = 7.25;
    b.energy = 7.0 + 4294967296.0; // only the whole joules modulo 2^32 count
    EXPECT_EQ(collisionSamples(a, 0.5), collisionSamples(b, 0.5));
    b.energy = 8.0;
    EXPECT_NE(collisionSamples(a, 0.5), collisionSamples(b, 0.5));
}

TEST(SoundSynthesisTest, GainFromImpulseAndDistance) {
    CollisionSound s = sound(0, 300.0, 0.2);
    s.position = {0.0, 401.65, 0.0};
    const Vec3 ear{0.0, 1.65, 0.0};
    EXPECT_NEAR(collisionGain(s, ear, 0.35), 0.35 / 11.0, 1e-12);
    EXPECT_GE(collisionGain(s, ear, 0.35), quietestGain);
    EXPECT_LT(collisionGain(s, ear, 0.02), quietestGain);
    EXPECT_EQ(collisionGain(s, ear, 0.0), 0.0);
    s.impulse = 1e12; // louder than full loudness stays at full loudness
    EXPECT_NEAR(collisionGain(s, ear, 0.35), 0.35 / 11.0, 1e-12);
    s.impulse = std::exp(6.5) - 1.0;
    EXPECT_NEAR(collisionGain(s, ear, 0.35), 0.5 * 0.35 / 11.0, 1e-12);
    s.impulse = 0.0;
    EXPECT_EQ(collisionGain(s, ear, 1.0), 0.0);
    s.impulse = fullImpulse;
    s.position = ear;
    EXPECT_NEAR(collisionGain(s, ear, 0.7), 0.7, 1e-12);

    // The samples scale with the gain (up to the truncation of each), and nothing is heard at gain 0.
    for (const std::int32_t kind : {0, 1, 2}) {
        const Samples one = collisionSamples(sound(kind, 300.0, 0.4), 0.1);
        const Samples two = collisionSamples(sound(kind, 300.0, 0.4), 0.2);
        ASSERT_EQ(one.size(), two.size());
        for (std::size_t i = 0; i < one.size(); ++i) {
            ASSERT_LE(std::abs(two[i] - 2 * one[i]), 2) << "kind " << kind << " sample " << i;
        }
        const Samples silent = collisionSamples(sound(kind, 300.0, 0.4), 0.0);
        EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](std::int16_t v) { return v == 0; }));
    }
}

TEST(SoundSynthesisTest, LoudSoundsClipAtTheSixteenBitRange) {
    for (const std::int32_t kind : {0, 1, 2}) {
        const Samples samples = collisionSamples(sound(kind, 300.0, 0.5), 50.0);
        const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
        EXPECT_EQ(*low, -32767) << "kind " << kind; // never -32768
        EXPECT_EQ(*high, 32767) << "kind " << kind;
    }
    EXPECT_EQ(toSample(32767.9), 32767);
    EXPECT_EQ(toSample(-1e300), -32767);
    EXPECT_EQ(toSample(-2.9), -2); // truncated toward zero
    EXPECT_EQ(toSample(2.9), 2);
    EXPECT_EQ(toSample(std::nan("")), 0);
    EXPECT_EQ(toSample(-INFINITY), -32767);
}

TEST(SoundSynthesisTest, WeaponSounds) {
    const double g = 0.35 * shotLoudness;
    const Samples rifle = shotSamples(gunshotSound, 2, g);
    const Samples sniper = shotSamples(gunshotSound, 4, g);
    const Samples blast = shotSamples(blastSound, 6, g);
    ASSERT_EQ(rifle.size(), 4000u);
    ASSERT_EQ(sniper.size(), 4000u);
    ASSERT_EQ(blast.size(), 14000u);
    EXPECT_TRUE(shotSamples(0, 2, g).empty());
    EXPECT_TRUE(shotSamples(3, 2, g).empty());

    // The crack of the rifle sits at 1100 rad/s, the sniper rifle's deeper one at 600 rad/s.
    const double low = 600.0 / (2.0 * std::numbers::pi);
    const double high = 1100.0 / (2.0 * std::numbers::pi);
    const std::vector<double> sniperWave = asDouble(sniper);
    const std::vector<double> rifleWave = asDouble(rifle);
    EXPECT_GT(power(sniperWave, low), 3.0 * power(sniperWave, high));
    EXPECT_GT(power(rifleWave, high), 3.0 * power(rifleWave, low));
    // A gunshot starts on noise alone: no tone at t = 0, so the first sample is at most half scale.
    EXPECT_LE(std::abs(rifle[0]), 0.5 * g * shotScale);
    EXPECT_NE(rifle[0], 0);

    // Both die away; the blast rumbles on for much longer than the crack.
    EXPECT_LT(rms(rifle, 3000, 4000), 0.05 * rms(rifle, 0, 500));
    EXPECT_GT(rms(blast, 6000, 8000), 5.0 * rms(rifle, 3000, 4000));
    EXPECT_LT(rms(blast, 12000, 14000), rms(blast, 0, 2000));
    // Full volume stays inside the 16-bit range without clipping.
    const Samples loud = shotSamples(blastSound, 6, shotLoudness);
    EXPECT_LT(*std::max_element(loud.begin(), loud.end()), 32767);
    EXPECT_GT(*std::min_element(loud.begin(), loud.end()), -32767);
}

} // namespace
} // namespace zarn
