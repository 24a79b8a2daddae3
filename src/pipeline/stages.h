#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "common/dem_types.h"
#include "grid/elevation_grid.h"
#include "sdts/metadata_readers.h"
#include "sdts/module_reader.h"
#include "sdts/record_decoder.h"

// The stages of one conversion, shared by every front end. Each takes its inputs and a stream
// for its lines; none knows who called it or asks anything.
namespace marlwood {

struct TransferMetadata {
    ValueType value_type = 0;
    GridSize size;
    GridSpacing grid_spacing = kNoSpacing;
};

// DDSH, LDEF and IREF, in this order, each printing its lines.
TransferMetadata readMetadata(ModuleReader& input_stream, const TransferModules& modules,
                              std::ostream& console);

// Why a grid of this size cannot be converted, or nothing when it can: a side beyond 16 bits
// cannot be written to a .ter file (it is the mark of a damaged LDEF).
std::optional<std::string> gridSizeProblem(const GridSize& size, const std::string& ldef_name);

// The text that abandons a conversion whose grids do not fit in memory.
std::string noMemoryProblem(const GridSize& size);

// Allocates the raw and the scaled grid after asking the machine for the memory; every raw cell
// starts as no data, so a cell that no record fills is void. False (nothing held) when the
// memory cannot be had.
bool allocateGrids(ElevationGrid& raw_grid, ElevationGrid& scaled_grid, const GridSize& size);

// Opens CEL0 at its first data record; a module that does not open is reported in one line and
// then reads as empty.
void openCel0(ModuleReader& input_stream, const ModuleSource& cel0, std::ostream& console);

// Opens CEL0 at its first data record, decodes one record per row into the raw grid, closes it
// and prints the extremes. Returns the number of rows decoded whole.
std::int32_t decodeElevations(ModuleReader& input_stream, const ModuleSource& cel0,
                              const TransferMetadata& metadata, ElevationGrid& raw_grid,
                              DecoderState& decoder, std::ostream& console);

}  // namespace marlwood
