// Helpers for the tests that hold marlwood against readers we did not write: GDAL run as a
// black-box command-line tool, and our own SDTS readers run in-process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sdts/module_reader.h"
#include "expected_output.h"
#include "files.h"
#include "program.h"
#include "sdts_writer.h"
#include "sdts/record_decoder.h"
#include "temp_dir.h"

namespace marlwood::oracle {

// The shared test support, without its namespace.
using namespace testsupport;
// The test support's own, not the program's types of the same names.
using testsupport::Extremes;
using testsupport::Transfer;

// The modules of the transfer at `prefix`, lower-case names, none required to be there.
inline TransferModules modulesAt(const std::string& prefix) {
    TransferModules m;
    m.cel0 = prefix + "cel0.ddf";
    m.ldef = prefix + "ldef.ddf";
    m.spdm = prefix + "spdm.ddf";
    m.ddsh = prefix + "ddsh.ddf";
    m.iref = prefix + "iref.ddf";
    m.rsdf = prefix + "rsdf.ddf";
    m.xref = prefix + "xref.ddf";
    m.ddom = prefix + "ddom.ddf";
    return m;
}

// A folder under `under` holding PROJ's own data and marlwood's datum grids side by side (links),
// for GDAL's or cs2cs's PROJ_DATA.
std::filesystem::path projDataWithGrids(const std::filesystem::path& under);

// True when gdalinfo and gdal_translate run.
bool gdalAvailable();

// GDAL is installed in CI; there its absence is a failure, elsewhere the test is skipped, visibly.
#define MARLWOOD_REQUIRE_GDAL()                                                         \
    if (!::marlwood::oracle::gdalAvailable()) {                                         \
        const char* ci = std::getenv("CI");                                             \
        if (ci != nullptr && std::string(ci) == "true") {                               \
            FAIL() << "GDAL (gdalinfo, gdal_translate) is missing; install gdal-bin";   \
        }                                                                               \
        GTEST_SKIP() << "GDAL is not installed (gdal-bin): no independent reader here"; \
    }

// Band 1 of a raster as GDAL reads it, line 0 first.
struct Raster {
    int width = 0;
    int height = 0;
    std::string type;            // GDAL's band type: Int16, Float32, ...
    std::vector<double> values;  // height * width, row-major
    std::vector<double> line_y;  // georeferenced y of each line

    double at(int line, int column) const {
        return values[static_cast<std::size_t>(line) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(column)];
    }
};

// Opens `path` with GDAL (gdalinfo for size and type, gdal_translate -of XYZ for the values, with
// `translate_options` such as "-unscale -ot Float32" for a .ter file's heights in metres).
// Throws std::runtime_error when GDAL refuses the file or its output is not what is expected.
Raster gdalRead(const std::filesystem::path& path, const std::string& translate_options = "");

// Where GDAL places a raster: the outer corner of its top-left cell and the pixel size (negative
// height for north up), from gdalinfo's "Origin" and "Pixel Size" lines. Throws
// std::runtime_error when GDAL refuses the file or prints no geotransform.
struct GdalPlacement {
    double origin_x = 0, origin_y = 0, pixel_width = 0, pixel_height = 0;
};
// GDAL is kept from reading or writing .aux.xml files beside the data, unless asked to read the
// one that places a heightmap.
enum class Aux { Ignored, Read };
GdalPlacement gdalPlacement(const std::filesystem::path& path, Aux aux = Aux::Ignored);

// What `gdalinfo` prints for `path`, and the EPSG code `gdalsrsinfo -o epsg` gives its coordinate
// system (0 when it names none). Throw std::runtime_error when GDAL refuses the file.
std::string gdalInfo(const std::filesystem::path& path);
int gdalEpsg(const std::filesystem::path& path, Aux aux = Aux::Ignored);

// GDAL's mosaic of several rasters: gdalbuildvrt writes `vrt` over `sources` (a later source is
// drawn over an earlier one; only a source's NoData value lets the one below show). Throws
// std::runtime_error when gdalbuildvrt fails.
void gdalMosaic(const std::filesystem::path& vrt, const std::vector<std::string>& sources);

// What our in-process readers make of a transfer: the metadata and every decoded cell.
struct Decoded {
    ValueType value_type = 0;
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    std::int32_t grid_spacing = 0;
    std::vector<std::int32_t> cells;  // rows * columns; INT32_MIN where no record wrote
    DecoderState state;
    std::string console;
};

// `prefix` is the directory and the four digits, as typed at the prompt.
Decoded decodeWithOurReaders(const std::string& prefix);

// A synthetic NAD27 quad of 30 m at 46.5 degrees north, `wide` degrees of longitude from `west`,
// placed in UTM zone `zone` by PROJ (neighbours across a zone line, for merges).
testsupport::Transfer quadInZone(const std::string& id, double west, double wide, int zone);

}  // namespace marlwood::oracle
