// Real USGS transfers, checked against GDAL's own SDTS and Terragen readers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>

#include "cli/batch.h"
#include "conversation.h"
#include "dialogue_text.h"
#include "oracle_support.h"
#include "quad_terrain.h"
#include "sdts/metadata_readers.h"
#include "sdts/module_reader.h"
#include "sdts_writer.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

constexpr char kDuluth[] = "7172-duluth-mn";

// GDAL's band values of the DULUTH transfer as whole numbers; every one is a BI16 value.
std::vector<std::int32_t> integerValues(const Raster& raster) {
    std::vector<std::int32_t> out;
    out.reserve(raster.values.size());
    for (double v : raster.values) {
        EXPECT_EQ(v, std::trunc(v));
        out.push_back(static_cast<std::int32_t>(v));
    }
    return out;
}

// Our readers against GDAL on DULUTH: every cell of the in-process decoder equals GDAL's value,
// voids and fill included (GDAL keeps -32767 as a value and reports -32766 only as NoData).
TEST(DuluthAgainstGdal, DecoderGivesGdalsValueInEveryCell) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    const fs::path dir = usgs / kDuluth;
    const Raster gdal = gdalRead(dir / "7172catd.ddf");
    ASSERT_EQ(gdal.type, "Int16");
    ASSERT_EQ(gdal.width, 323);
    ASSERT_EQ(gdal.height, 467);
    // North up: GDAL's line 0 is the first CEL0 record.
    for (int y = 1; y < gdal.height; ++y) ASSERT_LT(gdal.line_y[y], gdal.line_y[y - 1]);

    const Decoded ours = decodeWithOurReaders((dir / "7172").string());
    EXPECT_EQ(ours.value_type, kBi16);
    EXPECT_EQ(ours.grid_spacing, kSpacing30m);
    ASSERT_EQ(ours.rows, gdal.height);
    ASSERT_EQ(ours.columns, gdal.width);

    const std::vector<std::int32_t> expected = integerValues(gdal);
    int mismatches = 0;
    int no_data = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] <= -1000) ++no_data;
        if (ours.cells[i] != expected[i] && ++mismatches <= 10) {
            ADD_FAILURE() << "line " << i / 323 << " column " << i % 323 << ": ours "
                          << ours.cells[i] << ", GDAL " << expected[i];
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << expected.size() << " cells";
    // The quad is a trapezoid inside the grid: its corners hold fill.
    EXPECT_GT(no_data, 0);

    // The extremes over valid cells are GDAL's statistics (minimum 602, maximum 1472).
    const Extremes extremes = validExtremes(expected);
    EXPECT_EQ(extremes.min_elevation, 602);
    EXPECT_EQ(extremes.max_elevation, 1472);
    EXPECT_EQ(ours.state.min_elevation, extremes.min_elevation);
    EXPECT_EQ(ours.state.max_elevation, extremes.max_elevation);
}

