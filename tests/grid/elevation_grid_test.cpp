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
    struct Case {
        std::int32_t rows, columns;
        std::uint64_t available;
        bool fits;
    };
    // Two grids of 3 x 4 take (3 + 1) x 4 cells x 4 bytes x 2 = 128 bytes.
    const Case cases[] = {
        {3, 4, 128, true},
        {3, 4, 127, false},
        {0, 0, 1, true},
        {1391, 1087, 24ull << 30, true},     // a 10 m quad on a 24 GiB machine
        {56000, 56000, 20ull << 30, false},  // 25 GB on a machine with 20 GiB free
        {65535, 65535, 0, true},             // the machine could not tell
    };
    for (const Case& c : cases) {
        EXPECT_EQ(gridsFitInMemory(c.rows, c.columns, 2, c.available), c.fits)
            << c.rows << " x " << c.columns << " in " << c.available;
    }
}

}  // namespace
}  // namespace marlwood
