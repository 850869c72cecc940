#include "ecology/NearbyMatter.hpp"

#include <algorithm>
#include <vector>

#include "ecology/Clearance.hpp"
#include "ecology/SlotHash.hpp"
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

// Bounds clear of each other on an axis; not-a-number is never clear.
bool clearOf(const Box& a, const Box& b) {
    return a.min.x > b.max.x || a.max.x < b.min.x || a.min.y > b.max.y || a.max.y < b.min.y ||
           a.min.z > b.max.z || a.max.z < b.min.z;
}

} // namespace

MatterCells::MatterCells(const Physics& physics, Storage& storage) : physics_(physics), storage_(storage) {
    if (storage_.slots.empty())
        storage_.slots.resize(1024);
    forget();
}

void MatterCells::forget() {
    for (const std::uint32_t used : storage_.usedSlots)
        storage_.slots[used] = {};
    storage_.usedSlots.clear();
    storage_.found = 0;
}

const std::vector<ReachingPiece>* MatterCells::cell(std::int64_t x, std::int64_t y, std::int64_t z) {
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
            return slots[at].pieces == 0 ? nullptr : &storage_.cells[slots[at].pieces - 1];
    storage_.usedSlots.push_back(static_cast<std::uint32_t>(at));
    slots[at] = {key, 0, true};
    const auto found = physics_.cells.find(key);
    if (found == physics_.cells.end())
        return nullptr;
    if (storage_.cells.size() <= storage_.found)
        storage_.cells.emplace_back();
    std::vector<ReachingPiece>& pieces = storage_.cells[storage_.found];
    slots[at].pieces = static_cast<std::uint32_t>(++storage_.found);
    pieces.clear();
    for (const std::uint32_t id : found->second)
        pieces.push_back({id, physics_.pieces[id - 1].body.bounds()});
    return &pieces;
}

template <class Visit> int MatterCells::visitListed(const Box& box, Visit&& visit) {
    const grid::CellRange range = grid::cellRange(box, 0.0);
    int lists = 0;
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z) {
                const std::vector<ReachingPiece>* pieces = cell(x, y, z);
                if (pieces == nullptr || pieces->empty())
                    continue;
                ++lists;
                for (const ReachingPiece& piece : *pieces)
                    if (visit(piece))
                        return -1;
            }
    return lists;
}

void MatterCells::reaching(const Box& box, std::vector<ReachingPiece>& out) {
    out.clear();
    auto keep = [&](const ReachingPiece& piece) {
        if (!clearOf(piece.bounds, box))
            out.push_back(piece);
        return false;
    };
    if (grid::needsScan(box)) {
        physics_.query(box, ids_);
        for (const std::uint32_t id : ids_)
            keep({id, physics_.pieces[id - 1].body.bounds()});
        return;
    }
    // Each list is ascending; a piece listed in several cells comes once.
    if (visitListed(box, keep) > 1) {
        const auto byId = [](const ReachingPiece& a, const ReachingPiece& b) { return a.id < b.id; };
        if (!std::is_sorted(out.begin(), out.end(), byId))
            std::sort(out.begin(), out.end(), byId);
        out.erase(std::unique(out.begin(), out.end(),
                              [](const ReachingPiece& a, const ReachingPiece& b) { return a.id == b.id; }),
                  out.end());
    }
}

bool MatterCells::touches(const Box& box) {
    auto meets = [&](const ReachingPiece& piece) {
        return overlapOrTouch(piece.bounds, box) && physics_.pieces[piece.id - 1].alive;
    };
    if (grid::needsScan(box)) {
        physics_.query(box, ids_);
        return std::any_of(ids_.begin(), ids_.end(), [&](std::uint32_t id) {
            return meets({id, physics_.pieces[id - 1].body.bounds()});
        });
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
