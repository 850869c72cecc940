#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "physics/GridCells.hpp"
#include "physics/Physics.hpp"

// The contact solver's broad phase (BroadPhase.cpp tells how it works): the fine grid of the pieces
// the moving pieces may meet, the stamps of their re-entries and the searches that hold while
// nothing moved near them.
namespace zarn::broad {

// The broad phase's fine grid follows an assembly that position corrections moved this far since
// its members last entered it.
constexpr double fineDrift = 0.25;

// Merges the ascending ids of `more` into the ascending `into`, each once, by way of `merged`.
inline void mergeAscending(std::vector<std::uint32_t>& into, const std::vector<std::uint32_t>& more,
                           std::vector<std::uint32_t>& merged) {
    merged.clear();
    std::set_union(into.begin(), into.end(), more.begin(), more.end(), std::back_inserter(merged));
    into.swap(merged);
}

// Marks the awake pieces and readies the fine grid and the searches for a step of the solver.
void beginBroadPhase(Physics& physics);

// Takes up the broad phase's storage for a step in which every piece of the world moves: the
// arrays get their room and their memory is written once, their sizes and values stay as they were.
void prepareBroadPhase(Physics& physics);

// Enters the members of an assembly that position corrections moved again where they now are.
void reenterMembers(Physics& physics, std::int32_t index);

// The range of piece i of assembly a whose query box has these cells, with its members in the range.
std::uint32_t pieceRange(Physics& physics, std::uint32_t i, std::int32_t a, const grid::CellRange& cells);

// The awake ids a range lists, brought up to date.
void refreshAwake(Physics& physics, std::uint32_t range);

// The members of an assembly that the range lists, ascending.
const std::vector<std::uint32_t>& membersInRange(Physics& physics, std::uint32_t range,
                                                 std::int32_t assembly);

// A new search for piece i of assembly a, whose bounds widened by 0.02 are box.
void searchNear(Physics& physics, std::uint32_t i, std::int32_t a, const Box& box, std::uint32_t range);

// Whether the last search for piece i of assembly a still holds for a visit with this range.
bool searchHolds(Physics& physics, std::uint32_t i, std::int32_t a, std::uint32_t range);

// The last search of piece i, whose visit of this step is made.
NearSearch& searchOf(StepScratch& scratch, std::uint32_t i);

// How many ids of an ascending list are below id.
std::size_t countBelow(const std::vector<std::uint32_t>& ids, std::uint32_t id);

} // namespace zarn::broad
