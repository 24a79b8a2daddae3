#include "geo/window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "geo/projection.h"

namespace marlwood {
namespace {

// 10 rows x 20 columns of 30 m: x 1000..1600, y 2000 (north) .. 1700.
constexpr GeoTransform kGrid{1000, 30, 0, 2000, 0, -30};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Window, HoldingAnOutline) {
    const struct {
        const char* what;
        std::vector<GroundPoint> outline;
        std::optional<CellWindow> window;  // {first row, first column, rows, columns}
    } cases[] = {
        {"inside one cell", {{1030.5, 1941}, {1059, 1969}}, CellWindow{1, 1, 1, 1}},
        {"edges on cell lines", {{1030, 1910}, {1090, 1970}}, CellWindow{1, 1, 2, 2}},
        {"a centimetre past a line", {{1030, 1910}, {1090.01, 1970}}, CellWindow{1, 1, 2, 3}},
        {"clipped north-west", {{900, 1950}, {1100, 2100}}, CellWindow{0, 0, 2, 4}},
        {"larger than the grid", {{0, 0}, {9000, 9000}}, CellWindow{0, 0, 10, 20}},
        {"a diamond's points between its corners",
         {{1100, 1850}, {1200, 1950}, {1300, 1850}, {1200, 1750}},
         CellWindow{1, 3, 8, 7}},
        {"east of the grid", {{1700, 1800}, {1800, 1900}}, std::nullopt},
        {"only touching the east edge", {{1600, 1800}, {1700, 1900}}, std::nullopt},
        {"huge", {{-1e300, -1e300}, {1e300, 1e300}}, CellWindow{0, 0, 10, 20}},
        {"not finite", {{1030, 1910}, {kNaN, 1970}}, std::nullopt},
        {"no point", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(windowHolding(c.outline, kGrid, 10, 20), c.window);
    }
    const GroundPoint inside[] = {{1100, 1900}};
    for (const GeoTransform& odd :
         {GeoTransform{1000, 30, 1, 2000, 0, -30}, GeoTransform{1000, 30, 0, 2000, 0, 30},
          GeoTransform{kNaN, 30, 0, 2000, 0, -30}}) {
        EXPECT_EQ(windowHolding(inside, odd, 10, 20), std::nullopt);
    }
}

TEST(Window, SquareAroundACentre) {
    const struct {
        const char* what;
        GroundPoint centre;
        double side_m;
        std::optional<CellWindow> window;
    } cases[] = {
        {"centred on a cell", {1315, 1835}, 90, CellWindow{4, 9, 3, 3}},
        {"a side to the nearest cell", {1315, 1835}, 100, CellWindow{4, 9, 3, 3}},
        {"an even side on a cell line", {1300, 1850}, 120, CellWindow{3, 8, 4, 4}},
        {"at least one cell", {1315, 1835}, 10, CellWindow{5, 10, 1, 1}},
        {"clipped at the corner", {1000, 2000}, 300, CellWindow{0, 0, 5, 5}},
        {"far away", {5000, 5000}, 300, std::nullopt},
        {"huge", {1300, 1850}, 1e300, CellWindow{0, 0, 10, 20}},
        {"no side", {1300, 1850}, 0, std::nullopt},
        {"a side not finite", {1300, 1850}, kNaN, std::nullopt},
        {"a centre not finite", {kNaN, 1850}, 90, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(squareWindow(c.centre, c.side_m, kGrid, 10, 20), c.window);
    }
}

// DULUTH's top-left corner as gdalinfo places it: 92d7'29.67"W 46d52'33.83"N on NAD27 is
// 566685, 5191545 in zone 15 (to the hundredth of a second gdalinfo prints, about 0.3 m).
TEST(Projection, ProjDegreesIntoUtm) {
    const Degrees corner[] = {{-(92 + 7 / 60.0 + 29.67 / 3600), 46 + 52 / 60.0 + 33.83 / 3600}};
    const Result<int> nad27 = geographicEpsg("NAS");
    ASSERT_TRUE(nad27);
    const Result<std::vector<GroundPoint>> projected = projectDegrees(*nad27, 26715, corner);
    ASSERT_TRUE(projected) << projected.message();
    EXPECT_NEAR(projected->front().x, 566685, 0.5);
    EXPECT_NEAR(projected->front().y, 5191545, 0.5);
    const Result<std::vector<GroundPoint>> unknown = projectDegrees(4267, 1, corner);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.message().find('\n'), std::string::npos);
    EXPECT_FALSE(geographicEpsg("XYZ"));
}

}  // namespace
}  // namespace marlwood
