// The one orchestrator: every front end passes through its stages, and a format is a row of the
// table and its writer, nothing more.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "conversation.h"
#include "files.h"
#include "neighbours.h"
#include "pipeline/formats.h"
#include "pipeline/terrain.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

// The stages entered, from every job.
class StageRecorder final : public EventSink {
  public:
    void emit(const Event& event) override {
        if (const auto* started = std::get_if<event::StageStarted>(&event)) {
            std::lock_guard lock(mutex_);
            stages.push_back(started->stage);
        }
    }
    std::vector<Stage> stages;

  private:
    std::mutex mutex_;
};

TEST(Orchestrator, EveryFrontEndPassesThroughItsStages) {
    ts::TempDir tmp;
    const ts::Transfer whole = ts::makeQuad(9, 11, ts::CellFormat::Bi16, 30, "5000");
    ts::writeModules(tmp / "5000", ts::buildModules(whole));
    for (int i = 0; i < 2; ++i) {
        const ts::Window w{0, i * 5, 9, 6};
        const ts::Transfer half = ts::cutWindow(whole, w, std::to_string(9000 + i));
        ts::writeModules(tmp / half.file_id, ts::buildModules(half));
    }
    const std::vector<Stage> once{Stage::Read, Stage::Prepare, Stage::Write};
    const std::vector<Stage> twice{Stage::Read, Stage::Prepare, Stage::Write,
                                   Stage::Read, Stage::Prepare, Stage::Write};
    const struct {
        const char* front_end;
        std::function<int(EventSink&)> run;
        std::vector<Stage> stages;
    } cases[] = {
        {"the dialogue",
         [&](EventSink& watcher) {
             std::istringstream in(ts::answers(tmp / "5000", tmp / "d.ter"));
             std::ostringstream out;
             return DemConverter(in, out, &watcher).exitStatus();
         },
         once},
        {"one conversion",
         [&](EventSink& watcher) {
             std::ostringstream out, err;
             return runCommandLine({"-q", "-o", tmp / "one.tif", tmp / "5000"}, out, err, false,
                                   &watcher);
         },
         once},
        {"a batch",
         [&](EventSink& watcher) {
             std::ostringstream out, err;
             return runCommandLine({"-q", "-j1", "-d", tmp / "batch", tmp / "9000", tmp / "9001"},
                                   out, err, false, &watcher);
         },
         twice},
        {"a merge",
         [&](EventSink& watcher) {
             std::ostringstream out, err;
             return runCommandLine(
                 {"-q", "--merge", "-o", tmp / "merged.ter", tmp / "9000", tmp / "9001"}, out, err,
                 false, &watcher);
         },
         once},
    };
    for (const auto& c : cases) {
        StageRecorder recorder;
        EXPECT_EQ(c.run(recorder), 0) << c.front_end;
        EXPECT_EQ(recorder.stages, c.stages) << c.front_end;
    }
}

