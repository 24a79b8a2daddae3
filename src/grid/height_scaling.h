#pragma once

#include <cstdint>
#include <functional>
#include <ostream>

#include "grid/elevation_grid.h"

namespace marlwood {

inline constexpr double kColormapTop = 32000.0;

struct Colormap {
    std::int32_t elevrange = 0;
    float colormap_slope = 0;
    float colormap_intercept = 0;
};

// Maps min_elevation to 0 and max_elevation to about 32000, and prints the three values. The
// intercept comes from the unrounded slope. A range of 0 gives slope and intercept 0, so every
// valid cell scales to 0.
Colormap computeColormap(std::int32_t max_elevation, std::int32_t min_elevation,
                         std::ostream& console);

// One cell: void (-1000 and below) becomes the void marker, anything else v * slope + intercept in
// double precision, truncated toward zero.
inline std::int32_t scaleElevation(std::int32_t v, float slope, float intercept) {
    if (!isValidElevation(v)) return kVoidMarker;
    return static_cast<std::int32_t>(static_cast<double>(v) * static_cast<double>(slope) +
                                     static_cast<double>(intercept));
}

// Scales raw into scaled with the rows reversed (the last CEL0 record becomes the first row of
// the file; columns keep their order), releases raw, then creates scratch holding the same values
// as scaled. At no point are more than two grids held. False when scratch cannot be allocated.
bool scaleAndFlip(ElevationGrid& raw_grid, ElevationGrid& scaled_grid, ElevationGrid& scratch_grid,
                  std::int32_t rows, std::int32_t columns, float colormap_slope,
                  float colormap_intercept);

// Like scaleAndFlip, with every cell mapped by `height_of` instead of the colormap.
bool mapAndFlip(ElevationGrid& raw_grid, ElevationGrid& scaled_grid, ElevationGrid& scratch_grid,
                std::int32_t rows, std::int32_t columns,
                const std::function<std::int32_t(std::int32_t)>& height_of);

}  // namespace marlwood
