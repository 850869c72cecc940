#include <algorithm>
#include <array>
#include <cmath>

#include "physics/GridCells.hpp"
#include "physics/Physics.hpp"

namespace zarn {

namespace {

using grid::cellRange;
using grid::CellRange;
using grid::needsScan;
using grid::overlaps;
using grid::widened;

// Rays are walked in segments of one cell's length.
constexpr double segmentLength = Physics::cellSize;

// Cell lists are kept in ascending id order, so a query of one cell needs no sort.
void listInCell(std::vector<std::uint32_t>& list, std::uint32_t id) {
    if (list.empty() || list.back() < id) {
        list.push_back(id);
        return;
    }
    const auto at = std::lower_bound(list.begin(), list.end(), id);
    if (at == list.end() || *at != id)
        list.insert(at, id);
}

// The lists of the cells pieces were entered in lately, in a small table by cell key. Pieces next
// to each other in id order mostly lie in a few cells, so an update of many pieces mostly finds its
// lists here instead of in the hash table. A list stays where it is until its cell is erased.
class RecentCells {
  public:
    // A table of 256 slots serves the updates of a step; the first filling of a large grid, which
    // meets each cell once for every piece listed in it, keeps more of them.
    RecentCells() = default;
    explicit RecentCells(std::size_t pieces) {
        while (slots_.size() < maxSlots && slots_.size() * piecesPerSlot < pieces)
            slots_.resize(slots_.size() * 2);
    }

    std::vector<std::uint32_t>& of(Physics& physics, std::uint64_t key) {
        Slot& slot = slots_[key & (slots_.size() - 1)];
        if (slot.list == nullptr || slot.key != key)
            slot = {key, &physics.cells[key]};
        return *slot.list;
    }
    // The cell of this key is about to be erased.
    void forget(std::uint64_t key) {
        Slot& slot = slots_[key & (slots_.size() - 1)];
        if (slot.key == key)
            slot.list = nullptr;
    }

