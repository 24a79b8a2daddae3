#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/result.h"

// A picture of a written terrain: hillshade tinted by elevation, for a look before opening it.
namespace marlwood {

struct PreviewInput {
    std::int32_t rows = 0, columns = 0;  // the grid, row 0 the northernmost
    double posting_m = 30;               // ground distance between cells, metres
    // The elevation in metres of cell (row, column), or NaN for a void.
    std::function<double(std::int32_t row, std::int32_t column)> metres;
    double posting_y_m = 0;  // between rows, where it differs from posting_m (0: the same)
};

// Voids: a magenta that shading never makes of the tint ramp (its green never falls to 0).
inline constexpr std::uint8_t kPreviewVoidColour[3] = {255, 0, 255};

// The long side of a preview, at most.
inline constexpr std::int32_t kPreviewMaxSide = 1024;

// Writes a north-up PNG at most 1024 pixels on its long side (the grid's size when smaller).
// An Error when it cannot be written (nothing half-written is left).
//
// Each pixel averages the valid cells of its block of the grid and is void when half its cells
// or more are. Light comes from the north-west, 45 degrees up, on slopes in true metres; the tint
// runs from green lowlands through brown to white over the pixels' elevation range. The grid is
// read once, a cell at a time.
Status writePreview(const std::string& png_path, const PreviewInput& input);

// The same picture as the bytes of a PNG, for a file of another format to hold: empty for an
// empty grid. Pixel (x, y) covers the cells from x * columns / width and y * rows / height.
std::string previewPng(const PreviewInput& input);

}  // namespace marlwood
