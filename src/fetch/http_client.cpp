#include "fetch/http_client.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "common/text.h"
#include "fetch/curl_library.h"
#include "fetch/http_exchange.h"

namespace marlwood::fetch_detail {

namespace {

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

// One request to `url`, checked.
Step exchange(const CurlLibrary& l, CURL* curl, const std::string& url, ByteRange range,
              std::uint64_t known_total, const RequestLimits& limits) {
    Exchange x;
    x.most = range.length;
    const std::string asked = rangeText(range);
    const double left = secondsLeft(limits);
    if (left <= 0) return outOfTime();
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
    if (code == CURLE_WRITE_ERROR && x.too_long) return tooLong(range);
    if (code == CURLE_PARTIAL_FILE) return cutShort(range);
    if (code == CURLE_OPERATION_TIMEDOUT && secondsLeft(limits) <= 0) return outOfTime();
    if (code == CURLE_OPERATION_TIMEDOUT && x.answered) return stalled(range, limits);
    if (code == CURLE_OPERATION_TIMEDOUT || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
        code == CURLE_GOT_NOTHING || code == CURLE_COULDNT_CONNECT) {
        return failedTryAgain(l.strerror(code));
    }
    if (code != CURLE_OK) return cannotFetch(l.strerror(code));
    Response response;
    l.getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    const char* to = nullptr;
    l.getinfo(curl, CURLINFO_REDIRECT_URL, &to);
    if (to != nullptr) response.location = to;
    response.body = std::move(x.body);
    response.content_range = std::move(x.content_range);
    response.etag = std::move(x.etag);
    return judged(std::move(response), url, range, known_total);
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
    return fetchFollowing(url, limits, [&](const std::string& at) {
        return exchange(l, handle.curl, at, range, known_total, limits);
    });
}

}  // namespace marlwood::fetch_detail
