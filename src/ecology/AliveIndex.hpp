#pragma once

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "ecology/Records.hpp"

namespace zarn {

// The alive organisms by id, for the passes that look up bond ends: the index of the first alive
// organism with an id, as a search of the list from its start finds it.
class AliveIndex {
  public:
    static constexpr std::size_t none = std::numeric_limits<std::size_t>::max();

    explicit AliveIndex(const std::vector<Organism>& organisms);
    // The index, or none when no alive organism has the id.
    std::size_t find(std::uint32_t id) const;

  private:
    std::vector<std::pair<std::uint32_t, std::size_t>> entries_; // (id, index), ascending
    // When the ids lie close together (as they mostly do), the index of every id from the lowest
    // on, none for an id no alive organism has.
    std::uint32_t lowest_ = 0;
    std::vector<std::size_t> byId_;
};

} // namespace zarn
