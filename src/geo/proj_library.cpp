#include "geo/proj_library.h"

#include <dlfcn.h>

namespace marlwood::geo_detail {

namespace {

// The runtime library of Debian's libproj25, whose header this was built against.
constexpr char kProjName[] = "libproj.so.25";

template <typename Function>
bool load(void* handle, const char* name, Function& to) {
    to = reinterpret_cast<Function>(dlsym(handle, name));
    return to != nullptr;
}

struct Loaded {
    ProjLibrary library;
    bool ok = false;
    std::string problem;
};

Loaded loadLibrary() {
    Loaded loaded;
    // The handle stays open for the life of the process: the functions are used until its end.
    void* proj = dlopen(kProjName, RTLD_NOW | RTLD_LOCAL);
    if (proj == nullptr) {
        loaded.problem = std::string("this machine has no ") + kProjName +
                         " (Debian package libproj25) to place a crop with";
        return loaded;
    }
    ProjLibrary& l = loaded.library;
    loaded.ok = load(proj, "proj_context_create", l.context_create) &&
                load(proj, "proj_context_destroy", l.context_destroy) &&
                load(proj, "proj_log_level", l.log_level) &&
                load(proj, "proj_create_crs_to_crs", l.create_crs_to_crs) &&
                load(proj, "proj_normalize_for_visualization", l.normalize_for_visualization) &&
                load(proj, "proj_destroy", l.destroy) &&
                load(proj, "proj_trans_generic", l.trans_generic) &&
                load(proj, "proj_context_errno", l.context_errno) &&
                load(proj, "proj_context_errno_string", l.context_errno_string);
    if (!loaded.ok) loaded.problem = std::string(kProjName) + " lacks a function it should have";
    return loaded;
}

}  // namespace

const ProjLibrary* projLibrary(std::string& problem) {
    static const Loaded loaded = loadLibrary();  // thread-safe, once
    if (!loaded.ok) {
        problem = loaded.problem;
        return nullptr;
    }
    return &loaded.library;
}

}  // namespace marlwood::geo_detail
