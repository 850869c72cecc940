#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "EcologyScene.hpp"
#include "ecology/BlockSignature.hpp"
#include "physics/Hash.hpp"

namespace zarn {
namespace {

using Bonds = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
constexpr Ability T = Ability::Thrust, A = Ability::Absorption, C = Ability::Connection;

BioAssembly assembly(const std::vector<Ability>& abilities, const Bonds& bonds) {
    BioAssembly a;
    for (const Ability ability : abilities) {
        a.boxes.emplace_back();
        a.boxes.back().ability = ability;
    }
    a.bonds = bonds;
    return a;
}

// Box i of the copy is box order[i] of the original, moved and resized; bonds follow their boxes.
BioAssembly relabelled(const BioAssembly& original, const std::vector<std::uint64_t>& order) {
    BioAssembly copy = original;
    std::vector<std::uint64_t> place(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        copy.boxes[i] = original.boxes[order[i]];
        copy.boxes[i].position = {3.0 * i, -1.0, 0.5 * i};
        copy.boxes[i].halfExtents = {0.2 + 0.1 * i, 0.4, 1.5};
        place[order[i]] = i;
    }
    for (auto& [a, b] : copy.bonds)
        if (a < order.size() && b < order.size())
            std::tie(a, b) = std::pair(place[b], place[a]);
    return copy;
}

BioAssembly lattice(std::uint64_t width, std::uint64_t depth, bool closed = false) {
    BioAssembly a = assembly(std::vector<Ability>(width * depth, C), {});
    for (std::uint64_t i = 0; i < width * depth; ++i) {
        if (i % width + 1 < width || (closed && width > 2))
            a.bonds.emplace_back(i, i % width + 1 < width ? i + 1 : i + 1 - width);
        if (i + width < width * depth)
            a.bonds.emplace_back(i, i + width);
    }
    return a;
}

// The key search as first written: refinement passes over whole cell vectors and every leaf of the
// tree visited, only twins skipped. The game's search must find the same key.
struct LiteralSearch {
    using Cells = std::vector<std::vector<std::size_t>>;
    const BioAssembly& a;
    std::vector<std::vector<bool>> adj{a.boxes.size(), std::vector<bool>(a.boxes.size())};

