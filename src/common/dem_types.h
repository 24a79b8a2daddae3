#pragma once

#include <cstdint>

// The few values every subsystem agrees on: how cells are encoded, the posting classes, and what
// counts as data.
namespace marlwood {

// 'I' for BI16 (two-byte big-endian integers), 'F' for BFP32; any other byte may come from DDSH.
using ValueType = char;
inline constexpr ValueType kBi16 = 'I';
inline constexpr ValueType kBfp32 = 'F';

// Grid spacing class: 1 for a 10 m posting, 3 for 30 m, kNoSpacing when IREF says neither.
using GridSpacing = std::int32_t;
inline constexpr GridSpacing kSpacing10m = 1;
inline constexpr GridSpacing kSpacing30m = 3;
inline constexpr GridSpacing kNoSpacing = 0;

// USGS no-data value; raw cells start with it, so a cell that no record fills stays void.
inline constexpr std::int32_t kNoData = -32767;

// Elevations above -1000 are valid: only they set the colormap's range, and everything else is
// void in the output.
inline constexpr std::int32_t kVoidThreshold = -1000;
constexpr bool isValidElevation(std::int32_t v) {
    return v > kVoidThreshold;
}

// True-scale output keeps elevations in thousandths of their unit, so BFP32 fractions survive.
inline constexpr std::int32_t kThousandths = 1000;

// A void cell among the heights of a terrain; written to the file as height 0 (or the floor).
inline constexpr std::int32_t kVoidMarker = 65535;

// The grid's shape as LDEF gives it; min_rows_cols is the .ter file's SIZE.
struct GridSize {
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    std::int32_t min_rows_cols = -1;
};

// SPDM's corner coordinates, each held as the nearest 32-bit float.
struct Corners {
    float sw_cornerx = 0, sw_cornery = 0, nw_cornerx = 0, nw_cornery = 0;
    float ne_cornerx = 0, ne_cornery = 0, se_cornerx = 0, se_cornery = 0;
};

}  // namespace marlwood
