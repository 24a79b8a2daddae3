#include "pipeline/sdts_reader.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "geo/placement.h"
#include "sdts/georeference.h"
#include "sdts/metadata_readers.h"
#include "sdts/record_decoder.h"

namespace marlwood {

namespace {

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

Result<TransferMetadata> readModules(const Input& input, MetadataReading reading, bool placed,
                                     EventSink& events) {
    const TransferModules& modules = input.modules;
    Result<TransferMetadata> metadata = reading == MetadataReading::Walks
                                            ? readWalks(modules, events)
                                            : readStrict(modules, placed, events);
    if (!metadata) return metadata;
    metadata->size_from = modules.ldef.name;
    // USGS made its 7.5-minute quads on NGVD29 (those on NAVD88 came as GeoTIFFs).
    metadata->vertical_datum = "NGVD29";
    metadata->values = metadata->value_type == kBi16    ? "BI16"
                       : metadata->value_type == kBfp32 ? "BFP32"
                                                        : "value type unknown";
    // A count below 0 is the mark of a damaged LDEF; what a file holds is its format's to say
    // (the dialogue's walks leave both to the conversion, which words them as it always has).
    const GridSize& size = metadata->size;
    if (reading == MetadataReading::Strict && (size.rows < 0 || size.columns < 0)) {
        return failure(modules.ldef.name + " gives a grid of " + std::to_string(size.rows) + " x " +
                       std::to_string(size.columns) + "; a grid has 0 or more rows and columns");
    }
    return metadata;
}

// CEL0's records a row each, from its first data record: the rows before a window decoded and
// dropped, those after it never read. Read the dialogue's way, a CEL0 that does not open is said
// and then reads as empty; read strictly, `read` says why.
class Cel0Rows final : public RowStream {
  public:
    Cel0Rows(const Input& input, const TransferMetadata& metadata, const RowRequest& request,
             EventSink& events)
        : cel0_(input.modules.cel0),
          spdm_(input.modules.spdm),
          value_type_(metadata.value_type),
          rows_(std::max(0, metadata.size.rows)),
          columns_(std::max(0, metadata.size.columns)),
          request_(request),
          events_(events) {
        openCel0AtFirstRecord(reader_, cel0_);
        opened_ = reader_.isOpen();
        if (!opened_ && request.reading == MetadataReading::Walks) {
            events.emit(event::ModuleUnreadable{cel0_.name});
        }
        decoder_.thousandths = request.thousandths;
        decoder_.max_elevation = std::numeric_limits<std::int32_t>::min();
        decoder_.min_elevation = std::numeric_limits<std::int32_t>::max();
        const CellWindow& w = request.window;
        whole_rows_ = w.first_column == 0 && w.columns == columns_;
        if (!whole_rows_ || w.first_row > 0) {
            scratch_.resize(static_cast<std::size_t>(columns_) + 1);
        }
    }

    bool next(std::int32_t* cells) override {
        const CellWindow& w = request_.window;
        while (!ended_ && next_row_ < w.first_row) decodeInto(scratch_.data());
        if (ended_ || next_row_ >= w.first_row + w.rows) {
            reader_.close();
            return false;
        }
        if (whole_rows_) {
            decodeInto(cells);
        } else {
            std::fill(scratch_.begin(), scratch_.end(), kNoData * perUnit());
            decodeInto(scratch_.data());
            const std::int32_t* from = scratch_.data() + w.first_column;
            std::copy(from, from + w.columns, cells);
        }
        // Nothing after the window is read.
        if (next_row_ >= w.first_row + w.rows) reader_.close();
        return true;
    }

    Status read() const override { return cel0Read(reader_, opened_, cel0_); }

    std::optional<Extremes> ownExtremes() const override {
        return Extremes{decoder_.max_elevation, decoder_.min_elevation};
    }

    void finish(EventSink& events) override {
        reader_.close();
        if (request_.reading == MetadataReading::Walks) readCorners(reader_, spdm_, events);
    }

  private:
    std::int32_t perUnit() const { return request_.thousandths ? kThousandths : 1; }

    void decodeInto(std::int32_t* row) {
        if (decodeRow(reader_, value_type_, row, columns_, decoder_, events_)) ++decoded_;
        ++next_row_;
        if (reader_.failed()) {
            ended_ = true;
            if (decoded_ < rows_) events_.emit(event::Cel0EndedEarly{cel0_.name, decoded_, rows_});
        } else if (next_row_ == rows_) {
            ended_ = true;
        }
    }

    ModuleSource cel0_, spdm_;
    ValueType value_type_;
    std::int32_t rows_, columns_;
    RowRequest request_;
    EventSink& events_;
    ModuleReader reader_;
    DecoderState decoder_;
    std::vector<std::int32_t> scratch_;
    bool opened_ = false, whole_rows_ = true, ended_ = false;
    std::int32_t next_row_ = 0, decoded_ = 0;
};

}  // namespace

Status cel0Read(const ModuleReader& reader, bool opened, const ModuleSource& cel0) {
    if (Status read = moduleRead(reader, cel0); !read) return read;
    if (!opened) return failure(cel0.name + " cannot be read: it does not open");
    return {};
}

InputFormat sdtsTransferFormat() {
    InputFormat row;
    row.name = "SDTS transfer";
    row.claims = [](const std::string&) { return true; };
    row.find = [](const std::string& source, Cel0Reading reading) -> Result<Input> {
        FoundTransfer found = findTransfer(source, reading);
        if (!found) return found.error();
        Input input;
        static_cast<Transfer&>(input) = std::move(*found);
        return input;
    };
    row.metadata = readModules;
    row.rows = [](const Input& input, const TransferMetadata& metadata, const RowRequest& request,
                  EventSink& events) -> Result<std::unique_ptr<RowStream>> {
        return std::unique_ptr<RowStream>(
            std::make_unique<Cel0Rows>(input, metadata, request, events));
    };
    // An archive's CEL0 read when it is opened is held while its rows are read.
    row.reading_bytes = [](const Input& input, const TransferMetadata&) -> std::uint64_t {
        const ModuleSource& cel0 = input.modules.cel0;
        return cel0.bytes ? 0 : cel0.heldBytes();
    };
    return row;
}

}  // namespace marlwood
