#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/SmokeReport.hpp"

namespace zarn {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        result.push_back(line);
    }
    return result;
}

SmokeReport collapseRun() {
    SmokeReport report;
    report.frames = 360;
    report.buildings = 0;
    report.fps = 58.71234567;
    report.fractures = 42;
    report.active = 17;
    report.staticUploads = 0;
    report.staticDraws = 3;
    report.rotationMultiplier = 1.0;
    report.rotationPhase = 0.000034722222;
    report.up = {0.0, 1.0, 0.0};
    report.captured = true;
    return report;
}

TEST(SmokeReportTest, EveryLineInOrderEndingInTheRenderMark) {
    const std::string text = smokeReportText(collapseRun());
    EXPECT_EQ(lines(text), (std::vector<std::string>{
                               "frames=360",
                               "buildings=0",
                               "fps=58.7123",
                               "fractures=42",
                               "active=17",
                               "static_uploads=0",
                               "static_draws=3",
                               "organisms=0",
                               "ecology_births=0",
                               "ecology_gray_blocks=0",
                               "rotation_multiplier=1",
                               "rotation_phase=3.47222e-05",
                               "gravity_up_x=0",
                               "gravity_up_y=1",
                               "D3D11_RENDER_OK",
                           }));
    // Single line feeds, the last line too.
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST(SmokeReportTest, EarthValuesAndATurnedUp) {
    SmokeReport report = collapseRun();
    report.organisms = 1234;
    report.ecologyBirths = 56;
    report.ecologyGrayBlocks = 7;
    report.rotationMultiplier = 1e6;
    report.rotationPhase = 0.25;
    report.up = {-1.0, 6.123233995736766e-17, 0.0};
    const std::vector<std::string> text = lines(smokeReportText(report));
    ASSERT_EQ(text.size(), 15u);
    EXPECT_EQ(text[7], "organisms=1234");
    EXPECT_EQ(text[8], "ecology_births=56");
    EXPECT_EQ(text[9], "ecology_gray_blocks=7");
    EXPECT_EQ(text[10], "rotation_multiplier=1e+06");
    EXPECT_EQ(text[11], "rotation_phase=0.25");
    EXPECT_EQ(text[12], "gravity_up_x=-1");
    EXPECT_EQ(text[13], "gravity_up_y=6.12323e-17");
}

TEST(SmokeReportTest, AFailedRunDoesNotLookLikeAPassingOne) {
    SmokeReport noPicture = collapseRun();
    noPicture.captured = false;
    EXPECT_FALSE(noPicture.passed());
    std::vector<std::string> text = lines(smokeReportText(noPicture));
    ASSERT_EQ(text.size(), 15u);
    EXPECT_EQ(text[13], "gravity_up_y=1");
    EXPECT_EQ(text[14], "screenshot_failed=zarn-smoke.ppm");

    SmokeReport noWorld = collapseRun();
    noWorld.worldLoadError = "地图包格式无效";
    EXPECT_FALSE(noWorld.passed());
    text = lines(smokeReportText(noWorld));
    ASSERT_EQ(text.size(), 15u);
    EXPECT_EQ(text[14], "world_load_failed=地图包格式无效");

    noWorld.captured = false;
    text = lines(smokeReportText(noWorld));
    ASSERT_EQ(text.size(), 16u);
    EXPECT_EQ(text[14], "world_load_failed=地图包格式无效");
    EXPECT_EQ(text[15], "screenshot_failed=zarn-smoke.ppm");
    EXPECT_TRUE(collapseRun().passed());
}

} // namespace
} // namespace zarn
