#include "pipeline/reader.h"

#include <algorithm>
#include <limits>

namespace marlwood {

std::vector<const ModuleSource*> Input::files() const {
    std::vector<const ModuleSource*> all;
    for (const ModuleSource* m :
         {&modules.cel0, &modules.ldef, &modules.spdm, &modules.ddsh, &modules.iref, &modules.rsdf,
          &modules.xref, &modules.ddom, &file}) {
        if (!m->name.empty()) all.push_back(m);
    }
    return all;
}

std::uint64_t Input::heldBytes() const {
    std::uint64_t held = 0;
    for (const ModuleSource* m : files()) {
        if (m->bytes) held += m->bytes->size();
    }
    return held;
}

Result<Input> ReaderTable::find(const std::string& source, Cel0Reading reading) const {
    for (const InputFormat& row : rows_) {
        if (row.claims && !row.claims(source)) continue;
        Result<Input> found = row.find(source, reading);
        if (found) found->format = &row;
        return found;
    }
    return failure("no input format reads it");
}

const InputFormat* ReaderTable::named(const std::string& name) const {
    for (const InputFormat& row : rows_) {
        if (row.name == name) return &row;
    }
    return nullptr;
}

Result<TransferMetadata> readMetadata(const Input& input, MetadataReading reading, bool placed,
                                      EventSink& events) {
    if (!input.format || !input.format->metadata) return failure("no input format reads it");
    return input.format->metadata(input, reading, placed, events);
}

Result<RowSource> RowSource::open(const Input& input, const TransferMetadata& metadata,
                                  const RowRequest& request, Extremes start, EventSink& events) {
    if (!input.format || !input.format->rows) return failure("no input format reads it");
    Result<std::unique_ptr<RowStream>> stream =
        input.format->rows(input, metadata, request, events);
    if (!stream) return stream.error();
    RowSource source;
    source.stream_ = std::move(*stream);
    source.request_ = request;
    const std::int32_t per_unit = request.thousandths ? kThousandths : 1;
    source.no_data_ = kNoData * per_unit;
    source.valid_above_ = kVoidThreshold * per_unit;
    source.found_ = start;
    const CellWindow& w = request.window;
    const bool whole = w.first_row == 0 && w.first_column == 0 && w.rows == metadata.size.rows &&
                       w.columns == metadata.size.columns;
    source.own_extremes_ = whole && source.stream_->ownExtremes().has_value();
    return source;
}

bool RowSource::next(std::int32_t* cells) {
    const std::int32_t width = request_.window.columns;
    std::fill(cells, cells + width, no_data_);
    if (given_ >= request_.window.rows || !stream_->next(cells)) return false;
    ++given_;
    if (own_extremes_) return true;
    std::int32_t lowest = found_.min_elevation, highest = found_.max_elevation;
    for (const std::int32_t* v = cells; v != cells + width; ++v) {
        if (*v <= valid_above_) continue;
        lowest = std::min(lowest, *v);
        highest = std::max(highest, *v);
    }
    found_ = {highest, lowest};
    return true;
}

Extremes RowSource::extremes() const {
    if (!own_extremes_) return found_;
    const Extremes own = *stream_->ownExtremes();
    return {std::max(found_.max_elevation, own.max_elevation),
            std::min(found_.min_elevation, own.min_elevation)};
}

Result<DecodedGrid> readGrid(const Input& input, const TransferMetadata& metadata,
                             const std::optional<CellWindow>& window, MetadataReading reading,
                             bool thousandths, EventSink& events) {
    const CellWindow cells =
        window.value_or(CellWindow{0, 0, metadata.size.rows, metadata.size.columns});
    Result<DecodedGrid> decoded = allocateDecodedGrid(
        {cells.rows, cells.columns, std::min(cells.rows, cells.columns) - 1}, thousandths);
    if (!decoded) return decoded;
    const std::int32_t per_unit = thousandths ? kThousandths : 1;
    // What a grid with no valid cell reports, in whole units: 0 and 9000.
    Result<RowSource> rows = RowSource::open(input, metadata, {cells, thousandths, reading},
                                             {0, 9000 * per_unit}, events);
    if (!rows) return rows.error();
    events.emit(event::DecodingStarted{metadata.grid_spacing});
    ElevationGrid& grid = decoded->grid;
    for (std::int32_t r = 0; r < cells.rows && rows->next(grid[static_cast<std::size_t>(r)]);) {
        ++r;
    }
    if (reading == MetadataReading::Strict) {
        if (Status read = rows->read(); !read) return read.error();
    }
    const Extremes found = rows->extremes();
    decoded->extremes = {found.max_elevation / per_unit, found.min_elevation / per_unit};
    events.emit(
        event::ExtremesFound{decoded->extremes.max_elevation, decoded->extremes.min_elevation});
    rows->finish(events);
    decoded->unit_m = metadata.unit_m.value_or(1.0);
    decoded->posting_m = metadata.posting_m;
    decoded->placement = windowPlacement(metadata.placement, cells.first_row, cells.first_column);
    return decoded;
}

Result<Extremes> readGridExtremes(const Input& input, const TransferMetadata& metadata,
                                  bool thousandths, EventSink& events) {
    const GridSize& size = metadata.size;
    // In thousandths 0 and 9000 would stand for 0 and 9 m: a grid with no valid cell has max
    // below min instead.
    const Extremes start = thousandths ? Extremes{std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max()}
                                       : Extremes{0, 9000};
    Result<RowSource> rows = RowSource::open(
        input, metadata, {{0, 0, size.rows, size.columns}, thousandths, MetadataReading::Strict},
        start, events);
    if (!rows) return rows.error();
    std::vector<std::int32_t> row(static_cast<std::size_t>(std::max(1, size.columns)));
    while (rows->next(row.data())) {
    }
    if (Status read = rows->read(); !read) return read.error();
    return rows->extremes();
}

}  // namespace marlwood
