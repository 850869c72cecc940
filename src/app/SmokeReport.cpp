#include "app/SmokeReport.hpp"

#include <sstream>

namespace zarn {

std::string smokeReportText(const SmokeReport& report) {
    std::ostringstream text;
    text << "frames=" << report.frames << '\n';
    text << "buildings=" << report.buildings << '\n';
    text << "fps=" << report.fps << '\n';
    text << "fractures=" << report.fractures << '\n';
    text << "active=" << report.active << '\n';
    text << "static_uploads=" << report.staticUploads << '\n';
    text << "static_draws=" << report.staticDraws << '\n';
    text << "organisms=" << report.organisms << '\n';
    text << "ecology_births=" << report.ecologyBirths << '\n';
    text << "ecology_gray_blocks=" << report.ecologyGrayBlocks << '\n';
    text << "rotation_multiplier=" << report.rotationMultiplier << '\n';
    text << "rotation_phase=" << report.rotationPhase << '\n';
    text << "gravity_up_x=" << report.up.x << '\n';
    text << "gravity_up_y=" << report.up.y << '\n';
    if (!report.worldLoadError.empty()) {
        text << "world_load_failed=" << report.worldLoadError << '\n';
    }
    if (!report.captured) {
        text << "screenshot_failed=zarn-smoke.ppm" << '\n';
    }
    if (report.passed()) {
        text << "D3D11_RENDER_OK" << '\n';
    }
    return text.str();
}

} // namespace zarn
