// The ecosystem catalogue reader, through a file as the game reads it. A refused catalogue gives the
// reader's message with one of its check numbers and leaves the ecology as it was; a catalogue that
// loads, written out again by the catalogue generator's writer, loads back to the same ecology.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Ecogen.hpp"
#include "FuzzSupport.hpp"
#include "ecology/Ecology.hpp"

using namespace zarn;

namespace {

const std::set<std::string> checks{"61",  "71",  "77",  "81",  "85",  "98",  "103", "105",
                                   "116", "126", "130", "133", "140", "152", "164", "174"};
const std::string messageStart = "生态图鉴缺失或格式无效（校验 ";
const std::string messageEnd = "）：";

bool sameCatalogue(const Ecology& a, const Ecology& b) {
    return a.profiles == b.profiles && a.speciesA == b.speciesA && a.speciesB == b.speciesB;
}

// The check number of a refusal's message, or an empty text when the message is not the reader's.
std::string checkOf(const std::string& error, const std::string& path) {
    const std::string end = messageEnd + path;
    if (error.size() < messageStart.size() + end.size() ||
        error.compare(0, messageStart.size(), messageStart) != 0 ||
        error.compare(error.size() - end.size(), end.size(), end) != 0)
        return {};
    return error.substr(messageStart.size(), error.size() - messageStart.size() - end.size());
}

struct Fixture {
    Ecology before; // profiles of its own, so that a refused load that wrote any would show
    std::filesystem::path file = fuzz::scratchFile("catalogue.zarneco");
    std::filesystem::path again = fuzz::scratchFile("again.zarneco");

    Fixture() {
        fuzz::writeFile(file, ecogen::catalogueText(
                                  std::vector<EcoProfile>(Ecology::profileCount, {2.0, 4.0, 0.5}), {}, {}));
        std::string error;
        fuzz::check(before.load(file, error), "the fixture's catalogue loads", error);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    fuzz::writeFile(fixture.file, {reinterpret_cast<const char*>(data), size});
    Ecology ecology = fixture.before;
    std::string error = "unchanged";
    if (!ecology.load(fixture.file, error)) {
        fuzz::check(checks.count(checkOf(error, fixture.file.string())) == 1,
                    "a refused catalogue gives the reader's message with a check number:", error);
        fuzz::check(sameCatalogue(ecology, fixture.before),
                    "a refused catalogue leaves the ecology as it was");
        return 0;
    }
    fuzz::check(error == "unchanged", "a catalogue that loads leaves the message alone");
    fuzz::writeFile(fixture.again,
                    ecogen::catalogueText(ecology.profiles, ecology.speciesA, ecology.speciesB));
    Ecology reread;
    fuzz::check(reread.load(fixture.again, error), "what loads, written out again, loads:", error);
    fuzz::check(sameCatalogue(reread, ecology), "and gives back the same catalogue");
    return 0;
}
