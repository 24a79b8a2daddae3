#include "cli/report.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace marlwood {

namespace {

std::string number(double v) {
    std::ostringstream text;
    text << v;
    return text.str();
}

std::string postingText(double posting_m) {
    return posting_m > 0 ? number(posting_m) + " m" : "posting unknown";
}

std::string plural(std::int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// What every report says of a written terrain: its elevations, its voids and where it went.
// `between` comes before the arrow (a merge's disagreements).
std::string terrainText(const ConversionSummary& s, const std::string& between) {
    std::ostringstream line;
    if (!s.engine_size.empty() && !s.resampled) line << "the size of " << s.engine_size << ", ";
    if (s.resampled) {
        line << "resampled to " << s.size.rows << " x " << s.size.columns;
        if (!s.engine_size.empty()) line << " (" << s.engine_size << ")";
        line << ", ";
        const auto shown = [](double m) {
            std::ostringstream text;
            text << std::fixed << std::setprecision(2) << m;
            return text.str();
        };
        if (s.posting_x_m > 0 && shown(s.posting_x_m) != shown(s.posting_y_m)) {
            // Sides resampled by different factors: each its own posting.
            line << shown(s.posting_x_m) << " m east-west, " << shown(s.posting_y_m)
                 << " m north-south, ";
        } else if (s.posting_m > 0) {
            line << shown(s.posting_m) << " m, ";
        } else {
            line << "posting unknown, ";
        }
    }
    const bool none_valid = s.void_cells == static_cast<std::int64_t>(s.size.rows) * s.size.columns;
    if (none_valid) {
        line << "no valid elevation";
    } else if (s.in_metres) {
        line << std::fixed << std::setprecision(2) << "elevations " << s.lowest_m << ".."
             << s.highest_m << " m" << std::defaultfloat;
    } else {
        line << "elevations " << s.extremes.min_elevation << ".." << s.extremes.max_elevation;
    }
    line << ", " << s.void_cells << " void";
    if (s.filled_cells) line << " (" << *s.filled_cells << " filled)";
    line << between << " -> " << s.terrain_path;
    if (s.tile_count > 1) {
        line << " and " << s.tile_count - 1 << " more tiles, each " << s.tile_size;
    }
    if (!s.sidecar_path.empty()) line << " + " << s.sidecar_path;
    if (s.stale_tiles_removed > 0) {
        line << " (" << plural(static_cast<std::int64_t>(s.stale_tiles_removed), "tile", "tiles")
             << " of an older set removed)";
    }
    if (!s.stale_tiles.empty()) {
        line << " (left from an older set:";
        for (const std::string& tile : s.stale_tiles) line << ' ' << tile;
        line << "; -f removes them)";
    }
    if (const auto& range = s.heightmap_range) {
        line << std::setprecision(4) << " (0..65535 over " << std::fixed << std::setprecision(2)
             << range->lowest_m << ".." << range->highest_m << " m, steps of " << std::defaultfloat
             << std::setprecision(4) << (range->highest_m - range->lowest_m) / kHeightmapTop
             << " m)";
    }
    if (!s.engine_fit.empty()) line << " (" << s.engine_fit << ")";
    if (s.true_scale) {
        line << std::setprecision(4) << " (true scale, steps of " << s.true_scale->stepMetres()
             << " m)";
    }
    if (!s.preview_path.empty()) line << " + " << s.preview_path;
    return line.str();
}

struct Words {
    SourceEvents& to;

    void line(std::string text) { to.stage_lines.push_back(std::move(text)); }
    void warn(std::string text) { to.warnings.push_back(std::move(text)); }

    void operator()(const event::StageStarted&) {}
    void operator()(const event::ModuleUnreadable& e) { warn("cannot read " + e.module); }
    void operator()(const event::ModuleEndedEarly& e) {
        warn(e.module + " ends too soon; what was not found is taken as 0");
    }
    void operator()(const event::NotLegitimate& e) {
        warn("the " + e.kind + " module's leader is not what it should be");
    }
    void operator()(const event::GridSizeRead& e) {
        line("grid " + std::to_string(e.size.rows) + " x " + std::to_string(e.size.columns));
    }
    void operator()(const event::SpacingRead&) {}
    void operator()(const event::DecodingStarted&) {}
    void operator()(const event::RecordLeaderRead&) {}
    void operator()(const event::UnknownValueType&) {
        warn("a CEL0 record of a value type that is neither BI16 nor BFP32");
    }
    void operator()(const event::Cel0EndedEarly& e) {
        warn(e.module + " ended after " + std::to_string(e.decoded_rows) + " of " +
             std::to_string(e.rows) + " rows; the missing rows are void");
    }
    void operator()(const event::ExtremesFound& e) {
        line("elevations " + std::to_string(e.min_elevation) + ".." +
             std::to_string(e.max_elevation));
    }
    void operator()(const event::CornersRead&) {}
    void operator()(const event::ColormapComputed& e) {
        line("colormap: range " + std::to_string(e.elevrange) + ", slope " + number(e.slope) +
             ", intercept " + number(e.intercept));
    }
    void operator()(const event::TrueScaleChosen& e) {
        line("true scale: " + number(e.lowest_m) + " m to " + number(e.highest_m) + " m, SCAL " +
             number(e.scal_m) + ", HeightScale " + std::to_string(e.height_scale) +
             ", BaseHeight " + std::to_string(e.base_height) + ", a step of " + number(e.step_m) +
             " m");
    }
    void operator()(const event::BlocksRead& e) {
        line("read " + std::to_string(e.blocks) + " of " + std::to_string(e.of) + " blocks (" +
             std::to_string(e.bytes) + " of " + std::to_string(e.file_bytes) + " bytes) of " +
             e.source);
    }
    void operator()(const event::Warning& e) { warn(e.text); }
};

}  // namespace

void SourceEvents::emit(const Event& event) {
    std::visit(Words{*this}, event);
}

// The system a grid lies in, as the report names it.
std::string systemText(const Georeference& g) {
    if (g.rsnm == "UTM") return "UTM zone " + std::to_string(g.zone) + (g.hdat.empty() ? "" : " " + g.hdat);
    return g.epsg != 0 ? "EPSG:" + std::to_string(g.epsg) : g.rsnm;
}

// A source laid onto a UTM lattice of its own: what it was read as and what it became.
std::string relaidText(const ConversionOutcome& conversion) {
    const MergePlan& plan = *conversion.plan;
    const MergePiece& piece = plan.pieces.front();
    const Result<GridPlacement> placed = mergedPlacement(plan);
    return ", " + systemText(piece.georeference) + " laid onto " +
           (placed ? "EPSG:" + std::to_string(placed->epsg)
                   : "UTM zone " + std::to_string(plan.zone)) +
           " at " + postingText(plan.posting_m) +
           (plan.window ? ", window " + windowText(*plan.window)
                        : " (" + std::to_string(plan.size.rows) + " x " +
                              std::to_string(plan.size.columns) + ")");
}

// A source's full size, and the coarser copy read when it was one.
std::string sizeText(const TransferMetadata& m) {
    const GridSize& full = m.level > 0 ? m.levels.front().size : m.size;
    std::string text = std::to_string(full.rows) + " x " + std::to_string(full.columns);
    if (m.level > 0) {
        text += ", read at its overview of " + std::to_string(m.size.rows) + " x " +
                std::to_string(m.size.columns);
    }
    return text;
}

std::string conversionReport(const std::string& source, const ConversionOutcome& conversion) {
    const TransferMetadata& m = *conversion.metadata;
    if (conversion.plan) {
        return source + ": " + sizeText(conversion.plan->pieces.front().metadata) +
               relaidText(conversion) + ", " + m.values + ", " +
               terrainText(conversion.summary, "");
    }
    return source + ": " + sizeText(m) +
           (conversion.window ? ", window " + windowText(*conversion.window) : "") + ", " +
           postingText(m.posting_m) + ", " + m.values + ", " + terrainText(conversion.summary, "");
}

// Heights moved from NGVD29 to NAVD88, as the report says it.
std::string heightShiftText(const MergePiece& piece) {
    if (piece.height_shift_m.empty()) return "";
    const auto metres = [](double m) { return number(std::round(m * 1000) / 1000) + " m"; };
    return ", heights moved from NGVD29 to NAVD88 by " + metres(piece.centre_shift_m) +
           " at its centre (" + metres(piece.lowest_shift_m) + " to " +
           metres(piece.highest_shift_m) + ")";
}

std::vector<std::string> mergeReport(const ConversionOutcome& merge) {
    const MergePlan& plan = *merge.plan;
    // Which pieces were resampled onto the merged lattice, and why.
    const auto resampledText = [](const MergePiece& piece, const MergePlan& plan) -> std::string {
        if (!piece.resampled) return "";
        const Georeference& g = piece.georeference;
        if (piece.datum_shift_m) {
            const auto off = [](double m, const char* plus, const char* minus) {
                return number(std::round(std::abs(m) * 100) / 100) + " m " + (m < 0 ? minus : plus);
            };
            return ", laid from NAD27 onto NAD83 by NADCON's grid (" +
                   off(piece.datum_shift_m->x, "east", "west") + ", " +
                   off(piece.datum_shift_m->y, "north", "south") + " at its centre) and resampled";
        }
        if (g.rsnm != "UTM" || piece.metadata.reprojected) {
            return ", reprojected from " + systemText(g) + " to zone " +
                   std::to_string(plan.zone) + " and resampled";
        }
        if (g.zone != plan.zone) {
            return ", reprojected from zone " + std::to_string(g.zone) + " to zone " +
                   std::to_string(plan.zone) + " and resampled";
        }
        const auto off = [](double m, const char* plus, const char* minus) {
            return number(std::abs(m)) + " m " + (m < 0 ? minus : plus);
        };
        return ", resampled: " + off(piece.off_east_m, "east", "west") + " and " +
               off(piece.off_south_m, "south", "north") + " of the lattice";
    };
    std::vector<std::string> lines;
    for (const MergePiece& piece : plan.pieces) {
        lines.push_back(piece.source + ": " + sizeText(piece.metadata) + " at row " +
                        std::to_string(piece.row_offset) + ", column " +
                        std::to_string(piece.column_offset) + resampledText(piece, plan) +
                        heightShiftText(piece));
    }
    const GridSize& size = plan.size;
    lines.push_back("merged: " +
                    (plan.window
                         ? "window " + windowText(*plan.window)
                         : std::to_string(size.rows) + " x " + std::to_string(size.columns)) +
                    ", " + postingText(plan.posting_m) + ", " +
                    terrainText(merge.summary, ", " + plural(merge.disagreements, "cell", "cells") +
                                                   " where sources disagree"));
    return lines;
}

}  // namespace marlwood
