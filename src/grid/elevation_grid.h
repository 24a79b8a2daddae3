#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace marlwood {

// USGS no-data value; raw cells start with it, so a cell that no record fills stays void.
inline constexpr std::int32_t kNoData = -32767;

// Elevations above -1000 are valid: only they set the colormap's range, and everything else is
// void in the output.
inline constexpr std::int32_t kVoidThreshold = -1000;
constexpr bool isValidElevation(std::int32_t v) {
    return v > kVoidThreshold;
}

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
    friend void releaseGrid(ElevationGrid&, std::int32_t);
    std::vector<std::unique_ptr<std::int32_t[]>> row_table_;
};

// Gives the grid a table of last_row + 1 slots, each a fresh row of `columns` cells whose content
// is undefined. False (and the grid left empty) when the memory cannot be had.
bool allocateRows(ElevationGrid& grid, std::int32_t last_row, std::int32_t columns);

// Releases rows 0..last_row in order, then the table; an empty grid stays as it is.
void releaseGrid(ElevationGrid& grid, std::int32_t last_row);

// Largest row or column count a .ter file can carry.
inline constexpr std::int32_t kMaxGridSide = 65535;

// True when two grids of this size fit the machine's memory. Rows and columns must already lie
// within 0..kMaxGridSide.
bool gridsFitInMemory(std::int32_t rows, std::int32_t columns, int grid_count);

}  // namespace marlwood
