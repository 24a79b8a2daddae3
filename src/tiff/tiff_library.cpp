#include "tiff/tiff_library.h"

#include "platform/shared_library.h"

namespace marlwood::tiff_detail {

Result<const TiffLibrary*> tiffLibrary() {
    // The runtime library of Debian's libtiff6, whose headers this was built against.
    return libraryFunctions<TiffLibrary>(
        {"libtiff.so.6", "libtiff6", "to write GeoTIFF with"},
        [](const SharedLibrary& so, TiffLibrary& l) {
            return so.load("TIFFOpenOptionsAlloc", l.options_alloc) &&
                   so.load("TIFFOpenOptionsFree", l.options_free) &&
                   so.load("TIFFOpenOptionsSetErrorHandlerExtR", l.options_error_handler) &&
                   so.load("TIFFOpenOptionsSetWarningHandlerExtR", l.options_warning_handler) &&
                   so.load("TIFFClientOpenExt", l.client_open) &&
                   so.load("TIFFMergeFieldInfo", l.merge_field_info) &&
                   so.load("TIFFSetField", l.set_field) &&
                   so.load("TIFFWriteRawStrip", l.write_raw_strip) &&
                   so.load("TIFFFlush", l.flush) && so.load("TIFFClose", l.close);
        });
}

}  // namespace marlwood::tiff_detail
