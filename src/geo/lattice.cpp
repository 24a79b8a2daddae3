#include "geo/lattice.h"

#include <algorithm>
#include <cmath>

namespace marlwood {

namespace {

constexpr double kLatticeTolerance = 1e-3;
constexpr int kOutlinePoints = 16;

bool nearEnough(const LatticeRect& a, const LatticeRect& b, std::int64_t gap) {
    return a.row < b.end_row + gap && b.row < a.end_row + gap && a.column < b.end_column + gap &&
           b.column < a.end_column + gap;
}

}  // namespace

std::optional<std::int64_t> wholePostings(double distance, double posting) {
    const double steps = distance / posting;
    if (!(std::abs(steps) <= kMostPostings)) return std::nullopt;
    const double whole = std::round(steps);
    if (std::abs(steps - whole) > kLatticeTolerance) return std::nullopt;
    return static_cast<std::int64_t>(whole);
}

std::int64_t firstCentreAtOrAfter(double distance, double posting) {
    double k = std::ceil(distance / posting - 0.5);
    if (std::isnan(k)) k = kMostPostings;
    return static_cast<std::int64_t>(std::clamp(k, -kMostPostings, kMostPostings));
}

std::vector<GroundPoint> outlineOf(GroundPoint c, double across, double down, std::int32_t rows,
                                   std::int32_t columns) {
    const double wide = across * columns;
    const double high = down * rows;
    std::vector<GroundPoint> outline;
    outline.reserve(4 * kOutlinePoints);
    for (int i = 0; i < kOutlinePoints; ++i) {
        const double t = static_cast<double>(i) / kOutlinePoints;
        outline.push_back({c.x + wide * t, c.y});
        outline.push_back({c.x + wide, c.y - high * t});
        outline.push_back({c.x + wide * (1 - t), c.y - high});
        outline.push_back({c.x, c.y - high * (1 - t)});
    }
    return outline;
}

std::optional<Bounds> boundsOf(std::span<const GroundPoint> points) {
    if (points.empty()) return std::nullopt;
    Bounds box{INFINITY, INFINITY, -INFINITY, -INFINITY};
    for (const GroundPoint& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
        box.west = std::min(box.west, p.x);
        box.east = std::max(box.east, p.x);
        box.south = std::min(box.south, p.y);
        box.north = std::max(box.north, p.y);
    }
    return box;
}

LatticeRect cellsWithin(const Bounds& box, GroundPoint origin, double posting) {
    return {firstCentreAtOrAfter(origin.y - box.north, posting),
            firstCentreAtOrAfter(box.west - origin.x, posting),
            firstCentreAtOrAfter(origin.y - box.south, posting),
            firstCentreAtOrAfter(box.east - origin.x, posting)};
}

std::vector<bool> joinedToFirst(std::span<const LatticeRect> rects, std::int64_t gap) {
    std::vector<bool> joined(rects.size(), false);
    if (rects.empty()) return joined;
    joined[0] = true;
    std::vector<std::size_t> reached{0};
    for (std::size_t k = 0; k < reached.size(); ++k) {
        for (std::size_t j = 0; j < rects.size(); ++j) {
            if (!joined[j] && nearEnough(rects[reached[k]], rects[j], gap)) {
                joined[j] = true;
                reached.push_back(j);
            }
        }
    }
    return joined;
}

LatticeRect unionOf(std::span<const LatticeRect> rects) {
    if (rects.empty()) return {};
    LatticeRect all = rects.front();
    for (const LatticeRect& r : rects) {
        all.row = std::min(all.row, r.row);
        all.column = std::min(all.column, r.column);
        all.end_row = std::max(all.end_row, r.end_row);
        all.end_column = std::max(all.end_column, r.end_column);
    }
    return all;
}

int utmZoneOf(double longitude) {
    double index = std::floor((longitude + 180) / 6);
    if (!(index >= 0)) index = 0;  // NaN too
    if (index > 59) index = 59;    // 180 degrees east is zone 60's edge
    return static_cast<int>(index) + 1;
}

}  // namespace marlwood
