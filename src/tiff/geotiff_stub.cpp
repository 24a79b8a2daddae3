// The build without libtiff and libgeotiff (the Windows build): GeoTIFF output is refused with a
// line that says where it can be had.
#include "tiff/geotiff_writer.h"

namespace marlwood {

Status writeGeoTiff(const std::string&, std::int32_t, std::int32_t, const GridPlacement&,
                    const GeoTiffRowSource&) {
    return failure("GeoTIFF output needs the Linux build of marlwood (this one has no libtiff)");
}

}  // namespace marlwood