// A format added in a test: one row and its writer, chosen by --format, -o's extension and -d's
// names, its largest side enforced, its writer given the prepared terrain. The row goes into a
// copy of the program's table, which the program's own never sees.
TEST(FormatTable, ARowAndItsWriterAreAFormat) {
    FormatTable formats = outputFormats();
    const OutputFormat& dummy = formats.add([] {
        OutputFormat row;
        row.name = "dummy";
        row.label = "dummy file";
        row.description = "rows and columns as text";
        row.extensions = {".dmy", ".dummy"};
        row.largest_side = 8;
        // An option of its own, declared by its row alone and read back by its writer.
        FormatOption note;
        note.long_name = "dummy-note";
        note.value = "TEXT";
        note.help = "a word written after the size";
        note.elsewhere = "--dummy-note goes with the dummy format";
        note.apply = [](ConversionSettings& settings, const std::string& v) -> Status {
            if (v.empty()) return failure("the note needs a word");
            settings.format_values.emplace_back("dummy-note", v);
            return {};
        };
        row.options = {note};
        row.stream = [](std::ostream& out, const Terrain& terrain, const ConversionSettings& s) {
            out << terrain.size().rows << " x " << terrain.size().columns;
            if (const std::string* note = s.formatValue("dummy-note")) out << " " << *note;
        };
        return row;
    }());
    EXPECT_EQ(formats.named("dummy"), &dummy);
    EXPECT_EQ(formats.ofPath("A.DUMMY"), &dummy);
    EXPECT_EQ(outputFormats().named("dummy"), nullptr);
    EXPECT_EQ(outputFormats().ofPath("A.DUMMY"), nullptr);
    ts::TempDir tmp;
    ts::writeModules(tmp / "5000", ts::buildModules(ts::makeQuad(7, 5, ts::CellFormat::Bi16)));
    ts::writeModules(tmp / "5001", ts::buildModules(ts::makeQuad(9, 12, ts::CellFormat::Bi16)));
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string file, bytes, err;
    } cases[] = {
        {{"-o", tmp / "a.dmy", tmp / "5000"}, 0, "a.dmy", "7 x 5", ""},
        {{"--format", "dummy", "-o", tmp / "b.dat", tmp / "5000"}, 0, "b.dat", "7 x 5", ""},
        {{"--format", "dummy", "-o", tmp / "b.ter", tmp / "5000"},
         2,
         "b.ter",
         "",
         "--format dummy writes .dmy files, and " + (tmp / "b.ter") + " is named as ter"},
        {{"--format", "dummy", "-d", tmp / "d", tmp / "5000"}, 0, "d/5000.dmy", "7 x 5", ""},
        {{"-o", tmp / "c.dmy", tmp / "5001"},
         1,
         "c.dmy",
         "",
         "gives a grid of 9 x 12; a .dmy file holds 0 to 8 rows and columns"},
        {{"--size", "8", "-o", tmp / "e.dmy", tmp / "5001"}, 0, "e.dmy", "6 x 8", ""},
        {{"--dummy-note", "hi", "-o", tmp / "g.dmy", tmp / "5000"}, 0, "g.dmy", "7 x 5 hi", ""},
        {{"--dummy-note", "hi", "-o", tmp / "g.ter", tmp / "5000"},
         2,
         "g.ter",
         "",
         "--dummy-note goes with the dummy format"},
        {{"--dummy-note=", "-o", tmp / "h.dmy", tmp / "5000"}, 2, "h.dmy", "", "the note needs"},
        {{"-s", "20", "-o", tmp / "f.dmy", tmp / "5000"},
         2,
         "f.dmy",
         "",
         "a dummy file holds elevations in metres"},
    };
    for (const auto& c : cases) {
        const ts::CliRun run = ts::commandLine(c.arguments, false, formats);
        EXPECT_EQ(run.status, c.status) << c.file << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.file << run.err;
        EXPECT_EQ(ts::readFile(tmp / c.file), c.bytes) << c.file;
    }
    // The program's own table knows nothing of it.
    EXPECT_EQ(ts::commandLine({"--dummy-note", "hi", "-o", tmp / "i.dmy", tmp / "5000"}).status, 2);
}

TEST(FormatTable, EachFormatHoldsItsOwnSides) {
    const struct {
        const char* format;
        GridSize size;
        bool fits;
    } cases[] = {
        {"ter", {65535, 1}, true},     {"ter", {1, 65536}, false}, {"ter", {-1, 5}, false},
        {"tif", {70000, 70000}, true}, {"tif", {5, -1}, false},    {"ter", {0, 0}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fitsFormat(*outputFormats().named(c.format), c.size, "the grid is").ok(), c.fits)
            << c.format << " " << c.size.rows << " x " << c.size.columns;
    }
    const FormatTable& formats = outputFormats();
    EXPECT_EQ(formats.ofPath("x.TIFF"), formats.named("tif"));
    EXPECT_EQ(formats.ofPath("x.Png"), formats.named("png16"));
    EXPECT_EQ(formats.ofPath("x.dem"), nullptr);
}

}  // namespace
}  // namespace marlwood
