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

    // A cell's edge, m.
    static constexpr double size = 64.0;
    // The world x of the middle of cell column k, or the world z of the middle of cell row k.
    static constexpr double middle(std::int32_t k) { return (k + 0.5) * size; }

    friend auto operator<=>(const ChunkCell&, const ChunkCell&) = default;
};

} // namespace zarn
