#pragma once

#include <cstdint>
#include <vector>

namespace zarn {

// Working storage of stepping and impacts, kept between calls so that a step allocates nothing
// once the world has reached its size. Holds no state that outlives one call.
struct StepScratch {
    std::vector<std::uint32_t> candidates;
};

} // namespace zarn
