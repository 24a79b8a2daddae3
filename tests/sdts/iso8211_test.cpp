#include "sdts/iso8211.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "files.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "test_data.h"

namespace marlwood::iso8211 {
namespace {

// The line a failed read gives; empty when it did not fail.
template <class T>
std::string errorOf(const Result<T>& result) {
    return result ? std::string() : result.message();
}

namespace fs = std::filesystem;
namespace ts = testsupport;
using namespace std::string_literals;

// ---- Format controls

std::string render(const std::vector<SubfieldFormat>& formats) {
    std::string text;
    for (const SubfieldFormat& f : formats) {
        if (!text.empty()) text += ' ';
        text += f.code;
        if (f.width > 0) text += std::to_string(f.width);
        if (f.binary != Binary::None)
            text += f.binary == Binary::Unsigned ? "u" : f.binary == Binary::Signed ? "s" : "f";
    }
    return text;
}

TEST(Iso8211Formats, ExpandRepeatsGroupsAndWidths) {
    const struct {
        std::string text;
        std::string expected;  // the formats rendered, or a piece of the error
        bool ok;
    } cases[] = {
        {"(A,I,4A,6R)", "A I A A A A R R R R R R", true},
        {"(A(4),3I(5))", "A4 I5 I5 I5", true},
        {"(2R)", "R R", true},
        {"(B(16))", "B2s", true},
        {"(B(32))", "B4s", true},
        {"(b11,b12,b24,b28,b44,b48)", "b1u b2u b4s b8s b4f b8f", true},
        {"(A,2(I,R(3)),S,C(2))", "A I R3 I R3 S C2", true},
        {"(A(99999))", "A99999", true},
        {"", "", true},
        {"()", "", true},
        {"A,I", "'(' expected at character 1", false},
        {"(A", "',' or ')' expected at character 3", false},
        {"(A,)", "unknown format \")\"", false},
        {"(Q)", "unknown format \"Q\"", false},
        {"(A)x", "\"x\" after the closing parenthesis", false},
        {"(0A)", "a repeat count of 0", false},
        {"(A(0))", "a width of 0", false},
        {"(A(100000))", "a number larger than 99999", false},
        {"(A(4)", "',' or ')' expected", false},
        {"(A(4,I)", "')' expected after a width", false},
        {"(B)", "B without a width in bits", false},
        {"(B(12))", "B(12) is no whole number of bytes", false},
        {"(B(72))", "a number larger than 64", false},
        {"(b1)", "b without its two digits", false},
        {"(b34)", "unsupported binary form b34", false},
        {"(b43)", "unsupported binary form b43", false},
        {"(b23)", "unsupported binary form b23", false},
        {"(3", "the text ends where a format is expected", false},
    };
    for (const auto& c : cases) {
        const Result<std::vector<SubfieldFormat>> parsed = parseFormatControls(c.text);
        if (c.ok) {
            ASSERT_TRUE(parsed) << c.text << ": " << errorOf(parsed);
            EXPECT_EQ(render(*parsed), c.expected) << c.text;
        } else {
            EXPECT_FALSE(parsed) << c.text;
            EXPECT_NE(errorOf(parsed).find(c.expected), std::string::npos)
                << c.text << ": " << errorOf(parsed);
        }
    }
}

// The subfield cap and the nesting cap hold at their limit and refuse one more.
TEST(Iso8211Formats, CapsSubfieldsAndNestingBeforeExpanding) {
    const std::string nine_deep = "(((((((((A)))))))))";
    const struct {
        std::string text;
        std::size_t count;  // 0: refused
    } cases[] = {
        {"(1024A)", 1024},
        {"(1025A)", 0},
        {"(512(A,I))", 1024},
        {"(512(A,I),A)", 0},
        {"(8(8(8(2A))))", 1024},
        {"(8(8(8(8(A)))))", 0},
        {nine_deep.substr(1, 17), 1},  // eight groups deep
        {nine_deep, 0},
    };
    for (const auto& c : cases) {
        const Result<std::vector<SubfieldFormat>> parsed = parseFormatControls(c.text);
        EXPECT_EQ(parsed ? parsed->size() : 0, c.count) << c.text << errorOf(parsed);
    }
}

// ---- Leader and directory

// The leaders of the real IREF module: its descriptive record, then its one data record.
const std::string kDdrLeader = "002072L 1 0600052   3204";
const std::string kDataLeader = "00151 D 1   00041   3104";

TEST(Iso8211Leader, ReadsExactlyTwentyFourBytes) {
    const Result<Leader> ddr = parseLeader(kDdrLeader, true);
    ASSERT_TRUE(ddr) << errorOf(ddr);
    EXPECT_EQ(ddr->record_length, 207u);
    EXPECT_EQ(ddr->leader_id, 'L');
    EXPECT_EQ(ddr->field_control_length, 6u);
    EXPECT_EQ(ddr->base_address, 52u);
    EXPECT_EQ(ddr->length_width, 3u);
    EXPECT_EQ(ddr->position_width, 2u);
    EXPECT_EQ(ddr->tag_width, 4u);

    const Result<Leader> data = parseLeader(kDataLeader, false);
    ASSERT_TRUE(data) << errorOf(data);
    EXPECT_EQ(data->record_length, 151u);
    EXPECT_EQ(data->leader_id, 'D');
    EXPECT_EQ(data->base_address, 41u);
    EXPECT_EQ(data->length_width, 3u);
    EXPECT_EQ(data->position_width, 1u);

    const Result<Leader> short_one = parseLeader(kDataLeader.substr(0, 23), false);
    EXPECT_FALSE(short_one);
    EXPECT_EQ(errorOf(short_one), "a leader needs 24 bytes, 23 left");
}

TEST(Iso8211Leader, RefusesNumbersThatAreNoneOrDisagree) {
    const struct {
        bool descriptive;
        std::size_t at;
        std::string bytes;
        std::string error;  // empty: accepted
    } cases[] = {
        {false, 0, "0015x", "record length \"0015x\" is not five digits"},
        {false, 6, "X", "leader identifier \"X\", neither D nor R"},
        {false, 6, "R", ""},
        {true, 6, "D", "leader identifier \"D\", not L"},
        {true, 10, " 6", "field control length \" 6\" is not two digits"},
        {false, 12, "0004-", "base address \"0004-\" is not five digits"},
        {false, 20, "0", "entry map \"0104\" does not give three widths of 1 to 9"},
        {false, 23, "A", "entry map \"310A\" does not give three widths of 1 to 9"},
        {false, 12, "00024", "base address 24 is outside 25..151, the record's length"},
        {false, 12, "00025", ""},  // an empty directory
        {false, 12, "00151", ""},  // an empty field area
        {false, 12, "00152", "base address 152 is outside 25..151, the record's length"},
        {false, 0, "00024", "base address 41 is outside 25..24, the record's length"},
    };
    for (const auto& c : cases) {
        std::string leader = c.descriptive ? kDdrLeader : kDataLeader;
        leader.replace(c.at, c.bytes.size(), c.bytes);
        const Result<Leader> parsed = parseLeader(leader, c.descriptive);
        EXPECT_EQ(errorOf(parsed), c.error) << leader;
        EXPECT_EQ(parsed.ok(), c.error.empty()) << leader;
    }
}

// A record as the writer lays it out: leader, directory of two fields, field area.
std::string twoFieldRecord() {
    return ts::dataRecord('D', {{"0001", "0000001\x1e"},
                                {"IREF",
                                 "IREF\x1f"
                                 "1\x1e"}});
}

TEST(Iso8211Directory, FieldsFitTheAreaExactlyOrAreRefused) {
    const std::string record = twoFieldRecord();
    const Leader leader = parseLeader(record, false).value();
    const Result<std::vector<DirectoryEntry>> entries = parseDirectory(record, leader);
    ASSERT_TRUE(entries) << errorOf(entries);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[1].tag, "IREF");
    EXPECT_EQ((*entries)[1].position, 8u);
    // The last field ends exactly at the end of the record.
    EXPECT_EQ(leader.base_address + 8 + (*entries)[1].length, record.size());

