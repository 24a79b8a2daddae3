#include "pipeline/geotiff_input.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "common/rounding.h"
#include "common/text.h"
#include "fetch/remote_file.h"
#include "source/source_limits.h"
#include "tiff/geotiff_reader.h"

namespace marlwood {

namespace {

// XREF's datum codes, which the merge and crops name datums by; any other datum has none.
std::string datumCode(Datum datum) {
    switch (datum) {
        case Datum::NAD27:
            return "NAS";
        case Datum::NAD83:
        case Datum::NAD83_2011:
            return "NAX";
        case Datum::WGS84:
            return "WGE";
        default:
            return "";
    }
}

// A file on a server as the reader reads ranges: through the run's remote file.
Result<GeoTiffSource> remoteSource(const std::string& url) {
    Result<std::shared_ptr<RemoteFile>> remote = openRemote(url);
    if (!remote) return remote.error();
    auto ranged = std::make_shared<RangedBytes>();
    ranged->size = (*remote)->size();
    ranged->read = [file = *remote](std::uint64_t offset, std::span<std::uint8_t> out) {
        return file->read(offset, out);
    };
    ranged->expect = [file = *remote](std::span<const ByteSpan> now,
                                      std::span<const ByteSpan> next) {
        const auto ranges = [](std::span<const ByteSpan> spans) {
            std::vector<ByteRange> r;
            for (const ByteSpan& s : spans) r.push_back({s.offset, s.length});
            return r;
        };
        return file->expect(ranges(now), ranges(next));
    };
    return GeoTiffSource::ranges(url, std::move(ranged));
}

Result<GeoTiffSource> sourceOf(const ModuleSource& file) {
    if (namesRemote(file.name)) return remoteSource(file.name);
    return file.bytes ? GeoTiffSource::memory(file.name, file.bytes)
                      : GeoTiffSource::file(file.name);
}

// Beyond these an elevation is no elevation: a cell as far out reads as void.
constexpr double kFarthestElevation = 1e6;

Result<TransferMetadata> readTags(const Input& input, bool, EventSink& events) {
    const Result<GeoTiffSource> source = sourceOf(input.file);
    if (!source) return source.error();
    Result<GeoTiffInfo> info = readGeoTiffInfo(*source, input.level);
    if (!info) return info.error();
    if (Status placeable = checkPlaceable(*info, input.file.name); !placeable) {
        return placeable.error();
    }
    const GeoTransform& g = *info->geotransform;
    const GeoTiffCrs& crs = info->crs;
    TransferMetadata metadata;
    metadata.values = sampleTypeName(info->sample_type);
    metadata.size = {info->height, info->width, std::min(info->height, info->width) - 1};
    if (info->tiled) metadata.block_columns = static_cast<std::int32_t>(info->block_width);
    metadata.size_from = input.file.name;
    const bool feet = info->vertical_unit == LengthUnit::FootUS ||
                      info->vertical_unit == LengthUnit::FootInternational;
    metadata.unit_m = feet ? metresPer(info->vertical_unit) : 1.0;

    Georeference geo;
    geo.xhrs = g[1];
    geo.yhrs = -g[5];
    geo.sadr_x = g[0] + g[1] / 2;  // the first cell's centre
    geo.sadr_y = g[3] + g[5] / 2;
    geo.scan_origin = std::string("TL");
    geo.sadr_meaning = std::string("CE");
    geo.hdat = datumCode(crs.datum);
    geo.epsg = crs.epsg;
    geo.crs_from = "its GeoKeys";
    geo.unit = feet ? "FEET" : "METERS";
    const bool metres = info->linear_unit == LengthUnit::Metre ||
                        info->linear_unit == LengthUnit::NotGiven;
    if (crs.utm_zone > 0 && !geo.hdat.empty() && metres) {
        // On a UTM lattice already: read as a quad is.
        geo.rsnm = std::string("UTM");
        geo.zone = crs.utm_zone;
        metadata.posting_m = g[1];
    } else {
        // Degrees, or another projection: laid onto a UTM lattice as it is read.
        geo.rsnm = "EPSG:" + std::to_string(crs.epsg);
        metadata.reprojected = true;
        metadata.posting_m =
            crs.geographic ? postingForDegrees(g[1]) : g[1] * metresPer(info->linear_unit);
    }
    // Each overview's cells span the full image's in the ratio of their sides; its ground
    // posting follows by the same rule as the full image's.
    metadata.level = info->level;
    for (const ImageLevel& level : info->levels) {
        const double across = static_cast<double>(info->width) / level.width;
        const double cell = g[1] * across;
        const double metres = metadata.reprojected ? metresPer(info->linear_unit) : 1;
        const double posting =
            metadata.reprojected && crs.geographic ? postingForDegrees(cell) : cell * metres;
        metadata.levels.push_back(
            {{level.height, level.width, std::min(level.height, level.width) - 1}, posting});
    }
    metadata.grid_spacing = metadata.posting_m == 10   ? kSpacing10m
                            : metadata.posting_m == 30 ? kSpacing30m
                                                       : kNoSpacing;
    metadata.georeference = geo;
    metadata.placement = GridPlacement{crs.epsg, g};
    // EPSG's NGVD29 and NAVD88 heights; 3DEP (NAD83) gives none and is NAVD88.
    const int vertical = info->keys.vertical_type;
    metadata.vertical_datum = vertical == 5702 ? "NGVD29"
                              : vertical == 5703 || (vertical == 0 && geo.hdat == "NAX")
                                  ? "NAVD88"
                                  : "";
    events.emit(event::GridSizeRead{metadata.size});
    events.emit(event::SpacingRead{metadata.grid_spacing});
    return metadata;
}

// A window's rows as the reader decodes them, a block row at a time, each value rounded to the
// whole unit (or thousandth) a cell holds.
class TiffRows final : public RowStream {
  public:
    TiffRows(GeoTiffRows rows, bool thousandths, std::string name, std::int32_t window_rows,
             EventSink& events)
        : rows_(std::move(rows)),
          scale_(thousandths ? kThousandths : 1),
          name_(std::move(name)),
          rows_left_(window_rows),
          events_(events) {}