    std::string key() {
        for (const auto& [i, j] : a.bonds)
            if (i < adj.size() && j < adj.size())
                adj[i][j] = adj[j][i] = true;
        Cells cells;
        for (int ability = 0; ability <= 2; ++ability) {
            cells.emplace_back();
            for (std::size_t v = 0; v < adj.size(); ++v)
                if (static_cast<int>(a.boxes[v].ability) == ability)
                    cells.back().push_back(v);
            if (cells.back().empty())
                cells.pop_back();
        }
        return search(cells);
    }
    std::string search(Cells cells) {
        for (std::size_t before = 0; before != cells.size();) {
            before = cells.size();
            Cells next;
            for (const auto& cell : cells) {
                std::vector<std::pair<std::vector<int>, std::size_t>> signed_;
                for (const std::size_t v : cell) {
                    signed_.push_back({{}, v});
                    for (const auto& other : cells)
                        signed_.back().first.push_back(static_cast<int>(std::count_if(
                            other.begin(), other.end(), [&](std::size_t x) { return adj[v][x]; })));
                }
                std::stable_sort(signed_.begin(), signed_.end(),
                                 [](const auto& x, const auto& y) { return x.first < y.first; });
                for (std::size_t i = 0; i < signed_.size(); ++i) {
                    if (i == 0 || signed_[i].first != signed_[i - 1].first)
                        next.emplace_back();
                    next.back().push_back(signed_[i].second);
                }
            }
            cells = next;
        }
        std::size_t target = cells.size();
        for (std::size_t c = 0; c < cells.size(); ++c)
            if (cells[c].size() > 1 && (target == cells.size() || cells[c].size() < cells[target].size()))
                target = c;
        if (target == cells.size()) {
            std::string key = "topology-v1:" + std::to_string(cells.size()) + ":";
            for (const auto& cell : cells)
                key += std::to_string(static_cast<int>(a.boxes[cell[0]].ability)) + ",";
            key += ":";
            for (std::size_t i = 0; i < cells.size(); ++i)
                for (std::size_t j = i + 1; j < cells.size(); ++j)
                    key += adj[cells[i][0]][cells[j][0]] ? '1' : '0';
            return key;
        }
        std::string best;
        std::vector<std::size_t> tried;
        for (const std::size_t v : cells[target]) {
            const auto twin = [&](std::size_t u) {
                for (std::size_t x = 0; x < adj.size(); ++x)
                    if (x != u && x != v && adj[u][x] != adj[v][x])
                        return false;
                return true;
            };
            if (std::any_of(tried.begin(), tried.end(), twin))
                continue;
            tried.push_back(v);
            Cells child = cells;
            child[target].erase(std::find(child[target].begin(), child[target].end(), v));
            child.insert(child.begin() + static_cast<std::ptrdiff_t>(target), {v});
            const std::string key = search(child);
            if (best.empty() || key < best)
                best = key;
        }
        return best;
    }
};

// A deterministic shuffle of 0..n-1.
std::vector<std::uint64_t> shuffled(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint64_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    for (std::size_t i = n; i > 1; --i)
        std::swap(order[i - 1], order[hash32(seed + static_cast<std::uint32_t>(i)) % i]);
    return order;
}

std::vector<BioAssembly> shapes() {
    std::vector<BioAssembly> list = {
        assembly({}, {}),
        assembly({T, C, A}, {{0, 1}, {1, 2}}),
        lattice(4, 1, true),
        lattice(9, 1),
        lattice(4, 3),
        lattice(3, 3, true),
        assembly({C, C, C, C}, {{0, 1}, {0, 2}, {0, 3}}),
        assembly({A, A, C, C}, {{0, 0}, {0, 2}, {1, 3}, {2, 3}, {2, 3}, {1, 9}}), // loop, twice, out of range
    };
    // Random graphs, rings with chords (circulants), and copies of one small graph with loops or
    // their complement: the last two are rich in automorphisms, which the search prunes by.
    for (std::uint32_t seed = 0; seed < 600; ++seed) {
        const auto draw = [&](std::uint64_t salt, std::uint32_t range) {
            return hash32(seed * 7919 + static_cast<std::uint32_t>(salt)) % range;
        };
        const std::uint64_t h = 1 + draw(0, 4), n = seed % 3 == 2 ? h * (1 + draw(1, 3)) : 1 + draw(2, 12);
        std::vector<Ability> abilities;
        for (std::uint64_t v = 0; v < n; ++v)
            abilities.push_back(Ability(seed % 3 == 1 ? 2 : draw(3 + v % h, 1 + seed % 4 % 3)));
        const auto bonded = [&](std::uint64_t i, std::uint64_t j) {
            if (i == j)
                return seed % 3 == 2 && draw(20 + i % h * 6, 3) == 0;
            if (seed % 3 == 0)
                return draw(20 + i * 13 + j, 8) < seed % 8;
            if (seed % 3 == 1) // by the distance round the ring
                return draw(20 + std::min(j - i, n + i - j), 2) != 0;
            return (i / h == j / h && draw(20 + i % h * 5 + j % h, 3) == 0) != (seed % 2 == 1);
        };
        BioAssembly a = assembly(abilities, {});
        for (std::uint64_t i = 0; i < n; ++i)
            for (std::uint64_t j = i; j < n; ++j)
                if (bonded(i, j))
                    a.bonds.emplace_back(i, j);
        list.push_back(a);
    }
    return list;
}

TEST(TopologyKey, SmallestLeafKeyWhateverTheBoxOrderAndCachedAlike) {
    Ecology ecology;
    TopologyKeyCache tiny(1); // forgets all but the last structure
    std::uint32_t seed = 7;
    for (const BioAssembly& shape : shapes()) {
        const std::string key = canonicalTopologyKey(shape);
        EXPECT_EQ(key, LiteralSearch{shape}.key()) << key;
        const BioAssembly other = relabelled(shape, shuffled(shape.boxes.size(), ++seed));
        EXPECT_EQ(canonicalTopologyKey(other), key);
        for (const BioAssembly* asked : {&shape, &other, &shape}) {
            EXPECT_EQ(ecology.topologyKey(*asked), key);
            EXPECT_EQ(ecology.speciesName(*asked), speciesNameOf(key));
            EXPECT_EQ(tiny.lookup(*asked).key, key);
        }
    }
}

TEST(TopologyKey, SpecimenKeysAndNames) {
    const BioAssembly ring = lattice(4, 1, true), star = assembly({C, C, C, C}, {{1, 0}, {1, 2}, {1, 3}});
    const struct {
        BioAssembly shape;
        std::string key, name;
    } cases[] = {
        {assembly({}, {}), "topology-v1:0::", "species-6b90e1ab2f5ca904"},
        {assembly({T}, {}), "topology-v1:1:0,:", "species-b3af4636df1591ef"},
        {assembly({A}, {}), "topology-v1:1:1,:", "species-abfa9b36dafdad2c"},
        {assembly({C}, {}), "topology-v1:1:2,:", "species-a36c7436d62d04f5"},
        {assembly({T, C, A}, {{0, 1}, {1, 2}}), "topology-v1:3:0,1,2,:011", "species-3ceda23b081d45f2"},
        {assembly({C, T, A}, {{0, 1}, {1, 2}}), "topology-v1:3:0,1,2,:110", "species-45fd523b0d5c51de"},
        {ring, "topology-v1:4:2,2,2,2,:011110", "species-3e2ed7a1fa046ab4"},
        {star, "topology-v1:4:2,2,2,2,:001011", "species-405d917c2496023b"},
        {assembly({A, A, A}, {}), "topology-v1:3:1,1,1,:000", "species-97bd48636eb0a6"},
        {assembly({A, A, A}, {{0, 1}, {1, 2}, {0, 2}}), "topology-v1:3:1,1,1,:111",
         "species-9aaf34868b0d61b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(canonicalTopologyKey(c.shape), c.key);
        EXPECT_EQ(speciesNameOf(c.key), c.name);
    }
    // Whichever box of the ring comes first, and so is individualised first, the key stays.
    for (std::uint64_t first = 0; first < 4; ++first)
        EXPECT_EQ(canonicalTopologyKey(
                      relabelled(ring, {first, (first + 1) % 4, (first + 3) % 4, (first + 2) % 4})),
                  cases[6].key);
}

TEST(BlockSignature, SeventeenDigitsAndAStableOrder) {
    Organism thrust = ecotest::block({5.0, 1.0, 2.0}, 0.5, T);
    EXPECT_EQ(blockSignature(thrust), "0 0.5 0.5 0.5 0 0 1 6 800 63");
    Organism odd = ecotest::block({}, 0.1, C);
    odd.axis = {-0.0, 1e21, 1.0 / 3.0};
    odd.faceMask = 5;
    EXPECT_EQ(
        blockSignature(odd),
        "2 0.10000000000000001 0.10000000000000001 0.10000000000000001 -0 1e+21 0.33333333333333331 6 800 5");
    const std::vector<Organism> organisms = {odd, odd, thrust, odd};
    std::vector<std::uint64_t> members = {3, 1, 2, 0};
    sortBySignature(members, organisms);
    EXPECT_EQ(members, (std::vector<std::uint64_t>{2, 3, 1, 0}));
}

} // namespace
} // namespace zarn