    // Directory "0001" 8 0 then "IREF" 7 8 (one digit each), its terminator at 36.
    ASSERT_EQ(record.substr(24, 13), "000180IREF78\x1e");
    const struct {
        std::size_t at;
        std::string bytes;
        std::string error;
    } cases[] = {
        {34, "8", "field \"IREF\" at 8, 8 bytes long, lies outside the field area of 15 bytes"},
        {35, "9", "field \"IREF\" at 9, 7 bytes long, lies outside the field area of 15 bytes"},
        {28, "0", "field \"0001\" has length 0"},
        {29, "x", "directory entry \"00018x\" holds no length and position digits"},
        {36, "\x1f", "the directory does not end with a field terminator at byte 36"},
        {20, "2", "a directory of 12 bytes is no whole number of 7-byte entries"},
    };
    for (const auto& c : cases) {
        std::string damaged = record;
        damaged.replace(c.at, c.bytes.size(), c.bytes);
        const Result<Leader> l = parseLeader(damaged, false);
        ASSERT_TRUE(l) << errorOf(l);
        const Result<std::vector<DirectoryEntry>> parsed = parseDirectory(damaged, *l);
        EXPECT_FALSE(parsed);
        EXPECT_EQ(errorOf(parsed), c.error);
    }
}

// ---- Field descriptions and subfields

FieldDescription describe(const std::string& tag, const std::string& labels,
                          const std::string& formats) {
    const Result<FieldDescription> parsed =
        parseFieldDescription(tag, ts::fieldDescription("1600;&", "A field", labels, formats), 6);
    EXPECT_TRUE(parsed) << errorOf(parsed);
    return (parsed ? *parsed : FieldDescription{});
}

TEST(Iso8211Description, ControlsNameLabelsAndFormats) {
    const FieldDescription iref = describe("IREF", "MODN!RCID!SFAX", "(A,I,R)");
    EXPECT_EQ(iref.controls, "1600;&");
    EXPECT_EQ(iref.name, "A field");
    EXPECT_EQ(iref.labels, (std::vector<std::string>{"MODN", "RCID", "SFAX"}));
    EXPECT_FALSE(iref.repeating);
    EXPECT_EQ(render(iref.formats), "A I R");
    const FieldDescription cvls = describe("CVLS", "*ELEVATION", "(B(16))");
    EXPECT_TRUE(cvls.repeating);
    EXPECT_EQ(cvls.labels, (std::vector<std::string>{"ELEVATION"}));
    // The record identifier field: a name only.
    const FieldDescription id = describe("0001", "", "");
    EXPECT_TRUE(id.labels.empty() && id.formats.empty());
    // The file control field: a name, then field tag pairs, which are no subfield labels.
    const FieldDescription control = describe("0000", "0001DDSH0001DDOM", "");
    EXPECT_TRUE(control.labels.empty() && control.formats.empty());
    EXPECT_EQ(control.name, "A field");

    const struct {
        std::string bytes;
        std::size_t controls;
        std::string error;
    } cases[] = {
        {"1600;&N\x1f"
         "A!B\x1f(A)\x1e",
         6, "field \"TAGS\": 2 subfield labels but 1 formats"},
        {"1600;&N\x1f"
         "A!!B\x1f(3A)\x1e",
         6, "field \"TAGS\": an empty subfield label"},
        {"1600;&N\x1f"
         "A\x1f(A)",
         6, "its description does not end with a field terminator"},
        {"1600;\x1e", 6, "shorter than the 6 bytes of field controls"},
        {"1600;&\x1e", 6, ""},
        {"1600;&N\x1f"
         "A\x1f(Q)\x1e",
         6, "format controls \"(Q)\": unknown format"},
        {"1600;&N\x1f"
         "A" +
             std::string(1024, '!') + "\x1f\x1e",
         6, "more than 1024 subfield labels"},
    };
    for (const auto& c : cases) {
        const Result<FieldDescription> parsed = parseFieldDescription("TAGS", c.bytes, c.controls);
        EXPECT_EQ(parsed.ok(), c.error.empty()) << errorOf(parsed);
        EXPECT_NE(errorOf(parsed).find(c.error), std::string::npos) << errorOf(parsed);
    }
}

std::vector<std::string> texts(const Result<std::vector<Subfield>>& subfields) {
    std::vector<std::string> out;
    for (const Subfield& s : (subfields ? *subfields : std::vector<Subfield>{})) {
        out.push_back(std::string(s.label) + "=" + std::string(s.bytes));
    }
    return out;
}

TEST(Iso8211Subfields, FixedWidthsFitExactlyOrAreShort) {
    const FieldDescription cell = describe("CELL", "MODN!RCID!ROWI!COLI", "(A(4),3I(5))");
    const Result<std::vector<Subfield>> exact = splitSubfields({&cell, "CEL0000120001200001"});
    EXPECT_EQ(texts(exact),
              (std::vector<std::string>{"MODN=CEL0", "RCID=00012", "ROWI=00012", "COLI=00001"}));
    const Result<std::vector<Subfield>> short_one = splitSubfields({&cell, "CEL000012000120000"});
    EXPECT_FALSE(short_one);
    EXPECT_EQ(errorOf(short_one), "field CELL: subfield COLI needs 5 bytes, 4 left");

    // A repeating field reads whole rounds to the end of its data.
    const FieldDescription cvls = describe("CVLS", "*ELEVATION", "(B(16))");
    const std::string values("\x02\x5a\xff\x85\x80\x00", 6);
    const Result<std::vector<Subfield>> three = splitSubfields({&cvls, values});
    ASSERT_TRUE(three);
    ASSERT_EQ(three->size(), 3u);
    EXPECT_EQ(integerValue((*three)[0]), 602);
    EXPECT_EQ(integerValue((*three)[1]), -123);
    EXPECT_EQ(integerValue((*three)[2]), -32768);
    const Result<std::vector<Subfield>> odd = splitSubfields({&cvls, values.substr(0, 5)});
    EXPECT_EQ(errorOf(odd), "field CVLS: subfield ELEVATION needs 2 bytes, 1 left");
}

TEST(Iso8211Subfields, VariableWidthsEndAtTerminators) {
    const FieldDescription iref = describe("IREF", "MODN!RCID!XHRS", "(A,I,R)");
    const struct {
        std::string data;
        std::vector<std::string> expected;  // empty: refused
    } cases[] = {
        {"IREF\x1f"
         "1\x1f"
         "30.0",
         {"MODN=IREF", "RCID=1", "XHRS=30.0"}},
        {"IREF\x1f"
         "1\x1f",
         {"MODN=IREF", "RCID=1", "XHRS="}},
        {"\x1f\x1f", {"MODN=", "RCID=", "XHRS="}},
        {"IREF\x1f"
         "1\x1f"
         "30\x1f"
         "99",
         {"MODN=IREF", "RCID=1", "XHRS=30"}},  // rest ignored
        {"IREF\x1f"
         "1",
         {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        const Result<std::vector<Subfield>> parsed = splitSubfields({&iref, c.data});
        EXPECT_EQ(texts(parsed), c.expected);
        if (c.expected.empty()) {
            EXPECT_NE(errorOf(parsed).find("ends before its subfield"), std::string::npos);
        }
    }
    const Field field{&iref,
                      "IREF\x1f"
                      "1\x1f"
                      "30.0"};
    EXPECT_EQ(findSubfield(field, "RCID")->bytes, "1");
    EXPECT_EQ(errorOf(findSubfield(field, "SFAX")), "field IREF has no subfield \"SFAX\"");
    // Found before the damage after it.
    EXPECT_EQ(findSubfield({&iref, "IREF"}, "MODN")->bytes, "IREF");
}

TEST(Iso8211Values, TextAndBinaryNumbers) {
    const struct {
        std::string format;
        std::string bytes;
        std::optional<std::int64_t> integer;
        std::optional<double> real;
    } cases[] = {
        {"(I)", "-32767", -32767, -32767.0},
        {"(I)", " 15 ", 15, 15.0},
        {"(I)", "+42", 42, 42.0},
        {"(I)", "00012", 12, 12.0},
        {"(R)", "566700.00000000", std::nullopt, 566700.0},
        {"(R)", "-32767.00000000", std::nullopt, -32767.0},
        {"(S)", "1.5E3", std::nullopt, 1500.0},
        {"(R)", ".5", std::nullopt, 0.5},
        {"(A)", "15", 15, 15.0},
        {"(A)", "UTM", std::nullopt, std::nullopt},
        {"(R)", "", std::nullopt, std::nullopt},
        {"(R)", "12a", std::nullopt, std::nullopt},
        {"(R)", "1 2", std::nullopt, std::nullopt},
        {"(R)", "inf", std::nullopt, std::nullopt},
        {"(R)", "nan", std::nullopt, std::nullopt},
        {"(R)", "1e999", std::nullopt, std::nullopt},
        {"(R)", "+-1", std::nullopt, std::nullopt},
        {"(I)", "99999999999999999999", std::nullopt, 1e20},
        {"(B(16))", "\xff\xfe", -2, -2.0},
        {"(B(32))", "\x00\x00\x01\x00"s, 256, 256.0},
        {"(b12)", "\xfe\xff", 65534, 65534.0},
        {"(b22)", "\xfe\xff", -2, -2.0},
        {"(b14)", "\x01\x00\x00\x80"s, 0x80000001, 2147483649.0},
        {"(b18)", std::string(8, '\xff'), std::nullopt, 18446744073709551615.0},
        {"(b44)", "\x00\x00\xc0\x3f"s, std::nullopt, 1.5},
        {"(b48)", "\x00\x00\x00\x00\x00\x00\xf8\x3f"s, std::nullopt, 1.5},
        {"(b44)", "\x00\x00\xc0\x7f"s, std::nullopt, std::nullopt},  // a NaN
    };
    for (const auto& c : cases) {
        const Result<std::vector<SubfieldFormat>> format = parseFormatControls(c.format);
        ASSERT_TRUE(format && format->size() == 1) << c.format;
        const Subfield subfield{"V", &format->front(), c.bytes};
        EXPECT_EQ(integerValue(subfield), c.integer) << c.format << " " << c.bytes;
        EXPECT_EQ(realValue(subfield), c.real) << c.format << " " << c.bytes;
    }
}

// Found by fuzz_iso8211: labels and tags are bytes of the module, and a control byte among them
// must not break an error into two lines.
TEST(Iso8211FuzzFindings, ErrorsAboutOddLabelsStayOneLine) {
    const std::string module =
        ts::descriptiveRecord(
            {{"C\nTD", ts::fieldDescription("1600;&", "N", "MODN!M\nV", "(A,A)")}}) +
        ts::dataRecord('D', {{"C\nTD", "x\x1e"}});
    ModuleParser parser(module);
    Record record;
    ASSERT_TRUE(parser.next(record)) << errorOf(parser.status());
    const Field& field = record.fields.at(0);
    EXPECT_EQ(errorOf(splitSubfields(field)), "field C?TD ends before its subfield M?V");
    EXPECT_EQ(errorOf(findSubfield(field, "M\nV")), "field C?TD ends before its subfield M?V");
    EXPECT_EQ(errorOf(findSubfield(field, "\n")), "field C?TD has no subfield \"?\"");
}

// ---- Whole modules

struct Walk {
    std::size_t records = 0;
    std::size_t subfields = 0;
    std::string leader_ids;
    std::string error;
};

// Every subfield of every field of every record, as the fuzz target reads them.
Walk walk(std::string_view module) {
    Walk w;
    ModuleParser parser(module);
    Record record;
    while (parser.next(record)) {
        ++w.records;
        w.leader_ids += record.leader_id;
        for (const Field& field : record.fields) {
            const Result<std::vector<Subfield>> subfields = splitSubfields(field);
            if (!subfields) {
                w.error = errorOf(subfields);
                return w;
            }
            w.subfields += subfields->size();
        }
    }
    w.error = errorOf(parser.status());
    return w;
}

TEST(Iso8211RealModules, EveryModuleOfBothTransfersReadsToItsEnd) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const struct {
        const char* file;
        std::size_t records, subfields;
    } cases[] = {
        {"7172-duluth-mn/7172iref.ddf", 1, 12},
        {"7172-duluth-mn/7172rsdf.ddf", 1, 19},
        {"7172-duluth-mn/7172xref.ddf", 1, 10},
        {"7172-duluth-mn/7172ddsh.ddf", 1, 9},
        {"7172-duluth-mn/7172ddom.ddf", 4, 40},
        {"7172-duluth-mn/7172catd.ddf", 18, 126},
        {"7172-duluth-mn/7172stat.ddf", 18, 108},
        // 467 rows: CELL's four subfields and 323 values each.
        {"7172-duluth-mn/7172cel0.ddf", 467, 467 * (4 + 323)},
        {"3814-black-forest-co/3814ddom.ddf", 4, 40},
        {"3814-black-forest-co/3814stat.ddf", 19, 114},
    };
    for (const auto& c : cases) {
        const Walk w = walk(ts::readFile(usgs / c.file));
        EXPECT_EQ(w.error, "") << c.file;
        EXPECT_EQ(w.records, c.records) << c.file;
        EXPECT_EQ(w.subfields, c.subfields) << c.file;
    }
    // And every other module of both transfers.
    std::size_t modules = 0;
    for (const char* dir : {"7172-duluth-mn", "3814-black-forest-co"}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(usgs / dir)) {
            if (entry.path().extension() != ".ddf") continue;
            ++modules;
            const Walk w = walk(ts::readFile(entry.path()));
            EXPECT_EQ(w.error, "") << entry.path();
            EXPECT_GT(w.records, 0u) << entry.path();
        }
    }
    EXPECT_EQ(modules, 35u);
}

// The real CEL0: one 'R' record, then field areas that reuse its layout. Each row's ROWI counts
// from 1 and its 323 BI16 values hold the range the transfer's README gives (602 to 1472 FEET,
// besides the void and fill values).
TEST(Iso8211RealModules, DuluthCel0RowsAndValues) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const std::string cel0 = ts::readFile(usgs / "7172-duluth-mn/7172cel0.ddf");
    ModuleParser parser(cel0);
    ASSERT_EQ(parser.descriptions().size(), 4u);
    EXPECT_EQ(parser.descriptions()[2].tag, "CELL");
    EXPECT_EQ(render(parser.descriptions()[2].formats), "A4 I5 I5 I5");
    Record record;
    std::int64_t row = 0, low = INT64_MAX, high = INT64_MIN, no_data = 0;
    while (parser.next(record)) {
        ++row;
        EXPECT_EQ(record.leader_id, row == 1 ? 'R' : ' ');
        const Field* cell = record.find("CELL");
        const Field* cvls = record.find("CVLS");
        ASSERT_TRUE(cell && cvls);
        EXPECT_EQ(integerValue(findSubfield(*cell, "ROWI").value()), row);
        const std::vector<Subfield> values = splitSubfields(*cvls).value();
        ASSERT_EQ(values.size(), 323u);
        for (const Subfield& v : values) {
            const std::int64_t elevation = *integerValue(v);
            if (elevation == -32767 || elevation == -32766) {
                ++no_data;
                continue;
            }
            low = std::min(low, elevation);
            high = std::max(high, elevation);
        }
    }
    EXPECT_EQ(errorOf(parser.status()), "");
    EXPECT_EQ(row, 467);
    EXPECT_EQ(low, 602);
    EXPECT_EQ(high, 1472);
    EXPECT_GT(no_data, 0);
}

