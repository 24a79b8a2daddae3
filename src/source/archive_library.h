#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <string>

#include "common/result.h"

namespace marlwood::source_detail {

// libarchive, loaded the first time an archive is read (archive_library.cpp). A conversion of
// module files never maps it (with its compression and XML libraries it would add a third to the
// resident memory of a 10 m conversion), and a machine without it still converts everything but
// archives. The Windows build links it in instead (archive_static.cpp): one self-contained .exe.
struct ArchiveLibrary {
    decltype(&::archive_read_new) read_new = nullptr;
    decltype(&::archive_read_free) read_free = nullptr;
    decltype(&::archive_read_support_filter_gzip) support_filter_gzip = nullptr;
    decltype(&::archive_read_support_format_tar) support_format_tar = nullptr;
    decltype(&::archive_read_support_format_raw) support_format_raw = nullptr;
    decltype(&::archive_read_open_memory) open_memory = nullptr;
    decltype(&::archive_read_open_FILE) open_FILE = nullptr;
    decltype(&::archive_read_open) open = nullptr;
    decltype(&::archive_set_error) set_error = nullptr;
    decltype(&::archive_read_next_header) next_header = nullptr;
    decltype(&::archive_read_data) read_data = nullptr;
    decltype(&::archive_error_string) error_string = nullptr;
    decltype(&::archive_filter_code) filter_code = nullptr;
    decltype(&::archive_entry_pathname) entry_pathname = nullptr;
    decltype(&::archive_entry_size) entry_size = nullptr;
    decltype(&::archive_entry_size_is_set) entry_size_is_set = nullptr;
    decltype(&::archive_entry_filetype) entry_filetype = nullptr;
    decltype(&::archive_entry_hardlink) entry_hardlink = nullptr;
};

// The loaded library, or why it cannot be had.
Result<const ArchiveLibrary*> archiveLibrary();

// zlib's inflater, for gzip whose trailers are checked (gzip_stream.cpp): loaded beside
// libarchive, which maps it anyway; linked in on Windows.
struct ZlibLibrary {
    decltype(&::inflateInit2_) init = nullptr;
    decltype(&::inflate) inflate = nullptr;
    decltype(&::inflateReset) reset = nullptr;
    decltype(&::inflateEnd) end = nullptr;
    decltype(&::zlibVersion) version = nullptr;
};
Result<const ZlibLibrary*> zlibLibrary();

}  // namespace marlwood::source_detail
