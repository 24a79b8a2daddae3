#include "grid/elevation_grid.h"

#include <gtest/gtest.h>

namespace marlwood {
namespace {

TEST(ElevationGrid, HasASpareRowAndSeparateRows) {
    ElevationGrid grid;
    EXPECT_TRUE(grid.empty());
    ASSERT_TRUE(allocateRows(grid, 3, 5));  // three DEM rows
    EXPECT_EQ(grid.slots(), 4u);
    // Every cell of every slot written, then read back: a row that overlapped another would
    // have lost cells to it.
    for (std::size_t i = 0; i < 4; ++i) {
        for (int j = 0; j < 5; ++j) grid[i][j] = static_cast<std::int32_t>(i * 10 + j);
    }
    for (std::size_t i = 0; i < 4; ++i) {
        for (int j = 0; j < 5; ++j) EXPECT_EQ(grid[i][j], static_cast<std::int32_t>(i * 10 + j));
    }
    releaseGrid(grid, 3);
    EXPECT_TRUE(grid.empty());
    releaseGrid(grid, 3);  // an empty grid: nothing happens
    EXPECT_TRUE(grid.empty());
}

TEST(ElevationGrid, SizesThatCannotBeHad) {
    ElevationGrid grid;
    EXPECT_TRUE(gridsFitInMemory(1391, 1087, 2));
    EXPECT_TRUE(gridsFitInMemory(0, 0, 2));
    // 65535 x 65535 cells in two grids are 34 GB: more than any machine this runs on, and Linux
    // would promise them and kill the process when they are touched.
    EXPECT_FALSE(gridsFitInMemory(kMaxGridSide, kMaxGridSide, 2));
}

}  // namespace
}  // namespace marlwood
