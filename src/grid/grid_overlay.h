#pragma once

#include <cstdint>

namespace marlwood {

// Lays `count` cells of `from` over `into`: a valid cell (above `valid_above`) fills a void one;
// where both are valid the cell of `into` stays, and if they differ that counts as a
// disagreement. Returns the disagreements.
inline std::int64_t overlayRow(const std::int32_t* from, std::int32_t* into, std::int32_t count,
                               std::int32_t valid_above) {
    std::int64_t disagreements = 0;
    for (std::int32_t j = 0; j < count; ++j) {
        if (from[j] <= valid_above) continue;
        if (into[j] <= valid_above) {
            into[j] = from[j];
        } else if (into[j] != from[j]) {
            ++disagreements;
        }
    }
    return disagreements;
}

}  // namespace marlwood
