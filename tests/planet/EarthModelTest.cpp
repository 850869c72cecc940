#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <tuple>

#include <gtest/gtest.h>

#include "planet/EarthModel.hpp"
#include "planet/Noise.hpp"

// The golden values below come from a separate plain implementation of the planet written apart
// from this one; the two agree to the bit on the whole grid natively. Only the seasonality goes
// through sin, so doubles are compared to a relative 1e-12 and everything else exactly.

namespace zarn {
namespace {

void expectRegion(const EarthRegion& actual, const EarthRegion& expected) {
    const auto doubles = [](const EarthRegion& r) {
        return std::array<double, 14>{r.elevation,    r.stress,     r.temperature, r.precipitation,
                                      r.seasonality,  r.windEast,   r.windNorth,   r.flow,
                                      r.productivity, r.ruggedness, r.fertility,   r.fertileCapacity,
                                      r.capacity,     r.yieldScore};
    };
    const auto got = doubles(actual);
    const auto want = doubles(expected);
    for (std::size_t k = 0; k < got.size(); ++k) {
        EXPECT_NEAR(got[k], want[k], 1e-12 * std::max(1.0, std::abs(want[k]))) << "field " << k;
    }
    EXPECT_EQ(std::tie(actual.plate, actual.downhill, actual.biome, actual.terrainClass),
              std::tie(expected.plate, expected.downhill, expected.biome, expected.terrainClass));
}

const EarthModel& planet() {
    static const EarthModel model;
    return model;
}

TEST(EarthModelTest, GridCountsMatchTheReference) {
    const auto& grid = planet().grid();
    ASSERT_EQ(grid.size(), 2592u);
    std::array<int, 6> biomes{};
    std::array<int, 6> classes{};
    std::array<int, 11> plates{};
    int land = 0;
    int sinks = 0;
    for (const EarthRegion& cell : grid) {
        land += cell.elevation > 0.0 ? 1 : 0;
        sinks += cell.downhill == -1 ? 1 : 0;
        ++biomes.at(static_cast<std::size_t>(cell.biome));
        ++classes.at(static_cast<std::size_t>(cell.terrainClass));
        ++plates.at(static_cast<std::size_t>(cell.plate));
        // Sea has no capacity whatever its climate, and neither has ice.
        if (cell.elevation < 0.0 || cell.biome == Biome::Ice) {
            EXPECT_EQ(cell.capacity, 0.0);
        }
        EXPECT_GE(cell.precipitation, 30.0);
    }
    EXPECT_EQ(land, 947);
    EXPECT_EQ(sinks, 88);
    EXPECT_EQ(biomes, (std::array<int, 6>{1645, 548, 22, 119, 175, 83}));
    EXPECT_EQ(classes, (std::array<int, 6>{1645, 621, 258, 36, 7, 25}));
    EXPECT_EQ(plates, (std::array<int, 11>{689, 350, 156, 237, 385, 67, 140, 88, 20, 28, 432}));
}

TEST(EarthModelTest, RecordsMatchTheReference) {
    // Cells that pin the onshore search order (distance first, then east, north, west, south), the
    // moisture walk, the downhill choice and the drainage order.
    struct Golden {
        int index;
        EarthRegion region;
    };
    // clang-format off
    const Golden cells[] = {
        {1788, {194.2048612925807, 0.0, 6.637668401598225, 297.2556622222221, 10.745992166936478, -1.0, 0.0, 414.4790963038962, 0.18608030712336615, 0.1, 0.2690798493839827, 631.2432946442292, 2026.8021557548946, 493.7080074665764, 4, 1861, Biome::Grassland, 1}}, // the district's: sea 4 east, and 4 away another way
        {1549, {314.68024813295403, 0.0, 16.0545783871358, 571.4082237334283, 6.014115990085463, 1.0, 0.0, 378.75328308779865, 0.4895689265069235, 0.1, 0.26312554718129977, 1367.8292802745077, 4442.802506417987, 1269.222481732491, 3, 1550, Biome::Grassland, 1}}, // sea 5 west and 5 south
        {1138, {397.8282668360538, 0.0, 18.91411626556565, 1463.5029441987476, 4.328792278762058, 0.0, -1.0, 1236.5335490119598, 0.9695294578144783, 0.1, 0.40608892483532666, 3372.984725252948, 8568.41351218648, 4421.489351115691, 6, 1211, Biome::Forest, 1}}, // sea 1 north, west and south
        {2030, {113.43078572329819, 0.0, -6.437300107201441, 453.76043868287775, 15.867066805824702, 0.0, -1.0, 13695.677604868144, 0.18542332975995202, 0.1, 1.0, 0.0, 0.0, 0.0, 1, -1, Biome::Ice, 1}}, // sea 6 north, west and south
        {1479, {325.5478672003305, 0.0, 19.38393886319785, 608.4180926720425, 4.328792278762058, -1.0, -0.4, 375.81082631366826, 0.5284350881635926, 0.1, 0.2626351377189447, 1461.856292135339, 4752.75098074663, 1384.162550615633, 3, 1552, Biome::Forest, 1}}, // no sea within 6: the trade wind stays
        {2077, {136.10834326521132, 0.0, -6.584704231223876, 541.8881893701891, 15.867066805824702, 0.0, -1.0, 15628.972732069158, 0.18050985895920424, 0.1, 1.0, 0.0, 0.0, 0.0, 4, -1, Biome::Ice, 1}}, // a sink on land gathering a river
        {1629, {-3325.0532513697485, 0.0, 14.7, 1075.5, 1.1480502970952693, -1.0, -0.4, 28074.889051876737, 0.89, 0.1, 1.0, 0.0, 0.0, 0.0, 8, -1, Biome::Ocean, 0}}, // the sea cell that gathers most
        {215, {2728.217100436701, 7.0, -40.43341115283856, 141.22811815822214, 19.525920142398668, -0.6, -0.4, 141.22811815822214, 0.0, 0.7999999999999999, 0.0, 0.0, 0.0, 0.0, 10, 142, Biome::Ice, 4}}, // column 71's ridge
        {741, {3604.9508560824365, 10.0, -18.93218056453584, 2363.4333333333334, 12.175228580174412, 1.0, 0.0, 2363.4333333333334, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 2, 740, Biome::Ice, 5}}, // drains to the lowest, not the first lower
    };
    // clang-format on
    for (const Golden& golden : cells) {
        SCOPED_TRACE(golden.index);
        expectRegion(planet().grid()[static_cast<std::size_t>(golden.index)], golden.region);
    }
}

TEST(EarthModelTest, LastColumnOfAntarcticaCarriesAStressRidge) {
    // The last column's east neighbour is asked for at 182.5 degrees, past the Antarctic plate's
    // outline, and so lies on the Pacific plate; the first column's west neighbour wraps onto the
    // plate. Inside the plate (rows 0 to 4) only column 71 is stressed, by the Pacific's westward
    // drift, and is high land where it is land.
    const auto& grid = planet().grid();
    for (int j = 0; j < 5; ++j) {
        for (int i = 0; i < 72; ++i) {
            const EarthRegion& cell = grid[static_cast<std::size_t>(i + 72 * j)];
            ASSERT_EQ(cell.plate, 10);
            EXPECT_EQ(cell.stress, i == 71 ? 7.0 : 0.0) << i << ", " << j;
            const int landClass = i == 71 ? 4 : (cell.elevation > 400.0 ? 2 : 1);
            EXPECT_EQ(cell.terrainClass, cell.elevation > 0.0 ? landClass : 0) << i << ", " << j;
        }
    }
}

TEST(EarthModelTest, ZonesAndNoise) {
    EarthRegion barren;
    barren.capacity = 99.9;
    barren.fertileCapacity = 1e9;
    EarthRegion rich = barren;
    rich.capacity = 5000.0;
    rich.fertility = 0.5;
    rich.productivity = 0.5;
    rich.ruggedness = 0.5;
    std::array<int, 6> zones{};
    for (std::uint32_t seed = 0; seed < 4000; ++seed) {
        EXPECT_EQ(EarthModel::zone(barren, seed), 0);
        ++zones.at(static_cast<std::size_t>(EarthModel::zone(rich, seed)));
    }
    // Rich land is settled 85% of the time; of that 18% is left wild, 24.5% fields, 21.5% workshops
    // and the rest houses.
    EXPECT_EQ(zones, (std::array<int, 6>{576, 834, 705, 746, 492, 647}));

    // Continuous across integer lines, in [0, 1), and the same for negative corners every time.
    for (const double at : {-3.0, -1.0, 0.0, 2.0, 7.0}) {
        EXPECT_NEAR(noise(at - 1e-9, 0.3), noise(at, 0.3), 1e-7);
        EXPECT_NEAR(noise(0.7, at - 1e-9), noise(0.7, at), 1e-7);
        EXPECT_GE(noise(at + 0.25, -at), 0.0);
        EXPECT_LT(noise(at + 0.25, -at), 1.0);
    }
    EXPECT_EQ(noise(-2.0, -5.0), unitHash(hash32(0xFFFFFFFEu) ^ 0xFFFFFFFBu));
}

} // namespace
} // namespace zarn
