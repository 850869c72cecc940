#include "ecology/TopologyKey.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <optional>
#include <span>

#include "ecology/Ecology.hpp"
#include "physics/Hash.hpp"

namespace zarn {

namespace {

using Vertex = std::uint32_t;

constexpr std::string_view keyPrefix = "topology-v1:";

// The bond graph of an assembly: one vertex per box, coloured by its ability. Rows are held as bit
// sets (for twins and for reading keys) and as neighbour lists (for refinement). A bond from a box to
// itself is a loop: it counts as a neighbour in refinement but shows in no key.
class BondGraph {
  public:
    explicit BondGraph(const BioAssembly& assembly)
        : size_(assembly.boxes.size()), words_((size_ + 63) / 64), bits_(size_ * words_, 0),
          neighbourStart_(size_ + 1, 0) {
        for (const auto& [first, second] : assembly.bonds)
            if (first < size_ && second < size_) {
                set(static_cast<Vertex>(first), static_cast<Vertex>(second));
                set(static_cast<Vertex>(second), static_cast<Vertex>(first));
            }
        for (Vertex v = 0; v < size_; ++v) {
            for (Vertex w = 0; w < size_; ++w)
                if (adjacent(v, w))
                    neighbours_.push_back(w);
            neighbourStart_[v + 1] = static_cast<std::uint32_t>(neighbours_.size());
        }
        abilities_.reserve(size_);
        for (const BioTemplate& box : assembly.boxes)
            abilities_.push_back(box.ability);
    }

    std::size_t size() const { return size_; }
    Ability ability(Vertex v) const { return abilities_[v]; }
    bool adjacent(Vertex v, Vertex w) const { return (bits_[v * words_ + w / 64] >> (w % 64)) & 1u; }
    std::span<const Vertex> neighbours(Vertex v) const {
        return {neighbours_.data() + neighbourStart_[v], neighbours_.data() + neighbourStart_[v + 1]};
    }
    // u and v have the same neighbours apart from each other (and themselves).
    bool twins(Vertex u, Vertex v) const {
        for (std::size_t k = 0; k < words_; ++k) {
            std::uint64_t differ = bits_[u * words_ + k] ^ bits_[v * words_ + k];
            for (const Vertex x : {u, v})
                if (x / 64 == k)
                    differ &= ~(std::uint64_t{1} << (x % 64));
            if (differ != 0)
                return false;
        }
        return true;
    }

  private:
    void set(Vertex v, Vertex w) { bits_[v * words_ + w / 64] |= std::uint64_t{1} << (w % 64); }

    std::size_t size_;
    std::size_t words_;
    std::vector<std::uint64_t> bits_;
    std::vector<std::uint32_t> neighbourStart_;
    std::vector<Vertex> neighbours_;
    std::vector<Ability> abilities_;
};

// An ordered partition of the vertices into cells, each a run of positions in `order`. A cell is named
// by its first position, so comparing names compares the cells' places in the order.
struct Partition {
    std::vector<Vertex> order;
    std::vector<std::uint32_t> cellOf;  // by vertex: the first position of its cell
    std::vector<std::uint32_t> cellEnd; // by the first position of a cell: one past its last position
    std::size_t cells = 0;