  private:
    struct Slot {
        std::uint64_t key = 0;
        std::vector<std::uint32_t>* list = nullptr;
    };
    static constexpr std::size_t maxSlots = 8192;
    static constexpr std::size_t piecesPerSlot = 4;
    std::vector<Slot> slots_ = std::vector<Slot>(256);
};

void unlist(Physics& physics, std::uint64_t key, std::uint32_t id, RecentCells& recent) {
    const auto cell = physics.cells.find(key);
    if (cell == physics.cells.end())
        return;
    std::vector<std::uint32_t>& list = cell->second;
    const auto at = std::lower_bound(list.begin(), list.end(), id);
    if (at != list.end() && *at == id)
        list.erase(at);
    if (list.empty()) {
        recent.forget(key);
        physics.cells.erase(cell);
    }
}

// Keys of the cells a piece is listed in, x outer and z inner; empty for a dead piece.
void cellKeysOf(const MatterPiece& piece, std::vector<std::uint64_t>& keys) {
    keys.clear();
    if (!piece.alive)
        return;
    CellRange range;
    if (!grid::listingRange(piece.body.bounds(), range))
        return;
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                keys.push_back(Physics::gridKey(x, y, z));
}

// The pieces listed in the cells a box reaches, in ascending id order without repeats: each cell's
// list is ascending already, so each is merged into those before it.
void gatherCellsInOrder(const Physics& physics, const Box& box, std::vector<std::uint32_t>& out) {
    grid::forEachCell(physics, grid::cellRange(box, 0.0), [&](const std::vector<std::uint32_t>& list) {
        const auto merged = static_cast<std::ptrdiff_t>(out.size());
        out.insert(out.end(), list.begin(), list.end());
        std::inplace_merge(out.begin(), out.begin() + merged, out.end());
    });
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

bool finite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The unit vector along a ray's direction: the direction itself when it is of unit length (to
// rounding), else the direction scaled to unit length, so that a ray always walks its length in
// metres. False for a direction of no length or not finite: such a ray points nowhere.
bool unitDirection(const Vec3& direction, Vec3& unit) {
    unit = direction;
    if (!finite(direction))
        return false;
    if (std::abs(lengthSquared(direction) - 1.0) <= 1e-9)
        return true;
    // Scaled by the largest component first, so that neither tiny nor huge components over- or
    // underflow on the way.
    const double largest = std::max({std::abs(direction.x), std::abs(direction.y), std::abs(direction.z)});
    if (!(largest > 0.0))
        return false;
    const Vec3 scaled = direction / largest;
    unit = scaled / zarn::length(scaled);
    return true;
}

// False only when the ray's first `limit` of length passes clear of a sphere around the piece that
// surely holds it, so that the exact box test can be skipped. Orientations far from unit length
// (which the store refuses) are always tested exactly.
bool mayHit(const Vec3& origin, const Vec3& direction, double limit, const Polyhedron& body) {
    const Quaternion& q = body.orientation;
    const double norm = q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z;
    const double reach = dot(direction, direction);
    if (!(norm > 0.98 && norm < 1.02) || !(reach > 0.0))
        return true;
    const double radius = length(body.halfExtents) * 1.1 + 1e-6;
    const Vec3 offset = body.center - origin;
    const double t = std::clamp(dot(offset, direction) / reach, 0.0, limit);
    return !(lengthSquared(offset - direction * t) > radius * radius);
}

// The box axis whose face the point lies on, pointing out of the box, in world space.
Vec3 faceNormal(const Polyhedron& body, const Vec3& point) {
    const Vec3 p = body.orientation.rotateInverse(point - body.center);
    int best = 0;
    double bestGap = std::abs(std::abs(p.x) - body.halfExtents.x);
    for (int k = 1; k < 3; ++k) {
        const double gap = std::abs(std::abs(p[k]) - body.halfExtents[k]);
        if (gap < bestGap) {
            bestGap = gap;
            best = k;
        }
    }
    Vec3 axis;
    axis[best] = p[best] > 0.0 ? 1.0 : -1.0;
    return body.orientation.rotate(axis);
}

} // namespace

void CellKeys::clear() {
    if (count_ > 1)
        delete[] store_.many;
    store_.one = 0;
    count_ = 0;
}

void CellKeys::assign(const std::uint64_t* first, const std::uint64_t* last) {
    const auto count = static_cast<std::uint32_t>(last - first);
    // A piece that stays across as many cells keeps its storage.
    if (count != count_ || count <= 1) {
        clear();
        if (count > 1)
            store_.many = new std::uint64_t[count];
        count_ = count;
    }
    std::copy(first, last, count > 1 ? store_.many : &store_.one);
}

std::uint64_t Physics::gridKey(std::int64_t x, std::int64_t y, std::int64_t z) {
    constexpr std::uint64_t prime = 0x100000001b3ull;
    std::uint64_t h = (static_cast<std::uint64_t>(x) ^ 0x14650fb0739d0383ull) * prime;
    h = (static_cast<std::uint64_t>(y) ^ h ^ (h >> 32)) * prime;
    h = (static_cast<std::uint64_t>(z) ^ h ^ (h >> 32)) * prime;
    return h ^ (h >> 32);
}

namespace {

// Brings one piece's grid entry up to date; false when the piece had neither moved nor died.
bool enterPiece(Physics& physics, std::size_t index, RecentCells& recent) {
    Physics::GridEntry& entry = physics.gridEntries[index];
    const MatterPiece& piece = physics.pieces[index];
    if (grid::entryCurrent(entry, piece))
        return false;
    std::vector<std::uint64_t>& keys = physics.topologyScratch.cellKeys;
    const auto id = static_cast<std::uint32_t>(index + 1);
    cellKeysOf(piece, keys);
    // A piece that moved within its cells keeps its listings.
    if (keys != entry.cells) {
        for (const std::uint64_t key : entry.cells)
            unlist(physics, key, id, recent);
        for (const std::uint64_t key : keys)
            listInCell(recent.of(physics, key), id);
        entry.cells.assign(keys.data(), keys.data() + keys.size());
    }
    entry.center = piece.body.center;
    entry.halfExtents = piece.body.halfExtents;
    entry.orientation = piece.body.orientation;
    entry.alive = piece.alive;
    return true;
}

void forgetMoved(ChangeNotes& notes) {
    for (const std::uint32_t index : notes.moved)
        notes.movedMark[index] = 0;
    notes.moved.clear();
}

// Entries of pieces that no longer exist leave their cells.
void unlistGone(Physics& physics, RecentCells& recent) {
    for (std::size_t index = physics.pieces.size(); index < physics.gridEntries.size(); ++index)
        for (const std::uint64_t key : physics.gridEntries[index].cells)
            unlist(physics, key, static_cast<std::uint32_t>(index + 1), recent);
}

} // namespace

void Physics::rebuildGrid() {
    RecentCells recent(pieces.size());
    // A grid filled from nothing has room for a cell per two pieces from the start, so that its
    // table is not laid out again and again as it grows.
    if (cells.empty())
        cells.reserve(pieces.size() / 2);
    unlistGone(*this, recent);
    makeRoom(gridEntries, pieces.size());
    gridEntries.resize(pieces.size());
    // Every piece is compared, so whatever moved or died, by physics or from outside, is found;
    // what is found is noted for the next topology refresh as well.
    for (std::size_t index = 0; index < pieces.size(); ++index)
        if (enterPiece(*this, index, recent))
            notePiece(static_cast<std::uint32_t>(index));
    forgetMoved(changes);
}

void Physics::rebuildGridFor(const std::vector<std::uint32_t>& changed) {
    RecentCells recent;
    unlistGone(*this, recent);
    const std::size_t known = std::min(gridEntries.size(), pieces.size());
    gridEntries.resize(pieces.size());
    for (const std::uint32_t index : changed)
        if (index < known && enterPiece(*this, index, recent))
            notePiece(index);
    for (std::size_t index = known; index < pieces.size(); ++index)
        if (enterPiece(*this, index, recent))
            notePiece(static_cast<std::uint32_t>(index));
    forgetMoved(changes);
}

void Physics::rebuildNotedGrid() {
    if (stepScratch.plainWalks || gridEntries.size() > pieces.size()) {
        rebuildGrid();
        return;
    }
    // The pieces noted as moved, then the new ones: the pieces in id order that a comparison of
    // every piece would find changed, entered in the same order.
    const std::size_t known = gridEntries.size();
    gridEntries.resize(pieces.size());
    std::vector<std::uint32_t>& moved = changes.moved;
    std::sort(moved.begin(), moved.end());
    RecentCells recent;
    for (const std::uint32_t index : moved)
        if (index < known)
            enterPiece(*this, index, recent);
    for (std::size_t index = known; index < pieces.size(); ++index)
        enterPiece(*this, index, recent);
    forgetMoved(changes);
}

void Physics::noteMoved(std::uint32_t index) {
    // Its record holds its centre, about which the levers of its links are taken.
    topologyScratch.forget(index);
    noteOnce(changes.movedMark, changes.moved, index, pieces.size());
}

std::vector<std::uint32_t> Physics::query(const Box& box) const {
    std::vector<std::uint32_t> ids;
    query(box, ids);
    return ids;
}

void Physics::query(const Box& box, std::vector<std::uint32_t>& out) const {
    out.clear();
    if (needsScan(box)) {
        for (const MatterPiece& piece : pieces)
            if (piece.alive && overlaps(piece.body.bounds(), box))
                out.push_back(piece.id);
        return;
    }
    gatherCellsInOrder(*this, box, out);
}

PieceHit Physics::trace(const Vec3& origin, const Vec3& along, double length) const {
    PieceHit result;
    if (!std::isfinite(length))
        return result;
    result.distance = length;
    // A ray from or towards nowhere meets nothing.
    Vec3 direction;
    if (length <= 0.0 || !finite(origin) || !unitDirection(along, direction))
        return result;

    // The nearest hit wins, and of equally near ones the lowest id, so the order in which the
    // pieces are tried does not matter and a piece listed in several cells may be tried twice.
    double best = length;
    auto tryPiece = [&](std::uint32_t id) {
        const MatterPiece& piece = pieces[id - 1];
        if (!piece.alive || !mayHit(origin, direction, best, piece.body))
            return;
        const double t = tracePolyhedron(origin, direction, piece.body, best);
        if (t >= 0.0 && (t < best || (result.hit && t == best && id - 1 < result.index))) {
            best = t;
            result.hit = true;
            result.index = id - 1;
        }
    };
    if (length / segmentLength > static_cast<double>(pieces.size())) {
        // Walking the ray would visit more segments than there are pieces: test every piece.
        for (const MatterPiece& piece : pieces)
            tryPiece(piece.id);
    } else {
        // The cells of every 32 m segment of the ray, each visited once.
        std::vector<std::uint64_t> keys;
        for (std::uint64_t k = 0; static_cast<double>(k) * segmentLength < length; ++k) {
            const double start = static_cast<double>(k) * segmentLength;
            const double end = std::min(start + segmentLength, length);
            const Vec3 a = origin + direction * start;
            const Vec3 b = origin + direction * end;
            const CellRange range =
                cellRange(widened(Box{componentMin(a, b), componentMax(a, b)}, 0.01), 0.0);
            for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
                for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
                    for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                        keys.push_back(gridKey(x, y, z));
        }
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (const std::uint64_t key : keys) {
            const auto cell = cells.find(key);
            if (cell != cells.end())
                for (const std::uint32_t id : cell->second)
                    tryPiece(id);
        }
    }

    if (result.hit) {
        result.distance = best;
        result.point = origin + direction * best;
        result.normal = faceNormal(pieces[result.index].body, result.point);
    }
    return result;
}

BodySweep Physics::sweepBody(const Polyhedron& body, const Vec3& displacement, double& depth) const {
    const Box start = body.bounds();
    const Box swept = widened(Box{componentMin(start.min, start.min + displacement),
                                  componentMax(start.max, start.max + displacement)},
                              0.001);
    return sweepPieces(query(swept), body, displacement, depth);
}

BodySweep Physics::sweepPieces(const std::vector<std::uint32_t>& ids, const Polyhedron& body,
                               const Vec3& displacement, double& depth) const {
    BodySweep result;
    depth = 0.0;
    const MovingBox moving(body, displacement);
    for (const std::uint32_t id : ids) {
        const MatterPiece& piece = pieces[id - 1];
        if (!piece.alive)
            continue;
        const BoxSweep sweep = sweepPolyhedra(moving, piece.body);
        if (!sweep.hit)
            continue;
        if (!result.hit || sweep.fraction < result.fraction ||
            (sweep.fraction == result.fraction && sweep.depth > depth)) {
            result.hit = true;
            result.index = id - 1;
            result.fraction = sweep.fraction;
            result.normal = sweep.normal;
            depth = sweep.depth;
        }
    }
    if (result.hit)
        result.position = body.center + displacement * result.fraction;
    return result;
}

} // namespace zarn
