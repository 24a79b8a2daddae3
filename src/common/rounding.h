// Rounding to the nearest whole number, halves away from zero, as std::lround does, but inline:
// the readers and resamplers round every cell, and libm's call is a tenth of their time.
#pragma once

#include <cstdint>

namespace marlwood {

// `v` within the range of std::int32_t (callers keep elevations there).
inline std::int32_t roundHalfAway(double v) {
    auto whole = static_cast<std::int64_t>(v);  // towards zero; exact below 2^53
    const double fraction = v - static_cast<double>(whole);
    if (fraction >= 0.5) {
        ++whole;
    } else if (fraction <= -0.5) {
        --whole;
    }
    return static_cast<std::int32_t>(whole);
}

}  // namespace marlwood
