#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "app/Application.hpp"
#include "app/Audio.hpp"
#include "app/SoundSynthesis.hpp"
#include "support/Files.hpp"

namespace zarn {
namespace {

// What a fake sound device saw, kept beyond the device's life.
struct OutputLog {
    std::vector<std::string> calls; // "queue <buffer> <samples>", "release <buffer>", "closed"
    std::vector<std::int64_t> sums; // sum of each queued buffer's samples
    std::int64_t sumAtClose = 0;    // of every buffer still held, read as the device closes
};

// Holds every queued buffer until the test says it has played, like waveOut without a callback.
class FakeOutput final : public AudioOutput {
  public:
    explicit FakeOutput(OutputLog& log) : log(log) {}
    // Reads every buffer it still holds: their samples must outlive the device.
    ~FakeOutput() override {
        for (std::size_t i = 0; i < Audio::bufferCount; ++i) {
            if (held[i]) {
                log.sumAtClose += std::accumulate(queued[i].begin(), queued[i].end(), std::int64_t{0});
            }
        }
        log.calls.push_back("closed");
    }
    bool holds(std::size_t buffer) const override { return held[buffer]; }
    void release(std::size_t buffer) override { log.calls.push_back("release " + std::to_string(buffer)); }
    void queue(std::size_t buffer, std::span<const std::int16_t> samples) override {
        held[buffer] = true;
        queued[buffer] = samples;
        log.calls.push_back("queue " + std::to_string(buffer) + " " + std::to_string(samples.size()));
        log.sums.push_back(std::accumulate(samples.begin(), samples.end(), std::int64_t{0}));
    }

    std::array<bool, Audio::bufferCount> held{};
    std::array<std::span<const std::int16_t>, Audio::bufferCount> queued{};

  private:
    OutputLog& log;
};

CollisionSound audible(double duration = 0.1) {
    CollisionSound s;
    s.position = {0.0, 0.0, 10.0};
    s.pitch = 500.0;
    s.energy = 80.0;
    s.duration = duration;
    s.impulse = std::exp(13.0) - 1.0;
    return s;
}

const Vec3 ear{0.0, 1.65, 0.0};

TEST(AudioTest, WithoutADeviceNothingIsSynthesised) {
    Audio audio;
    EXPECT_FALSE(audio.freeBuffer());
    EXPECT_FALSE(audio.playCollision(audible(), ear, 1.0));
    EXPECT_FALSE(audio.playShot(gunshotSound, 2, 1.0));
    for (const Audio::Buffer& buffer : audio.buffers) {
        EXPECT_TRUE(buffer.samples.empty());
    }
}

TEST(AudioTest, TwelveBuffersThenSoundsAreDropped) {
    OutputLog log;
    auto owner = std::make_unique<Audio>();
    Audio& audio = *owner;
    auto output = std::make_unique<FakeOutput>(log);
    FakeOutput& device = *output;
    audio.device = std::move(output);

    // Thirteen audible sounds with every buffer free: twelve are queued in order, the last is dropped.
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(audio.playCollision(audible(0.01 * (i + 1)), ear, 0.35), i < 12) << i;
    }
    ASSERT_EQ(log.calls.size(), 24u);
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(log.calls[2 * i], "release " + std::to_string(i)); // let go before being rewritten
        EXPECT_EQ(log.calls[2 * i + 1], "queue " + std::to_string(i) + " " +
                                            std::to_string(static_cast<std::size_t>(
                                                0.01 * static_cast<double>(i + 1) * sampleRate)));
        EXPECT_EQ(device.queued[i].data(), audio.buffers[i].samples.data());
    }
    EXPECT_FALSE(audio.freeBuffer());
    EXPECT_FALSE(audio.playShot(blastSound, 6, 0.35));
    EXPECT_EQ(log.calls.size(), 24u);

    // Buffers 7 and 3 finish: the first free one in order is taken again, then the other.
    device.held[7] = false;
    device.held[3] = false;
    EXPECT_EQ(audio.freeBuffer(), 3u);
    EXPECT_TRUE(audio.playShot(gunshotSound, 2, 0.35));
    EXPECT_TRUE(audio.playCollision(audible(0.2), ear, 0.35));
    EXPECT_FALSE(audio.playCollision(audible(0.2), ear, 0.35));
    const std::vector<std::string> reused{"release 3", "queue 3 4000", "release 7", "queue 7 4410"};
    EXPECT_EQ(std::vector<std::string>(log.calls.begin() + 24, log.calls.end()), reused);
    EXPECT_EQ(audio.buffers[3].samples.size(), 4000u);
    EXPECT_EQ(device.queued[3].data(), audio.buffers[3].samples.data());

