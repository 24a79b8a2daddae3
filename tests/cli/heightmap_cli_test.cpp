// Engine heightmaps from the command line, in-process: every format and every tile holds the
// values of the one untiled PNG, in its own order of rows and bytes; what cannot be written in the
// shape asked for is one line and status 2. GDAL's reading is in tests/oracle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "conversation.h"
#include "files.h"
#include "neighbours.h"
#include "png16_reader.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"

#if MARLWOOD_TEST_EXR
#include <tinyexr.h>
#endif

namespace marlwood {
namespace {

namespace ts = testsupport;
namespace fs = std::filesystem;

// Around row 20, column 30 of makeQuad's 41 x 61 (see crop_test.cpp), 9 x 9 cells, made 65 x 65.
const std::vector<std::string> kSquare = {
    "--centre", "45.2691893223591,-93.5605008767697", "--extent", "0.27", "--size", "65"};

struct Grid {
    int rows = 0, columns = 0;
    std::vector<int> values;  // north row first
    int at(int r, int c) const { return values[static_cast<std::size_t>(r * columns + c)]; }
};

// A heightmap read back: a PNG with libpng, a raw file by its byte and row order.
Grid readBack(const std::string& path, int rows, bool little, bool south_first) {
    Grid g;
    if (path.ends_with(".png")) {
        const ts::Png16 png = ts::readPng16(path);
        g.rows = static_cast<int>(png.height);
        g.columns = static_cast<int>(png.width);
        g.values.assign(png.values.begin(), png.values.end());
        return g;
    }
    const std::string bytes = ts::readFile(path);
    g.rows = rows;
    g.columns = static_cast<int>(bytes.size() / 2 / static_cast<std::size_t>(rows));
    EXPECT_EQ(bytes.size(), static_cast<std::size_t>(g.rows * g.columns * 2)) << path;
    g.values.resize(bytes.size() / 2);
    for (int r = 0; r < g.rows; ++r) {
        const int file_row = south_first ? g.rows - 1 - r : r;
        for (int c = 0; c < g.columns; ++c) {
            const std::size_t at = static_cast<std::size_t>(file_row * g.columns + c) * 2;
            const int a = static_cast<unsigned char>(bytes[at]);
            const int b = static_cast<unsigned char>(bytes[at + 1]);
            g.values[static_cast<std::size_t>(r * g.columns + c)] =
                little ? a | b << 8 : a << 8 | b;
        }
    }
    return g;
}

// Unity's tiles share their edge rows and columns; Unreal lays tile (x, y) at x tile widths and
// y tile heights (see tests/heightmap/unreal_test.cpp), so its tiles lie side by side.
TEST(HeightmapCommandLine, EveryFormatAndTileHoldsTheUntiledPng) {
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(ts::makeQuad(41, 61, ts::CellFormat::Bfp32)));
    std::map<std::string, Grid> wholes;  // by --size
    for (const char* size : {"65", "64"}) {
        std::vector<std::string> base = kSquare;
        base.insert(base.end(), {"--size", size, "-f", "-o", tmp / "whole.png", tmp / "5000"});
        ASSERT_EQ(ts::commandLine(base).status, 0);
        wholes[size] = readBack(tmp / "whole.png", 0, false, false);
        ASSERT_EQ(wholes[size].rows, std::stoi(size));
        ASSERT_EQ(wholes[size].columns, std::stoi(size));
    }
    const struct {
        std::vector<std::string> options;
        const char* file;   // printf-style with the tile's two numbers
        int columns, rows;  // tiles
        bool little, south_first, unity;
        const char* size = "65";
    } cases[] = {
        {{}, "h.r16", 1, 1, true, false, false},
        {{"--byte-order", "big"}, "h.r16", 1, 1, false, false, false},
        {{}, "h.raw", 1, 1, true, true, true},
        {{"--byte-order=big"}, "h.raw", 1, 1, false, true, true},
        {{"--format", "r16"}, "h.bin", 1, 1, true, false, false},
        {{"--tiles", "2x2"}, "h_x%d_y%d.png", 2, 2, false, false, false, "64"},
        {{"--tiles", "4x2"}, "h_x%d_y%d.r16", 4, 2, true, false, false, "64"},
        {{"--tiles", "1x8"}, "h_x%d_y%d.png", 1, 8, false, false, false, "64"},
        {{"--tiles", "2x2"}, "h_%d_%d.raw", 2, 2, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + std::to_string(c.columns) + "x" + std::to_string(c.rows));
        ts::TempDir out;
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.end(), kSquare.begin(), kSquare.end());
        const std::string name = std::string(c.file).substr(std::string(c.file).rfind('.'));
        arguments.insert(arguments.end(),
                         {"--size", c.size, "-o", out / ("h" + name), tmp / "5000"});
        const ts::CliRun run = ts::commandLine(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        const Grid& whole = wholes[c.size];
        const int shared = c.unity ? 1 : 0;
        const int side_rows = (whole.rows - shared) / c.rows + shared;
        const int side_columns = (whole.columns - shared) / c.columns + shared;
        for (int y = 0; y < c.rows; ++y) {
            for (int x = 0; x < c.columns; ++x) {
                char file[64];
                // Unity counts Z north from the south-west tile; Unreal y south from the
                // north-west.
                std::snprintf(file, sizeof file, c.file, x, c.unity ? c.rows - 1 - y : y);
                const Grid tile = readBack(out / file, side_rows, c.little, c.south_first);
                ASSERT_EQ(tile.rows, side_rows) << file;
                ASSERT_EQ(tile.columns, side_columns) << file;
                for (int r = 0; r < tile.rows; ++r) {
                    for (int k = 0; k < tile.columns; ++k) {
                        ASSERT_EQ(tile.at(r, k), whole.at(y * (side_rows - shared) + r,
                                                          x * (side_columns - shared) + k))
                            << file << " row " << r << " column " << k;
                    }
                }
            }
        }
        // One sidecar for the set, named in the report; Unreal's out of its import's gathering.
        const std::string sidecar = out / (c.unity ? "h.json" : "h_unreal.json");
        EXPECT_TRUE(fs::exists(sidecar));
        EXPECT_NE(run.out.find("+ " + sidecar), std::string::npos) << run.out;
        // Each heightmap with the file that places it for GDAL: NAME.png.aux.xml, NAME.r16.vrt.
        EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), {}),
                  c.columns * c.rows * 2 + 1);
    }
}

