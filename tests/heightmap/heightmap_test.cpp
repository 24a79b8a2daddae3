#include "heightmap/heightmap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

namespace marlwood {
namespace {

TEST(Heightmap, HeightsMapLinearlyAndComeBackWithinHalfAStep) {
    const struct {
        double lowest, highest, metres;
        std::uint16_t value;
    } cases[] = {
        {183.49, 448.67, 183.49, 0}, {183.49, 448.67, 448.67, 65535},
        {183.49, 448.67, 200, 4080}, {0, 65535, 1234.4, 1234},
        {0, 65535, 1234.6, 1235},    {-10, 10, 0, 32768},  // 32767.5 rounds up
        {100, 200, 99, 0},                                 // below the range: the floor
        {100, 200, 250, 65535},      {100, 100, 100, 0},   // no height: all 0
        {100, 200, NAN, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.metres);
        EXPECT_EQ(heightmapValue(c.metres, {c.lowest, c.highest}), c.value);
    }
    // An engine reads step v as lowest + v steps: every elevation comes back within half a step.
    for (const HeightRange range : {HeightRange{183.49, 448.67}, HeightRange{-86, 4421.2}}) {
        const double step = (range.highest_m - range.lowest_m) / 65535;
        for (double m = range.lowest_m; m <= range.highest_m; m += step * 0.37) {
            ASSERT_LE(std::abs(range.lowest_m + heightmapValue(m, range) * step - m),
                      step / 2 + 1e-9)
                << m;
        }
    }
}

TEST(Heightmap, EngineSizesAtOrBelowTheResolution) {
    const struct {
        Engine engine;
        std::int32_t points;
        std::int32_t size;  // 0: none
    } cases[] = {
        {Engine::Unreal, 126, 0},      {Engine::Unreal, 127, 127},   {Engine::Unreal, 467, 253},
        {Engine::Unreal, 1009, 1009},  {Engine::Unreal, 1140, 1009}, {Engine::Unreal, 8128, 4033},
        {Engine::Unreal, 65535, 8129}, {Engine::Unity, 32, 0},       {Engine::Unity, 33, 33},
        {Engine::Unity, 467, 257},     {Engine::Unity, 1025, 1025},  {Engine::Unity, 4096, 2049},
        {Engine::Unity, 9000, 4097},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.points);
        EXPECT_EQ(engineSize(c.engine, c.points).value_or(0), c.size);
    }
    std::set<std::int32_t> unity;
    for (std::int32_t side = 0; side <= 9000; ++side) {
        if (isUnitySide(side)) unity.insert(side);
    }
    EXPECT_EQ(unity, (std::set<std::int32_t>{33, 65, 129, 257, 513, 1025, 2049, 4097}));
}

TEST(Heightmap, TileCountsAndSides) {
    const struct {
        const char* text;
        std::int32_t columns, rows;  // 0: refused
    } counts[] = {{"2x2", 2, 2}, {"3X1", 3, 1}, {"1x64", 1, 64}, {"0x2", 0, 0},   {"2x65", 0, 0},
                  {"2", 0, 0},   {"x2", 0, 0},  {"2x", 0, 0},    {"2x2x2", 0, 0}, {"-1x2", 0, 0}};
    for (const auto& c : counts) {
        SCOPED_TRACE(c.text);
        const Result<TileCount> count = parseTileCount(c.text);
        EXPECT_EQ(count ? count->columns : 0, c.columns);
        EXPECT_EQ(count ? count->rows : 0, c.rows);
        if (!count) {
            EXPECT_NE(count.message().find("COLUMNSxROWS"), std::string::npos);
        }
    }
    constexpr TileEdges kShared = TileEdges::Shared, kApart = TileEdges::Apart;
    const struct {
        std::int32_t points, count, side;  // side 0: does not split
        std::int64_t below, above;
        TileEdges edges = kShared;
    } sides[] = {{2017, 2, 1009, 2017, 2019},
                 {2049, 2, 1025, 2049, 2051},
                 {1009, 1, 1009, 1009, 1010},
                 {1010, 2, 0, 1009, 1011},
                 {4033, 4, 1009, 4033, 4037},
                 {4, 3, 2, 4, 7},
                 {3, 3, 0, 0, 4},
                 {8129, 64, 128, 8129, 8193},
                 {2016, 2, 1008, 2016, 2018, kApart},
                 {2017, 2, 0, 2016, 2018, kApart},
                 {1009, 1, 1009, 1009, 1010, kApart},
                 {5, 3, 0, 0, 6, kApart},  // tiles of 2 points at least
                 {6, 3, 2, 6, 9, kApart}};
    for (const auto& c : sides) {
        SCOPED_TRACE(std::to_string(c.points) + (c.edges == kApart ? " apart" : " shared"));
        EXPECT_EQ(tileSide(c.points, c.count, c.edges).value_or(0), c.side);
        EXPECT_EQ(nearestTiledPoints(c.points, c.count, c.edges).below, c.below);
        EXPECT_EQ(nearestTiledPoints(c.points, c.count, c.edges).above, c.above);
        if (c.side != 0) {
            EXPECT_EQ(tiledPoints(c.side, c.count, c.edges), c.points);
        }
    }
}

// The tiles cover every point, share only their edge rows and columns, and are named as each
// engine numbers them.
TEST(Heightmap, TilesCoverTheGridAndAreNamedForTheEngine) {
    const struct {
        std::int32_t rows, columns;
        TileCount count;
    } cases[] = {{2017, 2017, {2, 2}}, {9, 13, {3, 2}}, {5, 5, {1, 1}}, {7, 3, {1, 3}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows * 100 + c.columns);
        const std::vector<Tile> tiles = cutTiles(c.rows, c.columns, c.count);
        ASSERT_EQ(tiles.size(), static_cast<std::size_t>(c.count.columns * c.count.rows));
        std::vector<int> covered(static_cast<std::size_t>(c.rows * c.columns), 0);
        for (const Tile& t : tiles) {
            for (std::int32_t r = t.first_row; r < t.first_row + t.rows; ++r) {
                for (std::int32_t k = t.first_column; k < t.first_column + t.columns; ++k) {
                    ASSERT_LT(r, c.rows);
                    ASSERT_LT(k, c.columns);
                    ++covered[static_cast<std::size_t>(r * c.columns + k)];
                }
            }
        }
        for (std::int32_t r = 0; r < c.rows; ++r) {
            for (std::int32_t k = 0; k < c.columns; ++k) {
                const bool row_edge = r > 0 && r < c.rows - 1 && r % (tiles[0].rows - 1) == 0;
                const bool column_edge =
                    k > 0 && k < c.columns - 1 && k % (tiles[0].columns - 1) == 0;
                ASSERT_EQ(covered[static_cast<std::size_t>(r * c.columns + k)],
                          (row_edge ? 2 : 1) * (column_edge ? 2 : 1));
            }
        }
    }
    EXPECT_TRUE(cutTiles(10, 9, {2, 2}).empty());
    const std::vector<Tile> tiles = cutTiles(5, 7, {3, 2});  // 3 across, 2 down
    const struct {
        std::size_t tile;
        Engine engine;
        const char* name;
    } names[] = {{0, Engine::Unreal, "a_x0_y0.png"}, {2, Engine::Unreal, "a_x2_y0.png"},
                 {3, Engine::Unreal, "a_x0_y1.png"}, {0, Engine::Unity, "a_0_1.raw"},
                 {4, Engine::Unity, "a_1_0.raw"},    {5, Engine::Unity, "a_2_0.raw"}};
    for (const auto& n : names) {
        EXPECT_EQ(tileFileName("a", n.engine, tiles[n.tile], {3, 2},
                               n.engine == Engine::Unreal ? ".png" : ".raw"),
                  n.name);
    }
}

TEST(Heightmap, RowBytesAndDatums) {
    const std::vector<std::uint16_t> row = {0x0102, 0xFFFE, 0, 0x8000};
    const struct {
        ByteOrder order;
        std::vector<unsigned char> bytes;
    } orders[] = {{ByteOrder::Little, {2, 1, 0xFE, 0xFF, 0, 0, 0, 0x80}},
                  {ByteOrder::Big, {1, 2, 0xFF, 0xFE, 0, 0, 0x80, 0}}};
    for (const auto& o : orders) {
        std::vector<unsigned char> out(row.size() * 2, 0xAA);
        encodeRow16(row, o.order, out);
        EXPECT_EQ(out, o.bytes);
    }
    const struct {
        int epsg;
        const char* datum;  // empty: none
        int zone;
    } datums[] = {{26715, "NAD27", 15},  {26722, "NAD27", 22},
                  {26723, "", 0},        {3371, "NAD27", 60},
                  {26913, "NAD83", 13},  {3372, "NAD83", 59},
                  {32660, "WGS 84", 60}, {32201, "WGS 72", 1},
                  {4326, "", 0},         {0, "", 0}};
    for (const auto& d : datums) {
        SCOPED_TRACE(d.epsg);
        const std::optional<DatumZone> found = datumZoneOf(d.epsg);
        EXPECT_EQ(found ? found->datum : "", d.datum);
        EXPECT_EQ(found ? found->zone : 0, d.zone);
    }
}

}  // namespace
}  // namespace marlwood
