// Engine heightmaps against GDAL: GDAL reads the PNG as UInt16 of the terrain's size, and every
// cell is the 0..65535 mapping of the elevation GDAL reads in the transfer (or in its mosaic of a
// merge's sources); the sidecar's figures follow from GDAL's cells and placement.
#include <cmath>
#include <cstdlib>
#include <functional>

#include "neighbours.h"
#include "oracle_support.h"
#include "quad_terrain.h"
#include "test_data.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

// The number after "key": in the sidecar, NaN when it is not there.
double jsonNumber(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? NAN : std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}

struct Source {
    std::vector<std::string> arguments;  // marlwood's, without -o
    fs::path gdal;                       // what GDAL reads for the cells
    double unit_m;
    bool exact;  // whole units, or decimals GDAL reads as floats
    double range_tolerance_m = 1e-6;
    bool in_thousandths = true;  // a transfer's cells, kept to the thousandth of their unit
};

TEST(HeightmapAgainstGdal, EveryCellIsTheMappingOfGdalsElevation) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    const Transfer bfp = makeQuad(45, 38, CellFormat::Bfp32, 10, "5100");
    writeModules(tmp / "5100", buildModules(bfp));
    const Transfer whole = makeQuad(41, 61, CellFormat::Bi16, 30, "5200");
    writeModules(tmp / "5201", buildModules(cutWindow(whole, {0, 0, 41, 31}, "5201")));
    writeModules(tmp / "5202", buildModules(cutWindow(whole, {0, 30, 41, 31}, "5202")));
    gdalMosaic(tmp / "m.vrt", {tmp / "5202catd.ddf", tmp / "5201catd.ddf"});
    // Voids filled before the mapping: the heights of the filled GeoTIFF's metres.
    ASSERT_EQ(commandLine({"--fill-voids", "-o", tmp / "filled.tif", duluth}).status, 0);
    const Source sources[] = {
        {{duluth}, duluth + "catd.ddf", 0.3048, true},
        {{tmp / "5100"}, tmp / "5100catd.ddf", 1, false},
        {{"--merge", tmp / "5201", tmp / "5202"}, tmp / "m.vrt", 1, true},
        {{"--fill-voids", duluth}, tmp / "filled.tif", 1, false, 1e-4, false},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(s.gdal);
        std::vector<std::string> arguments = s.arguments;
        arguments.insert(arguments.begin(), {"-f", "-o", tmp / "h.png"});
        const CliRun run = commandLine(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("h.png + " + (tmp / "h_unreal.json")), std::string::npos) << run.out;
        const Raster cells = gdalRead(s.gdal);
        const Raster png = gdalRead(tmp / "h.png");
        ASSERT_EQ(png.type, "UInt16");
        ASSERT_EQ(png.width, cells.width);
        ASSERT_EQ(png.height, cells.height);
        // The range from GDAL's valid cells in metres, kept to the thousandth of their unit.
        const auto kept = [&s](double v) {
            return (s.in_thousandths ? std::round(v * 1000) / 1000 : v) * s.unit_m;
        };
        double lowest = INFINITY, highest = -INFINITY;
        for (const double v : cells.values) {
            if (v <= -1000) continue;
            lowest = std::min(lowest, kept(v));
            highest = std::max(highest, kept(v));
        }
        // Each step within half a step of the elevation (so the nearest, ties either way), and a
        // void at 0; GDAL's decimals of a float may differ from ours by a thousandth of the unit.
        const double steps_per_m = 65535 / (highest - lowest);
        const double slack = 0.5 + 1e-6 + (s.exact ? 0 : 0.0011 * s.unit_m * steps_per_m);
        int off = 0;
        for (std::size_t i = 0; i < cells.values.size(); ++i) {
            const bool valid = cells.values[i] > -1000;
            const double m = kept(cells.values[i]);
            const double want = valid ? (m - lowest) * steps_per_m : 0;
            if (std::abs(png.values[i] - want) > (valid ? slack : 0) && ++off <= 5) {
                ADD_FAILURE() << "cell " << i << ": " << png.values[i] << ", GDAL's "
                              << cells.values[i] << " maps to " << want;
            }
        }
        EXPECT_EQ(off, 0);
        const std::string json = readFile(tmp.path() / "h_unreal.json");
        const GdalPlacement placed = gdalPlacement(s.gdal);
        const double posting = placed.pixel_width;
        EXPECT_EQ(jsonNumber(json, "width"), cells.width) << json;
        EXPECT_EQ(jsonNumber(json, "height"), cells.height);
        EXPECT_NEAR(jsonNumber(json, "posting_x_m"), posting, 1e-9);
        EXPECT_NEAR(jsonNumber(json, "posting_y_m"), -placed.pixel_height, 1e-9);
        EXPECT_NEAR(jsonNumber(json, "lowest_m"), lowest, s.range_tolerance_m);
        EXPECT_NEAR(jsonNumber(json, "highest_m"), highest, s.range_tolerance_m);
        EXPECT_NEAR(jsonNumber(json, "x_scale_cm"), posting * 100, 1e-6);
        EXPECT_NEAR(jsonNumber(json, "z_scale"), (highest - lowest) * 100 / 512,
                    s.range_tolerance_m);
        EXPECT_NEAR(jsonNumber(json, "z_location_cm"), (highest + lowest) * 50,
                    s.range_tolerance_m * 100);
        EXPECT_EQ(jsonNumber(json, "epsg"), gdalEpsg(s.gdal));
    }
}

