// The catalogue of damaged modules: each case spoils one module of a small, sound transfer in one
// way and states what the conversion must then do.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostile_support.h"
#include "sdts/georeference.h"
#include "test_data.h"

namespace marlwood::hostile {
namespace {

constexpr int kRows = 12;
constexpr int kColumns = 9;

// The sound transfer: BI16, one 'R' record then records without leader, as USGS delivers them.
ts::Transfer soundTransfer() {
    return ts::makeQuad(kRows, kColumns, ts::CellFormat::Bi16);
}

struct Result {
    int status = -1;
    std::string transcript;
    bool wrote = false;
    std::string ter;
    std::string prefix;
};

// Converts a transfer from its own scratch directory with the usual answers.
Result convertModules(const ts::ModuleSet& modules) {
    ts::TempDir dir{ts::TempDir::InMemory};
    Result result;
    result.prefix = dir / "7018";
    ts::writeModules(result.prefix, modules);
    const Outcome outcome = convert(result.prefix, dir / "o.ter");
    result.status = outcome.status;
    result.transcript = outcome.transcript;
    result.wrote = std::filesystem::exists(dir / "o.ter");
    result.ter = readFile(dir / "o.ter");
    return result;
}

const std::string& soundTer() {
    static const std::string ter = convertModules(ts::buildModules(soundTransfer())).ter;
    return ter;
}

std::size_t descriptiveRecordLength(const std::string& module) {
    return static_cast<std::size_t>(std::stoi(module.substr(0, 5)));
}

// Leader bytes of a module's first data record.
void setFirstRecordBytes(std::string& module, std::size_t at, const std::string& bytes) {
    module.replace(descriptiveRecordLength(module) + at, bytes.size(), bytes);
}

// LDEF: the row count text starts at byte 267, the column count follows its unit terminator.
void setGridSize(ts::ModuleSet& modules, const std::string& rows, const std::string& columns) {
    std::string& ldef = modules["ldef.ddf"];
    const std::size_t rows_end = ldef.find(ts::kUnitTerminator, 267);
    const std::size_t columns_end = ldef.find(ts::kUnitTerminator, rows_end + 1);
    ASSERT_EQ(ldef.substr(267, columns_end - 267),
              "12\x1f"
              "9");
    ldef.replace(267, columns_end - 267, rows + ts::kUnitTerminator + columns);
}

void replaceOnce(std::string& module, const std::string& from, const std::string& to) {
    const std::size_t at = module.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    module.replace(at, from.size(), to);
}

// What a case's .ter file must be.
enum class Ter {
    None,      // no file: the conversion was abandoned
    Same,      // byte for byte the sound transfer's: the damage cannot touch the heights
    AllVoid,   // full size, every height 0: no value was decoded
    FullSize,  // full size; which heights survive the damage is not the point
    Empty,     // a 0-row or 0-column grid: the header and "EOF " alone
    Tall,      // the 65535 x 9 grid
};

struct Case {
    const char* name;
    std::function<void(ts::ModuleSet&)> damage;
    int status;
    Ter ter;
    // Lines the transcript must hold, once each ("serious error" at least once); "{cel0}",
    // "{ldef}", "{spdm}", "{ddsh}" and "{iref}" stand for the module paths.
    std::vector<std::string> lines;
};

std::string withPaths(std::string line, const std::string& prefix) {
    for (const char* module : {"cel0", "ldef", "spdm", "ddsh", "iref"}) {
        const std::string mark = std::string("{") + module + "}";
        for (auto at = line.find(mark); at != line.npos; at = line.find(mark)) {
            line.replace(at, mark.size(), prefix + module + ".ddf");
        }
    }
    return line;
}

const std::string kTooBig = "; a .ter file holds 0 to 65535 rows and columns**\n";

std::string abandonedGrid(const std::string& shape) {
    return "**Conversion abandoned: {ldef} gives a grid of " + shape + kTooBig;
}

std::string endsTooSoon(const std::string& module) {
    return "**{" + module + "} ends too soon; what was not found is taken as 0**\n";
}

const std::vector<Case>& catalogue() {
    static const std::vector<Case> cases = {
        // ---- LDEF sizes
        {"LdefRowsHuge",
         [](auto& m) { setGridSize(m, "9999999", "9"); },
         1,
         Ter::None,
         {abandonedGrid("9999999 x 9")}},
        {"LdefRowsLongerThanSevenDigits",
         [](auto& m) { setGridSize(m, "123456789012", "9"); },
         1,
         Ter::None,
         {abandonedGrid("1234567 x 9")}},
        {"LdefColumnsHuge",
         [](auto& m) { setGridSize(m, "12", "4000000"); },
         1,
         Ter::None,
         {abandonedGrid("12 x 4000000")}},
        {"LdefRowsNegative",
         [](auto& m) { setGridSize(m, "-12", "9"); },
         1,
         Ter::None,
         {abandonedGrid("-12 x 9")}},
        {"LdefColumnsNegative",
         [](auto& m) { setGridSize(m, "12", "-1"); },
         1,
         Ter::None,
         {abandonedGrid("12 x -1")}},
        {"LdefRows65536",
         [](auto& m) { setGridSize(m, "65536", "9"); },
         1,
         Ter::None,
         {abandonedGrid("65536 x 9")}},
        {"LdefColumns65536",
         [](auto& m) { setGridSize(m, "12", "65536"); },
         1,
         Ter::None,
         {abandonedGrid("12 x 65536")}},
        {"LdefRows65535",
         [](auto& m) { setGridSize(m, "65535", "9"); },
         0,
         Ter::Tall,
         {"min_rows_cols is:  8\n",
          "**{cel0} ended after 12 of 65535 rows; the missing rows are void**\n"}},
        {"LdefRowsZero",
         [](auto& m) { setGridSize(m, "0", "9"); },
         0,
         Ter::Empty,
         {"min_rows_cols is:  -1\n"}},
        {"LdefColumnsZero",
         [](auto& m) { setGridSize(m, "12", "0"); },
         0,
         Ter::Empty,
         {"min_rows_cols is:  -1\n"}},
        {"LdefNonNumeric",
         [](auto& m) { setGridSize(m, "twelve", "nine"); },
         0,
         Ter::Empty,
         {"min_rows_cols is:  -1\n"}},
        {"LdefDigitsAfterLetters",
         [](auto& m) { setGridSize(m, "x12", "9"); },
         0,
         Ter::Empty,
         {"min_rows_cols is:  -1\n"}},

        // ---- DDSH, IREF
        // No value is decoded with a type the decoder does not know; records without leader
        // say so.
        {"DdshUnknownType",
         [](auto& m) { replaceOnce(m["ddsh.ddf"], "BI16", "BX16"); },
         0,
         Ter::AllVoid,
         {"serious error\n"}},
        {"DdshTypeMissing",
         [](auto& m) {
             replaceOnce(m["ddsh.ddf"],
                         "\x1f"
                         "BI16\x1f",
                         "\x1f\x1f");
         },
         0,
         Ter::AllVoid,
         {"serious error\n"}},
        {"IrefUnknownSpacing",
         [](auto& m) {
             replaceOnce(m["iref.ddf"],
                         "\x1f"
                         "30.00",
                         "\x1f"
                         "20.00");
         },
         0,
         Ter::Same,
         {"error reading grid spacing\n"}},
        {"IrefSpacingEmpty",
         [](auto& m) {
             replaceOnce(m["iref.ddf"],
                         "\x1f"
                         "30.00000000\x1f",
                         "\x1f\x1f");
         },
         0,
         Ter::Same,
         {"error reading grid spacing\n"}},

        // ---- SPDM
        // Only the first 18 characters of a coordinate count; the rest is read to its
        // terminator, so the next coordinate is found where it is.
        {"SpdmCoordinateOf1000Characters",
         [](auto& m) {
             replaceOnce(m["spdm.ddf"], "455212.37000000\x1f",
                         "455212.37000000000e9" + std::string(980, '0') + "\x1f");
         },
         0,
         Ter::Same,
         {cornerLine("sw_cornerx", 455212.37), cornerLine("sw_cornery", 5003187.92),
          cornerLine("se_cornery", 5003276.33)}},
        // Beyond the float range the nearest float is the infinity of that sign.
        {"SpdmCoordinateBeyondFloatRange",
         [](auto& m) { replaceOnce(m["spdm.ddf"], "455212.37000000\x1f", "-1e39\x1f"); },
         0,
         Ter::Same,
         {"sw_cornerx is:  -inf\n", cornerLine("sw_cornery", 5003187.92)}},
        // The values field at position 0: the coordinates are read from one byte into it.
        {"SpdmFieldPositionZero",
         [](auto& m) {
             std::string& spdm = m["spdm.ddf"];
             const std::string coordinates = spdm.substr(spdm.find("455212.37"));
             spdm = spdm.substr(0, descriptiveRecordLength(spdm)) +
                    ts::dataRecord('D', {{"DMSA", coordinates}}, 0, 2);
         },
         0,
         Ter::Same,
         {cornerLine("sw_cornerx", 55212.37), cornerLine("sw_cornery", 5003187.92),
          cornerLine("se_cornery", 5003276.33)}},

        // ---- 'R' entry map: widths readDecimal does not take read nothing and give 0
        {"RLengthWidth0",
         [](auto& m) { setFirstRecordBytes(m["cel0.ddf"], 20, "0"); },
         0,
         Ter::AllVoid,
         {"data_elements is:  0\n"}},
        {"RLengthWidth9",
         [](auto& m) { setFirstRecordBytes(m["cel0.ddf"], 20, "9"); },
         0,
         Ter::AllVoid,
         {"data_elements is:  0\n"}},
        {"RLengthWidthBlank",
         [](auto& m) { setFirstRecordBytes(m["cel0.ddf"], 20, " "); },
         0,
         Ter::AllVoid,
         {"data_elements is:  0\n"}},
        {"RPositionWidth0",
         [](auto& m) { setFirstRecordBytes(m["cel0.ddf"], 21, "0"); },
         0,
         Ter::FullSize,
         {"data_elements is:  4\n"}},
        {"RPositionWidth9",
         [](auto& m) { setFirstRecordBytes(m["cel0.ddf"], 21, "9"); },
         0,
         Ter::FullSize,
         {"data_elements is:  4\n"}},

        // ---- Base addresses below the readers' fixed offsets: the first skip reads nothing
        // and the walk goes on from there. DDSH and IREF then still meet the same subfields;
        // SPDM reads its coordinates from elsewhere, which only changes what is printed.
        {"DdshBaseAddress10",
         [](auto& m) { setFirstRecordBytes(m["ddsh.ddf"], 12, "00010"); },
         0,
         Ter::Same,
         {}},
        {"IrefBaseAddress16",
         [](auto& m) { setFirstRecordBytes(m["iref.ddf"], 12, "00016"); },
         0,
         Ter::Same,
         {"\nDetected 30m file type.  \n"}},
        {"SpdmBaseAddress19",
         [](auto& m) { setFirstRecordBytes(m["spdm.ddf"], 12, "00019"); },
         0,
         Ter::Same,
         {}},
        {"SpdmBaseAddress0",
         [](auto& m) { setFirstRecordBytes(m["spdm.ddf"], 12, "00000"); },
         0,
         Ter::Same,
         {}},
        {"Cel0RBaseAddress3",
         [](auto& m) { setFirstRecordBytes(m["cel0.ddf"], 12, "00003"); },
         0,
         Ter::FullSize,
         {}},

        // ---- Zero-byte modules: each reader says so and goes on with 0
        {"Cel0ZeroBytes",
         [](auto& m) { m["cel0.ddf"].clear(); },
         0,
         Ter::AllVoid,
         {"**{cel0} ended after 0 of 12 rows; the missing rows are void**\n"}},
        {"LdefZeroBytes",
         [](auto& m) { m["ldef.ddf"].clear(); },
         0,
         Ter::Empty,
         {endsTooSoon("ldef"), "min_rows_cols is:  -1\n"}},
        {"SpdmZeroBytes",
         [](auto& m) { m["spdm.ddf"].clear(); },
         0,
         Ter::Same,
         {endsTooSoon("spdm"), "sw_cornerx is:  0.000000\n", "se_cornery is:  0.000000\n"}},
        {"DdshZeroBytes",
         [](auto& m) { m["ddsh.ddf"].clear(); },
         0,
         Ter::AllVoid,
         {endsTooSoon("ddsh"), "serious error\n"}},
        {"IrefZeroBytes",
         [](auto& m) { m["iref.ddf"].clear(); },
         0,
         Ter::Same,
         {endsTooSoon("iref"), "error reading grid spacing\n"}},
    };
    return cases;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class DamagedModule : public testing::TestWithParam<Case> {};

TEST_P(DamagedModule, EndsWithTheDecidedOutcome) {
    const Case& c = GetParam();
    ts::ModuleSet modules = ts::buildModules(soundTransfer());
    c.damage(modules);
    if (HasFatalFailure()) return;
    const Result result = convertModules(modules);

    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(endsWith(result.transcript, kClosing));
    for (const std::string& line : c.lines) {
        const std::size_t n = count(result.transcript, withPaths(line, result.prefix));
        // One line per record without leader; every other line comes once.
        if (line == "serious error\n") {
            EXPECT_GE(n, 1u) << "missing: " << line;
        } else {
            EXPECT_EQ(n, 1u) << "once: " << line;
        }
    }
    const std::size_t full = terSize(kRows, kColumns);
    switch (c.ter) {
        case Ter::None:
            EXPECT_FALSE(result.wrote);
            EXPECT_EQ(count(result.transcript, "Input the name of the output .ter file"), 0u);
            break;
        case Ter::Same:
            EXPECT_TRUE(result.ter == soundTer()) << "the heights changed";
            break;
        case Ter::AllVoid:
            ASSERT_EQ(result.ter.size(), full);
            EXPECT_EQ(result.ter.find_first_not_of('\0', 48), full - 4) << "a height was decoded";
            break;
        case Ter::FullSize:
            EXPECT_EQ(result.ter.size(), full);
            break;
        case Ter::Empty:
            EXPECT_EQ(result.ter.size(), terSize(0, 0));
            break;
        case Ter::Tall:
            EXPECT_EQ(result.ter.size(), terSize(65535, kColumns));
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, DamagedModule, testing::ValuesIn(catalogue()),
                         [](const auto& info) { return std::string(info.param.name); });

// Records holding more values than LDEF's column count: the extra values are read and dropped,
// so every record still starts where it should. Columns 5 to 8 repeat columns 0 to 3, so the
// extremes are those of the first five columns and the file must equal that of the narrow grid.
TEST(DamagedCel0, RecordsLongerThanTheRow) {
    const struct {
        ts::CellFormat format;
        ts::Cel0Layout layout;
    } shapes[] = {{ts::CellFormat::Bi16, ts::Cel0Layout::AllD},
                  {ts::CellFormat::Bi16, ts::Cel0Layout::RThenLeaderless},
                  {ts::CellFormat::Bfp32, ts::Cel0Layout::AllD},
                  {ts::CellFormat::Bfp32, ts::Cel0Layout::RThenLeaderless}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(std::string(shape.format == ts::CellFormat::Bi16 ? "BI16 " : "BFP32 ") +
                     (shape.layout == ts::Cel0Layout::AllD ? "'D'" : "'R' then leaderless"));
        const ts::Transfer narrow = ts::makeQuad(kRows, 5, shape.format, 10, "7018", shape.layout);
        ts::Transfer wide = narrow;
        wide.columns = kColumns;
        wide.elevations.clear();
        for (int r = 0; r < kRows; ++r) {
            for (int c = 0; c < kColumns; ++c) {
                wide.elevations.push_back(
                    narrow.elevations[static_cast<std::size_t>(r * 5 + c % 5)]);
            }
        }
        ts::ModuleSet modules = ts::buildModules(wide);
        modules["ldef.ddf"] = ts::buildModules(narrow).at("ldef.ddf");
        const Result result = convertModules(modules);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(count(result.transcript, " ended after "), 0u) << "a record was misread";
        EXPECT_TRUE(result.ter == convertModules(ts::buildModules(narrow)).ter);
    }
}

// Records without leader before any 'D' or 'R' record have no value count to reuse: they read no
// values, so every cell stays void. 300 is 01 2C in BI16 and 43 96 00 00 in BFP32: no byte of the
// module can pass for a 'D' or 'R' leader, however the scan drifts.
TEST(DamagedCel0, LeaderlessRecordsBeforeAnyLeader) {
    for (const ts::CellFormat format : {ts::CellFormat::Bi16, ts::CellFormat::Bfp32}) {
        SCOPED_TRACE(format == ts::CellFormat::Bi16 ? "BI16" : "BFP32");
        ts::Transfer t = ts::makeQuad(kRows, kColumns, format);
        t.elevations.assign(t.elevations.size(), 300.0);
        ts::ModuleSet modules = ts::buildModules(t);
        std::string cel0 = ts::cel0DescriptiveRecord(t);
        for (int row = 0; row < kRows; ++row) cel0 += ts::fieldArea(ts::cel0Fields(t, row));
        ASSERT_EQ(cel0.find_first_of("DR", ts::cel0DescriptiveRecord(t).size()), std::string::npos);
        modules["cel0.ddf"] = cel0;
        const Result result = convertModules(modules);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(count(result.transcript, "data_elements is:"), 0u);
        ASSERT_EQ(result.ter.size(), terSize(kRows, kColumns));
        EXPECT_EQ(result.ter.find_first_not_of('\0', 48), result.ter.size() - 4)
            << "a value was read";
    }
}

// A module path that names a directory opens but cannot be read: the prefix prompt says it
// cannot open it and asks again; a sound prefix then converts as usual.
TEST(DamagedTransfer, ModuleIsADirectory) {
    ts::TempDir sound{ts::TempDir::InMemory};
    ts::writeModules(sound / "7018", ts::buildModules(soundTransfer()));
    for (const char* suffix : {"cel0.ddf", "ldef.ddf", "spdm.ddf", "ddsh.ddf", "iref.ddf"}) {
        SCOPED_TRACE(suffix);
        ts::TempDir dir{ts::TempDir::InMemory};
        const std::string prefix = dir / "7018";
        ts::writeModules(prefix, ts::buildModules(soundTransfer()));
        std::filesystem::remove(prefix + suffix);
        std::filesystem::create_directory(prefix + suffix);
        const Outcome outcome = ts::converse("k" + prefix + "\n" + (sound / "7018") + "\n30\n" +
                                             (dir / "o.ter") + "\nk");
        EXPECT_EQ(count(outcome.transcript,
                        "**Cannot open" + prefix + suffix + "**\nPlease try again.\n"),
                  1u);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_TRUE(readFile(dir / "o.ter") == soundTer());
    }
}

// Module paths that are no regular file: a named pipe (opening it would wait for a writer that
// never comes) and a link to /dev/zero (endless bytes, none of them a terminator). A transfer
// unpacked from an archive can hold either. They must be refused like a missing module, not
// waited on. The conversion runs in a child process with a deadline, so a hang fails the test
// instead of stalling the suite.
TEST(DamagedTransfer, ModuleIsNoRegularFile) {
    ts::TempDir sound{ts::TempDir::InMemory};
    ts::writeModules(sound / "7018", ts::buildModules(soundTransfer()));
    const struct {
        const char* what;
        std::function<bool(const std::string&)> make;
    } kinds[] = {
        {"a named pipe", [](const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }},
        {"a link to /dev/zero",
         [](const std::string& path) { return symlink("/dev/zero", path.c_str()) == 0; }},
    };
    for (const auto& kind : kinds) {
        for (const char* suffix : {"cel0.ddf", "ldef.ddf", "spdm.ddf", "ddsh.ddf", "iref.ddf"}) {
            SCOPED_TRACE(std::string(suffix) + " is " + kind.what);
            ts::TempDir dir{ts::TempDir::InMemory};
            const std::string prefix = dir / "7018";
            ts::writeModules(prefix, ts::buildModules(soundTransfer()));
            std::filesystem::remove(prefix + suffix);
            ASSERT_TRUE(kind.make(prefix + suffix));
            const std::string typed =
                prefix + "\n" + (sound / "7018") + "\n30\n" + (dir / "o.ter") + "\nk";
            const std::string refused = "**Cannot open" + prefix + suffix + "**\n";
            const int verdict = exitStatusInChild([&] {
                const Outcome outcome = ts::converse("k" + typed);
                return (count(outcome.transcript, refused) == 1) + 2 * (outcome.status == 0) +
                       4 * (readFile(dir / "o.ter") == soundTer());
            });
            if (verdict < 0) {
                ADD_FAILURE() << (verdict == -1 ? "the conversion still ran after 5 s"
                                                : "the conversion did not end by itself");
                continue;
            }
            EXPECT_TRUE(verdict & 1) << "no \"Cannot open\" line";
            EXPECT_TRUE(verdict & 2) << "exit status not 0";
            EXPECT_TRUE(verdict & 4) << "the sound prefix did not convert as usual";
        }
    }
}

// The georeference modules of both real transfers with one byte changed, at every byte, to each
// byte that steers an ISO 8211 reader. Every read must end by itself, with a georeference or with
// one line naming the module that was changed (the others are sound). In a child process with a
// deadline, so that a hang fails the test; the child prints the first cases that went wrong.
TEST(DamagedGeoreference, EveryByteOfEveryModule) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const int wrong = exitStatusInChild(
        [&] {
            int failures = 0;
            for (const char* prefix : {"7172-duluth-mn/7172", "3814-black-forest-co/3814"}) {
                const char* labels[] = {"IREF", "LDEF", "RSDF", "XREF", "DDSH", "DDOM"};
                std::vector<std::string> sound;
                for (const char* label : labels) {
                    std::string suffix = label;
                    for (char& c : suffix) c = static_cast<char>(c - 'A' + 'a');
                    sound.push_back(readFile(usgs / (prefix + suffix + ".ddf")));
                }
                for (std::size_t m = 0; m < sound.size(); ++m) {
                    for (std::size_t at = 0; at < sound[m].size(); ++at) {
                        for (const char byte : {'\x1e', '\x1f', '\0', '0', '9', 'R', ' ', '!'}) {
                            if (sound[m][at] == byte) continue;
                            std::array<ModuleSource, 6> held;
                            for (std::size_t i = 0; i < held.size(); ++i) {
                                std::string bytes = sound[i];
                                if (i == m) bytes[at] = byte;
                                held[i] = ModuleSource(labels[i],
                                                       std::make_shared<const std::string>(bytes));
                            }
                            TransferModules t;
                            t.iref = held[0];
                            t.ldef = held[1];
                            t.rsdf = held[2];
                            t.xref = held[3];
                            t.ddsh = held[4];
                            t.ddom = held[5];
                            const marlwood::Result<Georeference> r = readGeoreference(t);
                            const std::string error = r ? "" : r.message();
                            const bool fine = r || (error.find(std::string(labels[m]) +
                                                               " module") != std::string::npos &&
                                                    error.find('\n') == std::string::npos);
                            if (!fine && ++failures <= 5) {
                                std::fprintf(stderr, "%s%s byte %zu set to %d: \"%s\"\n", prefix,
                                             labels[m], at, byte, error.c_str());
                            }
                        }
                    }
                }
            }
            return std::min(failures, 250);
        },
        120);
    EXPECT_EQ(wrong, 0) << (wrong == -1 ? "still reading after 120 s" : "cases went wrong");
}

}  // namespace
}  // namespace marlwood::hostile
