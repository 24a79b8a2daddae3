#pragma once

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace marlwood::testsupport {

// A 16-bit grayscale PNG as libpng reads it (linked into the tests, not loaded as the program
// does), north row first; width 0 when it is not one.
struct Png16 {
    std::uint32_t width = 0, height = 0;
    int bit_depth = 0, colour_type = -1;
    std::vector<std::uint16_t> values;  // height * width

    std::uint16_t at(std::uint32_t row, std::uint32_t column) const {
        return values[static_cast<std::size_t>(row) * width + column];
    }
};

inline bool readPng16Into(std::FILE* file, Png16& image) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    image.width = png_get_image_width(png, info);
    image.height = png_get_image_height(png, info);
    image.bit_depth = png_get_bit_depth(png, info);
    image.colour_type = png_get_color_type(png, info);
    if (image.bit_depth != 16 || image.colour_type != PNG_COLOR_TYPE_GRAY) {
        png_destroy_read_struct(&png, &info, nullptr);
        return true;
    }
    image.values.resize(static_cast<std::size_t>(image.width) * image.height);
    std::vector<unsigned char> row(static_cast<std::size_t>(image.width) * 2);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        png_read_row(png, row.data(), nullptr);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            image.values[y * image.width + x] =
                static_cast<std::uint16_t>(row[2 * x] << 8 | row[2 * x + 1]);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

inline Png16 readPng16(const std::string& path) {
    Png16 image;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        if (!readPng16Into(file, image)) image = Png16{};
        std::fclose(file);
    }
    return image;
}

}  // namespace marlwood::testsupport