    // The device closes before the samples it holds are freed.
    std::int64_t held = 0;
    for (const Audio::Buffer& buffer : audio.buffers) {
        held += std::accumulate(buffer.samples.begin(), buffer.samples.end(), std::int64_t{0});
    }
    owner.reset();
    EXPECT_EQ(log.calls.back(), "closed");
    EXPECT_EQ(log.sumAtClose, held);
}

TEST(AudioTest, QuietSoundsAndVolumeZeroAreNotPlayed) {
    OutputLog log;
    Audio audio;
    audio.device = std::make_unique<FakeOutput>(log);
    CollisionSound far = audible();
    far.position = {0.0, 401.65, 0.0}; // 400 m above the ear: gain = volume / 11
    EXPECT_TRUE(audio.playCollision(far, ear, 0.35));
    EXPECT_FALSE(audio.playCollision(far, ear, 0.02));
    EXPECT_FALSE(audio.playCollision(audible(), ear, 0.0));
    EXPECT_FALSE(audio.playShot(gunshotSound, 2, 0.0));
    CollisionSound broken = audible();
    broken.impulse = std::nan("");
    EXPECT_FALSE(audio.playCollision(broken, ear, 1.0));
    EXPECT_EQ(log.calls.size(), 2u); // only the first
}

class ApplicationAudioTest : public ::testing::Test {
  protected:
    std::filesystem::path folder;
    OutputLog log;
    std::unique_ptr<Application> app;
    FakeOutput* device = nullptr;
    double now = 10.0;

    void SetUp() override {
        folder = test::scratchFolder("zarn-audio");
        app = std::make_unique<Application>(folder);
        auto output = std::make_unique<FakeOutput>(log);
        device = output.get();
        app->audio.device = std::move(output);
        app->startLoop(now);
    }

    void TearDown() override {
        app.reset();
        std::filesystem::remove_all(folder);
    }

    void pass() {
        now += 1.0 / 60.0;
        app->pass(now, false);
    }

    std::vector<std::string> queued() const {
        std::vector<std::string> result;
        for (const std::string& call : log.calls) {
            if (call.starts_with("queue")) {
                result.push_back(call);
            }
        }
        return result;
    }
};

TEST_F(ApplicationAudioTest, HeardSoundsThenTheShotArePlayedAndUsedUp) {
    Game& game = app->game;
    CollisionSound near = audible(0.25);
    near.position = game.eye() + Vec3{3.0, 0.0, 0.0};
    CollisionSound far = near;
    far.position = game.eye() + Vec3{0.0, 0.0, 1e6}; // too far to be heard
    game.heardSounds = {near, far, near};
    game.shotSound = blastSound;
    pass();
    EXPECT_TRUE(game.heardSounds.empty());
    EXPECT_EQ(game.shotSound, 0);
    const std::vector<std::string> first{"queue 0 5512", "queue 1 5512", "queue 2 14000"};
    EXPECT_EQ(queued(), first);

    // A pass with nothing heard plays nothing.
    pass();
    EXPECT_EQ(queued().size(), 3u);

    // Both are used up also when nothing can be played: all buffers held, or the volume at 0.
    device->held.fill(true);
    game.heardSounds = {near};
    game.shotSound = gunshotSound;
    pass();
    EXPECT_TRUE(game.heardSounds.empty());
    EXPECT_EQ(game.shotSound, 0);
    device->held.fill(false);
    app->ui.volume = 0.0;
    game.heardSounds = {near};
    game.shotSound = gunshotSound;
    pass();
    EXPECT_TRUE(game.heardSounds.empty());
    EXPECT_EQ(game.shotSound, 0);
    EXPECT_EQ(queued().size(), 3u);

    // The volume setting scales what is played.
    app->ui.volume = 0.7;
    game.heardSounds = {near};
    pass();
    ASSERT_EQ(log.sums.size(), 4u);
    EXPECT_NEAR(static_cast<double>(log.sums[3]), 2.0 * static_cast<double>(log.sums[0]),
                static_cast<double>(5512));
}

TEST_F(ApplicationAudioTest, SilentWithoutADevice) {
    app->audio.device.reset();
    Game& game = app->game;
    CollisionSound near = audible();
    near.position = game.eye();
    game.heardSounds = {near};
    game.shotSound = gunshotSound;
    pass();
    EXPECT_TRUE(game.heardSounds.empty());
    EXPECT_EQ(game.shotSound, 0);
    for (const Audio::Buffer& buffer : app->audio.buffers) {
        EXPECT_TRUE(buffer.samples.empty());
    }
}

} // namespace
} // namespace zarn
