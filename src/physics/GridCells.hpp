#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "physics/Physics.hpp"

// Cell arithmetic of the 32 m grid, shared by the grid itself and by the bonding of new pieces.
namespace zarn::grid {

// Queries whose box would touch more cells than this scan the pieces instead.
inline constexpr double scanCellLimit = 4096.0;
// Cell coordinates are clamped to ±2^62 so that NaN and huge coordinates convert to integers
// safely and cell ranges can be walked without overflow.
inline constexpr double cellCoordinateLimit = 4611686018427387904.0;

inline std::int64_t cellIndex(double coordinate) {
    const double cell = std::floor(coordinate / Physics::cellSize);
    if (std::isnan(cell))
        return 0;
    return static_cast<std::int64_t>(std::clamp(cell, -cellCoordinateLimit, cellCoordinateLimit));
}

inline CellRange cellRange(const Box& box, double margin) {
    CellRange range{};
    for (int k = 0; k < 3; ++k) {
        range.lo[k] = cellIndex(box.min[k] - margin);
        range.hi[k] = cellIndex(box.max[k] + margin);
    }
    return range;
}

// Pieces are listed in every cell their bounds reach, widened by this much so that touching pieces
// always share a cell.
inline constexpr double entryMargin = 0.015;
// A piece spanning more cells than this on an axis is far beyond the store's size limit (half
// extents of at most 1000 m); such a piece is not listed in cells.
inline constexpr std::int64_t maxCellsPerAxis = 128;
// Half extents of at most this length keep a piece's bounds, at any orientation, within 126 cells
// on every axis, so that it is listed wherever it turns.
inline constexpr double maxListedHalfDiagonal = 2000.0;

// The cells a piece with these bounds is listed in; false when it is too large to be listed.
inline bool listingRange(const Box& bounds, CellRange& range) {
    range = cellRange(bounds, entryMargin);
    for (int k = 0; k < 3; ++k)
        if (range.hi[k] >= range.lo[k] + maxCellsPerAxis) // indices are clamped to +-2^62: no overflow
            return false;
    return true;
}

// Whether the grid can list a piece of this body: the store takes no piece that it cannot list,
// since no query would ever find it.
inline bool listable(const Polyhedron& body) {
    if (!(length(body.halfExtents) <= maxListedHalfDiagonal))
        return false;
    CellRange range;
    return listingRange(body.bounds(), range);
}

inline bool rangesMeet(const CellRange& a, const CellRange& b) {
    for (int k = 0; k < 3; ++k)
        if (a.hi[k] < b.lo[k] || b.hi[k] < a.lo[k])
            return false;
    return true;
}

inline bool singleCell(const CellRange& range) {
    return range.lo[0] == range.hi[0] && range.lo[1] == range.hi[1] && range.lo[2] == range.hi[2];
}

// Whether a piece is where its grid entry recorded it, alive or dead as then.
inline bool entryCurrent(const Physics::GridEntry& entry, const MatterPiece& piece) {
    if (entry.alive != piece.alive)
        return false;
    if (!piece.alive)
        return true;
    return entry.center == piece.body.center && entry.halfExtents == piece.body.halfExtents &&
           entry.orientation == piece.body.orientation;
}

// Inclusive overlap of two boxes.
inline bool overlaps(const Box& a, const Box& b) {
    return a.min.x <= b.max.x && a.max.x >= b.min.x && a.min.y <= b.max.y && a.max.y >= b.min.y &&
           a.min.z <= b.max.z && a.max.z >= b.min.z;
}

// The bounds of both boxes: what a box sweeps from the one to the other.
inline Box joined(const Box& a, const Box& b) {
    return {componentMin(a.min, b.min), componentMax(a.max, b.max)};
}

inline Box widened(Box box, double margin) {
    box.min -= Vec3{margin, margin, margin};
    box.max += Vec3{margin, margin, margin};
    return box;
}

// True when a query of this box would touch more than 4096 cells and scans the pieces instead.
inline bool needsScan(const Box& box) {
    const Vec3 size = box.max - box.min;
    return (size.x / Physics::cellSize + 2.0) * (size.y / Physics::cellSize + 2.0) *
               (size.z / Physics::cellSize + 2.0) >
           scanCellLimit;
}

// Calls visit(list) for the id list of every non-empty cell of the range; lists are ascending.
template <class Visit> void forEachCell(const Physics& physics, const CellRange& range, Visit&& visit) {
    for (std::int64_t x = range.lo[0]; x <= range.hi[0]; ++x)
        for (std::int64_t y = range.lo[1]; y <= range.hi[1]; ++y)
            for (std::int64_t z = range.lo[2]; z <= range.hi[2]; ++z) {
                const auto cell = physics.cells.find(Physics::gridKey(x, y, z));
                if (cell != physics.cells.end())
                    visit(cell->second);
            }
}

} // namespace zarn::grid
