#include "ecology/NearbyMatter.hpp"

#include <algorithm>
#include <vector>

#include "ecology/Clearance.hpp"
#include "physics/GridCells.hpp"

namespace zarn {

namespace {

// Physics::sweepBody looks this far around the swept bounds.
constexpr double sweepMargin = 0.001;
// The first query of a body covers this much more (m), and a share of its half diagonal more, so
// that the sub-steps after a hit, which start a little aside from where the first sweep ended, find
// their pieces in it. A wide body is pushed far when it starts inside matter; its query costs by
// its area, which a wider margin barely changes.
constexpr double coverMargin = 0.05;
constexpr double coverShare = 0.01;

bool holds(const Box& outer, const Box& inner) {
    return outer.min.x <= inner.min.x && outer.min.y <= inner.min.y && outer.min.z <= inner.min.z &&
           outer.max.x >= inner.max.x && outer.max.y >= inner.max.y && outer.max.z >= inner.max.z;
}

// Bounds clear of each other on an axis; not-a-number is never clear.
bool clearOf(const Box& a, const Box& b) {
    return a.min.x > b.max.x || a.max.x < b.min.x || a.min.y > b.max.y || a.max.y < b.min.y ||
           a.min.z > b.max.z || a.max.z < b.min.z;
}

// The slot of a key in a table of mask + 1 slots: every bit of the key stirs every bit of the hash.
std::size_t slotOf(std::uint64_t key, std::size_t mask) {
    key ^= key >> 30;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 27;
    key *= 0x94D049BB133111EBull;
    return static_cast<std::size_t>(key ^ (key >> 31)) & mask;
}

} // namespace

MatterCells::MatterCells(const Physics& physics, Storage& storage) : physics_(physics), storage_(storage) {
    if (++storage_.step == 0) {
        std::fill(storage_.stamp.begin(), storage_.stamp.end(), 0);
        storage_.step = 1;
    }
    if (storage_.stamp.size() < physics.pieces.size()) {
        storage_.stamp.resize(physics.pieces.size(), 0);
        storage_.bounds.resize(physics.pieces.size());
    }
    if (storage_.slots.empty())
        storage_.slots.resize(1024);
    forget();
}

void MatterCells::forget() {
    for (const std::uint32_t used : storage_.usedSlots)
        storage_.slots[used] = {};
    storage_.usedSlots.clear();
}

Box MatterCells::boundsOf(std::uint32_t id) {
    const std::size_t index = id - 1;
    if (index >= storage_.stamp.size())
        return physics_.pieces[index].body.bounds();
    if (storage_.stamp[index] != storage_.step) {
        storage_.stamp[index] = storage_.step;
        storage_.bounds[index] = physics_.pieces[index].body.bounds();
    }
    return storage_.bounds[index];
}

const std::vector<std::uint32_t>* MatterCells::cell(std::int64_t x, std::int64_t y, std::int64_t z) {
    std::vector<Storage::Slot>& slots = storage_.slots;
    if ((storage_.usedSlots.size() + 1) * 2 > slots.size()) {
        std::vector<Storage::Slot> old(slots.size() * 2);
        old.swap(slots);
        for (std::uint32_t& used : storage_.usedSlots) {
            std::size_t at = slotOf(old[used].key, slots.size() - 1);
            while (slots[at].used)
                at = (at + 1) & (slots.size() - 1);
            slots[at] = old[used];
            used = static_cast<std::uint32_t>(at);
        }
    }
    const std::uint64_t key = Physics::gridKey(x, y, z);
    const std::size_t mask = slots.size() - 1;
    std::size_t at = slotOf(key, mask);
    for (; slots[at].used; at = (at + 1) & mask)
        if (slots[at].key == key)
            return slots[at].list;
    const auto found = physics_.cells.find(key);
    slots[at] = {key, found == physics_.cells.end() ? nullptr : &found->second, true};
    storage_.usedSlots.push_back(static_cast<std::uint32_t>(at));
    return slots[at].list;
}

template <class Visit> int MatterCells::visitListed(const Box& box, Visit&& visit) {
    const grid::CellRange range = grid::cellRange(box, 0.0);
    int lists = 0;
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z) {
                const std::vector<std::uint32_t>* list = cell(x, y, z);
                if (list == nullptr || list->empty())
                    continue;
                ++lists;
                for (const std::uint32_t id : *list)
                    if (visit(id))
                        return -1;
            }
    return lists;
}

void MatterCells::reaching(const Box& box, std::vector<ReachingPiece>& out) {
    out.clear();
    auto keep = [&](std::uint32_t id) {
        const Box bounds = boundsOf(id);
        if (!clearOf(bounds, box))
            out.push_back({id, bounds});
        return false;
    };
    if (grid::needsScan(box)) {
        physics_.query(box, ids_);
        for (const std::uint32_t id : ids_)
            keep(id);
        return;
    }
    // Each list is ascending; a piece listed in several cells comes once.
    if (visitListed(box, keep) > 1) {
        std::sort(out.begin(), out.end(),
                  [](const ReachingPiece& a, const ReachingPiece& b) { return a.id < b.id; });
        out.erase(std::unique(out.begin(), out.end(),
                              [](const ReachingPiece& a, const ReachingPiece& b) { return a.id == b.id; }),
                  out.end());
    }
}

bool MatterCells::touches(const Box& box) {
    auto meets = [&](std::uint32_t id) {
        return physics_.pieces[id - 1].alive && overlapOrTouch(boundsOf(id), box);
    };
    if (grid::needsScan(box)) {
        physics_.query(box, ids_);
        return std::any_of(ids_.begin(), ids_.end(), meets);
    }
    return visitListed(box, meets) < 0;
}

BodySweep sweepReaching(const Physics& physics, const std::vector<ReachingPiece>& pieces,
                        const MovingBox& moving, double& depth) {
    BodySweep result;
    depth = 0.0;
    for (const ReachingPiece& piece : pieces) {
        const MatterPiece& matter = physics.pieces[piece.id - 1];
        if (!matter.alive)
            continue;
        const BoxSweep sweep = sweepPolyhedra(moving, matter.body, piece.bounds);
        if (!sweep.hit)
            continue;
        if (!result.hit || sweep.fraction < result.fraction ||
            (sweep.fraction == result.fraction && sweep.depth > depth)) {
            result.hit = true;
            result.index = piece.id - 1;
            result.fraction = sweep.fraction;
            result.normal = sweep.normal;
            depth = sweep.depth;
        }
    }
    if (result.hit)
        result.position = moving.body.center + moving.displacement * result.fraction;
    return result;
}

BodySweep NearbyMatter::sweep(const Polyhedron& body, const Vec3& displacement, double& depth) {
    return sweep(MovingBox(body, displacement), depth);
}

BodySweep NearbyMatter::sweep(const MovingBox& moving, double& depth) {
    const Polyhedron& body = moving.body;
    const Box swept = grown(sweptBounds(body, moving.displacement), sweepMargin);
    if (!known_ || !holds(covered_, swept)) {
        covered_ = grown(swept, coverMargin + coverShare * length(body.halfExtents));
        // A piece whose bounds lie clear of the covered box lies clear of every swept box it holds,
        // by more than rounding could close, and every sweep misses it.
        if (cells_)
            cells_->reaching(covered_, reaching_);
        else
            physics_.query(covered_, ids_);
        known_ = true;
    }
    if (cells_)
        return sweepReaching(physics_, reaching_, moving, depth);
    return physics_.sweepPieces(ids_, body, moving.displacement, depth);
}

} // namespace zarn
