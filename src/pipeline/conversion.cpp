#include "pipeline/conversion.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#include "grid/void_fill.h"
#include "platform/whole_file.h"
#include "preview/preview.h"
#include "sdts/georeference.h"
#include "ter/ter_writer.h"

namespace marlwood {

namespace {

constexpr double kFootMetres = 0.3048;

std::int64_t countVoidCells(const ElevationGrid& raw_grid, std::int32_t rows, std::int32_t columns,
                            std::int32_t valid_above) {
    std::int64_t voids = 0;
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::int32_t* row = raw_grid[static_cast<std::size_t>(i)];
        voids +=
            std::count_if(row, row + columns, [&](std::int32_t v) { return v <= valid_above; });
    }
    return voids;
}

// The lowest and highest valid cell, nothing when none is valid.
std::optional<std::pair<std::int32_t, std::int32_t>> validRange(const ElevationGrid& grid,
                                                                std::int32_t rows,
                                                                std::int32_t columns,
                                                                std::int32_t valid_above) {
    std::int32_t lowest = std::numeric_limits<std::int32_t>::max();
    std::int32_t highest = std::numeric_limits<std::int32_t>::min();
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::int32_t* row = grid[static_cast<std::size_t>(i)];
        for (std::int32_t j = 0; j < columns; ++j) {
            if (row[j] <= valid_above) continue;
            lowest = std::min(lowest, row[j]);
            highest = std::max(highest, row[j]);
        }
    }
    if (lowest > highest) return std::nullopt;
    return std::pair{lowest, highest};
}

// The picture of what was written: each stored height read back as metres, north up (the file
// holds the southern row first).
bool writeTerrainPreview(const std::string& png_path, const ElevationGrid& scaled_grid,
                         std::int32_t rows, std::int32_t columns, double posting_m,
                         const std::function<double(std::int32_t)>& metres_of,
                         std::string& problem) {
    PreviewInput input;
    input.rows = rows;
    input.columns = columns;
    input.posting_m = posting_m;
    input.metres = [&](std::int32_t row, std::int32_t column) {
        const std::int32_t h = scaled_grid[static_cast<std::size_t>(rows - 1 - row)][column];
        return h == kVoidMarker ? std::numeric_limits<double>::quiet_NaN() : metres_of(h);
    };
    return writePreview(png_path, input, problem);
}

}  // namespace

void keepThousandths(ElevationGrid& raw_grid, const GridSize& size, DecoderState& decoder) {
    decoder.thousandths = true;
    decoder.min_elevation *= kThousandths;
    // No-data is kept as it comes, in thousandths.
    for (std::int32_t i = 0; i < size.rows; ++i) {
        std::int32_t* row = raw_grid[static_cast<std::size_t>(i)];
        std::fill(row, row + size.columns, kNoData * kThousandths);
    }
}

std::optional<double> unitMetres(const ModuleSource& ddsh, std::string& problem) {
    const std::optional<std::string> unit = readElevationUnit(ddsh, problem);
    if (!unit) return std::nullopt;
    if (*unit == "METERS" || *unit == "METRES") return 1.0;
    if (*unit == "FEET") return kFootMetres;
    problem = ddsh.name + " gives the unit \"" + *unit + "\", neither METERS nor FEET";
    return std::nullopt;
}

double postingMetres(GridSpacing spacing) {
    return spacing == kSpacing10m ? 10.0 : spacing == kSpacing30m ? 30.0 : 0.0;
}

ConversionGrids::~ConversionGrids() {
    for (ElevationGrid* grid : {&scratch_grid, &scaled_grid, &raw_grid}) {
        if (!grid->empty()) releaseGrid(*grid, rows);
    }
}

Extremes unionOf(const Extremes& a, const Extremes& b) {
    return {std::max(a.max_elevation, b.max_elevation), std::min(a.min_elevation, b.min_elevation)};
}

bool writeTerFile(const std::string& output_path, std::span<const std::uint8_t> header,
                  std::int32_t rows, std::int32_t columns, const ElevationGrid& scaled_grid,
                  std::int32_t void_height, std::string& problem) {
    return writeWholeFile(
        output_path,
        [&](std::ostream& out) {
            out.write(reinterpret_cast<const char*>(header.data()),
                      static_cast<std::streamsize>(header.size()));
            writeTerBody(out, rows, columns, scaled_grid, void_height);
            return true;
        },
        problem);
}

