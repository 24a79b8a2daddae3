#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// Text as the error lines show it, the same in every room.
namespace marlwood {

// Whether `text` ends in `lower_end` in any case (`lower_end` is lower-case): file extensions.
inline bool endsWithNoCase(std::string_view text, std::string_view lower_end) {
    if (text.size() < lower_end.size()) return false;
    const std::string_view end = text.substr(text.size() - lower_end.size());
    return std::equal(end.begin(), end.end(), lower_end.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

// What becomes of bytes from 0x80 up: shown as '?' in bytes read from a file, which hold ASCII
// text, and kept in a name the user gave (a path in UTF-8).
enum class HighBytes { Shown, Kept };

// Text fit for a one-line message: control bytes as '?', so that the line stays one line, and at
// most `longest` characters, "..." after a text cut.
inline std::string printableText(std::string_view text,
                                 std::size_t longest = std::string_view::npos,
                                 HighBytes high = HighBytes::Shown) {
    std::string shown;
    for (const char c : text.substr(0, longest)) {
        const auto byte = static_cast<unsigned char>(c);
        const bool control = byte < 0x20 || byte == 0x7F;
        shown.push_back(control || (byte > 0x7F && high == HighBytes::Shown) ? '?' : c);
    }
    if (text.size() > longest) shown += "...";
    return shown;
}

// The same in quotes, for text that may be empty or hold spaces.
inline std::string quotedText(std::string_view text, std::size_t longest = std::string_view::npos) {
    std::string shown = "\"";  // not "\"" + printableText(): GCC 12 warns wrongly (-Wrestrict)
    shown += printableText(text, longest);
    shown += '"';
    return shown;
}

// A number as a line shows it: ten significant digits at most, with an exponent where one is due,
// so that a damaged 1E300 is not 301 digits and 1E-300 is not 0.
inline std::string shownNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

}  // namespace marlwood
