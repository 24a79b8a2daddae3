// Our merged raw grid against GDAL's mosaic of the same transfers (gdalbuildvrt, then
// gdal_translate), cell for cell before any scaling. GDAL draws a later source over an earlier
// one, where we keep the first valid value, so GDAL gets the sources in reverse order; only its
// NoData (fill, -32766) lets a source below show, so a later source of ours may be void where an
// earlier one is valid, never the other way round.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "neighbours.h"
#include "oracle_support.h"
#include "pipeline/merge.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "source/transfer_source.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

struct MergeSet {
    std::vector<std::string> prefixes;  // in merge order
    long disagreements = 0;
    double unit_m = 1;
};

// Windows of one synthetic terrain, written as transfers 9000, 9001, ... in the given order.
std::function<MergeSet(const TempDir&, const fs::path&)> windowsOf(CellFormat format, int spacing_m,
                                                                   int rows, int columns,
                                                                   std::vector<Window> windows) {
    return [=](const TempDir& tmp, const fs::path&) {
        const testsupport::Transfer whole = makeQuad(rows, columns, format, spacing_m, "9999");
        MergeSet set;
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const std::string id = std::to_string(9000 + i);
            writeModules(tmp / id, buildModules(cutWindow(whole, windows[i], id)));
            set.prefixes.push_back(tmp / id);
        }
        set.disagreements = disagreementsOf(whole, windows);
        return set;
    };
}

// A synthetic 30 m neighbour of DULUTH in feet, its top-left cell at DULUTH's (row, column).
// Where it overlaps DULUTH it holds DULUTH's cells, except that it has values where DULUTH has
// fill, as a real neighbour has beyond DULUTH's edge.
testsupport::Transfer duluthNeighbour(const Raster& duluth, int row, int column, int rows,
                                      int columns, const std::string& id) {
    testsupport::Transfer t = makeQuad(rows, columns, CellFormat::Bi16, 30, id);
    t.units = "FEET";
    const double west = 566700 + 30.0 * column, north = 5191530 - 30.0 * row;
    const double east = west + 30.0 * (columns - 1), south = north - 30.0 * (rows - 1);
    t.corners = {west, south, west, north, east, north, east, south};
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (row + r >= duluth.height || column + c >= duluth.width) continue;
            const double v = duluth.at(row + r, column + c);
            if (v != kFillElevation) t.elevations[static_cast<std::size_t>(r) * columns + c] = v;
        }
    }
    return t;
}

MergeSet duluthAndNeighbours(const TempDir& tmp, const fs::path& usgs) {
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    const Raster cells = gdalRead(duluth + "catd.ddf");
    writeModules(tmp / "7173", buildModules(duluthNeighbour(cells, 0, 322, 467, 40, "7173")));
    writeModules(tmp / "7174", buildModules(duluthNeighbour(cells, 466, 0, 30, 323, "7174")));
    // DULUTH's south-east cell is fill and both neighbours have a value there: the east one's
    // stays.
    return {{duluth, tmp / "7173", tmp / "7174"}, 1, 0.3048};
}

// Every cell of our merged grid in whole units or in thousandths of a metre against GDAL's
// mosaic; the merged grid and every source placed where GDAL places them.
TEST(MergeAgainstGdal, MergedGridIsGdalsMosaic) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    const struct {
        const char* name;
        std::function<MergeSet(const TempDir&, const fs::path&)> write;
    } cases[] = {
        // 2 x 2 sharing a row and a column, a later window void on the shared column.
        {"2x2 BI16 30 m",
         windowsOf(CellFormat::Bi16, 30, 41, 61,
                   {{0, 0, 21, 31}, {0, 30, 21, 31, 0, true}, {20, 0, 21, 31}, {20, 30, 21, 31}})},
        {"2x2 BFP32 10 m",
         windowsOf(CellFormat::Bfp32, 10, 45, 38,
                   {{0, 0, 23, 20}, {0, 19, 23, 19}, {22, 0, 23, 20}, {22, 19, 23, 19, 0, true}})},
        // Each window raised by its own amount: where they share a column the first one stays.
        {"1x3 strip, disagreeing",
         windowsOf(CellFormat::Bi16, 30, 25, 61,
                   {{0, 0, 25, 21}, {0, 20, 25, 21, 7, true}, {0, 40, 25, 21, -5, true}})},
        // Rows and columns between the windows that no source covers (two, the most that still
        // makes neighbours).
        {"gap between quads", windowsOf(CellFormat::Bi16, 30, 41, 61,
                                        {{0, 0, 18, 25}, {0, 27, 18, 25}, {20, 10, 16, 40, 3}})},
        {"DULUTH with neighbours east and south", duluthAndNeighbours},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const MergeSet set = c.write(tmp, usgs);
        std::vector<MergeSource> sources;
        std::vector<std::string> gdal_sources;
        for (const std::string& prefix : set.prefixes) {
            FoundTransfer found = findTransfer(prefix);
            ASSERT_TRUE(found) << found.message();
            sources.push_back({prefix, std::move(found->modules)});
            gdal_sources.insert(gdal_sources.begin(), prefix + "catd.ddf");
        }
        gdalMosaic(tmp / "mosaic.vrt", gdal_sources);
        const Raster gdal = gdalRead(tmp / "mosaic.vrt");
        const GdalPlacement placed = gdalPlacement(tmp / "mosaic.vrt");

        for (const bool thousandths : {false, true}) {
            SCOPED_TRACE(thousandths ? "in thousandths of a metre" : "in whole units");
            NoEvents events;
            const Result<MergePlan> planned = planMerge(sources, thousandths, events);
            ASSERT_TRUE(planned) << planned.message();
            const MergePlan& plan = *planned;
            ASSERT_EQ(plan.size.rows, gdal.height);
            ASSERT_EQ(plan.size.columns, gdal.width);
            EXPECT_EQ(plan.top_left.x, placed.origin_x);
            EXPECT_EQ(plan.top_left.y, placed.origin_y);
            for (const MergePiece& piece : plan.pieces) {
                const GdalPlacement own = gdalPlacement(piece.source + "catd.ddf");
                EXPECT_EQ(piece.row_offset, (placed.origin_y - own.origin_y) / own.pixel_width);
                EXPECT_EQ(piece.column_offset, (own.origin_x - placed.origin_x) / own.pixel_width);
            }

            const Result<MergedGrid> merged = decodeMerged(plan, thousandths, events);
            ASSERT_TRUE(merged) << merged.message();
            EXPECT_EQ(merged->disagreements, set.disagreements);

            const double scale = thousandths ? 1000 : 1;
            long valid = 0, voids = 0, wrong = 0;
            std::ostringstream first_wrong;
            for (int r = 0; r < gdal.height; ++r) {
                for (int col = 0; col < gdal.width; ++col) {
                    const double g = gdal.at(r, col);
                    const double ours = merged->decoded.grid[static_cast<std::size_t>(r)][col];
                    const bool gdal_void = g <= -1000;
                    const double want =
                        thousandths ? std::round(g * 1000 * set.unit_m) : std::trunc(g);
                    const bool same = gdal_void ? ours <= -1000 * scale : ours == want;
                    (gdal_void ? voids : valid) += 1;
                    if (!same && wrong++ < 5) {
                        first_wrong << " (" << r << ", " << col << "): ours " << ours << ", GDAL "
                                    << g << ";";
                    }
                }
            }
            EXPECT_EQ(wrong, 0) << first_wrong.str();
            EXPECT_GT(valid, gdal.height * gdal.width / 2);
            EXPECT_GT(voids, 0);
        }
    }
}

}  // namespace
}  // namespace marlwood::oracle
