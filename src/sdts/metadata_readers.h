#pragma once

#include <cstdint>
#include <string>

#include "common/dem_types.h"
#include "common/events.h"
#include "sdts/module_reader.h"

namespace marlwood {

// Each reader opens its module, walks to the value by fixed positions and terminators, reports
// what it found as events, and closes the module. A module that does not open or ends before the
// walk does is reported in one line; what was not found reads as 0 and the conversion goes on.

// DDSH: 'I' or 'F' (returned as found).
ValueType readValueType(ModuleReader& input_stream, const ModuleSource& ddsh_path,
                        EventSink& events);
// LDEF: the row and column counts.
GridSize readGridSize(ModuleReader& input_stream, const ModuleSource& ldef_path, EventSink& events);
// IREF: the posting.
GridSpacing readGridSpacing(ModuleReader& input_stream, const ModuleSource& iref_path,
                            EventSink& events);
// SPDM: the eight corner coordinates, each held and printed as the nearest 32-bit float.
Corners readCorners(ModuleReader& input_stream, const ModuleSource& spdm_path, EventSink& events);

// The coordinate text conversion: a decimal floating-point number at the start of `text`, 0 when
// there is none, rounded to the nearest float.
float parseCoordinate(const std::string& text);

}  // namespace marlwood
