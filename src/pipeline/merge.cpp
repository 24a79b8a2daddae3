#include "pipeline/merge.h"

#include <cmath>
#include <limits>

#include "grid/grid_overlay.h"
#include "sdts/record_decoder.h"
#include "ter/ter_writer.h"

namespace marlwood {

namespace {

// How far apart two ground positions may be and still count as one lattice point: real
// transfers give whole metres, so a thousandth of a posting leaves room for float noise only.
constexpr double kLatticeTolerance = 1e-3;

std::optional<std::int64_t> wholePostings(double distance, double posting) {
    const double steps = distance / posting;
    const double whole = std::round(steps);
    if (std::abs(steps - whole) > kLatticeTolerance) return std::nullopt;
    return static_cast<std::int64_t>(whole);
}

std::string describe(double v) {
    std::string text = std::to_string(v);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

}  // namespace

Result<MergePlan> planMerge(const std::vector<MergeSource>& sources, bool converting_units,
                            EventSink& events) {
    if (sources.empty()) return failure("nothing to merge");
    MergePlan plan;
    for (const MergeSource& source : sources) {
        MergePiece piece;
        piece.source = source.source;
        piece.modules = source.modules;
        const auto fail = [&](const std::string& what) -> Result<MergePlan> {
            return failure(source.source + ": " + what);
        };
        Result<TransferMetadata> metadata =
            readTransferMetadata(source.modules, MetadataReading::Strict, true, events);
        if (!metadata) return fail(metadata.message());
        piece.metadata = std::move(*metadata);
        piece.georeference = *piece.metadata.georeference;
        if (!piece.metadata.unit_m) return fail(piece.metadata.unit_problem);
        piece.unit_m = *piece.metadata.unit_m;
        if (!piece.georeference.topLeftCorner()) {
            return fail("its georeference does not say where the grid's top-left cell lies");
        }
        if (!(piece.georeference.xhrs > 0) || piece.georeference.xhrs != piece.georeference.yhrs) {
            return fail("its posting is " + describe(piece.georeference.xhrs) + " by " +
                        describe(piece.georeference.yhrs) + "; merging needs square cells");
        }
        if (!plan.pieces.empty()) {
            const MergePiece& first = plan.pieces.front();
            const Georeference& a = first.georeference;
            const Georeference& b = piece.georeference;
            const auto differs = [&](const char* what, const std::string& mine,
                                     const std::string& theirs) {
                return fail(std::string(what) + " " + theirs + " differs from " + mine + " of " +
                            first.source);
            };
            if (b.rsnm != a.rsnm) return differs("reference system", a.rsnm, b.rsnm);
            if (b.zone != a.zone) {
                return differs("zone", std::to_string(a.zone), std::to_string(b.zone));
            }
            if (b.hdat != a.hdat) return differs("datum", a.hdat, b.hdat);
            if (b.xhrs != a.xhrs) {
                return differs("posting", describe(a.xhrs) + " m", describe(b.xhrs) + " m");
            }
            if (piece.unit_m != first.unit_m && !converting_units) {
                return fail("its elevations are in " + b.unit + ", those of " + first.source +
                            " in " + a.unit + "; --true-scale converts them to metres");
            }
            const GroundPoint p = *b.topLeftCorner();
            const GroundPoint q = *a.topLeftCorner();
            if (!wholePostings(p.x - q.x, a.xhrs) || !wholePostings(q.y - p.y, a.xhrs)) {
                return fail("its grid is not on the lattice of " + first.source + " (origins " +
                            describe(p.x - q.x) + " m and " + describe(q.y - p.y) +
                            " m apart, not whole postings)");
            }
        }
        plan.pieces.push_back(std::move(piece));
    }

    // The union of the grids, in postings from the first grid's top-left corner.
    const double posting = plan.pieces.front().georeference.xhrs;
    const GroundPoint origin = *plan.pieces.front().georeference.topLeftCorner();
    std::int64_t top = 0, left = 0, bottom = 0, right = 0;
    bool first = true;
    for (MergePiece& piece : plan.pieces) {
        const GroundPoint corner = *piece.georeference.topLeftCorner();
        const std::int64_t row = *wholePostings(origin.y - corner.y, posting);
        const std::int64_t column = *wholePostings(corner.x - origin.x, posting);
        piece.row_offset = static_cast<std::int32_t>(row);
        piece.column_offset = static_cast<std::int32_t>(column);
        const std::int64_t end_row = row + piece.metadata.size.rows;
        const std::int64_t end_column = column + piece.metadata.size.columns;
        top = first ? row : std::min(top, row);
        left = first ? column : std::min(left, column);
        bottom = first ? end_row : std::max(bottom, end_row);
        right = first ? end_column : std::max(right, end_column);
        first = false;
    }
    for (MergePiece& piece : plan.pieces) {
        piece.row_offset -= static_cast<std::int32_t>(top);
        piece.column_offset -= static_cast<std::int32_t>(left);
    }
    const std::int64_t rows = bottom - top;
    const std::int64_t columns = right - left;
    if (rows > kMaxTerSide || columns > kMaxTerSide) {
        return failure("the merged grid would be " + std::to_string(rows) + " x " +
                       std::to_string(columns) + "; a .ter file holds 0 to 65535 rows and columns");
    }
    plan.size = {static_cast<std::int32_t>(rows), static_cast<std::int32_t>(columns),
                 static_cast<std::int32_t>(std::min(rows, columns) - 1)};
    plan.top_left = {origin.x + static_cast<double>(left) * posting,
                     origin.y - static_cast<double>(top) * posting};
    plan.posting_m = posting;
    return plan;
}

Result<MergedGrid> decodeMerged(const MergePlan& plan, bool thousandths, EventSink& events) {
    Result<DecodedGrid> decoded = allocateDecodedGrid(plan.size, thousandths);
    if (!decoded) return decoded.error();
    MergedGrid merged{std::move(*decoded), 0};
    ElevationGrid& raw_grid = merged.decoded.grid;
    Extremes& extremes = merged.decoded.extremes;
    const std::int32_t scale = thousandths ? kThousandths : 1;
    const std::int32_t valid_above = kVoidThreshold * scale;
    ModuleReader reader;
    bool first = true;
    for (const MergePiece& piece : plan.pieces) {
        const GridSize& size = piece.metadata.size;
        std::vector<std::int32_t> row(static_cast<std::size_t>(size.columns) + 1);
        DecoderState decoder;
        decoder.thousandths = thousandths;
        decoder.min_elevation *= scale;
        // In thousandths every piece is brought to thousandths of a metre.
        const double to_metres = thousandths ? piece.unit_m : 1.0;
        const auto lay_down = [&](std::int32_t r) {
            if (to_metres != 1.0) {
                for (std::int32_t& v : row) {
                    if (v > valid_above) v = static_cast<std::int32_t>(std::lround(v * to_metres));
                }
            }
            std::int32_t* into = raw_grid[static_cast<std::size_t>(piece.row_offset + r)];
            merged.disagreements +=
                overlayRow(row.data(), into + piece.column_offset, size.columns, valid_above);
        };
        std::int32_t decoding = -1;
        openCel0AtFirstRecord(reader, piece.modules.cel0);
        if (!reader.isOpen()) events.emit(event::ModuleUnreadable{piece.modules.cel0.name});
        decodeCel0Rows(
            reader, piece.metadata.value_type, size.rows, size.columns,
            [&](std::int32_t r) {
                // Row r is asked for once row r - 1 is complete.
                if (decoding >= 0) lay_down(decoding);
                decoding = r;
                std::fill(row.begin(), row.end(), kNoData * scale);
                return row.data();
            },
            decoder, events, piece.modules.cel0.name);
        if (decoding >= 0) lay_down(decoding);
        reader.close();
        const Extremes own{decoder.max_elevation / scale, decoder.min_elevation / scale};
        extremes = first ? own : unionOf(extremes, own);
        first = false;
    }
    // In thousandths every piece was brought to metres; otherwise the pieces share one unit.
    merged.decoded.unit_m = thousandths ? 1.0 : plan.pieces.front().unit_m;
    merged.decoded.posting_m = plan.posting_m;
    return merged;
}

Result<MergeSummary> mergeTransfers(const std::vector<MergeSource>& sources,
                                    const ConversionSettings& settings, const OutputPaths& outputs,
                                    EventSink& events) {
    Result<MergePlan> plan = planMerge(sources, settings.true_scale, events);
    if (!plan) return plan.error();
    Result<MergedGrid> merged = decodeMerged(*plan, settings.true_scale, events);
    if (!merged) return merged.error();
    Result<ConversionSummary> conversion =
        finishConversion(std::move(merged->decoded), settings, outputs, events);
    if (!conversion) return conversion.error();
    return MergeSummary{std::move(*plan), merged->disagreements, std::move(*conversion)};
}

}  // namespace marlwood
