// A build without libpng (a Windows build made without it in tools/windows-deps): 16-bit PNG
// heightmaps are refused with a line that says why; the raw formats still write.
#include "heightmap/heightmap_writer.h"

namespace marlwood {

Status writePng16(const std::string& path, std::int32_t, std::int32_t, const HeightmapRowSource&,
                  FileSet*) {
    return failure("no PNG " + path +
                   ": 16-bit PNG heightmaps need libpng, which this build of "
                   "marlwood lacks (use --format r16 or unity)");
}

}  // namespace marlwood
