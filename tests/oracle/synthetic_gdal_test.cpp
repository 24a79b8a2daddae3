// Synthetic transfers from the test-transfer writer, read by GDAL and by us. We have no real
// BFP32 elevation module, so this is the independent check of that path: GDAL decodes the
// floats with its own reader, and our stored elevation must be GDAL's value truncated toward
// zero, kept to its low 16 bits.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "oracle_support.h"
#include "quad_terrain.h"
#include "sdts/metadata_readers.h"
#include "sdts_writer.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

struct SyntheticCase {
    const char* name;
    CellFormat format;
    Cel0Layout layout;
    int spacing_m;
    int rows;
    int columns;
};

double floatBits(std::uint32_t bits) {
    return static_cast<double>(std::bit_cast<float>(bits));
}

// Values at the edges of what the decoder must get right. Integers for BI16; for BFP32 also
// fractions (truncated toward zero, not rounded), values beyond 16 bits (only the low 16 bits
// remain: 40000 becomes -25536, a void; 66036 becomes 500) and values whose bytes are the ISO 8211
// terminators.
std::vector<double> edgeCaseValues(CellFormat format) {
    if (format == CellFormat::Bi16) {
        return {kVoidElevation,   kFillElevation,   -1001, -1000, -999, -12, 0, 1,
                7710 /* 1E 1E */, 7967 /* 1F 1F */, 1999};
    }
    return {kVoidElevation,
            kFillElevation,
            -1000.5,  // -1000: void
            -1000.0,
            -999.75,  // -999: valid
            -2.5,
            -0.75,
            0.99,
            123.75,
            1234.1,  // 1234.0999755859375 as a float
            2000.0,
            40000.0,
            66036.0,
            floatBits(0x451E1E1Eu),
            floatBits(0x441F1F1Fu),
            1.0e-30};
}

// The quad with the edge-case values along its second row and its second-to-last row.
Transfer terrain(const SyntheticCase& c) {
    Transfer t = makeQuad(c.rows, c.columns, c.format, c.spacing_m, "7018", c.layout);
    const std::vector<double> edge_cases = edgeCaseValues(c.format);
    for (int r : {1, c.rows - 2}) {
        for (std::size_t k = 0;
             k < edge_cases.size() && k + 1 < static_cast<std::size_t>(c.columns); ++k) {
            t.elevations[static_cast<std::size_t>(r) * c.columns + k + 1] = edge_cases[k];
        }
    }
    return t;
}

// What the writer was asked to store, as GDAL must read it back.
double asStored(CellFormat format, double elevation) {
    return format == CellFormat::Bi16 ? static_cast<double>(std::lround(elevation))
                                      : static_cast<double>(static_cast<float>(elevation));
}

const SyntheticCase kCases[] = {
    {"Bi16_D_30m", CellFormat::Bi16, Cel0Layout::AllD, 30, 23, 31},
    {"Bi16_D_widest", CellFormat::Bi16, Cel0Layout::AllD, 30, 12, 499},
    {"Bi16_RLeaderless_30m", CellFormat::Bi16, Cel0Layout::RThenLeaderless, 30, 150, 121},
    {"Bi16_RLeaderless_10m", CellFormat::Bi16, Cel0Layout::RThenLeaderless, 10, 41, 37},
    {"Bfp32_D_10m", CellFormat::Bfp32, Cel0Layout::AllD, 10, 19, 29},
    {"Bfp32_D_widest", CellFormat::Bfp32, Cel0Layout::AllD, 10, 9, 249},
    {"Bfp32_RLeaderless_10m", CellFormat::Bfp32, Cel0Layout::RThenLeaderless, 10, 47, 33},
    // As wide as BLACK FOREST: the 'R' directory has four-digit field lengths.
    {"Bfp32_RLeaderless_1087", CellFormat::Bfp32, Cel0Layout::RThenLeaderless, 10, 24, 1087},
};

void PrintTo(const SyntheticCase& c, std::ostream* os) {
    *os << c.name;
}

class SyntheticAgainstGdal : public ::testing::TestWithParam<SyntheticCase> {};

