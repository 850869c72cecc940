#include <cstdint>

#include <gtest/gtest.h>

#include "support/CityDemolition.hpp"
#include "support/StateHash.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

// The game's biggest event, the whole city brought down, must give the same world whatever the
// physics does to get there faster: its state hash after the whole collapse is pinned. The hash
// goes through the platform's math library (exp, cbrt, sin and cos differ in the last bit between
// the native and the Windows library), so each platform has its own.
#ifdef _WIN32
constexpr std::uint64_t collapsedCityHash = 0xeaf50fb2aa7e4fdaull;
#else
constexpr std::uint64_t collapsedCityHash = 0x16f3752ff7930ba9ull;
#endif

TEST(CityDemolition, TheWholeCityComesDownToTheSameWorld) {
    World world;
    test::chargeEveryColumn(world);
    int steps = 0;
    while (steps < test::cityCollapseMaxSteps && test::collapsing(world.physics)) {
        world.physics.step(test::cityCollapseStep);
        ++steps;
    }
    EXPECT_EQ(steps, 600); // until the motion window closes, 10 s after the charges
    EXPECT_TRUE(world.physics.validate());
    test::StateHash h;
    test::hashPhysics(h, world.physics);
    EXPECT_EQ(h.value(), collapsedCityHash) << std::hex << h.value();
}

// The refreshes physics starts itself redo only what its noted changes reach; in the city's collapse,
// with chains of failures running through several passes of a refresh, they must leave the world the
// full refreshes leave, step by step.
TEST(CityDemolition, TheCollapseOnTheNotedRefreshesIsTheCollapseOnTheFullOnes) {
    World noted;
    World full;
    full.physics.stepScratch.plainWalks = true;
    for (World* world : {&noted, &full})
        test::chargeEveryColumn(*world);
    for (int step = 0; step < 64; ++step) {
        noted.physics.step(test::cityCollapseStep);
        full.physics.step(test::cityCollapseStep);
        test::StateHash a;
        test::hashPhysics(a, noted.physics);
        test::StateHash b;
        test::hashPhysics(b, full.physics);
        ASSERT_EQ(a.value(), b.value()) << "step " << step;
    }
}

} // namespace
} // namespace zarn
