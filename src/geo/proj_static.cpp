// PROJ linked in (the Windows build, from tools/windows-deps): the same table the Linux build fills
// when it loads the library, so projections are one code for both.
#include <filesystem>
#include <string>

#include "geo/proj_library.h"
#include "platform/platform.h"

namespace marlwood::geo_detail {

namespace {

Result<ProjLibrary> linkedLibrary() {
    // proj.db travels beside marlwood.exe. PROJ would otherwise look in the folder it was built
    // for, the user's folders and the current directory, and could find another version's
    // database or none; set on the default context, the one path is inherited by every context
    // created later, and PROJ looks nowhere else.
    const std::string folder = executableFolder();
    const std::filesystem::path database =
        std::filesystem::path(std::u8string(folder.begin(), folder.end())) / "proj.db";
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_regular_file(database, error)) {
        return failure("PROJ's database proj.db is not beside marlwood.exe" +
                       (folder.empty() ? std::string() : " (in " + folder + ")") +
                       ": it comes in marlwood's zip");
    }
    const char* const paths[] = {folder.c_str()};
    ::proj_context_set_search_paths(nullptr, 1, paths);
    return ProjLibrary{
        .context_create = &::proj_context_create,
        .context_destroy = &::proj_context_destroy,
        .log_level = &::proj_log_level,
        .create_crs_to_crs = &::proj_create_crs_to_crs,
        .normalize_for_visualization = &::proj_normalize_for_visualization,
        .destroy = &::proj_destroy,
        .trans_generic = &::proj_trans_generic,
        .context_errno = &::proj_context_errno,
        .context_errno_string = &::proj_context_errno_string,
        .context_set_search_paths = &::proj_context_set_search_paths,
        .context_set_enable_network = &::proj_context_set_enable_network,
        .context_get_database_path = &::proj_context_get_database_path,
        .create = &::proj_create,
        .get_name = &::proj_get_name,
        .create_operation_factory_context = &::proj_create_operation_factory_context,
        .operation_factory_context_destroy = &::proj_operation_factory_context_destroy,
        .operation_factory_context_set_area_of_interest =
            &::proj_operation_factory_context_set_area_of_interest,
        .operation_factory_context_set_spatial_criterion =
            &::proj_operation_factory_context_set_spatial_criterion,
        .operation_factory_context_set_grid_availability_use =
            &::proj_operation_factory_context_set_grid_availability_use,
        .create_operations = &::proj_create_operations,
        .list_get_count = &::proj_list_get_count,
        .list_get = &::proj_list_get,
        .list_destroy = &::proj_list_destroy,
        .coordoperation_get_grid_used_count = &::proj_coordoperation_get_grid_used_count,
        .coordoperation_get_grid_used = &::proj_coordoperation_get_grid_used,
    };
}

}  // namespace

Result<const ProjLibrary*> projLibrary() {
    static const Result<ProjLibrary> linked = linkedLibrary();  // thread-safe, once
    if (!linked) return linked.error();
    return &*linked;
}

}  // namespace marlwood::geo_detail
