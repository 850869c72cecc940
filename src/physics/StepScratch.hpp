#pragma once

#include <cstdint>
#include <vector>

#include "physics/Math.hpp"
#include "physics/Records.hpp"

namespace zarn {

// What the contact solver gathers about one assembly during a step.
struct AssemblyContactState {
    Vec3 normalSum;                 // contact normals, pass 0 only
    double slideWork = 0.0;         // friction work, pass 0 only
    double massRatio = 0.0;         // of the heaviest hard hit
    Vec3 footMin{1e30, 1e30, 1e30}; // resting footprint in (t1, up, t2) coordinates
    Vec3 footMax{-1e30, -1e30, -1e30};
    bool touched = false;
    bool hard = false;
};

// A contact that hit hard enough to fracture, handed to the impact code after the solver.
struct PendingImpact {
    std::uint32_t id = 0;
    Impact hit;
};

// A split candidate of an impact: a piece, its mass and (in the work list) the candidate it came from.
struct SplitEntry {
    std::uint32_t id = 0;
    std::uint32_t root = 0;
    double mass = 0.0;
};

// A piece reached by a blast with its share of the energy.
struct BlastEntry {
    std::uint32_t id = 0;
    double weight = 0.0;
};

// A piece weighted by an impact's push.
struct WeightEntry {
    std::uint32_t id = 0;
    double mass = 0.0;
    double weight = 0.0;
};

// Working storage of stepping and impacts, kept between calls so that a step allocates nothing
// once the world has reached its size. Holds no state that outlives one call.
struct StepScratch {
    // Stepping.
    std::vector<std::uint32_t> candidates;
    std::vector<std::uint32_t> order;
    std::vector<AssemblyContactState> contact;
    std::vector<Polyhedron> savedBodies;
    std::vector<std::uint64_t> cellKeys;
    std::vector<std::uint32_t> bondPairs; // i, j, i, j, ...
    std::vector<PendingImpact> pendingImpacts;

    // Impacts (an impact may run inside a step or a blast, so it keeps its own lists).
    std::vector<std::uint32_t> region;
    std::vector<double> regionDistance; // per piece index, +inf outside the walk
    std::vector<SplitEntry> splitCandidates;
    std::vector<std::int64_t> splitCounts;
    std::vector<SplitEntry> work;
    std::vector<std::uint32_t> newPieces;
    std::vector<std::uint32_t> queried;
    std::vector<std::uint8_t> touchedMark; // per piece index: region or new piece of this impact
    std::vector<WeightEntry> weights;

    // Blasts.
    std::vector<BlastEntry> blastTargets;
};

} // namespace zarn
