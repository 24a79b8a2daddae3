#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "common/dem_types.h"
#include "sdts/module_reader.h"

namespace marlwood {

struct GridSize {
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    std::int32_t min_rows_cols = -1;
};

struct Corners {
    float sw_cornerx = 0, sw_cornery = 0, nw_cornerx = 0, nw_cornery = 0;
    float ne_cornerx = 0, ne_cornery = 0, se_cornerx = 0, se_cornery = 0;
};

// Each reader opens its module, walks to the value by fixed positions and terminators, prints
// what the dialogue shows, and closes the module. A module that does not open or ends before the
// walk does is reported in one line; what was not found reads as 0 and the conversion goes on.

// DDSH: 'I' or 'F' (returned as found).
ValueType readValueType(ModuleReader& input_stream, const ModuleSource& ddsh_path,
                        std::ostream& console);
// LDEF: the row and column counts.
GridSize readGridSize(ModuleReader& input_stream, const ModuleSource& ldef_path,
                      std::ostream& console);
// IREF: the posting.
GridSpacing readGridSpacing(ModuleReader& input_stream, const ModuleSource& iref_path,
                            std::ostream& console);
// SPDM: the eight corner coordinates, each held and printed as the nearest 32-bit float.
Corners readCorners(ModuleReader& input_stream, const ModuleSource& spdm_path,
                    std::ostream& console);

// The coordinate text conversion: a decimal floating-point number at the start of `text`, 0 when
// there is none, rounded to the nearest float.
float parseCoordinate(const std::string& text);

}  // namespace marlwood
