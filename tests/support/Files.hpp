#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

// Files of the tests: paths in UTF-8, as the game takes them, and scratch folders.
namespace zarn::test {

// On Windows a path has to be made from UTF-8 as such, not through the ANSI code page.
inline std::filesystem::path pathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// The area's folder in the temporary folder, one for each build folder the tests run from, so that
// test runs of several checkouts at once never share a scratch folder.
inline std::filesystem::path scratchArea(const std::string& area) {
    std::uint32_t key = 2166136261u;
    for (const char8_t c : std::filesystem::current_path().u8string())
        key = (key ^ static_cast<std::uint8_t>(c)) * 16777619u;
    return std::filesystem::temp_directory_path() / (area + "-" + std::to_string(key));
}

// A scratch folder of the running test alone (test cases run in parallel processes), emptied, under a
// folder of the area's own in the temporary folder.
inline std::filesystem::path scratchFolder(const std::string& area) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path folder =
        scratchArea(area) / (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline std::filesystem::path writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return path;
}

} // namespace zarn::test
