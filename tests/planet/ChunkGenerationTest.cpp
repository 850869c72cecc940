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

// What the generator sets; the rest of every piece is checked to be left at its default below.
bool samePiece(const MatterPiece& a, const MatterPiece& b) {
    return a.body.center == b.body.center && a.body.halfExtents == b.body.halfExtents &&
           a.body.orientation == b.body.orientation && a.color == b.color && a.anchored == b.anchored &&
           a.groundLevel == b.groundLevel;
}

// Chunks whose pieces the reference implementation also generated: which of the sixteen columns
// (bit 4r + c) are roads and which are rivers (sunk 1.5 m below the surface), how many crop strips,
// how many storeys, whether the building is turned, and the sum of all pieces' upper corners
// (centre plus half extents).
struct GoldenChunk {
    int i, j;
    bool farSide;
    std::size_t pieces;
    unsigned roads, rivers;
    int crops, floors;
    bool turned;
    Vec3 cornerSum;
};

// clang-format off
const GoldenChunk chunks[] = {
    {0, 0, false, 0, 0x0000, 0x0000, 0, 0, false, {0.0, 0.0, 0.0}}, // inside the district: the map stands there
    {0, 0, true, 16, 0x0000, 0xffff, 0, 0, false, {640.0, -203873812.99941152, 640.0}}, // the antipode: sixteen columns of the River Plate
    {-64, -70, false, 16, 0x1111, 0x0000, 0, 0, false, {-64896.0, 8053.374787413515, -71040.0}}, // a negative multiple of 8: the west column is road
    {-63, -70, false, 16, 0x0000, 0x0000, 0, 0, false, {-63872.0, 8058.310095066205, -71040.0}}, // its east neighbour: no road
    {-70, -64, false, 16, 0x000f, 0x0000, 0, 0, false, {-71040.0, 8020.751034229994, -64896.0}}, // the south row is road
    {-64, -64, false, 16, 0x111f, 0x0000, 0, 0, false, {-64896.0, 8033.4322590520605, -64896.0}}, // both
    {-26, -60, false, 25, 0x111f, 0x0000, 9, 0, false, {-40546.0, 12653.364359317718, -94994.59999999999}}, // fields
    {28, -60, false, 31, 0x111f, 0x0000, 0, 1, false, {56573.425, 15832.375369396617, -118024.4}}, // a workshop
    {19048, 7731, false, 31, 0x111f, 0x0000, 0, 1, true, {37792254.425, -4238936.680641671, 15339317.350000001}}, // a poor house turned, as on (8, 3)
    {24187, 17224, false, 31, 0x111f, 0x0000, 0, 1, false, {47988029.425, -8944417.01954012, 34173431.599999994}}, // not turned, as on (3, 8)
    {-94944, 24715, false, 87, 0x111f, 0x0000, 0, 5, true, {-528645739.87500006, -460268494.58239555, 137615536.75000006}}, // the Nile's riches: |0| < |3|
    {-94947, 24720, false, 87, 0x111f, 0x0000, 0, 5, false, {-528662463.87500006, -460403589.8373378, 137643396.75000006}}, // |-3| < |0| fails
    {-94949, 24732, false, 31, 0x111f, 0x0000, 0, 1, false, {-188377794.575, -164108918.5529603, 49069301.599999994}}, // |-5| < |4| fails (a floored 3 would turn)
    {-44608, -9147, false, 73, 0x111f, 0x0000, 0, 4, true, {-208406481.29999995, -51482217.32531915, -42732718.60000001}}, // |0| < |-3|
    {-44605, -9164, false, 73, 0x111f, 0x0000, 0, 4, false, {-208392481.29999995, -51483517.72478351, -42812126.60000001}}, // |-5| < |-4| fails
    {-94944, 24715, true, 16, 0x111f, 0x0000, 0, 0, false, {-97222016.0, -119246775.78936435, 25308800.0}}, // far side: roads but no house
    {-92120, -13684, true, 16, 0x111f, 0x0000, 0, 0, false, {-94330240.0, -137945377.34980428, -14011776.0}}, // far-side farmland
    {9288, -84843, false, 16, 0x0011, 0xffee, 0, 0, false, {9511552.0, -49460104.550536685, -86878592.0}}, // rivers cut the west road
    {99546, 0, false, 12, 0x0000, 0x0000, 0, 0, false, {76451712.0, -76215241.07930632, 480.0}}, // the east column is off the sphere
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
        int turned = 0;
        Vec3 cornerSum;
        for (const MatterPiece& piece : pieces) {
            const Vec3& c = piece.body.center;
            const Vec3& half = piece.body.halfExtents;
            cornerSum += c + half;
            turned += piece.body.orientation == Quaternion{} ? 0 : 1;
            crops += half == Vec3{6.0, 0.2, 0.6} ? 1 : 0;
            posts += half == Vec3{0.5, 1.35, 0.5} ? 1 : 0;
            doorsteps += half == Vec3{1.0, 0.1, 1.0} ? 1 : 0;
            // What the streamer relies on: only ground columns are anchored, at their bottom.
            EXPECT_EQ(piece.anchored, half == (Vec3{8.0, 24.0, 8.0}));
            EXPECT_EQ(piece.groundLevel, piece.anchored ? c.y - 24.0 : 1e30);
            EXPECT_TRUE(piece.alive && !piece.supported && !piece.asleep && !piece.indoor &&
                        piece.owner == 0 && piece.id == 0 && piece.building == -1 && piece.assembly == -1 &&
                        piece.generation == 0 && piece.stateTime == -1.0 && piece.body.velocity == Vec3{} &&
                        piece.body.angularVelocity == Vec3{} && piece.body.mass == 0.0);
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
        // Every piece of a turned building but its doorstep, 14 a storey.
        EXPECT_EQ(turned, golden.turned ? 14 * golden.floors : 0);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(cornerSum[k], golden.cornerSum[k],
                        1e-12 * std::max(1.0, std::abs(golden.cornerSum[k])));
        }
        // The same cell again gives the same pieces, to the bit.
        const std::vector<MatterPiece> again = engine().generate(golden.i, golden.j, golden.farSide);
        EXPECT_TRUE(std::equal(pieces.begin(), pieces.end(), again.begin(), again.end(), samePiece));
    }
}

} // namespace
} // namespace zarn