// The built program on DULUTH end to end; GDAL then reads our .ter, and every height is our
// colormap of GDAL's SDTS value at the same line and column. Both GDAL rasters are north up,
// so this also proves the row order.
TEST(DuluthAgainstGdal, BinaryWritesTheColormapOfGdalsValues) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    const fs::path dir = usgs / kDuluth;
    const Raster sdts = gdalRead(dir / "7172catd.ddf");
    const std::vector<std::int32_t> raw = integerValues(sdts);
    const Extremes extremes = validExtremes(raw);
    const ExpectedColormap colormap(extremes.max_elevation, extremes.min_elevation);

    TempDir tmp;
    fs::create_directory_symlink(dir, tmp.path() / "d");
    const Outcome run = runProgram(tmp.path(), "kd/7172\n30\nduluth.ter\nk");
    EXPECT_EQ(run.status, 0) << run.transcript;
    EXPECT_NE(run.transcript.find("min_rows_cols is:  322\n"), std::string::npos);
    EXPECT_NE(run.transcript.find("Detected 30m file type.  \n"), std::string::npos);
    EXPECT_NE(run.transcript.find("data_elements is:  161\n"), std::string::npos);
    EXPECT_NE(run.transcript.find("\nmax_elevation is:  1472\nmin_elevation is:  602\n"),
              std::string::npos)
        << run.transcript;
    EXPECT_NE(run.transcript.find(colormap.printed()), std::string::npos)
        << "expected:\n"
        << colormap.printed() << "in:\n"
        << run.transcript;

    const fs::path ter = tmp.path() / "duluth.ter";
    const std::string bytes = readFile(ter);
    ASSERT_EQ(bytes.size(), terSize(467, 323));
    EXPECT_EQ(bytes.substr(0, 48), expectedTerHeader(467, 323, 30));
    EXPECT_EQ(bytes.substr(bytes.size() - 4), "EOF ");

    const Raster terrain = gdalRead(ter);  // GDAL refuses a wrong SIZE chunk
    ASSERT_EQ(terrain.type, "Int16");
    ASSERT_EQ(terrain.width, sdts.width);
    ASSERT_EQ(terrain.height, sdts.height);
    int mismatches = 0;
    for (int y = 0; y < sdts.height; ++y) {
        for (int x = 0; x < sdts.width; ++x) {
            const std::int32_t want = static_cast<std::int16_t>(
                colormap.height(raw[static_cast<std::size_t>(y) * 323 + x]) & 0xFFFF);
            if (terrain.at(y, x) != want && ++mismatches <= 10) {
                ADD_FAILURE() << "line " << y << " column " << x << ": .ter " << terrain.at(y, x)
                              << ", colormap of GDAL's " << raw[y * 323 + x] << " is " << want;
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << raw.size() << " cells";
}

// The metadata readers on both real transfers. The expected values are those written in the
// modules' text (corners as the nearest 32-bit float); LDEF agrees with GDAL's size above.
struct MetadataCase {
    const char* dir;
    const char* digits;
    ValueType value_type;
    GridSpacing grid_spacing;
    const char* spacing_line;
    std::int32_t rows;
    std::int32_t columns;
    float corners[8];  // sw x, sw y, nw x, nw y, ne x, ne y, se x, se y
};

const MetadataCase kMetadataCases[] = {
    {"3814-black-forest-co",
     "3814",
     kBfp32,
     kSpacing10m,
     "\nDetected 10m file type.  \n",
     1391,
     1087,
     {521647.95280700f, 4316806.29002100f, 521609.81097300f, 4330677.85092000f, 532414.74295400f,
      4330715.03809800f, 532471.95630500f, 4316843.44283100f}},
    {"7172-duluth-mn",
     "7172",
     kBi16,
     kSpacing30m,
     "\nDetected 30m file type.  \n",
     467,
     323,
     {566833.98810900f, 5177536.41509200f, 566679.31128100f, 5191426.59260600f, 576204.86030100f,
      5191540.36016900f, 576381.63763300f, 5177650.21333300f}},
};

void PrintTo(const MetadataCase& c, std::ostream* os) {
    *os << c.dir;
}

class RealMetadata : public ::testing::TestWithParam<MetadataCase> {};

TEST_P(RealMetadata, ReadersFindWhatTheModulesSay) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const MetadataCase& c = GetParam();
    const std::string prefix = (usgs / c.dir / c.digits).string();
    ModuleReader in;

    testsupport::DialogueText console;
    EXPECT_EQ(readValueType(in, prefix + "ddsh.ddf", console), c.value_type);
    EXPECT_EQ(console.str(), "");

    console.str("");
    const GridSize size = readGridSize(in, prefix + "ldef.ddf", console);
    EXPECT_EQ(size.rows, c.rows);
    EXPECT_EQ(size.columns, c.columns);
    EXPECT_EQ(size.min_rows_cols, std::min(c.rows, c.columns) - 1);
    EXPECT_EQ(console.str(), "min_rows_cols is:  " + std::to_string(size.min_rows_cols) + "\n");

    console.str("");
    EXPECT_EQ(readGridSpacing(in, prefix + "iref.ddf", console), c.grid_spacing);
    EXPECT_EQ(console.str(), c.spacing_line);

    console.str("");
    const Corners corners = readCorners(in, prefix + "spdm.ddf", console);
    const float got[8] = {corners.sw_cornerx, corners.sw_cornery, corners.nw_cornerx,
                          corners.nw_cornery, corners.ne_cornerx, corners.ne_cornery,
                          corners.se_cornerx, corners.se_cornery};
    std::string lines;
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(got[k], c.corners[k]) << kCornerNames[k];
        lines += cornerLine(kCornerNames[k], c.corners[k]);
    }
    EXPECT_EQ(console.str(), lines);
    EXPECT_FALSE(in.isOpen());
}

