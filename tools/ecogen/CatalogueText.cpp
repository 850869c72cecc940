#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "Ecogen.hpp"
#include "ecology/Catalogue.hpp"

namespace zarn::ecogen {

namespace {

// Lines of values separated by single spaces.
class Lines {
  public:
    Lines& operator<<(double value) {
        std::array<char, 32> digits;
        const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
        return word({digits.data(), static_cast<std::size_t>(result.ptr - digits.data())});
    }
    Lines& operator<<(std::uint64_t value) { return word(std::to_string(value)); }
    Lines& operator<<(std::string_view text) { return word(text); }
    Lines& operator<<(const Vec3& v) { return *this << v.x << v.y << v.z; }
    Lines& operator<<(const Quaternion& q) { return *this << q.w << q.x << q.y << q.z; }
    void end() {
        text_ += '\n';
        lineStart_ = true;
    }
    std::string take() { return std::move(text_); }

  private:
    Lines& word(std::string_view w) {
        if (!lineStart_)
            text_ += ' ';
        text_ += w;
        lineStart_ = false;
        return *this;
    }
    std::string text_;
    bool lineStart_ = true;
};

void writeSpecies(Lines& out, const BioAssembly& species) {
    out.end();
    (out << std::uint64_t{species.boxes.size()} << std::uint64_t{species.bonds.size()}).end();
    out << species.name << species.count << std::uint64_t{species.ancestors.size()};
    for (const std::string& ancestor : species.ancestors)
        out << ancestor;
    out.end();
    for (const BioTemplate& box : species.boxes) {
        (out << static_cast<std::uint64_t>(box.ability) << box.position << box.halfExtents << box.axis
             << box.massBudget << box.orientation << box.power << box.strengthPerArea
             << std::uint64_t{box.faceMask})
            .end();
    }
    for (std::size_t k = 0; k < species.bonds.size(); ++k) {
        (out << species.bonds[k].first << species.bonds[k].second << species.strengths[k]
             << species.anchors[k] << species.rotations[k])
            .end();
    }
}

} // namespace

std::string catalogueText(const std::vector<EcoProfile>& profiles, const std::vector<BioAssembly>& speciesA,
                          const std::vector<BioAssembly>& speciesB) {
    Lines out;
    (out << catalogue::magic << static_cast<std::uint64_t>(catalogue::version)).end();
    (out << std::uint64_t{profiles.size()} << std::uint64_t{speciesA.size()}
         << std::uint64_t{speciesB.size()})
        .end();
    for (const EcoProfile& p : profiles)
        (out << p.abundance << p.size << p.assemblyRate).end();
    for (const BioAssembly& species : speciesA)
        writeSpecies(out, species);
    for (const BioAssembly& species : speciesB)
        writeSpecies(out, species);
    return out.take();
}

} // namespace zarn::ecogen
