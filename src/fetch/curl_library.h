#pragma once

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include "common/result.h"

namespace marlwood::fetch_detail {

// libcurl (Debian libcurl4), loaded the first time a file is fetched from a server, so that a
// conversion of local files never maps it.
struct CurlLibrary {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) init = nullptr;
    decltype(&::curl_easy_setopt) setopt = nullptr;
    decltype(&::curl_easy_perform) perform = nullptr;
    decltype(&::curl_easy_getinfo) getinfo = nullptr;
    decltype(&::curl_easy_reset) reset = nullptr;
    decltype(&::curl_easy_cleanup) cleanup = nullptr;
    decltype(&::curl_easy_strerror) strerror = nullptr;
};

Result<const CurlLibrary*> curlLibrary();

}  // namespace marlwood::fetch_detail
