#include "ecology/Catalogue.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "ecology/BoxFrame.hpp"
#include "ecology/Clearance.hpp"
#include "ecology/Ecology.hpp"
#include "physics/Geometry.hpp"

namespace zarn {

namespace catalogue {

Placement placeSecond(const BioTemplate& first, const Vec3& anchor, const Quaternion& rotation) {
    return {first.position + first.orientation.rotate(anchor), first.orientation * rotation};
}

namespace {

// What one end of a bond may hold: nothing unless it is a Connection box, else its strength per area
// times the area over which its bonding faces touch the other box.
double endLimit(const BioTemplate& end, const Placement& endAt, const BioTemplate& other,
                const Placement& otherAt) {
    if (end.ability != Ability::Connection)
        return 0.0;
    Organism organism;
    organism.center = endAt.position;
    organism.halfExtents = end.halfExtents;
    organism.orientation = endAt.orientation;
    Polyhedron body;
    body.center = otherAt.position;
    body.halfExtents = other.halfExtents;
    body.orientation = otherAt.orientation;
    return end.strengthPerArea * Ecology::contactArea(organism, body, end.faceMask);
}

} // namespace

double strengthLimit(const BioTemplate& first, const BioTemplate& second, const Placement& placed) {
    const Placement own{first.position, first.orientation};
    return std::max(endLimit(first, own, second, placed), endLimit(second, placed, first, own));
}

bool strengthAllowed(double strength, double limit) {
    return limit > 0.0 && strength <= limit * 1.05 + 0.001;
}

} // namespace catalogue

namespace {

using namespace catalogue;

// The reader's checks, numbered in reading order; a refused file reports the number of the first
// check it failed.
enum Check : int {
    passed = 0,
    header = 61,
    profileValue = 71,
    recordHead = 77,
    recordName = 81,
    ancestorName = 85,
    boxField = 98,
    boxOrientation = 103,
    deadBox = 105,
    boxOverlap = 116,
    bondHead = 126,
    bondFrame = 130,
    bondRotation = 133,
    duplicateBond = 140,
    bondGeometry = 152,
    bondStrength = 164,
    endOfFile = 174,
};

// A number takes at most this many characters (the exact decimal expansion of most doubles fits).
// The reader stops at the next one, so a file of one endless token is refused without holding it.
constexpr std::size_t maxNumber = 256;
static_assert(maxName <= maxNumber && magic.size() <= maxNumber, "every token fits the reader's buffer");

// Ranges of a box's and a bond's values.
constexpr double positionLimit = 128.0;
constexpr double minHalfExtent = 0.1;
constexpr double maxHalfExtent = 2.0;
constexpr double minAxisLength = 0.99;
constexpr double maxAxisLength = 1.01;
constexpr double maxMassBudget = 1024.0;
constexpr double quaternionLimit = 1.000001;
constexpr double maxPower = 100.0;
constexpr double minStrengthPerArea = 1.0;
constexpr double maxStrengthPerArea = 100000.0;
constexpr std::uint64_t maxFaceMask = 63;
constexpr double minStrength = 1e-8;
constexpr double maxStrength = 1e7;
// Orientations and rotations are unit quaternions within this much of |q|² = 1.
constexpr double unitTolerance = 1e-5;
// Boxes of a species may touch, or overlap by a millimetre of rounding; no deeper.
constexpr double overlapTolerance = 0.001;
// The mass the overlap test gives both boxes: it only decides where the contact point lies.
constexpr double overlapTestMass = 9600.0;
// A bond may place its second box this far from where the box says it stands.
constexpr double placementTolerance = 0.36;

// The file as white-space-separated tokens (the classic locale's white space), read through the
// file's own buffer. A token is read only up to its limit: a longer one fails its field there.
class Tokens {
  public:
    explicit Tokens(std::streambuf& in) : in_(in) {}

    // The next token, when there is one and it holds at most limit bytes.
    bool next(std::size_t limit, std::string_view& token) {
        skipSpace();
        std::size_t size = 0;
        for (int c = in_.sgetc(); !isEnd(c) && !isSpace(c); c = in_.snextc()) {
            if (size == limit)
                return false;
            buffer_[size++] = static_cast<char>(c);
        }
        token = {buffer_.data(), size};
        return size > 0;
    }

    // Nothing but white space is left.
    bool atEnd() {
        skipSpace();
        return isEnd(in_.sgetc());
    }

