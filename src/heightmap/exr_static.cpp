// tinyexr compiled in (the Windows build): its header carries its code, which deflates with the
// zlib the Windows libraries already link; the same table the Linux build fills when it loads
// Debian's library, so the EXR writer is one code for both.
#define TINYEXR_IMPLEMENTATION
#include "heightmap/exr_library.h"

namespace marlwood::exr_detail {

Result<const ExrLibrary*> exrLibrary() {
    static constexpr ExrLibrary library{
        .init_header = &::InitEXRHeader,
        .init_image = &::InitEXRImage,
        .save_to_memory = &::SaveEXRImageToMemory,
        .free_error = &::FreeEXRErrorMessage,
    };
    return &library;
}

}  // namespace marlwood::exr_detail
