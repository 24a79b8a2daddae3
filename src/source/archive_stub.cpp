// A build without libarchive (a Windows build made without tools/windows-deps, or one configured
// with CMAKE_DISABLE_FIND_PACKAGE_LibArchive): archives are refused with a line that says what to
// do instead; module prefixes and directories work as everywhere.
#include "source/module_names.h"
#include "source/transfer_source.h"

namespace marlwood {

bool archivesSupported() {
    return false;
}

Status archiveSupport() {
    return failure(std::string(source_detail::kNoArchivesLine));
}

FoundTransfer readArchiveTransfer(const std::string&, std::string_view) {
    return failure(std::string(source_detail::kNoArchivesLine));
}

namespace source_detail {
FoundTransfer readArchiveFile(const std::string&, Cel0Reading) {
    return failure(std::string(kNoArchivesLine));
}
Result<std::string> gunzipFile(const std::string&, std::uint64_t) {
    return failure(std::string(kNoGzipLine));
}
Status gzipSupport() {
    return failure(std::string(kNoGzipLine));
}
}  // namespace source_detail

}  // namespace marlwood
