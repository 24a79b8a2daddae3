// GeoTIFF DEMs as sources: a tile in degrees, as GDAL warps the DULUTH transfer into one, laid
// onto marlwood's UTM grid cell for cell as GDAL warps the same tile onto that grid; neighbouring
// tiles with overlaps, as USGS cuts them, each owning its own degree square.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "conversation.h"
#include "files.h"
#include "common/text.h"
#include "oracle_support.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

void run(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

TEST(GeoTiffSourceAgainstGdal, ADegreeTileLiesWhereGdalWarpsItOntoTheSameGrid) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    const fs::path catd = usgs / "7172-duluth-mn" / "7172catd.ddf";
    TempDir tmp;
    // 1" on DULUTH's own datum (NAD27), so that no datum shift comes between the two sides.
    const std::string warp = "gdalwarp -q -overwrite -t_srs EPSG:4267 -tr 0.000277777777778 "
                             "0.000277777777778 -r bilinear -dstnodata -999999 ";
    const struct {
        const char* name;
        std::string options;
    } tiles[] = {
        {"cog.tif",
         "-ot Float32 -of COG -co COMPRESS=DEFLATE -co PREDICTOR=YES -co BLOCKSIZE=128"},
        {"lzw.tif", "-ot Int16 -co COMPRESS=LZW"},
        {"tiled.tif", "-ot Float64 -co TILED=YES -co BLOCKXSIZE=64 -co BLOCKYSIZE=64"},
    };
    for (const auto& tile : tiles) {
        SCOPED_TRACE(tile.name);
        const std::string source = tmp / tile.name;
        run(warp + tile.options + " '" + catd.string() + "' '" + source + "'");
        const testsupport::CliRun ours =
            testsupport::commandLine({"-q", "-f", "-o", tmp / "ours.tif", source});
        ASSERT_EQ(ours.status, 0) << ours.err;
        const GdalPlacement placed = gdalPlacement(tmp / "ours.tif");
        const Raster mine = gdalRead(tmp / "ours.tif");
        EXPECT_EQ(placed.pixel_width, 30);
        // GDAL's bilinear warp of the same tile onto marlwood's grid (EPSG:26715, 30 m).
        const double west = placed.origin_x, north = placed.origin_y;
        run("gdalwarp -q -overwrite -t_srs EPSG:26715 -r bilinear -dstnodata -999999 -tr 30 30 -te " +
            shownNumber(west) + " " + shownNumber(north - 30.0 * mine.height) + " " +
            shownNumber(west + 30.0 * mine.width) + " " + shownNumber(north) + " '" + source + "' '" +
            tmp / "gdal.tif" + "'");
        const Raster theirs = gdalRead(tmp / "gdal.tif");
        ASSERT_EQ(theirs.width, mine.width);
        ASSERT_EQ(theirs.height, mine.height);
        std::vector<double> differences;
        std::size_t void_differs = 0;
        for (std::size_t i = 0; i < mine.values.size(); ++i) {
            const bool a = mine.values[i] > -1000, b = theirs.values[i] > -1000;
            if (a != b) ++void_differs;
            if (a && b) differences.push_back(std::abs(mine.values[i] - theirs.values[i]));
        }
        ASSERT_GT(differences.size(), 100000u);
        std::sort(differences.begin(), differences.end());
        // Both sides interpolate bilinearly; GDAL widens its kernel where the tile's cells are
        // narrower than the grid's (21 m of longitude against 30 m), so steep cells differ by a
        // few units (measured: median 0.04, 99.9 % within 2.6, largest 6.5, in the tile's unit).
        EXPECT_LT(differences[differences.size() / 2], 0.1);
        EXPECT_LT(differences[differences.size() * 99 / 100], 1.5);
        EXPECT_LT(differences.back(), 10.0);
        EXPECT_LT(void_differs, mine.values.size() / 1000);
    }
}

