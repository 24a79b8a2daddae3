#pragma once

#include <cstdint>

#include "grid/elevation_grid.h"

namespace marlwood {

// Fills every void cell of rows 0..rows-1 (each `columns` cells) from the nearest valid cells in
// the eight directions, weighted by inverse squared distance, rounded to the nearest whole value.
// A cell is valid when its value is above `void_threshold` (kVoidThreshold = -1000 for whole
// units; a caller keeping thousandths passes -1000000). Valid cells are never changed. Returns the
// number of cells filled (0 when the grid has no valid cell: nothing is changed).
//
// A void cell that sees no valid cell along any of its eight lines is filled in a second round
// from the cells filled in the first; two rounds always suffice. Time is linear in the cells for
// any pattern of voids; the extra memory is a few arrays of rows + columns entries.
std::int64_t fillVoids(ElevationGrid& grid, std::int32_t rows, std::int32_t columns,
                       std::int32_t void_threshold);

}  // namespace marlwood
