#include "fetch/locations.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/text.h"

namespace marlwood {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view lower_start) {
    if (text.size() < lower_start.size()) return false;
    for (std::size_t i = 0; i < lower_start.size(); ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lower_start[i])
            return false;
    }
    return true;
}

std::optional<std::uint64_t> wholeNumber(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool namesRemote(std::string_view name) {
    return startsWithNoCase(name, "https://") || startsWithNoCase(name, "http://") ||
           startsWithNoCase(name, "file://");
}

Status remoteAllowed(std::string_view url) {
    const std::string shown = quotedText(url, 120);
    if (startsWithNoCase(url, "file://")) {
        if (!filePathOf(url)) return failure(shown + " is not a file:// URL of a local path");
        return {};
    }
    const bool secure = startsWithNoCase(url, "https://");
    if (!secure && !startsWithNoCase(url, "http://")) {
        return failure(shown + " is not an https://, http:// or file:// URL");
    }
    const std::string_view rest = url.substr(secure ? 8 : 7);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) {
        return failure(shown + " carries a user name: marlwood sends no credentials");
    }
    if (authority.empty()) return failure(shown + " names no host");
    for (const char c : url) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 127) {
            return failure(shown + " holds a space or a control character");
        }
    }
    if (secure) return {};
    const std::string_view host = authority.front() == '['
                                      ? authority.substr(0, authority.find(']') + 1)
                                      : authority.substr(0, authority.find(':'));
    if (host == "127.0.0.1" || host == "localhost" || host == "[::1]") return {};
    return failure(shown + " is plain http: marlwood reads https, or http on this machine only");
}

std::optional<std::string> filePathOf(std::string_view url) {
    if (!startsWithNoCase(url, "file://")) return std::nullopt;
    std::string_view rest = url.substr(7);
    // file:///path or file://localhost/path; another host is no local path.
    if (startsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
    if (rest.empty() || rest.front() != '/') return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%') {
            if (i + 2 >= rest.size()) return std::nullopt;
            const int high = hexDigit(rest[i + 1]), low = hexDigit(rest[i + 2]);
            if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return path;
}

std::string lastComponent(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = url.rfind('/');
    return std::string(slash == std::string_view::npos ? url : url.substr(slash + 1));
}

std::optional<DepProduct> depProductOf(std::string_view source) {
    if (!startsWithNoCase(source, "3dep:")) return std::nullopt;
    const std::string_view code = source.substr(5);
    return DepProduct{std::string(code), code == "13" || code == "1"};
}

std::vector<DepTile> depTilesTouching(const std::string& code, double west, double south,
                                      double east, double north, std::string_view base) {
    // A tile is named by its north-west corner and covers the degree south and east of it.
    const int first_west = static_cast<int>(std::floor(west));
    const int last_west = static_cast<int>(std::ceil(east)) - 1;
    const int first_north = static_cast<int>(std::ceil(north));
    const int last_north = static_cast<int>(std::floor(south)) + 1;
    while (!base.empty() && base.back() == '/') base.remove_suffix(1);
    std::vector<DepTile> tiles;
    for (int n = first_north; n >= last_north; --n) {
        for (int w = first_west; w <= last_west; ++w) {
            char corner[32];
            std::snprintf(corner, sizeof corner, "%c%02d%c%03d", n >= 0 ? 'n' : 's', std::abs(n),
                          w < 0 ? 'w' : 'e', std::abs(w));
            DepTile tile{n, w, "USGS_" + code + "_" + corner, ""};
            tile.url = std::string(base) + "/StagedProducts/Elevation/" + code + "/TIFF/current/" +
                       corner + "/" + tile.name + ".tif";
            tiles.push_back(std::move(tile));
        }
    }
    return tiles;
}

std::vector<ByteRange> mergeRanges(std::vector<ByteRange> ranges, std::uint64_t gap,
                                   std::uint64_t longest) {
    std::erase_if(ranges, [](const ByteRange& r) { return r.length == 0; });
    std::sort(ranges.begin(), ranges.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.first < b.first; });
    std::vector<ByteRange> merged;
    for (const ByteRange& r : ranges) {
        if (!merged.empty()) {
            ByteRange& last = merged.back();
            const std::uint64_t end = std::max(last.end(), r.end());
            if (r.first <= last.end() + gap && end - last.first <= longest) {
                last.length = end - last.first;
                continue;
            }
            if (r.end() <= last.end()) continue;  // inside the last, however long it is
        }
        merged.push_back(r);
    }
    return merged;
}

std::optional<ContentRange> parseContentRange(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' ||
                              value.back() == '\n')) {
        value.remove_suffix(1);
    }
    if (!startsWithNoCase(value, "bytes ")) return std::nullopt;
    value.remove_prefix(6);
    const std::size_t dash = value.find('-'), slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
        return std::nullopt;
    }
    const auto first = wholeNumber(value.substr(0, dash));
    const auto last = wholeNumber(value.substr(dash + 1, slash - dash - 1));
    const std::string_view total_text = value.substr(slash + 1);
    const auto total =
        total_text == "*" ? std::optional<std::uint64_t>(0) : wholeNumber(total_text);
    if (!first || !last || !total || *last < *first || (*total != 0 && *last >= *total)) {
        return std::nullopt;
    }
    return ContentRange{*first, *last, *total};
}

}  // namespace marlwood
