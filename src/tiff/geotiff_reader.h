#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/grid_placement.h"
#include "common/result.h"
#include "tiff/geotiff_decode.h"

namespace marlwood {

// Bytes `length` from `offset`.
struct ByteSpan {
    std::uint64_t offset = 0, length = 0;
};

// Bytes read on demand from elsewhere (a server): `size` of them, `read` filling `out` with those
// at `offset` (all of them, or a failure). `expect`, when set, is told the spans about to be read
// so that it can fetch them together, and those to be read after them (`next`) so that it can
// fetch them meanwhile.
struct RangedBytes {
    std::uint64_t size = 0;
    std::function<Status(std::uint64_t offset, std::span<std::uint8_t> out)> read;
    std::function<Status(std::span<const ByteSpan> now, std::span<const ByteSpan> next)> expect;
};

// Where a GeoTIFF's bytes are: a file, read a block at a time (a 3DEP tile is ~450 MB), bytes
// already in memory (the fuzzer, tests), or ranges read on demand (a tile on a server).
struct GeoTiffSource {
    std::string name;                          // the path, or what the lines call the bytes
    std::shared_ptr<const std::string> bytes;  // null: the file `name`, or `ranged`
    std::shared_ptr<const RangedBytes> ranged;

    static GeoTiffSource file(std::string path) { return {std::move(path), nullptr, nullptr}; }
    static GeoTiffSource memory(std::string name, std::shared_ptr<const std::string> bytes) {
        return {std::move(name), std::move(bytes), nullptr};
    }
    static GeoTiffSource ranges(std::string name, std::shared_ptr<const RangedBytes> ranged) {
        return {std::move(name), nullptr, std::move(ranged)};
    }
};

// Sides up to 2^31 - 1 cells; a decoded block of at most this many bytes (a 3DEP tile's block
// is 1 MiB; a whole uncompressed strip of such a tile 43 KiB a row).
inline constexpr std::uint64_t kMaxBlockBytes = std::uint64_t{256} << 20;

// An image of the file at one resolution: the full one or a reduced one (an overview).
struct ImageLevel {
    std::int32_t width = 0, height = 0;
};

// The most reduced images a file may list: a 3DEP tile has four.
inline constexpr std::size_t kMostLevels = 30;

// What one image of a GeoTIFF holds (the full one, or one of its overviews) and where it lies.
struct GeoTiffInfo {
    std::int32_t width = 0, height = 0;  // columns, rows
    SampleType sample_type = SampleType::Float32;
    bool planar_separate = false;  // one sample a cell, so the same bytes either way
    bool tiled = false;
    std::uint32_t block_width = 0, block_height = 0;  // a strip: the width and rows per strip
    std::uint16_t compression = 1;                    // TIFF's code: 1 none, 5 LZW, 8 DEFLATE...
    std::uint16_t predictor = 1;                      // 1 none, 2 horizontal, 3 floating point
    bool byte_swapped = false;                        // the file's byte order is not this machine's
    std::optional<double> no_data;                    // GDAL's NoData tag
    bool has_geo_keys = false;
    GeoKeys keys;
    GeoTiffCrs crs;
    std::optional<GeoTransform> geotransform;  // the cells' outer corners, north up
    bool pixel_is_point = false;
    LengthUnit linear_unit = LengthUnit::NotGiven;    // of a projected system
    LengthUnit vertical_unit = LengthUnit::NotGiven;  // of the elevations
    // The file's images, the full one first, then its overviews each about half the one before;
    // `level` is the one described above (its geotransform the full image's, scaled). Every
    // overview is listed by readGeoTiffInfo; GeoTiffRows lists those up to its level.
    std::vector<ImageLevel> levels;
    std::int32_t level = 0;

    std::uint32_t blocksAcross() const { return (uint32_t(width) - 1) / block_width + 1; }
    std::uint32_t blocksDown() const { return (uint32_t(height) - 1) / block_height + 1; }
};

// Reads the tags of the full image and of image `level` (0: the full one, k: its k-th overview)
// through libtiff (loaded on the first call) and checks every count, size and placement before
// anything is read from its blocks. Overviews are images marked reduced (NewSubfileType 1) with
// the full image's sample type, compression and predictor; masks are passed over. One that is
// not about half the one before, or differs, refuses the file in one line.
Result<GeoTiffInfo> readGeoTiffInfo(const GeoTiffSource& source, std::int32_t level = 0);

// The one line refusing a file that marlwood cannot place on the ground; nothing when it can.
inline Status checkPlaceable(const GeoTiffInfo& info, const std::string& name) {
    return checkPlaceable(info.crs, info.geotransform.has_value(), name);
}

// Cells `rows` x `columns` from row `first_row`, column `first_column` of image `level` (0: the
// full one, k: its k-th overview).
struct RasterWindow {
    std::int32_t first_row = 0, first_column = 0, rows = 0, columns = 0;
    std::int32_t level = 0;
};

// How blocks compressed with DEFLATE are inflated: by libdeflate where it loads (the default),
// or always by libtiff (to compare the two).
enum class InflateBy { Libdeflate, Libtiff };

// A window's rows, north to south, one at a time. Only the blocks the window touches are read
// and decoded, each once: the strip, or the row of tiles, that holds the next row is kept until
// the rows leave it, so a whole tile's row of blocks is the most held at once.
class GeoTiffRows {
  public:
    struct State;  // what reading a window holds
    static Result<GeoTiffRows> open(const GeoTiffSource& source, const RasterWindow& window,
                                    InflateBy inflate = InflateBy::Libdeflate);
    // The window's blocks told to a source read by ranges that has `expect`, to be fetched
    // meanwhile; nothing for any other.
    static Status prefetch(const GeoTiffSource& source, const RasterWindow& window);
    GeoTiffRows(GeoTiffRows&&) noexcept;
    GeoTiffRows& operator=(GeoTiffRows&&) noexcept;
    ~GeoTiffRows();

    const GeoTiffInfo& info() const;
    // The next row's cells west to east, NaN where there is no data, valid until the next call;
    // an empty span after the last row.
    Result<std::span<const double>> next();

    std::int64_t blocksRead() const;  // blocks read and decoded so far
    std::uint64_t bytesRead() const;  // bytes read from the file so far, tags included
    std::uint64_t fileBytes() const;  // the whole file

  private:
    explicit GeoTiffRows(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace marlwood
