#include "tiff/deflate_library.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace marlwood::tiff_detail {
namespace {

// What a reader does with a strip: zlib inflates it back to the bytes given; a buffer too small
// for the stream is a failure (0), never a cut stream.
TEST(Deflater, WhatItWritesInflatesBack) {
    Result<Deflater> deflater = Deflater::make(1);
    ASSERT_TRUE(deflater) << deflater.message();
    std::uint32_t noise = 12345;
    const struct {
        const char* what;
        std::size_t size;
        std::uint8_t (*byte)(std::size_t i, std::uint32_t& noise);
    } cases[] = {
        {"one byte", 1, [](std::size_t, std::uint32_t&) -> std::uint8_t { return 7; }},
        {"zeros", 4096, [](std::size_t, std::uint32_t&) -> std::uint8_t { return 0; }},
        {"steps", 89024,
         [](std::size_t i, std::uint32_t&) { return static_cast<std::uint8_t>(i / 300); }},
        {"noise", 89024,
         [](std::size_t, std::uint32_t& n) {
             n = n * 1664525u + 1013904223u;
             return static_cast<std::uint8_t>(n >> 24);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> in(c.size);
        for (std::size_t i = 0; i < c.size; ++i) in[i] = c.byte(i, noise);
        std::vector<std::uint8_t> out(deflater->bound(c.size));
        const std::size_t written = deflater->compress(in, out);
        ASSERT_GT(written, 0u);
        ASSERT_LE(written, out.size());
        std::vector<std::uint8_t> back(c.size + 1);
        uLongf back_size = static_cast<uLongf>(back.size());
        ASSERT_EQ(::uncompress(back.data(), &back_size, out.data(), static_cast<uLong>(written)),
                  Z_OK);
        back.resize(back_size);
        EXPECT_EQ(back, in);
        EXPECT_EQ(deflater->compress(in, std::span(out).first(written - 1)), 0u);
    }
}

}  // namespace
}  // namespace marlwood::tiff_detail
