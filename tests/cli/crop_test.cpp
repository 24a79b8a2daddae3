// Crops by place on the command line, in-process: a crop gives the very bytes of converting a
// transfer of the window's cells alone, a merge's crop those of cropping the whole, and a merge
// leaves the sources the crop misses undecoded. Where the window lies is held against GDAL in
// tests/oracle/crop_gdal_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "conversation.h"
#include "files.h"
#include "neighbours.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

// The window a report line gives, or a window of no rows.
ts::Window reportedWindow(const std::string& out) {
    std::smatch m;
    if (!std::regex_search(out, m,
                           std::regex("window (\\d+) x (\\d+) from row (\\d+), column (\\d+)"))) {
        return {};
    }
    return {std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[1]), std::stoi(m[2])};
}

// makeQuad's grid in zone 15 on NAD27 has the top-left corner 455115, 5013405. The degrees are
// gdaltransform's for 456030, 5012790 (the centre of row 20, column 30) and for the box's corners
// 455500, 5013000 and 456400, 5012500.
const std::vector<std::string> kCentre = {"--centre", "45.2691893223591,-93.5605008767697",
                                          "--extent", "0.27"};
const std::vector<std::string> kBox = {
    "--bbox=-93.5672754694296,45.2666020389465,-93.5557591088476,45.2710462032132"};

TEST(Crop, GivesTheBytesOfTheWindowAlone) {
    const struct {
        std::vector<std::string> crop, options;
        ts::Window window;  // row, column, rows, columns
    } cases[] = {
        // Nine cells a side around the centre's cell.
        {kCentre, {}, {16, 26, 9, 9}},
        {kCentre, {"--true-scale", "--fill-voids"}, {16, 26, 9, 9}},
        // From the cell of the north-west corner to that of the south-east one.
        {kBox, {}, {13, 12, 18, 31}},
    };
    const ts::Transfer whole = ts::makeQuad(41, 61, ts::CellFormat::Bfp32, 30, "5000");
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(whole));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.crop.front() + " " + std::to_string(c.options.size()));
        std::vector<std::string> crop = c.options, alone = c.options;
        crop.insert(crop.end(), c.crop.begin(), c.crop.end());
        crop.insert(crop.end(), {"-f", "-o", tmp / "crop.ter", tmp / "5000"});
        const ts::CliRun run = ts::commandLine(crop);
        ASSERT_EQ(run.status, 0) << run.err;
        const ts::Window w = reportedWindow(run.out);
        EXPECT_EQ(std::tie(w.row, w.column, w.rows, w.columns),
                  std::tie(c.window.row, c.window.column, c.window.rows, c.window.columns))
            << run.out;
        ts::writeModules(tmp / "6000", ts::buildModules(ts::cutWindow(whole, w, "6000")));
        alone.insert(alone.end(), {"-f", "-o", tmp / "alone.ter", tmp / "6000"});
        ASSERT_EQ(ts::commandLine(alone).status, 0);
        EXPECT_TRUE(ts::readFile(tmp.path() / "crop.ter") ==
                    ts::readFile(tmp.path() / "alone.ter"));
    }
}

// Four windows sharing a row and a column, north-west 9000 to south-east 9003. A crop across all
// of them gives the bytes of cropping the whole; a crop inside 9000 leaves the others unread, so
// their damaged CEL0 says nothing.
TEST(Crop, MergedAreaCroppedAsAWhole) {
    const ts::Transfer whole = ts::makeQuad(41, 61, ts::CellFormat::Bi16, 30, "5000");
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(whole));
    std::vector<std::string> sources;
    for (int i = 0; i < 4; ++i) {
        const ts::Window w{i / 2 * 20, i % 2 * 30, 21, 31};
        const std::string id = std::to_string(9000 + i);
        ts::writeModules(tmp / id, ts::buildModules(ts::cutWindow(whole, w, id)));
        sources.push_back(tmp / id);
    }
    for (const auto& crop : {kCentre, kBox}) {
        std::vector<std::string> one = crop, merge = crop;
        one.insert(one.end(), {"-f", "-o", tmp / "one.ter", tmp / "5000"});
        merge.insert(merge.end(), {"-f", "--merge", "-o", tmp / "merged.ter"});
        merge.insert(merge.end(), sources.begin(), sources.end());
        const ts::CliRun a = ts::commandLine(one), b = ts::commandLine(merge);
        ASSERT_EQ(a.status, 0) << a.err;
        ASSERT_EQ(b.status, 0) << b.err;
        EXPECT_EQ(b.err, "");
        const ts::Window w = reportedWindow(a.out), v = reportedWindow(b.out);
        EXPECT_EQ(std::tie(w.row, w.column, w.rows, w.columns),
                  std::tie(v.row, v.column, v.rows, v.columns));
        EXPECT_TRUE(ts::readFile(tmp.path() / "one.ter") ==
                    ts::readFile(tmp.path() / "merged.ter"));
    }
    for (int i = 1; i < 4; ++i) ts::writeFile(tmp / (std::to_string(9000 + i) + "cel0.ddf"), "x");
    std::vector<std::string> inside = {
        "--centre",    "45.2710462032132,-93.5672754694296", "--extent", "0.1", "--merge", "-o",
        tmp / "nw.ter"};
    inside.insert(inside.end(), sources.begin(), sources.end());
    const ts::CliRun run = ts::commandLine(inside);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.find("9001"), std::string::npos) << run.out;
}

