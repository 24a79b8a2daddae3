// A build without tinyexr's header: EXR heightmaps are refused with a line that says why; the
// other formats still write.
#include "heightmap/heightmap_writer.h"

namespace marlwood {

Status writeExr32(const std::string& path, std::int32_t, std::int32_t, const FloatRowSource&,
                  FileSet*) {
    return failure("no EXR " + path +
                   ": EXR heightmaps need tinyexr, which this build of marlwood lacks (use "
                   "--format tif for Float32 metres)");
}

}  // namespace marlwood
