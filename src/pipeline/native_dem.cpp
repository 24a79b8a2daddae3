#include "pipeline/native_dem.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "geo/placement.h"
#include "geo/projection.h"
#include "pipeline/geotiff_input.h"
#include "source/source_limits.h"
#include "usgsdem/native_dem.h"

namespace marlwood {

namespace {

constexpr double kFootMetres = 0.3048;

struct Loaded {
    usgsdem::NativeDem dem;
    usgsdem::Lattice lattice;
};

Result<Loaded> load(const ModuleSource& source) {
    std::shared_ptr<const std::string> bytes = source.bytes;
    if (!bytes && source.load) {
        Result<std::shared_ptr<const std::string>> loaded = source.load();
        if (!loaded) return loaded.error();
        bytes = *loaded;
    }
    usgsdem::RecordReader reader;
    if (!reader.open(source.name, bytes)) return failure("cannot open " + source.name);
    Result<usgsdem::NativeDem> dem = usgsdem::readNativeDem(reader);
    if (!dem) return dem.error();
    Result<usgsdem::Lattice> lattice = usgsdem::latticeOf(dem->a, dem->profiles);
    if (!lattice) return lattice.error();
    return Loaded{std::move(*dem), *lattice};
}

// Record A's horizontal datum as the georeference codes a datum; a blank field (old files) is
// NAD27, as those files were made.
std::string datumCode(std::int64_t code) {
    switch (code) {
        case 0:
        case 1:
            return "NAS";
        case 2:
            return "WGC";
        case 3:
            return "WGE";
        case 4:
            return "NAX";
        default:
            return std::to_string(code);
    }
}

// The lattice's place in record A's own system, its cells `scale` of a ground unit apart (1 in
// metres or feet, 1/3600 in arc-seconds to degrees); the system is named by each kind below.
Georeference latticeReference(const usgsdem::RecordA& a, const usgsdem::Lattice& lattice,
                              const std::string& unit, double scale) {
    Georeference g;
    g.xhrs = lattice.dx * scale;
    g.yhrs = lattice.dy * scale;
    g.sadr_x = lattice.west * scale;
    g.sadr_y = lattice.north * scale;
    g.scan_origin = std::string("TL");
    g.sadr_meaning = std::string("CE");
    g.hdat = datumCode(a.horizontal_datum);
    g.crs_from = "record A";
    g.unit = unit;
    g.void_value = usgsdem::kDemVoid;
    return g;
}

// A geographic model's place: the lattice in degrees, its system the datum's longitude and
// latitude by EPSG code; a state plane model's, its lattice in the zone's own feet or metres, by
// the EPSG code of that zone on its datum.
Result<Georeference> reprojectedReference(const usgsdem::RecordA& a,
                                          const usgsdem::Lattice& lattice,
                                          const std::string& unit) {
    const bool geographic = a.reference_system == usgsdem::kGeographic;
    Georeference g = latticeReference(a, lattice, unit, geographic ? 1.0 / 3600 : 1.0);
    const Result<int> epsg = geographic ? geographicEpsg(g.hdat, g.crs_from)
                                        : statePlaneEpsg(static_cast<int>(a.zone), g.hdat,
                                                         a.ground_unit == usgsdem::kFeet);
    if (!epsg) return failure((geographic ? "" : "record A: ") + epsg.message());
    g.epsg = *epsg;
    g.rsnm = "EPSG:" + std::to_string(g.epsg);
    return g;
}

GridSize sizeOf(std::int64_t rows, std::int64_t columns) {
    const auto r = static_cast<std::int32_t>(rows);
    const auto c = static_cast<std::int32_t>(columns);
    return {r, c, std::min(r, c) - 1};
}

Result<TransferMetadata> readMetadata(const ModuleSource& dem, bool placed, EventSink& events) {
    Result<Loaded> loaded = load(dem);
    if (!loaded) return loaded.error();
    const usgsdem::RecordA& a = loaded->dem.a;
    const usgsdem::Lattice& lattice = loaded->lattice;
    TransferMetadata metadata;
    metadata.values = "ASCII DEM";
    // USGS's DEMs on NAD27 have NGVD29 heights; on other datums (Canada's CDED on NAD83 has
    // CGVD28) the heights' datum is not known.
    if (a.horizontal_datum == 0 || a.horizontal_datum == 1) metadata.vertical_datum = "NGVD29";
    metadata.size = sizeOf(lattice.rows, lattice.columns);
    metadata.size_from = dem.name;
    const bool geographic = a.reference_system == usgsdem::kGeographic;
    const bool state_plane = a.reference_system == usgsdem::kStatePlane;
    // In arc-seconds, the posting it is laid onto follows latitude's spacing, the same on the
    // ground everywhere (longitude's narrows northward); in feet, the nearest whole metre.
    metadata.posting_m = geographic ? postingForDegrees(lattice.dy / 3600)
                         : state_plane && a.ground_unit == usgsdem::kFeet
                             ? std::max(1.0, std::round(lattice.dx * kFootMetres))
                             : lattice.dx;
    metadata.grid_spacing = metadata.posting_m == 10   ? kSpacing10m
                            : metadata.posting_m == 30 ? kSpacing30m
                                                       : kNoSpacing;
    std::string unit;
    if (a.elevation_unit == usgsdem::kFeet) {
        metadata.unit_m = kFootMetres;
        unit = "FEET";
    } else if (a.elevation_unit == usgsdem::kMetres) {
        metadata.unit_m = 1.0;
        unit = "METERS";
    } else {
        metadata.unit_m =
            failure("record A gives the elevation unit " + std::to_string(a.elevation_unit) +
                    ", neither 1 (feet) nor 2 (metres)");
    }
    if (geographic || state_plane) {
        // Laid onto a UTM lattice as it is read, as a GeoTIFF in degrees is: so it is placed
        // always, and a datum or zone with no EPSG code refuses it now.
        Result<Georeference> g = reprojectedReference(a, lattice, unit);
        if (!g) return g.error();
        const Result<GeoTransform> cells = cellGeotransform(*g);
        if (!cells) return cells.error();
        metadata.reprojected = true;
        metadata.georeference = *g;
        metadata.placement = GridPlacement{g->epsg, *cells};
    } else if (placed) {
        Georeference g = latticeReference(a, lattice, unit, 1);
        g.rsnm = std::string("UTM");
        g.zone = static_cast<int>(a.zone);
        metadata.georeference = g;
        metadata.placement = placeGrid(g);
    }
    events.emit(event::GridSizeRead{metadata.size});
    events.emit(event::SpacingRead{metadata.grid_spacing});
    return metadata;
}

// Profiles run south to north, a column at a time: the window's cells are laid out once, then
// given a row at a time.
class ProfileRows final : public RowStream {
  public:
    explicit ProfileRows(DecodedGrid laid) : laid_(std::move(laid)) {}
    bool next(std::int32_t* cells) override {
        if (next_ >= laid_.size.rows) return false;
        const std::int32_t* row = laid_.grid[static_cast<std::size_t>(next_++)];
        std::copy(row, row + laid_.size.columns, cells);
        return true;
    }

