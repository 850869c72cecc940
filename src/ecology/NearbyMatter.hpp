#pragma once

#include <cstdint>
#include <vector>

#include "physics/Physics.hpp"

namespace zarn {

// A piece of matter and its bounds.
struct ReachingPiece {
    std::uint32_t id = 0;
    Box bounds;
};

// The matter grid as one body step meets it: the list of each 32 m cell found once in the grid's
// table and kept with the bounds of its pieces. Nothing moves the matter during the step and only a
// refresh of its topology lists it anew, so the lists hold until the step forgets them before a
// push that brings a refresh. The answers are those of Physics::query less the pieces whose bounds
// lie clear of the box, which no sweep, overlap or touch of the box can meet.
class MatterCells {
  public:
    // Working storage kept from step to step (see BodyScratch).
    struct Storage {
        struct Slot {
            std::uint64_t key = 0;
            std::uint32_t pieces = 0; // index + 1 in cells; 0 for a cell the grid does not have
            bool used = false;
        };
        std::vector<Slot> slots; // cells found, by key: a power of two of them, at most half used
        std::vector<std::uint32_t> usedSlots;
        std::vector<std::vector<ReachingPiece>> cells; // the first `found` are the step's
        std::size_t found = 0;
    };

    // Starts a step of the matter as it stands.
    MatterCells(const Physics& physics, Storage& storage);

    // The grid may list its pieces anew.
    void forget();
    // Into out, by ascending id: the pieces that Physics::query lists for the box whose bounds do not
    // lie clear of it (not-a-number is never clear), with those bounds.
    void reaching(const Box& box, std::vector<ReachingPiece>& out);
    // Whether an alive piece that Physics::query lists for the box overlaps or touches it.
    bool touches(const Box& box);

  private:
    // The pieces the grid lists in the cell, nullptr for a cell it does not have.
    const std::vector<ReachingPiece>* cell(std::int64_t x, std::int64_t y, std::int64_t z);
    // Calls visit(piece) for the pieces the grid lists for the box, some more than once, until it
    // returns true; the number of non-empty lists met, or -1 when visit returned true.
    template <class Visit> int visitListed(const Box& box, Visit&& visit);

    const Physics& physics_;
    Storage& storage_;
    std::vector<std::uint32_t> ids_;
};

// Physics::sweepPieces over pieces found with their bounds (by ascending id): the same answer for
// any list that holds every piece the sweep could meet.
BodySweep sweepReaching(const Physics& physics, const std::vector<ReachingPiece>& pieces,
                        const MovingBox& moving, double& depth);

// The matter that the sweeps of one body in one step may meet, from one grid query that the later
// sweeps reuse while their swept bounds lie inside the box it covered. Every piece whose bounds
// reach a box is among the grid's candidates for any box that holds it, so a sweep meets the same
// pieces, in the same id order, as Physics::sweepBody, and answers what it answers. A body stuck
// among matter meets up to eight obstacles a step, and a wide one reaches thousands of pieces; this
// keeps it to one query. Given the step's cells it keeps only the pieces that reach the box it
// covered; without them it sweeps every piece the grid lists, as the plain walks do.
class NearbyMatter {
  public:
    explicit NearbyMatter(const Physics& physics, MatterCells* cells = nullptr)
        : physics_(physics), cells_(cells) {}

    // Forgets the pieces found, for another body.
    void forget() { known_ = false; }
    // The answer of Physics::sweepBody for the same body, displacement and depth.
    BodySweep sweep(const Polyhedron& body, const Vec3& displacement, double& depth);
    BodySweep sweep(const MovingBox& moving, double& depth);

  private:
    const Physics& physics_;
    MatterCells* cells_;
    bool known_ = false;
    Box covered_;
    std::vector<std::uint32_t> ids_;      // without cells
    std::vector<ReachingPiece> reaching_; // with them
};

} // namespace zarn
