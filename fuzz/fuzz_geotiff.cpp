// Any bytes as a GeoTIFF, read as a conversion will read one: the first image's tags, then every
// row of the whole image, and a window inside it with DEFLATE inflated by libtiff rather than
// libdeflate. Besides what the sanitizers catch, the reader must keep its promises: what it
// cannot read it says in one line, each block is read at most once, every row has the window's
// width, and the two ways of inflating agree on every cell both read.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_promises.h"
#include "tiff/geotiff_reader.h"

namespace {

using marlwood::fuzz::broken;
using marlwood::fuzz::expectOneLine;

// Images beyond this are read for their tags only, so a run stays quick.
constexpr std::int64_t kMostCells = std::int64_t{1} << 20;

// The window's cells, row after row, as far as they could be read.
std::vector<double> readWindow(const marlwood::GeoTiffSource& source,
                               const marlwood::RasterWindow& window, marlwood::InflateBy by) {
    std::vector<double> cells;
    marlwood::Result<marlwood::GeoTiffRows> rows = marlwood::GeoTiffRows::open(source, window, by);
    if (!rows) {
        expectOneLine(rows.message(), "GeoTiffRows::open");
        return cells;
    }
    const marlwood::GeoTiffInfo& info = rows->info();
    const std::uint64_t first_block_row =
        static_cast<std::uint32_t>(window.first_row) / info.block_height;
    const std::uint64_t last_block_row =
        static_cast<std::uint32_t>(window.first_row + window.rows - 1) / info.block_height;
    const std::uint64_t first_block_column =
        static_cast<std::uint32_t>(window.first_column) / info.block_width;
    const std::uint64_t last_block_column =
        static_cast<std::uint32_t>(window.first_column + window.columns - 1) / info.block_width;
    const std::uint64_t touched =
        (last_block_row - first_block_row + 1) * (last_block_column - first_block_column + 1);
    for (std::int32_t r = 0;; ++r) {
        const marlwood::Result<std::span<const double>> row = rows->next();
        if (!row) {
            expectOneLine(row.message(), "GeoTiffRows::next");
            break;
        }
        if (row->empty()) {
            if (r != window.rows) broken("the rows ended before the window's last");
            break;
        }
        if (r >= window.rows) broken("more rows than the window holds");
        if (row->size() != static_cast<std::size_t>(window.columns))
            broken("a row of another width than the window's");
        cells.insert(cells.end(), row->begin(), row->end());
    }
    if (static_cast<std::uint64_t>(rows->blocksRead()) > touched)
        broken("more blocks read than the window touches");
    return cells;
}

bool sameCells(const double* a, const double* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (std::isnan(a[i]) != std::isnan(b[i])) return false;
        if (!std::isnan(a[i]) && std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto source = marlwood::GeoTiffSource::memory(
        "fuzz.tif", std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size));
    const marlwood::Result<marlwood::GeoTiffInfo> info = marlwood::readGeoTiffInfo(source);
    if (!info) {
        expectOneLine(info.message(), "readGeoTiffInfo");
        return 0;
    }
    if (info->width < 1 || info->height < 1 || info->block_width < 1 || info->block_height < 1)
        broken("an image or a block without cells");
    const marlwood::Status placeable = marlwood::checkPlaceable(*info, "fuzz.tif");
    if (!placeable) expectOneLine(placeable.message(), "checkPlaceable");
    if (std::int64_t{info->width} * info->height > kMostCells) return 0;

    const marlwood::RasterWindow whole{0, 0, info->height, info->width};
    const std::vector<double> all = readWindow(source, whole, marlwood::InflateBy::Libdeflate);
    // The middle third, through libtiff's inflating: the rows both read hold the same cells.
    const marlwood::RasterWindow middle{info->height / 3, info->width / 3,
                                      info->height - info->height / 3 * 2,
                                      info->width - info->width / 3 * 2};
    const std::vector<double> inner = readWindow(source, middle, marlwood::InflateBy::Libtiff);
    const auto columns = static_cast<std::size_t>(middle.columns);
    for (std::size_t r = 0; r * columns < inner.size(); ++r) {
        const std::size_t at = (middle.first_row + r) * static_cast<std::size_t>(info->width) +
                               static_cast<std::size_t>(middle.first_column);
        if (at + columns > all.size()) break;
        if (!sameCells(all.data() + at, inner.data() + r * columns, columns))
            broken("libdeflate and libtiff inflate a row differently");
    }
    return 0;
}
