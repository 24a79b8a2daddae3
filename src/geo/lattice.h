#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/grid_placement.h"
#include "sdts/georeference.h"

// Grids on one lattice of square cells: whole postings between them, their outlines and boxes,
// and the UTM zone a longitude lies in. Pure arithmetic on coordinates in one system.
namespace marlwood {

// Far beyond any grid a file holds, and far within what int64_t holds: a distance of more
// postings than this is no placement.
inline constexpr double kMostPostings = 1e12;

// Cells on the lattice in postings from its origin (rows to the south, columns to the east),
// [row, end_row) x [column, end_column), in 64 bits until a grid of them is known to fit.
struct LatticeRect {
    std::int64_t row = 0, column = 0, end_row = 0, end_column = 0;
};

// A distance as a whole number of postings; nothing when it is not one to within a thousandth
// of a posting (room for float noise only: real transfers give whole metres), or is beyond
// kMostPostings.
std::optional<std::int64_t> wholePostings(double distance, double posting);

// Postings from the origin to the first cell whose centre lies at or after `distance` (cell k's
// centre lies k + 0.5 postings on), clamped to kMostPostings so a wild one cannot overflow.
std::int64_t firstCentreAtOrAfter(double distance, double posting);

// Points along each edge of the outer rectangle of `rows` x `columns` cells of `across` by `down`
// from its top-left corner, 16 a side: a rectangle of one zone is none in the next (its edges
// lean and bow a little), so its corners alone could miss cells its edges reach.
std::vector<GroundPoint> outlineOf(GroundPoint top_left, double across, double down,
                                   std::int32_t rows, std::int32_t columns);

// The smallest box holding every point; nothing when there is none or one is not finite.
struct Bounds {
    double west = 0, south = 0, east = 0, north = 0;
};
std::optional<Bounds> boundsOf(std::span<const GroundPoint> points);

// The lattice's cells whose centres lie within `box`.
LatticeRect cellsWithin(const Bounds& box, GroundPoint origin, double posting);

// Which rectangles join the first: within `gap` postings of it edge to edge, directly or through
// others.
std::vector<bool> joinedToFirst(std::span<const LatticeRect> rects, std::int64_t gap);

// The smallest rectangle holding them all (the first alone when there is one).
LatticeRect unionOf(std::span<const LatticeRect> rects);

// The UTM zone (1 to 60) that holds a longitude in degrees.
int utmZoneOf(double longitude);

}  // namespace marlwood
