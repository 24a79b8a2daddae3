#include "geo/proj_library.h"

#include "platform/shared_library.h"

namespace marlwood::geo_detail {

namespace {

Result<ProjLibrary> loadLibrary() {
    // The runtime library of Debian's libproj25, whose header this was built against.
    const Result<SharedLibrary> so =
        SharedLibrary::open("libproj.so.25", "libproj25", "to place a crop with");
    if (!so) return so.error();
    ProjLibrary l;
    const bool all = so->load("proj_context_create", l.context_create) &&
                     so->load("proj_context_destroy", l.context_destroy) &&
                     so->load("proj_log_level", l.log_level) &&
                     so->load("proj_create_crs_to_crs", l.create_crs_to_crs) &&
                     so->load("proj_normalize_for_visualization", l.normalize_for_visualization) &&
                     so->load("proj_destroy", l.destroy) &&
                     so->load("proj_trans_generic", l.trans_generic) &&
                     so->load("proj_context_errno", l.context_errno) &&
                     so->load("proj_context_errno_string", l.context_errno_string);
    if (!all) return failure(so->lacksFunction());
    return l;
}

}  // namespace

Result<const ProjLibrary*> projLibrary() {
    static const Result<ProjLibrary> loaded = loadLibrary();  // thread-safe, once
    if (!loaded) return loaded.error();
    return &*loaded;
}

}  // namespace marlwood::geo_detail
