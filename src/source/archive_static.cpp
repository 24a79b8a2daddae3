// libarchive linked in (the Windows build, from tools/windows-deps): the same table the Linux build
// fills when it loads the library, so the archive reader is one code for both.
#include "source/archive_library.h"

namespace marlwood::source_detail {

Result<const ArchiveLibrary*> archiveLibrary() {
    static constexpr ArchiveLibrary library{
        .read_new = &::archive_read_new,
        .read_free = &::archive_read_free,
        .support_filter_gzip = &::archive_read_support_filter_gzip,
        .support_format_tar = &::archive_read_support_format_tar,
        .support_format_raw = &::archive_read_support_format_raw,
        .open_memory = &::archive_read_open_memory,
        .open_FILE = &::archive_read_open_FILE,
        .open = &::archive_read_open,
        .set_error = &::archive_set_error,
        .next_header = &::archive_read_next_header,
        .read_data = &::archive_read_data,
        .error_string = &::archive_error_string,
        .filter_code = &::archive_filter_code,
        .entry_pathname = &::archive_entry_pathname,
        .entry_size = &::archive_entry_size,
        .entry_size_is_set = &::archive_entry_size_is_set,
        .entry_filetype = &::archive_entry_filetype,
        .entry_hardlink = &::archive_entry_hardlink,
    };
    return &library;
}

Result<const ZlibLibrary*> zlibLibrary() {
    static constexpr ZlibLibrary library{
        .init = &::inflateInit2_,
        .inflate = &::inflate,
        .reset = &::inflateReset,
        .end = &::inflateEnd,
        .version = &::zlibVersion,
    };
    return &library;
}

}  // namespace marlwood::source_detail
