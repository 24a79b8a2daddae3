// libtiff linked in (the Windows build, from tools/windows-deps): the same table the Linux build
// fills when it loads the library, so the GeoTIFF writer is one code for both.
#include "tiff/tiff_library.h"

namespace marlwood::tiff_detail {

Result<const TiffLibrary*> tiffLibrary() {
    static constexpr TiffLibrary library{
        .options_alloc = &::TIFFOpenOptionsAlloc,
        .options_free = &::TIFFOpenOptionsFree,
        .options_error_handler = &::TIFFOpenOptionsSetErrorHandlerExtR,
        .options_warning_handler = &::TIFFOpenOptionsSetWarningHandlerExtR,
        .client_open = &::TIFFClientOpenExt,
        .merge_field_info = &::TIFFMergeFieldInfo,
        .set_field = &::TIFFSetField,
        .write_raw_strip = &::TIFFWriteRawStrip,
        .flush = &::TIFFFlush,
        .close = &::TIFFClose,
    };
    return &library;
}

}  // namespace marlwood::tiff_detail
