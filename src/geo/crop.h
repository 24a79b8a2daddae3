#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/grid_placement.h"
#include "common/result.h"
#include "geo/projection.h"
#include "geo/window.h"
#include "sdts/georeference.h"

namespace marlwood {

// An area to crop to, in degrees: a box (--bbox), or a square of `extent_km` a side around a
// centre (--centre, --extent).
struct PlaceCrop {
    using Box = DegreeBox;
    std::optional<Box> box;
    std::optional<Degrees> centre;
    double extent_km = 0;
    // The EPSG code of the geographic system the degrees are on (--degrees-on: 4326 WGS 84, 4269
    // NAD83, 4267 NAD27); nothing: the grid's own datum.
    std::optional<int> degrees_on;
};

// The window of the grid (`rows` x `columns` placed by `grid`, on the datum and in the UTM zone
// `georeference`'s XREF names) that `crop` covers, projected by PROJ; degrees on another datum
// are taken to the grid's through PROJ and marlwood's datum grids. An Error in one line when the
// area misses the grid or cannot be placed, or a datum grid it needs is not found.
Result<CellWindow> cropWindow(const PlaceCrop& crop, const Georeference& georeference,
                              const GeoTransform& grid, std::int32_t rows, std::int32_t columns);

// The part of `box` within `bounds` widened by `margin` degrees on every side; nothing when they
// do not meet or a number is not a number. Degrees far from a UTM zone cannot be projected into
// it, so a box is clipped to near the grid before it is projected.
std::optional<PlaceCrop::Box> boxWithin(const PlaceCrop::Box& box, const PlaceCrop::Box& bounds,
                                        double margin);

// "R x C from row r, column c": a window as the report gives it.
std::string windowText(const CellWindow& window);

}  // namespace marlwood
