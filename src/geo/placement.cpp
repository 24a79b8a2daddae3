#include "geo/placement.h"

#include <cmath>
#include <optional>

#include "geo/crs.h"
#include "geo/shown_text.h"

namespace marlwood {

Result<GeoTransform> cellGeotransform(const Georeference& g) {
    // A hostile IREF or RSDF may say 1e999; no file should record an infinite corner.
    for (const double v : {g.sfax, g.sfay, g.xorg, g.yorg, g.xhrs, g.yhrs, g.sadr_x, g.sadr_y}) {
        if (!std::isfinite(v)) return failure("IREF or RSDF: a coordinate that is not finite");
    }
    if (!(g.xhrs > 0 && g.yhrs > 0)) return failure("IREF: a posting that is not positive");
    if (g.scan_origin != "TL") {
        return failure("RSDF: the first cell is not the top-left one (SCOR " +
                       geo_detail::shownText(g.scan_origin) +
                       "), so the grid cannot be placed north up");
    }
    const std::optional<GroundPoint> corner = g.topLeftCorner();
    if (!corner) {
        return failure("LDEF: INTR " + geo_detail::shownText(g.sadr_meaning) +
                       " is neither a cell centre (CE) nor a corner (TL, TR, BL, BR)");
    }
    if (!std::isfinite(corner->x) || !std::isfinite(corner->y)) {
        return failure("IREF or RSDF: a coordinate that is not finite");
    }
    return GeoTransform{corner->x, g.xhrs, 0, corner->y, 0, -g.yhrs};
}

Result<GridPlacement> placeGrid(const Georeference& georeference) {
    const Result<int> epsg =
        epsgCode(georeference.rsnm, georeference.hdat, georeference.zone, georeference.crs_from);
    if (!epsg) return epsg.error();
    const Result<GeoTransform> geotransform = cellGeotransform(georeference);
    if (!geotransform) return geotransform.error();
    return GridPlacement{*epsg, *geotransform};
}

}  // namespace marlwood
