#include "ecology/BlockSignature.hpp"

#include <algorithm>
#include <charconv>
#include <utility>

namespace zarn {

namespace {

// printf's "%.17g" without a locale: the shortest form at that precision, trailing zeros dropped.
void appendNumber(std::string& text, double value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 17).ptr;
    text.append(digits, end);
}

template <typename Integer> void appendInteger(std::string& text, Integer value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

} // namespace

std::string blockSignature(const Organism& block) {
    std::string text;
    appendInteger(text, static_cast<std::int32_t>(block.ability));
    const Vec3& h = block.halfExtents;
    const Vec3& a = block.axis;
    for (const double value : {h.x, h.y, h.z, a.x, a.y, a.z, block.power, block.strengthPerArea}) {
        text += ' ';
        appendNumber(text, value);
    }
    text += ' ';
    appendInteger(text, block.faceMask);
    return text;
}

void sortBySignature(std::vector<std::uint64_t>& members, const std::vector<Organism>& organisms) {
    std::vector<std::pair<std::string, std::uint64_t>> signed_;
    signed_.reserve(members.size());
    for (const std::uint64_t index : members)
        signed_.emplace_back(blockSignature(organisms[index]), index);
    std::stable_sort(signed_.begin(), signed_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < members.size(); ++i)
        members[i] = signed_[i].second;
}

} // namespace zarn
