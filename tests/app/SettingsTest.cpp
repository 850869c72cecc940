#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "app/Settings.hpp"
#include "support/Files.hpp"

namespace zarn {
namespace {

Settings read(const std::string& text) {
    Settings settings;
    std::istringstream in(text);
    readSettings(in, settings);
    return settings;
}

std::string written(const Settings& settings) {
    std::ostringstream out;
    writeSettings(out, settings);
    return out.str();
}

TEST(SettingsTest, DefaultsAreWrittenInTheFileOrder) {
    EXPECT_EQ(written(Settings{}), "sensitivity=0.0022\n"
                                   "volume=0.35\n"
                                   "motion_limit=256\n"
                                   "impact_multiplier=4\n"
                                   "rotation_multiplier=1\n"
                                   "key_0=87\nkey_1=83\nkey_2=65\nkey_3=68\nkey_4=32\nkey_5=17\nkey_6=1\n"
                                   "key_7=2\nkey_8=82\nkey_9=69\nkey_10=66\nkey_11=114\nkey_12=122\n"
                                   "key_13=80\nkey_14=49\nkey_15=50\nkey_16=51\nkey_17=52\nkey_18=53\n"
                                   "key_19=54\nkey_20=55\n");
}

TEST(SettingsTest, WhatIsWrittenReadsBackTheSame) {
    Settings settings;
    settings.sensitivity = 0.00123;
    settings.volume = 0.8;
    settings.motionLimit = 4096;
    settings.impactMultiplier = 12.5;
    settings.rotationMultiplier = 1e6;
    settings.bindings[0] = 0x26; // the arrow keys
    settings.bindings[1] = 0x28;
    const Settings back = read(written(settings));
    EXPECT_EQ(back.sensitivity, 0.00123);
    EXPECT_EQ(back.volume, 0.8);
    EXPECT_EQ(back.motionLimit, 4096u);
    EXPECT_EQ(back.impactMultiplier, 12.5);
    EXPECT_EQ(back.rotationMultiplier, 1e6);
    EXPECT_EQ(back.bindings, settings.bindings);
    // Six significant digits are kept: the file is for people, not for exact values.
    settings.sensitivity = 0.001234567;
    EXPECT_EQ(read(written(settings)).sensitivity, 0.00123457);
}

TEST(SettingsTest, ValuesAreClampedIntoTheirRanges) {
    const Settings low = read("sensitivity=0\nvolume=-1\nmotion_limit=-5\nimpact_multiplier=-3\n"
                              "rotation_multiplier=-0.5\n");
    EXPECT_EQ(low.sensitivity, 0.0004);
    EXPECT_EQ(low.volume, 0.0);
    EXPECT_EQ(low.motionLimit, 0u);
    EXPECT_EQ(low.impactMultiplier, 0.0);
    EXPECT_EQ(low.rotationMultiplier, 0.0);
    const Settings high = read("sensitivity=1\nvolume=3\nmotion_limit=1e9\nimpact_multiplier=2e6\n"
                               "rotation_multiplier=5e6\n");
    EXPECT_EQ(high.sensitivity, 0.006);
    EXPECT_EQ(high.volume, 1.0);
    EXPECT_EQ(high.motionLimit, 20000u);
    EXPECT_EQ(high.impactMultiplier, 1e6);
    EXPECT_EQ(high.rotationMultiplier, 1e6);
    // The motion limit is a whole number of pieces: truncated, not rounded.
    EXPECT_EQ(read("motion_limit=123.9\n").motionLimit, 123u);
    // Values inside their ranges stay as they are, on the edges too.
    const Settings edges = read("sensitivity=0.006\nvolume=1\nmotion_limit=20000\n");
    EXPECT_EQ(edges.sensitivity, 0.006);
    EXPECT_EQ(edges.volume, 1.0);
    EXPECT_EQ(edges.motionLimit, 20000u);
}

TEST(SettingsTest, MalformedAndNonFiniteLinesAreSkipped) {
    const Settings defaults;
    const std::string bad[] = {
        "volume=abc\n",
        "volume=\n",
        "volume\n",
        "volume=nan\n",
        "volume=NaN\n",
        "volume=inf\n",
        "volume=-inf\n",
        "volume=infinity\n",
        "volume=1e999\n",
        "sensitivity=-nan\n",
        "Volume=0.5\n",
        " volume=0.5\n",
        "volume =0.5\n",
        "loudness=0.5\n",
        "no equals sign anywhere\njust text\n",
        "=0.5\n",
        "",
    };
    for (const std::string& text : bad) {
        const Settings s = read(text);
        EXPECT_EQ(s.volume, defaults.volume) << text;
        EXPECT_EQ(s.sensitivity, defaults.sensitivity) << text;
        EXPECT_EQ(written(s), written(defaults)) << text;
    }
    // A number followed by other text counts by its number; leading blanks and a plus sign are fine.
    EXPECT_EQ(read("volume=0.5 (half)\n").volume, 0.5);
    EXPECT_EQ(read("volume=  +0.25\n").volume, 0.25);
    // A bad line does not stop the reading.
    const Settings mixed = read("volume=abc\nsensitivity=0.003\nvolume=nan\nimpact_multiplier=7\n");
    EXPECT_EQ(mixed.volume, defaults.volume);
    EXPECT_EQ(mixed.sensitivity, 0.003);
    EXPECT_EQ(mixed.impactMultiplier, 7.0);
    // The later of two lines wins.
    EXPECT_EQ(read("volume=0.2\nvolume=0.4\n").volume, 0.4);
}

TEST(SettingsTest, LinesEndingWithCarriageReturnsRead) {
    const Settings s = read("volume=0.5\r\nkey_4=87\r\nrotation_multiplier=3\r\n");
    EXPECT_EQ(s.volume, 0.5);
    EXPECT_EQ(s.rotationMultiplier, 3.0);
    EXPECT_EQ(s.bindings[4], 87);
}

TEST(SettingsTest, KeyLinesFollowTheBindingRule) {
    // Jump takes W, and Forward gets Jump's old Space.
    const Settings swapped = read("key_4=87\n");
    EXPECT_EQ(swapped.bindings[4], 87);
    EXPECT_EQ(swapped.bindings[0], 32);
    // Codes that cannot be bound and indices outside the table change nothing.
    for (const char* text : {"key_6=13\n", "key_6=27\n", "key_6=0\n", "key_6=255\n", "key_6=9\n",
                             "key_6=115\n", "key_6=-1\n", "key_21=70\n", "key_-1=70\n", "key_x=70\n",
                             "key_6=x\n", "key_6=99999999999\n", "key_99999999999=70\n", "key_6=\n"}) {
        EXPECT_EQ(read(text).bindings, defaultBindings) << text;
    }
    // Blanks before the code are allowed and reading stops at the first non-digit.
    EXPECT_EQ(read("key_8=  84 (T)\n").bindings[8], 84);
    // A sequence of key lines never makes two actions share a code.
    const Settings many = read("key_0=32\nkey_1=32\nkey_2=87\nkey_3=1\nkey_6=68\nkey_14=50\n");
    for (std::size_t a = 0; a < many.bindings.size(); ++a) {
        for (std::size_t b = a + 1; b < many.bindings.size(); ++b) {
            EXPECT_NE(many.bindings[a], many.bindings[b]) << a << " and " << b;
        }
    }
}

TEST(SettingsTest, FilesThatAreMissingOrCannotBeWritten) {
    const auto folder = test::scratchArea("zarn-settings-test");
    std::filesystem::remove_all(folder);
    Settings settings;
    settings.volume = 0.9;
    loadSettingsFile(folder / "config.ini", settings); // nothing there: unchanged
    EXPECT_EQ(settings.volume, 0.9);
    EXPECT_FALSE(saveSettingsFile(folder / "config.ini", settings)); // the folder does not exist
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(saveSettingsFile(folder / "config.ini", settings));
    Settings back;
    loadSettingsFile(folder / "config.ini", back);
    EXPECT_EQ(back.volume, 0.9);
    // Bare line feeds on every platform.
    std::ifstream in(folder / "config.ini", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text, written(settings));
    in.close();
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace zarn
