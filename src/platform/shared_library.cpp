#include "platform/shared_library.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace marlwood {

Result<SharedLibrary> SharedLibrary::open(const char* file, const char* package,
                                          const char* for_what) {
#ifndef _WIN32
    if (void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL)) return SharedLibrary(handle, file);
    const char* reason = dlerror();
    return openProblem(file, package, for_what, reason != nullptr ? reason : "");
#else
    return openProblem(file, package, for_what, "");
#endif
}

Error SharedLibrary::openProblem(const char* file, const char* package, const char* for_what,
                                 const std::string& loader_reason) {
    const bool missing = loader_reason.empty() ||
                         loader_reason.find("No such file or directory") != std::string::npos;
    if (missing) {
        return failure(std::string("this machine has no ") + file + " (Debian package " + package +
                       ") " + for_what);
    }
    std::string reason = loader_reason.substr(0, loader_reason.find('\n'));
    return failure(std::string("cannot load ") + file + " " + for_what + ": " + reason);
}

void* SharedLibrary::symbol([[maybe_unused]] const char* name) const {
#ifndef _WIN32
    return dlsym(handle_, name);
#else
    return nullptr;
#endif
}

std::string SharedLibrary::lacksFunction() const {
    return std::string(file_) + " lacks a function it should have";
}

}  // namespace marlwood
