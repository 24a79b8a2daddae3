// Where a transfer's grid lies on the ground, read with the ISO 8211 reader from the modules that
// say so: IREF (scale, offset, posting), LDEF (what a cell's address points at), RSDF (the first
// cell's address), XREF (reference system, zone, datum), DDSH (the elevation unit) and, when the
// transfer has one, DDOM (the void and fill values).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

struct GeoreferenceResult {
    std::optional<Georeference> georeference;
    std::string error;  // when none: which module, and what is missing or wrong there
};

// The modules a georeference is read from; an empty name means the transfer lacks that module
// (only DDOM may be absent).
struct GeoreferenceModules {
    ModuleSource iref, ldef, rsdf, xref, ddsh, ddom;
};
GeoreferenceModules georeferenceModules(const TransferModules& modules);

// The most a georeference module may hold, as an archive allows a metadata module.
inline constexpr std::size_t kMaxGeoreferenceModuleBytes = std::size_t{1} << 20;

GeoreferenceResult readGeoreference(const GeoreferenceModules& modules);

// DDSH's elevation unit alone, "METERS" or "FEET" (true heights need nothing else of the
// georeference); nothing when DDSH does not say, with `problem` saying why.
std::optional<std::string> readElevationUnit(const ModuleSource& ddsh, std::string& problem);

}  // namespace marlwood
