#include "world/TextReader.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <locale>
#include <sstream>
#include <system_error>

namespace zarn {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Up to nineteen decimal digits are kept as a whole number without overflow; those of at most 2^53
// are exact in a double, as is every power of ten up to 10^22.
constexpr int maxKeptDigits = 19;
constexpr std::uint64_t maxExactWhole = std::uint64_t{1} << 53;
constexpr double exactPowersOfTen[maxKeptDigits + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                                        1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                                        1e14, 1e15, 1e16, 1e17, 1e18, 1e19};

} // namespace

TextReader::TextReader(std::istream& source, std::uint64_t size, std::size_t piece)
    : source_(&source), unread_(size), piece_(std::max<std::size_t>(piece, 1)) {}

bool TextReader::fail() {
    failed_ = true;
    return false;
}

bool TextReader::more() {
    if (source_ == nullptr || unread_ == 0)
        return false;
    // What is left of the piece in hand moves to the front, and the next piece goes behind it.
    const std::size_t kept = text_.size() - at_;
    held_.erase(0, at_);
    lastSpace_ = lastSpace_ != std::string::npos && lastSpace_ >= at_ ? lastSpace_ - at_ : std::string::npos;
    at_ = 0;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece_, unread_));
    held_.resize(kept + wanted);
    source_->read(held_.data() + kept, static_cast<std::streamsize>(wanted));
    const auto got = static_cast<std::size_t>(source_->gcount());
    held_.resize(kept + got);
    // A stream that ends early ends the text there.
    unread_ = got < wanted ? 0 : unread_ - got;
    text_ = held_;
    for (std::size_t at = kept + got; at > kept; --at)
        if (isSpace(held_[at - 1])) {
            lastSpace_ = at - 1;
            break;
        }
    return got > 0;
}

bool TextReader::refill(std::size_t& at) {
    const std::size_t offset = at - at_;
    if (!more())
        return false;
    at = at_ + offset;
    return at < text_.size();
}

int TextReader::peek() {
    return failed_ || !has(at_) ? -1 : static_cast<unsigned char>(text_[at_]);
}

bool TextReader::begin() {
    if (failed_)
        return false;
    skipSpace();
    if (at_ >= text_.size())
        return fail();
    // Every token but a quoted string ends at the next white space: unless one is in hand already,
    // the pieces up to it are taken in first, so that the token is read as if the text were whole.
    if (unread_ > 0 && (lastSpace_ == std::string::npos || lastSpace_ < at_))
        holdToken();
    return true;
}

void TextReader::holdToken() {
    std::size_t look = at_;
    while (has(look) && !isSpace(text_[look]))
        ++look;
}

bool TextReader::atEnd() {
    skipSpace();
    return at_ >= text_.size();
}

bool TextReader::number(double& value) {
    if (!begin())
        return false;
    // The characters the stream takes for a floating-point number: a sign, digits with at most one
    // point, and after a digit an exponent, its sign and digits. The digits of a plain decimal are
    // kept as a whole number too, with how many of them follow the point.
    const std::size_t start = at_;
    const std::size_t end = text_.size();
    const bool negative = text_[at_] == '-';
    if (text_[at_] == '+' || text_[at_] == '-')
        ++at_;
    std::uint64_t digits = 0;
    int digitCount = 0;
    int fractionDigits = 0;
    auto takeDigits = [&](bool fraction) {
        for (; at_ < end && isDigit(text_[at_]); ++at_, ++digitCount)
            if (digitCount < maxKeptDigits) {
                digits = digits * 10 + static_cast<std::uint64_t>(text_[at_] - '0');
                fractionDigits += fraction ? 1 : 0;
            }
    };
    takeDigits(false);
    if (at_ < end && text_[at_] == '.') {
        ++at_;
        takeDigits(true);
    }
    const bool mantissa = digitCount > 0;
    bool exponent = false;
    std::size_t exponentDigits = 0;
    if (mantissa && at_ < end && (text_[at_] == 'e' || text_[at_] == 'E')) {
        exponent = true;
        ++at_;
        if (at_ < end && (text_[at_] == '+' || text_[at_] == '-'))
            ++at_;
        for (; at_ < end && isDigit(text_[at_]); ++at_)
            ++exponentDigits;
    }
    // What the stream then converts must be a number to its last character.
    if (!mantissa || (exponent && exponentDigits == 0))
        return fail();
    // A decimal without an exponent whose digits make a whole number of at most 2^53 is that number
    // divided by a power of ten of at most 10^19, both exact in a double: one division rounds their
    // quotient correctly, to the very double the full conversion gives.
    if (!exponent && digitCount <= maxKeptDigits && digits <= maxExactWhole) {
        const double whole = static_cast<double>(digits);
        const double magnitude = fractionDigits == 0 ? whole : whole / exactPowersOfTen[fractionDigits];
        value = negative ? -magnitude : magnitude;
        return true;
    }
    const char* first = text_.data() + start + (text_[start] == '+' ? 1 : 0);
    const char* last = text_.data() + at_;
    const std::from_chars_result result = std::from_chars(first, last, value);
    if (result.ec == std::errc() && result.ptr == last)
        return true;
    if (result.ec != std::errc::result_out_of_range)
        return fail();
    // Beyond the range of double: the stream refuses what overflows and keeps what underflows, so
    // such a rare number goes through a stream of its own.
    std::istringstream stream{std::string(text_.data() + start, at_ - start)};
    stream.imbue(std::locale::classic());
    return static_cast<bool>(stream >> value) || fail();
}