// The writer's CEL0 in both layouts and both formats reads back as the elevations written.
TEST(Iso8211SyntheticModules, Cel0ValuesReadBackInEveryLayout) {
    for (const ts::CellFormat format : {ts::CellFormat::Bi16, ts::CellFormat::Bfp32}) {
        for (const ts::Cel0Layout layout :
             {ts::Cel0Layout::AllD, ts::Cel0Layout::RThenLeaderless}) {
            const ts::Transfer t = ts::makeQuad(7, 5, format, 30, "7018", layout);
            const std::string cel0 = ts::buildModules(t).at("cel0.ddf");
            ModuleParser parser(cel0);
            Record record;
            std::size_t i = 0;
            std::string leaders;
            while (parser.next(record)) {
                leaders += record.leader_id;
                const Result<std::vector<Subfield>> values = splitSubfields(*record.find("CVLS"));
                for (const Subfield& v : values.value()) {
                    const float expected = static_cast<float>(t.elevations.at(i++));
                    const std::int64_t bits = *integerValue(v);
                    if (format == ts::CellFormat::Bi16) {
                        EXPECT_EQ(bits, std::lround(expected));
                    } else {
                        EXPECT_EQ(std::bit_cast<float>(static_cast<std::uint32_t>(bits)), expected);
                    }
                }
            }
            EXPECT_EQ(errorOf(parser.status()), "");
            EXPECT_EQ(i, t.elevations.size());
            EXPECT_EQ(leaders, layout == ts::Cel0Layout::AllD ? "DDDDDDD" : "R      ");
        }
    }
}

