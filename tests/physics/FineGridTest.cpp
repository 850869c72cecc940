#include <cstdint>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "physics/FineGrid.hpp"

namespace zarn {
namespace {

// Boxes of every level (fragments, columns, slabs, ground tiles and one too large for any level),
// some entered twice as the solver enters a moved piece again, in groups entered one after another
// as the solver enters an assembly's pieces. A search that wants each entry once must meet every box
// that reaches its box, but for those of the group it skips, and never more often than the box was
// entered.
TEST(FineGrid, EachSearchMeetsEveryBoxItReachesOnceForEachEntry) {
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    auto unit = [&state]() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    const std::vector<double> sizes{0.3, 1.5, 6.0, 30.0, 100.0, 700.0};
    std::vector<Box> boxes;
    std::map<std::uint32_t, int> entered;
    FineLevels grid;
    grid.clear();
    auto groupOf = [](std::uint32_t id) { return static_cast<std::int32_t>(id / 25 % 7); };
    auto enterBox = [&](std::uint32_t id, const Box& box) {
        grid.enter(box, id, groupOf(id));
        ++entered[id];
    };
    auto randomBox = [&](double size) {
        const Vec3 center{unit() * 200.0 - 100.0, unit() * 60.0 - 10.0, unit() * 200.0 - 100.0};
        const Vec3 half{size * (0.2 + unit()), size * (0.2 + unit()) / 4.0, size * (0.2 + unit())};
        return Box{center - half, center + half};
    };
    for (std::uint32_t id = 1; id <= 600; ++id) {
        boxes.push_back(randomBox(sizes[id % sizes.size()]));
        enterBox(id, boxes.back());
        if (id % 5 == 0)
            enterBox(id, boxes.back() = randomBox(sizes[id % sizes.size()]));
    }
    auto check = [&](const char* when) {
        for (int n = 0; n < 200; ++n) {
            const Box reach = randomBox(n % 2 == 0 ? 2.0 : 20.0);
            const std::int32_t skipped = n % 3 == 0 ? fine::noGroup : n % 7;
            std::map<std::uint32_t, int> met;
            grid.searchEach(reach, skipped, [&](std::uint32_t id, std::int32_t group) {
                ++met[id];
                EXPECT_EQ(group, groupOf(id)) << when;
            });
            for (std::uint32_t id = 1; id <= boxes.size(); ++id) {
                const Box& box = boxes[id - 1];
                const bool reaches = box.min.x <= reach.max.x && reach.min.x <= box.max.x &&
                                     box.min.y <= reach.max.y && reach.min.y <= box.max.y &&
                                     box.min.z <= reach.max.z && reach.min.z <= box.max.z;
                if (reaches && groupOf(id) != skipped) {
                    EXPECT_GE(met[id], 1) << when << " search " << n << " id " << id;
                }
                EXPECT_LE(met[id], entered[id]) << when << " search " << n << " id " << id;
            }
        }
    };
    check("as entered");
    for (std::uint32_t id = 1; id <= 600; id += 3)
        enterBox(id, boxes[id - 1] = randomBox(sizes[id % sizes.size()]));
    check("entered again");
}

} // namespace
} // namespace zarn
