#include "preview/preview.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

// The PNG encoder (Debian libstb-dev), compiled here and nowhere else, its functions private to
// this file; it writes through a callback, so the files are opened as the program opens its own.
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "platform/whole_file.h"

namespace marlwood {

namespace {

struct Size {
    std::int32_t width = 0, height = 0;
};

Size pictureSize(std::int32_t rows, std::int32_t columns) {
    const std::int32_t long_side = std::max(rows, columns);
    if (long_side <= kPreviewMaxSide) return {columns, rows};
    const auto shrink = [long_side](std::int32_t side) {
        const double scaled = static_cast<double>(side) * kPreviewMaxSide / long_side;
        return std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(scaled)));
    };
    return {shrink(columns), shrink(rows)};
}

// First cell of block `i` when `cells` are shared out among `blocks` (blocks <= cells).
std::int32_t blockStart(std::int32_t i, std::int32_t cells, std::int32_t blocks) {
    return static_cast<std::int32_t>(std::int64_t{i} * cells / blocks);
}

constexpr float kVoid = std::numeric_limits<float>::quiet_NaN();

// Pixel elevations, row-major, NaN for a void pixel: each the mean of the valid cells of its
// block, read a block row at a time.
std::vector<float> averageBlocks(const PreviewInput& input, Size size) {
    const auto width = static_cast<std::size_t>(size.width);
    std::vector<float> pixels(width * static_cast<std::size_t>(size.height), kVoid);
    std::vector<std::int32_t> pixel_of_column(static_cast<std::size_t>(input.columns));
    for (std::int32_t x = 0; x < size.width; ++x) {
        const std::int32_t end = blockStart(x + 1, input.columns, size.width);
        for (std::int32_t c = blockStart(x, input.columns, size.width); c < end; ++c) {
            pixel_of_column[static_cast<std::size_t>(c)] = x;
        }
    }
    std::vector<double> sum(width);
    std::vector<std::int64_t> count(width);
    for (std::int32_t y = 0; y < size.height; ++y) {
        const std::int32_t first = blockStart(y, input.rows, size.height);
        const std::int32_t end = blockStart(y + 1, input.rows, size.height);
        std::fill(sum.begin(), sum.end(), 0.0);
        std::fill(count.begin(), count.end(), 0);
        for (std::int32_t r = first; r < end; ++r) {
            for (std::int32_t c = 0; c < input.columns; ++c) {
                const double m = input.metres(r, c);
                if (!std::isfinite(m)) continue;
                const auto x =
                    static_cast<std::size_t>(pixel_of_column[static_cast<std::size_t>(c)]);
                sum[x] += m;
                ++count[x];
            }
        }
        for (std::int32_t x = 0; x < size.width; ++x) {
            const auto at = static_cast<std::size_t>(x);
            const std::int64_t cells =
                std::int64_t{end - first} * (blockStart(x + 1, input.columns, size.width) -
                                             blockStart(x, input.columns, size.width));
            if (2 * count[at] > cells) {
                pixels[static_cast<std::size_t>(y) * width + at] =
                    static_cast<float>(sum[at] / static_cast<double>(count[at]));
            }
        }
    }
    return pixels;
}

// Rise per metre across a pixel from its neighbours on either side, or on one side where the
// other is void or off the picture; flat where both are.
double rise(float before, float here, float after, double spacing) {
    const bool has_before = !std::isnan(before), has_after = !std::isnan(after);
    if (has_before && has_after) return (after - before) / (2 * spacing);
    if (has_after) return (after - here) / spacing;
    if (has_before) return (here - before) / spacing;
    return 0;
}

struct Stop {
    double at;
    double rgb[3];
};
// Lowlands green, through tan and brown, to white peaks. No channel is 0, so no shade of the
// ramp is the void colour.
constexpr Stop kRamp[] = {
    {0.00, {70, 130, 60}},  {0.35, {150, 180, 95}},  {0.60, {195, 165, 110}},
    {0.85, {140, 100, 65}}, {1.00, {250, 250, 250}},
};

