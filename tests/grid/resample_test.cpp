#include "grid/resample.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace marlwood {
namespace {

using Cells = std::vector<std::vector<std::int32_t>>;
constexpr std::int32_t V = kNoData;

Cells resampled(const Cells& cells, std::int32_t rows, std::int32_t columns) {
    const GridSize from{static_cast<std::int32_t>(cells.size()),
                        static_cast<std::int32_t>(cells[0].size())};
    ElevationGrid source, target;
    EXPECT_TRUE(allocateRows(source, from.rows, from.columns));
    EXPECT_TRUE(allocateRows(target, rows, columns));
    for (std::int32_t r = 0; r < from.rows; ++r)
        std::copy(cells[r].begin(), cells[r].end(), source[r]);
    resample(source, from, target, {rows, columns}, kVoidThreshold, V);
    Cells out(rows);
    for (std::int32_t r = 0; r < rows; ++r) out[r].assign(target[r], target[r] + columns);
    // Made a row at a time (by one thread or two) from a source released as it goes, the same
    // cells.
    for (const bool two_threads : {false, true}) {
        ElevationGrid copy, made;
        EXPECT_TRUE(allocateRows(copy, from.rows, from.columns));
        for (std::int32_t r = 0; r < from.rows; ++r)
            std::copy(cells[r].begin(), cells[r].end(), copy[r]);
        EXPECT_TRUE(allocateRowTable(made, rows));
        EXPECT_TRUE(
            resampleReleasing(copy, from, made, {rows, columns}, kVoidThreshold, V, two_threads));
        for (std::int32_t r = 0; r < rows; ++r) {
            EXPECT_EQ(Cells::value_type(made[r], made[r] + columns), out[r]) << "row " << r;
        }
        for (std::int32_t r = 0; r < from.rows; ++r) EXPECT_EQ(copy[r], nullptr) << "kept " << r;
    }
    return out;
}

TEST(Resample, AveragesShrinkingInterpolatesGrowingAndLeavesVoidsOut) {
    const struct {
        const char* name;
        Cells cells;
        std::int32_t rows, columns;
        Cells expected;
    } cases[] = {
        {"blocks", {{1, 3, 10, 20}, {5, 7, 30, 40}}, 1, 2, {{4, 25}}},
        // A new cell over one and a half source cells weighs the half by half.
        {"area weights", {{10, 20, 40}}, 1, 2, {{13, 33}}},
        {"voids left out", {{10, V, V, V}, {30, 50, V, V}}, 1, 2, {{30, V}}},
        // Centres at -0.25, 0.25, 0.75, 1.25 source cells: the edges are held.
        {"bilinear", {{0, 100}}, 1, 4, {{0, 25, 75, 100}}},
        {"bilinear both ways",
         {{0, 100}, {200, 300}},
         4,
         4,
         {{0, 25, 75, 100}, {50, 75, 125, 150}, {150, 175, 225, 250}, {200, 225, 275, 300}}},
        {"void neighbour", {{0, V, V}}, 1, 6, {{0, 0, 0, V, V, V}}},
        {"same size", {{1, V}, {3, 4}}, 2, 2, {{1, V}, {3, 4}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resampled(c.cells, c.rows, c.columns), c.expected) << c.name;
    }
}

// A point (x, y) in cells of a 2 x 3 grid with a void at row 1, column 1: bilinear between the
// centres around it, voids and cells beyond the edges left out; nothing in a void cell or off
// the grid.
TEST(Resample, BilinearAtAPointLeavesVoidsOut) {
    const Cells cells = {{10, 20, 30}, {50, V, 70}};
    ElevationGrid grid;
    ASSERT_TRUE(allocateRows(grid, 2, 3));
    for (std::int32_t r = 0; r < 2; ++r) std::copy(cells[r].begin(), cells[r].end(), grid[r]);
    const struct {
        double x, y;
        std::optional<double> value;
    } cases[] = {
        {0.5, 0.5, 10},            // a centre
        {1.0, 0.5, 15},            // halfway between two
        {0.25, 0.5, 10},           // beyond the outer centres: held
        {0.0, 0.0, 10},            // the grid's corner is inside it
        {2.0, 1.0, 40},            // 20, 30 and 70 a quarter each, the void left out
        {1.0, 0.9, 23.75},         // 10 and 20 at 0.3, 50 at 0.2: renormalised by 0.8
        {1.5, 0.9, 20},            // the void's weight 0 beside a centre
        {1.9, 1.1, std::nullopt},  // in the void cell, though near valid ones
        {3.0, 0.5, std::nullopt},  // the east edge is outside
        {-0.01, 0.5, std::nullopt},
        {0.5, 2.0, std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<double> got = bilinearAt(grid, {2, 3}, c.x, c.y, kVoidThreshold);
        ASSERT_EQ(got.has_value(), c.value.has_value()) << c.x << ", " << c.y;
        if (got) {
            EXPECT_NEAR(*got, *c.value, 1e-9) << c.x << ", " << c.y;
        }
    }
}

TEST(Resample, LongerSideGetsTheSizeShorterKeepsTheAspect) {
    const struct {
        GridSize from;
        std::int32_t longest;
        std::int32_t rows, columns;
    } cases[] = {
        {{467, 323}, 1025, 1025, 709}, {{1087, 1391}, 1025, 801, 1025},
        {{100, 100}, 257, 257, 257},   {{3, 2}, 2, 2, 1},  // 1.33 rounds down
        {{1, 5000}, 2, 1, 2},                              // never fewer than one
    };
    for (const auto& c : cases) {
        const GridSize size = resampledSize(c.from, c.longest);
        EXPECT_EQ(size.rows, c.rows) << c.from.rows << " x " << c.from.columns;
        EXPECT_EQ(size.columns, c.columns) << c.from.rows << " x " << c.from.columns;
        EXPECT_EQ(size.min_rows_cols, std::min(c.rows, c.columns) - 1);
    }
}

}  // namespace
}  // namespace marlwood
