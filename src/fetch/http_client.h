#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"
#include "fetch/http_exchange.h"
#include "fetch/locations.h"

namespace marlwood::fetch_detail {

// The bytes of `range` of an http(s) URL, checked against what was asked: the status, the
// Content-Range, the length, and `known_total` when it is not 0. Redirects are followed by
// hand, each to an allowed URL, five at most; 5xx answers, 429 and timeouts are tried again
// after a pause that doubles (an answer cut short is not). A file the server has not (404, 410)
// is an Error of kind Absent.
Result<Answer> fetchRange(const std::string& url, ByteRange range, std::uint64_t known_total,
                          const RequestLimits& limits);

}  // namespace marlwood::fetch_detail
