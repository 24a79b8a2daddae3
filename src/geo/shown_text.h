#pragma once

#include <string>
#include <string_view>

namespace marlwood::geo_detail {

// Text from a module, shown in an error line: short, printable and quoted, so the line stays one.
inline std::string shownText(std::string_view text) {
    constexpr std::size_t kLongest = 20;
    std::string shown = "\"";
    for (const char c : text.substr(0, kLongest)) {
        const auto byte = static_cast<unsigned char>(c);
        shown.push_back(byte < 0x20 || byte >= 0x7F ? '?' : c);
    }
    return shown + (text.size() > kLongest ? "...\"" : "\"");
}

}  // namespace marlwood::geo_detail
