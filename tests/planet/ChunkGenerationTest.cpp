#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "planet/EarthEngine.hpp"

namespace zarn {
namespace {

const EarthEngine& engine() {
    static const EarthEngine earth;
    return earth;
}

bool samePiece(const MatterPiece& a, const MatterPiece& b) {
    const Polyhedron& p = a.body;
    const Polyhedron& q = b.body;
    return p.center == q.center && p.halfExtents == q.halfExtents && p.velocity == q.velocity &&
           p.angularVelocity == q.angularVelocity && p.orientation == q.orientation && p.mass == q.mass &&
           a.owner == b.owner && a.groundLevel == b.groundLevel && a.id == b.id && a.building == b.building &&
           a.color == b.color && a.alive == b.alive && a.anchored == b.anchored &&
           a.supported == b.supported && a.generation == b.generation && a.assembly == b.assembly &&
           a.stress == b.stress && a.bondableAt == b.bondableAt && a.stateTime == b.stateTime &&
           a.asleep == b.asleep && a.indoor == b.indoor;
}

// Chunks whose pieces the reference implementation also generated: which of the sixteen columns
// (bit 4r + c) are roads and which are rivers (sunk 1.5 m below the surface), how many crop strips,
// how many storeys, whether the building is turned, and the sum of all pieces' centres.
struct GoldenChunk {
    int i, j;
    bool farSide;
    std::size_t pieces;
    unsigned roads, rivers;
    int crops, floors;
    bool turned;
    Vec3 centreSum;
};

// clang-format off
const GoldenChunk chunks[] = {
    {0, 0, false, 0, 0x0000, 0x0000, 0, 0, false, {0.0, 0.0, 0.0}}, // inside the district: the map stands there
    {0, 0, true, 16, 0x0000, 0xffff, 0, 0, false, {512.0, -203874196.99941152, 512.0}}, // the antipode: sixteen columns of the River Plate
    {-64, -70, false, 16, 0x1111, 0x0000, 0, 0, false, {-65024.0, 7669.374787413515, -71168.0}}, // a negative multiple of 8: the west column is road
    {-63, -70, false, 16, 0x0000, 0x0000, 0, 0, false, {-64000.0, 7674.310095066205, -71168.0}}, // its east neighbour: no road
    {-70, -64, false, 16, 0x000f, 0x0000, 0, 0, false, {-71168.0, 7636.751034229994, -65024.0}}, // the south row is road
    {-64, -64, false, 16, 0x111f, 0x0000, 0, 0, false, {-65024.0, 7649.4322590520605, -65024.0}}, // both
    {-26, -60, false, 25, 0x111f, 0x0000, 9, 0, false, {-40728.0, 12267.564359317723, -95128.0}}, // fields
    {28, -60, false, 31, 0x111f, 0x0000, 0, 1, false, {56424.0, 15434.02536939662, -118172.0}}, // a workshop
    {19048, 7731, false, 31, 0x111f, 0x0000, 0, 1, true, {37792108.0, -4239335.030641671, 15339170.0}}, // a poor house turned, as on (8, 3)
    {24187, 17224, false, 31, 0x111f, 0x0000, 0, 1, false, {47987880.0, -8944815.969540121, 34173284.0}}, // not turned, as on (3, 8)
    {-94944, 24715, false, 87, 0x111f, 0x0000, 0, 5, true, {-528645956.0, -460268946.93239534, 137615331.0}}, // the Nile's riches: |0| < |3|
    {-94947, 24720, false, 87, 0x111f, 0x0000, 0, 5, false, {-528662680.0, -460404042.1873372, 137643191.0}}, // |-3| < |0| fails
    {-94949, 24732, false, 31, 0x111f, 0x0000, 0, 1, false, {-188377944.0, -164109316.90296033, 49069157.0}}, // |-5| < |4| fails (a floored 3 would turn)
    {-44608, -9147, false, 73, 0x111f, 0x0000, 0, 4, true, {-208406680.0, -51482656.02531914, -42732909.0}}, // |0| < |-3|
    {-44605, -9164, false, 73, 0x111f, 0x0000, 0, 4, false, {-208392680.0, -51483956.4247835, -42812317.0}}, // |-5| < |-4| fails
    {-94944, 24715, true, 16, 0x111f, 0x0000, 0, 0, false, {-97222144.0, -119247159.78936435, 25308672.0}}, // far side: roads but no house
    {-92120, -13684, true, 16, 0x111f, 0x0000, 0, 0, false, {-94330368.0, -137945761.34980428, -14011904.0}}, // far-side farmland
    {9288, -84843, false, 16, 0x0011, 0xffee, 0, 0, false, {9511424.0, -49460488.550536685, -86878720.0}}, // rivers cut the west road
    {99546, 0, false, 12, 0x0000, 0x0000, 0, 0, false, {76451616.0, -76215529.07930632, 384.0}}, // the east column is off the sphere
};
// clang-format on

TEST(ChunkGenerationTest, ChunksMatchTheReference) {
    for (const GoldenChunk& golden : chunks) {
        SCOPED_TRACE(testing::Message()
                     << golden.i << ", " << golden.j << (golden.farSide ? " far" : " near"));
        const std::vector<MatterPiece> pieces = engine().generate(golden.i, golden.j, golden.farSide);
        ASSERT_EQ(pieces.size(), golden.pieces);
        unsigned roads = 0;
        unsigned rivers = 0;
        int crops = 0;
        int posts = 0;
        int doorsteps = 0;
        bool turned = false;
        Vec3 centreSum;
        for (const MatterPiece& piece : pieces) {
            const Vec3& c = piece.body.center;
            centreSum += c;
            turned = turned || piece.body.orientation.w != 1.0;
            const Vec3& half = piece.body.halfExtents;
            crops += half == Vec3{6.0, 0.2, 0.6} ? 1 : 0;
            posts += half == Vec3{0.5, 1.35, 0.5} ? 1 : 0;
            doorsteps += half == Vec3{1.0, 0.1, 1.0} ? 1 : 0;
            // What the streamer relies on: only ground columns are anchored, at their bottom.
            EXPECT_EQ(piece.anchored, half == (Vec3{8.0, 24.0, 8.0}));
            EXPECT_EQ(piece.groundLevel, piece.anchored ? c.y - 24.0 : 1e30);
            EXPECT_TRUE(piece.alive && !piece.supported && !piece.asleep && !piece.indoor);
            EXPECT_EQ(piece.owner, 0u);
            EXPECT_EQ(piece.building, -1);
            EXPECT_EQ(piece.stateTime, -1.0);
            if (piece.anchored) {
                const int column = static_cast<int>(std::floor((c.x - 64.0 * golden.i) / 16.0));
                const int row = static_cast<int>(std::floor((c.z - 64.0 * golden.j) / 16.0));
                const unsigned bit = 1u << (4 * row + column);
                roads |= piece.color == Vec3{0.24, 0.25, 0.24} ? bit : 0u;
                const double top = engine().model.surface(c.x, c.z, golden.farSide);
                rivers |= std::abs(c.y + 24.0 - (top - 1.5)) < 1e-6 ? bit : 0u;
            }
        }
        EXPECT_EQ(roads, golden.roads);
        EXPECT_EQ(rivers, golden.rivers);
        EXPECT_EQ(crops, golden.crops);
        EXPECT_EQ(posts, 4 * golden.floors);
        EXPECT_EQ(doorsteps, golden.floors > 0 ? 1 : 0);
        EXPECT_EQ(turned, golden.turned);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(centreSum[k], golden.centreSum[k],
                        1e-12 * std::max(1.0, std::abs(golden.centreSum[k])));
        }
        // The same cell again gives the same pieces, to the bit.
        const std::vector<MatterPiece> again = engine().generate(golden.i, golden.j, golden.farSide);
        EXPECT_TRUE(std::equal(pieces.begin(), pieces.end(), again.begin(), again.end(), samePiece));
    }
}

TEST(ChunkGenerationTest, HouseLayoutAroundItsColumn) {
    // The turned five-storey house: the column (1, 1) of the chunk, then the storeys from the ground
    // up, each a quarter turn about the column's axis, then the doorstep, left unturned.
    const std::vector<MatterPiece> pieces = engine().generate(-94944, 24715, false);
    const MatterPiece& column = pieces[5];
    const Vec3 base = column.body.center + Vec3{0.0, 24.0, 0.0};
    EXPECT_EQ(base.x, 64.0 * -94944 + 24.0);
    const auto offset = [&](std::size_t index) { return pieces[index].body.center - base; };
    // Positions so far out carry about 1e-9 m of rounding. The first corner post sits at
    // (-4.5, 1.35, -3.5) before the turn: the Nile is hot, so the house is 8 m deep.
    const Vec3 post = offset(6);
    EXPECT_NEAR(post.x, -3.5, 1e-6);
    EXPECT_NEAR(post.y, 1.35, 1e-6);
    EXPECT_NEAR(post.z, 4.5, 1e-6);
    EXPECT_EQ(pieces[6].body.orientation, (Quaternion{0.7071067811865476, 0.0, 0.7071067811865475, 0.0}));
    // The fifth storey's ceiling slab, 12 m up, keeps its extents; the turn is in its orientation.
    const MatterPiece& ceiling = pieces[6 + 4 * 14 + 4];
    EXPECT_NEAR(ceiling.body.center.y - base.y, 14.85, 1e-6);
    EXPECT_EQ(ceiling.body.halfExtents, (Vec3{5.0, 0.15, 4.0}));
    const MatterPiece& doorstep = pieces[6 + 5 * 14];
    EXPECT_EQ(doorstep.body.orientation, Quaternion{});
    EXPECT_NEAR(doorstep.body.center.z - base.z, -5.0, 1e-6);
    EXPECT_NEAR(doorstep.body.center.y - base.y, 0.1, 1e-6);
}

} // namespace
} // namespace zarn
