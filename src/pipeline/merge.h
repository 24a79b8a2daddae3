#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "pipeline/conversion.h"
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
};

struct MergePlanResult {
    std::optional<MergePlan> plan;
    std::string error;  // names the odd source and what differs
};

struct MergeSource {
    std::string source;
    TransferModules modules;
};

// Reads every source's metadata and georeference and lays the grids on one lattice. They must
// share reference system, zone, datum and posting, lie on one lattice (origins a whole number of
// postings apart) and, unless `converting_units`, one elevation unit.
MergePlanResult planMerge(const std::vector<MergeSource>& sources, bool converting_units,
                          std::ostream& console);

struct MergeOutcome {
    Extremes extremes;               // of all pieces together, in whole units
    std::int64_t disagreements = 0;  // cells where two valid values differ (the first stays)
};

// Decodes every piece into `raw_grid` (the plan's size; every cell void first), in the order
// given: a valid value fills a void one, and where two valid values differ the first stays.
// `thousandths`: values kept in thousandths of a metre (pieces in feet are converted).
MergeOutcome decodeMerged(const MergePlan& plan, ElevationGrid& raw_grid, bool thousandths,
                          std::ostream& console);

// The whole merge: plan, decode, then the stages of one conversion on the merged grid.
struct MergeResult {
    std::optional<MergePlan> plan;
    MergeOutcome outcome;
    ConversionResult conversion;
};
MergeResult mergeTransfers(const std::vector<MergeSource>& sources,
                           const ConversionSettings& settings, const std::string& output_path,
                           std::ostream& console);

}  // namespace marlwood
