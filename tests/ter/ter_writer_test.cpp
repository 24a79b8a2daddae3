#include "ter/ter_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "common/dem_types.h"

namespace marlwood {
namespace {

std::vector<std::uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(TerWriter, TheSmallFileByteForByte) {
    const std::int32_t values[2][3] = {{0, 16000, 32000}, {kVoidMarker, 1, 256}};
    std::ostringstream out;
    const auto header = terHeader(2, 3, 30, 1);
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    writeTerBody(out, 2, 3, [&](std::int32_t y, std::int32_t* heights) {
        std::copy(values[y], values[y] + 3, heights);
    });
    const std::vector<std::uint8_t> expected = {
        0x54, 0x45, 0x52, 0x52, 0x41, 0x47, 0x45, 0x4E, 0x54, 0x45, 0x52, 0x52, 0x41,
        0x49, 0x4E, 0x20, 0x53, 0x49, 0x5A, 0x45, 0x01, 0x00, 0x00, 0x00, 0x58, 0x50,
        0x54, 0x53, 0x03, 0x00, 0x00, 0x00, 0x59, 0x50, 0x54, 0x53, 0x02, 0x00, 0x00,
        0x00, 0x41, 0x4C, 0x54, 0x57, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3E,
        0x00, 0x7D, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x45, 0x4F, 0x46, 0x20};
    EXPECT_EQ(bytesOf(out.str()), expected);
}

TEST(TerWriter, SixteenBitFields) {
    const struct {
        std::int32_t value;
        std::uint8_t low, high;
    } cases[] = {{30, 0x1E, 0x00},     {300, 0x2C, 0x01},   {-5, 0xFB, 0xFF}, {70000, 0x70, 0x11},
                 {32000, 0x00, 0x7D},  {31999, 0xFF, 0x7C}, {1, 0x01, 0x00},  {256, 0x00, 0x01},
                 {-35200, 0x80, 0x76}, {10, 0x0A, 0x00}};
    for (const auto& c : cases) {
        const auto header = terHeader(3, 5, c.value, 2);
        EXPECT_EQ(header[44], c.low) << c.value;
        EXPECT_EQ(header[45], c.high) << c.value;
        EXPECT_EQ(header[46], 0);
        EXPECT_EQ(header[47], 0);
    }
    const auto header = terHeader(3, 5, 30, 2);
    const std::vector<std::uint8_t> sizes(header.begin() + 20, header.begin() + 40);
    EXPECT_EQ(sizes, (std::vector<std::uint8_t>{2, 0, 0,   0,   'X', 'P', 'T', 'S', 5, 0,
                                                0, 0, 'Y', 'P', 'T', 'S', 3,   0,   0, 0}));
}

// Bodies larger than one output block come out whole, row by row, ending in "EOF ".
TEST(TerWriter, LargeBodiesAndVoidRows) {
    const std::int32_t rows = 300, columns = 257;
    std::ostringstream out;
    const auto header = terHeader(rows, columns, 30, columns - 1);
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    writeTerBody(out, rows, columns, [&](std::int32_t i, std::int32_t* heights) {
        for (std::int32_t j = 0; j < columns; ++j) {
            heights[j] = i == rows - 1 ? kVoidMarker : i * 100 + j;
        }
    });
    const std::string file = out.str();
    ASSERT_EQ(file.size(), 52u + 2u * rows * columns);
    for (std::int32_t i = 0; i < rows - 1; ++i) {
        for (std::int32_t j = 0; j < columns; ++j) {
            const std::size_t at = 48 + 2 * static_cast<std::size_t>(i * columns + j);
            const auto v =
                static_cast<std::uint8_t>(file[at]) | static_cast<std::uint8_t>(file[at + 1]) << 8;
            ASSERT_EQ(v, i * 100 + j);
        }
    }
    EXPECT_EQ(file.substr(file.size() - 4 - 2 * columns, 2 * columns),
              std::string(2 * columns, '\0'));
    EXPECT_EQ(file.substr(file.size() - 4), "EOF ");
}

}  // namespace
}  // namespace marlwood
