#include "source/archive_library.h"

#include "platform/shared_library.h"

namespace marlwood::source_detail {

Result<const ArchiveLibrary*> archiveLibrary() {
    // The runtime library of Debian's libarchive13, whose headers this was built against.
    return libraryFunctions<ArchiveLibrary>(
        {"libarchive.so.13", "libarchive13", "to read archives with"},
        [](const SharedLibrary& so, ArchiveLibrary& l) {
            return so.load("archive_read_new", l.read_new) &&
                   so.load("archive_read_free", l.read_free) &&
                   so.load("archive_read_support_filter_gzip", l.support_filter_gzip) &&
                   so.load("archive_read_support_format_tar", l.support_format_tar) &&
                   so.load("archive_read_support_format_raw", l.support_format_raw) &&
                   so.load("archive_read_open_memory", l.open_memory) &&
                   so.load("archive_read_open_FILE", l.open_FILE) &&
                   so.load("archive_read_open", l.open) &&
                   so.load("archive_set_error", l.set_error) &&
                   so.load("archive_read_next_header", l.next_header) &&
                   so.load("archive_read_data", l.read_data) &&
                   so.load("archive_error_string", l.error_string) &&
                   so.load("archive_filter_code", l.filter_code) &&
                   so.load("archive_entry_pathname", l.entry_pathname) &&
                   so.load("archive_entry_size", l.entry_size) &&
                   so.load("archive_entry_size_is_set", l.entry_size_is_set) &&
                   so.load("archive_entry_filetype", l.entry_filetype) &&
                   so.load("archive_entry_hardlink", l.entry_hardlink);
        });
}

Result<const ZlibLibrary*> zlibLibrary() {
    return libraryFunctions<ZlibLibrary>({"libz.so.1", "zlib1g", "to unpack gzip with"},
                                         [](const SharedLibrary& so, ZlibLibrary& l) {
                                             return so.load("inflateInit2_", l.init) &&
                                                    so.load("inflate", l.inflate) &&
                                                    so.load("inflateReset", l.reset) &&
                                                    so.load("inflateEnd", l.end) &&
                                                    so.load("zlibVersion", l.version);
                                         });
}

}  // namespace marlwood::source_detail
