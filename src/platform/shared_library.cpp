#include "platform/shared_library.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace marlwood {

Result<SharedLibrary> SharedLibrary::open(const char* file, const char* package,
                                          const char* for_what) {
#ifndef _WIN32
    if (void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL)) return SharedLibrary(handle, file);
#endif
    return failure(std::string("this machine has no ") + file + " (Debian package " + package +
                   ") " + for_what);
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
