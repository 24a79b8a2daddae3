#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/events.h"
#include "common/result.h"
#include "pipeline/conversion.h"
#include "pipeline/transfer.h"
#include "sdts/georeference.h"

// Several neighbouring transfers as one terrain: each transfer's grid placed on one lattice by
// its georeference, decoded a row at a time into the merged grid.
namespace marlwood {

// One transfer and its place in the merged grid.
struct MergePiece {
    std::string source;
    TransferModules modules;
    TransferMetadata metadata;
    Georeference georeference;
    double unit_m = 1;
    std::int32_t row_offset = 0;
    std::int32_t column_offset = 0;
};

struct MergePlan {
    std::vector<MergePiece> pieces;
    GridSize size;         // of the merged grid
    GroundPoint top_left;  // its outer top-left corner on the ground
    double posting_m = 0;
    // Module bytes held in memory while the pieces are decoded (archive members; files hold
    // none): all that is held now, and the largest CEL0 read when it is opened.
    std::uint64_t held_bytes = 0;
    // A crop: the window of the merged area that `size` and `top_left` now give. The pieces'
    // offsets stay those in the merged area; only the pieces the window touches stay.
    std::optional<CellWindow> window;
};

struct MergeSource {
    std::string source;
    TransferModules modules;
};

// Reads every source's metadata and georeference (each module once, strictly) and lays the grids
// on one lattice. They must share reference system, zone, datum and posting, lie on one lattice
// (origins a whole number of postings apart) and, unless `converting_units`, one elevation unit.
// The Error names the odd source and what differs.
Result<MergePlan> planMerge(const std::vector<MergeSource>& sources, bool converting_units,
                            EventSink& events);

// Narrows the plan to the window of the merged area that `crop` covers (see MergePlan::window).
Status cropMergePlan(MergePlan& plan, const PlaceCrop& crop);

struct MergedGrid {
    DecodedGrid decoded;             // extremes of all pieces together, in whole units
    std::int64_t disagreements = 0;  // cells where two valid values differ (the first stays)
};

// Decodes every piece into one grid of the plan's size (every cell void first), in the order
// given: a valid value fills a void one, and where two valid values differ the first stays.
// `thousandths`: values kept in thousandths of a metre (pieces in feet are converted).
Result<MergedGrid> decodeMerged(const MergePlan& plan, bool thousandths, EventSink& events);

// The whole merge: plan, decode, then the steps of one conversion on the merged grid.
struct MergeSummary {
    MergePlan plan;
    std::int64_t disagreements = 0;
    ConversionSummary conversion;
};
Result<MergeSummary> mergeTransfers(const std::vector<MergeSource>& sources,
                                    const ConversionSettings& settings, const OutputPaths& outputs,
                                    EventSink& events);

}  // namespace marlwood
