#pragma once

#include <png.h>

#include "common/result.h"

namespace marlwood::png_detail {

// libpng, loaded the first time a 16-bit PNG is written, as libtiff is for GeoTIFF: a .ter
// conversion never maps it, and a machine without it still writes every other format.
struct PngLibrary {
    decltype(&::png_create_write_struct) create_write_struct = nullptr;
    decltype(&::png_create_info_struct) create_info_struct = nullptr;
    decltype(&::png_destroy_write_struct) destroy_write_struct = nullptr;
    decltype(&::png_set_longjmp_fn) set_longjmp_fn = nullptr;
    decltype(&::png_longjmp) longjmp = nullptr;
    decltype(&::png_get_error_ptr) get_error_ptr = nullptr;
    decltype(&::png_get_io_ptr) get_io_ptr = nullptr;
    decltype(&::png_set_write_fn) set_write_fn = nullptr;
    decltype(&::png_set_IHDR) set_ihdr = nullptr;
    decltype(&::png_set_compression_level) set_compression_level = nullptr;
    decltype(&::png_set_compression_strategy) set_compression_strategy = nullptr;
    decltype(&::png_set_filter) set_filter = nullptr;
    decltype(&::png_write_info) write_info = nullptr;
    decltype(&::png_write_row) write_row = nullptr;
    decltype(&::png_write_end) write_end = nullptr;
};

// The loaded library, or the Error that says why it cannot be had.
Result<const PngLibrary*> pngLibrary();

}  // namespace marlwood::png_detail