void tint(double t, double brightness, std::uint8_t* rgb) {
    std::size_t i = 1;
    while (i + 1 < std::size(kRamp) && t > kRamp[i].at) ++i;
    const Stop &low = kRamp[i - 1], &high = kRamp[i];
    const double f = std::clamp((t - low.at) / (high.at - low.at), 0.0, 1.0);
    for (int k = 0; k < 3; ++k) {
        const double v = (low.rgb[k] + f * (high.rgb[k] - low.rgb[k])) * brightness;
        rgb[k] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 1L, 255L));
    }
}

// RGB pixels: hillshade times tint, voids in their colour.
std::vector<std::uint8_t> colour(const std::vector<float>& pixels, Size size,
                                 const PreviewInput& input) {
    float low = std::numeric_limits<float>::infinity(), high = -low;
    for (const float e : pixels) {
        if (std::isnan(e)) continue;
        low = std::min(low, e);
        high = std::max(high, e);
    }
    // Ground distance between pixel centres, east and south.
    const double dx = input.posting_m * input.columns / size.width;
    const double dy =
        (input.posting_y_m > 0 ? input.posting_y_m : input.posting_m) * input.rows / size.height;
    // Towards the light: azimuth 315 degrees, altitude 45 (east, north, up).
    const double light_east = -0.5, light_north = 0.5, light_up = std::sqrt(0.5);
    const auto width = static_cast<std::size_t>(size.width);
    const auto at = [&](std::int32_t x, std::int32_t y) {
        if (x < 0 || y < 0 || x >= size.width || y >= size.height) return kVoid;
        return pixels[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)];
    };
    std::vector<std::uint8_t> rgb(pixels.size() * 3);
    for (std::int32_t y = 0; y < size.height; ++y) {
        for (std::int32_t x = 0; x < size.width; ++x) {
            std::uint8_t* out = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            const float e = at(x, y);
            if (std::isnan(e)) {
                std::copy(kPreviewVoidColour, kPreviewVoidColour + 3, out);
                continue;
            }
            const double east = rise(at(x - 1, y), e, at(x + 1, y), dx);
            const double north = -rise(at(x, y - 1), e, at(x, y + 1), dy);
            // The surface normal (-east, -north, 1), against the light.
            const double shade = (-east * light_east - north * light_north + light_up) /
                                 std::sqrt(east * east + north * north + 1);
            // Flat ground at full tint; slopes facing the light brighter, others darker.
            const double brightness = 0.25 + 0.75 * std::max(shade, 0.0) / light_up;
            tint(high > low ? (e - low) / (high - low) : 0.0, brightness, out);
        }
    }
    return rgb;
}

void appendTo(void* context, void* data, int size) {
    static_cast<std::ostream*>(context)->write(static_cast<const char*>(data), size);
}

void appendToString(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                               static_cast<std::size_t>(size));
}

// The picture's RGB pixels and its size.
struct Picture {
    Size size;
    std::vector<std::uint8_t> rgb;
};

Picture picture(const PreviewInput& input) {
    Picture p;
    p.size = pictureSize(input.rows, input.columns);
    const std::vector<float> pixels = averageBlocks(input, p.size);
    p.rgb = colour(pixels, p.size, input);
    return p;  // the elevations go before the encoder takes its memory
}

bool empty(const PreviewInput& input) {
    return input.rows <= 0 || input.columns <= 0 || !input.metres;
}

}  // namespace

Status writePreview(const std::string& png_path, const PreviewInput& input) {
    if (empty(input)) return failure("no preview " + png_path + ": the grid is empty");
    const Picture p = picture(input);
    return writeWholeFile(png_path, [&](std::ostream& out) {
        return stbi_write_png_to_func(appendTo, &out, p.size.width, p.size.height, 3, p.rgb.data(),
                                      p.size.width * 3) != 0;
    });
}

std::string previewPng(const PreviewInput& input) {
    if (empty(input)) return {};
    const Picture p = picture(input);
    std::string png;
    if (stbi_write_png_to_func(appendToString, &png, p.size.width, p.size.height, 3, p.rgb.data(),
                               p.size.width * 3) == 0) {
        return {};
    }
    return png;
}

}  // namespace marlwood
