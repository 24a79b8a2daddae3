#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/events.h"
#include "common/result.h"
#include "geo/lattice.h"
#include "geo/projection.h"
#include "pipeline/reader.h"
#include "pipeline/settings.h"
#include "pipeline/transfer.h"
#include "sdts/georeference.h"

// Several neighbouring sources as one terrain: each source's grid placed on one lattice by its
// georeference, read a row at a time into the merged grid.
namespace marlwood {

// One transfer and its place in the merged grid.
struct MergePiece {
    std::string source;
    Input input;
    TransferMetadata metadata;
    Georeference georeference;
    double unit_m = 1;
    // Its place in the merged grid: the cells it covers from (row_offset, column_offset), its own
    // grid's size when it lies on the lattice; for a resampled piece, the cells whose centres fall
    // in its cells (a reprojected one covers only part of that rectangle).
    std::int32_t row_offset = 0;
    std::int32_t column_offset = 0;
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    // Not on the merged grid's lattice, so resampled onto it: in another UTM zone (reprojected
    // from georeference.zone), or in the zone but off the lattice by `off_east_m` metres east and
    // `off_south_m` south (each within half a posting).
    bool resampled = false;
    double off_east_m = 0, off_south_m = 0;
    // The ground it owns in its own system, when less than its grid (a 3DEP tile's degree
    // square, its overlap left to its neighbours).
    std::optional<Bounds> own_area;
    // On the lattice: the ground other tiles given own (their own_area), where this one's cells
    // give way.
    std::vector<Bounds> owned_by_others;
    // Laid onto another datum: how far that moved its coordinates at its centre (east, north).
    std::optional<GroundPoint> datum_shift_m;
    // Heights raised from NGVD29 to NAVD88 as they are laid: VERTCON's shift in metres at nodes
    // every `shift_step` rows and columns of its grid (the last row and column nodes too), the
    // cells between interpolated; empty when not shifted.
    std::vector<double> height_shift_m;
    std::int32_t shift_step = 0, shift_rows = 0, shift_columns = 0;
    double centre_shift_m = 0, lowest_shift_m = 0, highest_shift_m = 0;
};

struct MergePlan {
    std::vector<MergePiece> pieces;
    GridSize size;         // of the merged grid
    GroundPoint top_left;  // its outer top-left corner on the ground
    double posting_m = 0;
    int zone = 0;  // the UTM zone (XREF's) the merged grid lies in, and top_left with it
    std::string hdat;  // its datum, as XREF codes it
    // Module bytes held in memory while the pieces are decoded (archive members; files hold
    // none): all that is held now, the largest CEL0 read when it is opened, and the largest grid of
    // a resampled piece, which is decoded whole before it is resampled.
    std::uint64_t held_bytes = 0;
    // PROJ's transformations made for the plan, kept for decoding (shared by copies of the plan;
    // one thread uses a plan).
    std::shared_ptr<Reprojections> reprojections = std::make_shared<Reprojections>();
    // A crop: the window of the merged area that `size` and `top_left` now give. The pieces'
    // offsets stay those in the merged area; only the pieces the window touches stay.
    std::optional<CellWindow> window;
};

// Reads every source's metadata and georeference (each module once, strictly) and lays the grids
// on one lattice. They must share reference system, datum and posting and, unless
// `converting_units`, one elevation unit; the Error names the odd source and what differs.
// The merged grid lies in UTM zone `zone` or, when 0, the sources' one zone or, when they lie in
// several, the zone that holds the centre of their area. The lattice is that of the first source
// in that zone (of whole postings when none is); a source in another zone or off the lattice is
// resampled onto it. Only a merge that resamples across zones needs PROJ.
// `posting`: the merged grid's, in metres (0: the first UTM source's, else the first source's
// ground posting).
// `shift_heights`: where NGVD29 and NAVD88 sources meet, NGVD29 heights are raised to NAVD88
// through VERTCON's grids.
Result<MergePlan> planMerge(const std::vector<Input>& sources, bool converting_units,
                            EventSink& events, int zone = 0, double posting = 0,
                            bool shift_heights = true);

// Narrows the plan to the window of the merged area that `crop` covers (see MergePlan::window).
// `whole`: the window is the whole crop, its cells beyond every piece void (a 3DEP tile the
// server has not), where it would otherwise be cut to the pieces' area.
Status cropMergePlan(MergePlan& plan, const PlaceCrop& crop, bool whole = false);
// The same for a window of the merged area's cells.
Status windowMergePlan(MergePlan& plan, const CellWindow& window);

struct MergedGrid {
    DecodedGrid decoded;             // extremes of all pieces together, in whole units
    std::int64_t disagreements = 0;  // cells where two valid values differ (the first stays)
};

// Decodes every piece into one grid of the plan's size (every cell void first), in the order
// given: a valid value fills a void one, and where two valid values differ the first stays.
// Resampled pieces come after those on the lattice, so a measured cell wins over an
// interpolated one; where they differ does not count as a disagreement (an interpolated value
// seldom equals a measured one). Each is decoded whole and resampled bilinearly (see
// bilinearAt in grid/resample.h), one at a time.
// `thousandths`: values kept in thousandths of a metre (pieces in feet are converted). A large
// resampled piece is laid by two threads unless `threads` is 1.
Result<MergedGrid> decodeMerged(const MergePlan& plan, bool thousandths, EventSink& events,
                                unsigned threads = 1);

// Whether decodeMergedResampled takes the plan: every piece's CEL0 on the merged lattice.
bool decodesAsItResamples(const MergePlan& plan);

// The plan's grid resampled to `into` (as `resample` in grid/resample.h does it) as it is
// decoded: the grid's rows are made in blocks, every piece that reaches a block read on to its
// last row there, and a new row is made as soon as the rows it draws on are there. Only those are
// held, and each CEL0 is read only as far as the grid needs. The pieces of a block are decoded on
// up to `threads` threads, and laid in their order as decodeMerged lays them.
Result<MergedGrid> decodeMergedResampled(const MergePlan& plan, const GridSize& into,
                                         bool thousandths, EventSink& events, unsigned threads);

// Where the merged grid lies: the plan's zone on the sources' datum, its corner the plan's; an
// Error when that system has no EPSG code.
Result<GridPlacement> mergedPlacement(const MergePlan& plan);

}  // namespace marlwood
