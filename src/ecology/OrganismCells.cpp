#include "ecology/OrganismCells.hpp"

#include <algorithm>
#include <numeric>

namespace zarn {

namespace {

constexpr double cellsPerMetre = 1.0 / OrganismCells::cellSize; // a power of two: exact
// Coordinates beyond this many cells (4,000 million km) are listed apart.
constexpr double farthestCell = 1e12;

// The floor by truncation, exact for the coordinates below farthestCell it is taken of.
std::int64_t floorCell(double scaled) {
    const auto cell = static_cast<std::int64_t>(scaled);
    return static_cast<double>(cell) > scaled ? cell - 1 : cell;
}

std::uint64_t hashOf(const std::array<std::int64_t, 3>& cell) {
    std::uint64_t h = static_cast<std::uint64_t>(cell[0]) * 0x9E3779B97F4A7C15ull;
    h ^= static_cast<std::uint64_t>(cell[1]) * 0xC2B2AE3D27D4EB4Full;
    h ^= static_cast<std::uint64_t>(cell[2]) * 0x165667B19E3779F9ull;
    return h ^ (h >> 29);
}

bool sameCell(const std::array<std::int64_t, 3>& a, const std::array<std::int64_t, 3>& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// Lists stay ascending.
void insertSorted(std::vector<std::uint32_t>& list, std::uint32_t index) {
    if (list.empty() || list.back() < index) {
        list.push_back(index);
        return;
    }
    const auto at = std::lower_bound(list.begin(), list.end(), index);
    if (at == list.end() || *at != index)
        list.insert(at, index);
}

void eraseSorted(std::vector<std::uint32_t>& list, std::uint32_t index) {
    const auto at = std::lower_bound(list.begin(), list.end(), index);
    if (at != list.end() && *at == index)
        list.erase(at);
}

} // namespace

OrganismCells::Range OrganismCells::rangeOf(const Box& box) {
    Range range;
    for (int k = 0; k < 3; ++k) {
        const double lo = box.min[k] * cellsPerMetre;
        const double hi = box.max[k] * cellsPerMetre;
        // Not-a-number fails these tests too; so does a box turned inside out.
        if (!(lo >= -farthestCell && hi <= farthestCell && lo <= hi)) {
            range.apart = true;
            return range;
        }
        range.lo[k] = floorCell(lo);
        range.hi[k] = floorCell(hi);
        if (range.hi[k] - range.lo[k] >= maxSpan) {
            range.apart = true;
            return range;
        }
    }
    return range;
}

bool OrganismCells::sameRange(const Range& a, const Range& b) {
    if (a.apart || b.apart)
        return a.apart == b.apart;
    return a.lo == b.lo && a.hi == b.hi;
}

const std::vector<std::uint32_t>* OrganismCells::find(const std::array<std::int64_t, 3>& cell) const {
    if (slots_.empty())
        return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hashOf(cell) & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.list == 0)
            return nullptr;
        if (sameCell(slot.cell, cell))
            return &lists_[slot.list - 1];
    }
}

std::vector<std::uint32_t>& OrganismCells::listOf(const std::array<std::int64_t, 3>& cell) {
    if ((usedSlots_ + 1) * 2 > slots_.size())
        grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hashOf(cell) & mask;
    for (; slots_[at].list != 0; at = (at + 1) & mask)
        if (sameCell(slots_[at].cell, cell))
            return lists_[slots_[at].list - 1];
    // A new cell takes the next list, emptied of what an earlier step left in it.
    ++usedSlots_;
    slots_[at] = {cell, static_cast<std::uint32_t>(usedSlots_)};
    usedAt_.push_back(static_cast<std::uint32_t>(at));
    if (lists_.size() < usedSlots_)
        lists_.emplace_back();
    std::vector<std::uint32_t>& list = lists_[usedSlots_ - 1];
    list.clear();
    return list;
}

void OrganismCells::grow() {
    std::vector<Slot> old(std::max<std::size_t>(1024, slots_.size() * 2));
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t& used : usedAt_) {
        const Slot& slot = old[used];
        std::size_t at = hashOf(slot.cell) & mask;
        while (slots_[at].list != 0)
            at = (at + 1) & mask;
        slots_[at] = slot;
        used = static_cast<std::uint32_t>(at);
    }
}

void OrganismCells::enter(std::uint32_t index, const Range& range) {
    if (range.apart) {
        insertSorted(apart_, index);
        return;
    }
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                insertSorted(listOf({x, y, z}), index);
}

void OrganismCells::leave(std::uint32_t index, const Range& range) {
    if (range.apart) {
        eraseSorted(apart_, index);
        return;
    }
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                eraseSorted(listOf({x, y, z}), index);
}

void OrganismCells::fill(const std::vector<Box>& bounds) {
    for (const std::uint32_t used : usedAt_)
        slots_[used] = Slot{};
    usedAt_.clear();
    usedSlots_ = 0;
    apart_.clear();
    count_ = static_cast<std::uint32_t>(bounds.size());
    if (seen_.size() < count_)
        seen_.resize(count_, 0);
    for (std::uint32_t index = 0; index < count_; ++index)
        enter(index, rangeOf(bounds[index]));
}

void OrganismCells::move(std::uint32_t index, const Box& from, const Box& to) {
    const Range before = rangeOf(from);
    const Range after = rangeOf(to);
    if (sameRange(before, after))
        return;
    leave(index, before);
    enter(index, after);
}

void OrganismCells::near(const Box& box, std::vector<std::uint32_t>& out) {
    out.clear();
    const Range range = rangeOf(box);
    bool everyOne = range.apart;
    std::int64_t cells = 1;
    for (int k = 0; k < 3 && !everyOne; ++k) {
        cells *= range.hi[k] - range.lo[k] + 1; // each span is below maxSpan: no overflow
        everyOne = cells > maxSearch;
    }
    if (everyOne) {
        out.resize(count_);
        std::iota(out.begin(), out.end(), 0u);
        return;
    }
    if (++search_ == 0) {
        std::fill(seen_.begin(), seen_.end(), 0);
        search_ = 1;
    }
    int lists = 0;
    auto take = [&](const std::vector<std::uint32_t>& list) {
        if (list.empty())
            return;
        ++lists;
        for (const std::uint32_t index : list)
            if (seen_[index] != search_) {
                seen_[index] = search_;
                out.push_back(index);
            }
    };
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                if (const std::vector<std::uint32_t>* list = find({x, y, z}))
                    take(*list);
    take(apart_);
    if (lists > 1)
        std::sort(out.begin(), out.end());
}

} // namespace zarn
