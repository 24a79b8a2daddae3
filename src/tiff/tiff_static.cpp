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
        .options_max_alloc = &::TIFFOpenOptionsSetMaxSingleMemAlloc,
        .get_field = &::TIFFGetField,
        .find_field = &::TIFFFindField,
        .field_data_type = &::TIFFFieldDataType,
        .field_pass_count = &::TIFFFieldPassCount,
        .field_read_count = &::TIFFFieldReadCount,
        .is_tiled = &::TIFFIsTiled,
        .is_byte_swapped = &::TIFFIsByteSwapped,
        .is_codec_configured = &::TIFFIsCODECConfigured,
        .number_of_tiles = &::TIFFNumberOfTiles,
        .number_of_strips = &::TIFFNumberOfStrips,
        .strile_offset = &::TIFFGetStrileOffsetWithErr,
        .strile_byte_count = &::TIFFGetStrileByteCountWithErr,
        .read_raw_tile = &::TIFFReadRawTile,
        .read_raw_strip = &::TIFFReadRawStrip,
        .read_encoded_tile = &::TIFFReadEncodedTile,
        .read_encoded_strip = &::TIFFReadEncodedStrip,
        .read_directory = &::TIFFReadDirectory,
        .set_directory = &::TIFFSetDirectory,
    };
    return &library;
}

}  // namespace marlwood::tiff_detail
