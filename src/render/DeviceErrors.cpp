#include "render/DeviceErrors.hpp"

namespace zarn {

std::string failureMessage(std::int32_t result, const char* what) {
    static constexpr char digits[] = "0123456789abcdef";
    auto code = static_cast<std::uint32_t>(result);
    std::string hex;
    do {
        hex.insert(hex.begin(), digits[code & 0xFu]);
        code >>= 4;
    } while (code != 0);
    return std::string(what) + " failed (0x" + hex + ")";
}

std::string compilerMessage(const void* bytes, std::size_t size) {
    std::string text;
    if (bytes != nullptr) {
        text.assign(static_cast<const char*>(bytes), size);
    }
    if (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    if (text.empty()) {
        return "Shader compilation failed";
    }
    return text;
}

} // namespace zarn
