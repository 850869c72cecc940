#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"

namespace zarn {
namespace {

std::uint32_t addBox(Physics& physics, const Vec3& center, const Vec3& half) {
    MatterPiece piece;
    piece.body.center = center;
    piece.body.halfExtents = half;
    return physics.add(piece);
}

bool overlapping(const Box& a, const Box& b) {
    return a.min.x <= b.max.x && a.max.x >= b.min.x && a.min.y <= b.max.y && a.max.y >= b.min.y &&
           a.min.z <= b.max.z && a.max.z >= b.min.z;
}

// Alive pieces whose bounds overlap the box, by brute force.
std::vector<std::uint32_t> overlappingIds(const Physics& physics, const Box& box) {
    std::vector<std::uint32_t> ids;
    for (const MatterPiece& piece : physics.pieces)
        if (piece.alive && overlapping(piece.body.bounds(), box))
            ids.push_back(piece.id);
    return ids;
}

bool listed(const Physics& physics, std::uint32_t id) {
    for (const auto& [key, ids] : physics.cells)
        if (std::find(ids.begin(), ids.end(), id) != ids.end())
            return true;
    return false;
}

// A few hundred pieces of assorted sizes and turns scattered over about 600 m, some dead.
Physics scatteredWorld() {
    Physics physics;
    std::uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    for (int i = 0; i < 600; ++i) {
        MatterPiece piece;
        piece.body.center = {next() * 600 - 300, next() * 600 - 300, next() * 600 - 300};
        piece.body.halfExtents = {0.2 + next() * 5, 0.2 + next() * 5, 0.2 + next() * 5};
        const double angle = next() * 3.0;
        piece.body.orientation = {std::cos(angle / 2), 0.0, std::sin(angle / 2), 0.0};
        piece.alive = i % 7 != 3;
        physics.add(piece);
    }
    physics.rebuildGrid();
    return physics;
}

TEST(Grid, KeyIsTheFixedHashOfTheCellCoordinates) {
    EXPECT_EQ(Physics::gridKey(0, 0, 0), 0xc5b8c4bd61e9f66aull);
    EXPECT_EQ(Physics::gridKey(1, -2, 3), 0x9d8becae005e3a08ull);
    EXPECT_EQ(Physics::gridKey(-1, 0, 5), 0x62d3079552b85b30ull);
}

TEST(Grid, PiecesAreListedInEveryCellTheyReachWithTheMargin) {
    Physics physics;
    // Reaches x = 31.99 ± margin 0.015 into the next cell; y and z stay in cell 0.
    const std::uint32_t edge = addBox(physics, {31.49, 5, 5}, {0.5, 0.5, 0.5});
    const std::uint32_t inner = addBox(physics, {10, 10, 10}, {0.5, 0.5, 0.5});
    physics.rebuildGrid();
    ASSERT_EQ(physics.gridEntries.size(), 2u);
    EXPECT_EQ(physics.gridEntries[edge - 1].cells,
              (std::vector<std::uint64_t>{Physics::gridKey(0, 0, 0), Physics::gridKey(1, 0, 0)}));
    EXPECT_EQ(physics.gridEntries[inner - 1].cells, (std::vector<std::uint64_t>{Physics::gridKey(0, 0, 0)}));
    EXPECT_EQ(physics.cells.at(Physics::gridKey(0, 0, 0)), (std::vector<std::uint32_t>{edge, inner}));
    EXPECT_EQ(physics.cells.at(Physics::gridKey(1, 0, 0)), (std::vector<std::uint32_t>{edge}));

    // Moving off the edge leaves cell 1, which is erased once empty.
    physics.pieces[edge - 1].body.center.x = 20.0;
    physics.rebuildGrid();
    EXPECT_EQ(physics.cells.count(Physics::gridKey(1, 0, 0)), 0u);
    EXPECT_EQ(physics.query(Box{{19, 4, 4}, {21, 6, 6}}), (std::vector<std::uint32_t>{edge, inner}));

    // A dead piece leaves the grid.
    physics.pieces[inner - 1].alive = false;
    physics.rebuildGrid();
    EXPECT_EQ(physics.cells.at(Physics::gridKey(0, 0, 0)), (std::vector<std::uint32_t>{edge}));
    EXPECT_TRUE(physics.gridEntries[inner - 1].cells.empty());
}

TEST(Grid, OnlyPiecesThatReallyMovedAreEnteredAgain) {
    Physics physics;
    const std::uint32_t moved = addBox(physics, {3, 3, 3}, {0.5, 0.5, 0.5});
    const std::uint32_t still = addBox(physics, {6, 3, 3}, {0.5, 0.5, 0.5});
    physics.rebuildGrid();
    // Forget the listings behind the grid's back: only a piece that is entered again reappears.
    physics.cells.clear();
    for (Physics::GridEntry& entry : physics.gridEntries)
        entry.cells.clear();

    physics.pieces[moved - 1].body.center.x += 1e-12;
    physics.rebuildGrid();
    EXPECT_TRUE(listed(physics, moved));
    EXPECT_EQ(physics.gridEntries[moved - 1].center, physics.pieces[moved - 1].body.center);
    EXPECT_FALSE(listed(physics, still));

    // A change of orientation or size alone is a move too.
    physics.pieces[still - 1].body.orientation = {std::sqrt(0.5), 0.0, std::sqrt(0.5), 0.0};
    physics.rebuildGrid();
    EXPECT_TRUE(listed(physics, still));
}

// The grid as updated lists every piece where a grid built afresh for the same pieces lists it.
void expectGridAsBuiltAfresh(const Physics& physics) {
    Physics fresh;
    fresh.pieces = physics.pieces;
    fresh.rebuildGrid();
    ASSERT_EQ(physics.gridEntries.size(), fresh.gridEntries.size());
    for (std::size_t index = 0; index < fresh.gridEntries.size(); ++index)
        EXPECT_TRUE(std::ranges::equal(physics.gridEntries[index].cells, fresh.gridEntries[index].cells));
    using Cells = std::map<std::uint64_t, std::vector<std::uint32_t>>;
    EXPECT_EQ(Cells(physics.cells.begin(), physics.cells.end()),
              Cells(fresh.cells.begin(), fresh.cells.end()));
}

TEST(Grid, EntriesFollowPiecesBetweenOneCellAndManyAcrossCopiesAndCompaction) {
    Physics physics;
    const std::uint32_t doomed = addBox(physics, {40, 40, 40}, {10, 10, 10}); // across eight cells
    const std::uint32_t mover = addBox(physics, {16, 16, 16}, {1, 1, 1});
    addBox(physics, {32, 16, 16}, {0.5, 0.5, 0.5}); // on a cell wall: two cells
    struct Pose {
        Vec3 center, half;
        std::size_t cells;
    };
    // One cell to eight, to two, to two others (as many keys), a beam of six, one, another one, and
    // two by the margin alone; the updates of every piece and of the noted ones take turns.
    const Pose poses[] = {{{32, 32, 32}, {1, 1, 1}, 8},     {{64, 16, 16}, {1, 1, 1}, 2},
                          {{96, 16, 16}, {1, 1, 1}, 2},     {{100, 16, 16}, {90, 1, 1}, 6},
                          {{16, 16, 16}, {1, 1, 1}, 1},     {{-16, -16, -16}, {1, 1, 1}, 1},
                          {{-0.4, 16, 16}, {0.39, 1, 1}, 2}};
    for (std::size_t k = 0; k < std::size(poses); ++k) {
        physics.pieces[mover - 1].body.center = poses[k].center;
        physics.pieces[mover - 1].body.halfExtents = poses[k].half;
        physics.noteMoved(mover - 1);
        k % 2 == 0 ? physics.rebuildNotedGrid() : physics.rebuildGrid();
        EXPECT_EQ(physics.gridEntries[mover - 1].cells.size(), poses[k].cells);
        expectGridAsBuiltAfresh(physics);
        Physics copy = physics;
        Physics moved = std::move(copy);
        copy = moved;
        expectGridAsBuiltAfresh(copy);
    }
    // A dead piece leaves its cells; compaction renumbers the rest, and their entries go with them.
    physics.remove(doomed - 1);
    physics.compactHistory();
    ASSERT_EQ(physics.pieces.size(), 2u);
    expectGridAsBuiltAfresh(physics);
    physics.pieces[0].body.center = {32, 32, 32};
    physics.rebuildGrid();
    EXPECT_EQ(physics.gridEntries[0].cells.size(), 8u);
    expectGridAsBuiltAfresh(physics);
}

TEST(Grid, QueryAnswersTheSamePiecesByGridAndByScan) {
    const Physics physics = scatteredWorld();
    // 500 m on each axis: (500/32 + 2)^3 is about 5,475 cells, so the pieces are scanned.
    const Box big{{-250, -250, -250}, {250, 250, 250}};
    const std::vector<std::uint32_t> scanned = physics.query(big);
    EXPECT_EQ(scanned, overlappingIds(physics, big));
    EXPECT_GT(scanned.size(), 100u);

    // The same box asked of the grid in eight octants (each well under 4096 cells).
    std::vector<std::uint32_t> fromGrid;
    for (int octant = 0; octant < 8; ++octant) {
        Box part = big;
        for (int k = 0; k < 3; ++k) {
            if (octant & (1 << k))
                part.min[k] = 0.0;
            else
                part.max[k] = 0.0;
        }
        const std::vector<std::uint32_t> ids = physics.query(part);
        EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
        EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
        fromGrid.insert(fromGrid.end(), ids.begin(), ids.end());
    }
    std::sort(fromGrid.begin(), fromGrid.end());
    fromGrid.erase(std::unique(fromGrid.begin(), fromGrid.end()), fromGrid.end());
    std::vector<std::uint32_t> exact;
    for (const std::uint32_t id : fromGrid)
        if (overlapping(physics.pieces[id - 1].body.bounds(), big))
            exact.push_back(id);
    EXPECT_EQ(exact, scanned);

    // 400 m on each axis: (400/32 + 2)^3 is about 3,049 cells, answered from the grid: a candidate
    // list that holds every alive piece overlapping the box, and only alive pieces.
    const Box medium{{-180, -220, -200}, {220, 180, 200}};
    const std::vector<std::uint32_t> candidates = physics.query(medium);
    const std::vector<std::uint32_t> inside = overlappingIds(physics, medium);
    EXPECT_TRUE(std::is_sorted(candidates.begin(), candidates.end()));
    EXPECT_TRUE(std::includes(candidates.begin(), candidates.end(), inside.begin(), inside.end()));
    for (const std::uint32_t id : candidates)
        EXPECT_TRUE(physics.pieces[id - 1].alive);
    EXPECT_GT(candidates.size(), inside.size()); // the grid is coarse
}

TEST(Grid, QueriesSurviveNonsenseBoxes) {
    const Physics physics = scatteredWorld();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double huge = 1e300;
    EXPECT_NO_FATAL_FAILURE(physics.query(Box{{nan, nan, nan}, {nan, nan, nan}}));
    EXPECT_TRUE(physics.query(Box{{huge, huge, huge}, {huge, huge, huge}}).empty());
    EXPECT_TRUE(physics.query(Box{{-huge, 0, 0}, {-huge, 1, 1}}).empty());
    EXPECT_EQ(physics.query(Box{{-huge, -huge, -huge}, {huge, huge, huge}}).size(), physics.aliveCount());
    EXPECT_TRUE(physics.query(Box{{10, 10, 10}, {-10, -10, -10}}).empty()); // inside out
}

TEST(Grid, TraceFindsTheNearestFaceAndRefusesBadLengths) {
    Physics physics;
    addBox(physics, {100, 0, 0}, {0.5, 0.5, 0.5}); // far, but the lower id
    const std::uint32_t nearId = addBox(physics, {10, 0.2, 0}, {0.5, 1.0, 0.5});
    MatterPiece turned;
    turned.body.center = {0, 0, 40};
    turned.body.halfExtents = {2.0, 0.5, 0.5};
    turned.body.orientation = {std::sqrt(0.5), 0.0, std::sqrt(0.5), 0.0}; // long side along z
    const std::uint32_t turnedId = physics.add(turned);
    physics.rebuildGrid();

    PieceHit hit = physics.trace({0, 0, 0}, {1, 0, 0}, 200.0);
    ASSERT_TRUE(hit.hit);
    EXPECT_EQ(hit.index, nearId - 1);
    EXPECT_NEAR(hit.distance, 9.5, 1e-12);
    EXPECT_NEAR(hit.point.x, 9.5, 1e-12);
    EXPECT_NEAR(hit.normal.x, -1.0, 1e-12);
    EXPECT_NEAR(std::abs(hit.normal.y) + std::abs(hit.normal.z), 0.0, 1e-12);

    // Through the near piece's top face from above.
    hit = physics.trace({10, 10, 0}, {0, -1, 0}, 50.0);
    ASSERT_TRUE(hit.hit);
    EXPECT_NEAR(hit.distance, 10 - 1.2, 1e-12);
    EXPECT_NEAR(hit.normal.y, 1.0, 1e-12);

    // The turned bar: its local x face now faces -z in the world.
    hit = physics.trace({0, 0, 0}, {0, 0, 1}, 100.0);
    ASSERT_TRUE(hit.hit);
    EXPECT_EQ(hit.index, turnedId - 1);
    EXPECT_NEAR(hit.distance, 38.0, 1e-9);
    EXPECT_NEAR(hit.normal.z, -1.0, 1e-9);

    // Dead pieces are not hit; the ray goes on to the far one.
    physics.pieces[nearId - 1].alive = false;
    physics.rebuildGrid();
    hit = physics.trace({0, 0, 0}, {1, 0, 0}, 200.0);
    ASSERT_TRUE(hit.hit);
    EXPECT_EQ(hit.index, 0u);
    EXPECT_NEAR(hit.distance, 99.5, 1e-12);

    // A ray far longer than the world is tested against every piece instead of walked.
    hit = physics.trace({0, 0, 0}, {1, 0, 0}, 1e300);
    ASSERT_TRUE(hit.hit);
    EXPECT_NEAR(hit.distance, 99.5, 1e-12);

    hit = physics.trace({0, 0, 0}, {1, 0, 0}, 50.0); // stops short
    EXPECT_FALSE(hit.hit);
    EXPECT_EQ(hit.distance, 50.0);

    for (const double length : {0.0, -3.0}) {
        hit = physics.trace({0, 0, 0}, {1, 0, 0}, length);
        EXPECT_FALSE(hit.hit);
        EXPECT_EQ(hit.distance, length);
    }
    for (const double length :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        hit = physics.trace({0, 0, 0}, {1, 0, 0}, length);
        EXPECT_FALSE(hit.hit);
        EXPECT_EQ(hit.distance, 0.0);
    }
    // Of two pieces hit at the same distance the lower id is reported, even when the grid offers
    // the other one first: the long twin reaches cells whose keys come before every cell of the
    // short one.
    Physics twins;
    const std::uint32_t shortTwin = addBox(twins, {20.5, 0, 0}, {0.5, 0.5, 0.5});
    const std::uint32_t longTwin = addBox(twins, {43, 0, 0}, {23, 0.5, 0.5});
    for (int far = 0; far < 8; ++far) // enough pieces that the ray is walked through the grid
        addBox(twins, {1000, 1000, 1000.0 + 2 * far}, {0.5, 0.5, 0.5});
    twins.rebuildGrid();
    const CellKeys& shortCells = twins.gridEntries[shortTwin - 1].cells;
    const CellKeys& longCells = twins.gridEntries[longTwin - 1].cells;
    ASSERT_LT(*std::min_element(longCells.begin(), longCells.end()),
              *std::min_element(shortCells.begin(), shortCells.end()));
    hit = twins.trace({0, 0, 0}, {1, 0, 0}, 100.0);
    ASSERT_TRUE(hit.hit);
    EXPECT_EQ(hit.index, shortTwin - 1);
    EXPECT_EQ(hit.distance, 20.0);

    // A ray from nowhere finds nothing and does not fault.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(physics.trace({nan, 0, 0}, {1, 0, 0}, 100.0).hit);
    EXPECT_FALSE(physics.trace({1e300, 0, 0}, {1, 0, 0}, 100.0).hit);
}

// A direction of any length walks the ray's length in metres along it (a huge one used to make the
// walk visit cells without end); one of no length, or not finite, points nowhere.
TEST(Grid, TraceTakesDirectionsOfAnyLengthAsTheirUnitDirection) {
    Physics physics;
    addBox(physics, {10, 0, 0}, {0.5, 0.5, 0.5});
    for (int far = 0; far < 8; ++far) // enough pieces that the ray is walked through the grid
        addBox(physics, {1000, 1000, 1000.0 + 2 * far}, {0.5, 0.5, 0.5});
    physics.rebuildGrid();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        Vec3 direction;
        bool hit;
    };
    for (const Case c : {Case{{1e200, 0, 0}, true}, Case{{1e-200, 0, 0}, true}, Case{{2, 0, 0}, true},
                         Case{{3, 4e-300, 0}, true}, Case{{0, 0, 0}, false}, Case{{-1e300, 0, 0}, false},
                         Case{{nan, 1, 0}, false}, Case{{inf, 0, 0}, false}}) {
        const PieceHit hit = physics.trace({0, 0, 0}, c.direction, 100.0);
        EXPECT_EQ(hit.hit, c.hit) << c.direction.x;
        EXPECT_EQ(hit.distance, c.hit ? 9.5 : 100.0) << c.direction.x;
    }
}

// The store takes no piece too large for the grid to list, since no query would find it; the
// largest it takes is listed at any turn.
TEST(Grid, TheStoreTakesOnlyPiecesTheGridCanList) {
    Physics physics;
    EXPECT_EQ(addBox(physics, {0, 0, 0}, {3000, 1, 1}), 0u);
    EXPECT_EQ(addBox(physics, {0, 0, 0}, {1, std::numeric_limits<double>::quiet_NaN(), 1}), 0u);
    MatterPiece largest;
    largest.body.halfExtents = {1154.0, 1154.0, 1154.0}; // just under 2,000 m corner to centre
    largest.body.orientation = {std::cos(0.3), std::sin(0.3) / std::sqrt(3.0), std::sin(0.3) / std::sqrt(3.0),
                                std::sin(0.3) / std::sqrt(3.0)};
    const std::uint32_t id = physics.add(largest);
    ASSERT_EQ(id, 1u);
    physics.rebuildGrid();
    EXPECT_EQ(physics.query(Box{{1100, -5, -5}, {1101, 5, 5}}), std::vector<std::uint32_t>{id});
}

TEST(Grid, TraceAgreesWithTestingEveryPiece) {
    const Physics physics = scatteredWorld();
    std::uint64_t state = 7;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / 9007199254740992.0 * 2.0 - 1.0;
    };
    int hits = 0;
    for (int ray = 0; ray < 400; ++ray) {
        // Most rays are aimed near a piece, so that hits and grazing misses are common.
        const Vec3 origin{next() * 320, next() * 320, next() * 320};
        const Vec3 target = physics.pieces[static_cast<std::size_t>(std::abs(next()) * 599)].body.center +
                            Vec3{next(), next(), next()} * 6.0;
        const Vec3 direction = normalized(ray % 4 == 0 ? Vec3{next(), next(), next()} : target - origin);
        const double length = ray % 3 == 0 ? 2000.0 : 50 + 300 * std::abs(next());
        std::uint32_t expectedIndex = 0;
        double best = length;
        bool expectedHit = false;
        for (const MatterPiece& piece : physics.pieces) {
            if (!piece.alive)
                continue;
            const double t = tracePolyhedron(origin, direction, piece.body, best);
            if (t >= 0.0 && t < best) {
                best = t;
                expectedIndex = piece.id - 1;
                expectedHit = true;
            }
        }
        const PieceHit hit = physics.trace(origin, direction, length);
        ASSERT_EQ(hit.hit, expectedHit) << ray;
        ASSERT_EQ(hit.distance, best) << ray;
        if (expectedHit) {
            ASSERT_EQ(hit.index, expectedIndex) << ray;
            ++hits;
        }
    }
    EXPECT_GT(hits, 40);
}