ConversionResult finishConversion(ConversionGrids& grids, const FinishInput& input,
                                  const ConversionSettings& settings,
                                  const std::string& output_path, std::ostream& console) {
    ConversionResult result;
    const GridSize& size = input.size;
    const std::int32_t valid_above = kVoidThreshold * (settings.true_scale ? kThousandths : 1);
    result.void_cells = countVoidCells(grids.raw_grid, size.rows, size.columns, valid_above);
    if (settings.fill_voids && result.void_cells > 0) {
        result.filled_cells = fillVoids(grids.raw_grid, size.rows, size.columns, valid_above);
        if (result.filled_cells == 0) {
            console << "**no valid elevation to fill the voids from; they stay void**\n";
        }
    }

    std::vector<std::uint8_t> header;
    std::int32_t void_height = 0;
    std::function<double(std::int32_t)> metres_of;
    if (settings.true_scale) {
        const double metres_per_thousandth = input.unit_m / kThousandths;
        const auto range = validRange(grids.raw_grid, size.rows, size.columns, valid_above);
        result.lowest_m = range ? range->first * metres_per_thousandth : 0;
        result.highest_m = range ? range->second * metres_per_thousandth : 0;
        result.extremes = input.extremes;
        result.true_scale = chooseTrueScale(result.lowest_m, result.highest_m, input.posting_m);
        if (!result.true_scale) {
            result.problem = "no true scale: elevations from " + std::to_string(result.lowest_m) +
                             " to " + std::to_string(result.highest_m) +
                             " m do not fit 16-bit heights";
            return result;
        }
        const TrueScale scale = *result.true_scale;
        console << "\ntrue scale: " << result.lowest_m << " m to " << result.highest_m
                << " m, SCAL " << scale.scal_m << ", HeightScale " << scale.height_scale
                << ", BaseHeight " << scale.base_height << ", a step of " << scale.stepMetres()
                << " m\n";
        // Voids lie on the floor of the terrain, as in the stretched output.
        void_height = scale.height(result.lowest_m);
        if (!mapAndFlip(grids.raw_grid, grids.scaled_grid, grids.scratch_grid, size.rows,
                        size.columns, [&](std::int32_t v) {
                            return v > valid_above ? scale.height(v * metres_per_thousandth)
                                                   : kVoidMarker;
                        })) {
            result.problem = noMemoryProblem(size);
            return result;
        }
        const auto bytes = trueScaleHeader(size.rows, size.columns, size.min_rows_cols,
                                           static_cast<float>(scale.scal_m), scale.height_scale,
                                           scale.base_height);
        header.assign(bytes.begin(), bytes.end());
        metres_of = [scale](std::int32_t h) { return scale.metres(h); };
    } else {
        result.extremes = input.extremes;
        const Extremes range = settings.common_range.value_or(result.extremes);
        result.colormap = computeColormap(range.max_elevation, range.min_elevation, console);
        if (!scaleAndFlip(grids.raw_grid, grids.scaled_grid, grids.scratch_grid, size.rows,
                          size.columns, result.colormap.colormap_slope,
                          result.colormap.colormap_intercept)) {
            result.problem = noMemoryProblem(size);
            return result;
        }
        const auto bytes =
            terHeader(size.rows, size.columns, settings.height_scale, size.min_rows_cols);
        header.assign(bytes.begin(), bytes.end());
        // The picture's relief in metres: the colormap undone, in the transfer's unit.
        const Colormap map = result.colormap;
        const double unit = input.unit_m;
        const double lowest = range.min_elevation;
        metres_of = [map, unit, lowest](std::int32_t h) {
            if (map.colormap_slope == 0) return lowest * unit;
            return (h - static_cast<double>(map.colormap_intercept)) / map.colormap_slope * unit;
        };
    }
    // The scratch grid has done its part; the file is written from the scaled grid.
    releaseGrid(grids.scratch_grid, size.rows);
    result.converted = writeTerFile(output_path, header, size.rows, size.columns, grids.scaled_grid,
                                    void_height, result.problem);
    if (result.converted && settings.preview) {
        const std::string png =
            std::filesystem::path(output_path).replace_extension(".png").string();
        std::string problem;
        if (writeTerrainPreview(png, grids.scaled_grid, size.rows, size.columns,
                                input.posting_m > 0 ? input.posting_m : 30.0, metres_of, problem)) {
            result.preview_path = png;
        } else {
            console << "**no preview: " << problem << "**\n";
        }
    }
    return result;
}

ConversionResult convertTransfer(const TransferModules& modules, const ConversionSettings& settings,
                                 const std::string& output_path, std::ostream& console) {
    ModuleReader input_stream;
    const TransferMetadata metadata = readMetadata(input_stream, modules, console);
    const GridSize& size = metadata.size;
    const auto refuse = [&](std::string problem) {
        ConversionResult result;
        result.metadata = metadata;
        result.problem = std::move(problem);
        return result;
    };
    if (const auto problem = gridSizeProblem(size, modules.ldef.name)) return refuse(*problem);
    // The unit matters to true heights and to the picture's relief only; a plain conversion
    // does not read DDSH a second time for it.
    std::string unit_problem;
    const std::optional<double> unit_m = settings.true_scale || settings.preview
                                             ? unitMetres(modules.ddsh, unit_problem)
                                             : std::nullopt;
    const double posting_m = postingMetres(metadata.grid_spacing);
    if (settings.true_scale && !unit_m) return refuse("no true scale: " + unit_problem);
    if (settings.true_scale && posting_m == 0) {
        return refuse("no true scale: " + modules.iref.name + " gives no 10 m or 30 m posting");
    }
    ConversionGrids grids;
    if (!allocateGrids(grids.raw_grid, grids.scaled_grid, size)) {
        return refuse(noMemoryProblem(size));
    }
    grids.rows = size.rows;
    DecoderState decoder;
    if (settings.true_scale) keepThousandths(grids.raw_grid, size, decoder);
    decodeElevations(input_stream, modules.cel0, metadata, grids.raw_grid, decoder, console);
    readCorners(input_stream, modules.spdm, console);
    const FinishInput input{
        size, {decoder.max_elevation, decoder.min_elevation}, unit_m.value_or(1.0), posting_m};
    ConversionResult result = finishConversion(grids, input, settings, output_path, console);
    result.metadata = metadata;
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
