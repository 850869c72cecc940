#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "world/TrainingGround.hpp"
#include "world/World.hpp"

namespace zarn {
namespace {

// Building the city bonds four thousand pieces; the read-only checks share one.
class CityTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { city = std::make_unique<World>(); }
    static void TearDownTestSuite() { city.reset(); }

    static std::unique_ptr<World> city;
};
std::unique_ptr<World> CityTest::city;

// The whole matter of a world rests: nothing broke, every loose piece is carried by the ground.
void expectStandingWorld(const World& world) {
    const Physics& physics = world.physics;
    EXPECT_TRUE(physics.validate());
    EXPECT_EQ(physics.brokenBondCount, 0u);
    EXPECT_EQ(physics.fractureCount, 0u);
    EXPECT_EQ(world.loss(), 0.0);
    EXPECT_EQ(world.destructionRate(), 0.0);
    EXPECT_TRUE(physics.assemblies.empty());
    EXPECT_EQ(physics.movingPieceCount(), 0u);
    for (const Bond& bond : physics.bonds) {
        ASSERT_TRUE(bond.intact) << "bond " << bond.a << "-" << bond.b;
    }
    for (const MatterPiece& piece : physics.pieces) {
        ASSERT_TRUE(piece.alive);
        ASSERT_TRUE(piece.supported || piece.anchored) << "piece " << piece.id << " is not carried";
        ASSERT_EQ(piece.assembly, -1);
    }
}

TEST_F(CityTest, CityStandsUnderItsOwnWeight) {
    const Physics& physics = city->physics;
    // 1024 ground tiles, 2637 pieces of 50 buildings, 49 trees and lamps of 2 pieces each, one crate.
    EXPECT_EQ(physics.pieces.size(), 4081u);
    EXPECT_EQ(physics.aliveCount(), 4081u);
    expectStandingWorld(*city);
    for (const MatterPiece& piece : physics.pieces) {
        EXPECT_EQ(piece.anchored, piece.building == buildingTag::ground) << "piece " << piece.id;
    }
    EXPECT_GT(physics.bonds.size(), physics.pieces.size());
    EXPECT_EQ(city->name, "城市破坏试验");
    EXPECT_EQ(city->id, "procedural");
    EXPECT_EQ(city->spawnPoint, (Vec3{0.0, 0.0, -110.0}));
    EXPECT_EQ(city->dayCycle.phase, 0.0);
}

TEST_F(CityTest, GroundTilesFormStreetsAndBlocks) {
    const std::vector<MatterPiece>& pieces = city->physics.pieces;
    // x in the outer loop, z in the inner one.
    EXPECT_EQ(pieces[0].body.center, (Vec3{-496.0, -4.0, -496.0}));
    EXPECT_EQ(pieces[1].body.center, (Vec3{-496.0, -4.0, -464.0}));
    EXPECT_EQ(pieces[32].body.center, (Vec3{-464.0, -4.0, -496.0}));
    EXPECT_EQ(pieces[1023].body.center, (Vec3{496.0, -4.0, 496.0}));

    const Vec3 road{0.19, 0.215, 0.21};
    const Vec3 block{0.31, 0.34, 0.29};
    auto tileAt = [&](double x, double z) -> const MatterPiece& {
        const int ix = static_cast<int>((x + 496.0) / 32.0);
        const int iz = static_cast<int>((z + 496.0) / 32.0);
        return pieces[static_cast<std::size_t>(32 * ix + iz)];
    };
    EXPECT_EQ(tileAt(16.0, 16.0).color, road);    // on the lines x = 0 and z = 0
    EXPECT_EQ(tileAt(48.0, 48.0).color, block);   // inside a block
    EXPECT_EQ(tileAt(-496.0, 48.0).color, road);  // remainder of -496 by 128 is 16
    EXPECT_EQ(tileAt(-464.0, 48.0).color, block); // remainder -48
    int blocks = 0;
    for (std::size_t i = 0; i < 1024; ++i) {
        EXPECT_EQ(pieces[i].building, buildingTag::ground);
        EXPECT_EQ(pieces[i].body.halfExtents, (Vec3{16.0, 4.0, 16.0}));
        blocks += pieces[i].color == block ? 1 : 0;
    }
    EXPECT_EQ(blocks, 8 * 8 * 4); // 64 blocks of 2 x 2 tiles
}

TEST_F(CityTest, FiftyBuildingsOnTheBlockGridWithTenTowersNearTheStart) {
    const std::vector<Building>& buildings = city->buildings;
    ASSERT_EQ(buildings.size(), 50u);
    EXPECT_EQ(buildings.back().center, (Vec3{128.0 * 6 - 448.0, 0.0, 128.0 * 7 - 448.0}));
    for (std::size_t i = 0; i < buildings.size(); ++i) {
        const Building& b = buildings[i];
        EXPECT_EQ(b.index, static_cast<std::int32_t>(i));
        const int k =
            static_cast<int>(b.center.x + 448.0) / 128 + 8 * (static_cast<int>(b.center.z + 448.0) / 128);
        EXPECT_NE(k % 5, 0) << "block " << k << " must stay empty";
        EXPECT_GE(b.sizeX, 36.0);
        EXPECT_LT(b.sizeX, 64.0);
        EXPECT_GE(b.sizeZ, 36.0);
        EXPECT_LT(b.sizeZ, 61.0);
        EXPECT_TRUE(b.name.empty());
        EXPECT_EQ(b.extra, 0.0);
    }
    EXPECT_EQ(buildings[0].label(), "建筑 1");
    EXPECT_EQ(buildings[6].label(), "建筑 7");

    // The ten towers are the ten buildings nearest (0, 0, -30), taller the nearer; the two pairs
    // at equal distance keep the fixed order of the tower list (29 before 27).
    const std::map<int, double> towers{{21, 188.0}, {22, 176.0}, {28, 164.0}, {15, 152.0}, {20, 140.0},
                                       {23, 128.0}, {29, 116.0}, {27, 104.0}, {34, 92.0},  {35, 80.0}};
    auto distance = [&](const Building& b) { return std::hypot(b.center.x, b.center.z + 30.0); };
    double farthestTower = 0.0;
    double nearestOther = 1e30;
    for (const Building& b : buildings) {
        const auto tower = towers.find(b.index);
        if (tower != towers.end()) {
            EXPECT_EQ(b.height, tower->second) << "building " << b.index;
            farthestTower = std::max(farthestTower, distance(b));
        } else {
            EXPECT_GE(b.height, 16.0);
            EXPECT_LE(b.height, 52.0);
            EXPECT_EQ(std::fmod(b.height, 4.0), 0.0);
            nearestOther = std::min(nearestOther, distance(b));
        }
    }
    EXPECT_LT(farthestTower, nearestOther);
    for (const auto& [a, ha] : towers) {
        for (const auto& [b, hb] : towers) {
            if (ha > hb) {
                EXPECT_LE(distance(buildings[a]), distance(buildings[b]) + 1e-9) << a << " vs " << b;
            }
        }
    }
    EXPECT_EQ(distance(buildings[27]), distance(buildings[29]));
}

TEST_F(CityTest, BuildingsAreStoreyedFramesWithIndoorSlabs) {
    std::map<std::int32_t, std::vector<const MatterPiece*>> byBuilding;
    for (const MatterPiece& piece : city->physics.pieces) {
        const bool slab = piece.building >= 0 && piece.body.halfExtents.y == 0.2;
        EXPECT_EQ(piece.indoor, slab) << "piece " << piece.id;
        if (piece.building >= 0) {
            byBuilding[piece.building].push_back(&piece);
        }
    }
    ASSERT_EQ(byBuilding.size(), 50u);
    const Building* low = nullptr;
    for (const Building& b : city->buildings) {
        const std::vector<const MatterPiece*>& parts = byBuilding[b.index];
        const int storeys = static_cast<int>(std::ceil(b.height / 8.0));
        // Per storey four columns and a slab; four walls on every storey but the open ground one.
        EXPECT_EQ(parts.size(), static_cast<std::size_t>(9 * storeys - 4)) << "building " << b.index;
        double top = 0.0;
        for (const MatterPiece* p : parts) {
            const Box bounds = p->body.bounds();
            top = std::max(top, bounds.max.y);
            EXPECT_GE(bounds.min.y, -1e-9);
            EXPECT_GE(bounds.min.x, b.center.x - b.sizeX / 2.0 - 1e-9);
            EXPECT_LE(bounds.max.x, b.center.x + b.sizeX / 2.0 + 1e-9);
            EXPECT_GE(bounds.min.z, b.center.z - b.sizeZ / 2.0 - 1e-9);
            EXPECT_LE(bounds.max.z, b.center.z + b.sizeZ / 2.0 + 1e-9);
        }
        EXPECT_NEAR(top, b.height, 1e-9);
        if (b.height == 16.0 && low == nullptr) {
            low = &b;
        }
    }

    // A 16 m building: two 8 m storeys of 7.6 m columns under 0.4 m slabs, walls only upstairs.
    ASSERT_NE(low, nullptr);
    int columns = 0;
    int walls = 0;
    for (const MatterPiece* p : byBuilding[low->index]) {
        const Vec3& h = p->body.halfExtents;
        if (h.x == 1.4 && h.z == 1.4) {
            ++columns;
            EXPECT_NEAR(2.0 * h.y, 7.6, 1e-12);
        } else if (h.y != 0.2) {
            ++walls;
            EXPECT_NEAR(p->body.center.y, 8.0 + 3.8, 1e-12);
            EXPECT_NEAR(std::min(h.x, h.z), 0.2, 1e-12);
        }
    }
    EXPECT_EQ(columns, 8);
    EXPECT_EQ(walls, 4);

    // The tallest tower: 24 storeys of 7.8333 m.
    int towerSlabs = 0;
    for (const MatterPiece* p : byBuilding[21]) {
        if (p->indoor) {
            const int storey = towerSlabs++;
            EXPECT_NEAR(p->body.center.y, (storey + 1) * (188.0 / 24.0) - 0.2, 1e-9);
        }
    }
    EXPECT_EQ(towerSlabs, 24);
}

TEST_F(CityTest, StreetFurnitureAndTheCrate) {
    std::map<std::int32_t, int> counts;
    for (const MatterPiece& piece : city->physics.pieces) {
        ++counts[piece.building];
    }
    EXPECT_EQ(counts[buildingTag::ground], 1024);
    EXPECT_EQ(counts[buildingTag::tree], 98);
    EXPECT_EQ(counts[buildingTag::lamp], 98);
    EXPECT_EQ(counts[buildingTag::crate], 1);
    EXPECT_EQ(counts[buildingTag::testGate], 0);

    const MatterPiece& crate = city->physics.pieces.back();
    EXPECT_EQ(crate.building, buildingTag::crate);
    EXPECT_EQ(crate.body.center, (Vec3{0.0, 0.4, -116.0}));
    EXPECT_NEAR(crate.body.mass, 8.0 * 1.0 * 0.4 * 0.55 * 1200.0, 1e-9);

    // The lamp head hangs off its post and is held by the bond on the post's top.
    const std::vector<MatterPiece>& pieces = city->physics.pieces;
    const MatterPiece& head = pieces[pieces.size() - 2];
    const MatterPiece& post = pieces[pieces.size() - 3];
    ASSERT_EQ(head.building, buildingTag::lamp);
    EXPECT_EQ(head.body.center, (Vec3{128.0 * 3 + 21.0 - 6.7, 7.12, 128.0 * 3 + 29.0 - 12.0}));
    bool bonded = false;
    for (const Bond& bond : city->physics.bonds) {
        bonded |= std::min(bond.a, bond.b) == post.id && std::max(bond.a, bond.b) == head.id;
    }
    EXPECT_TRUE(bonded);
}

TEST_F(CityTest, ResetRebuildsTheSameCity) {
    World other;
    other.physics.pieces.front().alive = false;
    other.name = "x";
    other.dayCycle.phase = 0.7;
    other.reset();
    ASSERT_EQ(other.physics.pieces.size(), city->physics.pieces.size());
    ASSERT_EQ(other.physics.bonds.size(), city->physics.bonds.size());
    for (std::size_t i = 0; i < other.physics.pieces.size(); ++i) {
        const MatterPiece& a = other.physics.pieces[i];
        const MatterPiece& b = city->physics.pieces[i];
        ASSERT_EQ(a.body.center, b.body.center);
        ASSERT_EQ(a.body.halfExtents, b.body.halfExtents);
        ASSERT_EQ(a.color, b.color);
        ASSERT_EQ(a.building, b.building);
        ASSERT_TRUE(a.alive);
    }
    for (std::size_t i = 0; i < other.physics.bonds.size(); ++i) {
        ASSERT_EQ(other.physics.bonds[i].a, city->physics.bonds[i].a);
        ASSERT_EQ(other.physics.bonds[i].b, city->physics.bonds[i].b);
        ASSERT_EQ(other.physics.bonds[i].area, city->physics.bonds[i].area);
    }
    EXPECT_EQ(other.name, city->name);
    EXPECT_EQ(other.dayCycle.phase, 0.0);
}

TEST(TrainingGroundTest, FloorAndGateStand) {
    World world;
    test::buildTrainingGround(world);
    const Physics& physics = world.physics;
    ASSERT_EQ(physics.pieces.size(), 259u);
    expectStandingWorld(world);
    EXPECT_TRUE(world.buildings.empty());

    // Floor ids follow x outer, z inner.
    EXPECT_EQ(physics.pieces[0].body.center, (Vec3{-480.0, -4.0, -480.0}));
    EXPECT_EQ(physics.pieces[1].body.center, (Vec3{-480.0, -4.0, -416.0}));
    EXPECT_EQ(physics.pieces[16].body.center, (Vec3{-416.0, -4.0, -480.0}));
    EXPECT_EQ(physics.pieces[255].body.center, (Vec3{480.0, -4.0, 480.0}));

    // The gate: two posts and the beam, loose matter held up through the floor slab under it.
    const std::uint32_t leftFloor = 16 * 7 + 0 + 1;  // x -64 .. 0, z -512 .. -448
    const std::uint32_t rightFloor = 16 * 8 + 0 + 1; // x 0 .. 64
    EXPECT_EQ(physics.pieces[leftFloor - 1].body.center, (Vec3{-32.0, -4.0, -480.0}));
    EXPECT_EQ(physics.pieces[rightFloor - 1].body.center, (Vec3{32.0, -4.0, -480.0}));
    for (std::uint32_t id = 257; id <= 259; ++id) {
        const MatterPiece& piece = physics.pieces[id - 1];
        EXPECT_EQ(piece.building, buildingTag::testGate);
        EXPECT_FALSE(piece.anchored);
        EXPECT_TRUE(piece.supported);
        EXPECT_FALSE(piece.indoor);
    }
    EXPECT_EQ(physics.pieces[258].body.center, (Vec3{0.0, 4.5, -461.0}));
    auto bonded = [&](std::uint32_t a, std::uint32_t b) {
        return std::any_of(physics.bonds.begin(), physics.bonds.end(), [&](const Bond& bond) {
            return bond.intact && std::min(bond.a, bond.b) == std::min(a, b) &&
                   std::max(bond.a, bond.b) == std::max(a, b);
        });
    };
    EXPECT_TRUE(bonded(leftFloor, 257));
    EXPECT_TRUE(bonded(rightFloor, 258));
    EXPECT_TRUE(bonded(257, 259));
    EXPECT_TRUE(bonded(258, 259));
    EXPECT_FALSE(bonded(257, 258));
}

TEST(TrainingGroundTest, GateInTheCityStandsOnItsTile) {
    World world;
    world.addTestStructures();
    ASSERT_EQ(world.physics.pieces.size(), 4084u);
    expectStandingWorld(world);
}

} // namespace
} // namespace zarn
