#pragma once

#include <cstdint>
#include <string>

#include "physics/Math.hpp"

namespace zarn {

// What an unattended run reports when it ends, written to zarn-smoke.txt.
struct SmokeReport {
    std::int64_t frames = 0;
    std::uint64_t buildings = 0;
    double fps = 0.0;
    std::uint64_t fractures = 0;
    std::uint64_t active = 0; // moving pieces
    std::uint64_t staticUploads = 0;
    std::uint64_t staticDraws = 0;
    std::uint64_t organisms = 0; // Earth world only
    std::uint64_t ecologyBirths = 0;
    std::uint64_t ecologyGrayBlocks = 0;
    double rotationMultiplier = 0.0;
    double rotationPhase = 0.0;
    Vec3 up;                    // x and y are reported
    bool captured = false;      // the last frame was drawn and written to zarn-smoke.ppm
    std::string worldLoadError; // the loader's message when the world the command line asked for failed

    // Whether the run did what it was asked: the picture exists and the requested world is there.
    bool passed() const { return captured && worldLoadError.empty(); }
};

// The report's text: name=value lines in a fixed order, each value in the stream's default form. A run
// that passed ends with the line D3D11_RENDER_OK; one that did not says why instead.
std::string smokeReportText(const SmokeReport& report);

} // namespace zarn
