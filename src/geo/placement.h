#pragma once

#include "common/grid_placement.h"
#include "common/result.h"
#include "sdts/georeference.h"

namespace marlwood {

// The geotransform of the grid's cells: the outer top-left corner from RSDF's first cell address
// (a centre or a corner, as LDEF's INTR says) and IREF's posting. An Error in one line when the
// grid does not start at its top-left cell, INTR is unknown or a number is not finite.
Result<GeoTransform> cellGeotransform(const Georeference& georeference);

// Both: the EPSG code from XREF (see geo/crs.h) and the geotransform.
Result<GridPlacement> placeGrid(const Georeference& georeference);

}  // namespace marlwood
