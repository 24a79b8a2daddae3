#include "grid/void_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace marlwood {
namespace {

using Cells = std::vector<std::vector<std::int32_t>>;
constexpr std::int32_t V = kNoData;
constexpr std::int32_t kSpare = 4242;

// Fills a copy of `cells` in an ElevationGrid; the spare row must come back untouched.
std::int64_t fill(Cells& cells, std::int32_t threshold = kVoidThreshold) {
    const auto rows = static_cast<std::int32_t>(cells.size());
    const auto columns = static_cast<std::int32_t>(cells.empty() ? 0 : cells[0].size());
    ElevationGrid grid;
    EXPECT_TRUE(allocateRows(grid, rows, columns));
    for (std::int32_t r = 0; r <= rows; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            grid[r][c] = r < rows ? cells[r][c] : kSpare;
        }
    }
    const std::int64_t count = fillVoids(grid, rows, columns, threshold);
    for (std::int32_t r = 0; r < rows; ++r) std::copy(grid[r], grid[r] + columns, cells[r].begin());
    for (std::int32_t c = 0; c < columns; ++c) EXPECT_EQ(grid[rows][c], kSpare);
    releaseGrid(grid, rows);
    return count;
}

TEST(VoidFill, FillsFromTheNearestValidCellsByInverseSquaredDistance) {
    struct Case {
        const char* name;
        Cells cells;
        std::int32_t threshold;
        Cells expected;
        std::int64_t count;
    };
    const Case cases[] = {
        // 10 at distance 1 and 40 at 2: (10 + 40 / 4) / 1.25.
        {"row", {{10, V, V, 40}}, kVoidThreshold, {{10, 16, 34, 40}}, 2},
        // The centre sees 10 north (weight 1) and 100 north-east (distance sqrt 2, weight 1/2).
        {"diagonals",
         {{V, 10, 100}, {V, V, V}, {V, V, V}},
         kVoidThreshold,
         {{10, 10, 100}, {10, 40, 70}, {100, 10, 100}},
         7},
        {"hole in a plane",
         {{1, 2, 3}, {4, V, 6}, {7, 8, 9}},
         kVoidThreshold,
         {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}},
         1},
        // Most cells lie on none of the valid cell's lines: the second round reaches them.
        {"single valid cell",
         {{77, V, V, V}, {V, V, V, V}, {V, V, V, V}},
         kVoidThreshold,
         {{77, 77, 77, 77}, {77, 77, 77, 77}, {77, 77, 77, 77}},
         11},
        {"no valid cell", {{V, -1000}, {-5000, V}}, kVoidThreshold, {{V, -1000}, {-5000, V}}, 0},
        {"no void", {{3, -999}, {5, 0}}, kVoidThreshold, {{3, -999}, {5, 0}}, 0},
        {"-1000 is void", {{-1000, 500}}, kVoidThreshold, {{500, 500}}, 1},
        {"hundredths", {{-50000, -100000, -40000}}, -100000, {{-50000, -45000, -40000}}, 1},
        {"hundredths as whole units",
         {{-50000, -100000, -40000}},
         kVoidThreshold,
         {{-50000, -100000, -40000}},
         0},
        {"rounds to nearest", {{1, V, V, 2}}, kVoidThreshold, {{1, 1, 2, 2}}, 2},
        {"empty", {}, kVoidThreshold, {}, 0},
    };
    for (const Case& c : cases) {
        Cells cells = c.cells;
        EXPECT_EQ(fill(cells, c.threshold), c.count) << c.name;
        EXPECT_EQ(cells, c.expected) << c.name;
    }
}

// Voids in the patterns a quad has, over a plane rising south and west.
TEST(VoidFill, LeavesNoVoidAndKeepsEveryValidCell) {
    using Pattern = std::function<bool(int r, int c, int rows, int columns)>;
    struct Case {
        const char* name;
        int rows, columns;
        Pattern is_void;
    };
    const Case cases[] = {
        {"holes in the middle", 40, 30,
         [](int r, int c, int, int) {
             return (r >= 10 && r < 19 && c >= 5 && c < 14) || (r == 30 && c == 20);
         }},
        // The quad's edges are not along the grid: void triangles in its corners.
        {"UTM triangles", 60, 45,
         [](int r, int c, int rows, int columns) {
             return 8 * c < rows - r || 8 * (columns - 1 - c) < r || 6 * r < c ||
                    6 * (rows - 1 - r) < columns - c;
         }},
        {"void edges", 20, 25,
         [](int r, int c, int rows, int columns) {
             return r < 2 || c == 0 || r == rows - 1 || c >= columns - 3;
         }},
        {"checkerboard", 21, 17, [](int r, int c, int, int) { return (r + c) % 2 == 1; }},
        // A full-size 10 m quad, half void in one piece.
        {"half void", 1391, 1087,
         [](int r, int c, int rows, int columns) {
             const double y = (2.0 * r - rows) / rows, x = (2.0 * c - columns) / columns;
             return x * x + y * y < 0.64;
         }},
    };
    const auto plane = [](int r, int c) { return 4000 + 7 * r - 3 * c; };
    for (const Case& k : cases) {
        Cells cells(k.rows, std::vector<std::int32_t>(k.columns));
        std::int64_t voids = 0;
        for (int r = 0; r < k.rows; ++r) {
            for (int c = 0; c < k.columns; ++c) {
                const bool is_void = k.is_void(r, c, k.rows, k.columns);
                cells[r][c] = is_void ? V : plane(r, c);
                voids += is_void;
            }
        }
        EXPECT_EQ(fill(cells), voids) << k.name;
        const int low = plane(0, k.columns - 1), high = plane(k.rows - 1, 0);
        int wrong = 0;
        for (int r = 0; r < k.rows; ++r) {
            for (int c = 0; c < k.columns; ++c) {
                const std::int32_t v = cells[r][c];
                // Filled cells lie within the valid range; valid cells are as they were.
                wrong +=
                    k.is_void(r, c, k.rows, k.columns) ? (v < low || v > high) : v != plane(r, c);
            }
        }
        EXPECT_EQ(wrong, 0) << k.name;
    }
}

}  // namespace
}  // namespace marlwood
