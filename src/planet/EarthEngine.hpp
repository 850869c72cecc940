#pragma once

#include <vector>

#include "physics/Math.hpp"
#include "physics/Records.hpp"
#include "planet/EarthModel.hpp"

namespace zarn {

// The Earth world's terrain: the planet model and the generator of its 64 m terrain chunks. Grid
// cell (i, j) of the chunks covers world x from 64 i to 64 (i + 1) and z from 64 j to 64 (j + 1).
class EarthEngine {
  public:
    // The district's rectangle, where the map's own pieces stand: no terrain columns are made inside
    // it on the near side.
    Box districtBounds{{-896.0, -48.0, -768.0}, {768.0, 0.0, 896.0}};
    EarthModel model;

    // The matter of one chunk: sixteen anchored ground columns following the terrain, with roads and
    // rivers drawn into them and, on the near side's land, the crops or the small building of the
    // chunk's zone. The same cell always gives the same pieces in the same order; owner and state
    // time are left for the streamer to set.
    std::vector<MatterPiece> generate(int i, int j, bool farSide) const;
};

} // namespace zarn
