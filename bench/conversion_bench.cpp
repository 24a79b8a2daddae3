// Benchmarks of the whole conversion and of its hot stages, on full-size synthetic quads.
//
// The transfers are generated once per run into a fresh temporary directory (short path: a typed
// prefix keeps only 39 characters) and removed at exit. Rates are per wall-clock second (the
// stages read and write files): "cells/s" counts DEM cells, bytes/s the bytes the stage reads
// plus the bytes it writes, so the whole conversion can be set against plain file copying.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench_transfer.h"
#include "conversation.h"
#include "grid/elevation_grid.h"
#include "grid/void_fill.h"
#include "native_dem_writer.h"
#include "pipeline/reader.h"
#include "pipeline/terrain.h"
#include "pipeline/writers.h"
#include "sdts/module_reader.h"
#include "sdts/record_decoder.h"
#include "temp_dir.h"
#include "ter/ter_writer.h"
#include "tiff/geotiff_writer.h"

namespace {

using marlwood::bench::Quad;

constexpr std::int32_t kHeightScale = 30;

// One quad on disk, with what the stage benchmarks start from.
struct QuadFixture {
    std::string prefix;    // e.g. /tmp/mwAbc123/1010
    std::string ter_path;  // where the whole conversion writes
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    marlwood::ValueType value_type = 0;
    std::int64_t module_bytes = 0;  // the five modules the conversion reads
    std::int64_t cel0_bytes = 0;
    std::int64_t ter_bytes = 0;
    std::vector<std::int32_t> raw;  // decoded cells, row-major, as the raw grid holds them
    std::int32_t max_elevation = 0;
    std::int32_t min_elevation = 0;
    std::vector<float> metres;  // the transfer's elevations, voids as the GeoTIFF NoData value

    std::int64_t cells() const { return std::int64_t{rows} * columns; }
};

// On disk, where a user's conversion reads and writes.
const marlwood::testsupport::TempDir& benchDir() {
    static const marlwood::testsupport::TempDir dir;
    return dir;
}

std::int64_t fileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<std::int64_t>(size);
}

// Each timed write makes a new file, as a user's conversion does: overwriting the last one would
// also time the wait for its pages still being written back.
void removeFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

void decodeModule(const QuadFixture& f, marlwood::ModuleReader& reader,
                  marlwood::ElevationGrid& grid, marlwood::DecoderState& decoder,
                  marlwood::EventSink& events) {
    const std::string cel0 = f.prefix + "cel0.ddf";
    marlwood::openCel0AtFirstRecord(reader, cel0);
    marlwood::decodeCel0Rows(
        reader, f.value_type, f.rows, f.columns,
        [&](std::int32_t r) { return grid[static_cast<std::size_t>(r)]; }, decoder, events, cel0);
    reader.close();
}

const QuadFixture& fixture(Quad quad) {
    static std::map<Quad, std::unique_ptr<QuadFixture>> fixtures;
    auto& slot = fixtures[quad];
    if (slot) return *slot;

    const bool ten = quad == Quad::Bfp32At10m;
    const std::string file_id = ten ? "1010" : "3030";
    auto f = std::make_unique<QuadFixture>();
    f->prefix = benchDir() / file_id;
    f->ter_path = benchDir() / (file_id + ".ter");
    const auto q = marlwood::bench::makeQuadTransfer(quad, file_id);
    marlwood::testsupport::writeModules(f->prefix, marlwood::testsupport::buildModules(q.transfer));
    f->rows = q.transfer.rows;
    f->columns = q.transfer.columns;
    f->value_type = ten ? marlwood::kBfp32 : marlwood::kBi16;
    for (const char* suffix : {"cel0.ddf", "ldef.ddf", "spdm.ddf", "ddsh.ddf", "iref.ddf"}) {
        f->module_bytes += fileSize(f->prefix + suffix);
    }
    f->cel0_bytes = fileSize(f->prefix + "cel0.ddf");
    for (const double e : q.transfer.elevations) {
        f->metres.push_back(e <= marlwood::kVoidThreshold ? marlwood::kGeoTiffNoData
                                                          : static_cast<float>(e));
    }
    f->ter_bytes = static_cast<std::int64_t>(marlwood::kTerHeaderSize) + 2 * f->cells() + 4;

    marlwood::ElevationGrid grid;
    marlwood::allocateRows(grid, f->rows, f->columns);
    marlwood::ModuleReader reader;
    marlwood::DecoderState decoder;
    marlwood::NoEvents events;
    decodeModule(*f, reader, grid, decoder, events);
    f->raw.reserve(static_cast<std::size_t>(f->cells()));
    for (std::int32_t r = 0; r < f->rows; ++r) {
        const std::int32_t* row = grid[static_cast<std::size_t>(r)];
        f->raw.insert(f->raw.end(), row, row + f->columns);
    }
    marlwood::releaseGrid(grid, f->rows);
    f->max_elevation = decoder.max_elevation;
    f->min_elevation = decoder.min_elevation;
    slot = std::move(f);
    return *slot;
}

