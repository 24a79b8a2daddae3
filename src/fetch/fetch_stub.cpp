// A Linux build without libcurl's header: files on servers are refused with one line.
#include "fetch/remote_file.h"

namespace marlwood {

void beginFetchRun(const FetchSettings&) {}

FetchCounts fetchCounts() {
    return {};
}

void endFetchRun() {}

Result<std::shared_ptr<RemoteFile>> openRemote(const std::string&) {
    return failure("reading files from servers needs libcurl, which this build of marlwood lacks");
}

}  // namespace marlwood
