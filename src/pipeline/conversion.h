#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "grid/height_scaling.h"
#include "pipeline/stages.h"
#include "ter/true_scale.h"

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
    // Elevations in metres at the posting's scale (SCAL), BFP32 fractions kept, instead of the
    // stretched 0..32000.
    bool true_scale = false;
    // Void cells filled from the valid cells around them.
    bool fill_voids = false;
    // A PNG picture of the terrain beside the .ter file.
    bool preview = false;
};

struct ConversionResult {
    bool converted = false;
    std::string problem;  // why not, when not converted
    TransferMetadata metadata;
    Extremes extremes;  // in the transfer's unit (whole units)
    std::int64_t void_cells = 0;
    std::int64_t filled_cells = 0;
    Colormap colormap;
    // True-scale output: the lowest and highest elevation in metres and how they are held.
    double lowest_m = 0, highest_m = 0;
    std::optional<TrueScale> true_scale;
    std::string preview_path;  // when a preview was written
};

// The grids of one conversion, released however it ends.
struct ConversionGrids {
    ElevationGrid raw_grid, scaled_grid, scratch_grid;
    std::int32_t rows = 0;
    ConversionGrids() = default;
    ConversionGrids(const ConversionGrids&) = delete;
    ConversionGrids& operator=(const ConversionGrids&) = delete;
    ~ConversionGrids();
};

// What the stages after decoding need to know of a raw grid.
struct FinishInput {
    GridSize size;
    Extremes extremes;  // as the decoder tracked them, in whole units
    double unit_m = 1;  // metres in one unit of the raw values (or of their thousandths)
    double posting_m = 0;
};

// Metres in one unit of a transfer's elevations, from DDSH's unit; nothing when it says neither
// METERS nor FEET (`problem` says why).
std::optional<double> unitMetres(const ModuleSource& ddsh, std::string& problem);

// 10 or 30 for the postings marlwood knows, 0 for any other.
double postingMetres(GridSpacing spacing);

// Sets the decoder and the raw grid up for values kept in thousandths (true-scale output).
void keepThousandths(ElevationGrid& raw_grid, const GridSize& size, DecoderState& decoder);

// The stages after decoding, on a raw grid that is filled: void fill, colormap or true scale,
// the row reversal, the file and its preview.
ConversionResult finishConversion(ConversionGrids& grids, const FinishInput& input,
                                  const ConversionSettings& settings,
                                  const std::string& output_path, std::ostream& console);

// Reads, decodes, scales and writes one transfer to `output_path`. The file is written under a
// temporary name beside it and renamed when complete, so nothing half-written ever stands under
// the output name; an existing file there is replaced. Stage lines go to `console`, problems
// that do not stop the conversion as lines that start with "**".
ConversionResult convertTransfer(const TransferModules& modules, const ConversionSettings& settings,
                                 const std::string& output_path, std::ostream& console);

// Decodes a transfer only for its extremes, a row at a time, holding no grid. Nothing when its
// grid size is refused (`problem` says why).
std::optional<Extremes> readExtremes(const TransferModules& modules, std::ostream& console,
                                     std::string& problem);

// The extremes of several transfers together.
Extremes unionOf(const Extremes& a, const Extremes& b);

// Writes a whole .ter file, `header` then the heights of `scaled_grid` (void markers as
// `void_height`) and "EOF ", through a temporary file renamed into place. False (nothing left
// behind) when it cannot be written completely; `problem` says why.
bool writeTerFile(const std::string& output_path, std::span<const std::uint8_t> header,
                  std::int32_t rows, std::int32_t columns, const ElevationGrid& scaled_grid,
                  std::int32_t void_height, std::string& problem);

}  // namespace marlwood