void setRates(benchmark::State& state, const QuadFixture& f, std::int64_t bytes_per_pass) {
    state.counters["cells/s"] = benchmark::Counter(static_cast<double>(f.cells()),
                                                   benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes_per_pass);
}

// The whole run, as a user drives it: banner key, prefix, height scale, output file, closing key.
void BM_Conversion(benchmark::State& state, Quad quad) {
    const QuadFixture& f = fixture(quad);
    const std::string answers =
        marlwood::testsupport::answers(f.prefix, f.ter_path, std::to_string(kHeightScale));
    for (auto _ : state) {
        state.PauseTiming();
        removeFile(f.ter_path);
        state.ResumeTiming();
        const int status = marlwood::testsupport::converse(answers).status;
        if (status != 0 || fileSize(f.ter_path) != f.ter_bytes) {
            state.SkipWithError("the conversion did not write the whole .ter file");
            break;
        }
    }
    setRates(state, f, f.module_bytes + f.ter_bytes);
}

void BM_DecodeCel0(benchmark::State& state, Quad quad) {
    const QuadFixture& f = fixture(quad);
    marlwood::ElevationGrid grid;
    marlwood::allocateRows(grid, f.rows, f.columns);
    marlwood::ModuleReader reader;
    marlwood::NoEvents events;
    for (auto _ : state) {
        marlwood::DecoderState decoder;
        decodeModule(f, reader, grid, decoder, events);
        benchmark::DoNotOptimize(decoder.max_elevation);
        benchmark::ClobberMemory();
    }
    marlwood::releaseGrid(grid, f.rows);
    setRates(state, f, f.cel0_bytes);
}

// The terrain's heights made row by row from the grid (colormap, rows reversed) and written with
// the header into a new file, as a conversion writes it.
void BM_WriteTer(benchmark::State& state, Quad quad) {
    const QuadFixture& f = fixture(quad);
    auto decoded =
        marlwood::allocateDecodedGrid({f.rows, f.columns, std::min(f.rows, f.columns) - 1}, false);
    if (!decoded) {
        state.SkipWithError(decoded.message().c_str());
        return;
    }
    for (std::int32_t r = 0; r < f.rows; ++r) {
        const auto* from = f.raw.data() + static_cast<std::size_t>(r) * f.columns;
        std::copy(from, from + f.columns, decoded->grid[static_cast<std::size_t>(r)]);
    }
    decoded->extremes = {f.max_elevation, f.min_elevation};
    marlwood::NoEvents events;
    const auto terrain = marlwood::prepareTerrain(std::move(*decoded), {}, events);
    const std::string path = benchDir() / "body.ter";
    for (auto _ : state) {
        state.PauseTiming();
        removeFile(path);
        state.ResumeTiming();
        std::ofstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
        marlwood::writeTer(out, *terrain);
        out.close();
        if (!out) {
            state.SkipWithError("cannot write the .ter file");
            break;
        }
    }
    setRates(state, f, 4 * f.cells() + f.ter_bytes);
}

// A GeoTIFF of the quad's elevations into a new file, rows given one at a time from memory as
// the pipeline gives them; the first pass also loads libtiff and libdeflate.
void BM_WriteGeoTiff(benchmark::State& state, Quad quad) {
    const QuadFixture& f = fixture(quad);
    const double posting = quad == Quad::Bfp32At10m ? 10 : 30;
    const marlwood::GridPlacement placement{26913, {521605, posting, 0, 4330715, 0, -posting}};
    const std::string path = benchDir() / "grid.tif";
    for (auto _ : state) {
        state.PauseTiming();
        removeFile(path);
        state.ResumeTiming();
        const marlwood::Status written = marlwood::writeGeoTiff(
            path, f.rows, f.columns, placement, [&](std::int32_t row, std::span<float> out) {
                const float* from = f.metres.data() + static_cast<std::size_t>(row) * f.columns;
                std::copy(from, from + f.columns, out.begin());
            });
        if (!written) {
            state.SkipWithError(written.message().c_str());
            break;
        }
    }
    state.counters["file bytes"] = static_cast<double>(fileSize(path));
    setRates(state, f, fileSize(path));
}

// The void fill of a full-size quad half void: one hole of half the quad's area in its middle (the
// nearest valid cells are far), or half its cells void here and there (they are near).
enum class Voids { Hole, Scattered };

