#pragma once

// The catalogue generator: the climate profile of every cell from the Earth model's grid, and the
// species from the readable table in Species.cpp, written in the game's catalogue format and read back
// with the game's own reader before the file is given its name.

#include <string>
#include <vector>

#include "ecology/Records.hpp"

namespace zarn {
class EarthModel;
}

namespace zarn::ecogen {

// The profile of every 5-degree cell, in the grid's order.
std::vector<EcoProfile> climateProfiles(const EarthModel& model);

// The species of both groups.
std::vector<BioAssembly> livingSpecies();  // group A
std::vector<BioAssembly> deadStructures(); // group B

// One species at the limits of a record: 288 boxes and 1,728 bonds (for benchmarks and tests).
BioAssembly limitSpecies();

// The catalogue file's text. Numbers are written in their shortest exact form, so that the reader
// gets back the very same values.
std::string catalogueText(const std::vector<EcoProfile>& profiles, const std::vector<BioAssembly>& speciesA,
                          const std::vector<BioAssembly>& speciesB);

} // namespace zarn::ecogen
