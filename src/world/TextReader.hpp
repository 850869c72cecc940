#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

namespace zarn {

// Reads text the way formatted extraction from a std::istream imbued with the classic locale reads
// it: every read skips white space first (blank, tab, line ends, vertical tab, form feed) and then
// takes as many characters as the stream would take, and fails exactly where the stream would fail.
// After a failed read every later read fails, as on a stream. Numbers are converted with
// std::from_chars instead of through the locale, a plain decimal of few enough digits by one exact
// division that gives the same double.
//
// The text is held whole, or read from a stream a piece at a time: then only the piece in hand and
// the token that runs on past it are held, so that a large file is never all in memory at once.
class TextReader {
  public:
    static constexpr std::size_t defaultPiece = 64 * 1024;

    explicit TextReader(std::string_view text) : text_(text) {}
    // The next `size` bytes of the stream (fewer when it ends first), taken `piece` bytes at a time.
    TextReader(std::istream& source, std::uint64_t size, std::size_t piece = defaultPiece);
    // The text in hand views the reader's own storage.
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // >> double: sign, digits with at most one point, an exponent after a digit; refused when that is
    // no number or beyond the range of double.
    bool number(double& value);
    // >> int and >> unsigned long long: sign and decimal digits, refused beyond the type's range.
    // The unsigned form, like the stream, takes a minus sign and wraps the value round.
    bool integer(std::int32_t& value);
    bool count(std::uint64_t& value);
    // >> bool without boolalpha: an integer that is 0 or 1.
    bool flag(bool& value);
    // >> std::string: the characters up to the next white space.
    bool word(std::string& value);
    // >> std::quoted: a word, or the characters between double quotes with backslash escapes.
    bool quoted(std::string& value);
    // ignore(limit, '\n') and std::getline: the rest of a line.
    void skipLine(std::size_t limit);
    bool line(std::string& value);
    // >> std::ws, and the next character (-1 at the end).
    void skipSpace() {
        do {
            while (at_ < text_.size() && isSpace(text_[at_]))
                ++at_;
        } while (at_ >= text_.size() && more());
    }
    int peek();
    // Whether only white space is left, and how many characters are.
    bool atEnd();
    std::uint64_t remaining() const { return text_.size() - at_ + unread_; }

  private:
    static bool isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }
    bool begin(); // the sentry: fails at the end of the text or after a failure
    bool fail();
    // Whether the character at `at` is there, after taking in the next piece when `at` has run
    // past the piece in hand (which moves what is left of it, and `at`, to the front).
    bool has(std::size_t& at) { return at < text_.size() || refill(at); }
    bool refill(std::size_t& at);
    bool more();
    void holdToken();
    template <class Value> bool integerOf(Value& value, bool unsignedWrap);

    std::string_view text_;
    std::size_t at_ = 0;
    bool failed_ = false;
    // Reading from a stream: the bytes not yet taken from it, the size of a piece, and the piece
    // in hand (text_ views it).
    std::istream* source_ = nullptr;
    std::uint64_t unread_ = 0;
    std::size_t piece_ = 0;
    std::string held_;
    std::size_t lastSpace_ = std::string::npos; // where the last white space of the piece in hand is
};

} // namespace zarn
