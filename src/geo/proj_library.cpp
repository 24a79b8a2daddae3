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
                   so.load("proj_context_errno_string", l.context_errno_string) &&
                   so.load("proj_context_set_search_paths", l.context_set_search_paths) &&
                   so.load("proj_context_set_enable_network", l.context_set_enable_network) &&
                   so.load("proj_context_get_database_path", l.context_get_database_path) &&
                   so.load("proj_create", l.create) && so.load("proj_get_name", l.get_name) &&
                   so.load("proj_create_operation_factory_context",
                           l.create_operation_factory_context) &&
                   so.load("proj_operation_factory_context_destroy",
                           l.operation_factory_context_destroy) &&
                   so.load("proj_operation_factory_context_set_area_of_interest",
                           l.operation_factory_context_set_area_of_interest) &&
                   so.load("proj_operation_factory_context_set_spatial_criterion",
                           l.operation_factory_context_set_spatial_criterion) &&
                   so.load("proj_operation_factory_context_set_grid_availability_use",
                           l.operation_factory_context_set_grid_availability_use) &&
                   so.load("proj_create_operations", l.create_operations) &&
                   so.load("proj_list_get_count", l.list_get_count) &&
                   so.load("proj_list_get", l.list_get) &&
                   so.load("proj_list_destroy", l.list_destroy) &&
                   so.load("proj_coordoperation_get_grid_used_count",
                           l.coordoperation_get_grid_used_count) &&
                   so.load("proj_coordoperation_get_grid_used", l.coordoperation_get_grid_used);
        });
}

}  // namespace marlwood::geo_detail
