// The EXR heightmap as tinyexr's own reader takes it back: one float channel R, ZIP-compressed,
// every value bit for bit, whatever the number of 16-row blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "heightmap/heightmap_writer.h"
#include "temp_dir.h"

#if MARLWOOD_TEST_EXR
#include <tinyexr.h>
#endif

namespace marlwood {
namespace {

// Metres with decimals, below sea level, above Everest and at a float's finest steps.
float pattern(std::int32_t row, std::int32_t column) {
    return static_cast<float>((row * 131 + column * 7) % 9001) * 0.987654f - 432.1f +
           static_cast<float>(row ^ column) * 1e-3f;
}
const FloatRowSource kPattern = [](std::int32_t row, std::span<float> values) {
    for (std::size_t k = 0; k < values.size(); ++k) {
        values[k] = pattern(row, static_cast<std::int32_t>(k));
    }
};

#if MARLWOOD_TEST_EXR
TEST(ExrWriter, TinyexrReadsEveryValueBack) {
    const struct { std::int32_t rows, columns; } sizes[] = {{1, 1}, {3, 7}, {17, 300}, {40, 33}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.rows * 1000 + s.columns);
        testsupport::TempDir tmp;
        const std::string path = tmp / "h.exr";
        ASSERT_TRUE(writeExr32(path, s.rows, s.columns, kPattern));
        EXRVersion version;
        ASSERT_EQ(ParseEXRVersionFromFile(&version, path.c_str()), TINYEXR_SUCCESS);
        EXRHeader header;
        InitEXRHeader(&header);
        const char* problem = nullptr;
        ASSERT_EQ(ParseEXRHeaderFromFile(&header, &version, path.c_str(), &problem),
                  TINYEXR_SUCCESS);
        ASSERT_EQ(header.num_channels, 1);
        EXPECT_STREQ(header.channels[0].name, "R");
        EXPECT_EQ(header.pixel_types[0], TINYEXR_PIXELTYPE_FLOAT);
        EXPECT_EQ(header.compression_type, TINYEXR_COMPRESSIONTYPE_ZIP);
        EXRImage image;
        InitEXRImage(&image);
        ASSERT_EQ(LoadEXRImageFromFile(&image, &header, path.c_str(), &problem), TINYEXR_SUCCESS);
        ASSERT_EQ(image.width, s.columns);
        ASSERT_EQ(image.height, s.rows);
        const auto* values = reinterpret_cast<const float*>(image.images[0]);
        int off = 0;
        for (std::int32_t r = 0; r < s.rows; ++r) {
            for (std::int32_t c = 0; c < s.columns; ++c) {
                const float want = pattern(r, c);
                off += std::memcmp(&values[r * s.columns + c], &want, sizeof want) != 0;
            }
        }
        EXPECT_EQ(off, 0);
        FreeEXRImage(&image);
        FreeEXRHeader(&header);
    }
}
#endif

TEST(ExrWriter, RefusesWithOneLineAndLeavesNothing) {
    const struct {
        std::int32_t rows, columns;
        const char* name;
        const char* refusal;
    } cases[] = {
        {0, 5, "h.exr", "empty"}, {5, 0, "h.exr", "empty"}, {3, 3, "missing/h.exr", "missing"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir tmp;
        const Status written = writeExr32(tmp / c.name, c.rows, c.columns, kPattern);
        ASSERT_FALSE(written);
#if MARLWOOD_TEST_EXR
        EXPECT_NE(written.message().find(c.refusal), std::string::npos) << written.message();
#else
        EXPECT_NE(written.message().find("tinyexr"), std::string::npos) << written.message();
#endif
        EXPECT_EQ(written.message().find('\n'), std::string::npos);
        EXPECT_EQ(tmp.entries(), 0u);
    }
}

}  // namespace
}  // namespace marlwood
