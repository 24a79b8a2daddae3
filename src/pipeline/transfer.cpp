#include "pipeline/transfer.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "geo/placement.h"
#include "pipeline/native_dem.h"
#include "platform/platform.h"
#include "sdts/metadata_readers.h"
#include "sdts/record_decoder.h"
#include "ter/ter_writer.h"

namespace marlwood {

namespace {

constexpr double kFootMetres = 0.3048;

Result<TransferMetadata> readWalks(const TransferModules& modules, EventSink& events) {
    TransferMetadata metadata;
    ModuleReader input_stream;
    metadata.value_type = readValueType(input_stream, modules.ddsh, events);
    metadata.size = readGridSize(input_stream, modules.ldef, events);
    metadata.grid_spacing = readGridSpacing(input_stream, modules.iref, events);
    metadata.posting_m = postingMetres(metadata.grid_spacing);
    return metadata;
}

Result<TransferMetadata> readStrict(const TransferModules& modules, bool placed,
                                    EventSink& events) {
    Result<TransferDescription> description = readTransferDescription(modules, placed);
    if (!description) return description.error();
    TransferMetadata metadata;
    metadata.value_type = description->value_type;
    metadata.size = description->size;
    const Georeference& g = description->georeference;
    metadata.posting_m = g.xhrs;
    metadata.grid_spacing = g.xhrs == 10 ? kSpacing10m : g.xhrs == 30 ? kSpacing30m : kNoSpacing;
    if (const std::optional<double> unit = unitMetres(g.unit)) {
        metadata.unit_m = *unit;
    } else {
        metadata.unit_m = failure(modules.ddsh.name + " gives the unit \"" + g.unit +
                                  "\", neither METERS nor FEET");
    }
    if (placed) {
        metadata.georeference = g;
        metadata.placement = placeGrid(g);
    }
    events.emit(event::GridSizeRead{metadata.size});
    events.emit(event::SpacingRead{metadata.grid_spacing});
    return metadata;
}

// Opens CEL0 at its first data record. Read the dialogue's way, a module that does not open is
// reported and then reads as empty; read strictly, cel0Unread says why after the decoding.
void openCel0(ModuleReader& input_stream, const ModuleSource& cel0, MetadataReading reading,
              EventSink& events) {
    openCel0AtFirstRecord(input_stream, cel0);
    if (!input_stream.isOpen() && reading == MetadataReading::Walks) {
        events.emit(event::ModuleUnreadable{cel0.name});
    }
}

}  // namespace

Status cel0Read(const ModuleReader& reader, bool opened, const ModuleSource& cel0) {
    if (Status read = moduleRead(reader, cel0); !read) return read;
    if (!opened) return failure(cel0.name + " cannot be read: it does not open");
    return {};
}

std::optional<double> unitMetres(const std::string& unit) {
    if (unit == "METERS" || unit == "METRES") return 1.0;
    if (unit == "FEET") return kFootMetres;
    return std::nullopt;
}

double postingMetres(GridSpacing spacing) {
    return spacing == kSpacing10m ? 10.0 : spacing == kSpacing30m ? 30.0 : 0.0;
}

Status fitsFormat(const GridSize& size, const std::string& ldef_name, const OutputFormat& format) {
    return fitsFormat(format, size, ldef_name + " gives a grid of");
}

std::optional<GridPlacement> windowPlacement(const Result<GridPlacement>& grid,
                                             std::int32_t first_row, std::int32_t first_column) {
    if (!grid) return std::nullopt;
    GridPlacement placement = *grid;
    placement.geotransform[0] += first_column * placement.geotransform[1];
    placement.geotransform[3] += first_row * placement.geotransform[5];
    return placement;
}

std::string noMemoryProblem(const GridSize& size) {
    return "not enough memory for a grid of " + std::to_string(size.rows) + " x " +
           std::to_string(size.columns);
}

Result<TransferMetadata> readTransferMetadata(const TransferModules& modules,
                                              MetadataReading reading, bool placed,
                                              EventSink& events) {
    if (isNativeDem(modules)) return readNativeDemMetadata(modules.native_dem, placed, events);
    Result<TransferMetadata> metadata = reading == MetadataReading::Walks
                                            ? readWalks(modules, events)
                                            : readStrict(modules, placed, events);
    if (!metadata) return metadata;
    // A count below 0 is the mark of a damaged LDEF; what a file holds is its format's to say
    // (the dialogue's walks leave both to the conversion, which words them as it always has).
    const GridSize& size = metadata->size;
    if (reading == MetadataReading::Strict && (size.rows < 0 || size.columns < 0)) {
        return failure(modules.ldef.name + " gives a grid of " + std::to_string(size.rows) + " x " +
                       std::to_string(size.columns) + "; a grid has 0 or more rows and columns");
    }
    return metadata;
}

namespace {

// One pass of the decoder over a transfer's CEL0, as both a whole grid and a window make it:
// extremes in the grid's own unit (thousandths of it when decimals are kept).
struct Cel0Pass {
    const TransferModules& modules;
    const TransferMetadata& metadata;
    EventSink& events;
    ModuleReader input;
    DecoderState decoder;
    std::int32_t per_unit;
    bool opened = false;