TEST(Grid, SweepStopsAtTheFirstPieceInTheWay) {
    Physics physics;
    addBox(physics, {8, 0, 0}, {0.5, 0.5, 0.5});
    const std::uint32_t first = addBox(physics, {5, 0, 0}, {0.5, 0.5, 0.5});
    const std::uint32_t dead = addBox(physics, {2.5, 0, 0}, {0.5, 0.5, 0.5});
    physics.pieces[dead - 1].alive = false;
    physics.rebuildGrid();

    Polyhedron body;
    body.halfExtents = {0.5, 0.5, 0.5};
    body.mass = 80;
    double depth = -1.0;
    BodySweep sweep = physics.sweepBody(body, {10, 0, 0}, depth);
    ASSERT_TRUE(sweep.hit);
    EXPECT_EQ(sweep.index, first - 1);
    EXPECT_NEAR(sweep.fraction, 0.4, 1e-9);
    EXPECT_NEAR(sweep.position.x, 4.0, 1e-9);
    EXPECT_NEAR(sweep.normal.x, -1.0, 1e-9);
    EXPECT_EQ(depth, 0.0);

    // Already overlapping at the start: fraction 0 and the overlap as depth.
    body.center = {4.3, 0, 0};
    sweep = physics.sweepBody(body, {0, 1, 0}, depth);
    ASSERT_TRUE(sweep.hit);
    EXPECT_EQ(sweep.index, first - 1);
    EXPECT_EQ(sweep.fraction, 0.0);
    EXPECT_NEAR(depth, 0.3, 1e-9);

    // Nothing in the way.
    body.center = {0, 10, 0};
    sweep = physics.sweepBody(body, {10, 0, 0}, depth);
    EXPECT_FALSE(sweep.hit);
    EXPECT_EQ(sweep.index, 0xFFFFFFFFu);
    EXPECT_EQ(sweep.fraction, 1.0);
    EXPECT_EQ(depth, 0.0);
}

} // namespace
} // namespace zarn
