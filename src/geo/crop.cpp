#include "geo/crop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "geo/crs.h"

namespace marlwood {

namespace {

// Points along each edge of a box: a parallel is curved in UTM and a meridian leans, so the
// corners alone can miss a cell that an edge reaches.
constexpr int kPointsPerEdge = 64;

std::vector<Degrees> boxOutline(const PlaceCrop::Box& b) {
    std::vector<Degrees> outline;
    for (int i = 0; i < kPointsPerEdge; ++i) {
        const double t = static_cast<double>(i) / kPointsPerEdge;
        const double lon = b.west + (b.east - b.west) * t;
        const double lat = b.south + (b.north - b.south) * t;
        outline.push_back({lon, b.south});
        outline.push_back({b.east, lat});
        outline.push_back({b.east + b.west - lon, b.north});
        outline.push_back({b.west, b.north + b.south - lat});
    }
    return outline;
}

// How far beyond the grid's own degrees a box is still projected as given: far enough that the
// curve of a parallel or the lean of a meridian near the grid is kept, near enough for the zone.
constexpr double kMarginDegrees = 1;

// The bounds in degrees of the grid's outline (taken back from its zone by PROJ); nothing when
// PROJ cannot.
std::optional<PlaceCrop::Box> gridDegrees(const Reprojection& degrees_to_grid,
                                          const GeoTransform& g, std::int32_t rows,
                                          std::int32_t columns) {
    std::vector<GroundPoint> outline;
    const double wide = g[1] * columns, high = g[5] * rows;
    for (int i = 0; i < kPointsPerEdge; ++i) {
        const double t = static_cast<double>(i) / kPointsPerEdge;
        outline.push_back({g[0] + wide * t, g[3]});
        outline.push_back({g[0] + wide, g[3] + high * t});
        outline.push_back({g[0] + wide * (1 - t), g[3] + high});
        outline.push_back({g[0], g[3] + high * (1 - t)});
    }
    if (!degrees_to_grid.apply(outline, true)) return std::nullopt;
    PlaceCrop::Box b{INFINITY, INFINITY, -INFINITY, -INFINITY};
    for (const GroundPoint& p : outline) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
        b = {std::min(b.west, p.x), std::min(b.south, p.y), std::max(b.east, p.x),
             std::max(b.north, p.y)};
    }
    return b;
}

std::string degrees(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

}  // namespace

Result<CellWindow> cropWindow(const PlaceCrop& crop, const Georeference& georeference,
                              const GeoTransform& grid, std::int32_t rows, std::int32_t columns) {
    const Result<int> projected =
        epsgCode(georeference.rsnm, georeference.hdat, georeference.zone, georeference.crs_from);
    if (!projected) return projected.error();
    const Result<int> geographic = geographicEpsg(georeference.hdat, georeference.crs_from);
    if (!geographic) return geographic.error();
    const std::string zone = "UTM zone " + std::to_string(georeference.zone) +
                             " (EPSG:" + std::to_string(*projected) + ")";
    const Result<Reprojection> own_to_grid = Reprojection::between(*geographic, *projected);
    if (!own_to_grid) return own_to_grid.error();
    const bool shifted = crop.degrees_on && *crop.degrees_on != *geographic;
    const std::optional<PlaceCrop::Box> bounds =
        crop.box || shifted ? gridDegrees(*own_to_grid, grid, rows, columns) : std::nullopt;
    // Degrees on another datum are taken to the grid's through the transformation PROJ picks for
    // the grid's own area (or, where that cannot be had, the crop's), through its datum grid.
    std::optional<Reprojection> other_to_grid;
    if (shifted) {
        PlaceCrop::Box area = bounds.value_or(PlaceCrop::Box{});
        if (!bounds && crop.box) area = *crop.box;
        if (!bounds && crop.centre) {
            area = {crop.centre->longitude - 0.1, crop.centre->latitude - 0.1,
                    crop.centre->longitude + 0.1, crop.centre->latitude + 0.1};
        }
        Result<Reprojection> made = Reprojection::forArea(*crop.degrees_on, *projected, area);
        if (!made) return made.error();
        other_to_grid.emplace(std::move(*made));
    }
    const Reprojection* const to_grid = other_to_grid ? &*other_to_grid : &*own_to_grid;
    if (crop.box) {
        const PlaceCrop::Box& b = *crop.box;
        const Error missed =
            failure("the box " + degrees(b.west) + "," + degrees(b.south) + "," + degrees(b.east) +
                    "," + degrees(b.north) + " does not touch the grid (" + zone + ")");
        PlaceCrop::Box near = b;
        // Within a degree of the grid, datums a hundred metres apart clip alike.
        if (bounds) {
            const auto clipped = boxWithin(b, *bounds, kMarginDegrees);
            if (!clipped) return missed;
            near = *clipped;
        }
        std::vector<GroundPoint> outline;
        for (const Degrees& d : boxOutline(near)) outline.push_back({d.longitude, d.latitude});
        if (Status done = to_grid->apply(outline); !done) return done.error();
        if (auto window = windowHolding(outline, grid, rows, columns)) return *window;
        return missed;
    }
    if (!crop.centre) return failure("a crop needs a box or a centre");
    const Degrees centre = *crop.centre;
    const Error missed = failure("the square of " + degrees(crop.extent_km) + " km around " +
                                 degrees(centre.latitude) + "," + degrees(centre.longitude) +
                                 " does not touch the grid (" + zone + ")");
    GroundPoint point[] = {{centre.longitude, centre.latitude}};
    // A point PROJ cannot take into the zone lies far beyond it, and so beyond the grid.
    if (!to_grid->apply(point)) return missed;
    if (auto window = squareWindow(point[0], crop.extent_km * 1000, grid, rows, columns)) {
        return *window;
    }
    return missed;
}

std::optional<PlaceCrop::Box> boxWithin(const PlaceCrop::Box& box, const PlaceCrop::Box& bounds,
                                        double margin) {
    const PlaceCrop::Box b{
        std::max(box.west, bounds.west - margin), std::max(box.south, bounds.south - margin),
        std::min(box.east, bounds.east + margin), std::min(box.north, bounds.north + margin)};
    // NaN anywhere fails both comparisons.
    if (!(b.west <= b.east && b.south <= b.north)) return std::nullopt;
    return b;
}

std::string windowText(const CellWindow& w) {
    return std::to_string(w.rows) + " x " + std::to_string(w.columns) + " from row " +
           std::to_string(w.first_row) + ", column " + std::to_string(w.first_column);
}

}  // namespace marlwood
