#include "geo/window.h"

#include <algorithm>
#include <cmath>

#include "geo/lattice.h"

namespace marlwood {

namespace {

// An area edge this close to a cell edge (in cells) lies on it: the cell beyond is not taken for
// the noise of a projection or of decimal degrees.
constexpr double kOnEdge = 1e-6;

// Beyond every grid by far, within int64_t by far: cell positions are clamped here before they
// are made whole, so a huge coordinate cannot overflow.
constexpr double kFarCells = 1e12;

std::int64_t whole(double cells) {
    return static_cast<std::int64_t>(std::clamp(cells, -kFarCells, kFarCells));
}

// Cells [first, end) of an axis, clipped to [0, count); nothing when none is left.
std::optional<std::pair<std::int32_t, std::int32_t>> clipped(std::int64_t first, std::int64_t end,
                                                             std::int32_t count) {
    first = std::max<std::int64_t>(first, 0);
    end = std::min<std::int64_t>(end, count);
    if (first >= end) return std::nullopt;
    return std::pair{static_cast<std::int32_t>(first), static_cast<std::int32_t>(end - first)};
}

bool northUp(const GeoTransform& g) {
    return std::all_of(g.begin(), g.end(), [](double v) { return std::isfinite(v); }) && g[1] > 0 &&
           g[5] < 0 && g[2] == 0 && g[4] == 0;
}

}  // namespace

std::optional<CellWindow> windowHolding(std::span<const GroundPoint> outline, const GeoTransform& g,
                                        std::int32_t rows, std::int32_t columns) {
    const std::optional<Bounds> box = boundsOf(outline);
    if (!box || !northUp(g)) return std::nullopt;
    const auto [west, south, east, north] = *box;
    const auto across = clipped(whole(std::floor((west - g[0]) / g[1] + kOnEdge)),
                                whole(std::ceil((east - g[0]) / g[1] - kOnEdge)), columns);
    const auto down = clipped(whole(std::floor((north - g[3]) / g[5] + kOnEdge)),
                              whole(std::ceil((south - g[3]) / g[5] - kOnEdge)), rows);
    if (!across || !down) return std::nullopt;
    return CellWindow{down->first, across->first, down->second, across->second};
}

std::optional<CellWindow> squareWindow(GroundPoint centre, double side_m, const GeoTransform& g,
                                       std::int32_t rows, std::int32_t columns) {
    if (!northUp(g) || !std::isfinite(centre.x) || !std::isfinite(centre.y) ||
        !(side_m > 0 && side_m < INFINITY)) {
        return std::nullopt;
    }
    const std::int64_t wide = std::max<std::int64_t>(1, whole(std::round(side_m / g[1])));
    const std::int64_t high = std::max<std::int64_t>(1, whole(std::round(side_m / -g[5])));
    const std::int64_t column =
        whole(std::round((centre.x - g[0]) / g[1] - static_cast<double>(wide) / 2));
    const std::int64_t row =
        whole(std::round((centre.y - g[3]) / g[5] - static_cast<double>(high) / 2));
    const auto across = clipped(column, column + wide, columns);
    const auto down = clipped(row, row + high, rows);
    if (!across || !down) return std::nullopt;
    return CellWindow{down->first, across->first, down->second, across->second};
}

double largestStretch(std::span<const GroundPoint> from, std::span<const GroundPoint> to) {
    if (from.size() != to.size() || from.size() < 2) return INFINITY;
    double largest = 0;
    for (std::size_t k = 0; k < from.size(); ++k) {
        const std::size_t next = (k + 1) % from.size();
        const double before = std::hypot(from[next].x - from[k].x, from[next].y - from[k].y);
        const double after = std::hypot(to[next].x - to[k].x, to[next].y - to[k].y);
        const double change = std::abs(after / before - 1);
        // NaN (a point not finite, or a side of no length) is no measure.
        if (!(change < INFINITY) || !(before > 0)) return INFINITY;
        largest = std::max(largest, change);
    }
    return largest;
}

}  // namespace marlwood
