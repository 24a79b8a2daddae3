#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/dem_types.h"
#include "common/events.h"
#include "common/grid_placement.h"
#include "common/result.h"
#include "geo/window.h"
#include "grid/elevation_grid.h"
#include "pipeline/settings.h"
#include "sdts/georeference.h"

// The first step of a conversion: a source's metadata, then its elevations as a grid.
namespace marlwood {

// How a transfer's metadata modules are read.
enum class MetadataReading {
    // The fixed walks the dialogue has always made: a damaged module is reported as events and
    // what was not found reads as 0, so the conversion goes on.
    Walks,
    // The ISO 8211 reader: a damaged module refuses the transfer with one line naming it.
    Strict,
};

// What a source's row reads before its cells: the same for every input format.
struct TransferMetadata {
    ValueType value_type = 0;  // an SDTS transfer's, from DDSH
    std::string values;        // how the elevations are stored, as the report names it
    GridSize size;
    std::string size_from;  // what gives the size (LDEF), for the line that refuses it
    GridSpacing grid_spacing = kNoSpacing;
    double posting_m = 0;  // metres between cells (of the grid it is laid onto); 0 when unknown
    // Not on a UTM lattice (degrees, another projection): a conversion lays it onto one.
    bool reprojected = false;
    // The heights' datum: "NGVD29", "NAVD88", or empty when not known.
    std::string vertical_datum;
    // Metres in one unit of the elevations, or why that is not known (the unit is one marlwood
    // does not know; only a strict read learns it).
    Result<double> unit_m = failure("the elevation unit is not read");
    // Where the grid lies, when asked for.
    std::optional<Georeference> georeference;
    // Its coordinate system and geotransform, or why not: not asked for, or a system with no
    // EPSG code marlwood knows, which only formats that place the grid need.
    Result<GridPlacement> placement = failure("where the grid lies is not read");
    // A source that keeps coarser copies of its grid (a GeoTIFF's overviews): each one's size and
    // ground posting, the full grid first. `level` is the one this describes and that is read.
    struct Level {
        GridSize size;
        double posting_m = 0;
    };
    std::vector<Level> levels;
    std::int32_t level = 0;
    // Cells across one block of the file (a tiled GeoTIFF's tile), when it is read a block at a
    // time: windows side by side split on a block's edge read no block twice. 0: not so.
    std::int32_t block_columns = 0;
};

// A decoded grid: the first CEL0 record is row 0, the northern row. Cells are in whole units of
// the transfer or, with `thousandths`, in thousandths of them (true heights keep BFP32 decimals).
struct DecodedGrid {
    ElevationGrid grid;
    GridSize size;
    Extremes extremes;  // in whole units
    bool thousandths = false;
    double unit_m = 1;     // metres in one unit
    double posting_m = 0;  // metres between cells; 0 when unknown
    // Where the grid lies, when the metadata was read placed.
    std::optional<GridPlacement> placement;
    // Set when the grid is already resampled, from a grid of this size.
    std::optional<GridSize> resampled_from;
};

// The grid of `size`, every cell void, after asking the machine for the memory (thousandths:
// void kept in thousandths); `also_held` bytes that will be held beside it count too. An Error
// when it cannot be had.
// `void_filled` false: the cells are left as they come, for a caller that writes every one.
Result<DecodedGrid> allocateDecodedGrid(const GridSize& size, bool thousandths,
                                        std::uint64_t also_held = 0, bool void_filled = true);
// The same grid's table alone, its rows to be allocated one at a time (resampleReleasing).
Result<DecodedGrid> reserveDecodedGrid(const GridSize& size, bool thousandths,
                                       std::uint64_t also_held = 0);

// Where a window of a grid lies: its first cell is the corner now. Nothing when the grid's place
// is not known.
std::optional<GridPlacement> windowPlacement(const Result<GridPlacement>& grid,
                                             std::int32_t first_row, std::int32_t first_column);

// Whether a grid of this size, as `size_from` gives it, can be written as `format` (for a .ter, a
// side beyond 16 bits is the mark of a damaged LDEF).
Status fitsFormat(const GridSize& size, const std::string& size_from, const OutputFormat& format);

// The text that abandons a conversion whose grid does not fit in memory.
std::string noMemoryProblem(const GridSize& size);

// Metres in one unit named by DDSH: METERS (or METRES) or FEET; nothing for any other.
std::optional<double> unitMetres(const std::string& unit);

// 10 or 30 for the postings the walks know, 0 for any other.
double postingMetres(GridSpacing spacing);

}  // namespace marlwood