// A tile of `cells` 1' cells a side plus 6 beyond each edge, its north-west corner at whole
// degrees, written by GDAL from a plane of heights (exact under any bilinear interpolation);
// `false_west` added to the cells west of its own square, beside it.
void writeTile(const std::string& path, int west, int north, double false_west) {
    constexpr int kCells = 60, kOverlap = 6, kSide = kCells + 2 * kOverlap;
    constexpr double kCell = 1.0 / 60;
    const std::string asc = path + ".asc";
    {
        std::ofstream out(asc);
        out.precision(12);
        out << "ncols " << kSide << "\nnrows " << kSide << "\nxllcorner "
            << west - kOverlap * kCell << "\nyllcorner " << north - 1 - kOverlap * kCell
            << "\ncellsize " << kCell << "\nNODATA_value -999999\n";
        for (int r = 0; r < kSide; ++r) {
            for (int c = 0; c < kSide; ++c) {
                const double lon = west + (c - kOverlap + 0.5) * kCell;
                const double lat = north - (r - kOverlap + 0.5) * kCell;
                const double height = 300 + 200 * (lon + 93) + 100 * (lat - 46);
                // Falsified only where the tile to the west owns the ground.
                const bool west_owns = c < kOverlap && r >= kOverlap && r < kOverlap + kCells;
                out << height + (west_owns ? false_west : 0) << (c + 1 < kSide ? " " : "\n");
            }
        }
    }
    run("gdal_translate -q -a_srs EPSG:4269 -ot Float32 '" + asc + "' '" + path + "'");
}

TEST(GeoTiffSourceAgainstGdal, NeighbouringTilesEachOwnTheirDegreeSquare) {
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    writeTile(tmp / "w.tif", -93, 47, 0);
    // The east tile's west overlap disagrees by 500 m: were it used, the merge would show it.
    writeTile(tmp / "e.tif", -92, 47, 500);
    // The east tile first: a merge that took the first source's overlap would take the false one.
    const testsupport::CliRun merged = testsupport::commandLine(
        {"-q", "-f", "--merge", "--posting", "500", "-o", tmp / "m.tif", tmp / "e.tif", tmp / "w.tif"});
    ASSERT_EQ(merged.status, 0) << merged.err;
    const Raster grid = gdalRead(tmp / "m.tif");
    double highest = -1e9;
    std::size_t valid = 0;
    for (const double v : grid.values) {
        if (v <= -1000) continue;
        ++valid;
        highest = std::max(highest, v);
    }
    // The plane rises to 300 + 200 * 2.1 + 100 * 1.1 at the tiles' far corner.
    EXPECT_GT(valid, grid.values.size() / 2);
    EXPECT_LT(highest, 300 + 200 * 2.1 + 100 * 1.1 + 1);
}

// 3DEP's 1 m tiles on UTM own their squares of whole kilometres (10 km at USGS; 1 km here): two
// neighbours of 1000 m and 6 cells beyond each edge, the east one's west overlap falsified by
// 500 m, merged in both orders; a plane of heights, so any cell taken from the overlap shows.
TEST(GeoTiffSourceAgainstGdal, MetreTilesOnUtmEachOwnTheirSquare) {
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    constexpr int kCells = 1000, kOverlap = 6, kSide = kCells + 2 * kOverlap;
    const auto plane = [](double x, double y) {
        return 300 + 0.05 * (x - 500000) + 0.02 * (y - 5100000);
    };
    const auto write = [&](const std::string& path, double west, double false_west) {
        const std::string asc = path + ".asc";
        {
            std::ofstream out(asc);
            out.precision(12);
            out << "ncols " << kSide << "\nnrows " << kSide << "\nxllcorner " << west - kOverlap
                << "\nyllcorner " << 5100000 - kCells - kOverlap
                << "\ncellsize 1\nNODATA_value -999999\n";
            for (int r = 0; r < kSide; ++r) {
                for (int c = 0; c < kSide; ++c) {
                    const double x = west + c - kOverlap + 0.5, y = 5100000 - (r - kOverlap + 0.5);
                    // Falsified only where the tile to the west owns the ground.
                    const bool west_owns = c < kOverlap && r >= kOverlap && r < kOverlap + kCells;
                    out << plane(x, y) + (west_owns ? false_west : 0)
                        << (c + 1 < kSide ? " " : "\n");
                }
            }
        }
        run("gdal_translate -q -a_srs EPSG:26915 -ot Float32 -co TILED=YES '" + asc + "' '" + path +
            "'");
    };
    write(tmp / "w.tif", 500000, 0);
    write(tmp / "e.tif", 501000, 500);
    for (const bool east_first : {true, false}) {
        SCOPED_TRACE(east_first ? "east tile first" : "west tile first");
        std::vector<std::string> args = {"-q",           "-f", "--merge",
                                         "--true-scale", "-o", tmp / "m.tif"};
        if (east_first) {
            args.insert(args.end(), {tmp / "e.tif", tmp / "w.tif"});
        } else {
            args.insert(args.end(), {tmp / "w.tif", tmp / "e.tif"});
        }
        const testsupport::CliRun merged = testsupport::commandLine(args);
        ASSERT_EQ(merged.status, 0) << merged.err;
        const Raster grid = gdalRead(tmp / "m.tif");
        const GdalPlacement placed = gdalPlacement(tmp / "m.tif");
        ASSERT_EQ(grid.width, 2 * kCells + 2 * kOverlap);
        double worst = 0;
        for (int r = 0; r < grid.height; ++r) {
            for (int c = 0; c < grid.width; ++c) {
                const double v = grid.values[static_cast<std::size_t>(r) * grid.width + c];
                if (v <= -1000) continue;
                const double x = placed.origin_x + c + 0.5, y = placed.origin_y - r - 0.5;
                worst = std::max(worst, std::abs(v - plane(x, y)));
            }
        }
        EXPECT_LT(worst, 0.01);
    }
}