    Cel0Pass(const TransferModules& m, const TransferMetadata& md, bool thousandths,
             MetadataReading reading, EventSink& sink)
        : modules(m), metadata(md), events(sink), per_unit(thousandths ? kThousandths : 1) {
        openCel0(input, modules.cel0, reading, events);
        opened = input.isOpen();
        events.emit(event::DecodingStarted{metadata.grid_spacing});
        decoder.thousandths = thousandths;
        decoder.min_elevation *= per_unit;
    }

    template <typename RowFor>
    void decode(RowFor&& row_for) {
        decodeCel0Rows(input, metadata.value_type, metadata.size.rows, metadata.size.columns,
                       std::forward<RowFor>(row_for), decoder, events, modules.cel0.name);
        input.close();
    }

    // A failure when CEL0 did not open or could not be read on (not at its mere end).
    Status read() const { return cel0Read(input, opened, modules.cel0); }

    // `scaled`: the extremes found, in the pass's scaled unit.
    void finish(DecodedGrid& decoded, const Extremes& scaled) {
        decoded.extremes = {scaled.max_elevation / per_unit, scaled.min_elevation / per_unit};
        events.emit(
            event::ExtremesFound{decoded.extremes.max_elevation, decoded.extremes.min_elevation});
        decoded.unit_m = metadata.unit_m.value_or(1.0);
        decoded.posting_m = metadata.posting_m;
    }
};

}  // namespace

Result<DecodedGrid> allocateDecodedGrid(const GridSize& size, bool thousandths,
                                        std::uint64_t also_held) {
    DecodedGrid decoded;
    decoded.size = size;
    decoded.thousandths = thousandths;
    const std::uint64_t available = availableMemoryBytes();
    // 0 means the machine could not tell; what is held besides must still leave room.
    const std::uint64_t room = available == 0          ? 0
                               : available > also_held ? available - also_held
                                                       : 1;
    if (!gridsFitInMemory(size.rows, size.columns, 1, room) ||
        !allocateRows(decoded.grid, size.rows, size.columns)) {
        return failure(noMemoryProblem(size));
    }
    const std::int32_t no_data = kNoData * (thousandths ? kThousandths : 1);
    for (std::int32_t i = 0; i < size.rows; ++i) {
        std::int32_t* row = decoded.grid[static_cast<std::size_t>(i)];
        std::fill(row, row + size.columns, no_data);
    }
    return decoded;
}

Result<DecodedGrid> decodeTransfer(const TransferModules& modules, const TransferMetadata& metadata,
                                   MetadataReading reading, bool thousandths, EventSink& events) {
    if (isNativeDem(modules)) {
        return decodeNativeDem(modules.native_dem, metadata, nullptr, thousandths, events);
    }
    Result<DecodedGrid> decoded = allocateDecodedGrid(metadata.size, thousandths);
    if (!decoded) return decoded;
    Cel0Pass pass(modules, metadata, thousandths, reading, events);
    ElevationGrid& grid = decoded->grid;
    pass.decode([&](std::int32_t row) { return grid[static_cast<std::size_t>(row)]; });
    if (reading == MetadataReading::Strict) {
        if (Status read = pass.read(); !read) return read.error();
    }
    pass.finish(*decoded, {pass.decoder.max_elevation, pass.decoder.min_elevation});
    if (reading == MetadataReading::Walks) readCorners(pass.input, modules.spdm, events);
    if (metadata.placement) decoded->placement = *metadata.placement;
    return decoded;
}

Result<DecodedGrid> decodeWindow(const TransferModules& modules, const TransferMetadata& metadata,
                                 const CellWindow& window, bool thousandths, EventSink& events) {
    if (isNativeDem(modules)) {
        return decodeNativeDem(modules.native_dem, metadata, &window, thousandths, events);
    }
    Result<DecodedGrid> decoded = allocateDecodedGrid(
        {window.rows, window.columns, std::min(window.rows, window.columns) - 1}, thousandths);
    if (!decoded) return decoded;
    Cel0Pass pass(modules, metadata, thousandths, MetadataReading::Strict, events);
    const std::int32_t per_unit = pass.per_unit;
    // The window's own extremes, tracked as the decoder tracks a whole grid's.
    Extremes window_extremes{0, 9000 * per_unit};
    const std::int32_t valid_above = kVoidThreshold * per_unit;
    std::vector<std::int32_t> row(static_cast<std::size_t>(metadata.size.columns) + 1);
    std::int32_t decoding = -1;
    const auto keep = [&](std::int32_t r) {
        const std::int32_t at = r - window.first_row;
        if (at < 0 || at >= window.rows) return;
        const std::int32_t* from = row.data() + window.first_column;
        std::copy(from, from + window.columns, decoded->grid[static_cast<std::size_t>(at)]);
        for (const std::int32_t* v = from; v != from + window.columns; ++v) {
            if (*v <= valid_above) continue;
            window_extremes.min_elevation = std::min(window_extremes.min_elevation, *v);
            window_extremes.max_elevation = std::max(window_extremes.max_elevation, *v);
        }
    };
    pass.decode([&](std::int32_t r) {
        // Row r is asked for once row r - 1 is complete.
        if (decoding >= 0) keep(decoding);
        decoding = r;
        std::fill(row.begin(), row.end(), kNoData * per_unit);
        return row.data();
    });
    // A row the data ended in is kept as far as it came, as a whole grid keeps it.
    if (decoding >= 0) keep(decoding);
    if (Status read = pass.read(); !read) return read.error();
    pass.finish(*decoded, window_extremes);
    decoded->placement = windowPlacement(metadata.placement, window.first_row, window.first_column);
    return decoded;
}

Result<Extremes> decodeExtremes(const TransferModules& modules, const TransferMetadata& metadata,
                                EventSink& events, bool thousandths) {
    if (isNativeDem(modules)) return nativeDemExtremes(modules.native_dem, thousandths);
    // Every record goes through the decoder as in a conversion; only the extremes are kept.
    std::vector<std::int32_t> row(static_cast<std::size_t>(metadata.size.columns) + 1);
    DecoderState decoder;
    if (thousandths) {
        // The whole-unit defaults (0 and 9000) would stand for 0 and 9 m.
        decoder.thousandths = true;
        decoder.max_elevation = std::numeric_limits<std::int32_t>::min();
        decoder.min_elevation = std::numeric_limits<std::int32_t>::max();
    }
    ModuleReader input_stream;
    openCel0(input_stream, modules.cel0, MetadataReading::Strict, events);
    const bool opened = input_stream.isOpen();
    decodeCel0Rows(
        input_stream, metadata.value_type, metadata.size.rows, metadata.size.columns,
        [&](std::int32_t) { return row.data(); }, decoder, events, modules.cel0.name);
    if (Status read = cel0Read(input_stream, opened, modules.cel0); !read) return read.error();
    return Extremes{decoder.max_elevation, decoder.min_elevation};
}

}  // namespace marlwood
