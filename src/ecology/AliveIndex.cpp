#include "ecology/AliveIndex.hpp"

#include <algorithm>

namespace zarn {

AliveIndex::AliveIndex(const std::vector<Organism>& organisms) {
    entries_.reserve(organisms.size());
    for (std::size_t index = 0; index < organisms.size(); ++index)
        if (organisms[index].alive)
            entries_.emplace_back(organisms[index].id, index);
    std::sort(entries_.begin(), entries_.end());
}

std::size_t AliveIndex::find(std::uint32_t id) const {
    const auto it =
        std::lower_bound(entries_.begin(), entries_.end(), std::pair<std::uint32_t, std::size_t>{id, 0});
    return it != entries_.end() && it->first == id ? it->second : none;
}

} // namespace zarn
