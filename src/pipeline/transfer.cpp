#include "pipeline/transfer.h"

#include <algorithm>

#include "platform/platform.h"

namespace marlwood {

namespace {

constexpr double kFootMetres = 0.3048;

}  // namespace

std::optional<double> unitMetres(const std::string& unit) {
    if (unit == "METERS" || unit == "METRES") return 1.0;
    if (unit == "FEET") return kFootMetres;
    return std::nullopt;
}

double postingMetres(GridSpacing spacing) {
    return spacing == kSpacing10m ? 10.0 : spacing == kSpacing30m ? 30.0 : 0.0;
}

Status fitsFormat(const GridSize& size, const std::string& size_from, const OutputFormat& format) {
    return fitsFormat(format, size, size_from + " gives a grid of");
}

std::optional<GridPlacement> windowPlacement(const Result<GridPlacement>& grid,
                                             std::int32_t first_row, std::int32_t first_column) {
    if (!grid) return std::nullopt;
    GridPlacement placement = *grid;
    placement.geotransform[0] += first_column * placement.geotransform[1];
    placement.geotransform[3] += first_row * placement.geotransform[5];
    return placement;
}

std::string noMemoryProblem(const GridSize& size) {
    return "not enough memory for a grid of " + std::to_string(size.rows) + " x " +
           std::to_string(size.columns);
}

namespace {

// Whether a grid of `size` fits beside `also_held` bytes.
bool fitsBeside(const GridSize& size, std::uint64_t also_held) {
    const std::uint64_t available = availableMemoryBytes();
    // 0 means the machine could not tell; what is held besides must still leave room.
    const std::uint64_t room = available == 0          ? 0
                               : available > also_held ? available - also_held
                                                       : 1;
    return gridsFitInMemory(size.rows, size.columns, 1, room);
}

}  // namespace

Result<DecodedGrid> reserveDecodedGrid(const GridSize& size, bool thousandths,
                                       std::uint64_t also_held) {
    DecodedGrid decoded;
    decoded.size = size;
    decoded.thousandths = thousandths;
    if (!fitsBeside(size, also_held) || !allocateRowTable(decoded.grid, size.rows)) {
        return failure(noMemoryProblem(size));
    }
    return decoded;
}

Result<DecodedGrid> allocateDecodedGrid(const GridSize& size, bool thousandths,
                                        std::uint64_t also_held, bool void_filled) {
    DecodedGrid decoded;
    decoded.size = size;
    decoded.thousandths = thousandths;
    if (!fitsBeside(size, also_held) || !allocateRows(decoded.grid, size.rows, size.columns)) {
        return failure(noMemoryProblem(size));
    }
    if (!void_filled) return decoded;
    const std::int32_t no_data = kNoData * (thousandths ? kThousandths : 1);
    for (std::int32_t i = 0; i < size.rows; ++i) {
        std::int32_t* row = decoded.grid[static_cast<std::size_t>(i)];
        std::fill(row, row + size.columns, no_data);
    }
    return decoded;
}

}  // namespace marlwood
