#include "grid/height_scaling.h"

#include <algorithm>
#include <cstdio>

namespace marlwood {

Colormap computeColormap(std::int32_t max_elevation, std::int32_t min_elevation,
                         std::ostream& console) {
    Colormap map;
    map.elevrange = max_elevation - min_elevation;
    console << "\n" << std::flush << "elevrange is:  " << map.elevrange << '\n' << std::flush;
    if (map.elevrange != 0) {
        const double q = kColormapTop / map.elevrange;
        map.colormap_slope = static_cast<float>(q);
        map.colormap_intercept = static_cast<float>(kColormapTop - max_elevation * q);
    }
    char text[160];
    std::snprintf(
        text, sizeof text, "\nColormap slope value: %.5f\nColormap intercept value: %.5f\n\n",
        static_cast<double>(map.colormap_slope), static_cast<double>(map.colormap_intercept));
    console << text << std::flush;
    return map;
}

bool scaleAndFlip(ElevationGrid& raw_grid, ElevationGrid& scaled_grid, ElevationGrid& scratch_grid,
                  std::int32_t rows, std::int32_t columns, float colormap_slope,
                  float colormap_intercept) {
    // Scaling and row reversal in one sweep: a left-right mirror followed by a half turn leaves
    // exactly the rows reversed.
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::int32_t* from = raw_grid[static_cast<std::size_t>(i)];
        std::int32_t* to = scaled_grid[static_cast<std::size_t>(rows - 1 - i)];
        for (std::int32_t j = 0; j < columns; ++j) {
            to[j] = scaleElevation(from[j], colormap_slope, colormap_intercept);
        }
    }
    if (!raw_grid.empty()) releaseGrid(raw_grid, rows);
    if (!allocateRows(scratch_grid, rows, columns)) return false;
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::int32_t* from = scaled_grid[static_cast<std::size_t>(i)];
        std::copy(from, from + columns, scratch_grid[static_cast<std::size_t>(i)]);
    }
    return true;
}

}  // namespace marlwood
