#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/events.h"
#include "common/result.h"
#include "pipeline/merge.h"
#include "pipeline/reader.h"
#include "pipeline/settings.h"
#include "pipeline/terrain.h"
#include "pipeline/transfer.h"

// The one orchestrator: every conversion, whichever front end asks for it (the dialogue, one
// source of the command line, each source of a batch, a merge), passes through runConversion's
// stages in order: read, prepare, write.
namespace marlwood {

// What to convert and how.
struct ConversionRequest {
    // One source, or with `merge` every source as one terrain.
    std::vector<Input> sources;
    bool merge = false;
    // A merge's crop is the whole area asked for, void where no source lies (the 3DEP tiles a
    // server has not), rather than cut to the sources' area.
    bool whole_crop = false;
    // How a single transfer's metadata is read: the dialogue's walks, or strictly (a merge
    // always reads strictly).
    MetadataReading reading = MetadataReading::Strict;
    ConversionSettings settings;
};

// Where a conversion writes: a path, written whole through an exclusive temporary name ("-" is
// standard output), or an open stream (the dialogue's own file), named by `path` in messages.
struct ConversionTarget {
    std::string path;
    std::ostream* stream = nullptr;
    std::string preview;  // the picture's path; empty: none
};

// Gives the target once the terrain is prepared: the dialogue asks for its file only then. An
// Error abandons the conversion before anything is written.
using TargetChooser = std::function<Result<ConversionTarget>()>;

// A target known from the start.
TargetChooser fixedTarget(ConversionTarget target);

// What a written conversion made, for the report.
struct ConversionSummary {
    GridSize size;  // of the written terrain
    // When --size resampled the grid: the new posting (0 when unknown).
    bool resampled = false;
    double posting_m = 0;
    double posting_x_m = 0, posting_y_m = 0;  // west to east and north to south
    Extremes extremes;                        // of the written grid, in whole units
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
    std::string engine_size;  // "Unity's 1025", when --size named an engine
    // How the heightmap's engine takes its size ("Unreal: 8 x 8 components of 126 quads ...").
    std::string engine_fit;
    std::optional<HeightRange> heightmap_range;
    std::int32_t tile_count = 0;  // 0: not tiled
    std::string tile_size;        // "505 x 505"
    std::string sidecar_path;
    // Tiles of an older set of the heightmap's name beside it, which it did not write; the
    // command line removes them with -f (then counted here) and names them otherwise.
    std::vector<std::string> stale_tiles;
    std::size_t stale_tiles_removed = 0;
};

struct ConversionOutcome {
    ConversionSummary summary;
    // One transfer: its metadata, and the cells kept of a crop.
    std::optional<TransferMetadata> metadata;
    std::optional<CellWindow> window;
    // A merge: its plan, and the cells where two valid values differed (the first stayed).
    std::optional<MergePlan> plan;
    std::int64_t disagreements = 0;
};

// Reads, prepares and writes, reporting event::StageStarted as it enters each stage; the
// terrain is written whole or not at all.
Result<ConversionOutcome> runConversion(const ConversionRequest& request,
                                        const TargetChooser& target, EventSink& events);

// A transfer decoded for its extremes only, holding no grid (a common range's first pass).
Result<Extremes> readExtremes(const Input& input, EventSink& events);
// The same for heightmaps, in metres with the decimals kept; nothing when no cell is valid.
Result<std::optional<HeightRange>> readHeightRange(const Input& input, EventSink& events);
// The range that holds both.
HeightRange unionOf(const HeightRange& a, const HeightRange& b);

}  // namespace marlwood
