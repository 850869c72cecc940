// zarn_ecogen: writes the ecosystem catalogue of the Earth world.
//
//   zarn_ecogen [--limits] OUTPUT
//
// OUTPUT is the catalogue to write (its folder is created): the climate profile of every cell from
// the Earth model's grid, and the species of Species.cpp. --limits writes, in place of the species,
// one species at the limits of a record (288 boxes, 1,728 bonds), for benchmarks and tests. The text
// is read back with the game's own reader before it takes its name, and must give back exactly what
// was written: a catalogue the game would refuse fails the build.

#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Ecogen.hpp"
#include "ecology/Ecology.hpp"
#include "planet/EarthModel.hpp"

using namespace zarn;

namespace {

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// The game's reader must take the file and give back what it was meant to hold.
void checkWithTheGame(const std::filesystem::path& path, const Ecology& meant) {
    Ecology read;
    std::string error;
    if (!read.load(path, error)) {
        throw std::runtime_error("the game refuses the catalogue: " + error);
    }
    if (read.profiles != meant.profiles || read.speciesA != meant.speciesA ||
        read.speciesB != meant.speciesB) {
        throw std::runtime_error("the game reads the catalogue otherwise than it was written");
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool limits = argc == 3 && std::strcmp(argv[1], "--limits") == 0;
    if (argc != 2 && !limits) {
        std::cerr << "usage: zarn_ecogen [--limits] OUTPUT\n";
        return 2;
    }
    const std::filesystem::path output = argv[argc - 1];
    const std::filesystem::path scratch = output.string() + ".tmp";
    try {
        Ecology catalogue;
        catalogue.profiles = ecogen::climateProfiles(EarthModel{});
        if (limits) {
            catalogue.speciesA = {ecogen::limitSpecies()};
        } else {
            catalogue.speciesA = ecogen::livingSpecies();
            catalogue.speciesB = ecogen::deadStructures();
        }
        if (output.has_parent_path()) {
            std::filesystem::create_directories(output.parent_path());
        }
        writeFile(scratch, ecogen::catalogueText(catalogue.profiles, catalogue.speciesA, catalogue.speciesB));
        checkWithTheGame(scratch, catalogue);
        std::filesystem::rename(scratch, output);
    } catch (const std::exception& e) {
        std::error_code ignored;
        std::filesystem::remove(scratch, ignored);
        std::cerr << "zarn_ecogen: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
