// A merge resampled as it is decoded against the whole merged grid decoded and then resampled:
// the same cells, disagreements and events, whatever the window, size, order, unit, source kind
// or number of threads.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#if MARLWOOD_TEST_ARCHIVES
#include "../source/archive_maker.h"
#endif
#include "grid/resample.h"
#include "neighbours.h"
#include "pipeline/merge.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "source/transfer_source.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

// Counts the events that tell of a damaged source.
class DamageCount final : public EventSink {
  public:
    void emit(const Event& event) override {
        if (std::holds_alternative<event::Cel0EndedEarly>(event) ||
            std::holds_alternative<event::ModuleUnreadable>(event)) {
            ++count;
        }
    }
    int count = 0;
};

TEST(MergeResampledAsDecoded, SameCellsAsTheWholeGridResampled) {
    enum class Kind { Files, Tar, TarGz };
    struct Case {
        const char* what;
        int rows, columns;  // the whole terrain's
        std::vector<ts::Window> windows;
        std::optional<CellWindow> crop;  // of the merged area
        std::int32_t size;
        bool thousandths = true;
        Kind kind = Kind::Files;
        unsigned threads = 2;
        const char* feet = "";  // 'f': that window's cells in feet
        int cut_records = 0;    // records cut off the end of the last window's CEL0
    };
    const ts::Window a{0, 0, 90, 70}, b{0, 69, 90, 60}, c{89, 0, 80, 70}, d{89, 69, 80, 60};
    const Case cases[] = {
        {"2 x 2 shrunk", 169, 129, {a, b, c, d}, {}, 61},
        {"2 x 2 shrunk on one thread", 169, 129, {a, b, c, d}, {}, 61, true, Kind::Files, 1},
        {"2 x 2, whole units", 169, 129, {a, b, c, d}, {}, 100, false},
        {"2 x 2 grown", 169, 129, {a, b, c, d}, {}, 300},
        {"a window across all four", 169, 129, {a, b, c, d}, CellWindow{70, 50, 45, 33}, 17},
        {"a window in one piece", 169, 129, {a, b, c, d}, CellWindow{3, 4, 70, 50}, 33},
        {"a window of one row", 169, 129, {a, b, c, d}, CellWindow{88, 0, 1, 129}, 40},
        {"overlapping, raised, voided",
         169,
         129,
         {a, {0, 40, 100, 89, 3, true}, {60, 0, 109, 129, -2, true}},
         {},
         77},
        {"in another order", 169, 129, {d, b, c, a}, CellWindow{10, 10, 140, 100}, 50},
        {"feet and metres", 169, 129, {a, b, c, d}, {}, 61, true, Kind::Files, 2, ".f.f"},
        {"tar archives", 169, 129, {a, b, c, d}, CellWindow{80, 60, 40, 40}, 25, true, Kind::Tar},
        {"gzipped archives", 169, 129, {a, b, c, d}, {}, 64, true, Kind::TarGz},
        {"a CEL0 cut short", 169, 129, {a, b, c, d}, {}, 61, true, Kind::Files, 2, "", 30},
        {"a CEL0 cut short, gzipped", 169, 129, {a, b, c, d}, {}, 61, true, Kind::TarGz, 2, "", 30},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const ts::TempDir dir;
        const ts::Transfer whole = ts::makeQuad(k.rows, k.columns, ts::CellFormat::Bfp32, 10);
        std::vector<Input> sources;
        for (std::size_t i = 0; i < k.windows.size(); ++i) {
            const std::string id = std::to_string(4000 + i);
            ts::Transfer t = ts::cutWindow(whole, k.windows[i], id);
            if (i < std::strlen(k.feet) && k.feet[i] == 'f') t.units = "FEET";
            ts::ModuleSet modules = ts::buildModules(t);
            if (k.cut_records > 0 && i + 1 == k.windows.size()) {
                for (auto& [name, bytes] : modules) {
                    // BFP32 records of 4 bytes a cell and a few of leader and terminator.
                    if (name == "cel0.ddf")
                        bytes.resize(bytes.size() - k.cut_records * (4 * 60 + 1));
                }
            }
            const std::string prefix = dir / id;
            std::string source = prefix;
            if (k.kind == Kind::Files) {
                ts::writeModules(prefix, modules);
            } else {
#if MARLWOOD_TEST_ARCHIVES
                std::vector<ts::TarMember> members;
                for (const auto& [name, bytes] : modules) members.push_back({id + name, bytes});
                std::string archive = ts::tarArchive(members);
                if (k.kind == Kind::TarGz) archive = ts::gzip(archive);
                source = prefix + (k.kind == Kind::TarGz ? ".tar.gz" : ".tar");
                std::ofstream(source, std::ios::binary) << archive;
#else
                GTEST_SKIP() << "this build reads no archives";
#endif
            }
            const Result<Input> found = inputFormats().find(source, Cel0Reading::WhenOpened);
            ASSERT_TRUE(found) << found.message();
            sources.push_back(*found);
        }
        NoEvents quiet;
        Result<MergePlan> plan = planMerge(sources, k.thousandths, quiet);
        ASSERT_TRUE(plan) << plan.message();
        if (k.crop) {
            ASSERT_TRUE(windowMergePlan(*plan, *k.crop));
        }
        ASSERT_TRUE(decodesAsItResamples(*plan));
        const GridSize into = resampledSize(plan->size, k.size);

        DamageCount whole_damage, damage;
        Result<MergedGrid> held = decodeMerged(*plan, k.thousandths, whole_damage);
        ASSERT_TRUE(held) << held.message();
        ElevationGrid expected;
        ASSERT_TRUE(allocateRows(expected, into.rows, into.columns));
        const std::int32_t scale = k.thousandths ? kThousandths : 1;
        resample(held->decoded.grid, plan->size, expected, into, kVoidThreshold * scale,
                 kNoData * scale);
        const Result<MergedGrid> streamed =
            decodeMergedResampled(*plan, into, k.thousandths, damage, k.threads);
        ASSERT_TRUE(streamed) << streamed.message();

        EXPECT_EQ(streamed->disagreements, held->disagreements);
        EXPECT_EQ(damage.count, whole_damage.count);
        EXPECT_EQ(streamed->decoded.size.rows, into.rows);
        long differing = 0;
        for (std::int32_t r = 0; r < into.rows; ++r) {
            for (std::int32_t j = 0; j < into.columns; ++j) {
                const auto at = static_cast<std::size_t>(r);
                differing += streamed->decoded.grid[at][j] != expected[at][j];
            }
        }
        EXPECT_EQ(differing, 0) << "of " << into.rows << " x " << into.columns;
        releaseGrid(expected, into.rows);
    }
}

}  // namespace
}  // namespace marlwood
