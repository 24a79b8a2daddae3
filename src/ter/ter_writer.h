#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <ostream>

namespace marlwood {

inline constexpr std::size_t kTerHeaderSize = 48;

// Largest row or column count a .ter file can carry: its size fields have 16 bits.
inline constexpr std::int32_t kMaxTerSide = 65535;

// Low 16 bits of v, little-endian; higher bits are dropped.
inline void putLe16(std::uint8_t* to, std::int32_t v) {
    to[0] = static_cast<std::uint8_t>(v & 0xFF);
    to[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

// "TERRAGEN" "TERRAIN " and the chunks SIZE, XPTS, YPTS and ALTW (HeightScale, BaseHeight 0).
std::array<std::uint8_t, kTerHeaderSize> terHeader(std::int32_t rows, std::int32_t columns,
                                                   std::int32_t height_scale,
                                                   std::int32_t min_rows_cols);

// The header of a true-scale file: the same chunks with SCAL (metres for x, y and z, as 32-bit
// little-endian floats) before ALTW, and ALTW's BaseHeight as given. SCAL's z is `scal_m`, and
// so are x and y unless the points' spacing east-west (x) and north-south (y) is given apart.
inline constexpr std::size_t kTrueScaleHeaderSize = kTerHeaderSize + 16;
struct PointSpacing {
    float x_m = 0, y_m = 0;  // 0: scal_m
};
std::array<std::uint8_t, kTrueScaleHeaderSize> trueScaleHeader(
    std::int32_t rows, std::int32_t columns, std::int32_t min_rows_cols, float scal_m,
    std::int32_t height_scale, std::int32_t base_height, PointSpacing spacing = {});

// Fills `heights` (one row's cells) with row y of the file, the southern row first.
using HeightRows = std::function<void(std::int32_t y, std::int32_t* heights)>;

// The heights row by row, 16-bit little-endian, a void marker as `void_height` (0, the bottom of
// the colormap, unless told otherwise), then "EOF ". The rows are made as they are written, so no
// second grid is ever held.
void writeTerBody(std::ostream& output_stream, std::int32_t rows, std::int32_t columns,
                  const HeightRows& row_heights, std::int32_t void_height = 0);

}  // namespace marlwood
