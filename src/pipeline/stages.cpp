#include "pipeline/stages.h"

#include <algorithm>

#include "platform/platform.h"
#include "ter/ter_writer.h"

namespace marlwood {

TransferMetadata readMetadata(ModuleReader& input_stream, const TransferModules& modules,
                              std::ostream& console) {
    TransferMetadata metadata;
    metadata.value_type = readValueType(input_stream, modules.ddsh, console);
    metadata.size = readGridSize(input_stream, modules.ldef, console);
    metadata.grid_spacing = readGridSpacing(input_stream, modules.iref, console);
    return metadata;
}

std::optional<std::string> gridSizeProblem(const GridSize& size, const std::string& ldef_name) {
    if (size.rows >= 0 && size.rows <= kMaxTerSide && size.columns >= 0 &&
        size.columns <= kMaxTerSide) {
        return std::nullopt;
    }
    return ldef_name + " gives a grid of " + std::to_string(size.rows) + " x " +
           std::to_string(size.columns) + "; a .ter file holds 0 to 65535 rows and columns";
}

std::string noMemoryProblem(const GridSize& size) {
    return "not enough memory for a grid of " + std::to_string(size.rows) + " x " +
           std::to_string(size.columns);
}

bool allocateGrids(ElevationGrid& raw_grid, ElevationGrid& scaled_grid, const GridSize& size) {
    if (!gridsFitInMemory(size.rows, size.columns, 2, availableMemoryBytes()) ||
        !allocateRows(raw_grid, size.rows, size.columns)) {
        return false;
    }
    if (!allocateRows(scaled_grid, size.rows, size.columns)) {
        releaseGrid(raw_grid, size.rows);
        return false;
    }
    for (std::int32_t i = 0; i < size.rows; ++i) {
        std::int32_t* row = raw_grid[static_cast<std::size_t>(i)];
        std::fill(row, row + size.columns, kNoData);
    }
    return true;
}

void openCel0(ModuleReader& input_stream, const ModuleSource& cel0, std::ostream& console) {
    openCel0AtFirstRecord(input_stream, cel0);
    if (!input_stream.isOpen()) {
        console << "**Cannot read " << cel0.name << ": it does not open**\n" << std::flush;
    }
}

std::int32_t decodeElevations(ModuleReader& input_stream, const ModuleSource& cel0,
                              const TransferMetadata& metadata, ElevationGrid& raw_grid,
                              DecoderState& decoder, std::ostream& console) {
    openCel0(input_stream, cel0, console);
    console << "\n" << std::flush << "computing.....\n" << std::flush;
    if (metadata.grid_spacing == kSpacing10m) {
        console << "\n"
                << std::flush << "Decoding 10m BFP(32) elevations.\n"
                << std::flush << "\n"
                << std::flush << "This will take a minute or two because of the large number\n"
                << std::flush << "of elevations in the file.\n"
                << std::flush << "\n"
                << std::flush;
    }
    const std::int32_t decoded = decodeCel0Rows(
        input_stream, metadata.value_type, metadata.size.rows, metadata.size.columns,
        [&](std::int32_t row) { return raw_grid[static_cast<std::size_t>(row)]; }, decoder, console,
        cel0.name);
    input_stream.close();
    // Values kept in thousandths are shown in whole units, as the dialogue shows them.
    const std::int32_t per_unit = decoder.thousandths ? kThousandths : 1;
    console << "\nmax_elevation is:  " << decoder.max_elevation / per_unit << '\n'
            << std::flush << "min_elevation is:  " << decoder.min_elevation / per_unit << '\n'
            << std::flush << '\n'
            << std::flush;
    return decoded;
}

}  // namespace marlwood
