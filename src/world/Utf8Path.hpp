#pragma once

#include <filesystem>
#include <string>

namespace zarn {

// Paths arrive as UTF-8; on Windows they must become wide paths, not the ANSI code page. A text that
// is not UTF-8 names no file on Windows: the conversion throws there.
inline std::filesystem::path pathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

} // namespace zarn
