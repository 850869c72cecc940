#include "physics/FineGrid.hpp"

#include <algorithm>

namespace zarn {

namespace {

void setBit(std::vector<std::uint64_t>& bits, std::uint64_t hash) {
    const std::uint64_t bit = hash >> fine::occupancyShift;
    bits[bit >> 6] |= std::uint64_t{1} << (bit & 63);
}

void clearGrid(FineGrid& grid) {
    if (grid.slotHead.empty()) {
        grid.slotHead.assign(4096, 0);
        grid.slotKey.assign(4096, 0);
        grid.occupied.assign(fine::occupancyWords, 0);
        grid.blockOccupied.assign(fine::occupancyWords, 0);
    } else if (grid.usedSlots > 0) {
        std::fill(grid.slotHead.begin(), grid.slotHead.end(), 0u);
        std::fill(grid.occupied.begin(), grid.occupied.end(), 0u);
        std::fill(grid.blockOccupied.begin(), grid.blockOccupied.end(), 0u);
    }
    grid.usedSlots = 0;
    grid.entries.clear();
}

void grow(FineGrid& grid) {
    const std::vector<std::uint64_t> keys = std::move(grid.slotKey);
    const std::vector<std::uint32_t> heads = std::move(grid.slotHead);
    grid.slotKey.assign(keys.size() * 2, 0);
    grid.slotHead.assign(keys.size() * 2, 0);
    for (std::size_t slot = 0; slot < keys.size(); ++slot) {
        if (heads[slot] == 0)
            continue;
        const std::size_t to = fine::slotOf(grid, keys[slot], fine::slotHash(keys[slot]));
        grid.slotKey[to] = keys[slot];
        grid.slotHead[to] = heads[slot];
    }
}

// Lists entry in cell (x, y, z), whose key is given.
void add(FineGrid& grid, FineGrid::Entry entry, std::int64_t x, std::int64_t y, std::int64_t z,
         std::uint64_t key) {
    if ((grid.usedSlots + 1) * 2 > grid.slotHead.size())
        grow(grid);
    const std::uint64_t hash = fine::slotHash(key);
    const std::size_t slot = fine::slotOf(grid, key, hash);
    if (grid.slotHead[slot] == 0) {
        grid.slotKey[slot] = key;
        ++grid.usedSlots;
        setBit(grid.occupied, hash);
        setBit(grid.blockOccupied, fine::slotHash(fine::key(x >> fine::blockShift, y >> fine::blockShift,
                                                            z >> fine::blockShift)));
    }
    entry.next = grid.slotHead[slot];
    // Entries of one group entered one after another form a run along the chain. Searches skip
    // only groups of zero and above (the solver's assemblies), so an entry of another group skips
    // to the next entry without looking at it: a walk that skips it goes on from there as well.
    entry.skip = entry.group >= 0 && entry.next != 0 && grid.entries[entry.next - 1].group == entry.group
                     ? grid.entries[entry.next - 1].skip
                     : entry.next;
    grid.entries.push_back(entry);
    grid.slotHead[slot] = static_cast<std::uint32_t>(grid.entries.size());
}

} // namespace

void FineLevels::clear() {
    for (FineGrid& grid : levels)
        clearGrid(grid);
    big.clear();
}

void FineLevels::presize(std::size_t level, std::size_t listings, std::size_t boxes) {
    FineGrid& grid = levels[level];
    grid.entries.reserve(listings);
    // Most boxes have a cell of their own; add keeps the table at most half full.
    std::size_t slots = std::max<std::size_t>(grid.slotHead.size(), 1);
    while (slots < 2 * boxes)
        slots *= 2;
    if (grid.usedSlots == 0 && slots > grid.slotHead.size()) {
        grid.slotHead.assign(slots, 0);
        grid.slotKey.assign(slots, 0);
    }
}

void FineLevels::enter(const Box& bounds, std::uint32_t id, std::int32_t group) {
    FineGrid::Entry entry;
    entry.id = id;
    entry.group = group;
    fine::Range range;
    const std::size_t level = fine::levelOf(bounds, range);
    if (level == fine::levelCount) {
        big.push_back(entry);
        return;
    }
    FineGrid& grid = levels[level];
    for (int k = 0; k < 3; ++k)
        entry.low[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(range.lo[k]);
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y) {
            std::uint64_t key = fine::key(x, y, range.lo[2]);
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z, key += fine::keyZ) {
                entry.first = x == range.lo[0] && y == range.lo[1] && z == range.lo[2];
                add(grid, entry, x, y, z, key);
            }
        }
}

} // namespace zarn
