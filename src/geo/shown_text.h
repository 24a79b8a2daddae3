#pragma once

#include <string>
#include <string_view>

#include "common/text.h"

namespace marlwood::geo_detail {

// Text from a module, shown in an error line: short, printable and quoted, so the line stays one.
inline std::string shownText(std::string_view text) {
    return quotedText(text, 20);
}

}  // namespace marlwood::geo_detail
