#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/events.h"
#include "common/result.h"
#include "pipeline/settings.h"
#include "pipeline/terrain.h"
#include "pipeline/transfer.h"

// A whole conversion with its answers given up front, as the command line makes one: read,
// prepare, write. The command line runs one of these per source.
namespace marlwood {

// Where a conversion writes: the terrain, and the picture when one is asked for.
struct OutputPaths {
    std::string terrain;
    std::string preview;  // empty: none
};

// What a written conversion made, for the report.
struct ConversionSummary {
    GridSize size;  // of the written terrain
    // When --size resampled the grid: the new posting (0 when unknown).
    bool resampled = false;
    double posting_m = 0;
    Extremes extremes;  // of the written grid, in whole units
    std::int64_t void_cells = 0;
    std::optional<std::int64_t> filled_cells;
    std::optional<TrueScale> true_scale;  // how true heights were written
    // The lowest and highest elevation in metres, when the elevations were kept with decimals.
    bool in_metres = false;
    double lowest_m = 0, highest_m = 0;
    std::string terrain_path;
    std::string preview_path;              // when a picture was written
    std::optional<Error> preview_problem;  // the terrain was written, the picture was not
    // A heightmap: the engine size --size picked, the range its 0..65535 span, its tiles and its
    // sidecar.
    std::string engine_size;  // "Unreal's 1009", when --size named an engine
    std::optional<HeightRange> heightmap_range;
    std::int32_t tile_count = 0;  // 0: not tiled
    std::string tile_size;        // "505 x 505"
    std::string sidecar_path;
};

// Prepares a decoded grid and writes it: the steps after reading, shared by one transfer and a
// merge. The terrain is written whole or not at all.
Result<ConversionSummary> finishConversion(DecodedGrid decoded, const ConversionSettings& settings,
                                           const OutputPaths& outputs, EventSink& events);

// One transfer, its metadata read strictly.
struct TransferConversion {
    TransferMetadata metadata;
    ConversionSummary summary;
    std::optional<CellWindow> window;  // the cells kept of a crop
};
Result<TransferConversion> convertTransfer(const TransferModules& modules,
                                           const ConversionSettings& settings,
                                           const OutputPaths& outputs, EventSink& events);

// A transfer decoded for its extremes only, holding no grid (a common range's first pass).
Result<Extremes> readExtremes(const TransferModules& modules, EventSink& events);
// The same for heightmaps, in metres with the decimals kept; nothing when no cell is valid.
Result<std::optional<HeightRange>> readHeightRange(const TransferModules& modules,
                                                   EventSink& events);
// The range that holds both.
HeightRange unionOf(const HeightRange& a, const HeightRange& b);

// The extremes of several transfers together.
Extremes unionOf(const Extremes& a, const Extremes& b);

}  // namespace marlwood
