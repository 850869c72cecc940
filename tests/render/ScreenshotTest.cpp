#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/RecordingBackend.hpp"
#include "render/Renderer.hpp"
#include "support/Files.hpp"

namespace zarn {
namespace {

std::vector<unsigned char> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A read-back of the given size whose rows are padded past their pixels, as mapped textures are.
FrameImage patternFrame(std::int32_t width, std::int32_t height) {
    FrameImage image;
    image.width = width;
    image.height = height;
    image.pitch = static_cast<std::size_t>(width) * 4 + 64;
    image.pixels.assign(image.pitch * static_cast<std::size_t>(height), 0xEE);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = image.pixels.data() + static_cast<std::size_t>(y) * image.pitch +
                              static_cast<std::size_t>(x) * 4;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = static_cast<std::uint8_t>(x + y);
            p[3] = 0x7F; // alpha: dropped
        }
    }
    return image;
}

class ScreenshotTest : public ::testing::Test {
  protected:
    test::DeviceLog log;
    Renderer renderer;
    std::filesystem::path folder;

    void SetUp() override {
        test::attachRecorder(renderer, log);
        folder = test::scratchFolder("zarn-screenshot");
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
};

TEST_F(ScreenshotTest, FullFrameIsAPpmOfThreeBytesAPixel) {
    log.frame = patternFrame(1280, 720);
    const std::filesystem::path path = folder / "zarn-smoke.ppm";
    ASSERT_TRUE(renderer.capture(path));
    const std::vector<unsigned char> file = readFile(path);
    const std::string header = "P6\n1280 720\n255\n";
    ASSERT_EQ(header.size(), 16u);
    ASSERT_EQ(file.size(), 16u + 2'764'800u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 16), header);
    for (const auto& [x, y] :
         {std::pair{0, 0}, std::pair{1279, 0}, std::pair{5, 719}, std::pair{1279, 719}}) {
        const std::size_t at = 16 + (static_cast<std::size_t>(y) * 1280 + static_cast<std::size_t>(x)) * 3;
        EXPECT_EQ(file[at], static_cast<unsigned char>(x));
        EXPECT_EQ(file[at + 1], static_cast<unsigned char>(y));
        EXPECT_EQ(file[at + 2], static_cast<unsigned char>(x + y));
    }

    // A smaller frame truncates the old file.
    log.frame = patternFrame(3, 2);
    ASSERT_TRUE(renderer.capture(path));
    EXPECT_EQ(readFile(path).size(), std::string("P6\n3 2\n255\n").size() + 18u);
}

TEST_F(ScreenshotTest, FailuresGiveFalse) {
    log.frame = patternFrame(64, 32);
    // A folder that does not exist: the frame is still read, the file is not written.
    EXPECT_FALSE(renderer.capture(folder / "missing" / "zarn-smoke.ppm"));
    EXPECT_EQ(log.reads, 1u);
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));

    // The device cannot read the frame back: no file.
    log.readable = false;
    EXPECT_FALSE(renderer.capture(folder / "zarn-smoke.ppm"));
    EXPECT_FALSE(std::filesystem::exists(folder / "zarn-smoke.ppm"));

    // A read-back shorter than its size says is refused rather than read past its end.
    log.readable = true;
    log.frame.pixels.resize(31 * log.frame.pitch + 64 * 4 - 1); // the last row one byte short
    EXPECT_FALSE(renderer.capture(folder / "short.ppm"));

    // No device at all.
    Renderer bare;
    EXPECT_FALSE(bare.capture(folder / "bare.ppm"));
}

} // namespace
} // namespace zarn
