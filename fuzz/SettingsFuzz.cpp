// The settings reader. It never refuses: whatever config.ini holds, the settings it gives keep their
// ranges and the bindings their rule (every code 1 to 254, none of Tab, Enter, Esc and F4, no code
// twice), and the file written from them reads back to the same file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>

#include "FuzzSupport.hpp"
#include "app/Settings.hpp"

using namespace zarn;

namespace {

void checkRanges(const Settings& s) {
    fuzz::check(s.sensitivity >= minSensitivity && s.sensitivity <= maxSensitivity, "sensitivity in range");
    fuzz::check(s.volume >= 0.0 && s.volume <= 1.0, "volume in range");
    fuzz::check(s.motionLimit <= static_cast<std::uint64_t>(maxMotionLimit), "motion limit in range");
    fuzz::check(s.impactMultiplier >= 0.0 && s.impactMultiplier <= maxImpactMultiplier,
                "impact multiplier in range");
    fuzz::check(s.rotationMultiplier >= 0.0 && s.rotationMultiplier <= maxRotationMultiplier,
                "rotation multiplier in range");
    std::set<std::int32_t> codes;
    for (const std::int32_t code : s.bindings) {
        fuzz::check(code >= 1 && code <= 254 && code != 9 && code != 13 && code != 27 && code != 115,
                    "a binding the rule allows");
        fuzz::check(codes.insert(code).second, "no code bound twice");
    }
}

std::string written(const Settings& settings) {
    std::ostringstream out;
    writeSettings(out, settings);
    return out.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    Settings settings;
    readSettings(in, settings);
    checkRanges(settings);
    const std::string file = written(settings);
    std::istringstream back(file);
    Settings reread;
    readSettings(back, reread);
    fuzz::check(written(reread) == file, "the written file reads back to itself");
    return 0;
}
