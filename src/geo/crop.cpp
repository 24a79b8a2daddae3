#include "geo/crop.h"

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

std::string degrees(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

}  // namespace

Result<CellWindow> cropWindow(const PlaceCrop& crop, const Georeference& georeference,
                              const GeoTransform& grid, std::int32_t rows, std::int32_t columns) {
    const Result<int> projected = epsgCode(georeference.rsnm, georeference.hdat, georeference.zone);
    if (!projected) return projected.error();
    const Result<int> geographic = geographicEpsg(georeference.hdat);
    if (!geographic) return geographic.error();
    const std::string zone = "UTM zone " + std::to_string(georeference.zone) +
                             " (EPSG:" + std::to_string(*projected) + ")";
    if (crop.box) {
        const PlaceCrop::Box& b = *crop.box;
        const Result<std::vector<GroundPoint>> outline =
            projectDegrees(*geographic, *projected, boxOutline(b));
        if (!outline) return outline.error();
        if (auto window = windowHolding(*outline, grid, rows, columns)) return *window;
        return failure("the box " + degrees(b.west) + "," + degrees(b.south) + "," +
                       degrees(b.east) + "," + degrees(b.north) + " does not touch the grid (" +
                       zone + ")");
    }
    if (!crop.centre) return failure("a crop needs a box or a centre");
    const Degrees centre[] = {*crop.centre};
    const Result<std::vector<GroundPoint>> point = projectDegrees(*geographic, *projected, centre);
    if (!point) return point.error();
    if (auto window = squareWindow(point->front(), crop.extent_km * 1000, grid, rows, columns)) {
        return *window;
    }
    return failure("the square of " + degrees(crop.extent_km) + " km around " +
                   degrees(centre[0].latitude) + "," + degrees(centre[0].longitude) +
                   " does not touch the grid (" + zone + ")");
}

std::string windowText(const CellWindow& w) {
    return std::to_string(w.rows) + " x " + std::to_string(w.columns) + " from row " +
           std::to_string(w.first_row) + ", column " + std::to_string(w.first_column);
}

}  // namespace marlwood