    bool discrete() const { return cells == order.size(); }
    // The first position whose cell holds more than one vertex (the size when there is none).
    std::uint32_t firstShared() const {
        std::uint32_t start = 0;
        while (start < order.size() && cellEnd[start] == start + 1)
            ++start;
        return start;
    }
};

// One cell per ability present, in ascending ability, the boxes ascending within each.
Partition byAbility(const BondGraph& graph) {
    const auto n = static_cast<Vertex>(graph.size());
    Partition p;
    p.order.resize(n);
    std::iota(p.order.begin(), p.order.end(), Vertex{0});
    std::stable_sort(p.order.begin(), p.order.end(),
                     [&](Vertex a, Vertex b) { return graph.ability(a) < graph.ability(b); });
    p.cellOf.resize(n);
    p.cellEnd.assign(n, n);
    for (std::uint32_t pos = 0, start = 0; pos < n; ++pos) {
        if (pos > 0 && graph.ability(p.order[pos]) != graph.ability(p.order[pos - 1])) {
            p.cellEnd[start] = pos;
            start = pos;
        }
        if (pos == start)
            ++p.cells;
        p.cellOf[p.order[pos]] = start;
    }
    return p;
}

// How many neighbours a vertex has in one cell; a signature lists them by cell, leaving out the cells
// it has none in.
struct CellCount {
    std::uint32_t cell;
    std::uint32_t count;
};

// Orders two signatures as their full count vectors over every cell of the partition would be ordered:
// a cell listed on one side only holds a count above the other side's zero there.
int compareSignatures(std::span<const CellCount> a, std::span<const CellCount> b) {
    std::size_t i = 0;
    for (; i < a.size() && i < b.size(); ++i) {
        if (a[i].cell != b[i].cell)
            return a[i].cell < b[i].cell ? 1 : -1;
        if (a[i].count != b[i].count)
            return a[i].count < b[i].count ? -1 : 1;
    }
    return a.size() > i ? 1 : (b.size() > i ? -1 : 0);
}

// Colour refinement. Each pass gives every vertex its signature over the partition as the pass found
// it, splits every cell into groups of equal signature (vertices keep their order within a group) and
// puts the groups in ascending order of signature where the cell stood; passes repeat until one splits
// nothing. Only cells that hold a neighbour of a vertex whose cell split in the last pass can split in
// the next, and of each split cell one group may be left out of that test: its counts follow from the
// other groups' and the old cell's, which every vertex of a cell shares.
class Refiner {
  public:
    explicit Refiner(const BondGraph& graph) : graph_(graph), cutAt_(graph.size() + 1, 0) {}

    // Refines the whole partition: the first pass looks at every cell.
    void refineAll(Partition& p) {
        std::vector<std::uint32_t> cells;
        for (std::uint32_t start = 0; start < p.order.size(); start = p.cellEnd[start])
            cells.push_back(start);
        refine(p, std::move(cells));
    }

    // Refines after the vertex was split off its cell of an otherwise finished partition.
    void refineAfter(Partition& p, Vertex individualised) {
        refine(p, neighbourCells(p, std::span<const Vertex>(&individualised, 1)));
    }

  private:
    void refine(Partition& p, std::vector<std::uint32_t> dirty) {
        while (!dirty.empty()) {
            std::sort(dirty.begin(), dirty.end());
            dirty.erase(std::unique(dirty.begin(), dirty.end()), dirty.end());
            split_.clear();
            for (const std::uint32_t start : dirty)
                sortCell(p, start);
            moved_.clear();
            for (const std::uint32_t start : split_)
                applySplit(p, start);
            dirty = neighbourCells(p, moved_);
        }
    }

    // Sorts one cell by signature over the partition as the pass found it and marks where its groups
    // begin; the partition's cells are rewritten only once every cell of the pass is sorted.
    void sortCell(Partition& p, std::uint32_t start) {
        const std::uint32_t end = p.cellEnd[start];
        if (end - start < 2)
            return;
        entries_.clear();
        entryStart_.clear();
        for (std::uint32_t pos = start; pos < end; ++pos) {
            entryStart_.push_back(static_cast<std::uint32_t>(entries_.size()));
            appendSignature(p, p.order[pos]);
        }
        entryStart_.push_back(static_cast<std::uint32_t>(entries_.size()));
        const auto signature = [&](std::uint32_t i) {
            return std::span<const CellCount>(entries_.data() + entryStart_[i],
                                              entries_.data() + entryStart_[i + 1]);
        };
        rank_.resize(end - start);
        std::iota(rank_.begin(), rank_.end(), std::uint32_t{0});
        std::stable_sort(rank_.begin(), rank_.end(), [&](std::uint32_t a, std::uint32_t b) {
            return compareSignatures(signature(a), signature(b)) < 0;
        });
        if (compareSignatures(signature(rank_.front()), signature(rank_.back())) == 0)
            return;
        scratch_.assign(p.order.begin() + start, p.order.begin() + end);
        for (std::uint32_t i = 0; i < rank_.size(); ++i) {
            p.order[start + i] = scratch_[rank_[i]];
            if (i > 0 && compareSignatures(signature(rank_[i - 1]), signature(rank_[i])) != 0)
                cutAt_[start + i] = 1;
        }
        split_.push_back(start);
    }

    void appendSignature(const Partition& p, Vertex v) {
        cellsSeen_.clear();
        for (const Vertex w : graph_.neighbours(v))
            cellsSeen_.push_back(p.cellOf[w]);
        std::sort(cellsSeen_.begin(), cellsSeen_.end());
        for (std::size_t i = 0; i < cellsSeen_.size(); ++i) {
            if (i == 0 || cellsSeen_[i] != cellsSeen_[i - 1])
                entries_.push_back({cellsSeen_[i], 0});
            ++entries_.back().count;
        }
    }

