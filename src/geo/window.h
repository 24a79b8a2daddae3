#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "common/grid_placement.h"
#include "sdts/georeference.h"

// Which whole cells of a grid an area on the ground covers: pure arithmetic on coordinates
// already in the grid's own coordinate system.
namespace marlwood {

// A rectangle of whole cells: `rows` x `columns` from row `first_row` (0 the north row) and
// column `first_column` (0 the west column) of the grid.
struct CellWindow {
    std::int32_t first_row = 0;
    std::int32_t first_column = 0;
    std::int32_t rows = 0;
    std::int32_t columns = 0;

    bool operator==(const CellWindow&) const = default;
};

// The smallest window that holds every point of `outline` (a closed polygon, densified enough
// that its bounding box is that of the area), clipped to the grid of `rows` x `columns` placed by
// the north-up `geotransform`. Nothing when the area misses the grid, or a number is not finite.
std::optional<CellWindow> windowHolding(std::span<const GroundPoint> outline,
                                        const GeoTransform& geotransform, std::int32_t rows,
                                        std::int32_t columns);

// A square of `side_m` metres centred on `centre`, in whole cells: as many cells a side as the
// side holds to the nearest (at least one), laid on the lattice nearest the square, then
// clipped to the grid. Nothing when it misses the grid, or a number is not finite.
std::optional<CellWindow> squareWindow(GroundPoint centre, double side_m,
                                       const GeoTransform& geotransform, std::int32_t rows,
                                       std::int32_t columns);

// How much a reprojection stretches or shrinks an area: the largest relative change in length
// of a side of the closed polygon `from` (k to k + 1, the last to the first) once its points are
// `to`, 0.02 for 2 %. Infinite when the two differ in size, a point is not finite or a side has
// no length.
double largestStretch(std::span<const GroundPoint> from, std::span<const GroundPoint> to);

}  // namespace marlwood
