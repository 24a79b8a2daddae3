// Requests through WinHTTP, which every Windows has, so that the Windows build ships no HTTP
// library of its own. What is asked and how the answer is judged is http_exchange's, as for
// libcurl on Linux.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <charconv>

#include "fetch/http_client.h"
#include "fetch/http_exchange.h"

namespace marlwood::fetch_detail {

namespace {

// Read at a time; a range asked is at most tens of MiB.
constexpr DWORD kChunk = 256 << 10;

class Handle {
  public:
    explicit Handle(HINTERNET handle) : h_(handle) {}
    ~Handle() {
        if (h_ != nullptr) WinHttpCloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return h_; }

  private:
    HINTERNET h_;
};

std::wstring wide(std::string_view text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), w.data(), n);
    }
    return w;
}

std::string narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), s.data(), n,
                            nullptr, nullptr);
    }
    return s;
}

// Wine's WinHTTP says a wait timed out with the socket's code (WSAETIMEDOUT), Windows' with its
// own.
constexpr DWORD kSocketTimedOut = 10060;

bool timedOut(DWORD code) {
    return code == ERROR_WINHTTP_TIMEOUT || code == kSocketTimedOut;
}

std::string errorText(DWORD code) {
    if (timedOut(code)) return "the request timed out";
    switch (code) {
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return "the server's name is not known";
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return "cannot connect to the server";
        case ERROR_WINHTTP_CONNECTION_ERROR:
            return "the connection was closed";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            return "the server's answer is not HTTP";
        case ERROR_WINHTTP_SECURE_FAILURE:
            return "the secure connection failed (the server's certificate?)";
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        case ERROR_WINHTTP_INVALID_URL:
            return "WinHTTP cannot read the URL";
        default:
            return "WinHTTP error " + std::to_string(code);
    }
}

// The session all requests share: WinHTTP keeps its connections alive between requests.
// Proxies as the system's WinHTTP settings say; no proxy credentials.
HINTERNET session() {
    static const HINTERNET s = WinHttpOpen(L"marlwood", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    return s;
}

bool setOption(HINTERNET h, DWORD option, DWORD value) {
    return WinHttpSetOption(h, option, &value, sizeof value) != FALSE;
}

// A header's value, at most `most` characters of it.
std::optional<std::string> header(HINTERNET request, DWORD query, std::size_t most) {
    DWORD bytes = 0;
    if (WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                            &bytes, WINHTTP_NO_HEADER_INDEX) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) {
        return std::nullopt;
    }
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    value.resize(std::min<std::size_t>(bytes / sizeof(wchar_t), most));
    return narrow(value);
}

// One request to `url`, checked.
Step exchange(HINTERNET session, const std::string& url, ByteRange range, std::uint64_t known_total,
              const RequestLimits& limits) {
    const double left = secondsLeft(limits);
    if (left <= 0) return outOfTime();
    const std::wstring wide_url = wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts)) {
        return cannotFetch(errorText(GetLastError()));
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    // The path and query, which WinHTTP keeps side by side; never the fragment.
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength + parts.dwExtraInfoLength);
    path = path.substr(0, path.find(L'#'));
    if (path.empty()) path = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    const Handle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    if (connection.get() == nullptr) return cannotFetch(errorText(GetLastError()));
    const Handle request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            secure ? WINHTTP_FLAG_SECURE : 0));
    if (request.get() == nullptr) return cannotFetch(errorText(GetLastError()));
    // Redirects are followed by hand, each checked; no credentials are ever sent, no cookies
    // kept.
    if (!setOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                   WINHTTP_OPTION_REDIRECT_POLICY_NEVER) ||
        !setOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY,
                   WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH) ||
        !setOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE,
                   WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION)) {
        return cannotFetch("WinHTTP refuses its options (" + errorText(GetLastError()) + ")");
    }
    // Each wait (a name, a connection, a send, a read) may last as long as a stall, and no
    // longer than the run has left.
    const int wait_ms =
        static_cast<int>(std::min(left * 1000 + 1, std::max(1.0, limits.stall_seconds) * 1000));
    WinHttpSetTimeouts(request.get(), wait_ms, wait_ms, wait_ms, wait_ms);

    const std::wstring range_header = L"Range: bytes=" + wide(rangeText(range));
    if (!WinHttpSendRequest(request.get(), range_header.c_str(), static_cast<DWORD>(-1L),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        const DWORD error = GetLastError();
        if (secondsLeft(limits) <= 0) return outOfTime();
        if (timedOut(error) || error == ERROR_WINHTTP_CONNECTION_ERROR ||
            error == ERROR_WINHTTP_CANNOT_CONNECT ||
            error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) {
            return failedTryAgain(errorText(error));
        }
        return cannotFetch(errorText(error));
    }

    Response response;
    DWORD status = 0, status_size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return failedTryAgain(errorText(GetLastError()));
    }
    response.status = static_cast<long>(status);
    response.content_range = header(request.get(), WINHTTP_QUERY_CONTENT_RANGE, 200);
    response.etag = header(request.get(), WINHTTP_QUERY_ETAG, 200).value_or("");
    response.location = header(request.get(), WINHTTP_QUERY_LOCATION, 8192);
    std::optional<std::uint64_t> length;
    if (const auto text = header(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, 40)) {
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
        if (error == std::errc() && end == text->data() + text->size()) length = value;
    }

    std::string chunk(kChunk, '\0');
    for (;;) {
        if (secondsLeft(limits) <= 0) return outOfTime();
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), chunk.data(), kChunk, &got)) {
            const DWORD error = GetLastError();
            if (secondsLeft(limits) <= 0) return outOfTime();
            if (timedOut(error)) return stalled(range, limits);
            return cutShort(range);
        }
        if (got == 0) break;
        if (response.body.size() + got > range.length) return tooLong(range);
        response.body.append(chunk.data(), got);
    }
    // A connection closed before the length the server promised.
    if (length && response.body.size() < *length) return cutShort(range);
    return judged(std::move(response), url, range, known_total);
}

}  // namespace

Result<Answer> fetchRange(const std::string& url, ByteRange range, std::uint64_t known_total,
                          const RequestLimits& limits) {
    const HINTERNET s = session();
    if (s == nullptr) {
        return failure("WinHTTP cannot make a request here (" + errorText(GetLastError()) + ")");
    }
    return fetchFollowing(url, limits, [&](const std::string& at) {
        return exchange(s, at, range, known_total, limits);
    });
}

}  // namespace marlwood::fetch_detail