    // Turns the marked groups of a sorted cell into cells, and remembers the vertices of all groups
    // but the first largest one.
    void applySplit(Partition& p, std::uint32_t start) {
        const std::uint32_t end = p.cellEnd[start];
        std::vector<std::uint32_t>& groups = groupStart_;
        groups.clear();
        for (std::uint32_t pos = start; pos < end; ++pos)
            if (pos == start || cutAt_[pos]) {
                groups.push_back(pos);
                cutAt_[pos] = 0;
            }
        groups.push_back(end);
        std::size_t largest = 0;
        for (std::size_t g = 0; g + 1 < groups.size(); ++g)
            if (groups[g + 1] - groups[g] > groups[largest + 1] - groups[largest])
                largest = g;
        for (std::size_t g = 0; g + 1 < groups.size(); ++g) {
            p.cellEnd[groups[g]] = groups[g + 1];
            for (std::uint32_t pos = groups[g]; pos < groups[g + 1]; ++pos) {
                p.cellOf[p.order[pos]] = groups[g];
                if (g != largest)
                    moved_.push_back(p.order[pos]);
            }
        }
        p.cells += groups.size() - 2;
    }

    std::vector<std::uint32_t> neighbourCells(const Partition& p, std::span<const Vertex> vertices) const {
        std::vector<std::uint32_t> cells;
        for (const Vertex v : vertices)
            for (const Vertex w : graph_.neighbours(v))
                cells.push_back(p.cellOf[w]);
        return cells;
    }

    const BondGraph& graph_;
    std::vector<std::uint8_t> cutAt_; // by position: a group of a sorted cell begins here
    std::vector<std::uint32_t> split_;
    std::vector<Vertex> moved_;
    std::vector<CellCount> entries_;
    std::vector<std::uint32_t> entryStart_;
    std::vector<std::uint32_t> rank_;
    std::vector<Vertex> scratch_;
    std::vector<std::uint32_t> cellsSeen_;
    std::vector<std::uint32_t> groupStart_;
};

// The child of a node: the vertex at the position becomes a cell of its own at the front of its cell,
// the cell's other vertices following in their order.
Partition individualise(const Partition& p, std::uint32_t pos) {
    Partition child = p;
    const std::uint32_t start = p.cellOf[p.order[pos]];
    const Vertex v = p.order[pos];
    std::copy_backward(p.order.begin() + start, p.order.begin() + pos, child.order.begin() + pos + 1);
    child.order[start] = v;
    child.cellEnd[start + 1] = p.cellEnd[start];
    child.cellEnd[start] = start + 1;
    for (std::uint32_t q = start + 1; q < child.cellEnd[start + 1]; ++q)
        child.cellOf[child.order[q]] = start + 1;
    ++child.cells;
    return child;
}

// Union-find over the vertices: the orbits of the automorphisms known so far that fix a node.
class Orbits {
  public:
    explicit Orbits(std::size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), Vertex{0}); }
    Vertex find(Vertex v) {
        while (parent_[v] != v) {
            parent_[v] = parent_[parent_[v]];
            v = parent_[v];
        }
        return v;
    }
    void join(Vertex a, Vertex b) {
        a = find(a);
        b = find(b);
        if (a != b)
            parent_[std::max(a, b)] = std::min(a, b);
    }

  private:
    std::vector<Vertex> parent_;
};

// The search for the smallest key over the leaves of the tree of refined partitions. Beyond twins it
// skips whatever cannot hold a smaller key, so the result is the same as the whole tree's:
// - a node whose rows already fixed by its single-vertex cells read above the best leaf's;
// - a child that an automorphism fixing the node maps onto a child already searched (both subtrees
//   hold the same keys); automorphisms are found as two leaves with the same key;
// - after such a find, the rest of the subtree where the two leaves' paths part.
class CanonicalSearch {
  public:
    explicit CanonicalSearch(const BondGraph& graph) : graph_(graph), refiner_(graph) {}

    std::vector<Vertex> bestOrder() {
        Partition root = byAbility(graph_);
        refiner_.refineAll(root);
        explore(root, {});
        return best_.order;
    }

