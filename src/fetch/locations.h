#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

// Where remote bytes are: which URLs may be read, the 3DEP tiles a box of degrees touches, and
// the byte ranges asked of a server. Pure functions, no network.
namespace marlwood {

// Whether a SOURCE names bytes on a server or a file:// URL rather than a local path.
bool namesRemote(std::string_view name);

// Whether marlwood reads `url`: https on any host; plain http only on this machine (127.0.0.1,
// localhost, [::1]); file://. Never a URL carrying a user name or password.
Status remoteAllowed(std::string_view url);

// The local path of a file:// URL (percent escapes undone), or nothing for any other URL.
std::optional<std::string> filePathOf(std::string_view url);

// The last component of a URL's path: "USGS_13_n47w093.tif".
std::string lastComponent(std::string_view url);

// The 3DEP products read as a SOURCE: "3dep:13" (1/3 arc-second) and "3dep:1" (1 arc-second).
// The product's folder code ("13", "1"), or nothing when `source` names none; `known` is false
// for "3dep:" followed by anything else.
struct DepProduct {
    std::string code;
    bool known = false;
};
std::optional<DepProduct> depProductOf(std::string_view source);

// USGS's public bucket, where the products are unless a mirror is named.
inline constexpr char kDepDefaultBase[] = "https://prd-tnm.s3.amazonaws.com";

// One tile of a product: named by its north-west corner in whole degrees.
struct DepTile {
    int north = 0, west = 0;  // latitude and longitude of the corner (west negative)
    std::string name;         // "USGS_13_n47w093"
    std::string url;
};

// The tiles whose degree squares the box (west, south, east, north degrees, west < east,
// south < north) reaches into, north-west first, row by row. A box edge on a whole degree
// takes no tile beyond it.
std::vector<DepTile> depTilesTouching(const std::string& code, double west, double south,
                                      double east, double north, std::string_view base);

// Bytes [first, first + length).
struct ByteRange {
    std::uint64_t first = 0, length = 0;
    std::uint64_t end() const { return first + length; }
};

// The ranges sorted and joined where they overlap or lie less than `gap` bytes apart, none
// longer than `longest` unless one range alone is (a request each).
std::vector<ByteRange> mergeRanges(std::vector<ByteRange> ranges, std::uint64_t gap,
                                   std::uint64_t longest);

// An answer's Content-Range: "bytes FIRST-LAST/TOTAL" (TOTAL may be "*": unknown, 0 here).
struct ContentRange {
    std::uint64_t first = 0, last = 0, total = 0;
};
std::optional<ContentRange> parseContentRange(std::string_view value);

}  // namespace marlwood
