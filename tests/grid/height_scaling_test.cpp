#include "grid/height_scaling.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace marlwood {
namespace {

std::string colormapLines(const std::string& elevrange, const std::string& slope,
                          const std::string& intercept) {
    return "\nelevrange is:  " + elevrange + "\n\nColormap slope value: " + slope +
           "\nColormap intercept value: " + intercept + "\n\n";
}

TEST(Colormap, PrintedValuesAndScaledCells) {
    const struct {
        std::int32_t max, min;
        const char *elevrange, *slope, *intercept;
        std::vector<std::pair<std::int32_t, std::int32_t>> cells;  // raw -> scaled
    } cases[] = {
        {1100,
         100,
         "1000",
         "32.00000",
         "-3200.00000",
         {{100, 0}, {600, 16000}, {1100, 32000}, {-1001, kVoidMarker}}},
        {300, 0, "300", "106.66666", "0.00000", {{300, 31999}, {150, 15999}, {0, 0}}},
        {15, 0, "15", "2133.33325", "-0.00000", {{15, 31999}, {0, 0}}},
        {1585, 1582, "3", "10666.66699", "-16874666.00000", {{1582, 1}, {1585, 32001}}},
        // Nothing valid: the extremes stay at their start values.
        {0,
         9000,
         "-9000",
         "-3.55556",
         "32000.00000",
         {{-32767, kVoidMarker}, {-5000, kVoidMarker}}},
        // One value everywhere: no division by zero; every valid cell is the bottom.
        {250, 250, "0", "0.00000", "0.00000", {{250, 0}, {-32767, kVoidMarker}}},
    };
    for (const auto& c : cases) {
        std::ostringstream console;
        const Colormap map = computeColormap(c.max, c.min, console);
        EXPECT_EQ(console.str(), colormapLines(c.elevrange, c.slope, c.intercept));
        for (const auto& [raw, scaled] : c.cells) {
            EXPECT_EQ(scaleElevation(raw, map.colormap_slope, map.colormap_intercept), scaled)
                << c.max << "/" << c.min << " raw " << raw;
        }
    }
}

// A raw -1000 took no part in the range, so it is void like every other no-data value rather
// than a height far below the bottom of the colormap.
TEST(Colormap, MinusOneThousandIsVoid) {
    std::ostringstream console;
    const Colormap map = computeColormap(1100, 100, console);
    EXPECT_EQ(scaleElevation(-1000, map.colormap_slope, map.colormap_intercept), kVoidMarker);
    EXPECT_EQ(scaleElevation(-999, map.colormap_slope, map.colormap_intercept), -35168);
}

TEST(Colormap, NeverDecreasesAcrossTheRange) {
    std::ostringstream console;
    const Colormap map = computeColormap(4321, 17, console);
    std::int32_t previous = scaleElevation(17, map.colormap_slope, map.colormap_intercept);
    EXPECT_EQ(previous, 0);
    for (std::int32_t v = 18; v <= 4321; ++v) {
        const std::int32_t s = scaleElevation(v, map.colormap_slope, map.colormap_intercept);
        ASSERT_GE(s, previous) << v;
        previous = s;
    }
    EXPECT_GE(previous, 31999);
}

struct Grids {
    ElevationGrid raw, scaled, scratch;
};

void flip(Grids& g, const std::vector<std::vector<std::int32_t>>& raw) {
    const auto rows = static_cast<std::int32_t>(raw.size());
    const auto columns = static_cast<std::int32_t>(raw[0].size());
    ASSERT_TRUE(allocateRows(g.raw, rows, columns));
    ASSERT_TRUE(allocateRows(g.scaled, rows, columns));
    for (std::size_t i = 0; i < raw.size(); ++i) {
        for (std::size_t j = 0; j < raw[i].size(); ++j) g.raw[i][j] = raw[i][j];
    }
    // Slope 1 and intercept 0 keep values as they are, so only the order shows.
    ASSERT_TRUE(scaleAndFlip(g.raw, g.scaled, g.scratch, rows, columns, 1.0f, 0.0f));
}

std::vector<std::vector<std::int32_t>> cells(const ElevationGrid& grid, std::size_t rows,
                                             std::size_t columns) {
    std::vector<std::vector<std::int32_t>> out(rows);
    for (std::size_t i = 0; i < rows; ++i) out[i].assign(grid[i], grid[i] + columns);
    return out;
}

TEST(ScaleAndFlip, ReversesRowsKeepsColumns) {
    const struct {
        std::vector<std::vector<std::int32_t>> raw, expected;
    } cases[] = {
        {{{1, 2, 3}, {4, -5000, 6}, {7, 8, 9}}, {{7, 8, 9}, {4, kVoidMarker, 6}, {1, 2, 3}}},
        {{{1, 2, 3, 4}}, {{1, 2, 3, 4}}},
        {{{1}, {2}, {3}, {4}}, {{4}, {3}, {2}, {1}}},
    };
    for (const auto& c : cases) {
        Grids g;
        flip(g, c.raw);
        const std::size_t rows = c.raw.size(), columns = c.raw[0].size();
        EXPECT_EQ(cells(g.scaled, rows, columns), c.expected);
        EXPECT_TRUE(g.raw.empty());  // released right after the scaling pass
        EXPECT_EQ(cells(g.scratch, rows, columns), c.expected);
        EXPECT_EQ(g.scratch.slots(), rows + 1);
    }
}

}  // namespace
}  // namespace marlwood
