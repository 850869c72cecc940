#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ecology/BoxFrame.hpp"
#include "ecology/Catalogue.hpp"
#include "ecology/Ecology.hpp"
#include "planet/EarthModel.hpp"
#include "support/AddressSpace.hpp"
#include "support/Files.hpp"

namespace zarn {
namespace {

using test::utf8;
using test::writeText;

std::filesystem::path scratchFolder() {
    return test::scratchFolder("zarn-catalogue-tests");
}

std::string refusal(int check, const std::filesystem::path& path) {
    return "生态图鉴缺失或格式无效（校验 " + std::to_string(check) + "）：" + utf8(path);
}

// ---- small catalogues in the file's own words ----

// Box records: ability, position, half extents, axis, mass budget, orientation, power, strength per
// m², face mask. Two cubes side by side along x, touching face to face.
const std::string connection = "2  0 0 0  0.5 0.5 0.5  0 0 1  1  1 0 0 0  6 800 63";
const std::string thrust = "0  1 0 0  0.5 0.5 0.5  1 0 0  1  1 0 0 0  6 800 63";
// The bond between them: indices, strength (the limit is 800 N/m² times 1 m²), anchor, rotation.
const std::string bond = "0 1 800  1 0 0  1 0 0 0";
const std::string unitQuarterY = "0.70710678118654757 0 0.70710678118654757 0";

std::string record(const std::vector<std::string>& boxes, const std::vector<std::string>& bonds,
                   const std::string& names = "pair 1 0") {
    std::string text =
        std::to_string(boxes.size()) + " " + std::to_string(bonds.size()) + "\n" + names + "\n";
    for (const std::string& line : boxes)
        text += line + "\n";
    for (const std::string& line : bonds)
        text += line + "\n";
    return text;
}

std::string pair(const std::string& first = connection, const std::string& second = thrust,
                 const std::string& link = bond) {
    return record({first, second}, {link});
}

// A whole catalogue: the header, 2592 profiles (the first as given, the rest the defaults) and the
// records of both groups.
std::string catalogueText(const std::vector<std::string>& groupA, const std::vector<std::string>& groupB = {},
                          const std::string& firstProfile = "1 3 1",
                          const std::string& head = "ZARN_ECOLOGY 4 2592") {
    std::string text =
        head + " " + std::to_string(groupA.size()) + " " + std::to_string(groupB.size()) + "\n";
    text += firstProfile + "\n";
    for (std::size_t k = 1; k < Ecology::profileCount; ++k)
        text += "1 3 1\n";
    for (const std::string& r : groupA)
        text += r;
    for (const std::string& r : groupB)
        text += r;
    return text;
}

struct Refused {
    const char* what;
    std::string text;
    int check;
};

TEST(CatalogueTest, EachFailedCheckGivesItsNumberAndLeavesTheEcologyAsItWas) {
    const std::string name64(64, 'n');
    const std::string deadConnection = "2  0 0 0  0.5 0.5 0.5  0 0 1  0  1 0 0 0  6 800 63";
    const std::string deadThrust = "0  1 0 0  0.5 0.5 0.5  1 0 0  1  1 0 0 0  6 800 63";
    const std::string overQuaternion = "0.7071138522190044 0.7071138522190044 0 0"; // |q|² = 1.00002
    const Refused refusals[] = {
        {"a magic word of 13 characters", catalogueText({}, {}, "1 3 1", "ZARN_ECOLOGYY 4 2592"), 61},
        {"a byte-order mark glued to the magic",
         catalogueText({}, {}, "1 3 1", "\xEF\xBB\xBFZARN_ECOLOGY 4 2592"), 61},
        {"version 5", catalogueText({}, {}, "1 3 1", "ZARN_ECOLOGY 5 2592"), 61},
        {"version 4.0", catalogueText({}, {}, "1 3 1", "ZARN_ECOLOGY 4.0 2592"), 61},
        {"2591 profiles", catalogueText({}, {}, "1 3 1", "ZARN_ECOLOGY 4 2591"), 61},
        {"4097 species in group A", "ZARN_ECOLOGY 4 2592 4097 0", 61},
        {"65 species in group B", "ZARN_ECOLOGY 4 2592 0 65", 61},
        {"abundance 8.0000001", catalogueText({}, {}, "8.0000001 3 1"), 71},
        {"a size of nan", catalogueText({}, {}, "1 nan 1"), 71},
        {"an assembly rate of inf", catalogueText({}, {}, "1 3 inf"), 71},
        {"289 boxes", catalogueText({"289 0\n"}), 77},
        {"1729 bonds on 288 boxes", catalogueText({"288 1729\n"}), 77},
        {"no box", catalogueText({"0 0\n"}), 77},
        {"a name of 65 bytes", catalogueText({record({connection}, {}, name64 + "x 1 0")}), 81},
        {"a name of a million bytes",
         catalogueText({record({connection}, {}, std::string(1 << 20, 'n') + " 1 0")}), 81},
        {"a group A species counted 0", catalogueText({record({connection}, {}, "pair 0 0")}), 81},
        {"4097 ancestors", catalogueText({record({connection}, {}, "pair 1 4097")}), 81},
        {"an ancestor of 65 bytes", catalogueText({record({connection}, {}, "pair 1 1 " + name64 + "x")}),
         85},
        {"ability 3", catalogueText({pair("3" + connection.substr(1))}), 98},
        {"ability 1.5, an integer field read whole", catalogueText({pair("1.5" + connection.substr(1))}), 98},
        {"an axis 1.011 long",
         catalogueText(
             {pair(connection, "0  1 0 0  0.5 0.5 0.5  0.714885 0.714885 0  1  1 0 0 0  6 800 63")}),
         98},
        {"face mask 0", catalogueText({pair(connection, thrust.substr(0, thrust.size() - 2) + "0")}), 98},
        {"face mask 64", catalogueText({pair(connection, thrust.substr(0, thrust.size() - 2) + "64")}), 98},
        {"a position of nan",
         catalogueText({pair(connection, "0  nan 0 0  0.5 0.5 0.5  1 0 0  1  1 0 0 0  6 800 63")}), 98},
        {"|q|² = 1.00002",
         catalogueText(
             {pair(connection, "0  1 0 0  0.5 0.5 0.5  1 0 0  1  " + overQuaternion + "  6 800 63")}),
         103},
        {"a group B box with a budget", catalogueText({}, {pair(deadConnection, deadThrust)}), 105},
        {"an overlap of 2 mm",
         catalogueText({pair(connection, "0  0.998 0 0  0.5 0.5 0.5  1 0 0  1  1 0 0 0  6 800 63")}), 116},
        {"a bond to box 2 of 2", catalogueText({pair(connection, thrust, "0 2 800  1 0 0  1 0 0 0")}), 126},
        {"a bond of a box to itself", catalogueText({pair(connection, thrust, "1 1 800  1 0 0  1 0 0 0")}),
         126},
        {"strength 0", catalogueText({pair(connection, thrust, "0 1 0  1 0 0  1 0 0 0")}), 126},
        {"an anchor beyond 128 m", catalogueText({pair(connection, thrust, "0 1 800  129 0 0  1 0 0 0")}),
         130},
        {"a rotation of |q|² = 1.00002",
         catalogueText({pair(connection, thrust, "0 1 800  1 0 0  " + overQuaternion)}), 133},
        {"(1, 0) and then (0, 1)",
         catalogueText({record({connection, thrust}, {"1 0 800  -1 0 0  1 0 0 0", bond})}), 140},
        {"an anchor 0.37 m off", catalogueText({pair(connection, thrust, "0 1 800  1.37 0 0  1 0 0 0")}),
         152},
        {"a bond between two Thrust boxes", catalogueText({pair("0" + connection.substr(1))}), 164},
        {"a strength above the limit's 5 %",
         catalogueText({pair(connection, thrust, "0 1 840.002  1 0 0  1 0 0 0")}), 164},
        {"the touching face not among the bonding faces",
         catalogueText({pair(connection.substr(0, connection.size() - 2) + "62")}), 164},
        {"one token after the last record", catalogueText({pair()}) + "x", 174},
        {"a Ctrl-Z after the last record", catalogueText({pair()}) + "\x1a", 174},
    };

    const std::filesystem::path folder = scratchFolder();
    Ecology ecology;
    std::string error;
    ASSERT_TRUE(ecology.load(ZARN_ECOSYSTEM_CATALOGUE, error)) << error;
    const Ecology before = ecology;
    const std::filesystem::path missing = folder / "missing.zarneco";
    EXPECT_FALSE(ecology.load(missing, error));
    EXPECT_EQ(error, refusal(61, missing));
    for (const Refused& r : refusals) {
        const std::filesystem::path path = writeText(folder / "refused.zarneco", r.text);
        error = "unchanged";
        EXPECT_FALSE(ecology.load(path, error)) << r.what;
        EXPECT_EQ(error, refusal(r.check, path)) << r.what;
        EXPECT_TRUE(ecology.profiles == before.profiles && ecology.speciesA == before.speciesA &&
                    ecology.speciesB == before.speciesB)
            << r.what;
    }
}

TEST(CatalogueTest, TheEdgesOfEveryRangeLoad) {
    const std::string name64(64, 'n');
    const std::string deadConnection = "2  0 0 0  0.5 0.5 0.5  0 0 1  0  1 0 0 0  6 800 63";
    const std::string deadThrust = "0  1 0 0  0.5 0.5 0.5  1 0 0  0  1 0 0 0  6 800 63";
    const std::vector<std::pair<const char*, std::string>> accepted{
        {"no species", catalogueText({})},
        {"profiles at 8, 12 and 4", catalogueText({}, {}, "8 12 4")},
        {"a name of 64 bytes, a group B species counted 0, an axis 1.0099 long",
         catalogueText(
             {record({connection, "0  1 0 0  0.5 0.5 0.5  0.714107 0.714107 0  1  1 0 0 0  6 800 63"}, {bond},
                     name64 + " 1 1 " + name64)},
             {record({deadConnection, deadThrust}, {bond}, "dead 0 0")})},
        {"a strength at the limit's 5 %",
         catalogueText({pair(connection, thrust, "0 1 840  1 0 0  1 0 0 0")})},
        {"Windows line ends, plus signs and a number too small for a double",
         "ZARN_ECOLOGY\r\n+4 2592 1 0\r\n" +
             catalogueText({pair("+2  0 0 0  0.5 0.5 0.5  1e-400 0 +1  1  1 0 0 0  6 800 63")})
                 .substr(std::string("ZARN_ECOLOGY 4 2592 1 0\n").size())},
    };
    const std::filesystem::path folder = scratchFolder();
    for (const auto& [what, text] : accepted) {
        Ecology ecology;
        std::string error = "unchanged";
        EXPECT_TRUE(ecology.load(writeText(folder / "accepted.zarneco", text), error))
            << what << ": " << error;
        EXPECT_EQ(error, "unchanged") << what;
    }

    // The most one record may hold.
    Ecology limits;
    std::string error;
    ASSERT_TRUE(limits.load(ZARN_ECOLOGY_LIMITS, error)) << error;
    ASSERT_EQ(limits.speciesA.size(), 1u);
    EXPECT_EQ(limits.speciesA[0].boxes.size(), 288u);
    EXPECT_EQ(limits.speciesA[0].bonds.size(), 1728u);
}

// Loads the catalogue in a process of its own with this much address space to spare; exits with 0
// when it was refused with check 61 and left the ecology as it was.
void refuseWithin(Ecology& ecology, std::uint64_t spare, const std::filesystem::path& path) {
    const Ecology before = ecology;
    if (!test::limitAddressSpace(spare))
        std::_Exit(2);
    std::string error;
    const bool loaded = ecology.load(path, error);
    std::fprintf(stderr, "loaded %d: %s\n", loaded ? 1 : 0, error.c_str());
    std::_Exit(!loaded && error == refusal(61, path) && ecology.profiles == before.profiles &&
                       ecology.speciesA == before.speciesA && ecology.speciesB == before.speciesB
                   ? 0
                   : 1);
}

// A catalogue may fill 16 MiB and no byte more. Filled with the records that need the most memory
// for their bytes (species of 4096 one-letter ancestors), it asks for some 270 MB; where that is not
// to be had, the reader refuses the file as one it cannot read and the ecology stays as it was.
TEST(CatalogueTest, AFileOfTheLargestSizeLoadsAndTheMemoryItNeedsIsAskedOfTheMachine) {
    const std::filesystem::path folder = scratchFolder();
    std::string padded = catalogueText({pair()});
    padded.resize(catalogue::maxFileBytes, ' ');
    Ecology ecology;
    std::string error;
    EXPECT_TRUE(ecology.load(writeText(folder / "largest.zarneco", padded), error)) << error;
    const std::filesystem::path larger = writeText(folder / "larger.zarneco", padded + " ");
    EXPECT_FALSE(ecology.load(larger, error));
    EXPECT_EQ(error, refusal(61, larger));

    if (!test::canLimitAddressSpace)
        GTEST_SKIP() << test::addressSpaceSkip;
    std::string ancestors;
    for (std::uint64_t k = 0; k < catalogue::maxAncestors; ++k)
        ancestors += " a";
    const std::string heavy =
        record({connection}, {}, "pair 1 " + std::to_string(catalogue::maxAncestors) + ancestors);
    std::vector<std::string> records((catalogue::maxFileBytes - catalogueText({}).size()) / heavy.size(),
                                     heavy);
    const std::filesystem::path full = writeText(folder / "full.zarneco", catalogueText(records));
    ASSERT_LE(std::filesystem::file_size(full), catalogue::maxFileBytes);
    EXPECT_EXIT(refuseWithin(ecology, 64 << 20, full), ::testing::ExitedWithCode(0), "");
}

TEST(CatalogueTest, ABondGivenFromItsHigherBoxIsKeptFromItsLowerBox) {
    // Box 3 stands east of box 1, turned a quarter about y; the bond is given from box 3's frame, in
    // which box 1 lies along -z, turned back by the conjugate.
    const std::string far = "1  0 5 0  0.5 0.5 0.5  1 0 0  1  1 0 0 0  6 800 63";
    const std::string turned = "0  1 0 0  0.5 0.5 0.5  1 0 0  1  " + unitQuarterY + "  6 800 63";
    const std::string fromThree = "3 1 800  0 0 -1  0.70710678118654757 0 -0.70710678118654757 0";
    Ecology ecology;
    std::string error;
    const std::filesystem::path path = writeText(
        scratchFolder() / "turned.zarneco",
        catalogueText({record(
            {far, connection, "1  0 10 0  0.5 0.5 0.5  1 0 0  1  1 0 0 0  6 800 63", turned}, {fromThree})}));
    ASSERT_TRUE(ecology.load(path, error)) << error;
    const BioAssembly& species = ecology.speciesA.at(0);
    ASSERT_EQ(species.bonds.size(), 1u);
    EXPECT_EQ(species.bonds[0], (std::pair<std::uint64_t, std::uint64_t>{1, 3}));
    EXPECT_EQ(species.rotations[0], (Quaternion{0.70710678118654757, 0.0, 0.70710678118654757, 0.0}));
    EXPECT_NEAR(species.anchors[0].x, 1.0, 1e-12);
    EXPECT_NEAR(species.anchors[0].y, 0.0, 1e-12);
    EXPECT_NEAR(species.anchors[0].z, 0.0, 1e-12);
    EXPECT_EQ(species.strengths[0], 800.0);
}

TEST(CatalogueTest, PathsAreUtf8InTheMessageAndOnEveryPlatform) {
    const std::filesystem::path folder = scratchFolder() / test::pathFromUtf8("生态 图鉴");
    std::filesystem::create_directories(folder);
    Ecology ecology;
    std::string error;
    EXPECT_TRUE(
        ecology.load(writeText(folder / test::pathFromUtf8("地球.zarneco"), catalogueText({pair()})), error))
        << error;
    EXPECT_EQ(ecology.speciesA.size(), 1u);
    EXPECT_FALSE(ecology.load(folder / test::pathFromUtf8("缺失.zarneco"), error));
    EXPECT_EQ(error, refusal(61, folder / test::pathFromUtf8("缺失.zarneco")));
#ifdef _WIN32
    // A name with a lone surrogate has no UTF-8 form: it is shown with U+FFFD.
    const std::filesystem::path lone = folder / std::wstring(L"a\xD800.zarneco");
    EXPECT_FALSE(ecology.load(lone, error));
    EXPECT_EQ(error, refusal(61, folder) + "\\a\xEF\xBF\xBD.zarneco");
#endif
}

TEST(CatalogueTest, TheAuthoredCatalogueLoadsWithItsSpeciesAndTheDistrictsCell) {
    Ecology ecology;
    std::string error;
    ASSERT_TRUE(ecology.load(ZARN_ECOSYSTEM_CATALOGUE, error)) << error;
    const EarthModel model;
    for (std::size_t cell = 0; cell < Ecology::profileCount; ++cell) {
        const Biome biome = model.grid()[cell].biome;
        if (biome == Biome::Ocean || biome == Biome::Ice) {
            EXPECT_EQ(ecology.profiles[cell], (EcoProfile{0.0, 0.0, 0.0})) << cell;
        }
    }
    // Every patch of the district gets a species (the chance, 0.4 times the rate, reaches 1), and most a
    // lying Slab (0.16 times the abundance).
    for (const Vec3 corner : {Vec3{-896.0, 0.0, -768.0}, Vec3{768.0, 0.0, 896.0}}) {
        EXPECT_GE(0.4 * ecology.profile(model, corner).assemblyRate, 1.0);
        EXPECT_GE(0.16 * ecology.profile(model, corner).abundance, 0.6);
    }

    std::vector<std::string> names;
    for (const BioAssembly& species : ecology.speciesA)
        names.push_back(species.name);
    EXPECT_EQ(names, (std::vector<std::string>{"wide-grazer", "forager-chain", "ring-of-four",
                                               "three-armed-star", "turned-chain", "budding-pair"}));
    EXPECT_EQ(ecology.speciesA[4].boxes[1].faceMask, 48u); // the turned chain bonds on masked faces
    // A Connection box bonds on no face but those its own bonds use, and touches nothing else there.
    for (const BioAssembly& species : ecology.speciesA) {
        for (std::size_t i = 0; i < species.boxes.size(); ++i) {
            const BioTemplate& box = species.boxes[i];
            if (box.ability != Ability::Connection)
                continue;
            Organism end;
            end.center = box.position;
            end.halfExtents = box.halfExtents;
            end.orientation = box.orientation;
            std::uint32_t used = 0;
            for (std::size_t j = 0; j < species.boxes.size(); ++j) {
                const std::pair<std::uint64_t, std::uint64_t> pair{std::min(i, j), std::max(i, j)};
                const bool bonded =
                    std::find(species.bonds.begin(), species.bonds.end(), pair) != species.bonds.end();
                for (std::uint32_t face = 0; face < 6 && j != i; ++face) {
                    if (Ecology::contactArea(end, templateBody(species.boxes[j]), 1u << face) <= 0.0)
                        continue;
                    if (bonded)
                        used |= 1u << face;
                    else
                        EXPECT_FALSE(box.faceMask >> face & 1u)
                            << species.name << ": " << i << " touches " << j;
                }
            }
            EXPECT_EQ(box.faceMask, used) << species.name << " " << i;
        }
    }
    ASSERT_EQ(ecology.speciesB.size(), 2u);
    for (const BioAssembly& species : ecology.speciesB)
        EXPECT_FALSE(species.bonds.empty()) << species.name;
}

} // namespace
} // namespace zarn
