#pragma once

#include <cstdint>

#include "common/dem_types.h"

namespace marlwood {

inline constexpr double kColormapTop = 32000.0;

struct Colormap {
    std::int32_t elevrange = 0;
    float colormap_slope = 0;
    float colormap_intercept = 0;
};

// Maps min_elevation to 0 and max_elevation to about 32000. The intercept comes from the
// unrounded slope. A range of 0 gives slope and intercept 0, so every valid cell scales to 0.
Colormap computeColormap(std::int32_t max_elevation, std::int32_t min_elevation);

// One cell: void (-1000 and below) becomes the void marker, anything else v * slope + intercept in
// double precision, truncated toward zero.
inline std::int32_t scaleElevation(std::int32_t v, float slope, float intercept) {
    if (!isValidElevation(v)) return kVoidMarker;
    return static_cast<std::int32_t>(static_cast<double>(v) * static_cast<double>(slope) +
                                     static_cast<double>(intercept));
}

// scaleElevation over a row of `columns` cells, `from` into `to`.
void scaleRow(const std::int32_t* from, std::int32_t* to, std::int32_t columns, float slope,
              float intercept);

}  // namespace marlwood