template <class Value> bool TextReader::integerOf(Value& value, bool unsignedWrap) {
    if (!begin())
        return false;
    const std::size_t end = text_.size();
    bool negative = false;
    if (text_[at_] == '+' || text_[at_] == '-') {
        negative = text_[at_] == '-';
        ++at_;
    }
    // The magnitude in the widest type, with a note of overflow as the stream keeps it.
    constexpr std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t magnitude = 0;
    bool digits = false;
    bool overflow = false;
    while (at_ < end && isDigit(text_[at_])) {
        const auto digit = static_cast<std::uint64_t>(text_[at_] - '0');
        if (magnitude > (limit - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
        digits = true;
        ++at_;
    }
    if (!digits || overflow)
        return fail();
    if (unsignedWrap) {
        value = static_cast<Value>(negative ? std::uint64_t{0} - magnitude : magnitude);
        return true;
    }
    // Signed: within the range of the type, the most negative value included.
    using Limits = std::numeric_limits<Value>;
    const auto most = static_cast<std::uint64_t>(Limits::max()) + (negative ? 1u : 0u);
    if (magnitude > most)
        return fail();
    value =
        negative ? static_cast<Value>(-static_cast<std::int64_t>(magnitude)) : static_cast<Value>(magnitude);
    return true;
}

bool TextReader::integer(std::int32_t& value) {
    return integerOf(value, false);
}

bool TextReader::count(std::uint64_t& value) {
    return integerOf(value, true);
}

bool TextReader::flag(bool& value) {
    std::int32_t number = 0;
    if (!integerOf(number, false))
        return false;
    if (number != 0 && number != 1)
        return fail();
    value = number == 1;
    return true;
}

bool TextReader::word(std::string& value) {
    if (!begin())
        return false;
    const std::size_t start = at_;
    while (at_ < text_.size() && !isSpace(text_[at_]))
        ++at_;
    value.assign(text_.data() + start, at_ - start);
    return true;
}

bool TextReader::quoted(std::string& value) {
    if (!begin())
        return false;
    if (text_[at_] != '"')
        return word(value);
    ++at_;
    value.clear();
    while (true) {
        if (!has(at_))
            return fail();
        char c = text_[at_++];
        if (c == '\\') {
            if (!has(at_))
                return fail();
            c = text_[at_++];
        } else if (c == '"') {
            return true;
        }
        value += c;
    }
}

void TextReader::skipLine(std::size_t limit) {
    if (failed_)
        return;
    for (std::size_t taken = 0; taken < limit && has(at_) && text_[at_] != '\n'; ++taken)
        ++at_;
    if (has(at_) && text_[at_] == '\n')
        ++at_;
}

bool TextReader::line(std::string& value) {
    if (failed_ || !has(at_))
        return fail();
    std::size_t end = at_;
    while (has(end) && text_[end] != '\n')
        ++end;
    value.assign(text_.data() + at_, end - at_);
    at_ = end;
    if (at_ < text_.size())
        ++at_; // the line end is taken, not kept
    return true;
}

} // namespace zarn
