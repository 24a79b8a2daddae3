#pragma once

#include <geotiffio.h>
#include <tiffio.h>
#include <xtiffio.h>

#include <string>

#include "common/result.h"

namespace marlwood::tiff_detail {

// libtiff and libgeotiff, loaded the first time a GeoTIFF is written. A .ter conversion never
// maps them: loading them adds about 11 MB of resident memory (libtiff 2.5 MB; libgeotiff 8.4 MB
// with the PROJ, SQLite and C++ runtime it needs), more than the whole grid of a 10 m quad, and
// their start-up time. A machine without them still writes .ter files.
struct TiffLibrary {
    decltype(&::TIFFOpenOptionsAlloc) options_alloc = nullptr;
    decltype(&::TIFFOpenOptionsFree) options_free = nullptr;
    decltype(&::TIFFOpenOptionsSetErrorHandlerExtR) options_error_handler = nullptr;
    decltype(&::TIFFOpenOptionsSetWarningHandlerExtR) options_warning_handler = nullptr;
    decltype(&::TIFFClientOpenExt) client_open = nullptr;
    decltype(&::TIFFMergeFieldInfo) merge_field_info = nullptr;
    decltype(&::TIFFSetField) set_field = nullptr;
    decltype(&::TIFFWriteEncodedTile) write_encoded_tile = nullptr;
    decltype(&::TIFFFlush) flush = nullptr;
    decltype(&::TIFFClose) close = nullptr;
    decltype(&::XTIFFInitialize) xtiff_initialize = nullptr;
    decltype(&::GTIFNewEx) gtif_new = nullptr;
    decltype(&::GTIFKeySet) gtif_key_set = nullptr;
    decltype(&::GTIFWriteKeys) gtif_write_keys = nullptr;
    decltype(&::GTIFFree) gtif_free = nullptr;
    decltype(&::GTIFGetUserData) gtif_user_data = nullptr;
};

// The loaded libraries, or null when they cannot be had; `problem` then says why.
Result<const TiffLibrary*> tiffLibrary();

}  // namespace marlwood::tiff_detail
