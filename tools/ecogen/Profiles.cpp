#include <algorithm>
#include <cmath>

#include "Ecogen.hpp"
#include "ecology/Catalogue.hpp"
#include "ecology/Ecology.hpp"
#include "planet/EarthModel.hpp"

namespace zarn::ecogen {

namespace {

// Yearly precipitation per unit of abundance: the median land cell (about 700) gives Slabs to 28 % of
// its patches, the wettest (about 2,500) to nearly all.
constexpr double precipitationPerAbundance = 400.0;
// Carrying capacity per unit of size: the median land cell (about 4,300) gets the default size, 3.
constexpr double capacityPerSize = 1500.0;
// The chance of a species on a patch is 0.4 × assemblyRate: this makes it the cell's productivity.
constexpr double assemblyRatePerProductivity = 2.5;

// Three decimals keep the file readable; the profile is then exactly what the file says.
double rounded(double value, double highest) {
    return std::clamp(std::round(value * 1000.0) / 1000.0, 0.0, highest);
}

} // namespace

std::vector<EcoProfile> climateProfiles(const EarthModel& model) {
    std::vector<EcoProfile> profiles;
    for (const EarthRegion& cell : model.grid()) {
        // Nothing lives on the open sea or the ice.
        EcoProfile profile{0.0, 0.0, 0.0};
        if (cell.biome != Biome::Ocean && cell.biome != Biome::Ice) {
            profile.abundance =
                rounded(cell.precipitation / precipitationPerAbundance, catalogue::maxAbundance);
            profile.size = rounded(cell.capacity / capacityPerSize, catalogue::maxSize);
            profile.assemblyRate =
                rounded(cell.productivity * assemblyRatePerProductivity, catalogue::maxAssemblyRate);
        }
        profiles.push_back(profile);
    }
    // The district stands at the world's origin: at the top of the range every patch of its cell gets
    // a species (0.4 × 4 > 1), and nearly two in three a lying Slab (0.16 × 4), which sows Cubes near
    // block life by day. Copies of block life fall about the player, and a Cube a hundred metres off is
    // out of a block's reach: crawling there costs more than it holds.
    const Vec3 site = EarthModel::coordinates({});
    EcoProfile& district = profiles[Ecology::profileIndex(site.x, site.y)];
    district.assemblyRate = catalogue::maxAssemblyRate;
    district.abundance = 4.0;
    return profiles;
}

} // namespace zarn::ecogen
