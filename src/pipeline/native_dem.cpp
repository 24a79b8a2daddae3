#include "pipeline/native_dem.h"

#include <algorithm>
#include <vector>

#include "geo/placement.h"
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

GridSize sizeOf(std::int64_t rows, std::int64_t columns) {
    const auto r = static_cast<std::int32_t>(rows);
    const auto c = static_cast<std::int32_t>(columns);
    return {r, c, std::min(r, c) - 1};
}

}  // namespace

Result<TransferMetadata> readNativeDemMetadata(const ModuleSource& dem, bool placed,
                                               EventSink& events) {
    Result<Loaded> loaded = load(dem);
    if (!loaded) return loaded.error();
    const usgsdem::RecordA& a = loaded->dem.a;
    const usgsdem::Lattice& lattice = loaded->lattice;
    TransferMetadata metadata;
    metadata.value_type = kAsciiDem;
    metadata.size = sizeOf(lattice.rows, lattice.columns);
    metadata.posting_m = lattice.dx;
    metadata.grid_spacing = lattice.dx == 10   ? kSpacing10m
                            : lattice.dx == 30 ? kSpacing30m
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
    if (placed) {
        Georeference g;
        g.xhrs = lattice.dx;
        g.yhrs = lattice.dy;
        g.sadr_x = lattice.west;
        g.sadr_y = lattice.north;
        g.scan_origin = std::string("TL");
        g.sadr_meaning = std::string("CE");
        g.rsnm = std::string("UTM");
        g.hdat = datumCode(a.horizontal_datum);
        g.zone = static_cast<int>(a.zone);
        g.crs_from = "record A";
        g.unit = unit;
        g.void_value = usgsdem::kDemVoid;
        metadata.georeference = g;
        metadata.placement = placeGrid(g);
    }
    events.emit(event::GridSizeRead{metadata.size});
    events.emit(event::SpacingRead{metadata.grid_spacing});
    return metadata;
}

Result<DecodedGrid> decodeNativeDem(const ModuleSource& dem, const TransferMetadata& metadata,
                                    const CellWindow* window, bool thousandths, EventSink& events) {
    Result<Loaded> loaded = load(dem);
    if (!loaded) return loaded.error();
    const usgsdem::Lattice& lattice = loaded->lattice;
    if (lattice.rows != metadata.size.rows || lattice.columns != metadata.size.columns) {
        return failure(dem.name + " changed since it was first read");
    }
    const usgsdem::Window cells = window ? usgsdem::Window{window->first_row, window->first_column,
                                                           window->rows, window->columns}
                                         : usgsdem::Window{0, 0, lattice.rows, lattice.columns};
    Result<DecodedGrid> decoded =
        allocateDecodedGrid(sizeOf(cells.rows, cells.columns), thousandths);
    if (!decoded) return decoded;
    events.emit(event::DecodingStarted{metadata.grid_spacing});
    const std::int32_t per_unit = thousandths ? kThousandths : 1;
    ElevationGrid& grid = decoded->grid;
    std::vector<std::int32_t*> rows(static_cast<std::size_t>(cells.rows));
    for (std::size_t r = 0; r < rows.size(); ++r) rows[r] = grid[r];
    if (Status laid =
            usgsdem::layDown(loaded->dem, lattice, cells, thousandths, kNoData * per_unit, rows);
        !laid) {
        return laid.error();
    }
    // The extremes as the decoder of a transfer finds them: valid cells only, whole units.
    Extremes found{0, 9000 * per_unit};
    for (std::int32_t r = 0; r < decoded->size.rows; ++r) {
        const std::int32_t* row = grid[static_cast<std::size_t>(r)];
        for (std::int32_t c = 0; c < decoded->size.columns; ++c) {
            if (row[c] <= kVoidThreshold * per_unit) continue;
            found.min_elevation = std::min(found.min_elevation, row[c]);
            found.max_elevation = std::max(found.max_elevation, row[c]);
        }
    }
    decoded->extremes = {found.max_elevation / per_unit, found.min_elevation / per_unit};
    events.emit(
        event::ExtremesFound{decoded->extremes.max_elevation, decoded->extremes.min_elevation});
    decoded->unit_m = metadata.unit_m.value_or(1.0);
    decoded->posting_m = metadata.posting_m;
    decoded->placement = windowPlacement(metadata.placement, cells.first_row, cells.first_column);
    return decoded;
}

Result<Extremes> nativeDemExtremes(const ModuleSource& dem, bool thousandths) {
    Result<Loaded> loaded = load(dem);
    if (!loaded) return loaded.error();
    Extremes found = thousandths ? Extremes{INT32_MIN, INT32_MAX} : Extremes{0, 9000};
    const std::int32_t per_unit = thousandths ? kThousandths : 1;
    for (const usgsdem::Profile& p : loaded->dem.profiles) {
        for (const std::int32_t written : p.values) {
            const auto cell = usgsdem::cellValue(written, p.datum, loaded->dem.a.resolution_z,
                                                 thousandths, kNoData * per_unit);
            if (!cell) return failure("an elevation is beyond -1e6 to 1e6");
            if (*cell <= kVoidThreshold * per_unit) continue;
            found.min_elevation = std::min(found.min_elevation, *cell);
            found.max_elevation = std::max(found.max_elevation, *cell);
        }
    }
    return found;
}

}  // namespace marlwood
