#include "app/Settings.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "app/Bindings.hpp"

namespace zarn {

namespace {

std::string_view skipBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    return text;
}

// The integer at the start of the text after leading blanks and an optional sign; reading stops at the
// first character that is not a digit. Empty when there is no digit or the number does not fit.
std::optional<std::int32_t> leadingInteger(std::string_view text) {
    text = skipBlanks(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

// The decimal number at the start of the text after leading blanks; what follows it is ignored. Empty
// when nothing converts or the value is not finite (a typed "nan" or "inf" is as bad as "abc").
std::optional<double> leadingNumber(std::string_view text) {
    text = skipBlanks(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

void readKeyLine(std::string_view index, std::string_view code, Settings& settings) {
    const std::optional<std::int32_t> action = leadingInteger(index);
    const std::optional<std::int32_t> key = leadingInteger(code);
    if (action && key) {
        assignBinding(settings.bindings, *action, *key); // a refused code leaves the bindings alone
    }
}

void readValueLine(std::string_view name, double value, Settings& settings) {
    if (name == "sensitivity") {
        settings.sensitivity = std::clamp(value, minSensitivity, maxSensitivity);
    } else if (name == "volume") {
        settings.volume = std::clamp(value, 0.0, 1.0);
    } else if (name == "motion_limit") {
        settings.motionLimit = static_cast<std::uint64_t>(std::clamp(value, 0.0, maxMotionLimit));
    } else if (name == "impact_multiplier") {
        settings.impactMultiplier = std::clamp(value, 0.0, maxImpactMultiplier);
    } else if (name == "rotation_multiplier") {
        settings.rotationMultiplier = std::clamp(value, 0.0, maxRotationMultiplier);
    }
}

} // namespace

void readSettings(std::istream& in, Settings& settings) {
    std::string line;
    while (std::getline(in, line)) {
        std::string_view text = line;
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1); // a file edited on Windows
        }
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = text.substr(0, equals);
        const std::string_view value = text.substr(equals + 1);
        if (name.starts_with("key_")) {
            readKeyLine(name.substr(4), value, settings);
        } else if (const std::optional<double> number = leadingNumber(value)) {
            readValueLine(name, *number, settings);
        }
    }
}

void writeSettings(std::ostream& out, const Settings& settings) {
    std::ostringstream text; // the default form: at most six significant digits, no trailing zeros
    text << "sensitivity=" << settings.sensitivity << '\n';
    text << "volume=" << settings.volume << '\n';
    text << "motion_limit=" << settings.motionLimit << '\n';
    text << "impact_multiplier=" << settings.impactMultiplier << '\n';
    text << "rotation_multiplier=" << settings.rotationMultiplier << '\n';
    for (std::size_t action = 0; action < settings.bindings.size(); ++action) {
        text << "key_" << action << '=' << settings.bindings[action] << '\n';
    }
    out << text.str();
}

void loadSettingsFile(const std::filesystem::path& path, Settings& settings) {
    std::ifstream in(path, std::ios::binary);
    if (in) {
        readSettings(in, settings);
    }
}

bool saveSettingsFile(const std::filesystem::path& path, const Settings& settings) {
    // Binary, so the lines end with a bare line feed on every platform.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    writeSettings(out, settings);
    out.flush();
    return !out.fail();
}

} // namespace zarn
