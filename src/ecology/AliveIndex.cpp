#include "ecology/AliveIndex.hpp"

#include <algorithm>

namespace zarn {

AliveIndex::AliveIndex(const std::vector<Organism>& organisms) {
    entries_.reserve(organisms.size());
    for (std::size_t index = 0; index < organisms.size(); ++index)
        if (organisms[index].alive)
            entries_.emplace_back(organisms[index].id, index);
    std::sort(entries_.begin(), entries_.end());
    if (entries_.empty() || entries_.back().first - entries_.front().first >= 4 * entries_.size() + 64)
        return;
    lowest_ = entries_.front().first;
    byId_.assign(entries_.back().first - lowest_ + 1, none);
    // Of two with one id the first in the list, which comes first in the sorted entries.
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        byId_[it->first - lowest_] = it->second;
}

std::size_t AliveIndex::find(std::uint32_t id) const {
    if (!byId_.empty())
        return id >= lowest_ && id - lowest_ < byId_.size() ? byId_[id - lowest_] : none;
    const auto it =
        std::lower_bound(entries_.begin(), entries_.end(), std::pair<std::uint32_t, std::size_t>{id, 0});
    return it != entries_.end() && it->first == id ? it->second : none;
}

} // namespace zarn
