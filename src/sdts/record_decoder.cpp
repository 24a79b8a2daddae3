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
    if (v <= kVoidThreshold * (state.thousandths ? kThousandths : 1)) return;
    if (v <= state.min_elevation) state.min_elevation = v;
    if (v >= state.max_elevation) state.max_elevation = v;
}

std::int32_t decodeValue(ValueType value_type, const std::uint8_t* bytes) {
    if (value_type == kBi16) {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]));
    }
    return bfp32ToElevation(bytes[0], bytes[1], bytes[2], bytes[3]);
}

std::int32_t decodeThousandths(ValueType value_type, const std::uint8_t* bytes) {
    if (value_type == kBi16) return decodeValue(value_type, bytes) * kThousandths;
    return bfp32ToThousandths(bfp32Pattern(bytes[0], bytes[1], bytes[2], bytes[3]));
}

std::int32_t decodeCell(ValueType value_type, const std::uint8_t* bytes, bool thousandths) {
    return thousandths ? decodeThousandths(value_type, bytes) : decodeValue(value_type, bytes);
}

// Decodes `count` whole values from `bytes` into `to` (when not null) and notes them.
template <ValueType kType, bool kKeepThousandths>
void decodeRun(const std::uint8_t* bytes, std::int32_t count, std::int32_t* to,
               DecoderState& state) {
    constexpr std::size_t kSize = kType == kBi16 ? 2 : 4;
    constexpr std::int32_t kValidAbove = kVoidThreshold * (kKeepThousandths ? kThousandths : 1);
    std::int32_t lowest = state.min_elevation;
    std::int32_t highest = state.max_elevation;
    for (std::int32_t i = 0; i < count; ++i, bytes += kSize) {
        const std::int32_t v =
            kKeepThousandths ? decodeThousandths(kType, bytes) : decodeValue(kType, bytes);
        if (to != nullptr) to[i] = v;
        if (v > kValidAbove) {
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
        }
    }
    state.min_elevation = lowest;
    state.max_elevation = highest;
}

// Reads `count` values into row cells 0..count-1 (those beyond `columns` are dropped).
bool readValues(ModuleReader& in, ValueType value_type, std::int32_t count, std::int32_t* row,
                std::int32_t columns, DecoderState& state) {
    if (in.failed()) return false;
    const std::int32_t kept = std::min(count, columns);
    const std::size_t size = value_type == kBi16 ? 2 : 4;
    std::int32_t i = 0;
    while (i < count) {
        // The values that lie whole in the reader's block are decoded straight from it.
        const auto block = in.buffered();
        const auto whole = static_cast<std::int32_t>(
            std::min<std::size_t>(static_cast<std::size_t>(count - i), block.size() / size));
        const std::int32_t stored = std::clamp(kept - i, 0, whole);
        const auto decode =
            state.thousandths
                ? (value_type == kBi16 ? decodeRun<kBi16, true> : decodeRun<kBfp32, true>)
                : (value_type == kBi16 ? decodeRun<kBi16, false> : decodeRun<kBfp32, false>);
        if (stored > 0) decode(block.data(), stored, row + i, state);
        if (whole > stored) decode(block.data() + stored * size, whole - stored, nullptr, state);
        in.advance(static_cast<std::size_t>(whole) * size);
        i += whole;
        if (i == count) break;

        // A value split across two blocks (or cut short by the end of the data), byte by byte.
        std::uint8_t bytes[4];
        for (std::size_t k = 0; k < size; ++k) bytes[k] = in.readByte();
        if (in.failed()) return false;
        const std::int32_t current_value = decodeCell(value_type, bytes, state.thousandths);
        if (i < kept) row[i] = current_value;
        noteElevation(current_value, state);
        ++i;
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
               DecoderState& state, EventSink& events) {
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
        events.emit(event::RecordLeaderRead{state.values_per_record / 2});
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
    events.emit(event::UnknownValueType{});
    return true;
}

std::int32_t decodeCel0Rows(ModuleReader& input_stream, ValueType value_type, std::int32_t rows,
                            std::int32_t columns,
                            const std::function<std::int32_t*(std::int32_t)>& row_at,
                            DecoderState& state, EventSink& events, const std::string& cel0_name) {
    std::int32_t decoded = 0;
    for (std::int32_t current_row = 0; current_row < rows; ++current_row) {
        if (decodeRow(input_stream, value_type, row_at(current_row), columns, state, events)) {
            ++decoded;
        }
        if (input_stream.failed()) break;
    }
    if (decoded < rows) {
        events.emit(event::Cel0EndedEarly{cel0_name, decoded, rows});
    }
    return decoded;
}

}  // namespace marlwood
