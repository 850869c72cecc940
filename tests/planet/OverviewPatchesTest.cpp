#include <array>
#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "planet/EarthEngine.hpp"
#include "planet/OverviewPatches.hpp"

namespace zarn {
namespace {

constexpr double R = 6371000.0;
const Vec3 planetCenter{0.0, -6371004.0, 0.0};

EarthEngine& engine() {
    static EarthEngine earth;
    return earth;
}

// What an overview piece says of its patch: the up direction its orientation turns +y to, the patch
// centre on the sphere below it, its radius and its subdivision level.
struct Leaf {
    Vec3 up;
    Vec3 center;
    double radius;
    int level;
};

Leaf leafOf(const MatterPiece& piece) {
    const Vec3 up = piece.body.orientation.rotate({0.0, 1.0, 0.0});
    const double radius = piece.body.halfExtents.x / 0.58;
    return {up, planetCenter + up * R, radius, static_cast<int>(std::lround(std::log2(2.0 * R / radius)))};
}

// Which cube face a direction from the planet's centre lies on: 0..5 for -x, -y, -z, +x, +y, +z, the
// order the faces are queued in.
int faceOf(const Vec3& up) {
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (std::abs(up[k]) > std::abs(up[axis]))
            axis = k;
    return axis + (up[axis] > 0.0 ? 3 : 0);
}

TEST(OverviewPatches, PatchesBeyondTheHorizonOrBehindTheViewerAreCulled) {
    const Vec3 x{1.0, 0.0, 0.0};
    const Vec3 y{0.0, 1.0, 0.0};
    const Vec3 z{0.0, 0.0, 1.0};
    struct Case {
        Vec3 eye;
        Vec3 forward;
        OverviewPatch patch;
        bool queued;
    };
    // A 637 m patch 2.5 km south of the origin.
    const OverviewPatch south{y, x, z, 0.0, -0.0004, 0.0001};
    const Case cases[] = {
        // From the origin (4 m above the sphere) the face beneath the planet lies 4 m beyond the
        // horizon; 4.5 m lower it does not.
        {{0.0, 0.0, 0.0}, z, {y * -1.0, x, z}, false}, {{0.0, -4.5, 0.0}, z, {y * -1.0, x, z}, true},
        {{0.0, 0.0, 0.0}, z, {y, x, z}, true},         {{0.0, 0.0, 0.0}, z, {x, y, z}, true},
        {{0.0, 0.0, 0.0}, z, {x * -1.0, y, z}, true},  {{0.0, 0.0, 0.0}, z, {z, x, y}, true},
        {{0.0, 0.0, 0.0}, z, {z * -1.0, x, y}, true},  {{0.0, 0.0, 0.0}, z, south, false},
        {{0.0, 0.0, 0.0}, z * -1.0, south, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.patch.origin.x << c.patch.origin.y << c.patch.origin.z
                                        << " eye y " << c.eye.y << " forward z " << c.forward.z);
        const std::optional<double> priority = overviewPriority(c.patch, c.eye, c.forward);
        EXPECT_EQ(priority.has_value(), c.queued);
    }
    // The angular size: the face's radius over its centre's distance from the eye.
    const double sideDistance = std::sqrt(R * R + 6371004.0 * 6371004.0);
    EXPECT_NEAR(*overviewPriority({x, y, z}, {}, z), 2.0 * R / sideDistance, 1e-12);
}

// Near the player the streamed chunks stand and, while the player is within 2,600 m of it, the
// district; the overview covers the rest within its budget of patches.
TEST(OverviewPatches, LeavesStayWithinTheBudgetAndOffTheNearGroundAndTheDistrict) {
    struct View {
        Vec3 eye;
        Vec3 forward;
        bool nearDistrict;
    };
    const View views[] = {
        {{0.0, 1.7, 0.0}, {0.0, 0.0, 1.0}, true},
        {{1500.0, 2.0, -1800.0}, {0.6, 0.0, -0.8}, true},
        {{3000.0, 120.0, 0.0}, {-1.0, 0.0, 0.0}, false},
        {{-40000.0, 9000.0, 250000.0}, {0.16, -0.04, -0.986}, false},
    };
    for (const View& view : views) {
        SCOPED_TRACE(testing::Message() << view.eye.x << ", " << view.eye.z);
        engine().updateOverview(view.eye, view.forward);
        const std::vector<MatterPiece>& pieces = engine().overview;
        ASSERT_GT(pieces.size(), 300u);
        EXPECT_LE(pieces.size(), 1023u); // the budget of 1,019 and the last split's four children
        bool overDistrict = false;
        for (const MatterPiece& piece : pieces) {
            const Leaf leaf = leafOf(piece);
            ASSERT_LE(leaf.level, 18);
            ASSERT_GE(length(leaf.center - view.eye) - leaf.radius, 480.0 - 1e-3);
            overDistrict =
                overDistrict || (std::abs(leaf.center.x) < leaf.radius + 1100.0 &&
                                 std::abs(leaf.center.z) < leaf.radius + 1100.0 && leaf.center.y > -2000.0);
            // Drawn, never simulated: loose, owned by nothing.
            ASSERT_TRUE(piece.alive && !piece.anchored && piece.owner == 0 && piece.building == -1 &&
                        piece.assembly == -1 && piece.groundLevel == 1e30 && piece.stateTime == -1.0 &&
                        piece.body.mass == 0.0);
        }
        EXPECT_EQ(overDistrict, !view.nearDistrict);
    }
    // Looking away from the planet from far above it, nothing is queued at all.
    engine().updateOverview({0.0, 1e12, 0.0}, {0.0, 1.0, 0.0});
    EXPECT_TRUE(engine().overview.empty());
}

// Looking straight down from 20 km, the patches of the upper face mirror each other across x = 0
// and tie in size. Patches of equal size leave the queue in the order they were queued (of each
// split's children the -x ones first), so where the budget runs out the -x half is split once more
// than the +x half, the same on every standard library.
TEST(OverviewPatches, EqualPatchesAreSplitInTheOrderTheyWereQueued) {
    engine().updateOverview({0.0, 20000.0, 0.0}, {0.0, -1.0, 0.0});
    std::array<int, 4> leaves{}; // per quarter: -x -z, +x -z, -x +z, +x +z
    for (const MatterPiece& piece : engine().overview) {
        const Leaf leaf = leafOf(piece);
        ASSERT_EQ(faceOf(leaf.up), 4);
        ++leaves[(leaf.center.x > 0.0 ? 1u : 0u) + (leaf.center.z > 0.0 ? 2u : 0u)];
    }
    EXPECT_GT(engine().overview.size(), 1019u); // the budget ran out
    EXPECT_EQ(leaves[0], leaves[1] + 3);
    EXPECT_EQ(leaves[2], leaves[3] + 3);
    EXPECT_EQ(leaves[0], leaves[2]);
}

} // namespace
} // namespace zarn
