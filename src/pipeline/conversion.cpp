#include "pipeline/conversion.h"

#include <algorithm>

#include "pipeline/writers.h"

namespace marlwood {

Extremes unionOf(const Extremes& a, const Extremes& b) {
    return {std::max(a.max_elevation, b.max_elevation), std::min(a.min_elevation, b.min_elevation)};
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
    summary.true_scale = terrain->true_scale;
    summary.lowest_m = terrain->lowest_m;
    summary.highest_m = terrain->highest_m;
    if (Status written = writeTerFile(outputs.terrain, *terrain); !written) {
        return written.error();
    }
    summary.terrain_path = outputs.terrain;
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
    Result<TransferMetadata> metadata =
        readTransferMetadata(modules, MetadataReading::Strict, false, events);
    if (!metadata) return metadata.error();
    if (settings.true_scale && !metadata->unit_m) {
        return failure("no true scale: " + metadata->unit_problem);
    }
    Result<DecodedGrid> decoded =
        decodeTransfer(modules, *metadata, MetadataReading::Strict, settings.true_scale, events);
    if (!decoded) return decoded.error();
    Result<ConversionSummary> summary =
        finishConversion(std::move(*decoded), settings, outputs, events);
    if (!summary) return summary.error();
    return TransferConversion{std::move(*metadata), std::move(*summary)};
}

Result<Extremes> readExtremes(const TransferModules& modules, EventSink& events) {
    Result<TransferMetadata> metadata =
        readTransferMetadata(modules, MetadataReading::Strict, false, events);
    if (!metadata) return metadata.error();
    return decodeExtremes(modules, *metadata, events);
}

}  // namespace marlwood
