// What the source readers share: the modules' names and how a file or member name is judged.
// Internal to src/source.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/large_buffer.h"
#include "sdts/module_reader.h"
#include "source/source_limits.h"

namespace marlwood::source_detail {

struct ModuleKind {
    std::string_view suffix;        // "cel0.ddf"
    std::string_view upper_suffix;  // "CEL0.DDF", as USGS names them
    std::string_view label;         // "CEL0", for messages
    ModuleSource TransferModules::*slot;
    std::uint64_t max_bytes;  // the most an archive member of this module may hold
    bool required;            // else read when present: the georeference modules
};

// The required ones first, in the order the errors name them: the first missing one is reported.
inline constexpr std::array<ModuleKind, 8> kModuleKinds{{
    {"cel0.ddf", "CEL0.DDF", "CEL0", &TransferModules::cel0, kMaxCel0ModuleBytes, true},
    {"ldef.ddf", "LDEF.DDF", "LDEF", &TransferModules::ldef, kMaxMetadataModuleBytes, true},
    {"spdm.ddf", "SPDM.DDF", "SPDM", &TransferModules::spdm, kMaxMetadataModuleBytes, true},
    {"ddsh.ddf", "DDSH.DDF", "DDSH", &TransferModules::ddsh, kMaxMetadataModuleBytes, true},
    {"iref.ddf", "IREF.DDF", "IREF", &TransferModules::iref, kMaxMetadataModuleBytes, true},
    {"rsdf.ddf", "RSDF.DDF", "RSDF", &TransferModules::rsdf, kMaxMetadataModuleBytes, false},
    {"xref.ddf", "XREF.DDF", "XREF", &TransferModules::xref, kMaxMetadataModuleBytes, false},
    {"ddom.ddf", "DDOM.DDF", "DDOM", &TransferModules::ddom, kMaxMetadataModuleBytes, false},
}};

struct ModuleName {
    std::size_t kind;    // index into kModuleKinds
    std::string prefix;  // the name before the suffix, as written
    bool gzipped;        // the name ends in ".gz" after the suffix
};

// Whether a base name is one of the modules: its end matches a suffix in any case (and
// ".gz" after it when `allow_gz`). Nothing otherwise.
std::optional<ModuleName> matchModuleName(std::string_view base_name, bool allow_gz);

// The part of a path after its last '/' or '\\'.
std::string_view baseName(std::string_view path);

// Whether a name ends in .tar.gz, .tgz or .tar, in any case.
bool hasArchiveExtension(std::string_view name);

// Text fit for a one-line message: control bytes become '?', and a long text is cut (names come
// from archives and directories, which may hold anything).
std::string printable(std::string_view text);

// The output stem of an archive: its file name up to the first '.'; `fallback` when that is empty.
std::string archiveStem(std::string_view archive_name, const std::string& fallback);

// Whether a name ends in .dem or .dem.gz, in any case: a USGS native DEM.
bool hasNativeDemExtension(std::string_view name);

// The bytes of the gzipped file `path` (a regular file), unpacked within `bound`; in the build
// without libarchive, refused with kNoGzipLine.
Result<std::string> gunzipFile(const std::string& path, std::uint64_t bound);

// Whether gzipped DEMs can be unpacked: in the build without libarchive, refused with kNoGzipLine
// (what to do instead); else the reason the libraries did not load, if they did not.
Status gzipSupport();

inline constexpr std::string_view kNoGzipLine =
    "this build cannot unpack a gzipped DEM: gunzip it first and give the .dem file";

// A whole gzip file unpacked at once by libdeflate, when it is one gzip member of at most `bound`
// bytes unpacked; nothing otherwise (no libdeflate, damaged, too large), and the caller reads it
// as a stream instead.
std::optional<LargeBuffer> gunzipWhole(std::string_view compressed, std::uint64_t bound);

// The line of a build that cannot read archives.
inline constexpr std::string_view kNoArchivesLine =
    "this build reads module prefixes and directories only, not archives: unpack the archive "
    "first and give its directory";

}  // namespace marlwood::source_detail
