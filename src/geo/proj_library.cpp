#include "geo/proj_library.h"

#include "platform/shared_library.h"

namespace marlwood::geo_detail {

Result<const ProjLibrary*> projLibrary() {
    // The runtime library of Debian's libproj25, whose header this was built against.
    return libraryFunctions<ProjLibrary>(
        {"libproj.so.25", "libproj25", "to place a crop with"},
        [](const SharedLibrary& so, ProjLibrary& l) {
            return so.load("proj_context_create", l.context_create) &&
                   so.load("proj_context_destroy", l.context_destroy) &&
                   so.load("proj_log_level", l.log_level) &&
                   so.load("proj_create_crs_to_crs", l.create_crs_to_crs) &&
                   so.load("proj_normalize_for_visualization", l.normalize_for_visualization) &&
                   so.load("proj_destroy", l.destroy) &&
                   so.load("proj_trans_generic", l.trans_generic) &&
                   so.load("proj_context_errno", l.context_errno) &&
                   so.load("proj_context_errno_string", l.context_errno_string);
        });
}

}  // namespace marlwood::geo_detail
