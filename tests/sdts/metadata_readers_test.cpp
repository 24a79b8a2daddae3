#include "sdts/metadata_readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "dialogue_text.h"
#include "files.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"
#include "test_data.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

class MetadataReaders : public ::testing::Test {
  protected:
    ts::TempDir dir_;
    ModuleReader reader_;
    ts::DialogueText console_;

    // The module `suffix` of a default transfer, edited, written to a file; returns its path.
    template <typename Edit>
    std::string module(const std::string& suffix, Edit edit, ts::Transfer t = defaultTransfer()) {
        std::string bytes = ts::buildModules(t).at(suffix);
        edit(bytes);
        ts::writeFile(dir_ / suffix, bytes);
        return dir_ / suffix;
    }
    std::string module(const std::string& suffix, ts::Transfer t = defaultTransfer()) {
        return module(
            suffix, [](std::string&) {}, t);
    }
    static ts::Transfer defaultTransfer() { return ts::makeQuad(2, 3, ts::CellFormat::Bi16); }
    static std::string::size_type firstDataRecord(const std::string& bytes) {
        return static_cast<std::string::size_type>(parseDecimal(bytes.substr(0, 5)));
    }
};

TEST_F(MetadataReaders, ValueTypeFromDdsh) {
    ts::Transfer t = defaultTransfer();
    EXPECT_EQ(readValueType(reader_, module("ddsh.ddf", t), console_), 'I');
    t.format = ts::CellFormat::Bfp32;
    EXPECT_EQ(readValueType(reader_, module("ddsh.ddf", t), console_), 'F');
    EXPECT_EQ(console_.str(), "");
    EXPECT_FALSE(reader_.isOpen());

    // A wrong descriptive leader is reported once; the walk goes on.
    const auto path = module("ddsh.ddf", [](std::string& b) { b[6] = 'X'; });
    EXPECT_EQ(readValueType(reader_, path, console_), 'I');
    EXPECT_EQ(console_.str(), "Not a legitimate 7.5' spdm file or serious problems\n");
}

TEST_F(MetadataReaders, GridSizeFromLdef) {
    const struct {
        int rows, columns, min_rows_cols;
    } cases[] = {{401, 381, 380}, {381, 401, 380}, {50, 50, 49}, {0, 7, -1}};
    for (const auto& c : cases) {
        const ts::Transfer t =
            ts::makeQuad(c.rows == 0 ? 1 : c.rows, c.columns, ts::CellFormat::Bi16);
        ts::DialogueText console;
        const auto path = module(
            "ldef.ddf",
            [&](std::string& b) {
                if (c.rows == 0) b[267] = '0';  // the writer makes no empty grids
            },
            t);
        const GridSize size = readGridSize(reader_, path, console);
        EXPECT_EQ(size.rows, c.rows);
        EXPECT_EQ(size.columns, c.columns);
        EXPECT_EQ(size.min_rows_cols, c.min_rows_cols);
        EXPECT_EQ(console.str(), "min_rows_cols is:  " + std::to_string(c.min_rows_cols) + "\n");
    }
}

TEST_F(MetadataReaders, SpacingFromIref) {
    ts::Transfer t = defaultTransfer();
    t.spacing_m = 10;
    EXPECT_EQ(readGridSpacing(reader_, module("iref.ddf", t), console_), kSpacing10m);
    EXPECT_EQ(console_.str(), "\nDetected 10m file type.  \n");
    console_.str("");
    t.spacing_m = 30;
    EXPECT_EQ(readGridSpacing(reader_, module("iref.ddf", t), console_), kSpacing30m);
    EXPECT_EQ(console_.str(), "\nDetected 30m file type.  \n");
    console_.str("");
    const auto path = module("iref.ddf", [](std::string& b) {
        b[b.find("30.00000000")] = '2';
        b[firstDataRecord(b) + 6] = 'R';  // and a wrong data leader
    });
    const GridSpacing spacing = readGridSpacing(reader_, path, console_);
    EXPECT_EQ(spacing, kNoSpacing);
    EXPECT_EQ(console_.str(),
              "Not a legitimate 7.5' iref file or serious problems\nerror reading grid spacing\n");
}

TEST_F(MetadataReaders, CornersFromSpdmAsNearestFloats) {
    ts::Transfer t = defaultTransfer();
    t.corners = {4650012.37, -1.5, 0.1, 2e3, 123456.789, 5191540.36016900, 7, 0};
    readCorners(reader_, module("spdm.ddf", t), console_);
    EXPECT_EQ(console_.str(),
              "sw_cornerx is:  4650012.500000\n"
              "sw_cornery is:  -1.500000\n"
              "nw_cornerx is:  0.100000\n"
              "nw_cornery is:  2000.000000\n"
              "ne_cornerx is:  123456.789062\n"
              "ne_cornery is:  5191540.500000\n"
              "se_cornerx is:  7.000000\n"
              "se_cornery is:  0.000000\n");
}