  private:
    static bool isEnd(int c) { return c == std::char_traits<char>::eof(); }
    static bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    void skipSpace() {
        for (int c = in_.sgetc(); !isEnd(c) && isSpace(c);)
            c = in_.snextc();
    }

    std::streambuf& in_;
    std::array<char, maxNumber> buffer_;
};

// The next token converted to a Value by from_chars, which must take all of it: a field is the whole
// token, so "1.5" in an integer field is unreadable there, not 1 followed by ".5". Stream extraction
// takes one plus sign before a number and from_chars does not, so it is passed over here.
template <class Value> std::errc readWhole(Tokens& in, Value& value, std::string_view& token) {
    if (!in.next(maxNumber, token))
        return std::errc::invalid_argument;
    if (token.size() > 1 && token[0] == '+' && token[1] != '+' && token[1] != '-')
        token.remove_prefix(1);
    const char* end = token.data() + token.size();
    const auto [stop, error] = std::from_chars(token.data(), end, value);
    return stop == end ? error : std::errc::invalid_argument;
}

template <class Integer> bool readInteger(Tokens& in, Integer& value) {
    std::string_view token;
    return readWhole(in, value, token) == std::errc{};
}

// A number in any form stream extraction reads (a sign, digits with a point, an exponent), within
// [lowest, highest]; not finite fails. A value too small for a double reads as zero, as extraction
// reads it.
bool readNumber(Tokens& in, double& value, double lowest, double highest) {
    std::string_view token;
    const std::errc error = readWhole(in, value, token);
    if (error == std::errc::result_out_of_range) {
        // Out of range with a negative exponent is an underflow: no token this short can overflow so.
        const std::size_t e = token.find_first_of("eE");
        if (e == std::string_view::npos || e + 1 >= token.size() || token[e + 1] != '-')
            return false;
        value = token.front() == '-' ? -0.0 : 0.0;
    } else if (error != std::errc{}) {
        return false;
    }
    return value >= lowest && value <= highest; // false for NaN
}

bool readVector(Tokens& in, Vec3& v, double lowest, double highest) {
    return readNumber(in, v.x, lowest, highest) && readNumber(in, v.y, lowest, highest) &&
           readNumber(in, v.z, lowest, highest);
}

bool readQuaternion(Tokens& in, Quaternion& q) {
    return readNumber(in, q.w, -quaternionLimit, quaternionLimit) &&
           readNumber(in, q.x, -quaternionLimit, quaternionLimit) &&
           readNumber(in, q.y, -quaternionLimit, quaternionLimit) &&
           readNumber(in, q.z, -quaternionLimit, quaternionLimit);
}

bool nearUnit(const Quaternion& q) {
    return std::abs(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z - 1.0) <= unitTolerance;
}

// The boxes of one species read so far, with their bounds in order of their lowest x, so that a new
// box is tested only against those whose bounds meet its own.
class EarlierBoxes {
  public:
    // Whether the box overlaps one of them by more than the tolerance. Boxes whose bounds lie apart do
    // not overlap: the overlap test could find them touching only within the rounding of their
    // corners, far below the millimetre it refuses, so passing them over cannot change the answer.
    bool overlap(const Polyhedron& box) const {
        const Box bounds = box.bounds();
        // Bounds that reach this box's along x start at most the widest of them before it; a millimetre
        // more keeps rounding at the edge of that window from losing one.
        auto entry = std::lower_bound(byLowestX_.begin(), byLowestX_.end(), bounds.min.x - widest_ - 0.001,
                                      [](const Entry& e, double x) { return e.bounds.min.x < x; });
        for (; entry != byLowestX_.end() && entry->bounds.min.x <= bounds.max.x; ++entry) {
            if (!overlapOrTouch(entry->bounds, bounds))
                continue;
            Contact contact;
            if (collide(bodies_[entry->index], box, contact) && contact.depth > overlapTolerance)
                return true;
        }
        return false;
    }

    void add(const Polyhedron& box) {
        const Entry entry{box.bounds(), bodies_.size()};
        byLowestX_.insert(
            std::upper_bound(byLowestX_.begin(), byLowestX_.end(), entry,
                             [](const Entry& a, const Entry& b) { return a.bounds.min.x < b.bounds.min.x; }),
            entry);
        bodies_.push_back(box);
        widest_ = std::max(widest_, entry.bounds.max.x - entry.bounds.min.x);
    }

