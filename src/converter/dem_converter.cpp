#include "converter/dem_converter.h"

#include <algorithm>

#include "converter/console_dialogue.h"
#include "converter/platform.h"
#include "grid/height_scaling.h"
#include "ter/ter_writer.h"

namespace marlwood {

DemConverter::DemConverter(std::istream& console_in, std::ostream& console_out)
    : console_in_(console_in), console_out_(console_out) {
    showBanner(console_in_, console_out_);
    run();
}

DemConverter::~DemConverter() {
    input_stream.close();
    if (output_stream.is_open()) output_stream.close();
    if (!scratch_grid.empty()) releaseGrid(scratch_grid, rows);
    if (!scaled_grid.empty()) releaseGrid(scaled_grid, rows);
    if (!raw_grid.empty()) releaseGrid(raw_grid, rows);  // only when the run was abandoned
    console_out_ << "Press any key to continue\n" << std::flush;
    waitForKey(console_in_);
    console_out_ << "Done\n" << std::flush;
}

void DemConverter::abandon(const std::string& reason) {
    console_out_ << "\n**Conversion abandoned: " << reason << "**\n" << std::flush;
    exit_status_ = 1;
}

void DemConverter::run() {
    auto paths = askModulePrefix(console_in_, console_out_, input_stream);
    if (!paths) return abandon("the input ended");
    module_prefix = paths->module_prefix;
    cel0_path = paths->cel0_path;
    ldef_path = paths->ldef_path;
    spdm_path = paths->spdm_path;
    ddsh_path = paths->ddsh_path;
    iref_path = paths->iref_path;

    const auto scale = askHeightScale(console_in_, console_out_);
    if (!scale) return abandon("the input ended");
    height_scale = *scale;

    value_type = readValueType(input_stream, ddsh_path, console_out_);
    const GridSize size = readGridSize(input_stream, ldef_path, console_out_);
    rows = size.rows;
    columns = size.columns;
    min_rows_cols = size.min_rows_cols;
    grid_spacing = readGridSpacing(input_stream, iref_path, console_out_);

    // A side beyond 16 bits cannot be written to a .ter file; it is the mark of a damaged LDEF.
    if (rows < 0 || rows > kMaxGridSide || columns < 0 || columns > kMaxGridSide) {
        const auto shape = std::to_string(rows) + " x " + std::to_string(columns);
        rows = columns = 0;
        return abandon(ldef_path + " gives a grid of " + shape +
                       "; a .ter file holds 0 to 65535 rows and columns");
    }
    const auto no_memory = [&] {
        return "not enough memory for a grid of " + std::to_string(rows) + " x " +
               std::to_string(columns);
    };
    if (!gridsFitInMemory(rows, columns, 2) || !allocateRows(raw_grid, rows, columns) ||
        !allocateRows(scaled_grid, rows, columns)) {
        return abandon(no_memory());
    }
    // A cell that no record fills is void, never leftover memory.
    for (std::int32_t i = 0; i < rows; ++i) {
        std::int32_t* row = raw_grid[static_cast<std::size_t>(i)];
        std::fill(row, row + columns, kNoData);
    }

    ddr_length = openCel0AtFirstRecord(input_stream, cel0_path);
    if (!input_stream.isOpen()) {
        console_out_ << "**Cannot read " << cel0_path << ": it does not open**\n" << std::flush;
    }
    decodeElevations();
    input_stream.close();
    console_out_ << "\nmax_elevation is:  " << decoder.max_elevation << '\n'
                 << std::flush << "min_elevation is:  " << decoder.min_elevation << '\n'
                 << std::flush << '\n'
                 << std::flush;

    corners = readCorners(input_stream, spdm_path, console_out_);

    const Colormap colormap =
        computeColormap(decoder.max_elevation, decoder.min_elevation, console_out_);
    elevrange = colormap.elevrange;
    colormap_slope = colormap.colormap_slope;
    colormap_intercept = colormap.colormap_intercept;
    if (!scaleAndFlip(raw_grid, scaled_grid, scratch_grid, rows, columns, colormap_slope,
                      colormap_intercept)) {
        return abandon(no_memory());
    }

    if (!askOutputFile(console_in_, console_out_, output_stream, ter_path)) {
        return abandon("the input ended");
    }
    writeTerHeader(output_stream, rows, columns, height_scale, min_rows_cols);
    writeTerBody(output_stream, rows, columns, scaled_grid);
    output_stream.close();
    if (streamFailed(output_stream)) {
        console_out_ << "**Cannot write " << ter_path << ": the file is incomplete**\n"
                     << std::flush;
        exit_status_ = 1;
    }
}

bool DemConverter::decodeElevations() {
    current_row = 0;
    console_out_ << "\n" << std::flush << "computing.....\n" << std::flush;
    if (grid_spacing == kSpacing10m) {
        console_out_ << "\n"
                     << std::flush << "Decoding 10m BFP(32) elevations.\n"
                     << std::flush << "\n"
                     << std::flush << "This will take a minute or two because of the large number\n"
                     << std::flush << "of elevations in the file.\n"
                     << std::flush << "\n"
                     << std::flush;
    }
    std::int32_t decoded = 0;
    for (; current_row < rows; ++current_row) {
        if (decodeRow(input_stream, value_type, raw_grid[static_cast<std::size_t>(current_row)],
                      columns, decoder, console_out_)) {
            ++decoded;
        }
        if (input_stream.failed()) break;
    }
    if (decoded < rows) {
        console_out_ << "**" << cel0_path << " ended after " << decoded << " of " << rows
                     << " rows; the missing rows are void**\n"
                     << std::flush;
        return false;
    }
    return true;
}

}  // namespace marlwood