// ---- Damaged modules

// Where each record ends: the descriptive record, then each data record by its leader's length
// ('D' records only, as in the metadata modules).
std::set<std::size_t> recordEnds(const std::string& module) {
    std::set<std::size_t> ends;
    for (std::size_t at = 0; at + 5 <= module.size();) {
        at += static_cast<std::size_t>(std::stoul(module.substr(at, 5)));
        ends.insert(at);
    }
    return ends;
}

// A module cut anywhere reads to its end when the cut falls between records, and gives an error
// otherwise: never a crash, never a record made of what is not there.
TEST(Iso8211Damaged, EveryCutOfTheRealModules) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    for (const char* file : {"7172-duluth-mn/7172iref.ddf", "7172-duluth-mn/7172rsdf.ddf",
                             "7172-duluth-mn/7172xref.ddf", "7172-duluth-mn/7172ddsh.ddf",
                             "7172-duluth-mn/7172ddom.ddf", "3814-black-forest-co/3814ddom.ddf",
                             "7172-duluth-mn/7172catd.ddf"}) {
        const std::string module = ts::readFile(usgs / file);
        const std::set<std::size_t> ends = recordEnds(module);
        ASSERT_EQ(*ends.rbegin(), module.size()) << file;
        for (std::size_t cut = 0; cut < module.size(); ++cut) {
            const Walk w = walk(std::string_view(module).substr(0, cut));
            EXPECT_EQ(w.error.empty(), ends.count(cut) == 1)
                << file << " cut to " << cut << " bytes: " << w.error;
        }
    }
    // The CEL0 every 1009 bytes, and either side of its first record ends: the descriptive record
    // is 188 bytes, the 'R' record 727, each further row 675.
    const std::string cel0 = ts::readFile(usgs / "7172-duluth-mn/7172cel0.ddf");
    const auto between = [](std::size_t cut) {
        return cut == 188 || (cut >= 188 + 727 && (cut - 188 - 727) % 675 == 0);
    };
    std::set<std::size_t> cuts;
    for (std::size_t cut = 0; cut < cel0.size(); cut += 1009) cuts.insert(cut);
    for (const std::size_t end : {188u, 915u, 1590u, 2265u}) cuts.insert({end - 1, end, end + 1});
    for (const std::size_t cut : cuts) {
        const Walk w = walk(std::string_view(cel0).substr(0, cut));
        EXPECT_EQ(w.error.empty(), between(cut)) << "CEL0 cut to " << cut << ": " << w.error;
    }
}