  private:
    struct Entry {
        Box bounds;
        std::size_t index;
    };
    std::vector<Polyhedron> bodies_;
    std::vector<Entry> byLowestX_;
    double widest_ = 0.0;
};

Polyhedron overlapBody(const BioTemplate& box) {
    Polyhedron body = templateBody(box);
    body.mass = overlapTestMass;
    return body;
}

Check readHeader(Tokens& in, std::size_t profileCount, std::uint64_t& countA, std::uint64_t& countB) {
    std::string_view word;
    std::int32_t fileVersion = 0;
    std::uint64_t profiles = 0;
    if (!in.next(magic.size(), word) || word != magic || !readInteger(in, fileVersion) ||
        fileVersion != version || !readInteger(in, profiles) || profiles != profileCount ||
        !readInteger(in, countA) || countA > maxSpeciesA || !readInteger(in, countB) || countB > maxSpeciesB)
        return header;
    return passed;
}

Check readProfiles(Tokens& in, std::vector<EcoProfile>& profiles) {
    for (EcoProfile& p : profiles) {
        if (!readNumber(in, p.abundance, 0.0, maxAbundance) || !readNumber(in, p.size, 0.0, maxSize) ||
            !readNumber(in, p.assemblyRate, 0.0, maxAssemblyRate))
            return profileValue;
    }
    return passed;
}

Check readNames(Tokens& in, bool groupA, BioAssembly& species) {
    std::string_view name;
    std::uint64_t ancestors = 0;
    if (!in.next(maxName, name))
        return recordName;
    species.name = name;
    if (!readInteger(in, species.count) || !readInteger(in, ancestors) || ancestors > maxAncestors ||
        (groupA && species.count == 0))
        return recordName;
    for (std::uint64_t k = 0; k < ancestors; ++k) {
        if (!in.next(maxName, name))
            return ancestorName;
        species.ancestors.emplace_back(name);
    }
    return passed;
}

Check readBox(Tokens& in, bool groupA, BioTemplate& box) {
    std::int32_t ability = 0;
    std::uint64_t faceMask = 0;
    if (!readInteger(in, ability) || ability < 0 ||
        ability > static_cast<std::int32_t>(Ability::Connection) ||
        !readVector(in, box.position, -positionLimit, positionLimit) ||
        !readVector(in, box.halfExtents, minHalfExtent, maxHalfExtent) ||
        !readVector(in, box.axis, -1.0, 1.0) || !readNumber(in, box.massBudget, 0.0, maxMassBudget) ||
        !readQuaternion(in, box.orientation) || !readNumber(in, box.power, 0.0, maxPower) ||
        !readNumber(in, box.strengthPerArea, minStrengthPerArea, maxStrengthPerArea) ||
        !readInteger(in, faceMask) || faceMask < 1 || faceMask > maxFaceMask)
        return boxField;
    box.ability = static_cast<Ability>(ability);
    box.faceMask = static_cast<std::uint32_t>(faceMask);
    const double axisLength = length(box.axis);
    if (axisLength < minAxisLength || axisLength > maxAxisLength)
        return boxField;
    if (!nearUnit(box.orientation))
        return boxOrientation;
    // Group B holds dead structures: no box of theirs carries mass to live on.
    if (!groupA && box.massBudget != 0.0)
        return deadBox;
    return passed;
}

Check readBoxes(Tokens& in, bool groupA, std::uint64_t count, BioAssembly& species) {
    EarlierBoxes earlier;
    species.boxes.reserve(count);
    for (std::uint64_t k = 0; k < count; ++k) {
        BioTemplate box;
        if (const Check failed = readBox(in, groupA, box))
            return failed;
        const Polyhedron body = overlapBody(box);
        if (earlier.overlap(body))
            return boxOverlap;
        earlier.add(body);
        species.boxes.push_back(box);
    }
    return passed;
}

Check readBonds(Tokens& in, std::uint64_t count, BioAssembly& species) {
    const std::uint64_t boxCount = species.boxes.size();
    std::vector<bool> given(boxCount * boxCount); // by (lower index, higher index)
    for (std::uint64_t k = 0; k < count; ++k) {
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        double strength = 0.0;
        Vec3 anchor;
        Quaternion rotation;
        if (!readInteger(in, first) || first >= boxCount || !readInteger(in, second) || second >= boxCount ||
            first == second || !readNumber(in, strength, minStrength, maxStrength))
            return bondHead;
        if (!readVector(in, anchor, -positionLimit, positionLimit) || !readQuaternion(in, rotation))
            return bondFrame;
        if (!nearUnit(rotation))
            return bondRotation;
        // Kept as seen from the lower-indexed box: the rotation back, and the anchor turned by it.
        if (first > second) {
            std::swap(first, second);
            rotation = conjugate(rotation);
            anchor = rotation.rotate(-anchor);
        }
        if (given[first * boxCount + second])
            return duplicateBond;
        given[first * boxCount + second] = true;

        const BioTemplate& from = species.boxes[first];
        const BioTemplate& to = species.boxes[second];
        const Placement placed = placeSecond(from, anchor, rotation);
        if (length(placed.position - to.position) > placementTolerance)
            return bondGeometry;
        if (!strengthAllowed(strength, strengthLimit(from, to, placed)))
            return bondStrength;
        species.bonds.emplace_back(first, second);
        species.strengths.push_back(strength);
        species.anchors.push_back(anchor);
        species.rotations.push_back(rotation);
    }
    return passed;
}

Check readRecord(Tokens& in, bool groupA, BioAssembly& species) {
    std::uint64_t boxCount = 0;
    std::uint64_t bondCount = 0;
    if (!readInteger(in, boxCount) || !readInteger(in, bondCount) || boxCount == 0 || boxCount > maxBoxes ||
        bondCount > maxBondsPerBox * boxCount)
        return recordHead;
    if (const Check failed = readNames(in, groupA, species))
        return failed;
    if (const Check failed = readBoxes(in, groupA, boxCount, species))
        return failed;
    return readBonds(in, bondCount, species);
}

// Everything a catalogue holds, read into fresh lists; the ecology takes them when all is well.
struct Contents {
    std::vector<EcoProfile> profiles;
    std::vector<BioAssembly> speciesA;
    std::vector<BioAssembly> speciesB;
};

Check readCatalogue(std::streambuf& file, Contents& read) {
    Tokens in(file);
    std::uint64_t countA = 0;
    std::uint64_t countB = 0;
    if (const Check failed = readHeader(in, read.profiles.size(), countA, countB))
        return failed;
    if (const Check failed = readProfiles(in, read.profiles))
        return failed;
    for (std::uint64_t index = 0; index < countA + countB; ++index) {
        const bool groupA = index < countA;
        BioAssembly species;
        if (const Check failed = readRecord(in, groupA, species))
            return failed;
        (groupA ? read.speciesA : read.speciesB).push_back(std::move(species));
    }
    return in.atEnd() ? passed : endOfFile;
}

// Whether the open file is no larger than a catalogue may be; the file is left at its start.
bool sizeWithinLimit(std::filebuf& in) {
    const std::streamoff end = in.pubseekoff(0, std::ios::end, std::ios::in);
    return end >= 0 && static_cast<std::uint64_t>(end) <= maxFileBytes &&
           in.pubseekpos(0, std::ios::in) == std::streampos(0);
}

// The path as UTF-8 for the message. Windows names files in UTF-16, where a name may hold a lone
// surrogate that has no UTF-8 form: it is shown as U+FFFD rather than failing the message.
std::string utf8(const std::filesystem::path& file) {
#ifdef _WIN32
    const std::wstring& wide = file.native();
    std::string text;
    for (std::size_t k = 0; k < wide.size(); ++k) {
        char32_t c = static_cast<char16_t>(wide[k]);
        const bool high = c >= 0xD800 && c < 0xDC00;
        if (high && k + 1 < wide.size() && wide[k + 1] >= 0xDC00 && wide[k + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[++k]) - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
#else
    return file.native(); // the bytes the name was given in
#endif
}

} // namespace

bool Ecology::load(const std::filesystem::path& file, std::string& error) {
    // Everything is read into fresh lists, so a machine without the memory for them refuses the
    // catalogue as a file it cannot read, with the ecology untouched.
    Contents read;
    Check failed = header;
    try {
        read.profiles.resize(profiles.size());
        // Binary, so that every platform reads the same tokens: in text mode Windows would end the file
        // at a Ctrl-Z, and line ends are white space either way.
        std::filebuf in;
        if (in.open(file, std::ios::in | std::ios::binary) && sizeWithinLimit(in))
            failed = readCatalogue(in, read);
    } catch (const std::bad_alloc&) {
        failed = header;
    }
    if (failed != passed) {
        error =
            "生态图鉴缺失或格式无效（校验 " + std::to_string(static_cast<int>(failed)) + "）：" + utf8(file);
        return false;
    }
    profiles = std::move(read.profiles);
    speciesA = std::move(read.speciesA);
    speciesB = std::move(read.speciesB);
    return true;
}

} // namespace zarn
