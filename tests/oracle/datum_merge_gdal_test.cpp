// A NAD27 quad merged with NAD83 ground: laid onto NAD83 through NADCON's grid, where GDAL puts
// it with the same grid, its heights moved onto NAVD88 by VERTCON's; without the grids, one line
// and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "conversation.h"
#include "files.h"
#include "geo/projection.h"
#include "oracle_support.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

void run(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

TEST(DatumMergeAgainstGdal, ANad27QuadLiesOnNad83GroundAsGdalLaysItWithTheGrid) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    const std::string catd = (usgs / "7172-duluth-mn" / "7172catd.ddf").string();
    const std::string quad = (usgs / "7172-duluth-mn" / "7172").string();
    TempDir tmp;
    // GDAL with PROJ's data and marlwood's grids, as GDAL's PROJ_DATA.
    const fs::path data = projDataWithGrids(tmp.path());
    const std::string gdal = "PROJ_DATA='" + data.string() + "' PROJ_NETWORK=OFF ";
    // A little of the quad on NAD83 (metres), so that the merge lies on NAD83's lattice.
    run(gdal + "gdalwarp -q -s_srs EPSG:26715 -t_srs EPSG:26915 -tr 30 30 -tap -r bilinear " +
        "-te 567000 5188000 570000 5191000 '" + catd + "' '" + tmp / "feet.tif" + "'");
    run("gdal_translate -q -ot Float32 -scale 0 1 0 0.3048 -a_nodata -999999 '" + tmp / "feet.tif" +
        "' '" + tmp / "nad83.tif" + "'");
    const testsupport::CliRun merged = testsupport::commandLine(
        {"-f", "--merge", "-o", tmp / "m.tif", tmp / "nad83.tif", quad});
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_NE(merged.out.find("laid from NAD27 onto NAD83 by NADCON's grid"), std::string::npos)
        << merged.out;
    const GdalPlacement placed = gdalPlacement(tmp / "m.tif");
    const Raster mine = gdalRead(tmp / "m.tif");
    EXPECT_EQ(gdalEpsg(tmp / "m.tif"), 26915);
    run(gdal + "gdalwarp -q -s_srs EPSG:26715 -t_srs EPSG:26915 -tr 30 30 -r bilinear -te " +
        std::to_string(placed.origin_x) + " " +
        std::to_string(placed.origin_y - 30.0 * mine.height) + " " +
        std::to_string(placed.origin_x + 30.0 * mine.width) + " " +
        std::to_string(placed.origin_y) + " '" + catd + "' '" + tmp / "gdal.tif" + "'");
    const Raster theirs = gdalRead(tmp / "gdal.tif");
    ASSERT_EQ(theirs.values.size(), mine.values.size());
    std::vector<double> differences;
    for (std::size_t i = 0; i < mine.values.size(); ++i) {
        const double feet = theirs.values[i];
        if (mine.values[i] <= -1000 || feet <= -1000 || feet > 1e5) continue;
        differences.push_back(std::abs(mine.values[i] - feet * 0.3048));
    }
    ASSERT_GT(differences.size(), 140000u);
    std::sort(differences.begin(), differences.end());
    // Laid by the same grid, both sides interpolate the same cells (measured: 99 % within
    // 0.15 m); PROJ's ballpark in place of the grid, 4.7 m off, gives 1 m (99 %) and 3 m.
    EXPECT_LT(differences[differences.size() * 99 / 100], 0.3);
    EXPECT_LT(differences.back(), 0.5);

    // The quad's NGVD29 heights met NAVD88 ones (the NAD83 GeoTIFF's, as 3DEP's): moved by
    // VERTCON, a few centimetres at DULUTH; kept as they are when asked.
    EXPECT_NE(merged.out.find("heights moved from NGVD29 to NAVD88"), std::string::npos);
    const testsupport::CliRun kept = testsupport::commandLine(
        {"-f", "--merge", "--keep-heights", "-o", tmp / "kept.tif", tmp / "nad83.tif", quad});
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(kept.out.find("heights moved"), std::string::npos) << kept.out;
    const Raster unshifted = gdalRead(tmp / "kept.tif");
    ASSERT_EQ(unshifted.values.size(), mine.values.size());
    double largest = 0;
    for (std::size_t i = 0; i < mine.values.size(); ++i) {
        if (mine.values[i] <= -1000) continue;
        largest = std::max(largest, std::abs(mine.values[i] - unshifted.values[i]));
    }
    EXPECT_GT(largest, 0.001);
    EXPECT_LT(largest, 0.1);

    // The grids moved away: one line naming the grid, and nothing written.
    ::setenv("MARLWOOD_PROJ_GRIDS", (tmp / "nowhere").c_str(), 1);
    const testsupport::CliRun gridless = testsupport::commandLine(
        {"-q", "--merge", "-o", tmp / "none.tif", tmp / "nad83.tif", quad});
    ::unsetenv("MARLWOOD_PROJ_GRIDS");
    EXPECT_EQ(gridless.status, 1);
    EXPECT_EQ(testsupport::count(gridless.err, "\n"), 1u) << gridless.err;
    EXPECT_NE(gridless.err.find("us_noaa_conus.tif"), std::string::npos) << gridless.err;
    EXPECT_FALSE(fs::exists(tmp / "none.tif"));
}

}  // namespace
}  // namespace marlwood::oracle
