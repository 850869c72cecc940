#include "app/CommandLine.hpp"

namespace zarn {

CommandLineOptions parseCommandLine(std::wstring_view line) {
    const auto has = [line](std::wstring_view option) {
        return line.find(option) != std::wstring_view::npos;
    };
    CommandLineOptions options;
    options.smoke = has(L"--smoke");
    options.play = has(L"--play");
    options.collapse = has(L"--collapse");
    options.lujiazui = has(L"--lujiazui");
    options.earth = has(L"--earth");
    options.stars = has(L"--stars");
    options.moon = has(L"--moon");
    options.space = has(L"--space");
    options.warp = has(L"--warp");
    options.outskirts = has(L"--outskirts");
    options.orbit = has(L"--orbit");
    options.lightingProbe = has(L"--lighting-probe");
    options.night = has(L"--night");
    options.dusk = has(L"--dusk");
    options.airMode = has(L"--air-mode");
    options.shoot = has(L"--shoot");
    return options;
}

} // namespace zarn