    bool next(std::int32_t* cells) override {
        Result<std::span<const double>> row = rows_.next();
        if (!row) {
            problem_ = row.error();
            return false;
        }
        if (row->empty()) return false;
        std::int32_t* cell = cells;
        for (const double v : *row) {
            if (v > -kFarthestElevation && v < kFarthestElevation) {
                *cell = roundHalfAway(v * scale_);
            }
            ++cell;
        }
        if (--rows_left_ == 0) {
            events_.emit(event::BlocksRead{
                name_, rows_.blocksRead(),
                std::int64_t{rows_.info().blocksAcross()} * rows_.info().blocksDown(),
                rows_.bytesRead(), rows_.fileBytes()});
        }
        return true;
    }

    Status read() const override { return problem_; }

  private:
    GeoTiffRows rows_;
    double scale_;
    std::string name_;
    std::int32_t rows_left_;  // the window's rows not yet given
    EventSink& events_;
    Status problem_;
};

Result<std::unique_ptr<RowStream>> openRows(const Input& input, const TransferMetadata&,
                                            const RowRequest& request, EventSink& events) {
    const CellWindow& w = request.window;
    const Result<GeoTiffSource> source = sourceOf(input.file);
    if (!source) return source.error();
    Result<GeoTiffRows> rows =
        GeoTiffRows::open(*source, {w.first_row, w.first_column, w.rows, w.columns, input.level});
    if (!rows) return rows.error();
    // -v says which image was read.
    const GeoTiffInfo& info = rows->info();
    const std::string name = lastComponent(input.source) +
                             (info.level > 0 ? "'s overview of " + std::to_string(info.height) +
                                                   " x " + std::to_string(info.width)
                                             : "");
    return std::unique_ptr<RowStream>(
        std::make_unique<TiffRows>(std::move(*rows), request.thousandths, name, w.rows, events));
}

}  // namespace

double postingForDegrees(double degrees) {
    const double metres = std::round(std::abs(degrees) * 3600 * 30);
    return std::max(1.0, metres);
}

InputFormat geoTiffFormat() {
    InputFormat row;
    row.name = "GeoTIFF";
    row.claims = [](const std::string& source) {
        if (namesRemote(source)) return true;
        std::error_code error;
        return (endsWithNoCase(source, ".tif") || endsWithNoCase(source, ".tiff")) &&
               !std::filesystem::is_directory(source, error);
    };
    row.find = [](const std::string& source, Cel0Reading reading) -> Result<Input> {
        if (namesRemote(source)) {
            // Found when the server gives its length (a file it has not is Absent).
            Result<std::shared_ptr<RemoteFile>> remote = openRemote(source);
            if (!remote) return remote.error();
            Input input;
            input.source = source;
            const std::string name = lastComponent(source);
            input.output_stem = name.substr(0, name.find('.'));
            if (input.output_stem.empty()) input.output_stem = "terrain";
            input.file = ModuleSource(source);
            return input;
        }
        FoundTransfer found = findFileTransfer(source, "GeoTIFF", kMaxNativeDemBytes, reading);
        if (!found) return found.error();
        Input input;
        static_cast<Transfer&>(input) = std::move(*found);
        return input;
    };
    row.metadata = [](const Input& input, MetadataReading, bool placed, EventSink& events) {
        return readTags(input, placed, events);
    };
    row.rows = openRows;
    row.windows_side_by_side = true;
    row.prefetch = [](const Input& input, const CellWindow& w) {
        if (!namesRemote(input.file.name)) return;
        // Only a hint: what fails here fails again, and is said, when the window is read.
        if (const Result<GeoTiffSource> source = sourceOf(input.file)) {
            (void)GeoTiffRows::prefetch(
                *source, {w.first_row, w.first_column, w.rows, w.columns, input.level});
        }
    };
    return row;
}

}  // namespace marlwood
