// Our merged raw grid against GDAL's mosaic of the same transfers (gdalbuildvrt, then
// gdal_translate), cell for cell before any scaling. GDAL draws a later source over an earlier
// one, where we keep the first valid value, so GDAL gets the sources in reverse order; only its
// NoData (fill, -32766) lets a source below show, so a later source of ours may be void where an
// earlier one is valid, never the other way round. Merges that resample (other zones, grids off
// the lattice) are held against gdalwarp's bilinear warp of the same transfers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "geo/projection.h"
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
        std::vector<Input> sources;
        std::vector<std::string> gdal_sources;
        for (const std::string& prefix : set.prefixes) {
            Result<Input> found = inputFormats().find(prefix);
            ASSERT_TRUE(found) << found.message();
            sources.push_back(std::move(*found));
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

// ---- Merges that resample: across a zone boundary, and off the lattice ----

// Sources for a merge, and what the merge should make of them.
struct ResampledSet {
    std::vector<std::string> prefixes;  // in merge order
    std::vector<int> precedence;        // the sources on the lattice first, then the others
    std::vector<std::string> report;    // in each source's report line ("": not resampled)
    int epsg = 0;                       // of the merged grid
    std::vector<std::string> options;   // besides --merge and -o
    double unit_m = 1;                  // of every source
};

// GDAL knows one NoData value in a transfer, the fill; so that gdalwarp leaves voids out too,
// they are written as fill here (marlwood takes both as void).
void writeVoidsAsFill(const fs::path& prefix, Transfer t) {
    std::replace(t.elevations.begin(), t.elevations.end(), double{kVoidElevation},
                 double{kFillElevation});
    writeModules(prefix, buildModules(t));
}

// Two quads either side of 90 degrees west, the boundary of zones 15 and 16; the area's centre
// lies in zone 16 unless another zone is asked for.
std::function<ResampledSet(const TempDir&, const fs::path&)> acrossTheBoundary(int asked) {
    return [=](const TempDir& tmp, const fs::path&) {
        writeVoidsAsFill(tmp / "6015", quadInZone("6015", -90.0625, 0.0625, 15));
        writeVoidsAsFill(tmp / "6016", quadInZone("6016", -90, 0.09375, 16));
        if (asked == 15) {
            return ResampledSet{{tmp / "6015", tmp / "6016"},
                                {0, 1},
                                {"", ", reprojected from zone 16"},
                                26715,
                                {"--zone", "15"}};
        }
        return ResampledSet{
            {tmp / "6015", tmp / "6016"}, {1, 0}, {", reprojected from zone 15", ""}, 26716, {}};
    };
}

// DULUTH with an east neighbour whose grid lies half a posting east and south of DULUTH's
// lattice (its cells from DULUTH's own, so that the two join).
ResampledSet duluthAndShiftedNeighbour(const TempDir& tmp, const fs::path& usgs) {
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    Transfer east = duluthNeighbour(gdalRead(duluth + "catd.ddf"), 0, 322, 467, 40, "7173");
    east.first_cell = {{566700 + 30.0 * 322 + 15, 5191530 - 15}};
    writeVoidsAsFill(tmp / "7173", east);
    return {{duluth, tmp / "7173"},
            {0, 1},
            {"", ", resampled: 15 m east and 15 m south of the lattice"},
            26715,
            {},
            0.3048};
}

// Our merged GeoTIFF against gdalwarp -r bilinear of the sources onto its cells: gdalwarp's exact
// transformation (-et 0) and its plain four-post kernel (XSCALE=YSCALE=1: without them it widens
// the kernel under the rotation between zones, as when shrinking, by up to a metre). gdalwarp
// draws a later source over an earlier one, so it gets them in reverse precedence: ours lays a
// source on the lattice first, then the resampled ones. Every cell void in both or within 1 mm
// (the GeoTIFF keeps thousandths of a metre).
TEST(MergeAgainstGdal, ResampledSourcesAreGdalwarpsBilinear) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    const struct {
        const char* name;
        std::function<ResampledSet(const TempDir&, const fs::path&)> write;
    } cases[] = {
        {"either side of 90 W, into zone 16", acrossTheBoundary(0)},
        {"either side of 90 W, --zone 15", acrossTheBoundary(15)},
        {"DULUTH and a neighbour half a posting off", duluthAndShiftedNeighbour},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const ResampledSet set = c.write(tmp, usgs);
        std::vector<std::string> arguments = set.options;
        arguments.insert(arguments.end(), {"--merge", "-o", tmp / "merged.tif"});
        arguments.insert(arguments.end(), set.prefixes.begin(), set.prefixes.end());
        std::ostringstream out, err;
        ASSERT_EQ(runCommandLine(arguments, out, err, false), 0) << err.str();
        for (std::size_t i = 0; i < set.prefixes.size(); ++i) {
            const std::string report = out.str();
            const auto line = report.find(set.prefixes[i] + ": ");
            ASSERT_NE(line, std::string::npos) << report;
            const std::string own = report.substr(line, report.find('\n', line) - line);
            EXPECT_EQ(own.find(", re") != std::string::npos, !set.report[i].empty()) << own;
            EXPECT_NE(own.find(set.report[i]), std::string::npos) << own;
        }
        const fs::path merged = tmp / "merged.tif";
        EXPECT_EQ(gdalEpsg(merged), set.epsg);
        const Raster ours = gdalRead(merged);
        const GdalPlacement at = gdalPlacement(merged);

        char lattice[200];
        std::snprintf(lattice, sizeof lattice, " -te %.6f %.6f %.6f %.6f -tr %.6f %.6f ",
                      at.origin_x, at.origin_y + at.pixel_height * ours.height,
                      at.origin_x + at.pixel_width * ours.width, at.origin_y, at.pixel_width,
                      at.pixel_width);
        std::string command =
            "gdalwarp -q --config GDAL_PAM_ENABLED NO -t_srs EPSG:" + std::to_string(set.epsg) +
            lattice +
            "-r bilinear -et 0 -wo XSCALE=1 -wo YSCALE=1 -dstnodata -32766 "
            "-ot Float32";
        for (auto i = set.precedence.rbegin(); i != set.precedence.rend(); ++i) {
            command += " '" + set.prefixes[static_cast<std::size_t>(*i)] + "catd.ddf'";
        }
        command += " '" + (tmp / "gdal.tif") + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const Raster gdal = gdalRead(tmp / "gdal.tif");
        ASSERT_EQ(gdal.width, ours.width);
        ASSERT_EQ(gdal.height, ours.height);

        long valid = 0, wrong = 0;
        double worst = 0;
        std::ostringstream first_wrong;
        for (std::size_t i = 0; i < ours.values.size(); ++i) {
            const double want = gdal.values[i] * set.unit_m, got = ours.values[i];
            const bool gdal_valid = gdal.values[i] > -1000;
            const double off = gdal_valid ? std::abs(got - want) : 0;
            valid += gdal_valid;
            worst = std::max(worst, off);
            if ((got > -1000) != gdal_valid || off > 0.001) {
                if (wrong++ < 5)
                    first_wrong << " cell " << i << ": ours " << got << ", GDAL " << want;
            }
        }
        EXPECT_EQ(wrong, 0) << first_wrong.str();
        EXPECT_GT(valid, ours.height * ours.width / 2);
        std::printf("%s: %ld valid cells, the worst %.4f m apart\n", c.name, valid, worst);
    }
}

}  // namespace
}  // namespace marlwood::oracle
