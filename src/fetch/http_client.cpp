#include "fetch/http_client.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <thread>

#include "common/text.h"
#include "fetch/curl_library.h"

namespace marlwood::fetch_detail {

namespace {

constexpr int kMostRedirects = 5;

// One exchange's answer as it comes; the headers of the last response only.
struct Exchange {
    std::string body;
    std::uint64_t most = 0;  // more than this is not what was asked
    bool too_long = false;
    bool answered = false;  // a status line came
    std::optional<std::string> content_range;
    std::string etag;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    Exchange& x = *static_cast<Exchange*>(user);
    const std::size_t bytes = size * count;
    if (x.body.size() + bytes > x.most) {
        x.too_long = true;
        return 0;  // ends the transfer
    }
    x.body.append(data, bytes);
    return bytes;
}

bool headerIs(std::string_view line, std::string_view lower_name) {
    if (line.size() <= lower_name.size() || line[lower_name.size()] != ':') return false;
    return endsWithNoCase(line.substr(0, lower_name.size()), lower_name);
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    Exchange& x = *static_cast<Exchange*>(user);
    const std::size_t bytes = size * count;
    std::string_view line(data, bytes);
    if (line.starts_with("HTTP/")) {
        // A new response (after a 100 Continue, say): its headers alone count.
        x.answered = true;
        x.content_range.reset();
        x.etag.clear();
        return bytes;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    const auto value = [&](std::size_t name) {
        std::string_view v = line.substr(name + 1);
        while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
        return std::string(v.substr(0, 200));
    };
    if (headerIs(line, "content-range")) x.content_range = value(13);
    if (headerIs(line, "etag")) x.etag = value(4);
    return bytes;
}

// A handle a thread keeps, so that its requests share a connection.
struct Handle {
    const CurlLibrary* l = nullptr;
    CURL* curl = nullptr;
    ~Handle() {
        if (curl != nullptr) l->cleanup(curl);
    }
};

enum class Next { Done, Retry, Redirect };

struct Step {
    Next next = Next::Done;
    Result<Answer> answer = failure("");
    std::string redirect;
};

double secondsLeft(const RequestLimits& limits) {
    return std::chrono::duration<double>(limits.deadline - std::chrono::steady_clock::now())
        .count();
}

std::string rangeText(ByteRange range) {
    return std::to_string(range.first) + "-" + std::to_string(range.end() - 1);
}

// One request to `url`, checked.
Step exchange(const CurlLibrary& l, CURL* curl, const std::string& url, ByteRange range,
              std::uint64_t known_total, const RequestLimits& limits) {
    Exchange x;
    x.most = range.length;
    const std::string asked = rangeText(range);
    const double left = secondsLeft(limits);
    if (left <= 0) return {Next::Done, failure("the run's time for fetching ran out"), {}};
    const long left_ms = static_cast<long>(left * 1000) + 1;
    l.reset(curl);
    l.setopt(curl, CURLOPT_URL, url.c_str());
    l.setopt(curl, CURLOPT_RANGE, asked.c_str());
    l.setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);  // followed here, each hop checked
    l.setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    l.setopt(curl, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    l.setopt(curl, CURLOPT_NOSIGNAL, 1L);
    l.setopt(curl, CURLOPT_USERAGENT, "marlwood");
    l.setopt(curl, CURLOPT_TIMEOUT_MS, left_ms);
    l.setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
             std::min(left_ms, static_cast<long>(limits.stall_seconds * 1000)));
    l.setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    l.setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, static_cast<long>(limits.stall_seconds)));
    l.setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    l.setopt(curl, CURLOPT_WRITEDATA, &x);
    l.setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    l.setopt(curl, CURLOPT_HEADERDATA, &x);
    const CURLcode code = l.perform(curl);
    if (code == CURLE_WRITE_ERROR && x.too_long) {
        return {Next::Done,
                failure("the server sent more than the " + std::to_string(range.length) +
                        " bytes asked (" + asked + ")"),
                {}};
    }
    if (code == CURLE_PARTIAL_FILE) {
        return {
            Next::Done, failure("the server's answer to bytes " + asked + " was cut short"), {}};
    }
    if (code == CURLE_OPERATION_TIMEDOUT && secondsLeft(limits) <= 0) {
        return {Next::Done, failure("the run's time for fetching ran out"), {}};
    }
    if (code == CURLE_OPERATION_TIMEDOUT && x.answered) {
        // A server that answered and then stalls is stuck, not busy: asking again would only
        // multiply the wait.
        return {Next::Done,
                failure("the server stopped sending bytes " + asked + " for " +
                        shownNumber(limits.stall_seconds) + " s"),
                {}};
    }
    if (code == CURLE_OPERATION_TIMEDOUT || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
        code == CURLE_GOT_NOTHING || code == CURLE_COULDNT_CONNECT) {
        return {Next::Retry,
                failure(std::string("the server's answer failed: ") + l.strerror(code)),
                {}};
    }
    if (code != CURLE_OK) {
        return {Next::Done, failure(std::string("cannot fetch it: ") + l.strerror(code)), {}};
    }
    long status = 0;
    l.getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    const std::string http = "HTTP " + std::to_string(status);
    if (status >= 300 && status < 400) {
        const char* to = nullptr;
        l.getinfo(curl, CURLINFO_REDIRECT_URL, &to);
        if (to == nullptr) return {Next::Done, failure(http + " with nowhere to go"), {}};
        return {Next::Redirect, failure(""), to};
    }
    if (status == 404 || status == 410) {
        return {Next::Done,
                failure("the server has no such file (" + http + ")", ErrorKind::Absent),
                {}};
    }
    if (status == 429 || status >= 500)
        return {Next::Retry, failure("the server answered " + http), {}};
    Answer answer;
    answer.etag = x.etag;
    if (status == 200) {
        // The whole file: good only when it is no longer than what was asked from its start.
        if (range.first != 0) {
            return {Next::Done,
                    failure("the server sent the whole file, not bytes " + asked +
                            ": it does not answer range requests"),
                    {}};
        }
        answer.total = x.body.size();
        if (known_total != 0 && answer.total != known_total) {
            return {Next::Done,
                    failure("the file is now " + std::to_string(answer.total) + " bytes, not " +
                            std::to_string(known_total)),
                    {}};
        }
        answer.body = std::move(x.body);
        return {Next::Done, std::move(answer), {}};
    }
    if (status != 206) return {Next::Done, failure("the server answered " + http), {}};
    const std::optional<ContentRange> got =
        x.content_range ? parseContentRange(*x.content_range) : std::nullopt;
    if (!got || got->total == 0) {
        return {Next::Done,
                failure("the server's answer to bytes " + asked + " has " +
                        (x.content_range ? "the Content-Range " + quotedText(*x.content_range, 60)
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
    if (x.body.size() != last - range.first + 1) {
        return {Next::Done,
                failure("the server's answer to bytes " + asked + " was cut short at " +
                        std::to_string(x.body.size()) + " bytes"),
                {}};
    }
    answer.total = total;
    answer.body = std::move(x.body);
    return {Next::Done, std::move(answer), {}};
}

}  // namespace

Result<Answer> fetchRange(const std::string& url, ByteRange range, std::uint64_t known_total,
                          const RequestLimits& limits) {
    const Result<const CurlLibrary*> library = curlLibrary();
    if (!library) return library.error();
    const CurlLibrary& l = **library;
    thread_local Handle handle;
    if (handle.curl == nullptr) {
        handle.l = &l;
        handle.curl = l.init();
        if (handle.curl == nullptr) return failure("libcurl cannot make a request here");
    }
    std::string at = url;
    int redirects = 0;
    for (int attempt = 0;;) {
        Step step = exchange(l, handle.curl, at, range, known_total, limits);
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
