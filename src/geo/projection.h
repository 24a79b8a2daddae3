#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "sdts/georeference.h"

namespace marlwood {

// A point in degrees on a geographic coordinate system.
struct Degrees {
    double longitude = 0;
    double latitude = 0;
};

// The EPSG code of the geographic coordinate system of the datum XREF's HDAT names: NAS NAD27
// 4267, NAX NAD83 4269, WGE WGS 84 4326, WGC WGS 72 4322. An Error in one line for another.
Result<int> geographicEpsg(std::string_view datum);

// `points` in degrees on EPSG `geographic`, projected by PROJ into EPSG `projected` (metres).
// PROJ is loaded on the first call; a plain conversion never maps it. An Error in one line when
// PROJ is missing, does not know the codes or cannot project a point. The Windows build refuses.
Result<std::vector<GroundPoint>> projectDegrees(int geographic, int projected,
                                                std::span<const Degrees> points);

}  // namespace marlwood
