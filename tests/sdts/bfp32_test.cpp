#include "sdts/bfp32.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace marlwood {
namespace {

// An independent reading of the four bytes: fraction bits summed one by one in double precision,
// scaled by a power of two, truncated to 64 bits with saturation, then cut to 16 bits.
std::int16_t referenceElevation(std::uint32_t p) {
    static const auto bit_values = [] {
        std::array<double, 24> values{};
        for (int k = 1; k <= 23; ++k) values[k] = std::ldexp(1.0, -k);
        return values;
    }();
    const int field = static_cast<int>((p >> 23) & 0xFF);
    double mantissa = 0.0;
    for (int k = 1; k <= 23; ++k) {
        if ((p >> (23 - k)) & 1u) mantissa += bit_values[k];
    }
    if (field != 0) mantissa += 1.0;
    const double value = std::ldexp((p >> 31) ? -mantissa : mantissa, field - 127);
    std::int64_t t;
    if (std::fabs(value) >= 9223372036854775808.0) {
        t = INT64_MIN;
    } else {
        t = static_cast<std::int64_t>(value);
    }
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(t)));
}

TEST(Bfp32, KnownPatterns) {
    const struct {
        std::uint32_t bytes;
        std::int16_t elevation;
    } cases[] = {
        {0x44FA0000, 2000},   {0x42F78000, 123},    {0xC0200000, -2}, {0x3F7FFFFF, 0},
        {0x80000000, 0},      {0x00000001, 0},      {0x007FFFFF, 0},  {0x46FFFE00, 32767},
        {0x47000000, -32768}, {0x471C4000, -25536}, {0x47800000, 0},  {0xC6FFFE00, -32767},
        {0xC47A0000, -1000},  {0xC479C000, -999},   {0x5F000000, 0},  {0x7F800000, 0},
        {0xFF800000, 0},      {0x7FC00000, 0},      {0x3F800000, 1},  {0xBF800000, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bfp32ToElevation(c.bytes >> 24, (c.bytes >> 16) & 0xFF, (c.bytes >> 8) & 0xFF,
                                   c.bytes & 0xFF),
                  c.elevation)
            << std::hex << c.bytes;
    }
}

// Every sign and exponent field, each with fractions that probe every bit position, both ends
// and a spread of others: over 8 million patterns checked against the reference.
TEST(Bfp32, AgreesWithTheReferenceOverEveryExponent) {
    for (std::uint32_t top = 0; top < 512; ++top) {  // sign and exponent field
        const std::uint32_t high = top << 23;
        auto check = [&](std::uint32_t fraction) {
            const std::uint32_t p = high | (fraction & 0x7FFFFF);
            ASSERT_EQ(bfp32ToElevation(p), referenceElevation(p)) << std::hex << p;
        };
        for (int bit = 0; bit < 23; ++bit) {
            check(1u << bit);
            check(0x7FFFFFu >> bit);
            check((1u << bit) - 1);
        }
        for (std::uint32_t f = 0; f < (1u << 23); f += 509) check(f);
    }
}

}  // namespace
}  // namespace marlwood

namespace marlwood {
namespace {

TEST(Bfp32, ThousandthsKeepTheFractions) {
    const struct {
        float value;
        std::int32_t thousandths;
    } cases[] = {
        {1234.1f, 1234100},
        {1234.5f, 1234500},
        {-12.25f, -12250},
        {0.0f, 0},
        {-32767.0f, -32767000},
        {9000.9f, 9000900},
        {2e6f, 2000000000},
        {3e6f, kNoData * kThousandths},  // beyond 32 bits in thousandths
        {std::numeric_limits<float>::infinity(), kNoData * kThousandths},
        {std::numeric_limits<float>::quiet_NaN(), kNoData * kThousandths},
        {0.0625f, 63},  // 62.5 exactly: halves go away from zero
        {-0.0625f, -63},
        {0.03125f, 31},  // 31.25
        {-2147483.5f, kNoData * kThousandths},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bfp32ToThousandths(std::bit_cast<std::uint32_t>(c.value)), c.thousandths)
            << c.value;
    }
    // Every sign and exponent field with a spread of fractions: rounded as std::lround rounds.
    for (std::uint32_t p = 0; p < 0xFF800000u; p += 0x7F0F) {
        const double value = static_cast<double>(std::bit_cast<float>(p)) * kThousandths;
        if (!(std::fabs(value) < 2147483000.0)) continue;
        ASSERT_EQ(bfp32ToThousandths(p), std::lround(value)) << std::hex << p;
    }
}

}  // namespace
}  // namespace marlwood