void BM_FillVoids(benchmark::State& state, Voids voids) {
    const QuadFixture& f = fixture(Quad::Bfp32At10m);
    std::vector<std::int32_t> cells = f.raw;
    std::int64_t void_cells = 0;
    for (std::int32_t r = 0; r < f.rows; ++r) {
        for (std::int32_t c = 0; c < f.columns; ++c) {
            const double y = (2.0 * r - f.rows) / f.rows, x = (2.0 * c - f.columns) / f.columns;
            const std::uint32_t hash = (static_cast<std::uint32_t>(r) * 73856093u) ^
                                       (static_cast<std::uint32_t>(c) * 19349663u);
            const bool is_void =
                voids == Voids::Hole ? x * x + y * y < 0.64 : (hash * 2654435761u) >> 31 == 1;
            std::int32_t& cell = cells[static_cast<std::size_t>(r) * f.columns + c];
            if (is_void) cell = marlwood::kNoData;
            void_cells += !marlwood::isValidElevation(cell);  // the quad's own voids too
        }
    }
    marlwood::ElevationGrid grid;
    marlwood::allocateRows(grid, f.rows, f.columns);
    for (auto _ : state) {
        state.PauseTiming();
        for (std::int32_t r = 0; r < f.rows; ++r) {
            const auto* from = cells.data() + static_cast<std::size_t>(r) * f.columns;
            std::copy(from, from + f.columns, grid[static_cast<std::size_t>(r)]);
        }
        state.ResumeTiming();
        const std::int64_t filled =
            marlwood::fillVoids(grid, f.rows, f.columns, marlwood::kVoidThreshold);
        if (filled != void_cells) {
            state.SkipWithError("voids were left");
            break;
        }
    }
    marlwood::releaseGrid(grid, f.rows);
    state.counters["void share"] = static_cast<double>(void_cells) / static_cast<double>(f.cells());
    setRates(state, f, 4 * f.cells());
}

// A native DEM of a 10 m or 30 m quad's shape (1,087 or 323 profiles, each starting a row
// further north than its western neighbour every 40 profiles, as a quad's edge leans), read as a
// conversion reads it: its metadata, then its grid, each a pass over the file.
void BM_ReadNativeDem(benchmark::State& state, Quad quad) {
    const bool ten = quad == Quad::Bfp32At10m;
    const int profiles = ten ? 1087 : 323, points = ten ? 1391 : 467;
    std::vector<int> starts, lengths;
    for (int c = 0; c < profiles; ++c) {
        starts.push_back(c / 40);
        lengths.push_back(points - c / 40);
    }
    marlwood::testsupport::DemContents model =
        marlwood::testsupport::quadShapedDem(starts, lengths, 0);
    model.dx = model.dy = ten ? 10 : 30;
    for (std::size_t c = 0; c < model.profiles.size(); ++c) {
        model.profiles[c].x = 566700 + model.dx * static_cast<double>(c);
        model.profiles[c].y = 5177550 + model.dy * starts[c];
        for (std::size_t k = 0; k < model.profiles[c].values.size(); ++k) {
            model.profiles[c].values[k] = static_cast<int>(600 + (c * 7 + k * 3) % 900);
        }
    }
    const std::string path = benchDir() / (ten ? "q10.dem" : "q30.dem");
    {
        std::ofstream out(path, std::ios::binary);
        out << marlwood::testsupport::nativeDem(model);
    }
    const marlwood::Result<marlwood::Input> source = marlwood::inputFormats().find(path);
    if (!source) {
        state.SkipWithError(source.message().c_str());
        return;
    }
    marlwood::NoEvents events;
    std::int64_t cells = 0;
    for (auto _ : state) {
        const auto metadata =
            marlwood::readMetadata(*source, marlwood::MetadataReading::Strict, true, events);
        const auto decoded =
            metadata ? marlwood::readGrid(*source, *metadata, std::nullopt,
                                          marlwood::MetadataReading::Strict, false, events)
                     : marlwood::Result<marlwood::DecodedGrid>(metadata.error());
        if (!decoded) {
            state.SkipWithError(decoded.message().c_str());
            break;
        }
        cells = std::int64_t{decoded->size.rows} * decoded->size.columns;
    }
    state.counters["cells/s"] = benchmark::Counter(static_cast<double>(cells),
                                                   benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * fileSize(path));
    removeFile(path);
}

}  // namespace

BENCHMARK_CAPTURE(BM_ReadNativeDem, quad_10m, Quad::Bfp32At10m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ReadNativeDem, quad_30m, Quad::Bi16At30m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Conversion, bfp32_10m, Quad::Bfp32At10m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Conversion, bi16_30m, Quad::Bi16At30m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_DecodeCel0, bfp32_10m, Quad::Bfp32At10m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_DecodeCel0, bi16_30m, Quad::Bi16At30m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WriteTer, bfp32_10m, Quad::Bfp32At10m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WriteTer, bi16_30m, Quad::Bi16At30m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WriteGeoTiff, bfp32_10m, Quad::Bfp32At10m)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_FillVoids, hole_10m, Voids::Hole)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_FillVoids, scattered_10m, Voids::Scattered)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
