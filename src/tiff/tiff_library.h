#pragma once

#include <tiffio.h>

#include <string>

#include "common/result.h"

namespace marlwood::tiff_detail {

// libtiff, loaded the first time a GeoTIFF is written or read. A .ter conversion never maps it:
// loading it adds about 2.6 MiB of resident memory and 4 ms, and a machine without it still writes
// .ter files. The GeoTIFF tags are written through libtiff itself (tiff/geo_keys.h): libgeotiff
// would bring PROJ, SQLite and some 40 more libraries, about 11 MiB and 19 ms a process.
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
    // The reader's.
    decltype(&::TIFFOpenOptionsSetMaxSingleMemAlloc) options_max_alloc = nullptr;
    decltype(&::TIFFGetField) get_field = nullptr;
    decltype(&::TIFFFindField) find_field = nullptr;
    decltype(&::TIFFFieldDataType) field_data_type = nullptr;
    decltype(&::TIFFFieldPassCount) field_pass_count = nullptr;
    decltype(&::TIFFFieldReadCount) field_read_count = nullptr;
    decltype(&::TIFFIsTiled) is_tiled = nullptr;
    decltype(&::TIFFIsByteSwapped) is_byte_swapped = nullptr;
    decltype(&::TIFFIsCODECConfigured) is_codec_configured = nullptr;
    decltype(&::TIFFNumberOfTiles) number_of_tiles = nullptr;
    decltype(&::TIFFNumberOfStrips) number_of_strips = nullptr;
    decltype(&::TIFFGetStrileOffsetWithErr) strile_offset = nullptr;
    decltype(&::TIFFGetStrileByteCountWithErr) strile_byte_count = nullptr;
    decltype(&::TIFFReadRawTile) read_raw_tile = nullptr;
    decltype(&::TIFFReadRawStrip) read_raw_strip = nullptr;
    decltype(&::TIFFReadEncodedTile) read_encoded_tile = nullptr;
    decltype(&::TIFFReadEncodedStrip) read_encoded_strip = nullptr;
    decltype(&::TIFFReadDirectory) read_directory = nullptr;
    decltype(&::TIFFSetDirectory) set_directory = nullptr;
};

// The loaded library, or null when it cannot be had; `problem` then says why.
Result<const TiffLibrary*> tiffLibrary();

}  // namespace marlwood::tiff_detail