// A heightmap knows where it lies: GDAL places the PNG, and each of its tiles, where it places the
// GeoTIFF of the same run, and reads the same coordinate system; the sidecar's extent and Unreal
// scales agree, each axis its own where --size unreal spaced the points apart.
TEST(HeightmapAgainstGdal, ThePngLiesWhereTheGeoTiffOfTheSameRunLies) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    const struct {
        std::vector<std::string> options;
        int tiles_across, tiles_down;
    } cases[] = {
        {{}, 1, 1},
        {{"--size", "unreal"}, 1, 1},
        {{"--size", "unreal", "--tiles", "2x1"}, 2, 1},
        {{"--centre", "46.8,-92.06", "--extent", "5", "--size", "1025"}, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        TempDir out;
        std::vector<std::string> tif = c.options, png = c.options;
        if (c.tiles_across * c.tiles_down > 1) tif.resize(tif.size() - 2);  // without --tiles
        tif.insert(tif.end(), {"-o", out / "g.tif", duluth});
        png.insert(png.end(), {"-o", out / "h.png", duluth});
        ASSERT_EQ(commandLine(tif).status, 0);
        const CliRun run = commandLine(png);
        ASSERT_EQ(run.status, 0) << run.err;
        const GdalPlacement whole = gdalPlacement(out / "g.tif");
        const Raster cells = gdalRead(out / "g.tif");
        const int tile_width = cells.width / c.tiles_across;
        const int tile_height = cells.height / c.tiles_down;
        for (int y = 0; y < c.tiles_down; ++y) {
            for (int x = 0; x < c.tiles_across; ++x) {
                const std::string name =
                    c.tiles_across * c.tiles_down == 1
                        ? "h.png"
                        : "h_x" + std::to_string(x) + "_y" + std::to_string(y) + ".png";
                SCOPED_TRACE(name);
                const GdalPlacement placed = gdalPlacement(out / name, Aux::Read);
                EXPECT_NEAR(placed.origin_x, whole.origin_x + x * tile_width * whole.pixel_width,
                            1e-6);
                EXPECT_NEAR(placed.origin_y, whole.origin_y + y * tile_height * whole.pixel_height,
                            1e-6);
                EXPECT_NEAR(placed.pixel_width, whole.pixel_width, 1e-9);
                EXPECT_NEAR(placed.pixel_height, whole.pixel_height, 1e-9);
                EXPECT_EQ(gdalEpsg(out / name, Aux::Read), gdalEpsg(out / "g.tif"));
            }
        }
        const std::string json = readFile(out.path() / "h_unreal.json");
        EXPECT_NEAR(jsonNumber(json, "west"), whole.origin_x, 1e-6) << json;
        EXPECT_NEAR(jsonNumber(json, "north"), whole.origin_y, 1e-6);
        EXPECT_NEAR(jsonNumber(json, "east"), whole.origin_x + cells.width * whole.pixel_width,
                    1e-6);
        EXPECT_NEAR(jsonNumber(json, "south"), whole.origin_y + cells.height * whole.pixel_height,
                    1e-6);
        EXPECT_NEAR(jsonNumber(json, "x_scale_cm"), whole.pixel_width * 100, 1e-6);
        EXPECT_NEAR(jsonNumber(json, "y_scale_cm"), -whole.pixel_height * 100, 1e-6);
    }
}

