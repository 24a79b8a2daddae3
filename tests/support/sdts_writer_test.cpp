#include "sdts_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "files.h"
#include "quad_terrain.h"
#include "test_data.h"

namespace marlwood::testsupport {
namespace {

// The tests walk the bytes the way the program does: by record lengths, base addresses and
// terminators, never by parsing the descriptive records.

int number(const std::string& bytes, std::size_t at, std::size_t width) {
    return std::stoi(bytes.substr(at, width));
}

// Offset of the first data record's field area.
std::size_t firstFieldArea(const std::string& module) {
    const auto record = static_cast<std::size_t>(number(module, 0, 5));
    return record + static_cast<std::size_t>(number(module, record + 12, 5));
}

// The bytes after the first field and then `subfields` unit terminators of the first data record.
std::string afterSubfields(const std::string& module, int subfields) {
    std::size_t at = module.find(kFieldTerminator, firstFieldArea(module)) + 1;
    for (int i = 0; i < subfields; ++i) at = module.find(kUnitTerminator, at) + 1;
    return module.substr(at);
}

Transfer grid(int rows, int columns, CellFormat format, Cel0Layout layout) {
    return makeQuad(rows, columns, format, 30, "7018", layout);
}

TEST(SdtsWriterTest, MetadataSitsWhereTheProgramLooks) {
    struct Case {
        int rows, columns;
        CellFormat format;
        int spacing;
        const char* formatText;
        const char* spacingText;
    };
    const Case cases[] = {
        {3, 5, CellFormat::Bi16, 30, "BI16\x1f", "30.00000000\x1f"},
        {1391, 1087, CellFormat::Bfp32, 10, "BFP32\x1f", "10.00000000\x1f"},
        {99999, 1, CellFormat::Bi16, 10, "BI16\x1f", "10.00000000\x1f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.columns));
        Transfer t;
        t.rows = c.rows;
        t.columns = c.columns;
        t.format = c.format;
        t.spacing_m = c.spacing;
        t.layout = Cel0Layout::RThenLeaderless;
        t.elevations.assign(static_cast<std::size_t>(c.rows) * c.columns, 0.0);
        const ModuleSet m = buildModules(t);

        const std::string size =
            std::to_string(c.rows) + '\x1f' + std::to_string(c.columns) + '\x1f';
        EXPECT_EQ(m.at("ldef.ddf").substr(267, size.size()), size);
        const std::string format = c.formatText;
        EXPECT_EQ(afterSubfields(m.at("ddsh.ddf"), 6).substr(0, format.size()), format);
        EXPECT_EQ(afterSubfields(m.at("iref.ddf"), 10).substr(0, 12), c.spacingText);
    }
}

TEST(SdtsWriterTest, SpdmLastEntryLocatesTheCorners) {
    Transfer t = grid(2, 2, CellFormat::Bi16, Cel0Layout::AllD);
    t.corners = {1.5, -2.25, 3.0, 4650012.37, 5.125, 6.0, 7.0, 8.0};
    const std::string spdm = buildModules(t).at("spdm.ddf");

    const auto record = static_cast<std::size_t>(number(spdm, 0, 5));
    const auto base = static_cast<std::size_t>(number(spdm, record + 12, 5));
    // The last two position digits and the directory's terminator give the last field's place.
    ASSERT_EQ(spdm[record + base - 1], kFieldTerminator);
    const auto position = static_cast<std::size_t>(number(spdm, record + base - 3, 2));
    EXPECT_EQ(spdm.substr(record + base + position),
              "1.50000000\x1f-2.25000000\x1f"
              "3.00000000\x1f"
              "4650012.37000000\x1f"
              "5.12500000\x1f"
              "6.00000000\x1f"
              "7.00000000\x1f"
              "8.00000000\x1e");
}

std::int64_t cellValue(const std::string& bytes, std::size_t at, CellFormat format) {
    if (format == CellFormat::Bi16) {
        const auto u = static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                                  static_cast<unsigned char>(bytes[at + 1]));
        return static_cast<std::int16_t>(u);
    }
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u = (u << 8) | static_cast<unsigned char>(bytes[at + i]);
    return u;
}

std::int64_t expectedCell(const Transfer& t, std::size_t i) {
    if (t.format == CellFormat::Bi16) return std::lround(t.elevations[i]);
    return std::bit_cast<std::uint32_t>(static_cast<float>(t.elevations[i]));
}

// Checks the fixed-width record id and CELL fields and the row's values at `at`.
void expectRowFields(const std::string& cel0, std::size_t at, const Transfer& t, int row) {
    char head[48];
    std::snprintf(head, sizeof head,
                  "%07d\x1e"
                  "CEL0%05d%05d00001\x1e",
                  row + 1, row + 1, row + 1);
    EXPECT_EQ(cel0.substr(at, 28), head) << "row " << row;
    const std::size_t size = t.format == CellFormat::Bi16 ? 2 : 4;
    for (int col = 0; col < t.columns; ++col) {
        EXPECT_EQ(cellValue(cel0, at + 28 + col * size, t.format),
                  expectedCell(t, static_cast<std::size_t>(row * t.columns + col)))
            << "row " << row << " column " << col;
    }
    EXPECT_EQ(cel0[at + 28 + t.columns * size], kFieldTerminator) << "row " << row;
}

TEST(SdtsWriterTest, Cel0RecordsHaveTheLayoutTheDecoderWalks) {
    const Transfer cases[] = {
        grid(3, 5, CellFormat::Bi16, Cel0Layout::AllD),
        grid(4, 249, CellFormat::Bfp32, Cel0Layout::AllD),
        grid(3, 5, CellFormat::Bi16, Cel0Layout::RThenLeaderless),
        grid(3, 5, CellFormat::Bfp32, Cel0Layout::RThenLeaderless),
        grid(2, 2600, CellFormat::Bfp32, Cel0Layout::RThenLeaderless),
    };
    for (const Transfer& t : cases) {
        SCOPED_TRACE(std::to_string(t.rows) + "x" + std::to_string(t.columns));
        const std::string cel0 = buildModules(t).at("cel0.ddf");
        const std::size_t size = t.format == CellFormat::Bi16 ? 2 : 4;
        const std::size_t valuesLength = t.columns * size + 1;
        std::size_t at = static_cast<std::size_t>(number(cel0, 0, 5));
        for (int row = 0; row < t.rows; ++row) {
            const bool leaderless = t.layout == Cel0Layout::RThenLeaderless && row > 0;
            if (leaderless) {
                expectRowFields(cel0, at, t, row);
                at += 8 + 20 + valuesLength;
                continue;
            }
            const auto base = static_cast<std::size_t>(number(cel0, at + 12, 5));
            // Entry-map widths, then the last directory entry just before the terminator. 'D'
            // records have 3 and 3, the 'R' record as many length digits as its values field
            // needs but at least 3, and 2 position digits.
            const std::size_t ls =
                t.layout == Cel0Layout::AllD
                    ? 3
                    : std::max<std::size_t>(3, std::to_string(valuesLength).size());
            const std::size_t ps = t.layout == Cel0Layout::AllD ? 3 : 2;
            EXPECT_EQ(cel0[at + 6], t.layout == Cel0Layout::AllD ? 'D' : 'R');
            EXPECT_EQ(cel0[at + 20] - '0', static_cast<int>(ls));
            EXPECT_EQ(cel0[at + 21] - '0', static_cast<int>(ps));
            ASSERT_EQ(cel0[at + base - 1], kFieldTerminator);
            EXPECT_EQ(number(cel0, at + base - 1 - ps - ls, ls), static_cast<int>(valuesLength));
            EXPECT_EQ(number(cel0, at + base - 1 - ps, ps), 28);
            EXPECT_EQ(number(cel0, at, 5), static_cast<int>(base + 28 + valuesLength));
            expectRowFields(cel0, at + base, t, row);
            at += base + 28 + valuesLength;
        }
        EXPECT_EQ(at, cel0.size());
    }
}

TEST(SdtsWriterTest, BitPatternsAreWrittenAsGiven) {
    Transfer t = grid(1, 3, CellFormat::Bfp32, Cel0Layout::AllD);
    t.bfp32_bits = {0x7FC00001u, 0x80000000u, 0x00000001u};  // a NaN, -0, a subnormal
    const std::string cel0 = buildModules(t).at("cel0.ddf");
    EXPECT_EQ(cel0.substr(cel0.size() - 13),
              std::string("\x7f\xc0\x00\x01\x80\x00\x00\x00\x00\x00\x00\x01\x1e", 13));
}

TEST(SdtsWriterTest, MaxColumnsIsTheWidestGridThatBuilds) {
    struct Case {
        CellFormat format;
        Cel0Layout layout;
        int expected;
    };
    const Case cases[] = {
        {CellFormat::Bi16, Cel0Layout::AllD, 499},
        {CellFormat::Bfp32, Cel0Layout::AllD, 249},
        {CellFormat::Bi16, Cel0Layout::RThenLeaderless, 49956},
        {CellFormat::Bfp32, Cel0Layout::RThenLeaderless, 24978},
    };
    for (const Case& c : cases) {
        const int widest = maxColumns(c.format, c.layout);
        EXPECT_EQ(widest, c.expected);
        const std::string cel0 = buildModules(grid(1, widest, c.format, c.layout)).at("cel0.ddf");
        EXPECT_LE(number(cel0, number(cel0, 0, 5), 5), 99999);
        EXPECT_THROW(buildModules(grid(1, widest + 1, c.format, c.layout)), std::invalid_argument);
    }
}

// The synthetic modules for a grid shaped like a real USGS transfer are that transfer's bytes.
TEST(SdtsWriterTest, MatchesRealUsgsModules) {
    MARLWOOD_REQUIRE_USGS_DATA(data);

    struct Case {
        const char* dir;
        const char* id;
        int rows, columns;
        CellFormat format;
        int spacing;
        const char* units;
        std::array<double, 8> corners;
        bool hasCel0;
        int zone;
        const char* datum;
        const char* shift;  // the vertical datum shift XREF's comment gives
        std::optional<double> min_elevation, max_elevation;  // DDOM, when there is no CEL0
    };
    const Case cases[] = {
        {"7172-duluth-mn",
         "7172",
         467,
         323,
         CellFormat::Bi16,
         30,
         "FEET",
         {566833.988109, 5177536.415092, 566679.311281, 5191426.592606, 576204.860301,
          5191540.360169, 576381.637633, 5177650.213333},
         true,
         15,
         "NAS",
         "0.08",
         std::nullopt,
         std::nullopt},
        {"3814-black-forest-co",
         "3814",
         1391,
         1087,
         CellFormat::Bfp32,
         10,
         "METERS",
         {521647.952807, 4316806.290021, 521609.810973, 4330677.850920, 532414.742954,
          4330715.038098, 532471.956305, 4316843.442831},
         false,
         13,
         "NAX",
         "1.22",
         2113.0,
         2348.42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        const std::string prefix = (data / c.dir / c.id).string();
        Transfer t;
        t.rows = c.rows;
        t.columns = c.columns;
        t.format = c.format;
        t.layout = Cel0Layout::RThenLeaderless;
        t.spacing_m = c.spacing;
        t.units = c.units;
        t.corners = c.corners;
        t.file_id = c.id;
        t.zone = c.zone;
        t.datum = c.datum;
        t.xref_comment =
            std::string("National Geodetic Vertical Datum 1929 Vertical Datum Shift = ") + c.shift +
            "; always add to convert from National Geodetic Vertical Datum 1929 to "
            "North American Vertical Datum 1988.";
        t.min_elevation = c.min_elevation;
        t.max_elevation = c.max_elevation;
        t.elevations.assign(static_cast<std::size_t>(c.rows) * c.columns, 0.0);
        std::string realCel0;
        if (c.hasCel0) {
            // Take the real values: the 'R' record's at B + 28, every later row's one field
            // area further on.
            realCel0 = readFile(prefix + "cel0.ddf");
            std::size_t at = firstFieldArea(realCel0) + 28;
            for (int row = 0; row < c.rows; ++row, at += 28 + 2 * c.columns + 1) {
                for (int col = 0; col < c.columns; ++col) {
                    t.elevations[static_cast<std::size_t>(row * c.columns + col)] =
                        static_cast<double>(cellValue(realCel0, at + 2 * col, c.format));
                }
            }
        }
        const ModuleSet m = buildModules(t);
        for (const char* suffix :
             {"ldef.ddf", "ddsh.ddf", "iref.ddf", "spdm.ddf", "rsdf.ddf", "xref.ddf", "ddom.ddf"}) {
            EXPECT_EQ(m.at(suffix), readFile(prefix + suffix)) << suffix;
        }
        if (c.hasCel0) {
            EXPECT_TRUE(m.at("cel0.ddf") == realCel0) << "cel0.ddf differs";
        }
    }
}

}  // namespace
}  // namespace marlwood::testsupport
