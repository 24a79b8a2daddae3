#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "cli/batch.h"
#include "conversation.h"
#include "files.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "source/archive_maker.h"
#include "source/transfer_source.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;

// What the dialogue writes for the transfer at `prefix` with this height scale.
std::string dialogueBytes(const ts::TempDir& tmp, const std::string& prefix,
                          const std::string& scale) {
    const std::string ter = tmp / "dialogue.ter";
    const ts::Outcome outcome = ts::converse(ts::answers(prefix, ter, scale));
    EXPECT_EQ(outcome.status, 0) << outcome.transcript;
    return ts::readFile(ter);
}

// The same modules as a module prefix, a directory and a .tar.gz archive give the dialogue's
// bytes, whatever the case of the module names.
TEST(CommandLine, EverySourceKindWritesTheDialoguesBytes) {
    struct Case {
        ts::Transfer transfer;
        bool upper_case;
        const char* scale;
    };
    const Case cases[] = {
        {ts::makeQuad(20, 17, ts::CellFormat::Bi16, 30, "4101"), false, "30"},
        {ts::makeQuad(24, 19, ts::CellFormat::Bfp32, 10, "7018"), true, "-45"},
        {ts::makeQuad(9, 12, ts::CellFormat::Bi16, 30, "1234", ts::Cel0Layout::AllD), false, "300"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.transfer.file_id);
        ts::TempDir tmp;
        fs::create_directories(tmp.path() / "dir" / "out");
        const std::string prefix = tmp / ("dir/" + c.transfer.file_id);
        const ts::ModuleSet modules = ts::buildModules(c.transfer);
        ts::writeModules(prefix, modules, c.upper_case);
        std::vector<ts::TarMember> members;
        for (const auto& [suffix, bytes] : modules) {
            members.push_back({"1107834/" + c.transfer.file_id + suffix, bytes});
        }
        ts::writeFile(tmp.path() / "1107834.DEM.SDTS.TAR.GZ", ts::gzip(ts::tarArchive(members)));
        const std::string expected = dialogueBytes(tmp, prefix, c.scale);
        ASSERT_FALSE(expected.empty());

        const ts::CliRun run = ts::commandLine({"-s", c.scale, "-d", tmp / "dir/out", prefix,
                                                tmp / "1107834.DEM.SDTS.TAR.GZ", "-j", "2"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(ts::count(run.out, "\n"), 2u) << run.out;
        EXPECT_EQ(ts::readFile(tmp.path() / "dir/out" / (c.transfer.file_id + ".ter")), expected);
        EXPECT_EQ(ts::readFile(tmp.path() / "dir/out/1107834.ter"), expected);
        // The directory would be named after the same four digits as the prefix: it goes to -o.
        EXPECT_EQ(ts::commandLine({"-s", c.scale, "-o", tmp / "d.ter", tmp / "dir"}).status, 0);
        EXPECT_EQ(ts::readFile(tmp.path() / "d.ter"), expected);
        EXPECT_NE(run.out.find(prefix + ": " + std::to_string(c.transfer.rows) + " x " +
                               std::to_string(c.transfer.columns) + ", "),
                  std::string::npos)
            << run.out;
    }
}

// A source that fails is named on standard error and leaves no file; the others still convert
// and the status says 1. A damaged metadata module is refused with a line naming it; SPDM, which
// a conversion does not need, may be damaged and the bytes are the dialogue's.
TEST(CommandLine, ProblemsAreNamedAndTheRestConverts) {
    ts::TempDir tmp;
    const ts::Transfer quad = ts::makeQuad(12, 10, ts::CellFormat::Bi16, 30, "5555");
    ts::ModuleSet modules = ts::buildModules(quad);
    ts::writeModules(tmp / "good", modules);
    modules["spdm.ddf"].resize(40);  // cut inside its descriptive record
    ts::writeModules(tmp / "cut", modules);
    modules = ts::buildModules(quad);
    modules["ldef.ddf"].resize(300);
    ts::writeModules(tmp / "broken", modules);
    ts::writeFile(tmp.path() / "5555.ter", "keep me");  // what the directory would write
    fs::create_directory(tmp.path() / "taken");
    ts::writeModules(tmp / "taken/5555", ts::buildModules(quad));
    const std::string cut_dialogue = dialogueBytes(tmp, tmp / "cut", "30");

    const ts::CliRun run =
        ts::commandLine({"-d", tmp.path().string(), tmp / "good", tmp / "missing", tmp / "cut",
                         tmp / "taken", tmp / "broken"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fs::exists(tmp.path() / "good.ter"));
    EXPECT_FALSE(fs::exists(tmp.path() / "missing.ter"));
    EXPECT_EQ(ts::readFile(tmp.path() / "cut.ter"), cut_dialogue);
    EXPECT_EQ(ts::readFile(tmp.path() / "5555.ter"), "keep me");
    EXPECT_NE(run.err.find("marlwood: " + (tmp / "missing") + ": no module"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find(tmp / "cut"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("marlwood: " + (tmp / "broken") + ": LDEF module " +
                           (tmp / "brokenldef.ddf") + ": "),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(tmp.path() / "broken.ter"));
    EXPECT_NE(run.err.find("5555.ter exists; -f replaces it"), std::string::npos) << run.err;
    EXPECT_EQ(ts::count(run.out, "\n"), 2u) << run.out;  // good and cut
    for (const auto& entry : fs::directory_iterator(tmp.path())) {
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
    }
}

// The options that change the file: the report says what was filled and what scale was chosen,
// and the picture stands beside the terrain.
TEST(CommandLine, TrueScaleFillAndPreview) {
    ts::TempDir tmp;
    ts::writeModules(tmp / "q", ts::buildModules(ts::makeQuad(20, 17, ts::CellFormat::Bfp32, 10)));
    const ts::CliRun run = ts::commandLine(
        {"--true-scale", "--fill-voids", "--preview", "-o", tmp / "area.ter", tmp / "q"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto voids = run.out.find(" void (");
    ASSERT_NE(voids, std::string::npos) << run.out;
    const auto count_start = run.out.rfind(' ', voids - 1) + 1;
    EXPECT_EQ(run.out.substr(count_start, voids - count_start) + " filled",
              run.out.substr(voids + 7, run.out.find(')', voids) - voids - 7))
        << run.out;
    EXPECT_NE(run.out.find("(true scale, steps of "), std::string::npos) << run.out;
    EXPECT_EQ(ts::readFile(tmp.path() / "area.ter").substr(40, 4), "SCAL");
    EXPECT_EQ(ts::readFile(tmp.path() / "area.png").substr(1, 3), "PNG");
}

TEST(CommandLine, UsageHelpAndVersion) {
    const ts::CliRun usage = ts::commandLine({"-s", "40000", "x"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.err,
              "marlwood: the height scale is a whole number from -32768 to 32767, not '40000'\n"
              "Try 'marlwood --help'.\n");
    const ts::CliRun help = ts::commandLine({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--common-range"), std::string::npos);
    EXPECT_EQ(ts::commandLine({"--version"}).out.rfind("marlwood ", 0), 0u);
    EXPECT_EQ(ts::commandLine({"-d", "/nonexistent/dir", "x"}).status, 1);
}

// What a run prints and refuses, by its options: each case names its sources (module prefixes
// under one directory, each a quad of its own elevations), the options and what it must show.
TEST(CommandLine, WhatRunsPrintAndRefuse) {
    ts::TempDir tmp;
    const auto quad = [&](const std::string& name, int lowest, const char* units = "METERS") {
        ts::Transfer t = ts::makeQuad(8, 7, ts::CellFormat::Bi16, 30, "5555");
        for (auto& e : t.elevations) e = e > -1000 ? lowest + static_cast<int>(e) % 100 : e;
        t.units = units;
        fs::create_directories(fs::path(tmp / name).parent_path());
        ts::writeModules(tmp / name, ts::buildModules(t));
        return tmp / name;
    };
    const std::string low = quad("low", 100), high = quad("high", 900);
    const std::string a = quad("a/5555", 300), b = quad("b/5555", 400);
    const std::string furlongs = quad("furlongs", 100, "FURLONGS");
    // An elevation no 16-bit height holds: only a .ter file's true scale cannot take it.
    ts::Transfer peak = ts::makeQuad(8, 7, ts::CellFormat::Bfp32, 30, "5555");
    peak.elevations[20] = 999999;
    ts::writeModules(tmp / "peak", ts::buildModules(peak));
    const std::string tall = tmp / "peak";
    ts::writeFile(tmp.path() / "kept.ter", "keep me");
    ts::writeFile(tmp.path() / "low.png", "my picture");
    const struct {
        std::vector<std::string> arguments;
        bool terminal;
        int status;
        std::vector<std::string> out{}, err{};          // each must be there
        std::vector<std::string> not_out{}, not_err{};  // each must not
    } cases[] = {
        {{"-q", "-d", tmp / "q", low, high}, true, 0, {}, {}, {"low"}, {" of 2 sources"}},
        {{"-d", tmp / "p", low, high}, true, 0, {low + ": 8 x 7"}, {"\r1 of 2 sources"}, {}, {}},
        {{"-v", "-d", tmp / "v", low}, false, 0, {low + ": grid 8 x 7", low + ": colormap: "}},
        // One colormap from both ranges: each source's line shows the union's range.
        {{"-v", "--common-range", "-d", tmp / "c", low, high},
         false,
         0,
         {low + ": colormap: range 898,", high + ": colormap: range 898,"}},
        // The first source given gets a shared name, whatever the jobs.
        {{"-j", "2", "-d", tmp.path(), a, b},
         false,
         1,
         {a + ": "},
         {b + ": writes " + (tmp / "5555.ter") + " like " + a}},
        {{"--true-scale", "-d", tmp / "t", furlongs},
         false,
         1,
         {},
         {"no true scale: " + furlongs + "ddsh.ddf gives the unit \"FURLONGS\""}},
        {{"-o", tmp / "peak.tif", tall}, false, 0, {"..999999.00 m, 25 void -> "}},
        {{"--fill-voids", "--preview", "-o", tmp / "peak.r16", tall}, false, 0, {"..999999.00 m"}},
        {{"--true-scale", "-o", tmp / "peak.ter", tall},
         false,
         1,
         {},
         {"no true scale: elevations from", "do not fit 16-bit heights"}},
        {{"--merge", "-o", tmp / "kept.ter", low, high},
         false,
         1,
         {},
         {"kept.ter exists; -f replaces it"},
         {},
         {"nothing merged"}},
        {{"--preview", "-o", tmp / "x.png", low}, false, 2, {}, {"--preview writes"}},
        {{"-f", "--format", "ter", "-o", low + "ldef.ddf", low},
         false,
         1,
         {},
         {"is an input of this run"}},
        // A device is written in place, and a full one fails the run with the system's reason.
        {{"-o", "/dev/full", low}, false, 1, {}, {"/dev/full: No space left on device"}},
        // Every output obeys -f: a picture already there stays.
        {{"--preview", "-o", tmp / "kept.ter", "-d", tmp / "x", low}, false, 2, {}, {"-o and -d"}},
        {{"--preview", "-d", tmp.path(), low}, false, 1, {}, {"low.png exists; -f replaces it"}},
        {{"--size", "16", "-d", tmp / "s", low},
         false,
         0,
         {low + ": 8 x 7, 30 m, BI16, resampled to 16 x 14, 15.00 m, elevations "}},
        {{"--size", "4", "--merge", "-o", tmp / "m.ter", low, high},
         false,
         0,
         {"merged: 8 x 7, 30 m, resampled to 4 x 4, 52.50 m east-west, 60.00 m north-south, "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const ts::CliRun run = ts::commandLine(c.arguments, c.terminal);
        EXPECT_EQ(run.status, c.status) << run.err;
        for (const std::string& s : c.out) EXPECT_NE(run.out.find(s), std::string::npos) << run.out;
        for (const std::string& s : c.err) EXPECT_NE(run.err.find(s), std::string::npos) << run.err;
        for (const std::string& s : c.not_out) EXPECT_EQ(run.out.find(s), run.out.npos) << run.out;
        for (const std::string& s : c.not_err) EXPECT_EQ(run.err.find(s), run.err.npos) << run.err;
    }
    EXPECT_EQ(ts::readFile(tmp.path() / "kept.ter"), "keep me");
    EXPECT_EQ(ts::readFile(tmp.path() / "low.png"), "my picture");
    EXPECT_FALSE(fs::exists(tmp.path() / "low.ter"));
    // A report that cannot be written fails the run.
    std::ostringstream out, err;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(runCommandLine({"-d", tmp / "r", low}, out, err, false), 1);
    EXPECT_NE(err.str().find("cannot write the report"), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(tmp.path() / "x.png"));
    EXPECT_GT(fs::file_size(low + "ldef.ddf"), 100u);
    // A resampled stretched terrain says its posting in SCAL.
    const std::string resized = ts::readFile(tmp.path() / "s" / "low.ter");
    float scal = 0;
    std::memcpy(&scal, resized.data() + 44, 4);
    EXPECT_EQ(resized.substr(40, 4) + std::to_string(scal), "SCAL15.000000");
}


// Descriptive records whose file control field lists field tag pairs read like any others on the
// command line (strictly, placed for a GeoTIFF too).
TEST(CommandLine, FileControlFieldsWithTagPairsAreRead) {
    ts::TempDir tmp;
    ts::Transfer plain = ts::makeQuad(6, 7, ts::CellFormat::Bfp32, 10, "4200");
    ts::Transfer paired = plain;
    paired.tag_pairs = true;
    ts::writeModules(tmp / "plain", ts::buildModules(plain));
    ts::writeModules(tmp / "paired", ts::buildModules(paired));
    ASSERT_NE(ts::readFile(tmp / "pairedddsh.ddf").find("0001DDSH"), std::string::npos);
    for (const std::string extension : {".ter", ".tif"}) {
        for (const std::string source : {"plain", "paired"}) {
            const ts::CliRun run =
                ts::commandLine({"-q", "-o", tmp / (source + extension), tmp / source});
            EXPECT_EQ(run.status, 0) << source << extension << run.err;
        }
        EXPECT_EQ(ts::readFile(tmp / ("paired" + extension)),
                  ts::readFile(tmp / ("plain" + extension)))
            << extension;
    }
}

}  // namespace
}  // namespace marlwood
