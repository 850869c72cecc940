#include <cstdint>
#include <iomanip>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "world/TextReader.hpp"

// The map reader takes its numbers, words and quoted names from the text with TextReader instead of
// stream extraction; every read must succeed, fail and stop exactly where the stream's does.
namespace zarn {
namespace {

// What one read followed by a plain word gives: success, the value's bits, and the word after it.
struct Outcome {
    bool read = false;
    std::string value;
    bool rest = false;
    std::string after;
};

template <class Value> std::string bitsOf(const Value& value) {
    if constexpr (std::is_same_v<Value, std::string>)
        return value;
    else
        return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class Value, class Extract> Outcome byStream(const std::string& text, Extract extract) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    Value value{};
    Outcome out;
    out.read = static_cast<bool>(extract(in, value));
    out.value = out.read ? bitsOf(value) : std::string();
    out.rest = static_cast<bool>(in >> out.after);
    return out;
}

template <class Value, class Read> Outcome byReader(const std::string& text, Read read) {
    TextReader in(text);
    Value value{};
    Outcome out;
    out.read = read(in, value);
    out.value = out.read ? bitsOf(value) : std::string();
    out.rest = in.word(out.after);
    return out;
}

void expectSame(const Outcome& stream, const Outcome& reader, const std::string& text) {
    EXPECT_EQ(reader.read, stream.read) << '"' << text << '"';
    EXPECT_EQ(reader.value, stream.value) << '"' << text << '"';
    EXPECT_EQ(reader.rest, stream.rest) << '"' << text << '"';
    EXPECT_EQ(reader.after, stream.after) << '"' << text << '"';
}

const char* const texts[] = {
    "0",
    "-0",
    "+1.5",
    " \t\n\v\f\r42 x",
    "1.5e3",
    "1E-3x",
    "1e",
    "1e+",
    "1e+5x",
    "1ee5",
    ".5",
    "5.",
    ".",
    "-",
    "+",
    "-.e3",
    "+.5e-2",
    "1.2.3",
    "0x1p3",
    "inf",
    "nan",
    "1e400",
    "-1e400",
    "1e-400",
    "4.9e-324",
    "2.4e-324",
    "2.2250738585072011e-308",
    "1.7976931348623157e308",
    "1.7976931348623159e308",
    "0.1000000000000000055511151231257827",
    "00012",
    "-0007.250",
    "9007199254740992",
    "9007199254740993",
    "0.5800000000000001",
    "0000000000000000001.5",
    "00000000000000000001.5",
    "-362.5 x",
    "1,5",
    "\xd9\xa1",
    "",
    "   ",
    "123456789012345678901234567890",
    "2147483647",
    "-2147483648",
    "2147483648",
    "-2147483649",
    "18446744073709551615",
    "18446744073709551616",
    "-1",
    "2",
    "01",
    "+1",
    "-0 0",
    "word more",
    "\"a b\" c",
    "\"unterminated",
    "\"esc \\\" q\\\\\" z",
    "\"trail\\",
    "\"\"",
    "\"\" x",
    "ab\"cd\" e",
};

TEST(TextReader, EveryReadEndsWhereTheStreamsEnds) {
    for (const char* text : texts) {
        expectSame(
            byStream<double>(text, [](std::istream& in, double& v) -> std::istream& { return in >> v; }),
            byReader<double>(text, [](TextReader& in, double& v) { return in.number(v); }), text);
        expectSame(
            byStream<std::int32_t>(
                text, [](std::istream& in, std::int32_t& v) -> std::istream& { return in >> v; }),
            byReader<std::int32_t>(text, [](TextReader& in, std::int32_t& v) { return in.integer(v); }),
            text);
        expectSame(
            byStream<std::uint64_t>(
                text, [](std::istream& in, std::uint64_t& v) -> std::istream& { return in >> v; }),
            byReader<std::uint64_t>(text, [](TextReader& in, std::uint64_t& v) { return in.count(v); }),
            text);
        expectSame(byStream<bool>(text, [](std::istream& in, bool& v) -> std::istream& { return in >> v; }),
                   byReader<bool>(text, [](TextReader& in, bool& v) { return in.flag(v); }), text);
        expectSame(
            byStream<std::string>(
                text, [](std::istream& in, std::string& v) -> std::istream& { return in >> std::quoted(v); }),
            byReader<std::string>(text, [](TextReader& in, std::string& v) { return in.quoted(v); }), text);
    }
}

// Plain decimals of up to twenty digits, signed or not, the point anywhere, some with leading zeros:
// those of at most 2^53 in digits take a shorter way to their double, which must be the stream's.
TEST(TextReader, DecimalsOfEveryLengthReadToTheBit) {
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    auto next = [&state](std::uint64_t below) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (state >> 33) % below;
    };
    for (int i = 0; i < 20000; ++i) {
        std::string text = next(3) == 0 ? "-" : (next(8) == 0 ? "+" : "");
        const auto digits = 1 + next(20);
        const auto point = next(digits + 2); // digits + 1: no point
        const auto zeros = next(4) == 0 ? next(digits) : 0;
        for (std::uint64_t d = 0; d < digits; ++d) {
            text += d == point ? "." : "";
            text += static_cast<char>('0' + (d < zeros ? 0 : next(10)));
        }
        text += point == digits ? "." : "";
        expectSame(
            byStream<double>(text, [](std::istream& in, double& v) -> std::istream& { return in >> v; }),
            byReader<double>(text, [](TextReader& in, double& v) { return in.number(v); }), text);
    }
}

TEST(TextReader, LinesAndAFailureThatSticks) {
    const std::string text = "ZARNMAP 2 rest of the line\r\nname line\r\n7 x";
    std::istringstream stream(text);
    TextReader reader(text);
    std::string word;
    std::int32_t version = 0;
    std::string name;
    stream >> word >> version;
    stream.ignore(1000, '\n');
    std::getline(stream, name);
    EXPECT_TRUE(reader.word(word) && reader.integer(version));
    reader.skipLine(1000);
    std::string line;
    EXPECT_TRUE(reader.line(line));
    EXPECT_EQ(line, name);
    double seven = 0.0;
    EXPECT_TRUE(reader.number(seven));
    EXPECT_EQ(seven, 7.0);
    EXPECT_FALSE(reader.number(seven)); // "x"
    EXPECT_FALSE(reader.word(line));    // the stream stays failed too
    EXPECT_FALSE(reader.line(line));
}

// A reader of a stream holds a piece of it at a time. Whatever byte the pieces end on, every read,
// the count of what is left and the words after it come out as from the same text held whole.
TEST(TextReader, PiecesOfAStreamReadAsTheWholeText) {
    using Read = std::string (*)(TextReader&);
    const Read reads[] = {
        [](TextReader& in) {
            double v = 0.0;
            return in.number(v) ? bitsOf(v) : "-";
        },
        [](TextReader& in) {
            std::int32_t v = 0;
            return in.integer(v) ? bitsOf(v) : "-";
        },
        [](TextReader& in) {
            std::uint64_t v = 0;
            return in.count(v) ? bitsOf(v) : "-";
        },
        [](TextReader& in) {
            bool v = false;
            return in.flag(v) ? bitsOf(v) : "-";
        },
        [](TextReader& in) {
            std::string v;
            return in.quoted(v) ? v + std::to_string(in.peek()) : "-";
        },
        [](TextReader& in) {
            std::string v;
            return in.line(v) ? v + '/' + (in.line(v) ? v : "-") : "-";
        },
        [](TextReader& in) {
            in.skipLine(3);
            std::string v;
            return in.word(v) ? v : "-";
        },
    };
    auto transcript = [](TextReader& in, Read read) {
        std::string out = read(in) + '|' + std::to_string(in.remaining());
        for (std::string word; in.word(word);)
            out += '|' + word;
        return out + (in.atEnd() ? "|end" : "|more");
    };
    std::vector<std::string> cases(std::begin(texts), std::end(texts));
    cases.insert(cases.end(),
                 {"ZARNMAP 2 rest\r\nname line\n-8 0.5", "\"a \\\" b\" c", "  \n  x y\n", "abcdef\n",
                  "1234567.25e-3 -77\t\"q\\\\\"x 0 1", std::string(300, '7') + " 2"});
    for (const std::string& text : cases) {
        for (const Read read : reads) {
            TextReader whole(text);
            const std::string expected = transcript(whole, read);
            for (const std::size_t piece : {1, 2, 3, 5, 64}) {
                std::istringstream stream(text);
                TextReader pieces(stream, text.size(), piece);
                EXPECT_EQ(transcript(pieces, read), expected) << '"' << text << "\" in pieces of " << piece;
            }
        }
    }
}

} // namespace
} // namespace zarn
