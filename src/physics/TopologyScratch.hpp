#pragma once

#include <cstdint>
#include <vector>

namespace zarn {

// Working storage of the topology refresh, kept between calls so that a refresh allocates nothing
// once the world has reached its size. Holds no state that outlives one call.
struct TopologyScratch {
    std::vector<std::int64_t> depth;
    std::vector<std::uint32_t> queue;
};

} // namespace zarn
