#pragma once

#include "pipeline/reader.h"

// The reader row of GeoTIFF DEMs (.tif, .tiff): USGS 3DEP tiles and whatever GDAL writes.
namespace marlwood {

InputFormat geoTiffFormat();

// The posting a grid in degrees is laid onto: 30 m an arc-second (1" 30 m, 1/3" 10 m, 1/9" 3 m),
// to the nearest metre and at least 1 m.
double postingForDegrees(double degrees);

}  // namespace marlwood
