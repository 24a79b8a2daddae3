#include "converter/dem_converter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "conversation.h"
#include "expected_output.h"
#include "files.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"
#include "transcript.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

// What a user should see and get for a transfer, worked out from the elevations the test put in.
struct Expected {
    std::string transcript;
    std::string file;
};

Expected expectedFor(const ts::Transfer& t, int height_scale) {
    const std::vector<std::int32_t> raw = ts::storedElevations(t);
    const ts::Extremes extremes = ts::validExtremes(raw);
    const ts::ExpectedColormap colormap(extremes.max_elevation, extremes.min_elevation);
    const bool ten = t.spacing_m == 10;
    std::string s = std::string(kBanner) + kPrefixPrompt +
                    "Input the elevation scale factor (try 30)....  integer is:  " +
                    std::to_string(height_scale) + "\n" +
                    "min_rows_cols is:  " + std::to_string(std::min(t.rows, t.columns) - 1) + "\n" +
                    (ten ? "\nDetected 10m file type.  \n" : "\nDetected 30m file type.  \n") +
                    "\ncomputing.....\n";
    if (ten) {
        s += "\nDecoding 10m BFP(32) elevations.\n\nThis will take a minute or two because of the "
             "large number\nof elevations in the file.\n\n";
    }
    if (t.layout == ts::Cel0Layout::RThenLeaderless) {
        const int bytes = (t.format == ts::CellFormat::Bi16 ? 2 : 4) * t.columns;
        s += "data_elements is:  " + std::to_string(bytes / 2 / 2) + "\n\ncomputing.....\n\n";
    }
    s += "\nmax_elevation is:  " + std::to_string(extremes.max_elevation) +
         "\nmin_elevation is:  " + std::to_string(extremes.min_elevation) + "\n\n";
    for (int k = 0; k < 8; ++k) s += ts::cornerLine(ts::kCornerNames[k], t.corners[k]);
    s += "\n";
    s += colormap.printed() + "\n" + kOutputPrompt + kClosing;

    std::string file = ts::expectedTerHeader(t.rows, t.columns, height_scale);
    for (int r = t.rows - 1; r >= 0; --r) {  // the file starts with the last record
        for (int c = 0; c < t.columns; ++c) {
            const std::int32_t h =
                colormap.height(raw[static_cast<std::size_t>(r * t.columns + c)]);
            file += {static_cast<char>(h & 0xFF), static_cast<char>((h >> 8) & 0xFF)};
        }
    }
    return {s, file + "EOF "};
}

// The quad with a void, a -1000 (no data too, whatever it would scale to) and a valid elevation
// below sea level in its middle row; the fill at its edges is the rest of the no data.
ts::Transfer terrain(int rows, int columns, ts::CellFormat format, ts::Cel0Layout layout,
                     int spacing) {
    ts::Transfer t = ts::makeQuad(rows, columns, format, spacing, "7018", layout);
    double* middle = &t.elevations[static_cast<std::size_t>(rows / 2 * columns)];
    middle[1] = ts::kVoidElevation;
    middle[2] = -1000;
    middle[3] = -12.75;  // BFP32 truncates it toward zero, BI16 holds -13
    return t;
}

TEST(DemConverter, WholeConversions) {
    const struct {
        const char* name;
        ts::Transfer transfer;
        int height_scale;
    } cases[] = {
        {"30 m BI16 D", terrain(13, 17, ts::CellFormat::Bi16, ts::Cel0Layout::AllD, 30), 30},
        {"10 m BFP32 R", terrain(9, 12, ts::CellFormat::Bfp32, ts::Cel0Layout::RThenLeaderless, 10),
         300},
        {"10 m BI16 R", terrain(11, 8, ts::CellFormat::Bi16, ts::Cel0Layout::RThenLeaderless, 10),
         -5},
    };
    for (const auto& c : cases) {
        ts::TempDir dir;
        const std::string prefix = dir / "7018";
        ts::writeModules(prefix, ts::buildModules(c.transfer));
        const std::string out = dir / "out.ter";
        const ts::Outcome run =
            ts::converse(ts::answers(prefix, out, std::to_string(c.height_scale)));
        const Expected expected = expectedFor(c.transfer, c.height_scale);
        EXPECT_EQ(run.transcript, expected.transcript) << c.name;
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(ts::readFile(out), expected.file) << c.name;
    }
}

class Abandoned : public ::testing::Test {
  protected:
    ts::TempDir dir_;
    std::string prefix_ = dir_ / "7018";
    std::string out_ = dir_ / "out.ter";
    ts::Transfer transfer_ =
        terrain(5, 6, ts::CellFormat::Bi16, ts::Cel0Layout::RThenLeaderless, 30);
};

TEST_F(Abandoned, EndOfInputAtEveryPrompt) {
    ts::writeModules(prefix_, ts::buildModules(transfer_));
    for (const std::string& input :
         {std::string(""), std::string("k"), "k" + prefix_ + "\n", "k" + prefix_ + "\n30\n",
          "k" + prefix_ + "\n30\n/nonexistent/x\n"}) {
        const ts::Outcome run = ts::converse(input);
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_TRUE(ts::endsWith(run.transcript, "\n" + std::string(kAbandoned) + kClosing))
            << input;
        EXPECT_FALSE(std::filesystem::exists(out_));
    }
}

TEST_F(Abandoned, GridSizesATerFileCannotHold) {
    for (const char* rows : {"65536", "-3", "9999999"}) {
        ts::ModuleSet modules = ts::buildModules(transfer_);
        std::string& ldef = modules.at("ldef.ddf");
        ldef.replace(267, 1, rows);  // the row count "5" becomes this
        ts::writeModules(prefix_, modules);
        const ts::Outcome run = ts::converse(ts::answers(prefix_, out_));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(
            run.transcript.find("**Conversion abandoned: " + prefix_ + "ldef.ddf gives a grid of " +
                                std::to_string(parseDecimal(rows)) +
                                " x 6; a .ter file holds 0 to 65535 rows and columns**\n"),
            std::string::npos)
            << run.transcript;
        EXPECT_EQ(run.transcript.find("Input the name of the output"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(out_));
    }
}

// A module that ends early is reported; the rows not read are void and the file still whole.
TEST_F(Abandoned, ShortCel0IsReportedAndTheRestIsVoid) {
    ts::ModuleSet modules = ts::buildModules(transfer_);
    std::string& cel0 = modules.at("cel0.ddf");
    cel0.resize(cel0.size() - (8 + 20 + 12 + 1) - 5);  // the last record and a bit
    ts::writeModules(prefix_, modules);
    const ts::Outcome run = ts::converse(ts::answers(prefix_, out_));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.transcript.find("**" + prefix_ +
                                  "cel0.ddf ended after 3 of 5 rows; the missing "
                                  "rows are void**\n"),
              std::string::npos)
        << run.transcript;
    const std::string file = ts::readFile(out_);
    ASSERT_EQ(file.size(), ts::terSize(5, 6));
    EXPECT_EQ(file.substr(48, 2 * 6), std::string(12, '\0'));      // row 4, now first, is void
    EXPECT_NE(file.substr(48 + 12, 2 * 4), std::string(8, '\0'));  // row 3 kept what it had
}

TEST_F(Abandoned, AWriteThatFailsIsNotDone) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    ts::writeModules(prefix_, ts::buildModules(transfer_));
    const ts::Outcome run = ts::converse(ts::answers(prefix_, "/dev/full"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.transcript.find("**Cannot write /dev/full: the file is incomplete**\n" +
                                  std::string(kClosing)),
              std::string::npos)
        << run.transcript;
}

}  // namespace
}  // namespace marlwood
