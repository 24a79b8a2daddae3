// Where a transfer's grid lies on the ground, read with the ISO 8211 reader from the modules that
// say so: IREF (scale, offset, posting), LDEF (what a cell's address points at), RSDF (the first
// cell's address), XREF (reference system, zone, datum), DDSH (the elevation unit) and, when the
// transfer has one, DDOM (the void and fill values).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/dem_types.h"
#include "common/result.h"
#include "sdts/module_reader.h"

namespace marlwood {

struct GroundPoint {
    double x = 0;
    double y = 0;
};

struct Georeference {
    // IREF: ground x = sfax * internal x + xorg (y likewise); the posting xhrs by yhrs.
    double sfax = 1, sfay = 1, xorg = 0, yorg = 0, xhrs = 0, yhrs = 0;
    // RSDF: the spatial address (SADR) of the grid's first cell, in internal coordinates, and
    // which corner of the grid that cell is (SCOR, "TL" in USGS transfers: top left).
    double sadr_x = 0, sadr_y = 0;
    std::string scan_origin;
    // LDEF: which point of the cell SADR gives (INTR): "CE" centre, or a corner TL, TR, BL, BR.
    std::string sadr_meaning;
    // XREF: reference system (RSNM, e.g. "UTM"), horizontal datum as coded (HDAT, e.g. "NAS" for
    // NAD27, "NAX" for NAD83) and zone.
    std::string rsnm, hdat;
    int zone = 0;
    // A system known by its EPSG code (a GeoTIFF's); 0: by rsnm, hdat and zone alone.
    int epsg = 0;
    // What gave those three, as messages name it: XREF, or a native DEM's record A (whose
    // datum codes 1 to 4 are held as the codes above).
    std::string crs_from = "XREF";
    // DDSH: the elevation unit, "METERS" or "FEET".
    std::string unit;
    // DDOM, when the transfer has one and gives them.
    std::optional<std::int32_t> void_value, fill_value;

    // The first cell's address on the ground.
    GroundPoint firstCell() const { return {sfax * sadr_x + xorg, sfay * sadr_y + yorg}; }
    // The outer corner of the first cell when it is the grid's top-left one (the origin of a
    // north-up raster); nothing for another scan origin or an unknown INTR.
    std::optional<GroundPoint> topLeftCorner() const;
};

// The most a georeference module may hold, as an archive allows a metadata module.
inline constexpr std::size_t kMaxGeoreferenceModuleBytes = std::size_t{1} << 20;

// What the command line knows of a transfer before decoding it, each module read once with the
// ISO 8211 reader, so a damaged one is refused with one line naming it and what is wrong.
struct TransferDescription {
    ValueType value_type = 0;  // DDSH's FMT: 'I' for BI16, 'F' for BFP32
    GridSize size;             // LDEF's NROW and NCOL
    // IREF always, LDEF's INTR and DDSH's unit as given; RSDF, XREF and DDOM only when placed.
    Georeference georeference;
};

// `placed`: the grid's place on the ground is needed too (merging), so RSDF and XREF must be there
// and the unit must be METERS or FEET.
Result<TransferDescription> readTransferDescription(const TransferModules& modules, bool placed);

// The georeference alone (every module it needs must be there).
Result<Georeference> readGeoreference(const TransferModules& modules);

}  // namespace marlwood
