#pragma once

#include <string_view>

namespace zarn {

// The options of the command line. Each is found by a plain substring search anywhere in the line: no
// separators are needed, and an option also matches inside a longer word.
struct CommandLineOptions {
    bool smoke = false;         // an unattended run of 120 frames
    bool play = false;          // the training ground at once
    bool collapse = false;      // the training ground's demolition, an unattended run of 360 frames
    bool lujiazui = false;      // the city district
    bool earth = false;         // the Earth
    bool stars = false;         // the stars
    bool moon = false;          // unattended, star world: set down above the Moon
    bool space = false;         // unattended, star world: high above the frame body
    bool warp = false;          // unattended, star world: a warp jump
    bool outskirts = false;     // unattended, Earth world: 5 km east of the district
    bool orbit = false;         // unattended, Earth world: looking down from 14,000 km
    bool lightingProbe = false; // unattended: no fixed step; in the Earth world the probe scene
    bool night = false;         // unattended, Earth world: midnight
    bool dusk = false;          // unattended, Earth world: dusk (wins over night)
    bool airMode = false;       // unattended: lifted and launched in air mode
    bool shoot = false;         // unattended: 240 frames, looking down, firing before frames 20 and 70
};

CommandLineOptions parseCommandLine(std::wstring_view line);

} // namespace zarn
