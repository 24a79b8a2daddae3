#pragma once

#include <cstdint>
#include <vector>

namespace marlwood {

// The values of a GeoTIFF's GeoKeyDirectoryTag for a projected coordinate system named by its
// EPSG code, in metres, each cell an area whose outer corner the tie point gives: the header
// (directory version 1, key revision 1.0, the number of keys), then one entry a key (its id,
// location 0 as the value is in the entry, count 1, the value), ids ascending, as readers
// search the keys in that order. These few keys are all a reader needs to find the system.
std::vector<std::uint16_t> geoKeyDirectory(std::uint16_t epsg);

}  // namespace marlwood
