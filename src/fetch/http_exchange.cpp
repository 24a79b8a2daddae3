#include "fetch/http_exchange.h"

#include <algorithm>
#include <thread>

#include "common/text.h"

namespace marlwood::fetch_detail {

namespace {

constexpr int kMostRedirects = 5;

// The scheme and authority of a URL: "https://host:443".
std::string_view originOf(std::string_view url) {
    const std::size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos) return url.substr(0, 0);
    const std::size_t path = url.find_first_of("/?#", scheme_end + 3);
    return url.substr(0, path);
}

bool hasScheme(std::string_view location) {
    const std::size_t colon = location.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const auto schemeChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '-' || c == '.';
    };
    return std::all_of(location.begin(), location.begin() + static_cast<std::ptrdiff_t>(colon),
                       schemeChar);
}

}  // namespace

double secondsLeft(const RequestLimits& limits) {
    return std::chrono::duration<double>(limits.deadline - std::chrono::steady_clock::now())
        .count();
}

std::string rangeText(ByteRange range) {
    return std::to_string(range.first) + "-" + std::to_string(range.end() - 1);
}

Step outOfTime() {
    return {Next::Done, failure("the run's time for fetching ran out"), {}};
}

Step tooLong(ByteRange range) {
    return {Next::Done,
            failure("the server sent more than the " + std::to_string(range.length) +
                    " bytes asked (" + rangeText(range) + ")"),
            {}};
}

Step cutShort(ByteRange range) {
    return {Next::Done,
            failure("the server's answer to bytes " + rangeText(range) + " was cut short"),
            {}};
}

Step stalled(ByteRange range, const RequestLimits& limits) {
    // A server that answered and then stalls is stuck, not busy: asking again would only
    // multiply the wait.
    return {Next::Done,
            failure("the server stopped sending bytes " + rangeText(range) + " for " +
                    shownNumber(limits.stall_seconds) + " s"),
            {}};
}

Step failedTryAgain(const std::string& why) {
    return {Next::Retry, failure("the server's answer failed: " + why), {}};
}

Step cannotFetch(const std::string& why) {
    return {Next::Done, failure("cannot fetch it: " + why), {}};
}

std::string resolvedLocation(std::string_view url, std::string_view location) {
    if (hasScheme(location)) return std::string(location);
    if (location.starts_with("//")) {
        return std::string(url.substr(0, url.find("://") + 1)) + std::string(location);
    }
    const std::string_view origin = originOf(url);
    if (location.starts_with("/")) return std::string(origin) + std::string(location);
    const std::string_view path = url.substr(0, url.find_first_of("?#", origin.size()));
    if (location.starts_with("?")) return std::string(path) + std::string(location);
    // Relative to the folder of the URL's path.
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || slash < origin.size()) {
        return std::string(origin) + "/" + std::string(location);
    }
    return std::string(path.substr(0, slash + 1)) + std::string(location);
}

Step judged(Response response, std::string_view url, ByteRange range, std::uint64_t known_total) {
    const std::string asked = rangeText(range);
    const long status = response.status;
    const std::string http = "HTTP " + std::to_string(status);
    if (status >= 300 && status < 400) {
        if (!response.location) return {Next::Done, failure(http + " with nowhere to go"), {}};
        return {Next::Redirect, failure(""), resolvedLocation(url, *response.location)};
    }
    if (status == 404 || status == 410) {
        return {Next::Done,
                failure("the server has no such file (" + http + ")", ErrorKind::Absent),
                {}};
    }
    if (status == 429 || status >= 500)
        return {Next::Retry, failure("the server answered " + http), {}};
    Answer answer;
    answer.etag = response.etag;
    if (status == 200) {
        // The whole file: good only when it is no longer than what was asked from its start.
        if (range.first != 0) {
            return {Next::Done,
                    failure("the server sent the whole file, not bytes " + asked +
                            ": it does not answer range requests"),
                    {}};
        }
        answer.total = response.body.size();
        if (known_total != 0 && answer.total != known_total) {
            return {Next::Done,
                    failure("the file is now " + std::to_string(answer.total) + " bytes, not " +
                            std::to_string(known_total)),
                    {}};
        }
        answer.body = std::move(response.body);
        return {Next::Done, std::move(answer), {}};
    }
    if (status != 206) return {Next::Done, failure("the server answered " + http), {}};
    const std::optional<std::string>& content_range = response.content_range;
    const std::optional<ContentRange> got =
        content_range ? parseContentRange(*content_range) : std::nullopt;
    if (!got || got->total == 0) {
        return {Next::Done,
                failure("the server's answer to bytes " + asked + " has " +
                        (content_range ? "the Content-Range " + quotedText(*content_range, 60)
                                       : std::string("no Content-Range"))),
                {}};
    }
    const std::uint64_t total = known_total != 0 ? known_total : got->total;
    const std::uint64_t last = std::min(range.end(), total) - 1;
    if (got->total != total || got->first != range.first || got->last != last) {
        return {Next::Done,
                failure("the server sent bytes " + std::to_string(got->first) + "-" +
                        std::to_string(got->last) + " of " + std::to_string(got->total) +
                        " when asked for " + asked + " of " +
                        (known_total != 0 ? std::to_string(known_total) : std::string("the file"))),
                {}};
    }
    if (response.body.size() != last - range.first + 1) {
        return {Next::Done,
                failure("the server's answer to bytes " + asked + " was cut short at " +
                        std::to_string(response.body.size()) + " bytes"),
                {}};
    }
    answer.total = total;
    answer.body = std::move(response.body);
    return {Next::Done, std::move(answer), {}};
}

Result<Answer> fetchFollowing(const std::string& url, const RequestLimits& limits,
                              const std::function<Step(const std::string&)>& exchange) {
    std::string at = url;
    int redirects = 0;
    for (int attempt = 0;;) {
        Step step = exchange(at);
        if (step.next == Next::Done) return std::move(step.answer);
        if (step.next == Next::Redirect) {
            if (++redirects > kMostRedirects) {
                return failure("more than " + std::to_string(kMostRedirects) +
                               " redirects, the last to " + quotedText(step.redirect, 120));
            }
            if (filePathOf(step.redirect)) {
                return failure("the server redirects to a local file, which marlwood refuses");
            }
            if (Status allowed = remoteAllowed(step.redirect); !allowed) {
                return failure("the server redirects elsewhere: " + allowed.message());
            }
            at = std::move(step.redirect);
            continue;
        }
        if (attempt >= limits.retries) {
            return failure(step.answer.message() + " (tried " + std::to_string(attempt + 1) +
                           " times)");
        }
        const double pause = limits.first_backoff_seconds * static_cast<double>(1 << attempt);
        if (pause >= secondsLeft(limits)) return step.answer.error();
        std::this_thread::sleep_for(std::chrono::duration<double>(pause));
        ++attempt;
    }
}

}  // namespace marlwood::fetch_detail
