#include "fetch/curl_library.h"

#include "platform/shared_library.h"

namespace marlwood::fetch_detail {

Result<const CurlLibrary*> curlLibrary() {
    // Debian's libcurl4; its ABI is the one of both flavours' headers.
    return libraryFunctions<CurlLibrary>(
        {"libcurl.so.4", "libcurl4", "to read files from servers with"},
        [](const SharedLibrary& so, CurlLibrary& l) {
            const bool bound =
                so.load("curl_global_init", l.global_init) && so.load("curl_easy_init", l.init) &&
                so.load("curl_easy_setopt", l.setopt) && so.load("curl_easy_perform", l.perform) &&
                so.load("curl_easy_getinfo", l.getinfo) && so.load("curl_easy_reset", l.reset) &&
                so.load("curl_easy_cleanup", l.cleanup) &&
                so.load("curl_easy_strerror", l.strerror);
            // Once, here, before any thread makes a handle.
            return bound && l.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        });
}

}  // namespace marlwood::fetch_detail
