#include "tiff/tiff_library.h"

#include "platform/shared_library.h"

namespace marlwood::tiff_detail {

namespace {

Result<TiffLibrary> loadLibrary() {
    // The runtime library of Debian's libtiff6, whose headers this was built against.
    const Result<SharedLibrary> tiff =
        SharedLibrary::open("libtiff.so.6", "libtiff6", "to write GeoTIFF with");
    if (!tiff) return tiff.error();
    TiffLibrary l;
    if (!(tiff->load("TIFFOpenOptionsAlloc", l.options_alloc) &&
          tiff->load("TIFFOpenOptionsFree", l.options_free) &&
          tiff->load("TIFFOpenOptionsSetErrorHandlerExtR", l.options_error_handler) &&
          tiff->load("TIFFOpenOptionsSetWarningHandlerExtR", l.options_warning_handler) &&
          tiff->load("TIFFClientOpenExt", l.client_open) &&
          tiff->load("TIFFMergeFieldInfo", l.merge_field_info) &&
          tiff->load("TIFFSetField", l.set_field) &&
          tiff->load("TIFFWriteEncodedTile", l.write_encoded_tile) &&
          tiff->load("TIFFFlush", l.flush) && tiff->load("TIFFClose", l.close))) {
        return failure(tiff->lacksFunction());
    }
    return l;
}

}  // namespace

Result<const TiffLibrary*> tiffLibrary() {
    static const Result<TiffLibrary> loaded = loadLibrary();  // thread-safe, once
    if (!loaded) return loaded.error();
    return &*loaded;
}

}  // namespace marlwood::tiff_detail
