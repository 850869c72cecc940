#include "ecology/OrganismCells.hpp"

#include <algorithm>

#include "ecology/Clearance.hpp"
#include "ecology/SlotHash.hpp"

namespace zarn {

namespace {

// Cells per metre on each axis (powers of two: the scaling is exact), and the cells on either side
// of the origin that a key can tell apart: 8,388 km across and 67,108 km up and down.
constexpr double cellsPerMetre[3] = {1.0 / OrganismCells::cellWidth, 1.0 / OrganismCells::cellHeight,
                                     1.0 / OrganismCells::cellWidth};
constexpr std::int64_t keyedCells[3] = {std::int64_t{1} << 20, std::int64_t{1} << 21, std::int64_t{1} << 20};

// The floor by truncation, exact for the coordinates within the keyed cells it is taken of.
std::int64_t floorCell(double scaled) {
    const auto cell = static_cast<std::int64_t>(scaled);
    return static_cast<double>(cell) > scaled ? cell - 1 : cell;
}

// 21 bits of x, 22 of y and 21 of z.
std::uint64_t keyOf(std::int64_t x, std::int64_t y, std::int64_t z) {
    return static_cast<std::uint64_t>(x + keyedCells[0]) << 43 |
           static_cast<std::uint64_t>(y + keyedCells[1]) << 21 |
           static_cast<std::uint64_t>(z + keyedCells[2]);
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
        const double lo = box.min[k] * cellsPerMetre[k];
        const double hi = box.max[k] * cellsPerMetre[k];
        const auto limit = static_cast<double>(keyedCells[k]);
        // Not-a-number fails this test too; so does a box turned inside out.
        if (!(lo >= -limit && hi < limit && lo <= hi)) {
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
    return a.lo[0] == b.lo[0] && a.lo[1] == b.lo[1] && a.lo[2] == b.lo[2] && a.hi[0] == b.hi[0] &&
           a.hi[1] == b.hi[1] && a.hi[2] == b.hi[2];
}

const std::vector<std::uint32_t>* OrganismCells::find(std::uint64_t key) const {
    if (slots_.empty())
        return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = slotOf(key, mask);; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.list == 0)
            return nullptr;
        if (slot.key == key)
            return &lists_[slot.list - 1];
    }
}

std::vector<std::uint32_t>& OrganismCells::listOf(std::uint64_t key) {
    if ((usedAt_.size() + 1) * 2 > slots_.size())
        grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = slotOf(key, mask);
    for (; slots_[at].list != 0; at = (at + 1) & mask)
        if (slots_[at].key == key)
            return lists_[slots_[at].list - 1];
    // A new cell takes the next list, emptied of what an earlier step left in it.
    usedAt_.push_back(static_cast<std::uint32_t>(at));
    slots_[at] = {key, static_cast<std::uint32_t>(usedAt_.size())};
    if (lists_.size() < usedAt_.size())
        lists_.emplace_back();
    std::vector<std::uint32_t>& list = lists_[usedAt_.size() - 1];
    list.clear();
    return list;
}

void OrganismCells::grow() {
    std::vector<Slot> old(std::max<std::size_t>(1024, slots_.size() * 2));
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t& used : usedAt_) {
        const Slot& slot = old[used];
        std::size_t at = slotOf(slot.key, mask);
        while (slots_[at].list != 0)
            at = (at + 1) & mask;
        slots_[at] = slot;
        used = static_cast<std::uint32_t>(at);
    }
}

template <class Change> void OrganismCells::forEachList(const Range& range, Change&& change) {
    if (range.apart) {
        change(apart_);
        return;
    }
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                change(listOf(keyOf(x, y, z)));
}

void OrganismCells::fill(const std::vector<Box>& boxes, const std::vector<std::uint8_t>* listed) {
    for (const std::uint32_t used : usedAt_)
        slots_[used] = Slot{};
    usedAt_.clear();
    apart_.clear();
    boxes_ = boxes;
    if (listed)
        listed_ = *listed;
    else
        listed_.assign(boxes_.size(), 1);
    if (seen_.size() < boxes_.size())
        seen_.resize(boxes_.size(), 0);
    for (std::uint32_t index = 0; index < boxes_.size(); ++index) // ascending: every entry goes last
        if (listed_[index])
            forEachList(rangeOf(boxes_[index]),
                        [&](std::vector<std::uint32_t>& list) { list.push_back(index); });
}

void OrganismCells::move(std::uint32_t index, const Box& box) {
    const Range before = rangeOf(boxes_[index]);
    const Range after = rangeOf(box);
    boxes_[index] = box;
    if (sameRange(before, after))
        return;
    forEachList(before, [&](std::vector<std::uint32_t>& list) { eraseSorted(list, index); });
    forEachList(after, [&](std::vector<std::uint32_t>& list) { insertSorted(list, index); });
}

void OrganismCells::touching(const Box& box, std::vector<std::uint32_t>& out) {
    out.clear();
    const Range range = rangeOf(box);
    bool everyOne = range.apart;
    std::int64_t cells = 1;
    for (int k = 0; k < 3 && !everyOne; ++k) {
        cells *= range.hi[k] - range.lo[k] + 1; // each span is below maxSpan: no overflow
        everyOne = cells > maxSearch;
    }
    if (everyOne) {
        for (std::uint32_t index = 0; index < boxes_.size(); ++index)
            if (listed_[index] && overlapOrTouch(boxes_[index], box))
                out.push_back(index);
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
            if (seen_[index] != search_ && overlapOrTouch(boxes_[index], box)) {
                seen_[index] = search_;
                out.push_back(index);
            }
    };
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z)
                if (const std::vector<std::uint32_t>* list = find(keyOf(x, y, z)))
                    take(*list);
    take(apart_);
    if (lists > 1 && !std::is_sorted(out.begin(), out.end()))
        std::sort(out.begin(), out.end());
}

} // namespace zarn