// What the shape or size cannot be is one line on standard error, status 2, nothing written.
TEST(HeightmapCommandLine, WrongShapesAndSizesAreOneLineAndStatus2) {
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(ts::makeQuad(41, 61, ts::CellFormat::Bi16)));
    const struct {
        std::vector<std::string> options;
        const char* line;
    } cases[] = {
        {{"-o", "x.raw"},
         "Unity takes a square terrain of 2^n + 1 points a side (33, 65 ... 4097), "
         "not 41 x 61: crop and size a square, such as --centre LAT,LON --extent "
         "KM --size 1025"},
        {{"--format", "unity", "--size", "1000", "-o", "x"}, "--size 1000 will not do"},
        {{"--tiles", "2x2", "--size", "1026", "-o", "x.raw"}, "such as 2049"},
        {{"--tiles", "2x1", "--size", "1025", "-o", "x.raw"}, "Unity's tiles are square"},
        {{"--size", "unreal", "-o", "x.raw"}, "Unreal's sizes are not Unity's"},
        {{"--tiles", "2x2", "-o", "x.png"},
         "61 columns do not make 2 tiles side by side, as Unreal lays them (side x 2 points; 60 "
         "or 62 would)"},
        {{"--size", "unity", "-o", "x.png", "--tiles", "3x3"}, "(side x 3 points; 21 or 24"},
        {{"--tiles", "7x1", "-o", "x.r16"}, "61 columns do not make 7 tiles"},
        {{"--tiles", "2x2", "-o", "x.ter"}, "--tiles cuts a heightmap"},
        {{"--tiles", "2x0", "-o", "x.png"}, "COLUMNSxROWS"},
        {{"--byte-order", "big", "-o", "x.png"}, "big-endian by definition"},
        {{"--byte-order", "middle", "-o", "x.r16"}, "little or big"},
        {{"--byte-order", "big", "-o", "x.tif"}, "goes with the r16 and unity"},
        {{"--preview", "-o", "x.png"}, "--preview writes"},
        {{"-s", "40", "-o", "x.png"}, "-s and --true-scale are for .ter"},
        {{"--true-scale", "-o", "x.r16"}, "-s and --true-scale are for .ter"},
        {{"--format", "r16", "-o", "-"}, "-o - has no name"},
        {{"--format", "png16", "-o", "x.json"}, "sidecar is NAME.json"},
        {{"--format", "png", "-o", "x"}, "ter, tif, png16, r16, unity, exr, stl, glb or obj"},
        {{"--true-scale", "-o", "x.exr"}, "an EXR holds elevations in metres"},
        {{"--format", "exr", "-o", "-"}, "-o - has no name"},
        {{"--tiles", "2x2", "-o", "x.exr"}, "--tiles cuts a heightmap"},
        {{"--format", "png16", "-o", "/dev/null"}, "/dev/null is a device or a pipe"},
        {{"--format", "r16", "--tiles", "2x2", "-o", "/dev/null"}, "is a device or a pipe"},
        {{"--format", "r16", "--tiles", "1x2", "-o", "x/"}, "x/ has no name"},
        {{"-o", "x/.png"}, ".png has no name"},
        {{"--size", "65", "--tiles", "4x4", "-o", "x.r16"},
         "64 or 68 would); --size 60 or 72 splits both"},
        {{"--size", "65", "--tiles", "64x64", "-o", "x.r16"}, "no --size splits both sides"},
        {{"-o", "x.bmp"}, "no format is written as .bmp; end -o's name in .ter, .tif"},
        {{"--format", "png16", "-o", "x.ter"}, "is named as ter; end -o's name in .png"},
        {{"--size", "cs2", "-o", "x.tif"}, "--size cs2 makes Cities: Skylines II's 16-bit"},
        {{"--size", "cs2-world", "-o", "x.raw"}, "not Unity's raw"},
        {{"--size", "cs2", "--tiles", "2x2", "-o", "x.png"}, "leave out --tiles"},
        {{"--size", "cs2", "--common-range", "-o", "x.png"}, "leave out --common-range"},
        {{"--cs2-height-scale", "900", "-o", "x.r16"}, "goes with --size cs2 or cs2-world"},
        {{"--cs2-height-scale", "900", "--size", "cs2", "-o", "x.tif"}, "goes with a png16 or r16"},
        {{"--cs2-height-scale", "0", "--size", "cs2", "-o", "x.png"}, "from 1 to 100000, not '0'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        ts::TempDir out;
        std::vector<std::string> arguments;
        for (const std::string& o : c.options) {
            arguments.push_back(o.starts_with("x") ? out / o : o);
        }
        arguments.push_back(tmp / "5000");
        const ts::CliRun run = ts::commandLine(arguments);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
        EXPECT_EQ(ts::count(run.err, "marlwood: "), 1u) << run.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), {}), 0);
    }
}

