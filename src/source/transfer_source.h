#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "sdts/module_reader.h"
#include "source/source_limits.h"

// Turns what the user names on the command line into the modules of one transfer.
namespace marlwood {

struct Transfer {
    std::string source;       // the SOURCE as given
    std::string output_stem;  // the .ter file's name without ".ter": an archive's file name up to
                              // its first '.', else the module prefix's last path component
    TransferModules modules;  // file paths, or (archives) in-memory bytes named "ARCHIVE:MEMBER"
    ModuleSource file{};      // instead of modules: the one file of a format read from one file
};

// A transfer, or what is wrong in one line without the source's name.
using FoundTransfer = Result<Transfer>;

// A SOURCE is one of:
//  - a module prefix as typed in the dialogue ("/data/7172" -> /data/7172cel0.ddf, ...), each
//    module tried with the lower-case suffix, then the upper-case one ("CEL0.DDF");
//  - a directory holding the modules of one transfer, found by name in either case;
//  - a USGS archive (.tar.gz, .tgz, .tar, any case), read in place: nothing is unpacked to disk.
//    Members that are themselves gzipped (...CEL0.DDF.GZ) are read too.
// All five modules a conversion reads must be found, and module files must open as regular files.
// RSDF, XREF and DDOM (the georeference) are found the same way when present, never required:
// one that is missing or does not open is left out (an empty name).
//
// An archive's CEL0 is read with the other modules (`Cel0Reading::WhenFound`), or, for a merge of
// many archives, only when it is opened (`WhenOpened`): the archive is then read a second time,
// up to that member, and one source's CEL0 at a time is held.
enum class Cel0Reading { WhenFound, WhenOpened };
FoundTransfer findTransfer(const std::string& source,
                           Cel0Reading cel0_reading = Cel0Reading::WhenFound);

// A format read from one file (`Transfer::file`), named `what` in its lines ("DEM"): a regular
// file, its output stem the file name up to its first '.'. A gzipped one (.gz) is unpacked in
// memory, up to `most_bytes`, when found (`Cel0Reading::WhenFound`) or each time it is read
// (`WhenOpened`).
FoundTransfer findFileTransfer(const std::string& path, const std::string& what,
                               std::uint64_t most_bytes, Cel0Reading reading);

// Whether a name ends in .dem or .dem.gz, any case: a USGS native DEM.
bool namesNativeDem(std::string_view name);

// The five modules a conversion reads at a module prefix, as the dialogue asks for them: each
// tried with the lower-case suffix, then the upper-case one. The Error's subject is the lower-case
// path of the first module that does not open.
Result<TransferModules> findPrefixModules(const std::string& prefix);

// The archive reader on bytes already in memory (tests, the fuzzer). `display_name` stands for
// the archive in module names and gives the output stem.
FoundTransfer readArchiveTransfer(const std::string& display_name, std::string_view bytes);

// False in a build without libarchive (the Windows build): archives are then refused with a line
// saying to unpack them first.
bool archivesSupported();
// The same, with why not: a build without libarchive, or a library that does not load (no memory
// to map it, say).
Status archiveSupport();

namespace source_detail {
// Reads the archive file `path` (a regular file); in the build without libarchive, refuses it.
FoundTransfer readArchiveFile(const std::string& path, Cel0Reading cel0_reading);
}  // namespace source_detail

}  // namespace marlwood
