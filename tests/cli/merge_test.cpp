// marlwood --merge on the command line, in-process: windows of one terrain merge to the very
// bytes of converting the whole, and sources that cannot be merged are refused with the odd one
// named and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "cli/batch.h"
#include "files.h"
#include "neighbours.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;

struct CliRun {
    int status;
    std::string out, err;
};

CliRun commandLine(const std::vector<std::string>& arguments) {
    std::ostringstream out, err;
    const int status = runCommandLine(arguments, out, err, false);
    return {status, out.str(), err.str()};
}

// 2 x 2 windows of `whole` (odd rows and columns) sharing one row and one column, transfers 9000
// (north-west), 9001, 9002 and 9003 (south-east).
std::vector<ts::Transfer> twoByTwo(const ts::Transfer& whole) {
    const int rows = (whole.rows + 1) / 2, columns = (whole.columns + 1) / 2;
    std::vector<ts::Transfer> windows;
    for (int i = 0; i < 4; ++i) {
        const ts::Window w{i / 2 * (rows - 1), i % 2 * (columns - 1), rows, columns};
        windows.push_back(ts::cutWindow(whole, w, std::to_string(9000 + i)));
    }
    return windows;
}

// The windows, given out of order, merge to the bytes (and the preview) of converting the whole
// terrain, stretched or at true scale with its voids filled; the report places each window.
TEST(Merge, WindowsGiveTheBytesOfTheWholeTerrain) {
    const ts::Transfer wholes[] = {ts::makeQuad(41, 61, ts::CellFormat::Bi16, 30, "5000"),
                                   ts::makeQuad(45, 37, ts::CellFormat::Bfp32, 10, "5000")};
    const std::vector<std::string> option_sets[] = {
        {}, {"-s", "-45"}, {"--true-scale", "--fill-voids", "--preview"}};
    for (const ts::Transfer& whole : wholes) {
        ts::TempDir tmp;
        ts::writeModules(tmp / "5000", ts::buildModules(whole));
        const std::vector<ts::Transfer> windows = twoByTwo(whole);
        for (const ts::Transfer& w : windows) ts::writeModules(tmp / w.file_id, buildModules(w));
        for (const std::vector<std::string>& options : option_sets) {
            SCOPED_TRACE(std::to_string(whole.spacing_m) + " m, " + std::to_string(options.size()) +
                         " options");
            std::vector<std::string> convert = options, merge = options;
            convert.insert(convert.end(), {"-f", "-o", tmp / "whole.ter", tmp / "5000"});
            merge.insert(merge.end(), {"-f", "--merge", "-o", tmp / "merged.ter", tmp / "9003",
                                       tmp / "9001", tmp / "9000", tmp / "9002"});
            ASSERT_EQ(commandLine(convert).status, 0);
            const CliRun run = commandLine(merge);
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err, "");
            const std::string whole_ter = ts::readFile(tmp.path() / "whole.ter");
            ASSERT_FALSE(whole_ter.empty());
            EXPECT_TRUE(ts::readFile(tmp.path() / "merged.ter") == whole_ter);
            EXPECT_TRUE(ts::readFile(tmp.path() / "merged.png") ==
                        ts::readFile(tmp.path() / "whole.png"));
            const bool preview = options.size() == 3;
            EXPECT_EQ(fs::exists(tmp.path() / "merged.png"), preview);
            for (std::size_t i = 0; i < windows.size(); ++i) {
                const ts::Transfer& w = windows[i];
                const int row = i / 2 * (w.rows - 1), column = i % 2 * (w.columns - 1);
                EXPECT_NE(
                    run.out.find(tmp / w.file_id + ": " + std::to_string(w.rows) + " x " +
                                 std::to_string(w.columns) + " at row " + std::to_string(row) +
                                 ", column " + std::to_string(column) + "\n"),
                    std::string::npos)
                    << run.out;
            }
            EXPECT_NE(run.out.find("merged: " + std::to_string(whole.rows) + " x " +
                                   std::to_string(whole.columns) + ", " +
                                   std::to_string(whole.spacing_m) + " m, "),
                      std::string::npos)
                << run.out;
        }
    }
}

// The north-east window made odd in one way: the merge is refused in one line naming it and the
// first source, and no file is written. Elevations in feet merge with metres at true scale.
// (Other zones and grids off the lattice are resampled: see tests/pipeline/merge_plan_test.cpp.)
TEST(Merge, SourcesThatDifferAreRefused) {
    struct Case {
        const char* name;
        ts::ModuleSet (*odd)(ts::Transfer);  // the odd window's modules
        std::string why;                     // after "SOURCE: "
        bool merges_at_true_scale;
    };
    const Case cases[] = {
        {"datum",
         [](ts::Transfer t) {
             t.datum = "WGE";
             return ts::buildModules(t);
         },
         "datum WGE differs from NAS of FIRST; marlwood merges sources on one datum, or NAD27 with NAD83", false},
        {"reference system",
         [](ts::Transfer t) {
             t.reference_system = "SPCS";
             return ts::buildModules(t);
         },
         "reference system SPCS differs from UTM of FIRST", false},
        {"posting",
         [](ts::Transfer t) {
             t.spacing_m = 10;
             return ts::buildModules(t);
         },
         "posting 10 m differs from 30 m of FIRST", false},
        {"feet",
         [](ts::Transfer t) {
             t.units = "FEET";
             return ts::buildModules(t);
         },
         "its elevations are in FEET, those of FIRST in METERS; --true-scale converts them to "
         "metres",
         true},
    };
    const std::vector<ts::Transfer> windows =
        twoByTwo(ts::makeQuad(41, 61, ts::CellFormat::Bi16, 30, "5000"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ts::TempDir tmp;
        for (const ts::Transfer& w : windows) {
            ts::writeModules(tmp / w.file_id, w.file_id == "9001" ? c.odd(w) : ts::buildModules(w));
        }
        const std::size_t files = tmp.entries();
        const std::vector<std::string> sources = {tmp / "9000", tmp / "9003", tmp / "9001",
                                                  tmp / "9002"};
        std::vector<std::string> arguments = {"--merge", "-o", tmp / "m.ter"};
        arguments.insert(arguments.end(), sources.begin(), sources.end());
        const CliRun run = commandLine(arguments);
        std::string why = c.why;
        why.replace(why.find("FIRST"), 5, sources[0]);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "marlwood: " + sources[2] + ": " + why + "\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(tmp.entries(), files);

        arguments.insert(arguments.begin(), "--true-scale");
        EXPECT_EQ(commandLine(arguments).status, c.merges_at_true_scale ? 0 : 1);
        EXPECT_EQ(fs::exists(tmp.path() / "m.ter"), c.merges_at_true_scale);
    }
}

}  // namespace
}  // namespace marlwood
