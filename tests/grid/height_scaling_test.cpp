#include "grid/height_scaling.h"

#include <gtest/gtest.h>

#include <vector>

#include "dialogue_text.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

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
        const Colormap map = computeColormap(c.max, c.min);
        ts::DialogueText console;
        console.emit(
            event::ColormapComputed{map.elevrange, map.colormap_slope, map.colormap_intercept});
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
    const Colormap map = computeColormap(1100, 100);
    EXPECT_EQ(scaleElevation(-1000, map.colormap_slope, map.colormap_intercept), kVoidMarker);
    EXPECT_EQ(scaleElevation(-999, map.colormap_slope, map.colormap_intercept), -35168);
}

TEST(Colormap, NeverDecreasesAcrossTheRange) {
    const Colormap map = computeColormap(4321, 17);
    std::int32_t previous = scaleElevation(17, map.colormap_slope, map.colormap_intercept);
    EXPECT_EQ(previous, 0);
    for (std::int32_t v = 18; v <= 4321; ++v) {
        const std::int32_t s = scaleElevation(v, map.colormap_slope, map.colormap_intercept);
        ASSERT_GE(s, previous) << v;
        previous = s;
    }
    EXPECT_GE(previous, 31999);
}

// The row at a time (four cells at once where the processor can) gives each cell's own value,
// whatever the row's length and wherever its voids lie.
TEST(Colormap, RowsScaleAsTheirCells) {
    const Colormap map = computeColormap(1361, 412);
    for (std::int32_t columns = 1; columns <= 9; ++columns) {
        std::vector<std::int32_t> row(static_cast<std::size_t>(columns)), out(row.size());
        for (std::int32_t j = 0; j < columns; ++j) row[j] = j % 3 == 1 ? kNoData : 412 + 117 * j;
        scaleRow(row.data(), out.data(), columns, map.colormap_slope, map.colormap_intercept);
        for (std::int32_t j = 0; j < columns; ++j) {
            EXPECT_EQ(out[j], scaleElevation(row[j], map.colormap_slope, map.colormap_intercept))
                << columns << " columns, cell " << j;
        }
    }
}

}  // namespace
}  // namespace marlwood
