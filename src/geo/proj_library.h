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
    // Where grids and proj.db are found, and which transformation an area takes.
    decltype(&::proj_context_set_search_paths) context_set_search_paths = nullptr;
    decltype(&::proj_context_set_enable_network) context_set_enable_network = nullptr;
    decltype(&::proj_context_get_database_path) context_get_database_path = nullptr;
    decltype(&::proj_create) create = nullptr;
    decltype(&::proj_get_name) get_name = nullptr;
    decltype(&::proj_create_operation_factory_context) create_operation_factory_context = nullptr;
    decltype(&::proj_operation_factory_context_destroy) operation_factory_context_destroy = nullptr;
    decltype(&::proj_operation_factory_context_set_area_of_interest)
        operation_factory_context_set_area_of_interest = nullptr;
    decltype(&::proj_operation_factory_context_set_spatial_criterion)
        operation_factory_context_set_spatial_criterion = nullptr;
    decltype(&::proj_operation_factory_context_set_grid_availability_use)
        operation_factory_context_set_grid_availability_use = nullptr;
    decltype(&::proj_create_operations) create_operations = nullptr;
    decltype(&::proj_list_get_count) list_get_count = nullptr;
    decltype(&::proj_list_get) list_get = nullptr;
    decltype(&::proj_list_destroy) list_destroy = nullptr;
    decltype(&::proj_coordoperation_get_grid_used_count) coordoperation_get_grid_used_count =
        nullptr;
    decltype(&::proj_coordoperation_get_grid_used) coordoperation_get_grid_used = nullptr;
};

// The loaded library, or null when it cannot be had; `problem` then says why.
Result<const ProjLibrary*> projLibrary();

}  // namespace marlwood::geo_detail
