#pragma once

#include <vector>

#include "ecology/NearbyMatter.hpp"
#include "ecology/OrganismCells.hpp"
#include "physics/Math.hpp"

namespace zarn {

// Working storage of the body step, kept from step to step so that a step allocates next to
// nothing; not part of the world's state (never saved or compared). A copy of an ecology starts
// with empty buffers and keeps its own when another is copied over it; only the choice of walks
// comes along.
struct BodyScratch {
    BodyScratch() = default;
    BodyScratch(const BodyScratch& other) : plainWalks(other.plainWalks) {}
    BodyScratch(BodyScratch&&) noexcept = default;
    BodyScratch& operator=(const BodyScratch& other) {
        plainWalks = other.plainWalks;
        return *this;
    }
    BodyScratch& operator=(BodyScratch&&) noexcept = default;

    // Tests set plainWalks to have every search for the organisms a body meets walk the whole list
    // instead of the cells, and every search for matter test all that the grid lists: both ways
    // must give the same world bit for bit.
    bool plainWalks = false;
    OrganismCells cells;
    std::vector<Box> bounds; // every organism's, as it last moved
    MatterCells::Storage matter;
};

} // namespace zarn
