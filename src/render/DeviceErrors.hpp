#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarn {

// The text of a failed device call: what, then " failed (0x", the result as unsigned lower-case
// hexadecimal without leading zeros, then ")". For example "HUD sampler failed (0x80070057)".
std::string failureMessage(std::int32_t result, const char* what);

// The shader compiler's error message from its blob: all of its size, without the trailing zero byte
// the compiler may count (the blob is not a zero-terminated string). Empty text gives the generic
// "Shader compilation failed".
std::string compilerMessage(const void* bytes, std::size_t size);

} // namespace zarn
