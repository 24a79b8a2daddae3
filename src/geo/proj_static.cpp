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
    };
}

}  // namespace

Result<const ProjLibrary*> projLibrary() {
    static const Result<ProjLibrary> linked = linkedLibrary();  // thread-safe, once
    if (!linked) return linked.error();
    return &*linked;
}

}  // namespace marlwood::geo_detail
