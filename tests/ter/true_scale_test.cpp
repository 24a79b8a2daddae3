#include "ter/true_scale.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ter/ter_writer.h"

namespace marlwood {
namespace {

TEST(TrueScale, EveryElevationWithinHalfAStep) {
    struct Case {
        const char* what;
        double lowest, highest, posting;
        double largest_step;  // metres
    };
    const Case cases[] = {
        {"flat", 412, 412, 30, 30 / 65536.0},
        {"a range of 1 m", 1000, 1001, 10, 10 / 65536.0},
        {"265 m at 30 m", 1096.7, 1361.7, 30, 0.005},
        {"265 m at 10 m", 1096.7, 1361.7, 10, 0.005},
        {"600 m at 10 m", 200, 800, 10, 0.01},
        {"9000 m", -420, 8580, 10, 9000 / 65535.0 * 1.01},
        {"all below sea level", -86, -3.5, 30, 0.002},
        {"around zero", -0.3, 0.4, 30, 30 / 65536.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto scale = chooseTrueScale(c.lowest, c.highest, c.posting);
        ASSERT_TRUE(scale);
        EXPECT_EQ(scale->scal_m, c.posting);
        EXPECT_LE(scale->stepMetres(), c.largest_step);
        // HeightScale is the smallest that can hold the span: one less could not.
        if (scale->height_scale > 1) {
            EXPECT_GT((c.highest - c.lowest) / c.posting,
                      (scale->height_scale - 2) * 65535.0 / 65536.0);
        }
        double worst = 0;
        for (int k = 0; k <= 1000; ++k) {
            const double e = c.lowest + (c.highest - c.lowest) * k / 1000;
            const std::int32_t h = scale->height(e);
            ASSERT_GE(h, -32768);
            ASSERT_LE(h, 32767);
            worst = std::max(worst, std::abs(scale->metres(h) - e));
        }
        EXPECT_LE(worst, scale->stepMetres() / 2 + 1e-9);
    }
    EXPECT_FALSE(chooseTrueScale(0, 2e7, 10));  // no 16-bit HeightScale spans 20,000 km
    EXPECT_FALSE(chooseTrueScale(5, 4, 10));
}

TEST(TrueScale, HeaderCarriesScalBeforeAltw) {
    // 3 x 5 grid, 10 m, HeightScale 27, BaseHeight -3.
    const auto h = trueScaleHeader(3, 5, 2, 10.0f, 27, -3);
    const std::uint8_t expected[] = {
        'T', 'E', 'R',  'R',  'A', 'G', 'E',  'N',  'T', 'E', 'R', 'R', 'A', 'I', 'N',  ' ',
        'S', 'I', 'Z',  'E',  2,   0,   0,    0,    'X', 'P', 'T', 'S', 5,   0,   0,    0,
        'Y', 'P', 'T',  'S',  3,   0,   0,    0,    'S', 'C', 'A', 'L', 0,   0,   0x20, 0x41,
        0,   0,   0x20, 0x41, 0,   0,   0x20, 0x41, 'A', 'L', 'T', 'W', 27,  0,   0xFD, 0xFF};
    ASSERT_EQ(h.size(), sizeof expected);
    for (std::size_t i = 0; i < h.size(); ++i) EXPECT_EQ(h[i], expected[i]) << "byte " << i;
    // Points spaced apart on each axis: x 2.5 m, y 8 m, z still the height's scale.
    const auto apart = trueScaleHeader(3, 5, 2, 10.0f, 27, -3, {2.5f, 8.0f});
    const std::uint8_t scal[] = {0, 0, 0x20, 0x40, 0, 0, 0, 0x41, 0, 0, 0x20, 0x41};
    for (std::size_t i = 0; i < sizeof scal; ++i) EXPECT_EQ(apart[44 + i], scal[i]) << i;
}

}  // namespace
}  // namespace marlwood