TEST(Crop, AnAreaOffTheGridIsRefusedInOneLine) {
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(ts::makeQuad(9, 9, ts::CellFormat::Bi16)));
    const ts::CliRun run =
        ts::commandLine({"--bbox", "-90,40,-89,41", "-o", tmp / "x.ter", tmp / "5000"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "marlwood: " + (tmp / "5000") +
                           ": the box -90,40,-89,41 does not touch the grid (UTM zone 15 "
                           "(EPSG:26715))\n");
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "x.ter"));
}

// kCentre and kBox's degrees on NAD83 and WGS 84, as cs2cs gives them with the NADCON grid: 4 m
// south and 19 m west of their NAD27 degrees, so that taken as NAD27 they fall in other cells.
const std::string kCentreWgs84 = "45.2691542239354,-93.5607385158739";
const std::string kBoxWgs84 =
    "--bbox=-93.5675134225255,45.2665668978613,-93.5559965276113,45.2710111334100";

TEST(Crop, DegreesOnAnotherDatumGiveTheSameWindow) {
    const struct {
        std::vector<std::string> crop;
        ts::Window window;  // row, column, rows, columns
    } cases[] = {
        {{"--degrees-on", "wgs84", "--centre", kCentreWgs84, "--extent", "0.27"}, {16, 26, 9, 9}},
        {{"--degrees-on", "nad83", "--centre", kCentreWgs84, "--extent", "0.27"}, {16, 26, 9, 9}},
        {{"--degrees-on", "nad27", kCentre[0], kCentre[1], "--extent", "0.27"}, {16, 26, 9, 9}},
        {{"--degrees-on=wgs84", kBoxWgs84}, {13, 12, 18, 31}},
        // The same WGS 84 degrees taken as the quad's own NAD27: a cell further west.
        {{"--centre", kCentreWgs84, "--extent", "0.27"}, {16, 25, 9, 9}},
    };
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000",
                     ts::buildModules(ts::makeQuad(41, 61, ts::CellFormat::Bi16, 30, "5000")));
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.crop));
        std::vector<std::string> arguments = c.crop;
        arguments.insert(arguments.end(), {"-f", "-o", tmp / "crop.ter", tmp / "5000"});
        const ts::CliRun run = ts::commandLine(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        const ts::Window w = reportedWindow(run.out);
        EXPECT_EQ(std::tie(w.row, w.column, w.rows, w.columns),
                  std::tie(c.window.row, c.window.column, c.window.rows, c.window.columns))
            << run.out;
    }
}

// marlwood's grids moved away: a crop on another datum is refused in one line naming the grid,
// and writes nothing.
TEST(Crop, ADatumGridNotFoundIsOneLine) {
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(ts::makeQuad(41, 61, ts::CellFormat::Bi16)));
    std::filesystem::create_directory(tmp.path() / "moved");
    ::setenv("MARLWOOD_PROJ_GRIDS", (tmp / "moved").c_str(), 1);
    const ts::CliRun run = ts::commandLine({"--degrees-on", "wgs84", "--centre", kCentreWgs84,
                                            "--extent", "1", "-o", tmp / "x.ter", tmp / "5000"});
    ::unsetenv("MARLWOOD_PROJ_GRIDS");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("marlwood: " + (tmp / "5000") + ": the datum grid us_noaa_conus.tif " +
                                "is not in " + (tmp / "moved") + " (PROJ would take",
                            0),
              0u)
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "x.ter"));
}

}  // namespace
}  // namespace marlwood
