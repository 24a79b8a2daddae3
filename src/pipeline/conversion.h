#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "grid/height_scaling.h"
#include "pipeline/stages.h"

// One whole conversion without a dialogue: the same stages in the same order, the answers given
// up front. The command line runs one of these per source.
namespace marlwood {

// The lowest and highest valid elevation, as the decoder tracks them (0 and 9000 when no cell
// is valid).
struct Extremes {
    std::int32_t max_elevation = 0;
    std::int32_t min_elevation = 9000;
};

struct ConversionSettings {
    std::int32_t height_scale = 30;
    // The colormap is made from these extremes instead of the transfer's own, so that several
    // transfers share one.
    std::optional<Extremes> common_range;
};

struct ConversionResult {
    bool converted = false;
    std::string problem;  // why not, when not converted
    TransferMetadata metadata;
    Extremes extremes;
    std::int64_t void_cells = 0;
    Colormap colormap;
};

// Reads, decodes, scales and writes one transfer to `output_path`. The file is written under a
// temporary name beside it and renamed when complete, so nothing half-written ever stands under
// the output name; an existing file there is replaced. Stage lines go to `console`.
ConversionResult convertTransfer(const TransferModules& modules, const ConversionSettings& settings,
                                 const std::string& output_path, std::ostream& console);

// Decodes a transfer only for its extremes, a row at a time, holding no grid. Nothing when its
// grid size is refused (`problem` says why).
std::optional<Extremes> readExtremes(const TransferModules& modules, std::ostream& console,
                                     std::string& problem);

// The extremes of several transfers together.
Extremes unionOf(const Extremes& a, const Extremes& b);

// Writes a whole .ter file through a temporary file renamed into place. False (nothing left
// behind) when it cannot be written completely; `problem` says why.
bool writeTerFile(const std::string& output_path, std::int32_t rows, std::int32_t columns,
                  std::int32_t height_scale, std::int32_t min_rows_cols,
                  const ElevationGrid& scaled_grid, std::string& problem);

}  // namespace marlwood
