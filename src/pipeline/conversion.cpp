#include "pipeline/conversion.h"

#include <algorithm>
#include <new>
#include <string>

#include "geo/placement.h"
#include "grid/resample.h"
#include "pipeline/writers.h"

namespace marlwood {

HeightRange unionOf(const HeightRange& a, const HeightRange& b) {
    return {std::min(a.lowest_m, b.lowest_m), std::max(a.highest_m, b.highest_m)};
}

namespace {

// What a conversion was doing, for the line that says memory ran out there.
struct Doing {
    std::string what = "reading the elevations";
};

// What the read stage gives the rest: the grid, and what the report says of where it came from.
struct ReadGrid {
    DecodedGrid decoded;
    ConversionOutcome outcome;  // its metadata, window or plan; no summary yet
};

Result<ReadGrid> readMerged(const ConversionRequest& request, EventSink& events, Doing& doing);

// The level of a source (see TransferMetadata::levels) read for a terrain of --size points on
// its longer side, made from a grid of `from` at `posting_m`: once the terrain's posting is at
// least twice the source's, the coarsest copy whose posting is no coarser than the terrain's,
// as GDAL's warp picks an overview; the full grid (0) otherwise, or when it cannot be known.
std::int32_t levelFor(const TransferMetadata& source, const GridSize& from, double posting_m,
                      const ConversionSettings& settings) {
    if (!settings.size || settings.full_resolution || source.levels.size() < 2) return 0;
    const double output_m = posting_m * std::max(from.rows, from.columns) / *settings.size;
    if (!(output_m >= 2 * source.levels.front().posting_m)) return 0;
    std::int32_t chosen = 0;
    for (std::size_t k = 1; k < source.levels.size(); ++k) {
        if (source.levels[k].posting_m <= output_m) chosen = static_cast<std::int32_t>(k);
    }
    return chosen;
}

// The one transfer of a request: its metadata (strictly, or by the dialogue's walks), the
// checks the format makes of it, and its cells (a crop's only). A source in degrees (or another
// system), or one asked into another zone or posting, is laid onto a UTM lattice as a merge of
// one.
Result<ReadGrid> readOne(const ConversionRequest& request, EventSink& events, Doing& doing) {
    const ConversionSettings& settings = request.settings;
    const OutputFormat& format = settings.outputFormat();
    const Input& input = request.sources.front();
    // A crop needs to know where the grid lies.
    const bool placed = settings.needsPlacement() || format.reads_placement || settings.crop ||
                        settings.zone || settings.posting;
    Result<TransferMetadata> metadata = readMetadata(input, request.reading, placed, events);
    if (!metadata) return metadata.error();
    const bool relaid =
        metadata->reprojected ||
        (metadata->georeference && settings.zone && *settings.zone != metadata->georeference->zone) ||
        (settings.posting && *settings.posting != metadata->posting_m);
    if (relaid) {
        Result<ReadGrid> read = readMerged(request, events, doing);
        if (read) read->outcome.metadata = std::move(*metadata);
        return read;
    }
    // A grid beyond the format's sides is refused before it is decoded, unless --size makes it
    // another size (the written size is checked again before writing).
    const GridSize& size = metadata->size;
    if (!settings.size || size.rows < 0 || size.columns < 0) {
        if (Status fits = fitsFormat(size, metadata->size_from, format); !fits) return fits.error();
    }
    if (settings.keepsDecimals() && !metadata->unit_m) {
        return failure((settings.true_scale ? "no true scale: " : "no " + format.label + ": ") +
                       metadata->unit_m.message());
    }
    if (settings.needsPlacement() && !metadata->placement) {
        return failure("no " + format.label + ": " + metadata->placement.message());
    }
    ReadGrid read;
    const auto crop = [&](const TransferMetadata& m) -> Status {
        if (!settings.crop) return {};
        const Result<GeoTransform> grid = cellGeotransform(*m.georeference);
        if (!grid) return grid.error();
        Result<CellWindow> cropped =
            cropWindow(*settings.crop, *m.georeference, *grid, m.size.rows, m.size.columns);
        if (!cropped) return cropped.error();
        read.outcome.window = *cropped;
        return {};
    };
    if (Status cropped = crop(*metadata); !cropped) return cropped.error();
    const std::optional<CellWindow>& window = read.outcome.window;
    GridSize from = window ? GridSize{window->rows, window->columns} : metadata->size;
    // A terrain much coarser than the source is read from a coarser copy of it, cropped anew.
    Input at_level = input;
    at_level.level = levelFor(*metadata, from, metadata->posting_m, settings);
    if (at_level.level > 0) {
        metadata = readMetadata(at_level, request.reading, placed, events);
        if (!metadata) return metadata.error();
        if (Status cropped = crop(*metadata); !cropped) return cropped.error();
        from = window ? GridSize{window->rows, window->columns} : metadata->size;
    }
    if (Status fits = resamplingProblem(from, settings); !fits) return fits.error();
    Result<DecodedGrid> decoded = readGrid(at_level, *metadata, read.outcome.window,
                                           request.reading, settings.keepsDecimals(), events);
    if (!decoded) return decoded.error();
    read.decoded = std::move(*decoded);
    read.outcome.metadata = std::move(*metadata);
    return read;
}

// Every transfer of a merge laid on one lattice (a crop's window of it) and decoded as one grid.
Result<ReadGrid> readMerged(const ConversionRequest& request, EventSink& events, Doing& doing) {
    const ConversionSettings& settings = request.settings;
    const OutputFormat& format = settings.outputFormat();
    const auto planned = [&](const std::vector<Input>& sources) -> Result<MergePlan> {
        Result<MergePlan> plan =
            planMerge(sources, settings.keepsDecimals(), events, settings.zone.value_or(0),
                      settings.posting.value_or(0), !settings.keep_heights);
        if (!plan) return plan.error();
        if (settings.crop) {
            if (Status cropped = cropMergePlan(*plan, *settings.crop, request.whole_crop);
                !cropped) {
                return cropped.error();
            }
        }
        return plan;
    };
    Result<MergePlan> plan = planned(request.sources);
    if (!plan) return plan.error();
    // A terrain much coarser than its sources is planned again from their coarser copies, which
    // the lattice's posting then follows (unless --posting sets it).
    std::vector<Input> at_levels = request.sources;
    bool coarser = false;
    for (Input& source : at_levels) {
        for (const MergePiece& piece : plan->pieces) {
            if (piece.source != source.source) continue;
            source.level = levelFor(piece.metadata, plan->size, plan->posting_m, settings);
            coarser = coarser || source.level > 0;
        }
    }
    if (coarser) {
        plan = planned(at_levels);
        if (!plan) return plan.error();
    }
    if (!settings.size) {
        if (Status fits = fitsFormat(format, plan->size, "the merged grid would be"); !fits) {
            return fits.error();
        }
    }
    // A merge made smaller or larger is resampled as it is decoded, never held whole.
    const bool as_it_decodes =
        settings.size && !settings.engine_size && decodesAsItResamples(*plan);
    if (Status fits = resamplingProblem(plan->size, settings, !as_it_decodes); !fits) {
        return fits.error();
    }
    const TransferMetadata& first = plan->pieces.front().metadata;
    if (settings.needsPlacement() && !first.placement) {
        return failure("no " + format.label + ": " + first.placement.message());
    }
    std::optional<GridPlacement> placed;
    if (first.placement) {
        Result<GridPlacement> placement = mergedPlacement(*plan);
        if (!placement) return failure("no " + format.label + ": " + placement.message());
        placed = *placement;
    }
    doing.what = "merging " + std::to_string(plan->pieces.size()) + " sources into a grid of " +
                 std::to_string(plan->size.rows) + " x " + std::to_string(plan->size.columns);
    Result<MergedGrid> merged =
        as_it_decodes ? decodeMergedResampled(*plan, resampledSize(plan->size, *settings.size),
                                              settings.keepsDecimals(), events, settings.threads)
                      : decodeMerged(*plan, settings.keepsDecimals(), events, settings.threads);
    if (!merged) return merged.error();
    if (as_it_decodes) {
        describeResampled(merged->decoded, plan->size, plan->posting_m, placed);
    } else {
        merged->decoded.placement = placed;
    }
    ReadGrid read;
    read.decoded = std::move(merged->decoded);
    read.outcome.disagreements = merged->disagreements;
    read.outcome.plan = std::move(*plan);
    return read;
}

ConversionSummary summaryOf(const Terrain& terrain, const ConversionSettings& settings) {
    ConversionSummary summary;
    summary.size = terrain.size();
    summary.extremes = terrain.decoded.extremes;
    summary.resampled = terrain.resampled_from.has_value();
    summary.posting_m = terrain.decoded.posting_m;
    summary.void_cells = terrain.void_cells;
    summary.filled_cells = terrain.filled_cells;
    if (settings.true_scale) summary.true_scale = terrain.true_scale;
    summary.in_metres = terrain.decoded.thousandths;
    summary.lowest_m = terrain.lowest_m;
    summary.highest_m = terrain.highest_m;
    summary.engine_size = terrain.engine_size.value_or("");
    summary.posting_x_m = terrain.postings().x_m;
    summary.posting_y_m = terrain.postings().y_m;
    return summary;
}

}  // namespace

TargetChooser fixedTarget(ConversionTarget target) {
    return [target = std::move(target)]() -> Result<ConversionTarget> { return target; };
}

namespace {

Result<ConversionOutcome> convert(const ConversionRequest& request, const TargetChooser& target,
                                  EventSink& events, Doing& doing) {
    if (request.sources.empty()) return failure("nothing to convert");
    const ConversionSettings& settings = request.settings;
    const OutputFormat& format = settings.outputFormat();

    events.emit(event::StageStarted{Stage::Read});
    Result<ReadGrid> read = request.merge || request.sources.size() > 1
                                ? readMerged(request, events, doing)
                                : readOne(request, events, doing);
    if (!read) return read.error();

    const auto sized = [](const GridSize& size) {
        return std::to_string(size.rows) + " x " + std::to_string(size.columns);
    };
    doing.what = "preparing a terrain of " + sized(read->decoded.size);
    events.emit(event::StageStarted{Stage::Prepare});
    Result<Terrain> terrain = prepareTerrain(std::move(read->decoded), settings, events);
    if (!terrain) return terrain.error();
    if (Status fits = fitsFormat(format, terrain->size(), "the terrain would be"); !fits) {
        return fits.error();
    }
    Result<ConversionTarget> to = target();
    if (!to) return to.error();

    doing.what = "writing a terrain of " + sized(terrain->size());
    events.emit(event::StageStarted{Stage::Write});
    ConversionOutcome outcome = std::move(read->outcome);
    outcome.summary = summaryOf(*terrain, settings);
    Result<Written> written = Written::file(to->path);
    if (to->stream) {
        if (Status streamed = writeTerrainTo(format, *to->stream, *terrain, settings, to->path);
            !streamed) {
            return streamed.error();
        }
    } else {
        written = writeTerrainAt(format, to->path, *terrain, settings);
    }
    if (!written) return written.error();
    outcome.summary.terrain_path = written->path;
    outcome.summary.heightmap_range = written->heights;
    outcome.summary.sidecar_path = written->sidecar_path;
    outcome.summary.engine_fit = written->engine_fit;
    outcome.summary.tile_count = written->tile_count;
    outcome.summary.tile_size = written->tile_size;
    outcome.summary.stale_tiles = std::move(written->stale_tiles);
    if (!to->preview.empty()) {
        if (Status pictured = writePreviewFile(to->preview, *terrain); pictured) {
            outcome.summary.preview_path = to->preview;
        } else {
            outcome.summary.preview_problem = pictured.error();
        }
    }
    return outcome;
}

}  // namespace

Result<ConversionOutcome> runConversion(const ConversionRequest& request,
                                        const TargetChooser& target, EventSink& events) {
    Doing doing;
    try {
        return convert(request, target, events, doing);
    } catch (const std::bad_alloc&) {
        // Whatever was being made is freed as this unwinds, and files are written whole or not
        // at all, so the line is all that is left.
        return failure("not enough memory while " + doing.what);
    }
}

Result<Extremes> readExtremes(const Input& input, EventSink& events) {
    Result<TransferMetadata> metadata = readMetadata(input, MetadataReading::Strict, false, events);
    if (!metadata) return metadata.error();
    if (Status fits = fitsFormat(metadata->size, metadata->size_from, terFormat()); !fits) {
        return fits.error();
    }
    return readGridExtremes(input, *metadata, false, events);
}

Result<std::optional<HeightRange>> readHeightRange(const Input& input, EventSink& events) {
    Result<TransferMetadata> metadata = readMetadata(input, MetadataReading::Strict, false, events);
    if (!metadata) return metadata.error();
    if (!metadata->unit_m) return failure("no heightmap: " + metadata->unit_m.message());
    const Result<Extremes> found = readGridExtremes(input, *metadata, true, events);
    if (!found) return found.error();
    const Extremes& e = *found;
    if (e.max_elevation < e.min_elevation) return std::optional<HeightRange>();
    const double metres_per_thousandth = *metadata->unit_m / kThousandths;
    return std::optional<HeightRange>(HeightRange{e.min_elevation * metres_per_thousandth,
                                                  e.max_elevation * metres_per_thousandth});
}

}  // namespace marlwood
