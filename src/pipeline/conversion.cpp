#include "pipeline/conversion.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <vector>

#include "ter/ter_writer.h"

namespace marlwood {

namespace {

// Holds the grids of one conversion and releases them however it ends.
struct ConversionGrids {
    ElevationGrid raw_grid, scaled_grid, scratch_grid;
    std::int32_t rows = 0;
    ~ConversionGrids() {
        for (ElevationGrid* grid : {&scratch_grid, &scaled_grid, &raw_grid}) {
            if (!grid->empty()) releaseGrid(*grid, rows);
        }
    }
};

std::int64_t countVoidCells(const ElevationGrid& raw_grid, std::int32_t rows,
                            std::int32_t columns) {
    std::int64_t voids = 0;
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::int32_t* row = raw_grid[static_cast<std::size_t>(i)];
        voids +=
            std::count_if(row, row + columns, [](std::int32_t v) { return !isValidElevation(v); });
    }
    return voids;
}

std::string temporaryName(const std::string& output_path) {
    // Unique among the conversions of this process, and marked as not a terrain file.
    static std::atomic<unsigned> counter{0};
    return output_path + ".part" + std::to_string(counter++);
}

}  // namespace

Extremes unionOf(const Extremes& a, const Extremes& b) {
    return {std::max(a.max_elevation, b.max_elevation), std::min(a.min_elevation, b.min_elevation)};
}

bool writeTerFile(const std::string& output_path, std::int32_t rows, std::int32_t columns,
                  std::int32_t height_scale, std::int32_t min_rows_cols,
                  const ElevationGrid& scaled_grid, std::string& problem) {
    const std::string partial = temporaryName(output_path);
    std::error_code error;
    {
        std::ofstream out(partial, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            problem = "cannot create " + partial;
            return false;
        }
        writeTerHeader(out, rows, columns, height_scale, min_rows_cols);
        writeTerBody(out, rows, columns, scaled_grid);
        out.close();
        if (out.fail()) {
            std::filesystem::remove(partial, error);
            problem = "cannot write " + output_path + ": the disk may be full";
            return false;
        }
    }
    std::filesystem::rename(partial, output_path, error);
    if (error) {
        std::filesystem::remove(partial, error);
        problem = "cannot write " + output_path;
        return false;
    }
    return true;
}

ConversionResult convertTransfer(const TransferModules& modules, const ConversionSettings& settings,
                                 const std::string& output_path, std::ostream& console) {
    ConversionResult result;
    ModuleReader input_stream;
    result.metadata = readMetadata(input_stream, modules, console);
    const GridSize& size = result.metadata.size;
    if (const auto problem = gridSizeProblem(size, modules.ldef.name)) {
        result.problem = *problem;
        return result;
    }
    ConversionGrids grids;
    if (!allocateGrids(grids.raw_grid, grids.scaled_grid, size)) {
        result.problem = noMemoryProblem(size);
        return result;
    }
    grids.rows = size.rows;
    DecoderState decoder;
    decodeElevations(input_stream, modules.cel0, result.metadata, grids.raw_grid, decoder, console);
    result.extremes = {decoder.max_elevation, decoder.min_elevation};
    result.void_cells = countVoidCells(grids.raw_grid, size.rows, size.columns);
    readCorners(input_stream, modules.spdm, console);

    const Extremes range = settings.common_range.value_or(result.extremes);
    result.colormap = computeColormap(range.max_elevation, range.min_elevation, console);
    if (!scaleAndFlip(grids.raw_grid, grids.scaled_grid, grids.scratch_grid, size.rows,
                      size.columns, result.colormap.colormap_slope,
                      result.colormap.colormap_intercept)) {
        result.problem = noMemoryProblem(size);
        return result;
    }
    // The scratch grid has done its part; the file is written from the scaled grid.
    releaseGrid(grids.scratch_grid, size.rows);
    result.converted = writeTerFile(output_path, size.rows, size.columns, settings.height_scale,
                                    size.min_rows_cols, grids.scaled_grid, result.problem);
    return result;
}

std::optional<Extremes> readExtremes(const TransferModules& modules, std::ostream& console,
                                     std::string& problem) {
    ModuleReader input_stream;
    const TransferMetadata metadata = readMetadata(input_stream, modules, console);
    if (const auto size_problem = gridSizeProblem(metadata.size, modules.ldef.name)) {
        problem = *size_problem;
        return std::nullopt;
    }
    // Every record goes through the decoder as in a conversion; only the extremes are kept.
    std::vector<std::int32_t> row(static_cast<std::size_t>(metadata.size.columns) + 1);
    DecoderState decoder;
    openCel0(input_stream, modules.cel0, console);
    decodeCel0Rows(
        input_stream, metadata.value_type, metadata.size.rows, metadata.size.columns,
        [&](std::int32_t) { return row.data(); }, decoder, console, modules.cel0.name);
    input_stream.close();
    return Extremes{decoder.max_elevation, decoder.min_elevation};
}

}  // namespace marlwood
