#include "sdts/record_decoder.h"

#include <algorithm>

#include "sdts/bfp32.h"

namespace marlwood {

namespace {

// Directory numbers of a 'D' record have three digits each.
constexpr std::int32_t kDirectoryNumberWidth = 3;
// Leader bytes 7-11 and 17-19 are not used.
constexpr std::int32_t kLeaderGapAfterId = kLeaderBaseOffset - kLeaderIdOffset - 1;
constexpr std::int32_t kLeaderGapAfterBase =
    kLeaderEntryMapOffset - kLeaderBaseOffset - kLengthWidth;

void noteElevation(std::int32_t v, DecoderState& state) {
    if (!isValidElevation(v)) return;
    if (v <= state.min_elevation) state.min_elevation = v;
    if (v >= state.max_elevation) state.max_elevation = v;
}

// Reads `count` values into row cells 0..count-1 (those beyond `columns` are dropped).
bool readValues(ModuleReader& in, ValueType value_type, std::int32_t count, std::int32_t* row,
                std::int32_t columns, DecoderState& state) {
    if (in.failed()) return false;
    const std::int32_t kept = std::min(count, columns);
    for (std::int32_t i = 0; i < count; ++i) {
        std::int16_t current_value;
        if (value_type == kBi16) {
            const std::uint8_t bi16_high = in.readByte();
            const std::uint8_t bi16_low = in.readByte();
            current_value =
                static_cast<std::int16_t>(static_cast<std::uint16_t>((bi16_high << 8) | bi16_low));
        } else {
            const std::uint8_t bfp_byte1 = in.readByte();
            const std::uint8_t bfp_byte2 = in.readByte();
            const std::uint8_t bfp_byte3 = in.readByte();
            const std::uint8_t bfp_byte4 = in.readByte();
            current_value = bfp32ToElevation(bfp_byte1, bfp_byte2, bfp_byte3, bfp_byte4);
        }
        if (in.failed()) return false;
        if (i < kept) row[i] = current_value;
        noteElevation(current_value, state);
    }
    return true;
}

// The values of a 'D' or 'R' record, then the one byte after them (the field terminator).
bool readRecordValues(ModuleReader& in, ValueType value_type, std::int32_t* row,
                      std::int32_t columns, DecoderState& state) {
    bool complete = true;
    if (value_type == kBi16) {
        complete = readValues(in, value_type, state.values_per_record, row, columns, state);
    } else if (value_type == kBfp32) {
        state.values_per_record /= 2;
        complete = readValues(in, value_type, state.values_per_record, row, columns, state);
    }
    in.readByte();
    return complete;
}

}  // namespace

bool decodeRow(ModuleReader& in, ValueType value_type, std::int32_t* row, std::int32_t columns,
               DecoderState& state, std::ostream& console) {
    in.readDecimal(kLengthWidth);  // record length: records are found by reading, not by length
    in.skipBytes(1);
    const char leader_id = static_cast<char>(in.readByte());
    if (in.failed()) return false;

    if (leader_id == 'D') {
        in.skipBytes(kLeaderGapAfterId);
        const std::int32_t base_address = in.readDecimal(kLengthWidth);
        // The values field is the last one: its entry's length and position are the seven bytes
        // before the directory's terminator at base_address - 1.
        in.skipBytes(base_address - kLeaderSize);
        const std::int32_t field_length = in.readDecimal(kDirectoryNumberWidth);
        state.values_per_record = (field_length - 1) / 2;
        const std::int32_t field_position = in.readDecimal(kDirectoryNumberWidth);
        in.skipBytes(field_position + 1);
        return readRecordValues(in, value_type, row, columns, state);
    }

    if (leader_id == 'R') {
        in.skipBytes(kLeaderGapAfterId);
        const std::int32_t base_address = in.readDecimal(kLengthWidth);
        in.skipBytes(kLeaderGapAfterBase);
        const std::int32_t length_digits = in.readByte() - '0';
        const std::int32_t position_digits = in.readByte() - '0';
        in.skipBytes(base_address - (length_digits + kLeaderSize + 1));
        const std::int32_t field_length = in.readDecimal(length_digits);
        state.values_per_record = (field_length - 1) / 2;
        console << "data_elements is:  " << state.values_per_record / 2 << '\n'
                << std::flush << "\ncomputing.....\n\n"
                << std::flush;
        const std::int32_t field_position = in.readDecimal(position_digits);
        in.skipBytes(field_position);
        in.readByte();
        return readRecordValues(in, value_type, row, columns, state);
    }

    // A record without leader: the fields before the values end with the first field terminator
    // the scan meets.
    if (value_type == kBi16) {
        in.readByte();
        in.skipPast(kFieldTerminator);
        const bool complete =
            readValues(in, value_type, state.values_per_record, row, columns, state);
        in.readByte();
        return complete;
    }
    if (value_type == kBfp32) {
        // Real BFP32 modules are read starting on the previous record's closing terminator, so
        // a terminator at bytes 7 or 8 must not end the scan.
        in.readByte();
        std::uint8_t byte = in.readByte();
        if (byte == kFieldTerminator) byte = in.readByte();
        while (byte != kFieldTerminator && !in.failed()) byte = in.readByte();
        return readValues(in, value_type, state.values_per_record, row, columns, state);
    }
    console << "serious error\n" << std::flush;
    return true;
}

}  // namespace marlwood
