#include "pipeline/conversion.h"

#include <algorithm>

#include "geo/placement.h"
#include "pipeline/heightmap_output.h"
#include "pipeline/writers.h"

namespace marlwood {

Extremes unionOf(const Extremes& a, const Extremes& b) {
    return {std::max(a.max_elevation, b.max_elevation), std::min(a.min_elevation, b.min_elevation)};
}

HeightRange unionOf(const HeightRange& a, const HeightRange& b) {
    return {std::min(a.lowest_m, b.lowest_m), std::max(a.highest_m, b.highest_m)};
}

Result<ConversionSummary> finishConversion(DecodedGrid decoded, const ConversionSettings& settings,
                                           const OutputPaths& outputs, EventSink& events) {
    ConversionSummary summary;
    Result<Terrain> terrain = prepareTerrain(std::move(decoded), settings, events);
    if (!terrain) return terrain.error();
    summary.size = terrain->size();
    summary.extremes = terrain->decoded.extremes;
    summary.resampled = terrain->resampled_from.has_value();
    summary.posting_m = terrain->decoded.posting_m;
    summary.void_cells = terrain->void_cells;
    summary.filled_cells = terrain->filled_cells;
    if (settings.true_scale) summary.true_scale = terrain->true_scale;
    summary.in_metres = terrain->true_scale.has_value();
    summary.lowest_m = terrain->lowest_m;
    summary.highest_m = terrain->highest_m;
    if (terrain->engine_side) {
        summary.engine_size = (settings.engine_size == Engine::Unreal ? "Unreal's " : "Unity's ") +
                              std::to_string(*terrain->engine_side);
    }
    if (isHeightmap(settings.format)) {
        Result<HeightmapWritten> written = writeHeightmap(outputs.terrain, *terrain, settings);
        if (!written) return written.error();
        summary.heightmap_range = written->range;
        summary.sidecar_path = written->files.sidecar;
        summary.terrain_path = written->files.heightmaps.front();
        if (settings.tiles) {
            summary.tile_count = static_cast<std::int32_t>(written->files.heightmaps.size());
            summary.tile_size =
                std::to_string(written->tile_rows) + " x " + std::to_string(written->tile_columns);
        }
    } else if (Status written = writeTerrainFile(outputs.terrain, *terrain, settings.format);
               !written) {
        return written.error();
    } else {
        summary.terrain_path = outputs.terrain;
    }
    if (!outputs.preview.empty()) {
        if (Status pictured = writePreviewFile(outputs.preview, *terrain); pictured) {
            summary.preview_path = outputs.preview;
        } else {
            summary.preview_problem = pictured.error();
        }
    }
    return summary;
}

Result<TransferConversion> convertTransfer(const TransferModules& modules,
                                           const ConversionSettings& settings,
                                           const OutputPaths& outputs, EventSink& events) {
    // A crop needs to know where the grid lies.
    Result<TransferMetadata> metadata = readTransferMetadata(
        modules, MetadataReading::Strict,
        settings.needsPlacement() || settings.crop.has_value() || isHeightmap(settings.format),
        events);
    if (!metadata) return metadata.error();
    if (settings.keepsDecimals() && !metadata->unit_m) {
        return failure((settings.true_scale            ? "no true scale: "
                        : isHeightmap(settings.format) ? "no heightmap: "
                                                       : "no GeoTIFF: ") +
                       metadata->unit_problem);
    }
    if (settings.needsPlacement() && !metadata->placement) {
        return failure("no GeoTIFF: " + metadata->placement_problem);
    }
    std::optional<CellWindow> window;
    if (settings.crop) {
        const Result<GeoTransform> grid = cellGeotransform(*metadata->georeference);
        if (!grid) return grid.error();
        Result<CellWindow> cropped = cropWindow(*settings.crop, *metadata->georeference, *grid,
                                                metadata->size.rows, metadata->size.columns);
        if (!cropped) return cropped.error();
        window = *cropped;
    }
    Result<DecodedGrid> decoded =
        window ? decodeWindow(modules, *metadata, *window, settings.keepsDecimals(), events)
               : decodeTransfer(modules, *metadata, MetadataReading::Strict,
                                settings.keepsDecimals(), events);
    if (!decoded) return decoded.error();
    Result<ConversionSummary> summary =
        finishConversion(std::move(*decoded), settings, outputs, events);
    if (!summary) return summary.error();
    return TransferConversion{std::move(*metadata), std::move(*summary), window};
}

Result<Extremes> readExtremes(const TransferModules& modules, EventSink& events) {
    Result<TransferMetadata> metadata =
        readTransferMetadata(modules, MetadataReading::Strict, false, events);
    if (!metadata) return metadata.error();
    return decodeExtremes(modules, *metadata, events);
}

Result<std::optional<HeightRange>> readHeightRange(const TransferModules& modules,
                                                   EventSink& events) {
    Result<TransferMetadata> metadata =
        readTransferMetadata(modules, MetadataReading::Strict, false, events);
    if (!metadata) return metadata.error();
    if (!metadata->unit_m) return failure("no heightmap: " + metadata->unit_problem);
    const Extremes e = decodeExtremes(modules, *metadata, events, true);
    if (e.max_elevation < e.min_elevation) return std::optional<HeightRange>();
    const double metres_per_thousandth = *metadata->unit_m / kThousandths;
    return std::optional<HeightRange>(HeightRange{e.min_elevation * metres_per_thousandth,
                                                  e.max_elevation * metres_per_thousandth});
}

}  // namespace marlwood
