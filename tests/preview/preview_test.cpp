#include "preview/preview.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "temp_dir.h"

// The reader half of the library the program writes with: the test reads back what it wrote.
#define STBI_ONLY_PNG
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace marlwood {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* at(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
    bool isVoid(int x, int y) const {
        const std::uint8_t* p = at(x, y);
        return p[0] == kPreviewVoidColour[0] && p[1] == kPreviewVoidColour[1] &&
               p[2] == kPreviewVoidColour[2];
    }
    int brightness(int x, int y) const { return at(x, y)[0] + at(x, y)[1] + at(x, y)[2]; }
};

Picture writeAndRead(const PreviewInput& input) {
    const testsupport::TempDir dir;
    const std::string path = dir / "quad.png";
    const Status written = writePreview(path, input);
    EXPECT_TRUE(written) << written.message();
    Picture picture;
    int channels = 0;
    stbi_uc* data = stbi_load(path.c_str(), &picture.width, &picture.height, &channels, 3);
    EXPECT_NE(data, nullptr) << "not a PNG: " << path;
    if (data == nullptr) return {};
    picture.rgb.assign(data, data + std::size_t(picture.width) * picture.height * 3);
    stbi_image_free(data);
    EXPECT_EQ(dir.entries(), 1u) << "a temporary file was left";
    return picture;
}

// Rolling ground with a void patch in the north-west fifth of each side.
TEST(Preview, SizeAndOrientation) {
    struct Case {
        std::int32_t rows, columns;
        int width, height;
    };
    const Case cases[] = {
        {257, 341, 341, 257},     {1200, 3000, 1024, 410}, {3000, 1200, 410, 1024},
        {2048, 2048, 1024, 1024}, {5, 1100, 1024, 5},
    };
    for (const Case& c : cases) {
        const PreviewInput input{c.rows, c.columns, 10, [&](std::int32_t r, std::int32_t col) {
                                     if (5 * r < c.rows && 5 * col < c.columns) return kNaN;
                                     return 300.0 + r % 64 + col % 48;
                                 }};
        const Picture p = writeAndRead(input);
        ASSERT_EQ(p.width, c.width) << c.rows << " x " << c.columns;
        ASSERT_EQ(p.height, c.height) << c.rows << " x " << c.columns;
        int voids = 0, astray = 0;
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                if (!p.isVoid(x, y)) continue;
                ++voids;
                astray += 5 * x > p.width + 5 || 5 * y > p.height + 5;
            }
        }
        EXPECT_TRUE(p.isVoid(0, 0)) << c.rows << " x " << c.columns;
        EXPECT_EQ(astray, 0) << c.rows << " x " << c.columns;
        const int expected = (p.width / 5) * (p.height / 5);
        EXPECT_NEAR(voids, expected, p.width / 5 + p.height / 5 + 2)
            << c.rows << " x " << c.columns;
    }
}

// Two slopes of a valley, alike but for the way they face: the one facing the north-west light
// is brighter, and less so with a longer posting (the same heights, gentler slopes).
TEST(Preview, LightFromTheNorthWest) {
    struct Case {
        const char* name;
        bool along_rows;  // the valley runs north-south (slopes face east and west)
    };
    for (const Case c : {Case{"east/west", true}, Case{"north/south", false}}) {
        int contrast[2] = {};
        for (int i = 0; i < 2; ++i) {
            const PreviewInput input{101, 101, i == 0 ? 30.0 : 300.0,
                                     [&](std::int32_t r, std::int32_t col) {
                                         return 10.0 * std::abs((c.along_rows ? col : r) - 50);
                                     }};
            const Picture p = writeAndRead(input);
            // West of the valley floor the ground faces east, north of it south: away.
            const int away = c.along_rows ? p.brightness(30, 50) : p.brightness(50, 30);
            const int towards = c.along_rows ? p.brightness(70, 50) : p.brightness(50, 70);
            contrast[i] = towards - away;
        }
        EXPECT_GT(contrast[0], contrast[1]) << c.name;
        EXPECT_GT(contrast[1], 0) << c.name;
    }
}

TEST(Preview, FlatAndAllVoid) {
    for (const double height : {250.0, kNaN}) {
        const Picture p =
            writeAndRead({40, 60, 30, [&](std::int32_t, std::int32_t) { return height; }});
        ASSERT_EQ(p.width * p.height, 2400);
        int differing = 0;
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                differing += !std::equal(p.at(x, y), p.at(x, y) + 3, p.at(0, 0));
            }
        }
        EXPECT_EQ(differing, 0) << height;
        EXPECT_EQ(p.isVoid(0, 0), std::isnan(height)) << height;
    }
}

// The picture as bytes for another file to hold is the preview file's; a posting of its own
// between rows makes the slopes facing north and south gentler, and no other.
TEST(Preview, PngBytesAndAPostingBetweenRows) {
    const auto valley = [](bool along_rows, double posting_y_m) {
        return PreviewInput{101, 101, 30.0,
                            [along_rows](std::int32_t r, std::int32_t col) {
                                return 10.0 * std::abs((along_rows ? col : r) - 50);
                            },
                            posting_y_m};
    };
    const auto decode = [](const std::string& png) {
        Picture p;
        int channels = 0;
        stbi_uc* data =
            stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()),
                                  static_cast<int>(png.size()), &p.width, &p.height, &channels, 3);
        EXPECT_NE(data, nullptr);
        if (data == nullptr) return p;
        p.rgb.assign(data, data + std::size_t(p.width) * p.height * 3);
        stbi_image_free(data);
        return p;
    };
    const std::string png = previewPng(valley(false, 0));
    const testsupport::TempDir dir;
    ASSERT_TRUE(writePreview(dir / "v.png", valley(false, 0)));
    std::ifstream file(dir / "v.png", std::ios::binary);
    EXPECT_EQ(png, std::string(std::istreambuf_iterator<char>(file), {}));
    EXPECT_EQ(previewPng(valley(false, 30)), png);
    const Picture near = decode(png), far = decode(previewPng(valley(false, 300)));
    ASSERT_EQ(far.width, 101);
    EXPECT_LT(far.brightness(50, 70) - far.brightness(50, 30),
              near.brightness(50, 70) - near.brightness(50, 30));
    EXPECT_EQ(previewPng(valley(true, 300)), previewPng(valley(true, 0)));
    EXPECT_EQ(previewPng({0, 10, 30, [](std::int32_t, std::int32_t) { return 1.0; }}), "");
}

TEST(Preview, NothingIsLeftWhenItCannotBeWritten) {
    const testsupport::TempDir dir;
    const auto flat = [](std::int32_t, std::int32_t) { return 1.0; };
    struct Case {
        std::string path;
        PreviewInput input;
    };
    const Case cases[] = {
        {dir / "missing/quad.png", {10, 10, 30, flat}},
        {dir / "empty.png", {0, 10, 30, flat}},
        {dir / "no-heights.png", {10, 10, 30, nullptr}},
    };
    for (const Case& c : cases) {
        const Status written = writePreview(c.path, c.input);
        ASSERT_FALSE(written) << c.path;
        EXPECT_NE(written.message().find(c.path), std::string::npos) << written.message();
    }
    EXPECT_EQ(dir.entries(), 0u);
}

}  // namespace
}  // namespace marlwood
