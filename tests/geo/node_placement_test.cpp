// Cell centres placed through nodes land where PROJ puts each one itself: exactly at a step of 1,
// within a fraction of a millimetre at the 240 m nodes, on blocks whose sides are not whole steps.
#include "geo/node_placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace marlwood {
namespace {

TEST(NodePlacement, CentresLandWherePROJPutsThem) {
    // NAD83 UTM zone 16 into zone 15, near 90 W at 46.5 N.
    const Result<Reprojection> zone16_to_15 = Reprojection::between(26915, 26916);
    if (!zone16_to_15) GTEST_SKIP() << zone16_to_15.message();
    const struct {
        double posting;
        std::int32_t top, left, right, rows, step;
        double tolerance_m;
    } cases[] = {
        {10, 0, 0, 61, 50, 1, 0},       {10, 3, 5, 130, 77, 24, 0.00025},
        {30, 0, 2, 47, 33, 8, 0.00025}, {10, 7, 0, 25, 24, 24, 0.00025},
        {10, 0, 0, 1, 3, 24, 0.00025},
    };
    EXPECT_EQ(NodePlacement::stepFor(10), 24);
    EXPECT_EQ(NodePlacement::stepFor(30), 8);
    EXPECT_EQ(NodePlacement::stepFor(1000), 1);
    for (const auto& c : cases) {
        const auto centre = [&](std::int32_t r, std::int32_t col) {
            return GroundPoint{250000 + (col + 0.5) * c.posting, 5150000 - (r + 0.5) * c.posting};
        };
        NodePlacement nodes(*zone16_to_15, true, centre, c.top, c.left, c.right, c.step);
        double worst = 0;
        for (std::int32_t r = c.top; r < c.top + c.rows; ++r) {
            ASSERT_TRUE(nodes.row(r).ok());
            for (std::int32_t col = c.left; col < c.right; ++col) {
                GroundPoint own = centre(r, col);
                ASSERT_TRUE(zone16_to_15->apply({&own, 1}, true).ok());
                const GroundPoint placed = nodes.at(col);
                worst = std::max({worst, std::abs(placed.x - own.x), std::abs(placed.y - own.y)});
            }
        }
        EXPECT_LE(worst, c.tolerance_m) << "step " << c.step << " posting " << c.posting;
        // Rows readied out of order (a band of rows laid on its own) land on the same points.
        NodePlacement in_order(*zone16_to_15, true, centre, c.top, c.left, c.right, c.step);
        NodePlacement jumping(*zone16_to_15, true, centre, c.top, c.left, c.right, c.step);
        std::vector<std::vector<GroundPoint>> expected;
        for (std::int32_t r = c.top; r < c.top + c.rows; ++r) {
            ASSERT_TRUE(in_order.row(r).ok());
            expected.emplace_back();
            for (std::int32_t col = c.left; col < c.right; ++col) {
                expected.back().push_back(in_order.at(col));
            }
        }
        for (std::int32_t k = 0; k < c.rows; ++k) {
            const std::int32_t r = (k * 37 + c.rows / 2) % c.rows;  // every row, scattered
            ASSERT_TRUE(jumping.row(c.top + r).ok());
            for (std::int32_t col = c.left; col < c.right; ++col) {
                const GroundPoint p = jumping.at(col), e = expected[r][col - c.left];
                ASSERT_TRUE(p.x == e.x && p.y == e.y) << "row " << c.top + r << " column " << col;
            }
        }
        // The centres moved by the zone change: hundreds of kilometres, not a no-op.
        GroundPoint moved = centre(c.top, c.left);
        ASSERT_TRUE(zone16_to_15->apply({&moved, 1}, true).ok());
        EXPECT_GT(std::abs(moved.x - centre(c.top, c.left).x), 1000);
    }
}

}  // namespace
}  // namespace marlwood
