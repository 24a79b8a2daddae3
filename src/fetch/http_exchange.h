#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "fetch/locations.h"

// What both HTTP clients share (libcurl's on Linux, WinHTTP's on Windows): how an answer is
// judged, how a failed transfer is worded, and the loop of retries and redirects. Each client
// only makes one request and tells what came back, so the two check and say the same.
namespace marlwood::fetch_detail {

// What a request may take: the run's deadline, how long a request may move nothing, how often
// one is tried again.
struct RequestLimits {
    std::chrono::steady_clock::time_point deadline;
    double stall_seconds = 30;
    int retries = 4;
    double first_backoff_seconds = 0.5;
};

struct Answer {
    std::string body;
    std::uint64_t total = 0;  // the file's length, as the server gives it
    std::string etag;
};

// What one request came back with, whichever library made it.
struct Response {
    long status = 0;
    std::string body;  // never longer than the range asked: the client stops before
    std::optional<std::string> content_range;
    std::string etag;
    std::optional<std::string> location;  // a redirect's target as the server wrote it
};

enum class Next { Done, Retry, Redirect };

// What a request came to: an answer or a failure (Done), the same request again after a pause
// (Retry), or one to `redirect`.
struct Step {
    Next next = Next::Done;
    Result<Answer> answer = failure("");
    std::string redirect;
};

// `response` to a request of `range` from `url`, checked: the status, the Content-Range, the
// length, and `known_total` when it is not 0.
Step judged(Response response, std::string_view url, ByteRange range, std::uint64_t known_total);

// A transfer's failures, worded alike by both clients.
Step outOfTime();
Step tooLong(ByteRange range);
Step cutShort(ByteRange range);
Step stalled(ByteRange range, const RequestLimits& limits);
Step failedTryAgain(const std::string& why);
Step cannotFetch(const std::string& why);

double secondsLeft(const RequestLimits& limits);
std::string rangeText(ByteRange range);  // "FIRST-LAST", as a Range header says it

// A redirect's `location` made absolute against the `url` that answered it.
std::string resolvedLocation(std::string_view url, std::string_view location);

// `exchange` (one request to the URL it is given) until it is done: redirects followed, each to
// an allowed URL, five at most; a Retry tried again after a pause that doubles, within
// `limits`.
Result<Answer> fetchFollowing(const std::string& url, const RequestLimits& limits,
                              const std::function<Step(const std::string&)>& exchange);

}  // namespace marlwood::fetch_detail
