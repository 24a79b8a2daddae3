#include "ter/ter_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "common/dem_types.h"

namespace marlwood {

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;
constexpr char kEndMarker[] = {'E', 'O', 'F', ' '};

void putChunk(std::uint8_t* to, const char (&tag)[5], std::int32_t value) {
    std::memcpy(to, tag, 4);
    putLe16(to + 4, value);
    to[6] = 0;
    to[7] = 0;
}

void write(std::ostream& out, const std::uint8_t* bytes, std::size_t count) {
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
}

}  // namespace

std::array<std::uint8_t, kTerHeaderSize> terHeader(std::int32_t rows, std::int32_t columns,
                                                   std::int32_t height_scale,
                                                   std::int32_t min_rows_cols) {
    std::array<std::uint8_t, kTerHeaderSize> header{};
    std::memcpy(header.data(), "TERRAGENTERRAIN ", 16);
    putChunk(header.data() + 16, "SIZE", min_rows_cols);
    putChunk(header.data() + 24, "XPTS", columns);
    putChunk(header.data() + 32, "YPTS", rows);
    putChunk(header.data() + 40, "ALTW", height_scale);  // HeightScale, then BaseHeight 0
    return header;
}

std::array<std::uint8_t, kTrueScaleHeaderSize> trueScaleHeader(
    std::int32_t rows, std::int32_t columns, std::int32_t min_rows_cols, float scal_m,
    std::int32_t height_scale, std::int32_t base_height, PointSpacing spacing) {
    std::array<std::uint8_t, kTrueScaleHeaderSize> header{};
    const auto plain = terHeader(rows, columns, height_scale, min_rows_cols);
    std::copy(plain.begin(), plain.begin() + 40, header.begin());
    std::memcpy(header.data() + 40, "SCAL", 4);
    const float axes[3] = {spacing.x_m > 0 ? spacing.x_m : scal_m,
                           spacing.y_m > 0 ? spacing.y_m : scal_m, scal_m};
    for (int axis = 0; axis < 3; ++axis) {
        const auto bits = std::bit_cast<std::uint32_t>(axes[axis]);
        for (int k = 0; k < 4; ++k) {
            header[static_cast<std::size_t>(44 + 4 * axis + k)] =
                static_cast<std::uint8_t>((bits >> (8 * k)) & 0xFF);
        }
    }
    putChunk(header.data() + 56, "ALTW", height_scale);
    putLe16(header.data() + 62, base_height);
    return header;
}

void writeTerBody(std::ostream& output_stream, std::int32_t rows, std::int32_t columns,
                  const HeightRows& row_heights, std::int32_t void_height) {
    const std::size_t row_bytes = 2 * static_cast<std::size_t>(std::max(columns, 0));
    std::vector<std::uint8_t> block(std::max(kBlockSize, row_bytes));
    std::vector<std::int32_t> heights(static_cast<std::size_t>(std::max(columns, 0)) + 1);
    std::size_t used = 0;
    for (std::int32_t y = 0; y < rows; ++y) {
        if (used + row_bytes > block.size()) {
            write(output_stream, block.data(), used);
            used = 0;
        }
        row_heights(y, heights.data());
        const std::int32_t* row = heights.data();
        std::uint8_t* to = block.data() + used;
        for (std::int32_t x = 0; x < columns; ++x, to += 2) {
            const std::int32_t v = row[x];
            putLe16(to, v == kVoidMarker ? void_height : v);
        }
        used += row_bytes;
    }
    write(output_stream, block.data(), used);
    output_stream.write(kEndMarker, sizeof kEndMarker);
}

}  // namespace marlwood
