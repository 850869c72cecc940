#pragma once

#include <memory>

#include "app/Audio.hpp"

namespace zarn {

// Opens the default wave output device for 16-bit mono PCM at 22050 Hz, without a callback: the main
// loop polls its buffers. Null when there is no device to open (no sound card); the game then runs
// silent. Windows only.
std::unique_ptr<AudioOutput> openWaveOut();

} // namespace zarn
