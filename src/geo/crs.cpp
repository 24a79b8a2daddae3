#include "geo/crs.h"

#include <string>

#include "geo/projection.h"
#include "geo/shown_text.h"

namespace marlwood {

namespace {

// USGS 7.5-minute quads are UTM on NAD27 (most of them) or NAD83: zones
// 10 to 19 in the conterminous states, 1 to 9 and 59, 60 in Alaska, 4 and 5 in Hawaii, 19 and 20
// in Puerto Rico. WGS 84 and WGS 72 are there for the few transfers on a satellite datum.
struct UtmDatum {
    std::string_view code;  // XREF's HDAT
    std::string_view name;
    int last_zone;   // zones 1..last_zone have consecutive codes from zone_1 on
    int zone_1;      // EPSG code of zone 1N
    int zone_59;     // EPSG code of zone 59N, zone 60N the next; 0 when 1..last_zone is all
    int geographic;  // EPSG code of the datum's longitude and latitude
};
constexpr UtmDatum kDatums[] = {
    {"NAS", "NAD27", 22, 26701, 3370, 4267},
    {"NAX", "NAD83", 23, 26901, 3372, 4269},
    {"WGE", "WGS 84", 60, 32601, 0, 4326},
    {"WGC", "WGS 72", 60, 32201, 0, 4322},
};

std::string unknownDatum(std::string_view datum, std::string_view from) {
    // A native DEM's record A codes its datum as a number; XREF as three letters.
    const bool record_a = from == "record A";
    return std::string(from) + ": horizontal datum " + geo_detail::shownText(datum) +
           (record_a ? " is none of 1 (NAD27), 2 (WGS 72), 3 (WGS 84), 4 (NAD83)"
                     : " is none of NAS (NAD27), NAX (NAD83), WGE (WGS 84), WGC (WGS 72)");
}

}  // namespace

Result<int> epsgCode(std::string_view reference_system, std::string_view datum, int zone,
                     std::string_view from) {
    if (reference_system != "UTM") {
        return failure(std::string(from) + ": reference system " +
                       geo_detail::shownText(reference_system) +
                       " is not UTM, the only one marlwood can name");
    }
    for (const UtmDatum& d : kDatums) {
        if (d.code != datum) continue;
        if (zone >= 1 && zone <= d.last_zone) return d.zone_1 + zone - 1;
        if (d.zone_59 != 0 && (zone == 59 || zone == 60)) return d.zone_59 + zone - 59;
        return failure(std::string(from) + ": UTM zone " + std::to_string(zone) + " on " +
                       std::string(d.name) + " has no EPSG code (" + std::string(d.name) +
                       " has zones 1 to " + std::to_string(d.last_zone) +
                       (d.zone_59 != 0 ? ", 59 and 60)" : ")"));
    }
    return failure(unknownDatum(datum, from));
}

Result<int> statePlaneEpsg(int fips_zone, std::string_view datum, bool feet) {
    struct Zone {
        int fips;
        char datum, unit;
        int epsg;
    };
    static constexpr Zone kZones[] = {
#include "geo/state_plane_zones.inc"
    };
    const char wanted = datum == "NAS" ? '7' : datum == "NAX" ? '3' : 0;
    // US survey feet first: the foot of USGS's state plane DEMs.
    for (const char unit : feet ? std::string_view("fi") : std::string_view("m")) {
        for (const Zone& z : kZones) {
            if (z.fips == fips_zone && z.datum == wanted && z.unit == unit) return z.epsg;
        }
    }
    const std::string on = datum == "NAS" ? "NAD27" : datum == "NAX" ? "NAD83" : std::string(datum);
    return failure("no state plane system is known for zone " + std::to_string(fips_zone) + " on " +
                   on + " in " + (feet ? "feet" : "metres"));
}

Result<int> geographicEpsg(std::string_view datum, std::string_view from) {
    for (const UtmDatum& d : kDatums) {
        if (d.code == datum) return d.geographic;
    }
    return failure(unknownDatum(datum, from));
}

}  // namespace marlwood
