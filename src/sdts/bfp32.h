#pragma once

#include <bit>
#include <cstdint>

#include "common/dem_types.h"

namespace marlwood {

// A BFP32 cell value is an IEEE-754 single, most significant byte first. What is stored is the
// value truncated toward zero and cut to its low 16 bits; the pieces below are exact integer work,
// so every one of the 2^32 patterns decodes the same on every platform.

constexpr std::uint32_t bfp32Pattern(std::uint8_t first, std::uint8_t second, std::uint8_t third,
                                     std::uint8_t fourth) {
    return (std::uint32_t{first} << 24) | (std::uint32_t{second} << 16) |
           (std::uint32_t{third} << 8) | std::uint32_t{fourth};
}

constexpr std::int32_t bfp32Sign(std::uint32_t pattern) {
    return (pattern >> 31) != 0 ? 1 : 0;
}

// Unbiased exponent, -127 to 128.
constexpr std::int32_t bfp32Exponent(std::uint32_t pattern) {
    return static_cast<std::int32_t>((pattern >> 23) & 0xFFu) - 127;
}

// Defined here, and without branches, so the decoder's per-cell loop can inline it.
constexpr std::int16_t bfp32ToElevation(std::uint32_t pattern) {
    // Exponent 0..38: value = (2^23 + fraction) * 2^(exponent - 23), and with the significand
    // moved up 15 bits its whole part is one right shift by 38 - exponent, exact in 64 bits.
    // Magnitudes below 1 truncate to 0; from 2^39 on the low 16 bits of the whole part are 0
    // (up to 2^63) or the truncation saturates to -2^63, whose low 16 bits are 0 as well;
    // exponent 128 (infinities and NaN codes elsewhere) lies in that range too. A negative
    // exponent wraps to a large unsigned one and joins them.
    const auto exponent = static_cast<std::uint32_t>(bfp32Exponent(pattern));
    const std::uint64_t significand = (pattern & 0x7FFFFFu) | 0x800000u;
    std::uint64_t magnitude = (significand << 15) >> ((38u - exponent) & 63u);
    if (exponent > 38u) magnitude = 0;
    if (bfp32Sign(pattern) != 0) magnitude = ~magnitude + 1;  // two's complement, low bits kept
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(magnitude & 0xFFFFu));
}

constexpr std::int16_t bfp32ToElevation(std::uint8_t first, std::uint8_t second, std::uint8_t third,
                                        std::uint8_t fourth) {
    return bfp32ToElevation(bfp32Pattern(first, second, third, fourth));
}

// The value in thousandths, rounded to the nearest: BFP32 DEMs carry decimetres, which this keeps
// exactly for elevations held as floats. What is not a number, or lies beyond what 32 bits hold
// in thousandths, becomes the no-data value in thousandths, which reads as void.
inline std::int32_t bfp32ToThousandths(std::uint32_t pattern) {
    const double value = static_cast<double>(std::bit_cast<float>(pattern)) * kThousandths;
    if (!(value > -2147483000.0 && value < 2147483000.0)) return kNoData * kThousandths;
    // std::lround inline (it is a call into libm, for every cell): the whole part, then a half or
    // more moved away from zero; the part left is exact, as value and whole differ by less than 1.
    const auto whole = static_cast<std::int32_t>(value);
    const double rest = value - whole;
    return whole + (rest >= 0.5 ? 1 : 0) - (rest <= -0.5 ? 1 : 0);
}

}  // namespace marlwood
