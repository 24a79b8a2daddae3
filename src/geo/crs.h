#pragma once

#include <string_view>

#include "common/result.h"

namespace marlwood {

// The EPSG code of the projected coordinate system XREF names: reference system RSNM (only "UTM"
// is known), horizontal datum HDAT as USGS codes it (NAS NAD27, NAX NAD83, WGE WGS 84, WGC
// WGS 72) and zone (northern hemisphere). An Error in one line for anything else, or for a zone
// that EPSG does not define on that datum.
// `from` names what gave them in the Error ("XREF", or "record A" for a native DEM).
Result<int> epsgCode(std::string_view reference_system, std::string_view datum, int zone,
                     std::string_view from = "XREF");

}  // namespace marlwood