// A 3" COG of 1212 x 1212 cells in 256-cell blocks (GDAL adds overviews of 606, 303 and 152),
// its degree square in NAD83 with 6 cells beyond each edge, of rolling ground.
std::string writeCog(const TempDir& tmp) {
    constexpr int kSide = 1212;
    constexpr double kCell = 1.0 / 1200;
    const std::string asc = tmp / "tile.asc", tif = tmp / "tile.tif";
    {
        std::ofstream out(asc);
        out.precision(12);
        out << "ncols " << kSide << "\nnrows " << kSide << "\nxllcorner " << -93 - 6 * kCell
            << "\nyllcorner " << 46 - 6 * kCell << "\ncellsize " << kCell
            << "\nNODATA_value -999999\n";
        for (int r = 0; r < kSide; ++r) {
            for (int c = 0; c < kSide; ++c) {
                out << 400 + 50 * std::sin(r * 0.013) * std::cos(c * 0.017) + (r * 7 + c) % 5 * 0.1
                    << (c + 1 < kSide ? " " : "\n");
            }
        }
    }
    const std::string command =
        "gdal_translate -q -a_srs EPSG:4269 -ot Float32 -of COG -co BLOCKSIZE=256 "
        "-co COMPRESS=DEFLATE -co PREDICTOR=YES '" +
        asc + "' '" + tif + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return tif;
}

// The COG, wide enough for its rows to be read and laid by two threads: a box reads only the
// blocks it needs, and one thread or two lay the same bytes.
TEST(GeoTiffSourceAgainstGdal, ABoxReadsItsBlocksAndThreadsChangeNoByte) {
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const std::string tif = writeCog(tmp);
    const testsupport::CliRun box = testsupport::commandLine(
        {"-v", "-f", "--bbox", "-92.6,46.4,-92.55,46.45", "-o", tmp / "box.tif", tif});
    ASSERT_EQ(box.status, 0) << box.err;
    // 60 x 60 cells and the cells around them: at most four of the 25 blocks.
    int read = 0, of = 0;
    const std::size_t at = box.out.find("read ");
    ASSERT_NE(at, std::string::npos) << box.out;
    ASSERT_EQ(std::sscanf(box.out.c_str() + at, "read %d of %d blocks", &read, &of), 2);
    EXPECT_EQ(of, 25);
    EXPECT_GE(read, 1);
    EXPECT_LE(read, 4);
    const testsupport::CliRun one =
        testsupport::commandLine({"-q", "-f", "-j", "1", "-o", tmp / "one.tif", tif});
    const testsupport::CliRun two =
        testsupport::commandLine({"-q", "-f", "-j", "2", "-o", tmp / "two.tif", tif});
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(testsupport::readFile(tmp / "one.tif"), testsupport::readFile(tmp / "two.tif"));
}

