#include "sdts/bfp32.h"

namespace marlwood {

std::int16_t bfp32ToElevation(std::uint32_t pattern) {
    const std::int32_t exponent = bfp32Exponent(pattern);
    // Magnitudes below 1 truncate to 0; from 2^63 on the truncation saturates to -2^63, whose low
    // 16 bits are 0; exponent 128 (infinities and NaN codes elsewhere) lies in that range too.
    if (exponent < 0 || exponent >= 63) return 0;
    // value = (2^23 + fraction) * 2^(exponent - 23), exact in 64 bits for exponents up to 62.
    const std::uint64_t significand = (pattern & 0x7FFFFFu) | 0x800000u;
    const std::int32_t shift = exponent - 23;
    std::uint64_t magnitude = shift >= 0 ? significand << shift : significand >> -shift;
    if (bfp32Sign(pattern) != 0) magnitude = ~magnitude + 1;  // two's complement, low bits kept
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(magnitude & 0xFFFFu));
}

}  // namespace marlwood
