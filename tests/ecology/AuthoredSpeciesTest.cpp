#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"

namespace zarn {
namespace {

using ecotest::bodyGravity;
using ecotest::bodyStep;
using ecotest::flatModel;
using ecotest::pieceAt;

struct Standing {
    std::uint32_t firstId = 0;
    std::size_t boxes = 0;
    std::set<std::pair<std::uint32_t, std::uint32_t>> bonds; // its own, by organism ids
};

// Every species of group A alone on flat ground, 20 m from the next, without food: through ten minutes
// of body steps its blocks stay green and keep their own bonds, and bond to nothing else (the world's
// bonds would break at the first turn, a stray face's at once). Copies fall far away.
TEST(AuthoredSpecies, EachLivingSpeciesAloneKeepsItsBudgetAndItsBondsForTenMinutes) {
    Ecology ecology;
    std::string error;
    ASSERT_TRUE(ecology.load(ZARN_ECOSYSTEM_CATALOGUE, error)) << error;
    ASSERT_FALSE(ecology.speciesA.empty());
    Physics physics;
    MatterPiece ground = pieceAt({0.0, -10.0, 150.0}, 10.0, true);
    ground.body.halfExtents = {200.0, 10.0, 250.0};
    physics.add(ground);
    physics.refreshTopology();
    ecology.areaSet = true;
    ecology.areaCenter = {0.0, 0.0, 300.0};
    ecology.areaRadius = 40.0;

    std::vector<Standing> standing;
    for (std::size_t k = 0; k < ecology.speciesA.size(); ++k) {
        const BioAssembly& species = ecology.speciesA[k];
        Standing s{static_cast<std::uint32_t>(ecology.nextId), species.boxes.size(), {}};
        ecology.spawnAssembly(species, {20.0 * static_cast<double>(k) - 50.0, 0.0, 0.0}, 1);
        for (const auto& [i, j] : species.bonds)
            s.bonds.insert(
                {s.firstId + static_cast<std::uint32_t>(i), s.firstId + static_cast<std::uint32_t>(j)});
        standing.push_back(s);
    }
    auto standingOf = [&](std::uint32_t id) -> const Standing* {
        for (const Standing& s : standing)
            if (id >= s.firstId && id < s.firstId + s.boxes)
                return &s;
        return nullptr;
    };

    for (int step = 0; step < 36000; ++step) {
        ecology.moveBodies(physics, flatModel(), {0.0, 0.0, 300.0}, bodyGravity, bodyStep);
        for (const BioBond& bond : ecology.bonds) {
            const Standing* s = standingOf(bond.a);
            if (!s && !bond.toWorld)
                s = standingOf(bond.b);
            if (s) {
                ASSERT_TRUE(!bond.toWorld && s->bonds.contains({bond.a, bond.b}))
                    << "step " << step << ": " << bond.a << " bonds to " << bond.b;
            }
        }
    }
    for (const Standing& s : standing) {
        double pool = 0.0;
        std::size_t bonds = 0;
        for (const Organism& o : ecology.organisms)
            if (o.id >= s.firstId && o.id < s.firstId + s.boxes) {
                EXPECT_TRUE(o.alive && !o.gray) << o.species << " block " << o.id;
                pool += o.massBudget;
            }
        for (const BioBond& bond : ecology.bonds)
            bonds += s.bonds.contains({bond.a, bond.b}) && bond.active;
        EXPECT_GT(pool, 0.0) << s.firstId;
        EXPECT_EQ(bonds, s.bonds.size()) << s.firstId;
    }
}

} // namespace
} // namespace zarn
