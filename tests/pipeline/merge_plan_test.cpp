// planMerge on its own: which sets of sources make one area.
#include <gtest/gtest.h>

#include <sstream>

#include "neighbours.h"
#include "pipeline/merge.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "source/transfer_source.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

// Four 11 x 11 quads at 30 m, 9000 to 9003, each moved (rows south, columns east) from the first:
// a merge of them is planned, or refused with the line given.
TEST(MergePlan, SourcesThatDoNotTouchAreRefused) {
    struct Case {
        const char* what;
        int moves[4][2];
        const char* refusal;  // empty: planned; "D/" stands for the directory
    };
    const Case cases[] = {
        {"2 x 2 sharing edges", {{0, 0}, {0, 10}, {10, 0}, {10, 10}}, ""},
        {"edge cells 3 postings apart", {{0, 0}, {0, 10}, {10, 0}, {10, 13}}, ""},
        {"stacked exactly", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, ""},
        {"one 3000 postings south",
         {{0, 0}, {0, 10}, {10, 0}, {3000, 0}},
         "D/9003 stands apart from D/9000, D/9001, D/9002 (more than 3 postings from any of them)"},
        {"two pairs far apart",
         {{0, 0}, {0, 10}, {0, 500}, {0, 510}},
         "D/9002, D/9003 stand apart from D/9000, D/9001"},
        {"edge cells 4 postings apart",
         {{0, 0}, {14, 0}, {0, 10}, {14, 10}},
         "D/9001, D/9003 stand apart from D/9000, D/9002"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ts::TempDir dir;
        std::vector<MergeSource> sources;
        for (int i = 0; i < 4; ++i) {
            ts::Transfer t = ts::makeQuad(11, 11, ts::CellFormat::Bi16, 30, "5000");
            ts::shiftByPostings(t, c.moves[i][0], c.moves[i][1]);
            const std::string prefix = dir / std::to_string(9000 + i);
            ts::writeModules(prefix, ts::buildModules(t));
            const FoundTransfer found = findTransfer(prefix);
            ASSERT_TRUE(found) << found.message();
            sources.push_back({prefix, found->modules});
        }
        NoEvents events;
        const Result<MergePlan> planned = planMerge(sources, false, events);
        std::string refusal = c.refusal;
        for (std::size_t at = 0; (at = refusal.find("D/", at)) != std::string::npos;) {
            refusal.replace(at, 1, dir.path().string());
            at += dir.path().string().size();
        }
        if (refusal.empty()) {
            EXPECT_TRUE(planned) << planned.message();
        } else {
            ASSERT_FALSE(planned);
            EXPECT_EQ(planned.message().rfind(refusal, 0), 0u) << planned.message();
        }
    }
}

}  // namespace
}  // namespace marlwood
