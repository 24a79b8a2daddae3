#include "ter/true_scale.h"

#include <algorithm>
#include <cmath>

namespace marlwood {

namespace {
constexpr double kSteps = 65536.0;
constexpr double kLowestHeight = -32768.0;
constexpr double kHighestHeight = 32767.0;
constexpr std::int32_t kLargestScale = 32767;  // HeightScale and BaseHeight are signed 16-bit
}  // namespace

std::int32_t TrueScale::height(double elevation_m) const {
    const double h = (elevation_m / scal_m - base_height) * kSteps / height_scale;
    return static_cast<std::int32_t>(std::clamp(std::round(h), kLowestHeight, kHighestHeight));
}

std::optional<TrueScale> chooseTrueScale(double lowest_m, double highest_m, double posting_m) {
    if (!(posting_m > 0) || !(lowest_m <= highest_m)) return std::nullopt;
    const double low = lowest_m / posting_m;  // in units of SCAL
    const double high = highest_m / posting_m;
    const double first = std::max(1.0, std::ceil((high - low) * kSteps / (kSteps - 1)));
    for (double scale = first; scale <= kLargestScale; ++scale) {
        // BaseHeight b fits when low >= b - 32768 s / 65536 and high <= b + 32767 s / 65536.
        const double least = std::ceil(high - kHighestHeight * scale / kSteps);
        const double most = std::floor(low - kLowestHeight * scale / kSteps);
        if (least > most) continue;
        // Of the whole numbers that fit, the one nearest the middle leaves both ends the most room.
        const double base = std::clamp(std::round((low + high) / 2), least, most);
        if (std::abs(base) > kLargestScale) return std::nullopt;
        return TrueScale{posting_m, static_cast<std::int32_t>(scale),
                         static_cast<std::int32_t>(base)};
    }
    return std::nullopt;
}

}  // namespace marlwood
