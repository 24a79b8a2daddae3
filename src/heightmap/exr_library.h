#pragma once

#include <tinyexr.h>

#include "common/result.h"

namespace marlwood::exr_detail {

// tinyexr's writing functions: Debian's libtinyexr1d loaded the first time an EXR is written, as
// libpng is for a PNG, or its header's own code compiled in (the Windows build).
struct ExrLibrary {
    decltype(&::InitEXRHeader) init_header = nullptr;
    decltype(&::InitEXRImage) init_image = nullptr;
    decltype(&::SaveEXRImageToMemory) save_to_memory = nullptr;
    decltype(&::FreeEXRErrorMessage) free_error = nullptr;
};

// The loaded library, or the Error that says why it cannot be had.
Result<const ExrLibrary*> exrLibrary();

}  // namespace marlwood::exr_detail