TEST_P(SyntheticAgainstGdal, DecoderAndTerFileAgreeWithGdal) {
    MARLWOOD_REQUIRE_GDAL();
    const SyntheticCase& c = GetParam();
    const Transfer t = terrain(c);
    TempDir tmp;
    writeModules(tmp / t.file_id, buildModules(t));

    // GDAL reads back what the writer was asked to store, north up.
    const Raster sdts = gdalRead(tmp.path() / (t.file_id + "catd.ddf"));
    ASSERT_EQ(sdts.type, c.format == CellFormat::Bi16 ? "Int16" : "Float32");
    ASSERT_EQ(sdts.width, c.columns);
    ASSERT_EQ(sdts.height, c.rows);
    for (std::size_t i = 0; i < sdts.values.size(); ++i) {
        ASSERT_EQ(sdts.values[i], asStored(c.format, t.elevations[i])) << "cell " << i;
    }

    // Our decoder, in-process, cell for cell.
    const Decoded ours = decodeWithOurReaders((tmp.path() / t.file_id).string());
    EXPECT_EQ(ours.value_type, c.format == CellFormat::Bi16 ? kBi16 : kBfp32);
    EXPECT_EQ(ours.grid_spacing, c.spacing_m == 10 ? kSpacing10m : kSpacing30m);
    ASSERT_EQ(ours.rows, c.rows);
    ASSERT_EQ(ours.columns, c.columns);
    std::vector<std::int32_t> raw;
    raw.reserve(sdts.values.size());
    for (double v : sdts.values) raw.push_back(storedElevation(c.format, v));
    int mismatches = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (ours.cells[i] != raw[i] && ++mismatches <= 10) {
            ADD_FAILURE() << "line " << i / c.columns << " column " << i % c.columns << ": ours "
                          << ours.cells[i] << ", from GDAL's " << sdts.values[i] << " " << raw[i];
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << raw.size() << " cells";
    const Extremes extremes = validExtremes(raw);
    EXPECT_EQ(ours.state.max_elevation, extremes.max_elevation);
    EXPECT_EQ(ours.state.min_elevation, extremes.min_elevation);

    // The built program end to end, and GDAL reading the .ter file it wrote.
    const Outcome run = runProgram(tmp.path(), "k./" + t.file_id + "\n30\nout.ter\nk");
    EXPECT_EQ(run.status, 0) << run.transcript;
    EXPECT_NE(run.transcript.find("\nmax_elevation is:  " + std::to_string(extremes.max_elevation) +
                                  "\nmin_elevation is:  " + std::to_string(extremes.min_elevation) +
                                  "\n"),
              std::string::npos)
        << run.transcript;
    const ExpectedColormap colormap(extremes.max_elevation, extremes.min_elevation);
    EXPECT_NE(run.transcript.find(colormap.printed()), std::string::npos)
        << "expected:\n"
        << colormap.printed() << "in:\n"
        << run.transcript;

    const fs::path ter = tmp.path() / "out.ter";
    const std::string bytes = readFile(ter);
    ASSERT_EQ(bytes.size(), terSize(c.rows, c.columns));
    EXPECT_EQ(bytes.substr(0, 48), expectedTerHeader(c.rows, c.columns, 30));
    const Raster terrain_read = gdalRead(ter);
    ASSERT_EQ(terrain_read.width, c.columns);
    ASSERT_EQ(terrain_read.height, c.rows);
    mismatches = 0;
    for (int y = 0; y < c.rows; ++y) {
        for (int x = 0; x < c.columns; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * c.columns + x;
            const auto want = static_cast<std::int16_t>(colormap.height(raw[i]) & 0xFFFF);
            // GDAL's line y is our file's row rows - 1 - y: Terragen stores the south row first.
            const std::size_t at = 48 + 2 * (static_cast<std::size_t>(c.rows - 1 - y) * c.columns +
                                             static_cast<std::size_t>(x));
            const auto in_file =
                static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                          (static_cast<std::uint8_t>(bytes[at + 1]) << 8));
            if ((terrain_read.at(y, x) != want || in_file != want) && ++mismatches <= 10) {
                ADD_FAILURE() << "line " << y << " column " << x << ": GDAL reads "
                              << terrain_read.at(y, x) << ", the file holds " << in_file
                              << ", colormap of " << raw[i] << " is " << want;
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << raw.size() << " cells";
}

INSTANTIATE_TEST_SUITE_P(WriterTransfers, SyntheticAgainstGdal, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marlwood::oracle
