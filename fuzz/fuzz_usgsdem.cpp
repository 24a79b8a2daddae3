// Any bytes as a USGS native DEM, read as a conversion reads one: record A, the profiles, the
// lattice they lie on, then the grid (whole and a window of it, in whole units and thousandths).
// Besides what the sanitizers catch, the reader must keep its promises: it stops, what it lays
// down lies inside the grid, and what it cannot read it says in one line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_promises.h"
#include "pipeline/reader.h"
#include "usgsdem/native_dem.h"

namespace {

namespace dem = marlwood::usgsdem;

using marlwood::fuzz::broken;
using marlwood::fuzz::expectOneLine;

// Grids beyond this are read for their lattice only, so a run stays quick.
constexpr std::int64_t kMostCells = std::int64_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes =
        std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
    dem::RecordReader reader;
    if (!reader.open("", bytes)) broken("bytes in memory that do not open");
    const marlwood::Result<dem::NativeDem> read = dem::readNativeDem(reader);
    // Every record is 1024 bytes, so the reading ends.
    if (reader.recordsRead() > static_cast<std::int64_t>(size / dem::kRecordBytes)) {
        broken("more records than the bytes hold");
    }
    if (!read) {
        expectOneLine(read.message(), "readNativeDem");
        return 0;
    }
    const marlwood::Result<dem::Lattice> lattice = dem::latticeOf(read->a, read->profiles);
    if (!lattice) {
        expectOneLine(lattice.message(), "latticeOf");
        return 0;
    }
    if (lattice->rows < 1 || lattice->columns < 1 || lattice->rows > dem::kMaxPoints ||
        lattice->columns > dem::kMaxPoints) {
        broken("a lattice no .ter file holds");
    }
    if (lattice->rows * lattice->columns > kMostCells) return 0;
    // A window in the middle: every cell laid lies inside it.
    const dem::Window window{lattice->rows / 3, lattice->columns / 3,
                             lattice->rows - lattice->rows / 3,
                             lattice->columns - lattice->columns / 3};
    std::vector<std::int32_t> cells(static_cast<std::size_t>(window.rows * window.columns), -1);
    std::vector<std::int32_t*> rows;
    for (std::int64_t r = 0; r < window.rows; ++r)
        rows.push_back(cells.data() + r * window.columns);
    const marlwood::Status laid = dem::layDown(*read, *lattice, window, true, -32767000, rows);
    if (!laid) expectOneLine(laid.message(), "layDown");

    // The same bytes through the pipeline's entry, as a source of its own.
    marlwood::Input source;
    source.file = marlwood::ModuleSource("fuzz.dem", bytes);
    source.format = marlwood::inputFormats().named("native DEM");
    marlwood::NoEvents events;
    const marlwood::Result<marlwood::TransferMetadata> metadata =
        marlwood::readMetadata(source, marlwood::MetadataReading::Strict, true, events);
    if (!metadata) broken("metadata refused after the lattice was read: " + metadata.message());
    if (metadata->size.rows != lattice->rows || metadata->size.columns != lattice->columns) {
        broken("the metadata's size is not the lattice's");
    }
    for (const bool thousandths : {false, true}) {
        const marlwood::Result<marlwood::DecodedGrid> decoded =
            marlwood::readGrid(source, *metadata, std::nullopt, marlwood::MetadataReading::Strict,
                               thousandths, events);
        if (!decoded) {
            expectOneLine(decoded.message(), "readGrid");
            continue;
        }
        if (decoded->size.rows != lattice->rows || decoded->size.columns != lattice->columns) {
            broken("a grid of another size than the lattice");
        }
    }
    const marlwood::Result<marlwood::Extremes> extremes =
        marlwood::readGridExtremes(source, *metadata, true, events);
    if (!extremes) expectOneLine(extremes.message(), "readGridExtremes");
    return 0;
}
