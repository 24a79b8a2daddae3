#pragma once

#include <array>

// Where a grid lies, as geo/ works it out and every writer that records position takes it.
namespace marlwood {

// GDAL's six numbers: the ground point of a cell's top-left corner is x = [0] + column x [1] +
// row x [2], y = [3] + column x [4] + row x [5]. A north-up grid has {left, posting, 0, top, 0,
// -posting}, the left and top of the grid's outer edge (not of the first cell's centre).
using GeoTransform = std::array<double, 6>;

struct GridPlacement {
    int epsg = 0;  // the coordinate system, e.g. 26715 for NAD27 / UTM zone 15N
    GeoTransform geotransform{};
};

}  // namespace marlwood
