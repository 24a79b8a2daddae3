#pragma once

#include <cstdint>

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

std::int16_t bfp32ToElevation(std::uint32_t pattern);

inline std::int16_t bfp32ToElevation(std::uint8_t first, std::uint8_t second, std::uint8_t third,
                                     std::uint8_t fourth) {
    return bfp32ToElevation(bfp32Pattern(first, second, third, fourth));
}

}  // namespace marlwood
