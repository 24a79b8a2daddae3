// planMerge on its own: which sets of sources make one area, and which zone and lattice the
// merged grid takes.
#include <gtest/gtest.h>

#include <cmath>
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

// The transfer written under `dir` as NNNN and found again, as the command line finds a source.
Input writtenSource(const ts::TempDir& dir, int number, const ts::Transfer& t) {
    const std::string prefix = dir / std::to_string(number);
    ts::writeModules(prefix, ts::buildModules(t));
    const Result<Input> found = inputFormats().find(prefix);
    EXPECT_TRUE(found) << found.message();
    return found ? *found : Input{};
}

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
        std::vector<Input> sources;
        for (int i = 0; i < 4; ++i) {
            ts::Transfer t = ts::makeQuad(11, 11, ts::CellFormat::Bi16, 30, "5000");
            ts::shiftByPostings(t, c.moves[i][0], c.moves[i][1]);
            sources.push_back(writtenSource(dir, 9000 + static_cast<int>(i), t));
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

// 11 x 11 quads at 30 m by 90 degrees west, 46.5 north, in UTM zone 15 (west ends at the
// boundary, west2 beside it) and 16 (east begins there, east2 beside it), or moved: the merged
// grid's zone, which sources are resampled and how far off the lattice, or the refusal. Half a
// posting either way counts as east or south.
TEST(MergePlan, ZoneAndLatticeOfTheMergedGrid) {
    struct Quad {
        int zone;
        double x, y;  // the centre of the top-left cell
        const char* datum = "NAS";
    };
    const Quad west{15, 729870, 5154090}, east{16, 269820, 5154090};
    const Quad west2{15, 729570, 5154090}, east2{16, 270120, 5154090};
    const Quad far{16, 274820, 5154090}, wgs84{15, 730200, 5154090, "WGE"};
    struct Case {
        const char* what;
        std::vector<Quad> quads;
        int asked;              // --zone, 0 for none
        int zone;               // the merged grid's
        const char* resampled;  // per source: 'r' resampled, '.' laid down as it is
        double east, south;     // metres the last source is off the lattice
        const char* refusal;    // empty: planned; "D/" stands for the directory
    };
    const Case cases[] = {
        {"one zone", {west, {15, 730200, 5154090}}, 0, 15, "..", 0, 0, ""},
        {"15 m east, 7.5 m south", {west, {15, 730215, 5154082.5}}, 0, 15, ".r", 15, 7.5, ""},
        {"half a posting west, north", {west, {15, 730185, 5154105}}, 0, 15, ".r", 15, 15, ""},
        {"centre in zone 16", {west, east, east2}, 0, 16, "r..", 0, 0, ""},
        {"centre in zone 15", {west, west2, east}, 0, 15, "..r", 0, 0, ""},
        {"--zone 15", {east, west}, 15, 15, "r.", 0, 0, ""},
        {"--zone 14: no source on the lattice", {west, east}, 14, 14, "rr", 0, 0, ""},
        {"--zone 15, one zone-16 source", {east}, 15, 15, "r", 0, 0, ""},
        {"zone 16, 5 km away", {west, far}, 0, 0, "", 0, 0, "D/9001 stands apart from D/9000"},
        {"datum", {west, wgs84}, 0, 0, "", 0, 0, "D/9001: datum WGE differs from NAS of D/9000;"},
        {"--zone 30, NAD27", {west, east}, 30, 0, "", 0, 0, "the merged grid's zone: UTM zone 30"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ts::TempDir dir;
        std::vector<Input> sources;
        for (std::size_t i = 0; i < c.quads.size(); ++i) {
            const Quad& q = c.quads[i];
            ts::Transfer t = ts::makeQuad(11, 11, ts::CellFormat::Bi16, 30, "5000");
            t.zone = q.zone;
            t.datum = q.datum;
            t.first_cell = {{q.x, q.y}};
            t.corners = {q.x, q.y - 300, q.x, q.y, q.x + 300, q.y, q.x + 300, q.y - 300};
            sources.push_back(writtenSource(dir, 9000 + static_cast<int>(i), t));
        }
        NoEvents events;
        const Result<MergePlan> planned = planMerge(sources, false, events, c.asked);
        if (*c.refusal != '\0') {
            std::string refusal = c.refusal;
            for (std::size_t at = 0; (at = refusal.find("D/", at)) != std::string::npos;) {
                refusal.replace(at, 1, dir.path().string());
                at += dir.path().string().size();
            }
            ASSERT_FALSE(planned);
            EXPECT_EQ(planned.message().rfind(refusal, 0), 0u) << planned.message();
            continue;
        }
        ASSERT_TRUE(planned) << planned.message();
        EXPECT_EQ(planned->zone, c.zone);
        std::string resampled;
        for (const MergePiece& piece : planned->pieces) resampled += piece.resampled ? 'r' : '.';
        EXPECT_EQ(resampled, c.resampled);
        EXPECT_EQ(planned->pieces.back().off_east_m, c.east);
        EXPECT_EQ(planned->pieces.back().off_south_m, c.south);
        // Every lattice here has its cell centres on whole multiples of the posting.
        EXPECT_EQ(std::fmod(planned->top_left.x + 15, 30), 0);
        EXPECT_EQ(std::fmod(planned->top_left.y - 15, 30), 0);
        // Each source's footprint lies in the merged grid and, reprojected, is about its size.
        for (const MergePiece& piece : planned->pieces) {
            EXPECT_GE(piece.row_offset, 0);
            EXPECT_LE(piece.row_offset + piece.rows, planned->size.rows);
            EXPECT_LE(piece.column_offset + piece.columns, planned->size.columns);
            EXPECT_NEAR(piece.rows, 11, piece.resampled ? 1 : 0);
            EXPECT_NEAR(piece.columns, 11, piece.resampled ? 1 : 0);
        }
    }
}

}  // namespace
}  // namespace marlwood
