#include "sdts/record_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "dialogue_text.h"
#include "expected_output.h"
#include "quad_terrain.h"
#include "sdts_writer.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

std::string bi16(std::int32_t v) {
    return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
std::string bfp32(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return {static_cast<char>(bits >> 24), static_cast<char>(bits >> 16),
            static_cast<char>(bits >> 8), static_cast<char>(bits)};
}
// Values 1, 2, 3, ... in the given format.
std::string counting(ValueType type, int count) {
    std::string bytes;
    for (int i = 1; i <= count; ++i)
        bytes += type == kBi16 ? bi16(i) : bfp32(static_cast<float>(i));
    return bytes;
}

struct Decoded {
    std::vector<std::int32_t> row;
    bool complete;
    std::string console;
    std::uint8_t next_byte;  // the first byte the next call would read
    DecoderState state;
};

Decoded decode(const std::string& bytes, ValueType type, int columns, DecoderState state = {}) {
    ModuleReader reader;
    reader.openBytes(bytes);
    Decoded d{std::vector<std::int32_t>(static_cast<std::size_t>(columns), kNoData), false, "", 0,
              state};
    ts::DialogueText console;
    d.complete = decodeRow(reader, type, d.row.data(), columns, d.state, console);
    d.console = console.str();
    d.next_byte = reader.readByte();
    return d;
}

// A 'D' record: base address 55, the last directory entry 701/026, values from byte 81.
std::string dRecord(const std::string& values, char after) {
    std::string r = "00000 D     00055       ";  // leader, bytes 0-23
    r += std::string(24, '#') + "701026\x1e";    // directory, bytes 24-54
    r += std::string(26, '.');                   // bytes 55-80
    r += values;                                 // from byte 81 = B + P
    r.resize(781, '\0');
    return r + after + "N";
}

TEST(DecodeRow, DRecordFindsTheValuesAtBasePlusPosition) {
    for (ValueType type : {kBi16, kBfp32}) {
        const int count = type == kBi16 ? 350 : 175;
        const Decoded d = decode(dRecord(counting(type, count), '\x1e'), type, count);
        EXPECT_TRUE(d.complete);
        EXPECT_EQ(d.state.values_per_record, count);
        for (int i = 0; i < count; ++i) ASSERT_EQ(d.row[static_cast<std::size_t>(i)], i + 1);
        EXPECT_EQ(d.next_byte, 'N');  // byte 781 was read after the values
        EXPECT_EQ(d.console, "");
        EXPECT_EQ(d.state.min_elevation, 1);
        EXPECT_EQ(d.state.max_elevation, count);
    }
}

// An 'R' record: base 52, entry map "32" (or "33"), length 701 at 46-48, position 26 at 49-50.
std::string rRecord(char position_digits, const std::string& values) {
    std::string r = "00000 R     00052   3";
    r += position_digits;
    r += "04";
    r += std::string(22, '#') + "701" + "26\x1e";  // bytes 24-51
    r += std::string(position_digits == '2' ? 26 : 27, '.');
    return r + values + "\x1e" + "N";
}

TEST(DecodeRow, RRecordReadsItsEntryMapAndAnnouncesTheCount) {
    for (ValueType type : {kBi16, kBfp32}) {
        for (char ps : {'2', '3'}) {
            const int count = type == kBi16 ? 350 : 175;
            const Decoded d = decode(rRecord(ps, counting(type, count)), type, count);
            EXPECT_TRUE(d.complete);
            EXPECT_EQ(d.console, "data_elements is:  175\n\ncomputing.....\n\n");
            for (int i = 0; i < count; ++i) ASSERT_EQ(d.row[static_cast<std::size_t>(i)], i + 1);
            EXPECT_EQ(d.next_byte, 'N');
        }
    }
}

TEST(DecodeRow, Bi16SignsAndTheValidRange) {
    const struct {
        std::uint16_t bits;
        std::int32_t stored;
        bool moves_extremes;
    } cases[] = {
        {0xFF9C, -100, true}, {0x8001, -32767, false}, {0xFC18, -1000, false},
        {0xFC19, -999, true}, {0x7FFF, 32767, true},   {0x0000, 0, true},
    };
    for (const auto& c : cases) {
        const Decoded d = decode(dRecord(bi16(c.bits), '\x1e').replace(48, 3, "003"), kBi16, 1,
                                 DecoderState{0, 5, 5});
        EXPECT_EQ(d.row[0], c.stored);
        EXPECT_EQ(d.state.min_elevation != 5 || d.state.max_elevation != 5, c.moves_extremes)
            << c.stored;
    }
}

// Extremes above 9000 or below 0 stay at their start; equal values are taken again.
TEST(DecodeRow, ExtremesStartAtZeroAndNineThousand) {
    const std::string high = bi16(9500) + bi16(9200);
    Decoded d = decode(dRecord(high, '\x1e').replace(48, 3, "005"), kBi16, 2);
    EXPECT_EQ(d.state.min_elevation, 9000);
    EXPECT_EQ(d.state.max_elevation, 9500);
    d = decode(dRecord(bi16(-20) + bi16(-999), '\x1e').replace(48, 3, "005"), kBi16, 2);
    EXPECT_EQ(d.state.min_elevation, -999);
    EXPECT_EQ(d.state.max_elevation, 0);
}

TEST(DecodeRow, CountsBeyondTheRowAreReadAndDropped) {
    const Decoded d = decode(dRecord(counting(kBi16, 350), '\x1e'), kBi16, 3);
    EXPECT_EQ(d.row, (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(d.next_byte, 'N');
    EXPECT_EQ(d.state.max_elevation, 350);  // the dropped values still count
}

TEST(DecodeRow, ShortRecordsLeaveTheRestOfTheRowVoid) {
    const Decoded d = decode(dRecord(counting(kBi16, 2), '\x1e').replace(48, 3, "005"), kBi16, 4);
    EXPECT_EQ(d.row, (std::vector<std::int32_t>{1, 2, kNoData, kNoData}));
    for (const char* length : {"000", "001"}) {  // no values, one byte still read after them
        const Decoded e = decode(dRecord("", 'x').replace(48, 3, length), kBi16, 1);
        EXPECT_EQ(e.row[0], kNoData);
        EXPECT_EQ(e.next_byte, '\0');  // byte 82: the byte after the one read at 81
    }
}

TEST(DecodeRow, UnknownValueTypes) {
    // 'D' record: reads through the first byte of the values' place, stores nothing.
    Decoded d = decode(dRecord(counting(kBi16, 350), '\x1e'), 'X', 2);
    EXPECT_EQ(d.row, (std::vector<std::int32_t>{kNoData, kNoData}));
    EXPECT_EQ(d.next_byte, 0x01);  // byte 82, the low byte of value 1
    // Leaderless: "serious error", and the next call starts at byte 7 of the same record.
    d = decode(
        "0000001\x1e"
        "CEL0",
        'X', 1, DecoderState{5, 0, 9000});
    EXPECT_EQ(d.console, "serious error\n");
    EXPECT_EQ(d.next_byte, 0x1E);
}

TEST(DecodeRow, LeaderlessBeforeAnyLeaderReadsNoValues) {
    const Decoded d = decode(
        "0000001\x1e"
        "CEL0000010000100001\x1e" +
            bi16(7) + "\x1e",
        kBi16, 1);
    EXPECT_EQ(d.row[0], kNoData);
    EXPECT_TRUE(d.complete);
}

// One 'R' record, then leaderless records of a 7-byte first field, a 19-byte second field and
// the values: BI16 records are each read from their own first byte, BFP32 records after the
// first from the closing terminator of the record before.
TEST(DecodeRow, LeaderlessRecordsInBothFormats) {
    for (ValueType type : {kBi16, kBfp32}) {
        const int columns = 3;
        const int width = type == kBi16 ? 2 : 4;
        char length[4];
        std::snprintf(length, sizeof length, "%03d", columns * width + 1);
        std::string module = "00000 R     00052   3204" + std::string(22, '#') + length + "26\x1e" +
                             std::string(26, '.') + counting(type, columns) + "\x1e";
        for (int r = 2; r <= 5; ++r) {
            module += "00000" + std::to_string(r) + "\x1e" + "CEL0000" + std::to_string(r) +
                      "0000100001\x1e";
            for (int c = 0; c < columns; ++c) {
                module += type == kBi16 ? bi16(r * 10 + c) : bfp32(static_cast<float>(r * 10 + c));
            }
            module += "\x1e";
        }
        ModuleReader reader;
        reader.openBytes(module);
        DecoderState state;
        ts::DialogueText console;
        std::vector<std::int32_t> row(columns);
        ASSERT_TRUE(decodeRow(reader, type, row.data(), columns, state, console));
        EXPECT_EQ(row, (std::vector<std::int32_t>{1, 2, 3}));
        for (int r = 2; r <= 5; ++r) {
            ASSERT_TRUE(decodeRow(reader, type, row.data(), columns, state, console));
            EXPECT_EQ(row, (std::vector<std::int32_t>{r * 10, r * 10 + 1, r * 10 + 2}))
                << "record " << r << (type == kBi16 ? " BI16" : " BFP32");
        }
        EXPECT_EQ(state.min_elevation, 1);
        EXPECT_EQ(state.max_elevation, 52);
    }
}

TEST(DecodeRow, LeaderlessBi16WithTerminatorAtByteEight) {
    const Decoded d =
        decode("0000000x\x1e" + bi16(42) + "\x1eN", kBi16, 1, DecoderState{1, 0, 9000});
    EXPECT_EQ(d.row[0], 42);
    EXPECT_EQ(d.next_byte, 'N');
}

TEST(DecodeRow, FirstLeaderlessBfp32SkipsATerminatorAtByteEight) {
    const Decoded d = decode(
        "0000000x\x1e"
        "AB\x1e" +
            bfp32(42.0f) + "N",
        kBfp32, 1, DecoderState{1, 0, 9000});
    EXPECT_EQ(d.row[0], 42);
    EXPECT_EQ(d.next_byte, 'N');
}

// Cut anywhere, a record ends the call: incomplete, nothing beyond the end read or stored.
TEST(DecodeRow, EndOfDataInsideARecord) {
    for (ValueType type : {kBi16, kBfp32}) {
        const int count = type == kBi16 ? 350 : 175;
        const std::string whole = rRecord('2', counting(type, count));
        for (std::size_t cut = 0; cut < whole.size() - 2; cut += 7) {
            const Decoded d = decode(whole.substr(0, cut), type, count);
            EXPECT_FALSE(d.complete) << cut;
            const std::size_t stored = cut > 78 ? (cut - 78) / (type == kBi16 ? 2 : 4) : 0;
            for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
                ASSERT_EQ(d.row[i], i < stored ? static_cast<std::int32_t>(i + 1) : kNoData)
                    << cut << " " << i;
            }
        }
    }
    // A leaderless scan that never meets its terminator stops at the end.
    const Decoded d =
        decode("0000002" + std::string(5000, 'x'), kBi16, 1, DecoderState{1, 0, 9000});
    EXPECT_FALSE(d.complete);
}

// Whole modules from the test-transfer writer, in every layout and format.
TEST(DecodeRow, WholeModulesFromTheWriter) {
    for (auto layout : {ts::Cel0Layout::AllD, ts::Cel0Layout::RThenLeaderless}) {
        for (auto format : {ts::CellFormat::Bi16, ts::CellFormat::Bfp32}) {
            // BFP32 values carry fractions that the decoder must truncate.
            const ts::Transfer t = ts::makeQuad(9, 11, format, 30, "7018", layout);
            const std::vector<std::int32_t> expected = ts::storedElevations(t);
            const ValueType type = format == ts::CellFormat::Bi16 ? kBi16 : kBfp32;
            ModuleReader reader;
            reader.openBytes(ts::buildModules(t).at("cel0.ddf"));
            reader.skipBytes(reader.readDecimal(5) - 5);
            DecoderState state;
            ts::DialogueText console;
            std::vector<std::int32_t> row(static_cast<std::size_t>(t.columns));
            for (int r = 0; r < t.rows; ++r) {
                ASSERT_TRUE(decodeRow(reader, type, row.data(), t.columns, state, console));
                for (int c = 0; c < t.columns; ++c) {
                    ASSERT_EQ(row[static_cast<std::size_t>(c)],
                              expected[static_cast<std::size_t>(r * t.columns + c)])
                        << r << "," << c;
                }
            }
            EXPECT_EQ(state.min_elevation, ts::validExtremes(expected).min_elevation);
            EXPECT_EQ(state.max_elevation, ts::validExtremes(expected).max_elevation);
            const std::string announce =
                layout == ts::Cel0Layout::RThenLeaderless
                    ? "data_elements is:  " + std::to_string(type == kBi16 ? 5 : 11) +
                          "\n\ncomputing.....\n\n"
                    : "";
            EXPECT_EQ(console.str(), announce);
            // Leaderless BFP32 records leave their closing terminator to the next call.
            if (format == ts::CellFormat::Bfp32 && layout == ts::Cel0Layout::RThenLeaderless) {
                EXPECT_EQ(reader.readByte(), 0x1E);
            }
            reader.readByte();
            EXPECT_TRUE(reader.failed()) << "the module was not read to its end";
        }
    }
}

}  // namespace
}  // namespace marlwood