  private:
    DecodedGrid laid_;
    std::int32_t next_ = 0;
};

Result<std::unique_ptr<RowStream>> openRows(const Input& input, const TransferMetadata& metadata,
                                            const RowRequest& request, EventSink&) {
    Result<Loaded> loaded = load(input.file);
    if (!loaded) return loaded.error();
    const usgsdem::Lattice& lattice = loaded->lattice;
    if (lattice.rows != metadata.size.rows || lattice.columns != metadata.size.columns) {
        return failure(input.file.name + " changed since it was first read");
    }
    const CellWindow& w = request.window;
    Result<DecodedGrid> laid = allocateDecodedGrid(sizeOf(w.rows, w.columns), request.thousandths);
    if (!laid) return laid.error();
    std::vector<std::int32_t*> rows(static_cast<std::size_t>(w.rows));
    for (std::size_t r = 0; r < rows.size(); ++r) rows[r] = laid->grid[r];
    const std::int32_t per_unit = request.thousandths ? kThousandths : 1;
    if (Status done =
            usgsdem::layDown(loaded->dem, lattice, {w.first_row, w.first_column, w.rows, w.columns},
                             request.thousandths, kNoData * per_unit, rows);
        !done) {
        return done.error();
    }
    return std::unique_ptr<RowStream>(std::make_unique<ProfileRows>(std::move(*laid)));
}

}  // namespace

InputFormat nativeDemFormat() {
    InputFormat row;
    row.name = "native DEM";
    row.claims = [](const std::string& source) {
        std::error_code error;
        return namesNativeDem(source) && !std::filesystem::is_directory(source, error);
    };
    row.find = [](const std::string& source, Cel0Reading reading) -> Result<Input> {
        FoundTransfer found = findFileTransfer(source, "DEM", kMaxNativeDemBytes, reading);
        if (!found) return found.error();
        Input input;
        static_cast<Transfer&>(input) = std::move(*found);
        return input;
    };
    row.metadata = [](const Input& input, MetadataReading, bool placed, EventSink& events) {
        return readMetadata(input.file, placed, events);
    };
    row.rows = openRows;
    // The file as read (a gzipped one unpacked when opened), and its grid laid out whole beside
    // the profiles it is laid from (at most as many again).
    row.reading_bytes = [](const Input& input, const TransferMetadata& metadata) {
        const GridSize& size = metadata.size;
        const std::uint64_t grid = (static_cast<std::uint64_t>(std::max(0, size.rows)) + 1) *
                                   static_cast<std::uint64_t>(std::max(0, size.columns)) *
                                   sizeof(std::int32_t);
        return (input.file.bytes ? 0 : input.file.heldBytes()) + 2 * grid;
    };
    return row;
}

}  // namespace marlwood
