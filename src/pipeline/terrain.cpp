#include "pipeline/terrain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>

#include "common/text.h"
#include "grid/resample.h"
#include "grid/void_fill.h"
#include "heightmap/heightmap.h"
#include "heightmap/unreal.h"
#include "platform/platform.h"

namespace marlwood {

namespace {

std::int32_t validAbove(const DecodedGrid& decoded) {
    return kVoidThreshold * (decoded.thousandths ? kThousandths : 1);
}

std::int64_t countVoidCells(const DecodedGrid& decoded) {
    const std::int32_t valid_above = validAbove(decoded);
    std::int64_t voids = 0;
    for (std::int32_t i = 0; i < decoded.size.rows; ++i) {
        const std::int32_t* row = decoded.grid[static_cast<std::size_t>(i)];
        voids += std::count_if(row, row + decoded.size.columns,
                               [&](std::int32_t v) { return v <= valid_above; });
    }
    return voids;
}

// The lowest and highest valid cell, nothing when none is valid.
std::optional<std::pair<std::int32_t, std::int32_t>> validRange(const DecodedGrid& decoded) {
    const std::int32_t valid_above = validAbove(decoded);
    std::int32_t lowest = std::numeric_limits<std::int32_t>::max();
    std::int32_t highest = std::numeric_limits<std::int32_t>::min();
    for (std::int32_t i = 0; i < decoded.size.rows; ++i) {
        const std::int32_t* row = decoded.grid[static_cast<std::size_t>(i)];
        for (std::int32_t j = 0; j < decoded.size.columns; ++j) {
            if (row[j] <= valid_above) continue;
            lowest = std::min(lowest, row[j]);
            highest = std::max(highest, row[j]);
        }
    }
    if (lowest > highest) return std::nullopt;
    return std::pair{lowest, highest};
}

}  // namespace

Status resamplingProblem(const GridSize& from, const ConversionSettings& settings,
                         bool source_held) {
    if (!settings.size) return {};
    const std::uint64_t available = availableMemoryBytes();
    const std::uint64_t held = source_held ? resampledBytes(from) : 0;
    // 0 means the machine could not tell; what is held besides must still leave room.
    const std::uint64_t room = available == 0 ? 0 : available > held ? available - held : 1;
    return resampledSizeProblem(from, *settings.size, room);
}

void describeResampled(DecodedGrid& resampled, const GridSize& from, double from_posting_m,
                       const std::optional<GridPlacement>& from_placement) {
    const std::int32_t per_unit = resampled.thousandths ? kThousandths : 1;
    const GridSize& size = resampled.size;
    // The extent divided evenly along the longer side.
    resampled.posting_m =
        from_posting_m * std::max(from.rows, from.columns) / std::max(size.rows, size.columns);
    if (from_placement) {
        // The same extent, divided evenly into the new cells.
        GridPlacement placement = *from_placement;
        placement.geotransform[1] *= static_cast<double>(from.columns) / size.columns;
        placement.geotransform[5] *= static_cast<double>(from.rows) / size.rows;
        resampled.placement = placement;
    }
    // As the decoder keeps them: whole units, the thousandths cut off.
    if (const auto range = validRange(resampled)) {
        resampled.extremes = {range->second / per_unit, range->first / per_unit};
    }
    resampled.resampled_from = from;
}

Result<DecodedGrid> resampleDecoded(DecodedGrid decoded, std::int32_t longest) {
    const GridSize size = resampledSize(decoded.size, longest);
    return resampleDecoded(std::move(decoded), size);
}

Result<DecodedGrid> resampleDecoded(DecodedGrid decoded, const GridSize& size, unsigned threads) {
    ConversionSettings asked;
    asked.size = std::max(size.rows, size.columns);
    if (Status fits = resamplingProblem(decoded.size, asked); !fits) return fits.error();
    const std::uint64_t source_bytes = (static_cast<std::uint64_t>(decoded.size.rows) + 1) *
                                       static_cast<std::uint64_t>(decoded.size.columns) *
                                       sizeof(std::int32_t);
    // The source goes as the new grid comes: the two are never held whole at once.
    Result<DecodedGrid> resampled = reserveDecodedGrid(size, decoded.thousandths, source_bytes);
    if (!resampled) return resampled;
    const std::int32_t per_unit = decoded.thousandths ? kThousandths : 1;
    constexpr std::int64_t kPointsWorthAThread = 1 << 20;
    const bool two_threads = threads != 1 && std::thread::hardware_concurrency() >= 2 &&
                             std::int64_t{size.rows} * size.columns >= kPointsWorthAThread;
    if (!resampleReleasing(decoded.grid, decoded.size, resampled->grid, size, validAbove(decoded),
                           kNoData * per_unit, two_threads) ||
        !allocateRow(resampled->grid, size.rows, size.columns)) {
        return failure(noMemoryProblem(size));
    }
    std::int32_t* spare = resampled->grid[static_cast<std::size_t>(size.rows)];
    std::fill(spare, spare + size.columns, kNoData * per_unit);
    resampled->unit_m = decoded.unit_m;
    describeResampled(*resampled, decoded.size, decoded.posting_m, decoded.placement);
    releaseGrid(decoded.grid, decoded.size.rows);
    return resampled;
}

Terrain::Postings Terrain::postings() const {
    if (decoded.placement) {
        return {decoded.placement->geotransform[1], -decoded.placement->geotransform[5]};
    }
    const GridSize& to = decoded.size;
    if (!resampled_from || to.rows < 1 || to.columns < 1) {
        return {decoded.posting_m, decoded.posting_m};
    }
    // The posting is that of the longer side (describeResampled); each side keeps its extent.
    const GridSize& from = *resampled_from;
    const double source_m =
        decoded.posting_m * std::max(to.rows, to.columns) / std::max(from.rows, from.columns);
    return {source_m * from.columns / to.columns, source_m * from.rows / to.rows};
}

std::int32_t Terrain::height(std::int32_t cell) const {
    if (!true_scale)
        return scaleElevation(cell, colormap.colormap_slope, colormap.colormap_intercept);
    if (cell <= validAbove(decoded)) return kVoidMarker;
    return true_scale->height(cell * decoded.unit_m / kThousandths);
}

void Terrain::rowHeights(std::int32_t row, std::int32_t* heights) const {
    const std::int32_t* cells = decoded.grid[static_cast<std::size_t>(row)];
    if (!true_scale) {
        scaleRow(cells, heights, decoded.size.columns, colormap.colormap_slope,
                 colormap.colormap_intercept);
        return;
    }
    for (std::int32_t j = 0; j < decoded.size.columns; ++j) heights[j] = height(cells[j]);
}

std::int32_t Terrain::voidHeight() const {
    // Voids lie on the floor of the terrain: 0 is the bottom of the colormap.
    return true_scale ? true_scale->height(lowest_m) : 0;
}

double Terrain::metres(std::int32_t h) const {
    if (true_scale) return true_scale->metres(h);
    // The colormap undone, in the transfer's unit.
    if (colormap.colormap_slope == 0) return range.min_elevation * decoded.unit_m;
    return (h - static_cast<double>(colormap.colormap_intercept)) / colormap.colormap_slope *
           decoded.unit_m;
}

namespace {

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// What Cities: Skylines II will make of a terrain other than its own: a ground it stretches to its
// square, and elevations outside 0 m to its height scale, which are written at the nearer end.
void warnCs2Fit(const Terrain& terrain, const ConversionSettings& settings, EventSink& events) {
    const Cs2Map map = *settings.cs2;
    const double side_m = cs2SideM(map);
    const Terrain::Postings postings = terrain.postings();
    const double across_m = postings.x_m * terrain.decoded.size.columns;
    const double along_m = postings.y_m * terrain.decoded.size.rows;
    // Within 1%: a crop of --extent 14.336 ends on whole cells.
    const auto off = [&](double m) { return std::abs(m - side_m) > side_m / 100; };
    const std::string side_km = fixed(side_m / 1000, 3);
    if (postings.x_m > 0 && (off(across_m) || off(along_m))) {
        events.emit(event::Warning{
            "Cities: Skylines II lays its heightmap over " +
            std::string(map == Cs2Map::World ? "its world map, " : "its playable area, ") +
            side_km + " km square, and this terrain spans " + fixed(across_m / 1000, 3) + " x " +
            fixed(along_m / 1000, 3) +
            " km (east-west x north-south), so its ground is stretched; crop a square of that "
            "side: --centre LAT,LON --extent " +
            side_km + " (with --merge over neighbouring quads where one does not cover it)"});
    }
    const double scale_m = settings.cs2_height_scale_m.value_or(kCs2HeightScaleM);
    if (terrain.lowest_m < 0) {
        events.emit(event::Warning{"elevations below 0 m (down to " + fixed(terrain.lowest_m, 2) +
                                   " m) are written as 0 m, the lowest Cities: Skylines II "
                                   "holds"});
    }
    if (terrain.highest_m > scale_m) {
        events.emit(event::Warning{
            "elevations above the height scale, " + shownNumber(scale_m) + " m (up to " +
            fixed(terrain.highest_m, 2) + " m), are written at it: give --cs2-height-scale " +
            fixed(std::ceil(terrain.highest_m), 0) + " and the same Height Scale on import"});
    }
}

}  // namespace

Result<Terrain> prepareTerrain(DecodedGrid decoded, const ConversionSettings& settings,
                               EventSink& events) {
    Terrain terrain;
    std::optional<GridSize> size;
    if (settings.size) size = resampledSize(decoded.size, *settings.size);
    if (settings.engine_size == Engine::Unreal) {
        // Every side of its own, to the nearest whole components: the points are kept, and each
        // side's posting follows it.
        const TileCount tiles = settings.tiles.value_or(TileCount{});
        const std::optional<UnrealLandscape> fit =
            nearestUnrealFit(decoded.size.columns, decoded.size.rows, tiles.columns, tiles.rows);
        if (!fit) {
            return failure("--size unreal: no Unreal landscape fits a terrain of " +
                               std::to_string(decoded.size.rows) + " x " +
                               std::to_string(decoded.size.columns) + " points",
                           ErrorKind::UsageShape);
        }
        terrain.engine_size = "the nearest exact fit for Unreal";
        size = GridSize{.rows = fit->height, .columns = fit->width};
        size->min_rows_cols = std::min(fit->height, fit->width) - 1;
    } else if (settings.engine_size == Engine::Unity) {
        const std::int32_t longest = std::max(decoded.size.rows, decoded.size.columns);
        const std::optional<std::int32_t> side = engineSize(Engine::Unity, longest);
        if (!side) {
            return failure("--size unity: " + std::to_string(longest) +
                               " points are fewer than Unity's smallest terrain, 33; give a "
                               "number to --size to grow it",
                           ErrorKind::UsageShape);
        }
        terrain.engine_size = "Unity's " + std::to_string(*side);
        size = resampledSize(decoded.size, *side);
    } else if (settings.cs2) {
        // Its one size whatever the terrain's shape, each side its own posting: a warning says
        // when the ground is stretched.
        terrain.engine_size =
            "Cities: Skylines II's " + std::to_string(kCs2Side) + " x " + std::to_string(kCs2Side);
        size = GridSize{.rows = kCs2Side, .columns = kCs2Side, .min_rows_cols = kCs2Side - 1};
    }
    // A terrain already of the engine's size is kept as it is.
    if ((settings.engine_size || settings.cs2) && size->rows == decoded.size.rows &&
        size->columns == decoded.size.columns) {
        size.reset();
    }
    if (decoded.resampled_from) {
        terrain.resampled_from = decoded.resampled_from;  // resampled as it was decoded
    } else if (size) {
        terrain.resampled_from = decoded.size;
        Result<DecodedGrid> resampled =
            resampleDecoded(std::move(decoded), *size, settings.threads);
        if (!resampled) return resampled.error();
        decoded = std::move(*resampled);
    }
    terrain.decoded = std::move(decoded);
    terrain.height_scale = settings.height_scale;
    DecodedGrid& grid = terrain.decoded;
    terrain.void_cells = countVoidCells(grid);
    if (settings.fillsVoids()) {
        terrain.filled_cells = 0;
        if (terrain.void_cells > 0) {
            terrain.filled_cells =
                fillVoids(grid.grid, grid.size.rows, grid.size.columns, validAbove(grid));
            if (*terrain.filled_cells == 0) {
                events.emit(
                    event::Warning{"no valid elevation to fill the voids from; they stay void"});
            }
        }
    }
    if (!grid.thousandths) {
        terrain.range = settings.common_range.value_or(grid.extremes);
        terrain.colormap =
            computeColormap(terrain.range.max_elevation, terrain.range.min_elevation);
        events.emit(event::ColormapComputed{terrain.colormap.elevrange,
                                            terrain.colormap.colormap_slope,
                                            terrain.colormap.colormap_intercept});
        return terrain;
    }
    const double metres_per_thousandth = grid.unit_m / kThousandths;
    const auto range = validRange(grid);
    terrain.lowest_m = range ? range->first * metres_per_thousandth : 0;
    terrain.highest_m = range ? range->second * metres_per_thousandth : 0;
    if (settings.cs2) warnCs2Fit(terrain, settings, events);
    terrain.true_scale = chooseTrueScale(terrain.lowest_m, terrain.highest_m, grid.posting_m);
    // Only a .ter file's heights have 16 bits: a format of metres holds any elevation.
    if (!terrain.true_scale && !settings.true_scale) return terrain;
    if (!terrain.true_scale) {
        return failure("no true scale: elevations from " + std::to_string(terrain.lowest_m) +
                       " to " + std::to_string(terrain.highest_m) + " m do not fit 16-bit heights");
    }
    const TrueScale& scale = *terrain.true_scale;
    events.emit(event::TrueScaleChosen{terrain.lowest_m, terrain.highest_m, scale.scal_m,
                                       scale.stepMetres(), scale.height_scale, scale.base_height});
    return terrain;
}

}  // namespace marlwood
