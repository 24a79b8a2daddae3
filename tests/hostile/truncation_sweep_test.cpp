// CEL0 modules cut short: at every record boundary and a few bytes either side, and at a few
// hundred other offsets. Every run must end by itself, say how many rows it read, exit 0 and
// write a .ter file of the full size whose unread rows are void.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "hostile_support.h"
#include "test_data.h"

namespace marlwood::hostile {
namespace {

struct Sweep {
    ts::ModuleSet modules;  // the five the program reads, CEL0 whole
    int rows = 0;
    int columns = 0;
    std::vector<std::size_t> boundaries;  // end of the descriptive record, then of each record
    std::vector<std::size_t> values_end;  // one past each row's last value byte
};

// Every cut of the sweep: record boundaries and two bytes either side; the same around every
// multiple of 8 KiB, where a buffered reader changes blocks; the first bytes; and 300 offsets
// drawn with a fixed seed so that a failure can be run again.
std::vector<std::size_t> cutsOf(const Sweep& sweep) {
    const std::size_t size = sweep.modules.at("cel0.ddf").size();
    std::set<std::size_t> cuts;
    for (const std::size_t b : sweep.boundaries) {
        for (std::size_t c = b >= 2 ? b - 2 : 0; c <= b + 2; ++c) cuts.insert(c);
    }
    for (std::size_t block = 8192; block < size; block += 8192) {
        for (std::size_t c = block - 2; c <= block + 2; ++c) cuts.insert(c);
    }
    for (std::size_t c = 1; c <= 8; ++c) cuts.insert(c);
    std::mt19937 random(20010830);
    std::uniform_int_distribution<std::size_t> offset(1, size - 1);
    for (int i = 0; i < 300; ++i) cuts.insert(offset(random));
    std::vector<std::size_t> kept;
    for (const std::size_t c : cuts) {
        if (c > 0 && c < size) kept.push_back(c);  // zero bytes is a catalogue case
    }
    return kept;
}

// Runs every cut in one scratch directory; the other four modules are written once.
void runSweep(const Sweep& sweep) {
    ts::TempDir dir{ts::TempDir::InMemory};
    const std::string prefix = dir / "7172";
    const std::string cel0_path = prefix + "cel0.ddf";
    const std::string output = dir / "o.ter";
    ts::writeModules(prefix, sweep.modules);
    const std::string& whole = sweep.modules.at("cel0.ddf");
    const std::size_t row_bytes = 2 * static_cast<std::size_t>(sweep.columns);
    for (const std::size_t cut : cutsOf(sweep)) {
        SCOPED_TRACE("CEL0 cut to " + std::to_string(cut) + " of " + std::to_string(whole.size()) +
                     " bytes");
        writeFile(cel0_path, std::string_view(whole).substr(0, cut));
        const Outcome outcome = convert(prefix, output);
        const auto rows_read =
            static_cast<int>(std::count_if(sweep.values_end.begin(), sweep.values_end.end(),
                                           [cut](std::size_t end) { return end <= cut; }));

        EXPECT_EQ(outcome.status, 0);
        EXPECT_TRUE(endsWith(outcome.transcript, kClosing));
        if (rows_read < sweep.rows) {
            EXPECT_EQ(count(outcome.transcript, shortModuleLine(cel0_path, rows_read, sweep.rows)),
                      1u)
                << outcome.transcript.substr(outcome.transcript.find("computing"), 600);
        } else {
            // Only the closing terminator is missing: every value was read.
            EXPECT_EQ(count(outcome.transcript, " ended after "), 0u);
        }
        const std::string ter = readFile(output);
        ASSERT_EQ(ter.size(), terSize(sweep.rows, sweep.columns));
        // The rows after the partly read one were never reached; the file holds them first.
        const std::size_t unread =
            static_cast<std::size_t>(std::max(sweep.rows - rows_read - 1, 0));
        EXPECT_GE(std::min(ter.find_first_not_of('\0', 48), ter.size()), 48 + unread * row_bytes)
            << "an unread row is not void";
        std::filesystem::remove(output);
        if (testing::Test::HasFailure()) return;  // one broken cut tells enough
    }
}

TEST(TruncationSweep, RealDuluthBi16RThenLeaderless) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const std::filesystem::path duluth = usgs / "7172-duluth-mn";
    Sweep sweep;
    for (const char* suffix : {"cel0.ddf", "ldef.ddf", "spdm.ddf", "ddsh.ddf", "iref.ddf"}) {
        sweep.modules[suffix] = readFile(duluth / (std::string("7172") + suffix));
    }
    sweep.rows = 467;
    sweep.columns = 323;
    // Descriptive record, one 'R' record, then records of an 8-byte record number, a 20-byte
    // CELL field and the values with their terminator.
    const std::size_t ddr = 188;
    const std::size_t r_record = 727;
    const std::size_t values = 2 * 323;
    const std::size_t leaderless = 8 + 20 + values + 1;
    ASSERT_EQ(sweep.modules["cel0.ddf"].size(), ddr + r_record + 466 * leaderless);
    sweep.boundaries.push_back(ddr);
    for (int row = 0; row < sweep.rows; ++row) {
        const std::size_t end = ddr + r_record + static_cast<std::size_t>(row) * leaderless;
        sweep.boundaries.push_back(end);
        sweep.values_end.push_back(end - 1);  // the values field's terminator closes each record
    }
    runSweep(sweep);
}

TEST(TruncationSweep, SyntheticBfp32RThenLeaderless) {
    // 200 records of 90 BFP32 values, over 64 KiB: the module spans several blocks of any reader.
    const ts::Transfer transfer = ts::makeQuad(200, 90, ts::CellFormat::Bfp32, 10);
    Sweep sweep;
    sweep.modules = ts::buildModules(transfer);
    sweep.rows = transfer.rows;
    sweep.columns = transfer.columns;
    const std::string& cel0 = sweep.modules["cel0.ddf"];
    // Record sizes from the writer's own pieces; the 'R' record is what is left.
    std::size_t end = ts::cel0DescriptiveRecord(transfer).size();
    std::vector<std::size_t> sizes;
    for (int row = 0; row < transfer.rows; ++row) {
        sizes.push_back(ts::fieldArea(ts::cel0Fields(transfer, row)).size());
    }
    std::size_t rest = 0;
    for (std::size_t i = 1; i < sizes.size(); ++i) rest += sizes[i];
    sizes[0] = cel0.size() - end - rest;
    sweep.boundaries.push_back(end);
    for (const std::size_t size : sizes) {
        end += size;
        sweep.boundaries.push_back(end);
        sweep.values_end.push_back(end - 1);
    }
    ASSERT_EQ(cel0[sweep.values_end.back()], ts::kFieldTerminator);
    runSweep(sweep);
}

}  // namespace
}  // namespace marlwood::hostile
