#include "source/archive_library.h"

#include <dlfcn.h>

#include <mutex>

namespace marlwood::source_detail {

namespace {

// The runtime library of Debian's libarchive13, whose headers this was built against.
constexpr char kLibraryName[] = "libarchive.so.13";

template <typename Function>
bool load(void* handle, const char* name, Function& to) {
    to = reinterpret_cast<Function>(dlsym(handle, name));
    return to != nullptr;
}

struct Loaded {
    ArchiveLibrary library;
    bool ok = false;
    std::string problem;
};

Loaded loadLibrary() {
    Loaded loaded;
    void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        loaded.problem = std::string("this machine has no ") + kLibraryName +
                         " (Debian package libarchive13) to read archives with";
        return loaded;
    }
    ArchiveLibrary& l = loaded.library;
    loaded.ok = load(handle, "archive_read_new", l.read_new) &&
                load(handle, "archive_read_free", l.read_free) &&
                load(handle, "archive_read_support_filter_gzip", l.support_filter_gzip) &&
                load(handle, "archive_read_support_format_tar", l.support_format_tar) &&
                load(handle, "archive_read_support_format_raw", l.support_format_raw) &&
                load(handle, "archive_read_open_memory", l.open_memory) &&
                load(handle, "archive_read_open_FILE", l.open_FILE) &&
                load(handle, "archive_read_next_header", l.next_header) &&
                load(handle, "archive_read_data", l.read_data) &&
                load(handle, "archive_error_string", l.error_string) &&
                load(handle, "archive_filter_code", l.filter_code) &&
                load(handle, "archive_entry_pathname", l.entry_pathname) &&
                load(handle, "archive_entry_size", l.entry_size) &&
                load(handle, "archive_entry_size_is_set", l.entry_size_is_set) &&
                load(handle, "archive_entry_filetype", l.entry_filetype) &&
                load(handle, "archive_entry_hardlink", l.entry_hardlink);
    if (!loaded.ok) loaded.problem = std::string(kLibraryName) + " lacks a function it should have";
    // The handle stays open for the life of the process: the functions are used until its end.
    return loaded;
}

}  // namespace

Result<const ArchiveLibrary*> archiveLibrary() {
    static const Loaded loaded = loadLibrary();  // thread-safe, once
    if (!loaded.ok) return failure(loaded.problem);
    return &loaded.library;
}

}  // namespace marlwood::source_detail
