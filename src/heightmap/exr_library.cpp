#include "heightmap/exr_library.h"

#include "platform/shared_library.h"

namespace marlwood::exr_detail {

Result<const ExrLibrary*> exrLibrary() {
    // The runtime library of Debian's libtinyexr-dev, whose header this was built against.
    return libraryFunctions<ExrLibrary>(
        {"libtinyexr.so.1d", "libtinyexr1d", "to write EXR heightmaps with"},
        [](const SharedLibrary& so, ExrLibrary& l) {
            return so.load("InitEXRHeader", l.init_header) &&
                   so.load("InitEXRImage", l.init_image) &&
                   so.load("SaveEXRImageToMemory", l.save_to_memory) &&
                   so.load("FreeEXRErrorMessage", l.free_error);
        });
}

}  // namespace marlwood::exr_detail
