#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace marlwood {

// Text from a module, shown in an error line: at most `longest` characters, control and other
// non-printable bytes as '?', quoted, so the line stays one line and readable.
inline std::string quotedText(std::string_view text, std::size_t longest) {
    std::string shown = "\"";
    for (const char c : text.substr(0, longest)) {
        const auto byte = static_cast<unsigned char>(c);
        shown.push_back(byte < 0x20 || byte >= 0x7F ? '?' : c);
    }
    return shown + (text.size() > longest ? "...\"" : "\"");
}

}  // namespace marlwood
