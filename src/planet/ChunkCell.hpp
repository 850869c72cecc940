#pragma once

#include <compare>
#include <cstdint>

namespace zarn {

// One 64 m grid cell of the Earth's terrain on one hemisphere: the cell of a terrain chunk and of the
// organisms' patch on it. Cell (i, j) covers world x from 64 i to 64 (i + 1) and z from 64 j to
// 64 (j + 1). Ordered by i, then j, then farSide.
struct ChunkCell {
    std::int32_t i = 0;
    std::int32_t j = 0;
    bool farSide = false;

    friend auto operator<=>(const ChunkCell&, const ChunkCell&) = default;
};

} // namespace zarn