  private:
    struct Leaf {
        std::vector<Vertex> order;
        std::vector<Vertex> path; // the vertices individualised on the way, from the root
    };

    // What a node knows of its fixed rows against the best leaf: every leaf below it is smaller
    // (`below`), or its first `equalRows` rows are the best leaf's.
    struct Standing {
        bool below = false;
        std::size_t equalRows = 0;
    };

    // Searches below a refined node; a depth in the result asks the nodes below it to give up.
    std::optional<std::size_t> explore(const Partition& p, Standing standing) {
        if (p.discrete())
            return visitLeaf(p.order, standing);
        const std::size_t rows = p.firstShared();
        if (bestChanges_ != 0 && !standing.below) {
            const int order = compareRows(p.order, best_.order, standing.equalRows, rows);
            if (order > 0)
                return std::nullopt;
            standing = {order < 0, rows};
        }
        const std::size_t depth = path_.size();
        const std::uint32_t start = targetCell(p);
        std::vector<Vertex> tried;
        std::optional<Orbits> orbits;
        std::size_t automorphismsSeen = 0;
        std::uint64_t bestSeen = bestChanges_;
        for (std::uint32_t pos = start; pos < p.cellEnd[start]; ++pos) {
            const Vertex v = p.order[pos];
            if (covered(v, tried, orbits, automorphismsSeen))
                continue;
            // A new best leaf lies below this node, so it shares this node's fixed rows.
            if (bestChanges_ != bestSeen) {
                standing = {false, rows};
                bestSeen = bestChanges_;
            }
            tried.push_back(v);
            Partition child = individualise(p, pos);
            refiner_.refineAfter(child, v);
            path_.push_back(v);
            const std::optional<std::size_t> resume = explore(child, standing);
            path_.pop_back();
            if (resume && *resume < depth)
                return resume;
        }
        return std::nullopt;
    }

    // Among cells of more than one vertex, the first of the smallest size.
    static std::uint32_t targetCell(const Partition& p) {
        std::uint32_t target = 0;
        std::uint32_t targetSize = 0;
        for (std::uint32_t start = 0; start < p.order.size(); start = p.cellEnd[start]) {
            const std::uint32_t size = p.cellEnd[start] - start;
            if (size > 1 && (targetSize == 0 || size < targetSize)) {
                target = start;
                targetSize = size;
            }
        }
        return target;
    }

    // Whether the child of v holds the same keys as the child of a vertex already tried here: a twin
    // of it, or its image under an automorphism found so far that fixes every vertex on the path.
    bool covered(Vertex v, const std::vector<Vertex>& tried, std::optional<Orbits>& orbits,
                 std::size_t& seen) const {
        if (tried.empty())
            return false;
        if (std::any_of(tried.begin(), tried.end(), [&](Vertex u) { return graph_.twins(u, v); }))
            return true;
        if (!orbits)
            orbits.emplace(graph_.size());
        for (; seen < automorphisms_.size(); ++seen) {
            const std::vector<Vertex>& image = automorphisms_[seen];
            if (std::all_of(path_.begin(), path_.end(), [&](Vertex x) { return image[x] == x; }))
                for (Vertex x = 0; x < image.size(); ++x)
                    orbits->join(x, image[x]);
        }
        const Vertex orbit = orbits->find(v);
        return std::any_of(tried.begin(), tried.end(), [&](Vertex u) { return orbits->find(u) == orbit; });
    }

