#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/dem_types.h"

namespace marlwood {

// A table of row slots 0..rows, each its own array of `columns` cells. The DEM fills slots
// 0..rows-1; slot `rows` is a spare that is allocated and released with the others and never
// touched. An empty grid has no table.
class ElevationGrid {
  public:
    bool empty() const { return row_table_.empty(); }
    std::int32_t* operator[](std::size_t row) { return row_table_[row].get(); }
    const std::int32_t* operator[](std::size_t row) const { return row_table_[row].get(); }
    std::size_t slots() const { return row_table_.size(); }

  private:
    friend bool allocateRows(ElevationGrid&, std::int32_t, std::int32_t);
    friend bool allocateRowTable(ElevationGrid&, std::int32_t);
    friend bool allocateRow(ElevationGrid&, std::int32_t, std::int32_t);
    friend void releaseRow(ElevationGrid&, std::int32_t);
    friend void releaseGrid(ElevationGrid&, std::int32_t);
    std::vector<std::unique_ptr<std::int32_t[]>> row_table_;
};

// Gives the grid a table of last_row + 1 slots, each a fresh row of `columns` cells whose content
// is undefined. False (and the grid left empty) when the memory cannot be had.
bool allocateRows(ElevationGrid& grid, std::int32_t last_row, std::int32_t columns);

// For a grid made a row at a time: a table of last_row + 1 empty slots, then each slot's fresh row
// of `columns` cells (content undefined) when it is needed. False when the memory cannot be had.
bool allocateRowTable(ElevationGrid& grid, std::int32_t last_row);
bool allocateRow(ElevationGrid& grid, std::int32_t row, std::int32_t columns);
// Releases one row, for a grid read once in order; its slot is left empty.
void releaseRow(ElevationGrid& grid, std::int32_t row);

// Releases rows 0..last_row in order, then the table; an empty grid stays as it is.
void releaseGrid(ElevationGrid& grid, std::int32_t last_row);

// True when `grid_count` grids of this size (rows + 1 slots of `columns` cells each) fit in
// `available_bytes`; 0 available means the machine could not tell, and anything goes. Rows and
// columns must not be negative.
bool gridsFitInMemory(std::int32_t rows, std::int32_t columns, int grid_count,
                      std::uint64_t available_bytes);

}  // namespace marlwood