INSTANTIATE_TEST_SUITE_P(UsgsTransfers, RealMetadata, ::testing::ValuesIn(kMetadataCases),
                         [](const auto& info) { return std::string(info.param.digits); });

}  // namespace
}  // namespace marlwood::oracle

namespace marlwood::oracle {
namespace {

// DULUTH as a module prefix, as its directory and as a .tar.gz made by tar: the dialogue's bytes.
TEST(DuluthFromTheCommandLine, EverySourceKindWritesTheDialoguesBytes) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const fs::path dir = usgs / kDuluth;
    TempDir tmp;
    fs::create_directory_symlink(dir, tmp.path() / "d");
    const Outcome dialogue = converse(answers(tmp / "d/7172", tmp / "dialogue.ter", "75"));
    ASSERT_EQ(dialogue.status, 0) << dialogue.transcript;
    const std::string expected = readFile(tmp.path() / "dialogue.ter");
    const std::string archive = tmp / "1107834.DEM.SDTS.TAR.GZ";
    ASSERT_EQ(std::system(("tar -czf " + archive + " -C " + dir.string() + " .").c_str()), 0);

    for (const std::string& source : {tmp / "d/7172", tmp / "d", archive}) {
        SCOPED_TRACE(source);
        const CliRun run = commandLine({"-f", "-s", "75", "-o", tmp / "cli.ter", source});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, source + ": 467 x 323, 30 m, BI16, elevations 602..1472, 3635 void -> " +
                               (tmp / "cli.ter") + "\n");
        EXPECT_EQ(readFile(tmp.path() / "cli.ter"), expected);
    }
}

// --common-range over DULUTH and a synthetic neighbour: both files take one colormap, made from
// the union of the valid elevations GDAL reads in the two transfers.
TEST(DuluthFromTheCommandLine, CommonRangeGivesNeighboursOneColormap) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    fs::create_directory(tmp.path() / "n");
    // Lower and higher than DULUTH's 602..1472, so the union is neither transfer's own range.
    Transfer neighbour = makeQuad(40, 30, CellFormat::Bi16, 30, "7173");
    for (double& v : neighbour.elevations) v = v > -1000 ? v * 1.2 : v;
    writeModules(tmp / "n/7173", buildModules(neighbour));

    const std::string duluth = (usgs / kDuluth / "7172").string();
    const CliRun run = commandLine(
        {"--common-range", "-j", "2", "-d", tmp.path().string(), duluth, tmp / "n/7173"});
    ASSERT_EQ(run.status, 0) << run.err;

    const Raster sdts[] = {gdalRead(usgs / kDuluth / "7172catd.ddf"),
                           gdalRead(tmp.path() / "n/7173catd.ddf")};
    const std::vector<std::int32_t> raw[] = {integerValues(sdts[0]), integerValues(sdts[1])};
    const Extremes own[] = {validExtremes(raw[0]), validExtremes(raw[1])};
    ASSERT_LT(own[1].min_elevation, own[0].min_elevation);
    ASSERT_GT(own[1].max_elevation, own[0].max_elevation);
    std::vector<std::int32_t> both = raw[0];
    both.insert(both.end(), raw[1].begin(), raw[1].end());
    const Extremes range = validExtremes(both);
    const ExpectedColormap colormap(range.max_elevation, range.min_elevation);

    const fs::path outputs[] = {tmp.path() / "7172.ter", tmp.path() / "7173.ter"};
    for (int k = 0; k < 2; ++k) {
        const Raster terrain = gdalRead(outputs[k]);
        ASSERT_EQ(terrain.width, sdts[k].width);
        ASSERT_EQ(terrain.height, sdts[k].height);
        int mismatches = 0;
        for (std::size_t i = 0; i < raw[k].size(); ++i) {
            const auto want = static_cast<std::int16_t>(colormap.height(raw[k][i]) & 0xFFFF);
            if (terrain.values[i] != want && ++mismatches <= 5) {
                ADD_FAILURE() << outputs[k] << " cell " << i << ": " << terrain.values[i]
                              << ", common colormap of GDAL's " << raw[k][i] << " is " << want;
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

}  // namespace
}  // namespace marlwood::oracle