// Lengths and addresses that lie by one byte, in the real IREF module (descriptive record 207
// bytes, then a 151-byte 'D' record with base address 41 and fields 0001 and IREF).
TEST(Iso8211Damaged, LengthsThatLie) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const std::string iref = ts::readFile(usgs / "7172-duluth-mn/7172iref.ddf");
    ASSERT_EQ(iref.substr(207, 24), kDataLeader);
    const struct {
        std::size_t at;
        std::string bytes;
        std::string error;
    } cases[] = {
        {0, "00206",
         "descriptive record: field \"IREF\" at 50, 105 bytes long, lies outside the field area of "
         "154 bytes"},
        {0, "00208", "record 1 (byte 208): record length \"0151 \" is not five digits"},
        {0, "99999", "descriptive record: 99999 bytes long, but the module holds 358"},
        {12, "00051",
         "descriptive record: the directory does not end with a field terminator at byte 50"},
        {207, "00150",
         "record 1 (byte 207): field \"IREF\" at 8, 102 bytes long, lies outside the field area of "
         "109 bytes"},
        {207, "00152", "record 1 (byte 207): 152 bytes long, 151 left"},
        {207 + 12, "00042",
         "record 1 (byte 207): the directory does not end with a field terminator at byte 41"},
        {207 + 36, "103", "record 1 (byte 207): field \"IREF\" at 8, 103 bytes long, lies outside"},
        {207 + 36, "101",
         "record 1 (byte 207): field \"IREF\" does not end with a field terminator"},
        {207 + 32, "IREG",
         "record 1 (byte 207): field \"IREG\" is not described in the descriptive record"},
        {207 + 6, "R", ""},  // one 'R' record whose layout nothing follows
    };
    for (const auto& c : cases) {
        std::string damaged = iref;
        damaged.replace(c.at, c.bytes.size(), c.bytes);
        const Walk w = walk(damaged);
        EXPECT_EQ(w.error.substr(0, c.error.size()), c.error) << c.at << " " << c.bytes;
        if (!c.error.empty()) {
            EXPECT_NE(w.error, "");
        }
    }
    // A failed read stays failed: the reader never walks on from where it could not read.
    std::string lying = iref;
    lying.replace(207, 5, "00150");
    ModuleParser parser(lying);
    Record record;
    EXPECT_FALSE(parser.next(record));
    const std::string first_error = errorOf(parser.status());
    EXPECT_FALSE(parser.next(record));
    EXPECT_EQ(errorOf(parser.status()), first_error);
    EXPECT_TRUE(record.fields.empty());
}

}  // namespace
}  // namespace marlwood::iso8211
