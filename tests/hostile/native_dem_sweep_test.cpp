// Native DEMs cut short, read from disk as a source is: at every record boundary and a few bytes
// either side, around the reader's 64 KiB blocks, and at a few hundred other offsets. Every cut
// that loses a byte of a profile is refused with one line; only the line end after the last
// record may go.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace marlwood::hostile