TEST(ParseCoordinate, DecimalTextOnly) {
    const struct {
        const char* text;
        float value;
    } cases[] = {
        {"", 0.0f},      {"  12.5", 12.5f}, {"+3", 3.0f},    {"-0.25", -0.25f}, {"1e3", 1000.0f},
        {"4.5.6", 4.5f}, {".5", 0.5f},      {"inf", 0.0f},   {"nan", 0.0f},     {"0x10", 0.0f},
        {"--1", 0.0f},   {"12abc", 12.0f},  {"1E-2", 0.01f},
    };
    for (const auto& c : cases) EXPECT_EQ(parseCoordinate(c.text), c.value) << c.text;
}

// Odd SPDM directories: the last entry's position says where the coordinates start.
TEST_F(MetadataReaders, SpdmPositionAndEmptyCoordinates) {
    // An empty first coordinate reads as 0 and the rest follow after its terminator.
    auto path = module("spdm.ddf", [](std::string& b) {
        const auto start = b.rfind("RING");
        const auto coordinates = b.find('\x1e', start) + 1;
        b.erase(coordinates, b.find('\x1f', coordinates) - coordinates);
    });
    readCorners(reader_, path, console_);
    EXPECT_EQ(console_.str().substr(0, 56),
              "sw_cornerx is:  0.000000\nsw_cornery is:  5003188.000000\n");

    // A 1,000-character coordinate: its first 18 characters count, the next one reads on.
    console_.str("");
    path = module("spdm.ddf", [](std::string& b) {
        const auto at = b.find("455212.37");
        b.insert(at, std::string(1000, '1'));
    });
    readCorners(reader_, path, console_);
    EXPECT_EQ(console_.str().substr(0, 42), "sw_cornerx is:  111111113185165312.000000\n");
}

TEST_F(MetadataReaders, MissingAndShortModulesAreReported) {
    const std::string missing = dir_ / "none.ddf";
    EXPECT_EQ(readValueType(reader_, missing, console_), 0);
    EXPECT_EQ(readGridSpacing(reader_, missing, console_), kNoSpacing);
    const GridSize size = readGridSize(reader_, missing, console_);
    EXPECT_EQ(size.rows, 0);
    EXPECT_EQ(console_.str(), "**Cannot read " + missing + ": it does not open**\n" +
                                  "**Cannot read " + missing + ": it does not open**\n" +
                                  "**Cannot read " + missing + ": it does not open**\n" +
                                  "min_rows_cols is:  -1\n");
    console_.str("");
    const auto path = module("ldef.ddf", [](std::string& b) { b.resize(269); });
    const GridSize short_size = readGridSize(reader_, path, console_);
    EXPECT_EQ(short_size.rows, 2);  // the module ends right after the row count
    EXPECT_EQ(short_size.columns, 0);
    EXPECT_EQ(console_.str(), "**" + path + " ends too soon; what was not found is taken as 0**\n" +
                                  "min_rows_cols is:  -1\n");
}

TEST(MetadataReadersOnUsgsData, DuluthAndBlackForest) {
    MARLWOOD_REQUIRE_USGS_DATA(data);
    ModuleReader reader;
    ts::DialogueText console;
    const std::string duluth = (data / "7172-duluth-mn" / "7172").string();
    EXPECT_EQ(readValueType(reader, duluth + "ddsh.ddf", console), 'I');
    const GridSize size = readGridSize(reader, duluth + "ldef.ddf", console);
    EXPECT_EQ(size.rows, 467);
    EXPECT_EQ(size.columns, 323);
    EXPECT_EQ(readGridSpacing(reader, duluth + "iref.ddf", console), kSpacing30m);
    const Corners c = readCorners(reader, duluth + "spdm.ddf", console);
    EXPECT_EQ(c.sw_cornerx, 566833.98810900f);
    EXPECT_EQ(c.se_cornery, 5177650.21333300f);
    EXPECT_EQ(console.str(),
              "min_rows_cols is:  322\n\nDetected 30m file type.  \n"
              "sw_cornerx is:  566834.000000\nsw_cornery is:  5177536.500000\n"
              "nw_cornerx is:  566679.312500\nnw_cornery is:  5191426.500000\n"
              "ne_cornerx is:  576204.875000\nne_cornery is:  5191540.500000\n"
              "se_cornerx is:  576381.625000\nse_cornery is:  5177650.000000\n");

    console.str("");
    const std::string forest = (data / "3814-black-forest-co" / "3814").string();
    EXPECT_EQ(readValueType(reader, forest + "ddsh.ddf", console), 'F');
    const GridSize forest_size = readGridSize(reader, forest + "ldef.ddf", console);
    EXPECT_EQ(forest_size.rows, 1391);
    EXPECT_EQ(forest_size.columns, 1087);
    EXPECT_EQ(readGridSpacing(reader, forest + "iref.ddf", console), kSpacing10m);
    EXPECT_EQ(console.str(), "min_rows_cols is:  1086\n\nDetected 10m file type.  \n");
}

}  // namespace
}  // namespace marlwood
