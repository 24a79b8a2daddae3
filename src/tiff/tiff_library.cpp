#include "tiff/tiff_library.h"

#include "platform/shared_library.h"

namespace marlwood::tiff_detail {

namespace {

Result<TiffLibrary> loadLibraries() {
    // The runtime libraries of Debian's libtiff6 and libgeotiff5, whose headers this was built
    // against. libgeotiff needs libtiff itself, so both handles share one libtiff.
    const Result<SharedLibrary> tiff =
        SharedLibrary::open("libtiff.so.6", "libtiff6", "to write GeoTIFF with");
    if (!tiff) return tiff.error();
    const Result<SharedLibrary> geotiff =
        SharedLibrary::open("libgeotiff.so.5", "libgeotiff5", "to write GeoTIFF with");
    if (!geotiff) return geotiff.error();
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
    if (!(geotiff->load("XTIFFInitialize", l.xtiff_initialize) &&
          geotiff->load("GTIFNewEx", l.gtif_new) && geotiff->load("GTIFKeySet", l.gtif_key_set) &&
          geotiff->load("GTIFWriteKeys", l.gtif_write_keys) &&
          geotiff->load("GTIFFree", l.gtif_free) &&
          geotiff->load("GTIFGetUserData", l.gtif_user_data))) {
        return failure(geotiff->lacksFunction());
    }
    // Teaches libtiff the GeoTIFF tags, for every file opened from now on; once, here, because
    // it installs a process-wide tag extender.
    l.xtiff_initialize();
    return l;
}

}  // namespace

Result<const TiffLibrary*> tiffLibrary() {
    static const Result<TiffLibrary> loaded = loadLibraries();  // thread-safe, once
    if (!loaded) return loaded.error();
    return &*loaded;
}

}  // namespace marlwood::tiff_detail
