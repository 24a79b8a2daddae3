#include "tiff/tiff_library.h"

#include "platform/shared_library.h"

namespace marlwood::tiff_detail {

Result<const TiffLibrary*> tiffLibrary() {
    // The runtime library of Debian's libtiff6, whose headers this was built against.
    return libraryFunctions<TiffLibrary>(
        {"libtiff.so.6", "libtiff6", "to read and write GeoTIFF with"},
        [](const SharedLibrary& so, TiffLibrary& l) {
            return so.load("TIFFOpenOptionsAlloc", l.options_alloc) &&
                   so.load("TIFFOpenOptionsFree", l.options_free) &&
                   so.load("TIFFOpenOptionsSetErrorHandlerExtR", l.options_error_handler) &&
                   so.load("TIFFOpenOptionsSetWarningHandlerExtR", l.options_warning_handler) &&
                   so.load("TIFFClientOpenExt", l.client_open) &&
                   so.load("TIFFMergeFieldInfo", l.merge_field_info) &&
                   so.load("TIFFSetField", l.set_field) &&
                   so.load("TIFFWriteRawStrip", l.write_raw_strip) &&
                   so.load("TIFFFlush", l.flush) && so.load("TIFFClose", l.close) &&
                   so.load("TIFFOpenOptionsSetMaxSingleMemAlloc", l.options_max_alloc) &&
                   so.load("TIFFGetField", l.get_field) && so.load("TIFFFindField", l.find_field) &&
                   so.load("TIFFFieldDataType", l.field_data_type) &&
                   so.load("TIFFFieldPassCount", l.field_pass_count) &&
                   so.load("TIFFFieldReadCount", l.field_read_count) &&
                   so.load("TIFFIsTiled", l.is_tiled) &&
                   so.load("TIFFIsByteSwapped", l.is_byte_swapped) &&
                   so.load("TIFFIsCODECConfigured", l.is_codec_configured) &&
                   so.load("TIFFNumberOfTiles", l.number_of_tiles) &&
                   so.load("TIFFNumberOfStrips", l.number_of_strips) &&
                   so.load("TIFFGetStrileOffsetWithErr", l.strile_offset) &&
                   so.load("TIFFGetStrileByteCountWithErr", l.strile_byte_count) &&
                   so.load("TIFFReadRawTile", l.read_raw_tile) &&
                   so.load("TIFFReadRawStrip", l.read_raw_strip) &&
                   so.load("TIFFReadEncodedTile", l.read_encoded_tile) &&
                   so.load("TIFFReadEncodedStrip", l.read_encoded_strip) &&
                   so.load("TIFFReadDirectory", l.read_directory) &&
                   so.load("TIFFSetDirectory", l.set_directory);
        });
}

}  // namespace marlwood::tiff_detail