// --size unreal keeps the points, each side to the nearest whole components; the report says how
// Unreal takes the size, or that it pads one no component fits.
TEST(HeightmapCommandLine, TheReportSaysHowUnrealTakesTheSize) {
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(ts::makeQuad(41, 61, ts::CellFormat::Bi16)));
    const struct {
        std::vector<std::string> options;
        std::vector<std::string> said;
    } cases[] = {
        {{"--size", "unreal", "-o", "u.png"},
         {"resampled to 43 x 64 (the nearest exact fit for Unreal), ",
          "(Unreal: 9 x 6 components of 7 quads)"}},
        {{"--size", "unreal", "--tiles", "2x1", "-o", "u.r16"},
         {"resampled to 43 x 64 (the nearest exact fit for Unreal), ", "each 43 x 32",
          "(Unreal: 9 x 6 components of 7 quads)"}},
        {{"-o", "u.png"}, {"(Unreal: no component size fits 41 x 61 exactly, so its import pads"}},
        {{"--size", "127", "-o", "u.r16"},
         {"(Unreal: 9 x 6 components of 14 quads (2 x 2 sections of 7))"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        ts::TempDir out;
        std::vector<std::string> arguments;
        for (const std::string& o : c.options) {
            arguments.push_back(o.starts_with("u.") ? out / o : o);
        }
        arguments.push_back(tmp / "5000");
        const ts::CliRun run = ts::commandLine(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        for (const std::string& piece : c.said) {
            EXPECT_NE(run.out.find(piece), std::string::npos) << piece << " in " << run.out;
        }
    }
}

// Cities: Skylines II's editor imports "a resolution of 4096x4096 pixels, grayscale, 16-bit color
// channel depth, .png or .tiff", over the playable area, with an optional extended world map
// around it (Colossal Order's development diary on the editor, colossalorder.fi/?p=2190). Its map
// makers measured the playable area at 14.336 km square, the world map at 57.344 km, and the
// import's Height Scale at 4096 m unless set (sysoppl/Cities-Skylines-heightmap-generator issue
// 80, nonta1234/terraining-heightmap-generator issue 1). So a heightmap for it is 4096 x 4096
// whatever the terrain, each value metres / scale x 65535, and the report warns of a ground that
// is not the map's square and of elevations above the scale.
TEST(HeightmapCommandLine, CitiesSkylines2TakesItsSizeAndHeightScale) {
    ts::TempDir tmp;
    // A square, so that --size 4096 (within 16 times its points) resamples it as --size cs2 does.
    ts::writeModules(tmp / "5000",
                     ts::buildModules(ts::makeQuad(257, 257, ts::CellFormat::Bfp32, 10)));
    // The elevations of the same 4096 x 4096 grid: a png16 spanning its own range, undone.
    const ts::CliRun made =
        ts::commandLine({"--size", "4096", "-o", tmp / "ref.png", tmp / "5000"});
    ASSERT_EQ(made.status, 0) << made.err;
    const ts::Png16 ref = ts::readPng16(tmp / "ref.png");
    const std::string ref_json = ts::readFile(tmp / "ref_unreal.json");
    const auto number = [](const std::string& json, const std::string& key) {
        return std::strtod(json.c_str() + json.find("\"" + key + "\": ") + key.size() + 4, nullptr);
    };
    const double lowest = number(ref_json, "lowest_m"), highest = number(ref_json, "highest_m");
    ASSERT_EQ(ref.width, 4096u);
    const struct {
        std::vector<std::string> options;
        double scale_m;
        const char* map;
        bool above_scale;  // warned of elevations above the scale
    } cases[] = {
        {{"--size", "cs2", "-o", "c.png"}, 4096, "playable", false},
        {{"--size", "cs2-world", "--cs2-height-scale", "1500", "-o", "c.png"},
         1500,
         "world",
         false},
        {{"--cs2-height-scale", "700", "--size", "cs2", "-o", "c.png"}, 700, "playable", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        ts::TempDir out;
        std::vector<std::string> arguments;
        for (const std::string& o : c.options) {
            arguments.push_back(o.starts_with("c.") ? out / o : o);
        }
        arguments.push_back(tmp / "5000");
        const ts::CliRun run = ts::commandLine(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        const ts::Png16 png = ts::readPng16(out / "c.png");
        ASSERT_EQ(png.width, 4096u);
        ASSERT_EQ(png.height, 4096u);
        const double step_m = (highest - lowest) / 65535;
        int worst = 0;
        for (std::size_t i = 0; i < png.values.size(); ++i) {
            const double metres = lowest + ref.values[i] * step_m;
            const double expected = std::min(65535.0, std::round(metres / c.scale_m * 65535));
            worst = std::max(worst, static_cast<int>(std::abs(png.values[i] - expected)));
        }
        // Within the reference's own step, which is finer than the scale's.
        EXPECT_LE(worst, 1);
        const std::string json = ts::readFile(out / "c.json");
        EXPECT_NE(json.find(std::string("\"map\": \"") + c.map), std::string::npos) << json;
        EXPECT_EQ(number(json, "height_scale_m"), c.scale_m) << json;
        EXPECT_NE(run.out.find("Cities: Skylines II: its " +
                               std::string(c.map[0] == 'w' ? "world map" : "playable area")),
                  std::string::npos)
            << run.out;
        // 257 x 257 points 10 m apart are no 14.336 km square.
        EXPECT_NE(run.err.find("so its ground is stretched"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("give --cs2-height-scale ") != std::string::npos, c.above_scale)
            << run.err;
    }
}

#if MARLWOOD_TEST_EXR
// An EXR for Godot holds every cell's true elevation in metres as a float, a void at the lowest;
// its sidecar gives Terrain3D's import: the posting as vertex spacing, heights as they are.
TEST(HeightmapCommandLine, AnExrHoldsEveryElevationInMetres) {
    ts::TempDir tmp;
    const ts::Transfer t = ts::makeQuad(41, 61, ts::CellFormat::Bfp32, 10, "5000");
    ts::writeModules(tmp / "5000", ts::buildModules(t));
    const ts::CliRun run = ts::commandLine({"-o", tmp / "g.exr", tmp / "5000"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("g.exr + " + (tmp / "g.json")), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(Terrain3D: vertex spacing 10 m, import scale 1, height offset 0)"),
              std::string::npos)
        << run.out;
    float* rgba = nullptr;
    int width = 0, height = 0;
    const char* problem = nullptr;
    ASSERT_EQ(LoadEXR(&rgba, &width, &height, (tmp / "g.exr").c_str(), &problem), TINYEXR_SUCCESS);
    ASSERT_EQ(width, 61);
    ASSERT_EQ(height, 41);
    const auto kept = [](double v) {
        return std::round(static_cast<double>(static_cast<float>(v)) * 1000) / 1000;
    };
    double lowest = INFINITY;
    for (const double v : t.elevations) {
        if (ts::validElevation(v)) lowest = std::min(lowest, kept(v));
    }
    int off = 0, voids = 0;
    for (std::size_t i = 0; i < t.elevations.size(); ++i) {
        const bool valid = ts::validElevation(t.elevations[i]);
        voids += !valid;
        const double want = valid ? kept(t.elevations[i]) : lowest;
        off += std::abs(rgba[4 * i] - want) > 2e-4;  // a float's step at 1400 m is 1.2e-4
    }
    std::free(rgba);
    EXPECT_EQ(off, 0);
    EXPECT_GT(voids, 0);
    const std::string json = ts::readFile(tmp / "g.json");
    EXPECT_NE(json.find("\"terrain3d\": {\"vertex_spacing\": 10, \"import_scale\": 1, "
                        "\"height_offset\": 0}"),
              std::string::npos)
        << json;
}
#endif

// A heightmap's tiles and sidecar are one set: a failure at any file (a device under a tile's
// name, a sidecar name the directory cannot hold) leaves what stood there before and none of
// the new files; tiles of an older set of the name are removed with -f and named without it.
TEST(HeightmapCommandLine, ATileSetIsWrittenWholeOrNotAtAll) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(ts::makeQuad(41, 61, ts::CellFormat::Bfp32)));
    const std::string longest(251, 'n');  // NAME.r16 fits in 255 bytes, NAME.json does not
    std::vector<std::string> four_by_four{"t_unreal.json"};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            four_by_four.push_back("t_x" + std::to_string(x) + "_y" + std::to_string(y) + ".r16");
        }
    }
    const struct {
        std::vector<std::string> options;  // besides kSquare and the source
        std::vector<std::string> old;      // files reading "old" before the run
        const char* full;                  // a link to /dev/full, or nothing
        int status;
        std::string said;                // in the report, or the problem line
        std::vector<std::string> still;  // files that must still read "old"
        std::size_t entries;             // in the directory afterwards
    } cases[] = {
        {{"--tiles", "2x2", "-o", "t.r16"},
         {},
         "t_x1_y0.r16",
         1,
         "t_x1_y0.r16: it is not a regular file",
         {},
         1},
        {{"-f", "--tiles", "2x2", "-o", "t.r16"},
         {"t_x0_y0.r16", "t_x1_y0.r16", "t_x0_y1.r16", "t_unreal.json"},
         "t_x1_y1.r16",
         1,
         "it is not a regular file",
         {"t_x0_y0.r16", "t_x1_y0.r16", "t_x0_y1.r16", "t_unreal.json"},
         5},
        {{"-o", longest + ".r16"}, {}, nullptr, 1, "File name too long", {}, 0},
        {{"-f", "-o", longest + ".r16"},
         {longest + ".r16"},
         nullptr,
         1,
         "File name too long",
         {longest + ".r16"},
         1},
        {{"-f", "--tiles", "2x2", "-o", "t.r16"},
         four_by_four,
         nullptr,
         0,
         "12 tiles of an older set removed",
         {},
         9},
        {{"--tiles", "2x2", "-o", "t.r16"},
         {"t_x3_y3.r16", "t_3_0.r16"},
         nullptr,
         0,
         "t_x3_y3.r16; -f removes them)",
         {"t_x3_y3.r16", "t_3_0.r16"},
         11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options) + " over " +
                     ::testing::PrintToString(c.old));
        ts::TempDir out;
        for (const std::string& name : c.old) ts::writeFile(out / name, "old");
        if (c.full != nullptr) fs::create_symlink("/dev/full", out / c.full);
        std::vector<std::string> arguments = kSquare;
        arguments.insert(arguments.end(), {"--size", "64"});  // Unreal's tiles split 64 points
        for (const std::string& o : c.options) {
            arguments.push_back(o.starts_with("t") || o.starts_with("n") ? out / o : o);
        }
        arguments.push_back(tmp / "5000");
        const ts::CliRun run = ts::commandLine(arguments);
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::string& said = c.status == 0 ? run.out : run.err;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        for (const std::string& name : c.still) EXPECT_EQ(ts::readFile(out / name), "old") << name;
        EXPECT_EQ(out.entries(), c.entries);
        if (c.status == 0) {
            EXPECT_NE(ts::readFile(out / "t_unreal.json"), "old");
        }
    }
}

// --common-range: every source's 0..65535 spans the valid elevations of them all.
TEST(HeightmapCommandLine, CommonRangeSpansEverySource) {
    ts::TempDir tmp;
    const ts::Transfer whole = ts::makeQuad(41, 61, ts::CellFormat::Bfp32, 10, "5000");
    const ts::Window windows[] = {{0, 0, 41, 31, 0}, {0, 30, 41, 31, 250}};
    double lowest = INFINITY, highest = -INFINITY;
    std::vector<std::string> arguments = {"--common-range", "--format", "r16", "-d", tmp / "out"};
    for (int i = 0; i < 2; ++i) {
        const std::string id = std::to_string(5001 + i);
        const ts::Transfer t = ts::cutWindow(whole, windows[i], id);
        for (const double v : t.elevations) {
            if (!ts::validElevation(v)) continue;
            lowest = std::min(lowest,
                              std::round(static_cast<double>(static_cast<float>(v)) * 1000) / 1000);
            highest = std::max(
                highest, std::round(static_cast<double>(static_cast<float>(v)) * 1000) / 1000);
        }
        ts::writeModules(tmp / id, ts::buildModules(t));
        arguments.push_back(tmp / id);
    }
    const ts::CliRun run = ts::commandLine(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* id : {"5001", "5002"}) {
        const std::string json =
            ts::readFile(tmp.path() / "out" / (std::string(id) + "_unreal.json"));
        const auto number = [&](const std::string& key) {
            return std::strtod(json.c_str() + json.find("\"" + key + "\": ") + key.size() + 4,
                               nullptr);
        };
        EXPECT_NEAR(number("lowest_m"), lowest, 1e-6) << json;
        EXPECT_NEAR(number("highest_m"), highest, 1e-6) << json;
        EXPECT_EQ(number("width"), 31);
        EXPECT_EQ(number("posting_x_m"), 10);
        EXPECT_EQ(number("posting_y_m"), 10);
    }
}

}  // namespace
}  // namespace marlwood
