// Where a grid lies and the GeoTIFF that records it, against GDAL: its coordinate system and
// placement of the SDTS transfers themselves, and its reading of the files writeGeoTiff makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "geo/placement.h"
#include "neighbours.h"
#include "oracle_support.h"
#include "quad_terrain.h"
#include "sdts/georeference.h"
#include "sdts_writer.h"
#include "support/test_data.h"
#include "tiff/geotiff_writer.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

Result<GridPlacement> ourPlacement(const std::string& prefix) {
    const Result<Georeference> read = readGeoreference(modulesAt(prefix));
    if (!read) return read.error();
    return placeGrid(*read);
}

void expectGdalsPlacement(const fs::path& raster, const GridPlacement& ours) {
    EXPECT_EQ(gdalEpsg(raster), ours.epsg);
    const GdalPlacement gdal = gdalPlacement(raster);
    EXPECT_EQ(
        (GeoTransform{gdal.origin_x, gdal.pixel_width, 0, gdal.origin_y, 0, gdal.pixel_height}),
        ours.geotransform);
}

// The CRS and geotransform of four transfers, as GDAL gives them for the transfer itself.
// BLACK FOREST comes without its CEL0: a synthetic one of the same name lets GDAL open it.
TEST(GeoTiffAgainstGdal, PlacementOfTransfers) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    for (const fs::directory_entry& e : fs::directory_iterator(usgs / "3814-black-forest-co")) {
        fs::copy(e.path(), tmp.path() / e.path().filename());
    }
    Transfer forest_cel0;
    forest_cel0.file_id = "3814";
    forest_cel0.format = CellFormat::Bfp32;
    writeModules(tmp / "3814", {{"cel0.ddf", cel0DescriptiveRecord(forest_cel0)}});
    const auto synthetic = [&](CellFormat format, int posting, const char* id, const char* datum,
                               int zone) {
        Transfer t = makeQuad(40, 30, format, posting, id);
        t.datum = datum, t.zone = zone;
        writeModules(tmp / id, buildModules(t));
        return tmp / id;
    };
    const struct {
        std::string prefix;
        int epsg;  // what the test expects of both
    } cases[] = {
        {(usgs / "7172-duluth-mn/7172").string(), 26715},  // NAD27, feet
        {tmp / "3814", 26913},                             // NAD83, 10 m
        {synthetic(CellFormat::Bi16, 30, "3030", "WGC", 1), 32201},
        {synthetic(CellFormat::Bfp32, 10, "1010", "WGE", 60), 32660},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix);
        const Result<GridPlacement> ours = ourPlacement(c.prefix);
        ASSERT_TRUE(ours) << ours.message();
        EXPECT_EQ(ours->epsg, c.epsg);
        expectGdalsPlacement(c.prefix + "catd.ddf", *ours);
    }
}

