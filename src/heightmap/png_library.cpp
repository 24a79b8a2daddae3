#include "heightmap/png_library.h"

#include "platform/shared_library.h"

namespace marlwood::png_detail {

namespace {

Result<PngLibrary> loadLibrary() {
    // The runtime library of Debian's libpng16-16, whose headers this was built against.
    const Result<SharedLibrary> png =
        SharedLibrary::open("libpng16.so.16", "libpng16-16", "to write 16-bit PNG heightmaps with");
    if (!png) return png.error();
    PngLibrary l;
    if (!(png->load("png_create_write_struct", l.create_write_struct) &&
          png->load("png_create_info_struct", l.create_info_struct) &&
          png->load("png_destroy_write_struct", l.destroy_write_struct) &&
          png->load("png_set_longjmp_fn", l.set_longjmp_fn) &&
          png->load("png_longjmp", l.longjmp) && png->load("png_get_error_ptr", l.get_error_ptr) &&
          png->load("png_get_io_ptr", l.get_io_ptr) &&
          png->load("png_set_write_fn", l.set_write_fn) && png->load("png_set_IHDR", l.set_ihdr) &&
          png->load("png_set_compression_level", l.set_compression_level) &&
          png->load("png_set_compression_strategy", l.set_compression_strategy) &&
          png->load("png_set_filter", l.set_filter) && png->load("png_write_info", l.write_info) &&
          png->load("png_write_row", l.write_row) && png->load("png_write_end", l.write_end))) {
        return failure(png->lacksFunction());
    }
    return l;
}

}  // namespace

Result<const PngLibrary*> pngLibrary() {
    static const Result<PngLibrary> loaded = loadLibrary();  // thread-safe, once
    if (!loaded) return loaded.error();
    return &*loaded;
}

}  // namespace marlwood::png_detail
