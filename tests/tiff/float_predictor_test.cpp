#include "tiff/float_predictor.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

namespace marlwood {
namespace {

// What a reader does with the bytes: sums them back, then takes each sample's four bytes from
// the four planes, most significant first.
std::vector<float> undo(std::vector<std::uint8_t> bytes) {
    for (std::size_t i = 1; i < bytes.size(); ++i) bytes[i] += bytes[i - 1];
    const std::size_t n = bytes.size() / 4;
    std::vector<float> row(n);
    for (std::size_t i = 0; i < n; ++i) {
        row[i] =
            std::bit_cast<float>(std::uint32_t{bytes[i]} << 24 | std::uint32_t{bytes[n + i]} << 16 |
                                 std::uint32_t{bytes[2 * n + i]} << 8 | bytes[3 * n + i]);
    }
    return row;
}

// Rows whose bytes are worked out by hand, then rows of every length around the vector widths
// (and a quad's), with voids and signs, that a reader must get back bit for bit.
TEST(FloatPredictor, BytesAsTheReaderUndoesThem) {
    const struct {
        std::vector<float> row;
        std::vector<std::uint8_t> bytes;
    } known[] = {
        {{1.0f}, {0x3F, 0x41, 0x80, 0x00}},                                // 3F 80 00 00
        {{-32767.0f}, {0xC6, 0x39, 0xFF, 0x02}},                           // C6 FF FE 00
        {{1.0f, 2.0f}, {0x3F, 0x01, 0x40, 0x80, 0x00, 0x00, 0x00, 0x00}},  // 3F 40, 80 00, 0 0, 0 0
        {{0.0f, 0.0f, 0.0f}, std::vector<std::uint8_t>(12, 0)},
    };
    for (const auto& c : known) {
        std::vector<std::uint8_t> out(c.bytes.size(), 0xAA);
        predictFloatRow(c.row, out);
        EXPECT_EQ(out, c.bytes) << c.row[0];
    }
    for (const std::size_t n : {1u, 2u, 3u, 7u, 8u, 15u, 16u, 17u, 31u, 33u, 64u, 1391u}) {
        std::vector<float> row(n);
        for (std::size_t i = 0; i < n; ++i) {
            row[i] = i % 5 == 2 ? -32767.0f : static_cast<float>(std::sin(i * 0.3) * 900 - 40);
        }
        std::vector<std::uint8_t> out(4 * n + 1, 0xAA);  // one byte past: never written
        predictFloatRow(row, std::span(out).first(4 * n));
        EXPECT_EQ(out.back(), 0xAA) << n;
        out.pop_back();
        const std::vector<float> back = undo(out);
        for (std::size_t i = 0; i < n; ++i) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(back[i]), std::bit_cast<std::uint32_t>(row[i]))
                << "length " << n << ", sample " << i;
        }
    }
}

}  // namespace
}  // namespace marlwood
