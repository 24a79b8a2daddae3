// Native DEMs cut short, read from disk as a source is: at every record boundary and a few bytes
// either side, around the reader's 64 KiB blocks, and at a few hundred other offsets. Every cut
// that loses a byte of a profile is refused with one line; only the line end after the last
// record may go.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "hostile_support.h"
#include "native_dem_writer.h"
#include "pipeline/reader.h"

namespace marlwood::hostile {
namespace {

TEST(NativeDemSweep, EveryCutIsRefusedInOneLine) {
    // 40 profiles of three records each: past the first 64 KiB block.
    std::vector<int> starts, lengths;
    for (int c = 0; c < 40; ++c) {
        starts.push_back(c % 5);
        lengths.push_back(400 - c % 5);
    }
    const ts::TempDir dir(ts::TempDir::InMemory);
    for (const char* end : {"", "\n", "\r\n"}) {
        SCOPED_TRACE(std::string("line end of ") + std::to_string(std::string(end).size()));
        ts::DemContents model = ts::quadShapedDem(starts, lengths, 100);
        model.line_end = end;
        const std::string whole = ts::nativeDem(model);
        const std::size_t record = 1024 + model.line_end.size();
        ASSERT_GT(whole.size(), std::size_t{65536});
        std::set<std::size_t> cuts;
        for (std::size_t b = record; b <= whole.size(); b += record) {
            for (std::size_t c = b - 3; c <= b + 3 && c <= whole.size(); ++c) cuts.insert(c);
        }
        for (std::size_t c = 65536 - 3; c <= 65536 + 3; ++c) cuts.insert(c);
        for (std::size_t c = 0; c <= 4; ++c) cuts.insert(c);
        std::mt19937 random(20261209);
        std::uniform_int_distribution<std::size_t> offset(0, whole.size());
        for (int i = 0; i < 200; ++i) cuts.insert(offset(random));
        const std::string path = dir / "cut.dem";
        for (const std::size_t cut : cuts) {
            SCOPED_TRACE(cut);
            ts::writeFile(path, std::string_view(whole).substr(0, cut));
            NoEvents events;
            const Result<Input> input = inputFormats().find(path);
            ASSERT_TRUE(input) << input.message();
            const Result<TransferMetadata> metadata =
                readMetadata(*input, MetadataReading::Strict, false, events);
            if (cut + model.line_end.size() >= whole.size()) {
                ASSERT_TRUE(metadata) << metadata.message();
                EXPECT_EQ(metadata->size.rows, 400);  // every profile reaches the same northing
                EXPECT_EQ(metadata->size.columns, 40);
                continue;
            }
            ASSERT_FALSE(metadata);
            EXPECT_EQ(metadata.message().find('\n'), std::string::npos) << metadata.message();
            EXPECT_FALSE(metadata.message().empty());
        }
    }
}

// Geographic DEMs whose spacings or profiles lie: each refused in one line, nothing written.
TEST(NativeDemGeographic, LyingSpacingsAndProfilesAreRefusedInOneLine) {
    using Change = void (*)(ts::DemContents&);
    const struct {
        Change change;
        const char* line;
    } cases[] = {
        {[](ts::DemContents& m) { m.dx = 0; }, "record A: the spacing 0 is not 0.01 to 600"},
        {[](ts::DemContents& m) { m.dy = -3; }, "record A: the spacing -3 is not"},
        {[](ts::DemContents& m) { m.dx = 0.001; }, "record A: the spacing 0.001 is not"},
        {[](ts::DemContents& m) { m.dy = 3600; }, "record A: the spacing 3600 is not"},
        {[](ts::DemContents& m) { m.dx = 1e11; }, "record A: the spacing "},
        {[](ts::DemContents& m) { m.ground_unit = 2; }, "a geographic DEM gives arc-seconds (3)"},
        {[](ts::DemContents& m) { m.horizontal_datum = 7; }, "record A: horizontal datum \"7\""},
        {[](ts::DemContents& m) { m.profiles[2].x += 1.5; }, "profile 3 starts at"},
        // Half a turn of the globe east of the others: a lattice no file could hold.
        {[](ts::DemContents& m) { m.profiles[3].x = 87 * 3600; }, "the profiles span a grid of"},
        {[](ts::DemContents& m) { m.profiles[1].y = 1e9; }, "profile 2: the ground coordinate"},
        {[](ts::DemContents& m) {
             for (auto& p : m.profiles) p.y = 90 * 3600 - 6;
         },
         "latitudes 89.99833333 to 90.00166667 degrees, beyond"},
        {[](ts::DemContents& m) {
             for (std::size_t c = 0; c < m.profiles.size(); ++c)
                 m.profiles[c].x = -648003.0 + 3 * c;
         },
         "the profiles span longitudes -180.0008333 to"},
    };
    const ts::TempDir dir(ts::TempDir::InMemory);
    const std::string path = dir / "geo.dem", out = dir / "out.ter";
    // Undamaged, it converts: each refusal below is the damage's.
    ts::writeFile(path, ts::nativeDem(ts::geographicDem(4, 5, 3, -93 * 3600, 46 * 3600)));
    const ts::CliRun good = ts::commandLine({"-q", "-o", out, path});
    ASSERT_EQ(good.status, 0) << good.err;
    std::filesystem::remove(out);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ts::DemContents model = ts::geographicDem(4, 5, 3, -93 * 3600, 46 * 3600);
        c.change(model);
        ts::writeFile(path, ts::nativeDem(model));
        const ts::CliRun run = ts::commandLine({"-q", "-o", out, path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(ts::count(run.err, "\n"), 1u) << run.err;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

}  // namespace
}  // namespace marlwood::hostile
