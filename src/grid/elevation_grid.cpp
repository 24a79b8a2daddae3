#include "grid/elevation_grid.h"

#include <new>

#include "platform/platform.h"

namespace marlwood {

bool allocateRows(ElevationGrid& grid, std::int32_t last_row, std::int32_t columns) {
    try {
        grid.row_table_.resize(static_cast<std::size_t>(last_row) + 1);
        const std::size_t row_bytes = static_cast<std::size_t>(columns) * sizeof(std::int32_t);
        HeapPrefault prefault(grid.row_table_.size() * row_bytes);
        for (auto& row : grid.row_table_) {
            row.reset(new std::int32_t[static_cast<std::size_t>(columns)]);
            prefault.allocated(row.get() + columns, row_bytes);
        }
    } catch (const std::bad_alloc&) {
        grid.row_table_.clear();
        grid.row_table_.shrink_to_fit();
        return false;
    }
    return true;
}

bool allocateRowTable(ElevationGrid& grid, std::int32_t last_row) {
    try {
        grid.row_table_.clear();
        grid.row_table_.resize(static_cast<std::size_t>(last_row) + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool allocateRow(ElevationGrid& grid, std::int32_t row, std::int32_t columns) {
    try {
        grid.row_table_[static_cast<std::size_t>(row)].reset(
            new std::int32_t[static_cast<std::size_t>(columns)]);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void releaseRow(ElevationGrid& grid, std::int32_t row) {
    grid.row_table_[static_cast<std::size_t>(row)].reset();
}

void releaseGrid(ElevationGrid& grid, std::int32_t last_row) {
    for (std::int32_t i = 0; i <= last_row && static_cast<std::size_t>(i) < grid.row_table_.size();
         ++i) {
        grid.row_table_[static_cast<std::size_t>(i)].reset();
    }
    grid.row_table_.clear();
    grid.row_table_.shrink_to_fit();
}

bool gridsFitInMemory(std::int32_t rows, std::int32_t columns, int grid_count,
                      std::uint64_t available_bytes) {
    const std::uint64_t cells =
        (static_cast<std::uint64_t>(rows) + 1) * static_cast<std::uint64_t>(columns);
    const std::uint64_t bytes =
        cells * sizeof(std::int32_t) * static_cast<std::uint64_t>(grid_count);
    // Memory that is promised but not there would end the process when first touched (Linux
    // overcommits), so the caller asks the machine first.
    return available_bytes == 0 || bytes <= available_bytes;
}

}  // namespace marlwood
