#pragma once

#include <tiffio.h>

#include <string>

#include "common/result.h"

namespace marlwood::tiff_detail {

// libtiff, loaded the first time a GeoTIFF is written. A .ter conversion never maps it: loading
// it adds about 2.6 MiB of resident memory and 4 ms, and a machine without it still writes .ter
// files. The GeoTIFF tags are written through libtiff itself (tiff/geo_keys.h): libgeotiff would
// bring PROJ, SQLite and some 40 more libraries, about 11 MiB and 19 ms a process.
struct TiffLibrary {
    decltype(&::TIFFOpenOptionsAlloc) options_alloc = nullptr;
    decltype(&::TIFFOpenOptionsFree) options_free = nullptr;
    decltype(&::TIFFOpenOptionsSetErrorHandlerExtR) options_error_handler = nullptr;
    decltype(&::TIFFOpenOptionsSetWarningHandlerExtR) options_warning_handler = nullptr;
    decltype(&::TIFFClientOpenExt) client_open = nullptr;
    decltype(&::TIFFMergeFieldInfo) merge_field_info = nullptr;
    decltype(&::TIFFSetField) set_field = nullptr;
    decltype(&::TIFFWriteRawStrip) write_raw_strip = nullptr;
    decltype(&::TIFFFlush) flush = nullptr;
    decltype(&::TIFFClose) close = nullptr;
};

// The loaded library, or null when it cannot be had; `problem` then says why.
Result<const TiffLibrary*> tiffLibrary();

}  // namespace marlwood::tiff_detail
