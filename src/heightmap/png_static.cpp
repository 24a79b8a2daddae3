// libpng linked in (the Windows build, from tools/windows-deps): the same table the Linux build
// fills when it loads the library, so the PNG writer is one code for both.
#include "heightmap/png_library.h"

namespace marlwood::png_detail {

Result<const PngLibrary*> pngLibrary() {
    static constexpr PngLibrary library{
        .create_write_struct = &::png_create_write_struct,
        .create_info_struct = &::png_create_info_struct,
        .destroy_write_struct = &::png_destroy_write_struct,
        .set_longjmp_fn = &::png_set_longjmp_fn,
        .longjmp = &::png_longjmp,
        .get_error_ptr = &::png_get_error_ptr,
        .get_io_ptr = &::png_get_io_ptr,
        .set_write_fn = &::png_set_write_fn,
        .set_ihdr = &::png_set_IHDR,
        .set_compression_level = &::png_set_compression_level,
        .set_compression_strategy = &::png_set_compression_strategy,
        .set_filter = &::png_set_filter,
        .write_info = &::png_write_info,
        .write_row = &::png_write_row,
        .write_end = &::png_write_end,
    };
    return &library;
}

}  // namespace marlwood::png_detail
