// The built program, as a user runs it: through a pipe, and on a terminal.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "expected_output.h"
#include "files.h"
#include "program.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"
#include "transcript.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

const ts::Transfer kQuad = ts::makeQuad(4, 5, ts::CellFormat::Bi16);

TEST(Binary, ScriptedThroughAPipe) {
    ts::TempDir dir;
    ts::writeModules(dir / "7018", ts::buildModules(kQuad));
    const ts::Extremes extremes = ts::validExtremes(ts::storedElevations(kQuad));
    // A wrong prefix first; keys are plain input characters.
    const ts::Outcome run =
        ts::runProgram(dir.path(), std::string("k") + (dir / "7019") + "\n" + (dir / "7018") +
                                       "\nx\n30\n" + (dir / "out.ter") + "\nk");
    EXPECT_EQ(run.status, 0);
    const std::string expected_start =
        std::string(kBanner) + kPrefixPrompt + "**Cannot open" + (dir / "7019") +
        "cel0.ddf**\nPlease try again.\n\n" + kPrefixPrompt +
        "Input the elevation scale factor (try 30)....  "
        "Please type a whole number from -32768 to 32767.\n"
        "Input the elevation scale factor (try 30)....  integer is:  30\n"
        "min_rows_cols is:  3\n\nDetected 30m file type.  \n\ncomputing.....\n"
        "data_elements is:  2\n\ncomputing.....\n\n\nmax_elevation is:  " +
        std::to_string(extremes.max_elevation) +
        "\nmin_elevation is:  " + std::to_string(extremes.min_elevation) + "\n\n";
    EXPECT_EQ(run.transcript.substr(0, expected_start.size()), expected_start);
    EXPECT_TRUE(ts::endsWith(run.transcript, std::string(kOutputPrompt) + kClosing))
        << run.transcript;
    EXPECT_EQ(ts::readFile(dir / "out.ter").size(), ts::terSize(4, 5));

    // Standard input closed at once: abandoned, exit status 1, no hang.
    EXPECT_EQ(ts::runProgram(dir.path(), "").status, 1);
}

// A file over the size limit (ulimit -f) is a write that failed, said as the dialogue says it,
// not a death by SIGXFSZ with half a file left.
TEST(Binary, AFileOverTheSizeLimitIsAFailedWrite) {
    ts::TempDir dir;
    ts::writeModules(dir / "7018", ts::buildModules(kQuad));
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 64;  // the .ter's header is longer; inherited by the program
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const ts::Outcome run = ts::runProgram(
        dir.path(), std::string("k") + (dir / "7018") + "\n30\n" + (dir / "out.ter") + "\nk");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.transcript.find("**Cannot write " + (dir / "out.ter") + ": the file is incomplete**"),
        std::string::npos)
        << run.transcript;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.ter"));
}

TEST(Binary, SingleKeysOnATerminal) {
    ts::TempDir dir;
    ts::writeModules(dir / "7018", ts::buildModules(kQuad));
    ts::Program terminal(dir.path(), ts::Program::Terminal);
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.waitFor("  Press any key to continue"));
    ASSERT_TRUE(terminal.type("q"));  // one key, no Enter
    ASSERT_TRUE(terminal.waitFor("for example: c:\\7018\r\n\r\n"));
    const std::string after_key = terminal.drain(200);
    EXPECT_EQ(after_key.find('q'), std::string::npos) << "the key was echoed";
    ASSERT_TRUE(terminal.type(dir / "7018" + "\n30\n" + (dir / "out.ter") + "\n"));
    ASSERT_TRUE(terminal.waitFor("Press any key to continue\r\n"));
    // The closing wait needs its own key: without one the program does not end.
    EXPECT_EQ(terminal.drain(300).find("Done"), std::string::npos);
    ASSERT_TRUE(terminal.type("z"));
    ASSERT_TRUE(terminal.waitFor("Done\r\n"));
    EXPECT_EQ(terminal.exitStatus(), 0);
    EXPECT_EQ(ts::readFile(dir / "out.ter").size(), ts::terSize(4, 5));
}

}  // namespace
}  // namespace marlwood
