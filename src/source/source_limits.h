#pragma once

#include <cstddef>
#include <cstdint>

// The bounds a source is read within, shared by the finder and the archive reader.
namespace marlwood {

// What an archive may hold before it is refused. A real 7.5' quad's CEL0 is a few MiB and its
// metadata modules a few KiB; a transfer is about twenty files.
inline constexpr std::uint64_t kMaxMetadataModuleBytes = std::uint64_t{1} << 20;
inline constexpr std::uint64_t kMaxCel0ModuleBytes = std::uint64_t{512} << 20;
inline constexpr std::size_t kMaxArchiveMembers = 200;
// A native DEM unpacked from gzip: a 10 m quad is about 10 MiB.
inline constexpr std::uint64_t kMaxNativeDemBytes = kMaxCel0ModuleBytes;

}  // namespace marlwood
