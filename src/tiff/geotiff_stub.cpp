// A build without libtiff (a Windows build made without tools/windows-deps): GeoTIFF output is
// refused with a line that says why.
#include "tiff/geotiff_writer.h"

namespace marlwood {

Status writeGeoTiff(const std::string&, std::int32_t, std::int32_t, const GridPlacement&,
                    const GeoTiffRowSource&) {
    return failure("GeoTIFF output needs libtiff, which this build of marlwood lacks");
}

}  // namespace marlwood
