#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/events.h"
#include "common/result.h"
#include "grid/height_scaling.h"
#include "pipeline/settings.h"
#include "pipeline/transfer.h"
#include "ter/true_scale.h"

// The second step: a decoded grid prepared as a terrain (voids counted and filled, the heights
// chosen), ready for any writer. The heights are made from the grid as a writer asks for them, so
// a conversion holds one grid, never a second.
namespace marlwood {

struct Terrain {
    DecodedGrid decoded;
    std::int32_t height_scale = 30;            // the stretched heights' HeightScale
    std::int64_t void_cells = 0;               // before any filling
    std::optional<std::int64_t> filled_cells;  // when filling was asked for
    std::optional<GridSize> resampled_from;    // the decoded size, when resampled
    // What --size unreal or unity picked, for the report ("Unity's 257").
    std::optional<std::string> engine_size;
    // Stretched heights: the colormap and the extremes it was made from.
    Colormap colormap;
    Extremes range;
    // True heights: how they are held, and the lowest and highest elevation in metres.
    std::optional<TrueScale> true_scale;
    double lowest_m = 0, highest_m = 0;

    const GridSize& size() const { return decoded.size; }
    // The metres between points west to east and north to south: they differ when --size
    // resampled the two sides by different factors. 0 when unknown.
    struct Postings {
        double x_m = 0, y_m = 0;
    };
    Postings postings() const;
    // The height of one cell, or the void marker.
    std::int32_t height(std::int32_t cell) const;
    // The heights of grid row `row` (row 0 the northern one) into `heights`.
    void rowHeights(std::int32_t row, std::int32_t* heights) const;
    // Where a void lies in the file: the floor of the terrain.
    std::int32_t voidHeight() const;
    // The elevation in metres a height stands for.
    double metres(std::int32_t height) const;
};

// The decoded grid resampled so that its longer side has `longest` points (grid/resample.h), the
// posting grown or shrunk with it and the extremes those of the new cells. Holds the source and
// the new grid, nothing more; an Error when the new grid does not fit in memory.
Result<DecodedGrid> resampleDecoded(DecodedGrid decoded, std::int32_t longest);
// The same to a size of one's own: each side's posting follows its own factor.
// `threads`: 1 keeps to the calling thread; otherwise a large grid is made by two.
Result<DecodedGrid> resampleDecoded(DecodedGrid decoded, const GridSize& size,
                                    unsigned threads = 1);

// What resampleDecoded tells of a grid it made of one of `from`'s size, spacing and place: its
// spacing, place and extremes, and that it is resampled (for a grid resampled as it was decoded).
void describeResampled(DecodedGrid& resampled, const GridSize& from, double from_posting_m,
                       const std::optional<GridPlacement>& from_placement);

// Refuses a --size the grid of `from` cannot take (grid/resample.h: resampledSizeProblem), the
// source grid counted as held beside the new one unless `source_held` is false (a grid resampled
// as it is decoded); called as soon as `from` is known, before anything is decoded or allocated.
// Nothing to refuse without a --size.
Status resamplingProblem(const GridSize& from, const ConversionSettings& settings,
                         bool source_held = true);

// Resamples when the settings give a size, counts the voids, fills them when asked, and chooses the
// heights: the colormap (from the common range when one is given) or the true scale. An Error when
// true heights do not fit.
Result<Terrain> prepareTerrain(DecodedGrid decoded, const ConversionSettings& settings,
                               EventSink& events);

}  // namespace marlwood
