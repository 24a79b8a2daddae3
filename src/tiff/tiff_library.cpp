#include "tiff/tiff_library.h"

#include <dlfcn.h>

namespace marlwood::tiff_detail {

namespace {

// The runtime libraries of Debian's libtiff6 and libgeotiff5, whose headers this was built
// against. libgeotiff needs libtiff itself, so both handles share one libtiff.
constexpr char kTiffName[] = "libtiff.so.6";
constexpr char kGeoTiffName[] = "libgeotiff.so.5";

template <typename Function>
bool load(void* handle, const char* name, Function& to) {
    to = reinterpret_cast<Function>(dlsym(handle, name));
    return to != nullptr;
}

struct Loaded {
    TiffLibrary library;
    bool ok = false;
    std::string problem;
};

Loaded loadLibraries() {
    Loaded loaded;
    // The handles stay open for the life of the process: the functions are used until its end.
    void* tiff = dlopen(kTiffName, RTLD_NOW | RTLD_LOCAL);
    void* geotiff = tiff == nullptr ? nullptr : dlopen(kGeoTiffName, RTLD_NOW | RTLD_LOCAL);
    if (geotiff == nullptr) {
        loaded.problem = std::string("this machine has no ") + (tiff ? kGeoTiffName : kTiffName) +
                         (tiff ? " (Debian package libgeotiff5)" : " (Debian package libtiff6)") +
                         " to write GeoTIFF with";
        return loaded;
    }
    TiffLibrary& l = loaded.library;
    loaded.ok = load(tiff, "TIFFOpenOptionsAlloc", l.options_alloc) &&
                load(tiff, "TIFFOpenOptionsFree", l.options_free) &&
                load(tiff, "TIFFOpenOptionsSetErrorHandlerExtR", l.options_error_handler) &&
                load(tiff, "TIFFOpenOptionsSetWarningHandlerExtR", l.options_warning_handler) &&
                load(tiff, "TIFFClientOpenExt", l.client_open) &&
                load(tiff, "TIFFMergeFieldInfo", l.merge_field_info) &&
                load(tiff, "TIFFSetField", l.set_field) &&
                load(tiff, "TIFFWriteEncodedTile", l.write_encoded_tile) &&
                load(tiff, "TIFFFlush", l.flush) && load(tiff, "TIFFClose", l.close) &&
                load(geotiff, "XTIFFInitialize", l.xtiff_initialize) &&
                load(geotiff, "GTIFNewEx", l.gtif_new) &&
                load(geotiff, "GTIFKeySet", l.gtif_key_set) &&
                load(geotiff, "GTIFWriteKeys", l.gtif_write_keys) &&
                load(geotiff, "GTIFFree", l.gtif_free) &&
                load(geotiff, "GTIFGetUserData", l.gtif_user_data);
    if (!loaded.ok) {
        loaded.problem =
            std::string(kTiffName) + " or " + kGeoTiffName + " lacks a function it should have";
        return loaded;
    }
    // Teaches libtiff the GeoTIFF tags, for every file opened from now on; once, here, because
    // it installs a process-wide tag extender.
    l.xtiff_initialize();
    return loaded;
}

}  // namespace

Result<const TiffLibrary*> tiffLibrary() {
    static const Loaded loaded = loadLibraries();  // thread-safe, once
    if (!loaded.ok) return failure(loaded.problem);
    return &loaded.library;
}

}  // namespace marlwood::tiff_detail
