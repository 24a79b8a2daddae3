#include "converter/dem_converter.h"

#include <exception>
#include <filesystem>
#include <new>

#include "converter/console_dialogue.h"
#include "grid/height_scaling.h"
#include "platform/platform.h"
#include "ter/ter_writer.h"

namespace marlwood {

DemConverter::DemConverter(std::istream& console_in, std::ostream& console_out)
    : console_in(console_in), console_out(console_out) {
    showBanner(console_in, console_out);
    // Whatever goes wrong, the closing step still runs (the destructor) and says so first.
    try {
        run();
    } catch (const std::bad_alloc&) {
        abandon("not enough memory");
    } catch (const std::exception& error) {
        abandon(error.what());
    }
}

DemConverter::~DemConverter() {
    input_stream.close();
    if (output_stream.is_open()) output_stream.close();
    if (!scratch_grid.empty()) releaseGrid(scratch_grid, rows);
    if (!scaled_grid.empty()) releaseGrid(scaled_grid, rows);
    if (!raw_grid.empty()) releaseGrid(raw_grid, rows);  // only when the run was abandoned
    closingStep(console_in, console_out);
}

void DemConverter::abandon(const std::string& reason) {
    console_out << "\n**Conversion abandoned: " << reason << "**\n" << std::flush;
    exit_status = 1;
}

void DemConverter::run() {
    auto paths = askModulePrefix(console_in, console_out, input_stream);
    if (!paths) return abandon("the input ended");
    module_prefix = paths->module_prefix;
    cel0_path = paths->cel0_path;
    ldef_path = paths->ldef_path;
    spdm_path = paths->spdm_path;
    ddsh_path = paths->ddsh_path;
    iref_path = paths->iref_path;

    const auto scale = askHeightScale(console_in, console_out);
    if (!scale) return abandon("the input ended");
    height_scale = *scale;

    const TransferMetadata metadata = readMetadata(
        input_stream, {cel0_path, ldef_path, spdm_path, ddsh_path, iref_path}, console_out);
    value_type = metadata.value_type;
    rows = metadata.size.rows;
    columns = metadata.size.columns;
    min_rows_cols = metadata.size.min_rows_cols;
    grid_spacing = metadata.grid_spacing;

    if (const auto problem = gridSizeProblem(metadata.size, ldef_path)) {
        rows = columns = 0;
        return abandon(*problem);
    }
    if (!allocateGrids(raw_grid, scaled_grid, metadata.size)) {
        return abandon(noMemoryProblem(metadata.size));
    }
    decodeElevations(input_stream, cel0_path, metadata, raw_grid, decoder, console_out);

    corners = readCorners(input_stream, spdm_path, console_out);

    const Colormap colormap =
        computeColormap(decoder.max_elevation, decoder.min_elevation, console_out);
    elevrange = colormap.elevrange;
    colormap_slope = colormap.colormap_slope;
    colormap_intercept = colormap.colormap_intercept;
    if (!scaleAndFlip(raw_grid, scaled_grid, scratch_grid, rows, columns, colormap_slope,
                      colormap_intercept)) {
        return abandon(noMemoryProblem(metadata.size));
    }

    if (!askOutputFile(console_in, console_out, output_stream, ter_path)) {
        return abandon("the input ended");
    }
    writeTerHeader(output_stream, rows, columns, height_scale, min_rows_cols);
    writeTerBody(output_stream, rows, columns, scaled_grid);
    output_stream.close();
    if (streamFailed(output_stream)) {
        console_out << "**Cannot write " << ter_path << ": the file is incomplete**\n"
                    << std::flush;
        // A cut-off terrain must not pass for a whole one. The file was emptied when it was
        // opened, so removing it loses nothing; a device under that name is left alone.
        std::error_code ignored;
        if (std::filesystem::is_regular_file(ter_path, ignored)) {
            std::filesystem::remove(ter_path, ignored);
        }
        exit_status = 1;
    }
}

}  // namespace marlwood