    std::optional<std::size_t> visitLeaf(const std::vector<Vertex>& order, const Standing& standing) {
        const int vsBest = bestChanges_ == 0 || standing.below
                               ? -1
                               : compareRows(order, best_.order, standing.equalRows, order.size());
        if (vsBest < 0) {
            best_ = {order, path_};
            if (bestChanges_++ == 0)
                first_ = best_;
            return std::nullopt;
        }
        const Leaf* same = vsBest == 0 ? &best_ : nullptr;
        if (!same && bestChanges_ > 1 && compareRows(order, first_.order, 0, order.size()) == 0)
            same = &first_;
        if (!same || !sameLoops(order, same->order))
            return std::nullopt;
        std::vector<Vertex> image(order.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            image[same->order[i]] = order[i];
        automorphisms_.push_back(std::move(image));
        const auto parted = std::mismatch(path_.begin(), path_.end(), same->path.begin(), same->path.end());
        return static_cast<std::size_t>(parted.first - path_.begin());
    }

    // Compares rows from..to-1 of the upper triangles of two orders' adjacency matrices as key text.
    int compareRows(const std::vector<Vertex>& a, const std::vector<Vertex>& b, std::size_t from,
                    std::size_t to) const {
        for (std::size_t i = from; i < to; ++i)
            for (std::size_t j = i + 1; j < a.size(); ++j) {
                const bool x = graph_.adjacent(a[i], a[j]);
                const bool y = graph_.adjacent(b[i], b[j]);
                if (x != y)
                    return x ? 1 : -1;
            }
        return 0;
    }

    bool sameLoops(const std::vector<Vertex>& a, const std::vector<Vertex>& b) const {
        for (std::size_t i = 0; i < a.size(); ++i)
            if (graph_.adjacent(a[i], a[i]) != graph_.adjacent(b[i], b[i]))
                return false;
        return true;
    }

    const BondGraph& graph_;
    Refiner refiner_;
    std::vector<Vertex> path_;
    std::uint64_t bestChanges_ = 0; // how often the best leaf changed; 0 until a leaf is reached
    Leaf first_;
    Leaf best_;
    std::vector<std::vector<Vertex>> automorphisms_; // image of every vertex
};

void appendDecimal(std::string& text, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

std::string keyText(const BondGraph& graph, const std::vector<Vertex>& order) {
    std::string key(keyPrefix);
    appendDecimal(key, static_cast<std::int64_t>(order.size()));
    key += ':';
    for (const Vertex v : order) {
        appendDecimal(key, static_cast<std::int32_t>(graph.ability(v)));
        key += ',';
    }
    key += ':';
    for (std::size_t i = 0; i < order.size(); ++i)
        for (std::size_t j = i + 1; j < order.size(); ++j)
            key += graph.adjacent(order[i], order[j]) ? '1' : '0';
    return key;
}

void appendWord(std::string& text, std::uint64_t word) {
    char bytes[sizeof word];
    std::memcpy(bytes, &word, sizeof word);
    text.append(bytes, sizeof bytes);
}

// Everything the key depends on: the box count, the abilities in box order and the bonded pairs,
// each smaller index first, sorted, once each.
std::string structureText(const BioAssembly& assembly) {
    const std::size_t n = assembly.boxes.size();
    std::vector<std::uint64_t> pairs;
    pairs.reserve(assembly.bonds.size());
    for (const auto& [first, second] : assembly.bonds)
        if (first < n && second < n)
            pairs.push_back(std::min(first, second) << 32 | std::max(first, second));
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::string text;
    text.reserve(8 * (1 + n + pairs.size()));
    appendWord(text, n);
    for (const BioTemplate& box : assembly.boxes)
        appendWord(text, static_cast<std::uint32_t>(box.ability));
    for (const std::uint64_t pair : pairs)
        appendWord(text, pair);
    return text;
}

} // namespace

std::string canonicalTopologyKey(const BioAssembly& assembly) {
    const BondGraph graph(assembly);
    return keyText(graph, CanonicalSearch(graph).bestOrder());
}

std::string speciesNameOf(std::string_view key) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, fnv1a64(key), 16).ptr;
    return "species-" + std::string(digits, end);
}

const TopologyKeyCache::Entry& TopologyKeyCache::lookup(const BioAssembly& assembly) {
    std::string structure = structureText(assembly);
    // Newest first: a group that asks again usually asked last.
    for (auto known = remembered_.rbegin(); known != remembered_.rend(); ++known)
        if (known->structure == structure)
            return known->entry;
    std::string key = canonicalTopologyKey(assembly);
    std::string name = speciesNameOf(key);
    bytes_ += structure.size() + key.size() + name.size();
    remembered_.push_back({std::move(structure), {std::move(key), std::move(name)}});
    while ((remembered_.size() > capacity_ || bytes_ > byteBudget) && remembered_.size() > 1) {
        const Remembered& oldest = remembered_.front();
        bytes_ -= oldest.structure.size() + oldest.entry.key.size() + oldest.entry.name.size();
        remembered_.pop_front();
    }
    return remembered_.back().entry;
}

std::string Ecology::topologyKey(const BioAssembly& assembly) const {
    return topologyKeys_.lookup(assembly).key;
}

std::string Ecology::speciesName(const BioAssembly& assembly) const {
    return topologyKeys_.lookup(assembly).name;
}

} // namespace zarn
