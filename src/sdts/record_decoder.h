#pragma once

#include <cstdint>
#include <ostream>

#include "grid/elevation_grid.h"
#include "sdts/module_reader.h"

namespace marlwood {

// 'I' for BI16 (two-byte big-endian integers), 'F' for BFP32; any other byte may come from DDSH.
using ValueType = char;
inline constexpr ValueType kBi16 = 'I';
inline constexpr ValueType kBfp32 = 'F';

// What the decoder carries from one CEL0 record to the next, besides the stream position.
struct DecoderState {
    // Value count of the last 'D' or 'R' record (already halved for BFP32); leaderless records
    // reuse it. Zero until such a record comes, so a stray leaderless record reads no values.
    std::int32_t values_per_record = 0;
    std::int32_t max_elevation = 0;
    std::int32_t min_elevation = 9000;
};

// Decodes the next CEL0 data record into `row` (`columns` cells; values beyond them are read and
// dropped). Returns false when the data ended before all the record's values were read.
bool decodeRow(ModuleReader& input_stream, ValueType value_type, std::int32_t* row,
               std::int32_t columns, DecoderState& state, std::ostream& console);

}  // namespace marlwood