// What Blender's GIS importer reads best: --true-scale with a GeoTIFF still writes Float32 metres.
TEST(HeightmapAgainstGdal, TrueScaleGeoTiffIsFloat32Metres) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    const Raster feet = gdalRead(duluth + "catd.ddf");
    for (const char* format : {"--true-scale", "--format=tif"}) {
        SCOPED_TRACE(format);
        const CliRun run = commandLine({format, "-f", "-o", tmp / "b.tif", duluth});
        ASSERT_EQ(run.status, 0) << run.err;
        const Raster metres = gdalRead(tmp / "b.tif");
        ASSERT_EQ(metres.type, "Float32");
        ASSERT_EQ(metres.values.size(), feet.values.size());
        for (std::size_t i = 0; i < feet.values.size(); ++i) {
            const double want = feet.values[i] <= -1000 ? -32767 : feet.values[i] * 0.3048;
            ASSERT_NEAR(metres.values[i], want, 1e-4) << "cell " << i;
        }
    }
}

// A raw heightmap opens in GDAL through NAME.r16.vrt (NAME.raw.vrt): the PNG's values of the same
// run, in either byte order and with Unity's rows from the south, placed where the PNG lies.
TEST(HeightmapAgainstGdal, ARawHeightmapOpensInPlaceThroughItsVrt) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    const std::vector<std::string> square = {"--centre", "46.8,-92.06", "--extent", "3",
                                             "--size",   "257",         "-f"};
    std::vector<std::string> png = square;
    png.insert(png.end(), {"-o", tmp / "h.png", duluth});
    ASSERT_EQ(commandLine(png).status, 0);
    const Raster want = gdalRead(tmp / "h.png");
    const GdalPlacement placed = gdalPlacement(tmp / "h.png", Aux::Read);
    for (const char* file : {"h.r16", "h.raw"}) {
        for (const char* order : {"little", "big"}) {
            SCOPED_TRACE(std::string(file) + " " + order);
            std::vector<std::string> raw = square;
            raw.insert(raw.end(), {"--byte-order", order, "-o", tmp / file, duluth});
            ASSERT_EQ(commandLine(raw).status, 0);
            const fs::path vrt = tmp / (std::string(file) + ".vrt");
            const Raster got = gdalRead(vrt);
            EXPECT_EQ(got.type, "UInt16");
            EXPECT_EQ(got.values, want.values);
            const GdalPlacement at = gdalPlacement(vrt);
            EXPECT_EQ(at.origin_x, placed.origin_x);
            EXPECT_EQ(at.origin_y, placed.origin_y);
            EXPECT_EQ(at.pixel_height, placed.pixel_height);
            EXPECT_EQ(gdalEpsg(vrt), gdalEpsg(tmp / "h.png", Aux::Read));
        }
    }
}

// Where GDAL's build reads EXR (Debian's does not): it reads the EXR as Float32 cells equal to
// the GeoTIFF's of the same run, and places it by its NAME.exr.aux.xml where the GeoTIFF lies.
TEST(HeightmapAgainstGdal, TheExrHoldsTheGeoTiffsMetresWhereItLies) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    if (std::system("gdalinfo --formats 2>/dev/null | grep -q '^ *EXR '") != 0) {
        GTEST_SKIP() << "this GDAL reads no EXR";
    }
    TempDir tmp;
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    for (const char* file : {"g.tif", "g.exr"}) {
        ASSERT_EQ(commandLine({"--fill-voids", "-o", tmp / file, duluth}).status, 0);
    }
    const Raster tif = gdalRead(tmp / "g.tif");
    const Raster exr = gdalRead(tmp / "g.exr");
    EXPECT_EQ(exr.type, "Float32");
    EXPECT_EQ(exr.values, tif.values);
    const GdalPlacement a = gdalPlacement(tmp / "g.tif"),
                        b = gdalPlacement(tmp / "g.exr", Aux::Read);
    EXPECT_EQ(b.origin_x, a.origin_x);
    EXPECT_EQ(b.origin_y, a.origin_y);
    EXPECT_EQ(b.pixel_width, a.pixel_width);
}

}  // namespace
}  // namespace marlwood::oracle
