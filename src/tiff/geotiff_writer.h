#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/grid_placement.h"
#include "common/result.h"

namespace marlwood {

// The NoData value of every GeoTIFF marlwood writes, which a void cell must be given as. It is
// the USGS void value, so a void reads the same in the file as in the transfer; it is exact in
// Float32 and far below any elevation on land, in metres or feet; and unlike NaN it equals
// itself, so readers that compare a cell with the NoData tag (not all test for NaN) find voids.
inline constexpr float kGeoTiffNoData = -32767.0f;

// Fills `metres` (one row of the grid, `columns` cells west to east) with row `row`'s elevations
// in metres, void cells as kGeoTiffNoData. Called once per row, row 0 (the north row) first; it
// must not throw.
using GeoTiffRowSource = std::function<void(std::int32_t row, std::span<float> metres)>;

// Writes a GeoTIFF of `rows` x `columns` cells to `path`: one Float32 band, the coordinate system
// and geotransform of `placement` as GeoTIFF keys, NoData kGeoTiffNoData, in strips of 16 rows,
// DEFLATE with the floating-point predictor. `rows_of_metres` is called on the calling thread
// only (a second thread compresses). The file is written under a temporary name and renamed when
// complete; on failure nothing is left and the Error says why in one line. libtiff and libdeflate
// are loaded on the first call; a build without them refuses, saying so.
Status writeGeoTiff(const std::string& path, std::int32_t rows, std::int32_t columns,
                    const GridPlacement& placement, const GeoTiffRowSource& rows_of_metres);

}  // namespace marlwood
