#pragma once

#include <proj.h>

#include <string>

#include "common/result.h"

namespace marlwood::geo_detail {

// PROJ, loaded the first time a crop is placed. A plain conversion never maps it: libproj and the
// SQLite, libtiff and curl it needs add megabytes of resident memory and their start-up time,
// and a machine without it still converts.
struct ProjLibrary {
    decltype(&::proj_context_create) context_create = nullptr;
    decltype(&::proj_context_destroy) context_destroy = nullptr;
    decltype(&::proj_log_level) log_level = nullptr;
    decltype(&::proj_create_crs_to_crs) create_crs_to_crs = nullptr;
    decltype(&::proj_normalize_for_visualization) normalize_for_visualization = nullptr;
    decltype(&::proj_destroy) destroy = nullptr;
    decltype(&::proj_trans_generic) trans_generic = nullptr;
    decltype(&::proj_context_errno) context_errno = nullptr;
    decltype(&::proj_context_errno_string) context_errno_string = nullptr;
};

// The loaded library, or null when it cannot be had; `problem` then says why.
Result<const ProjLibrary*> projLibrary();

}  // namespace marlwood::geo_detail
