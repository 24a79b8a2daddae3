#include "heightmap/png_library.h"

#include "platform/shared_library.h"

namespace marlwood::png_detail {

Result<const PngLibrary*> pngLibrary() {
    // The runtime library of Debian's libpng16-16, whose headers this was built against.
    return libraryFunctions<PngLibrary>(
        {"libpng16.so.16", "libpng16-16", "to write 16-bit PNG heightmaps with"},
        [](const SharedLibrary& so, PngLibrary& l) {
            return so.load("png_create_write_struct", l.create_write_struct) &&
                   so.load("png_create_info_struct", l.create_info_struct) &&
                   so.load("png_destroy_write_struct", l.destroy_write_struct) &&
                   so.load("png_set_longjmp_fn", l.set_longjmp_fn) &&
                   so.load("png_longjmp", l.longjmp) &&
                   so.load("png_get_error_ptr", l.get_error_ptr) &&
                   so.load("png_get_io_ptr", l.get_io_ptr) &&
                   so.load("png_set_write_fn", l.set_write_fn) &&
                   so.load("png_set_IHDR", l.set_ihdr) &&
                   so.load("png_set_compression_level", l.set_compression_level) &&
                   so.load("png_set_compression_strategy", l.set_compression_strategy) &&
                   so.load("png_set_filter", l.set_filter) &&
                   so.load("png_write_info", l.write_info) &&
                   so.load("png_write_row", l.write_row) && so.load("png_write_end", l.write_end);
        });
}

}  // namespace marlwood::png_detail
