#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/result.h"
#include "heightmap/heightmap.h"

namespace marlwood {

class FileSet;  // platform/whole_file.h

// Fills `values` (one row, `columns` points west to east) with row `row`'s heights, row 0 the
// northern one. Rows may be asked for in any order; it must not throw.
using HeightmapRowSource = std::function<void(std::int32_t row, std::span<std::uint16_t> values)>;

// A 16-bit grayscale PNG of `rows` x `columns`, north row first, written whole through a
// temporary name (into `set`, renamed with it, when one is given). libpng is loaded on the first
// call; a machine (or build) without it gets an Error naming what is missing.
Status writePng16(const std::string& path, std::int32_t rows, std::int32_t columns,
                  const HeightmapRowSource& source, FileSet* set = nullptr);

// Raw 16-bit heights, no header: exactly rows x columns x 2 bytes in `order`, the north row first
// (Unreal's .r16) or the south row first (Unity's .raw, whose row 0 is the z = 0 edge); into `set`
// as a PNG is.
enum class RowOrder { NorthFirst, SouthFirst };
Status writeRaw16(const std::string& path, std::int32_t rows, std::int32_t columns,
                  const HeightmapRowSource& source, ByteOrder order, RowOrder row_order,
                  FileSet* set = nullptr);

// Fills `values` (one row, west to east) with row `row`'s heights in metres, row 0 the northern
// one, asked for in order; it must not throw.
using FloatRowSource = std::function<void(std::int32_t row, std::span<float> values)>;

// An OpenEXR image of `rows` x `columns` 32-bit floats in one channel, R (what Godot's loader
// reads as a one-channel float image), north row first, ZIP-compressed, written whole into `set`
// or through a temporary name. The library is loaded on the first call; a machine (or build)
// without it gets an Error naming what is missing.
Status writeExr32(const std::string& path, std::int32_t rows, std::int32_t columns,
                  const FloatRowSource& source, FileSet* set = nullptr);

}  // namespace marlwood
