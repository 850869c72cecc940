#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/DeviceErrors.hpp"
#include "render/ShaderProgram.hpp"

namespace zarn {
namespace {

// Constructs of HLSL that the compiler under Wine refuses, found in a shader text: the ?: operator,
// calls of anything but the intrinsics and constructors it knows (so no functions of our own), and
// functions defined besides the entry points.
std::vector<std::string> lint(const std::string& source, const std::set<std::string>& entryPoints) {
    static const std::set<std::string> callable{
        "if",    "float",    "float2", "float3", "float4", "uint",      "asuint", "abs", "min",     "max",
        "clamp", "saturate", "lerp",   "dot",    "length", "normalize", "floor",  "pow", "register"};
    std::vector<std::string> problems;
    std::string text;
    // Comments say what they like.
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (source.compare(i, 2, "//") == 0) {
            i = source.find('\n', i);
            if (i == std::string::npos) {
                break;
            }
        }
        text += source[i];
    }
    if (text.find('?') != std::string::npos) {
        problems.push_back("?: operator");
    }
    auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; };
    std::string previous; // the token before the current one: a word, or a single character
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            ++i;
            continue;
        }
        if (!isWord(c) || std::isdigit(static_cast<unsigned char>(c)) != 0) {
            // Numbers (with their points and exponents) and punctuation.
            std::size_t end = i + 1;
            if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
                while (end < text.size() && (isWord(text[end]) || text[end] == '.')) {
                    ++end;
                }
            }
            previous = text.substr(i, end - i);
            i = end;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && isWord(text[end])) {
            ++end;
        }
        const std::string word = text.substr(i, end - i);
        std::size_t next = end;
        while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next])) != 0) {
            ++next;
        }
        if (next < text.size() && text[next] == '(') {
            const bool method = previous == ".";
            const bool definition = !previous.empty() && isWord(previous[0]) &&
                                    std::isdigit(static_cast<unsigned char>(previous[0])) == 0 &&
                                    previous != "return";
            if (method) {
                if (word != "Sample") {
                    problems.push_back("method " + word);
                }
            } else if (definition) {
                if (entryPoints.count(word) == 0) {
                    problems.push_back("function " + word);
                }
            } else if (callable.count(word) == 0) {
                problems.push_back("call " + word);
            }
        }
        previous = word;
        i = end;
    }
    return problems;
}

// The logarithm of the logarithmic depth, computed the way the shader text spells it out.
float shaderLog2(float z) {
    const float x = 1.0f + std::max(0.0f, z);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    float e = static_cast<float>(bits >> 23) - 127.0f;
    float m = 1.0f + static_cast<float>(bits & 8388607u) / 8388608.0f;
    if (m > 1.4142135f) {
        m = m * 0.5f;
        e = e + 1.0f;
    }
    const float t = (m - 1.0f) / (m + 1.0f);
    const float t2 = t * t;
    const float series =
        t * (1.0f + t2 * (0.33333333f + t2 * (0.2f + t2 * (0.14285714f + t2 * 0.11111111f))));
    return e + 2.8853900817779268f * series;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

const std::set<std::string> entryPoints{"VS", "PS", "EarthPS", "HUDVS", "HUDPS"};

TEST(ShaderProgramTest, StaysWithinWhatEveryCompilerAccepts) {
    const std::string text = shaderProgram;
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.front(), '\n');
    EXPECT_EQ(lint(text, entryPoints), std::vector<std::string>{});
    for (const std::string& entry : entryPoints) {
        EXPECT_EQ(occurrences(text, " " + entry + "("), 1u) << entry;
    }
    EXPECT_EQ(occurrences(text, "cbuffer Camera : register(b0)"), 1u);
    EXPECT_EQ(occurrences(text, "nointerpolation float indoor"), 1u);

    // The lint finds what it is there for.
    const std::vector<std::string> refused{"?: operator", "function helper", "call log2", "call helper",
                                           "method Load"};
    EXPECT_EQ(lint("float helper(float a) { return a; }\n"
                   "float4 PS(float4 p : SV_Position) : SV_Target {\n"
                   "    float d = p.z > 0.5 ? log2(p.z) : helper(p.w); // sqrt( in a comment is fine\n"
                   "    float4 c = hudTexture.Load(p.xy);\n"
                   "    return float4(d, d, d, 1.0); }\n",
                   entryPoints),
              refused);
}

TEST(ShaderProgramTest, InlineLogarithmMatchesLog2OverTheDepthRange) {
    const std::string text = shaderProgram;
    // Both copies in the text are the series checked here.
    EXPECT_EQ(occurrences(text, "float series = t * (1.0 + t2 * (0.33333333 + t2 * (0.2 + t2 * (0.14285714 + "
                                "t2 * 0.11111111))));"),
              2u);
    EXPECT_EQ(occurrences(text, "2.8853900817779268 * series"), 2u);
    EXPECT_EQ(occurrences(text, "if (m > 1.4142135)"), 2u);
    EXPECT_EQ(occurrences(text, "/ 25.575424759098897"), 2u);

    double worst = 0.0;
    float previous = -1.0f;
    for (double z = 1e-7; z < 5e7; z *= 1.0007) {
        const float depth = static_cast<float>(z);
        const float x = 1.0f + depth;
        const double exact = std::log2(static_cast<double>(x));
        const float inlined = shaderLog2(depth);
        if (exact > 0.0) {
            worst = std::max(worst, std::abs(inlined - exact) / exact);
        } else {
            EXPECT_EQ(inlined, 0.0f) << z;
        }
        EXPECT_GE(inlined, previous) << z; // depth never runs backwards
        previous = inlined;
    }
    EXPECT_LT(worst, 3e-7);
    EXPECT_EQ(shaderLog2(0.0f), 0.0f);
    EXPECT_EQ(shaderLog2(-5.0f), 0.0f); // behind the eye
    EXPECT_NEAR(shaderLog2(5e7f - 1.0f) / 25.575424759098897, 1.0, 1e-6);
}

TEST(DeviceErrorsTest, MessagesNameTheStepAndTheResult) {
    EXPECT_EQ(failureMessage(-2147024809, "HUD sampler"), "HUD sampler failed (0x80070057)");
    EXPECT_EQ(failureMessage(-1, "present"), "present failed (0xffffffff)");
    EXPECT_EQ(failureMessage(0x10, "x"), "x failed (0x10)");
    EXPECT_EQ(failureMessage(0, "x"), "x failed (0x0)");

    // The compiler's blob: all of its bytes, without a trailing zero.
    const char blob[] = "error X3000: syntax error\0";
    EXPECT_EQ(compilerMessage(blob, sizeof blob - 1), "error X3000: syntax error");
    EXPECT_EQ(compilerMessage(blob, 12), "error X3000:");
    const char inner[] = {'a', '\0', 'b'};
    EXPECT_EQ(compilerMessage(inner, 3), std::string("a\0b", 3));
    EXPECT_EQ(compilerMessage(blob, 0), "Shader compilation failed");
    EXPECT_EQ(compilerMessage(nullptr, 0), "Shader compilation failed");
}

} // namespace
} // namespace zarn