// -v's line of what a source read: the blocks, of how many, the bytes, of how many, and of what.
struct BlocksLine {
    int read = 0, of = 0;
    double bytes = 0, file_bytes = 0;
    std::string what;
};
BlocksLine blocksLine(const std::string& out) {
    BlocksLine line;
    std::size_t at = out.find("read ");
    while (at != std::string::npos && !std::isdigit(static_cast<unsigned char>(out[at + 5]))) {
        at = out.find("read ", at + 1);
    }
    if (at == std::string::npos) return line;
    char what[200] = "";
    std::sscanf(out.c_str() + at, "read %d of %d blocks (%lf of %lf bytes) of %199[^\n]",
                &line.read, &line.of, &line.bytes, &line.file_bytes, what);
    line.what = what;
    return line;
}

// The tile to 300 points on its longer side: 374 m, four times its 90 m. The coarsest overview
// no coarser is the second (303 cells of 360 m), which marlwood reads, and lays onto its grid as
// gdalwarp does the same tile onto the same grid (reading its overview too, -r bilinear).
// --full-resolution reads the full image.
TEST(GeoTiffSourceAgainstGdal, ACoarseTerrainReadsTheOverviewGdalWarpReads) {
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const std::string tif = writeCog(tmp);
    const testsupport::CliRun ours =
        testsupport::commandLine({"-v", "-f", "--size", "300", "-o", tmp / "ours.tif", tif});
    ASSERT_EQ(ours.status, 0) << ours.err;
    EXPECT_NE(ours.out.find("1212 x 1212, read at its overview of 303 x 303"), std::string::npos)
        << ours.out;
    const BlocksLine read = blocksLine(ours.out);
    EXPECT_EQ(read.what, "tile.tif's overview of 303 x 303");
    EXPECT_EQ(read.of, 4);
    EXPECT_LT(read.bytes, read.file_bytes / 8) << ours.out;

    const GdalPlacement placed = gdalPlacement(tmp / "ours.tif");
    const Raster mine = gdalRead(tmp / "ours.tif");
    ASSERT_EQ(std::max(mine.width, mine.height), 300);
    const double west = placed.origin_x, north = placed.origin_y;
    const double east = west + placed.pixel_width * mine.width;
    const double south = north + placed.pixel_height * mine.height;
    run("gdalwarp -q -overwrite -t_srs EPSG:" + std::to_string(gdalEpsg(tmp / "ours.tif")) +
        " -r bilinear -dstnodata -999999 -ts " + std::to_string(mine.width) + " " +
        std::to_string(mine.height) + " -te " + shownNumber(west) + " " + shownNumber(south) + " " +
        shownNumber(east) + " " + shownNumber(north) + " '" + tif + "' '" + tmp / "gdal.tif" + "'");
    const Raster theirs = gdalRead(tmp / "gdal.tif");
    ASSERT_EQ(theirs.values.size(), mine.values.size());
    std::vector<double> differences;
    for (std::size_t i = 0; i < mine.values.size(); ++i) {
        if (mine.values[i] > -1000 && theirs.values[i] > -1000) {
            differences.push_back(std::abs(mine.values[i] - theirs.values[i]));
        }
    }
    ASSERT_GT(differences.size(), mine.values.size() * 9 / 10);
    std::sort(differences.begin(), differences.end());
    // The ground rolls by 50 m over some 40 km: two resamplings of the same overview (marlwood's
    // bilinear onto its 360 m grid, then averaged to 374 m; GDAL's bilinear straight onto 374 m)
    // differ by little (measured: median 0.06 m, 99 % within 0.22 m, largest 2.6 m, at the edge).
    EXPECT_LT(differences[differences.size() / 2], 0.1);
    EXPECT_LT(differences[differences.size() * 99 / 100], 0.5);
    EXPECT_LT(differences.back(), 4.0);

    const testsupport::CliRun full = testsupport::commandLine(
        {"-v", "-f", "--full-resolution", "--size", "300", "-o", tmp / "full.tif", tif});
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(full.out.find("overview"), std::string::npos) << full.out;
    EXPECT_EQ(blocksLine(full.out).what, "tile.tif");
    EXPECT_EQ(blocksLine(full.out).of, 25);
}

}  // namespace
}  // namespace marlwood::oracle