// A grid with voids written by writeGeoTiff, read back by GDAL: placement, NoData, the layout
// asked for, and every cell. 300 x 520 cuts partial tiles at the right and bottom edges.
TEST(GeoTiffAgainstGdal, WrittenFileReadsBack) {
    MARLWOOD_REQUIRE_GDAL();
    const struct {
        std::int32_t rows, columns;
        GridPlacement placement;
    } cases[] = {
        {300, 520, {26715, {566685, 30, 0, 5191545, 0, -30}}},
        {3, 5, {32660, {300005.5, 10, 0, 4000005.5, 0, -10}}},
        // Strips of 16 rows, compressed in pairs: one whole, one and a row, three (the last alone),
        // a single cell.
        {16, 9, {26715, {566685, 30, 0, 5191545, 0, -30}}},
        {17, 1391, {26715, {566685, 30, 0, 5191545, 0, -30}}},
        {33, 7, {26715, {566685, 30, 0, 5191545, 0, -30}}},
        {1, 1, {26715, {566685, 30, 0, 5191545, 0, -30}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        // Fractions of every size, a void every 7th cell, a void row.
        const auto metres = [&](std::int32_t row, std::int32_t column) {
            if ((row * c.columns + column) % 7 == 3 || row == c.rows / 2) return kGeoTiffNoData;
            return static_cast<float>(std::sin(row * 0.05) * 300 + column * 0.731 - 12.5);
        };
        TempDir tmp;
        const std::string path = tmp / "grid.tif";
        std::int32_t next_row = 0;
        const Status written = writeGeoTiff(
            path, c.rows, c.columns, c.placement, [&](std::int32_t row, std::span<float> out) {
                EXPECT_EQ(row, next_row++);
                ASSERT_EQ(out.size(), static_cast<std::size_t>(c.columns));
                for (std::int32_t x = 0; x < c.columns; ++x) out[x] = metres(row, x);
            });
        ASSERT_TRUE(written) << written.message();
        EXPECT_EQ(next_row, c.rows);
        EXPECT_EQ(tmp.entries(), 1u);  // no temporary file left beside it
        expectGdalsPlacement(path, c.placement);
        const std::string info = gdalInfo(path);
        const std::string block = "Block=" + std::to_string(c.columns) + "x" +
                                  std::to_string(std::min(c.rows, 16)) + " Type=Float32";
        for (const std::string& line :
             {std::string("NoData Value=-32767\n"), std::string("COMPRESSION=DEFLATE\n"),
              std::string("PREDICTOR=3\n"), block}) {
            EXPECT_NE(info.find(line), std::string::npos) << line << " not in\n" << info;
        }
        const Raster raster = gdalRead(path);
        ASSERT_EQ(raster.width, c.columns);
        ASSERT_EQ(raster.height, c.rows);
        int mismatches = 0;
        for (std::int32_t y = 0; y < c.rows; ++y) {
            for (std::int32_t x = 0; x < c.columns; ++x) {
                if (static_cast<float>(raster.at(y, x)) != metres(y, x) && ++mismatches <= 5) {
                    ADD_FAILURE() << "row " << y << " column " << x << ": GDAL " << raster.at(y, x)
                                  << ", written " << metres(y, x);
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

// Converted to GeoTIFF by the command line, a transfer reads back through GDAL in the system, at
// the place and with the cells GDAL gives the transfer itself (feet as 0.3048 m); merged, two
// neighbours read back as GDAL's mosaic of them, and the same merge as a .ter file has the size
// GDAL reads there.
TEST(GeoTiffAgainstGdal, ConvertedTransfersHoldGdalsCells) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    writeModules(tmp / "3030", buildModules(makeQuad(60, 50, CellFormat::Bi16, 30, "3030")));
    writeModules(tmp / "1010", buildModules(makeQuad(70, 60, CellFormat::Bfp32, 10, "1010")));
    Transfer east = makeQuad(60, 50, CellFormat::Bi16, 30, "3031");
    shiftByPostings(east, 0, 50);
    writeModules(tmp / "3031", buildModules(east));
    gdalMosaic(tmp / "pair.vrt", {tmp / "3030catd.ddf", tmp / "3031catd.ddf"});
    const struct {
        std::vector<std::string> sources;
        fs::path gdal_source;
        double unit_m, tolerance_m;  // BFP32 decimals are kept to a thousandth of the unit
    } cases[] = {
        {{(usgs / "7172-duluth-mn/7172").string()},
         usgs / "7172-duluth-mn/7172catd.ddf",
         0.3048,
         1e-4},
        {{tmp / "3030"}, tmp / "3030catd.ddf", 1, 1e-4},
        {{tmp / "1010"}, tmp / "1010catd.ddf", 1, 5e-4},
        {{"--merge", tmp / "3030", tmp / "3031"}, tmp / "pair.vrt", 1, 1e-4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gdal_source.string());
        std::vector<std::string> arguments{"-f", "-o", tmp / "out.tif"};
        arguments.insert(arguments.end(), c.sources.begin(), c.sources.end());
        std::ostringstream out, err;
        ASSERT_EQ(runCommandLine(arguments, out, err, false), 0) << err.str();
        const Raster sdts = gdalRead(c.gdal_source);
        const Raster ours = gdalRead(tmp / "out.tif");
        ASSERT_EQ(ours.width, sdts.width);
        ASSERT_EQ(ours.height, sdts.height);
        EXPECT_EQ(ours.type, "Float32");
        EXPECT_EQ(gdalEpsg(tmp / "out.tif"), gdalEpsg(c.gdal_source));
        const GdalPlacement want = gdalPlacement(c.gdal_source);
        const GdalPlacement got = gdalPlacement(tmp / "out.tif");
        EXPECT_EQ(got.origin_x, want.origin_x);
        EXPECT_EQ(got.origin_y, want.origin_y);
        EXPECT_EQ(got.pixel_width, want.pixel_width);
        double worst = 0;
        long voids = 0;
        for (std::size_t i = 0; i < sdts.values.size(); ++i) {
            if (sdts.values[i] <= -1000) {
                voids += ours.values[i] == kGeoTiffNoData;
                continue;
            }
            worst = std::max(worst, std::abs(ours.values[i] - sdts.values[i] * c.unit_m));
        }
        EXPECT_LE(worst, c.tolerance_m);
        EXPECT_EQ(voids, std::count_if(sdts.values.begin(), sdts.values.end(),
                                       [](double v) { return v <= -1000; }));
    }
    // The merged .ter's size, read by GDAL.
    std::ostringstream out, err;
    ASSERT_EQ(runCommandLine({"--merge", "-o", tmp / "pair.ter", tmp / "3030", tmp / "3031"}, out,
                             err, false),
              0)
        << err.str();
    const Raster ter = gdalRead(tmp / "pair.ter");
    EXPECT_EQ(ter.width, 100);
    EXPECT_EQ(ter.height, 60);
    // A square cut and resampled keeps its place: the window's corner, its extent in 1025 cells.
    ASSERT_EQ(runCommandLine({"--centre", "46.8,-92.06", "--extent", "5", "--size", "1025", "-o",
                              tmp / "square.tif", (usgs / "7172-duluth-mn/7172").string()},
                             out, err, false),
              0)
        << err.str();
    EXPECT_NE(gdalInfo(tmp / "square.tif").find("Size is 1025, 1025"), std::string::npos);
    const GdalPlacement square = gdalPlacement(tmp / "square.tif");
    EXPECT_EQ(square.origin_x, 566685 + 85 * 30);
    EXPECT_EQ(square.origin_y, 5191545 - 196 * 30);
    EXPECT_NEAR(square.pixel_width, 167 * 30 / 1025.0, 1e-9);
}

}  // namespace
}  // namespace marlwood::oracle
