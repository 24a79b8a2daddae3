#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/dem_types.h"
#include "common/result.h"
#include "grid/elevation_grid.h"

namespace marlwood {

// The size of a grid resampled so that its longer side has `longest` points: the shorter side
// keeps the aspect, rounded to the nearest whole count and at least 1 (as GDAL's -outsize N 0
// sizes it). SIZE follows.
GridSize resampledSize(const GridSize& from, std::int32_t longest);

// How many times the source's points a side --size may make: finer than that only interpolates
// between the same few cells, at the cost of memory.
inline constexpr std::int32_t kMostGrowth = 16;

// The bytes a resampled grid of `size` takes, its spare row included.
std::uint64_t resampledBytes(const GridSize& size);

// The largest `longest` (at most 65535) whose grid keeps within kMostGrowth times `from`'s
// longer side and, unless `room_bytes` is 0 (unknown), within `room_bytes`; 0 when even 2 does
// not fit.
std::int32_t largestResampledSide(const GridSize& from, std::uint64_t room_bytes);

// Refuses a resampling of `from` to `longest` beyond largestResampledSide, in one line naming the
// grid it would make, its bytes, why it is refused and the most that is taken.
Status resampledSizeProblem(const GridSize& from, std::int32_t longest, std::uint64_t room_bytes);

// Resamples `from` (from_size.rows rows of from_size.columns cells, valid above `valid_above`)
// into `into` (into_size, its rows already allocated), the grids taken as covering the same area
// with each cell an area. Fewer cells: each new cell is the mean of the source cells it covers,
// weighted by the part of each it covers. As many or more: bilinear between the four nearest
// source centres, edges held. Either way voids never contribute and the weights of the valid
// cells are renormalised; a new cell without a valid contribution gets `void_value`. Values are
// rounded to the nearest whole number, in the units of the source.
void resample(const ElevationGrid& from, const GridSize& from_size, ElevationGrid& into,
              const GridSize& into_size, std::int32_t valid_above, std::int32_t void_value);

// As resample, for a source read once, into a grid whose table is made (allocateRowTable) but
// whose rows are not: each new row is allocated as it is made and each source row released as
// soon as no new row draws on it, so the two grids are never held whole at once. False when
// memory for a row cannot be had (`into` then holds the rows made so far).
// With `two_threads`, a second thread makes every other row.
bool resampleReleasing(ElevationGrid& from, const GridSize& from_size, ElevationGrid& into,
                       const GridSize& into_size, std::int32_t valid_above, std::int32_t void_value,
                       bool two_threads = false);

// The same resampling a new row at a time, for source rows that come in order and are not all
// held: new row i draws on source rows firstRow(i) .. lastRow(i), both rising with i.
class RowResampler {
  public:
    RowResampler(const GridSize& from, const GridSize& into, std::int32_t valid_above,
                 std::int32_t void_value);
    std::int32_t firstRow(std::int32_t i) const;
    std::int32_t lastRow(std::int32_t i) const;
    // New row i into `out` (into.columns cells); rows[k] is source row firstRow(i) + k.
    void row(std::int32_t i, const std::int32_t* const* rows, std::int32_t* out) const;

    // One source cell's share in a new cell along one axis.
    struct Share {
        std::int32_t cell;
        double weight;
    };

  private:
    GridSize into_;
    std::int32_t valid_above_, void_value_;
    std::vector<Share> down_, across_;  // new row / column k: shares [begin[k], begin[k + 1])
    std::vector<std::size_t> down_begin_, across_begin_;
};

// The value at the point (x, y) of `from` (size.rows rows of size.columns cells, valid above
// `valid_above`) in cell units: x from 0 at the west edge of column 0 to size.columns at the east
// edge of the last, y likewise from the north edge. Bilinear between the centres of the four
// cells around the point; a cell outside the grid or void does not contribute and the weights
// of the others are renormalised. Nothing when the point lies outside the grid or in a void cell:
// a void's area stays void, and a point never takes a value from cells it does not lie among.
// (The cell holding the point is one of the four and weighs a quarter at least.)
std::optional<double> bilinearAt(const ElevationGrid& from, const GridSize& size, double x,
                                 double y, std::int32_t valid_above);

}  // namespace marlwood
