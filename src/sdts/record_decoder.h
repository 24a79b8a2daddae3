#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/dem_types.h"
#include "common/events.h"
#include "sdts/module_reader.h"

namespace marlwood {

// What the decoder carries from one CEL0 record to the next, besides the stream position.
struct DecoderState {
    // Value count of the last 'D' or 'R' record (already halved for BFP32); leaderless records
    // reuse it. Zero until such a record comes, so a stray leaderless record reads no values.
    std::int32_t values_per_record = 0;
    std::int32_t max_elevation = 0;
    std::int32_t min_elevation = 9000;
    // Every value is kept in thousandths of the unit, BFP32 fractions included (true-scale output);
    // the extremes are then in thousandths too and valid means above -1000 x 1000.
    bool thousandths = false;
};

// Decodes the next CEL0 data record into `row` (`columns` cells; values beyond them are read and
// dropped). Returns false when the data ended before all the record's values were read.
bool decodeRow(ModuleReader& input_stream, ValueType value_type, std::int32_t* row,
               std::int32_t columns, DecoderState& state, EventSink& events);

// Decodes the CEL0 data records that follow the reader's position, one per row, into rows
// 0..rows-1; `row_at(i)` gives row i's `columns` cells. It stops as soon as the data ends, reports
// that as an event naming `cel0_name`, and leaves the rows not reached as they were. Returns the
// number of rows decoded whole.
std::int32_t decodeCel0Rows(ModuleReader& input_stream, ValueType value_type, std::int32_t rows,
                            std::int32_t columns,
                            const std::function<std::int32_t*(std::int32_t)>& row_at,
                            DecoderState& state, EventSink& events, const std::string& cel0_name);

}  // namespace marlwood
