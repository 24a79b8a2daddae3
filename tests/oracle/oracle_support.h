// Helpers for the tests that hold marlwood against readers we did not write: GDAL run as a
// black-box command-line tool, and our own SDTS readers run in-process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "files.h"
#include "program.h"
#include "sdts/record_decoder.h"
#include "temp_dir.h"

namespace marlwood::oracle {

using testsupport::Outcome;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;

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

// Opens `path` with GDAL (gdalinfo for size and type, gdal_translate -of XYZ for the values).
// Throws std::runtime_error when GDAL refuses the file or its output is not what is expected.
Raster gdalRead(const std::filesystem::path& path);

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

// The colormap that maps min to 0 and max to about 32000, written out here from its definition:
// q = 32000 / (max - min) in double, slope = float(q), intercept = float(32000 - max * q), and a
// height is v * slope + intercept in double, truncated toward zero. Raw values of -1000 and
// below are no data and are written as 0.
struct ExpectedColormap {
    ExpectedColormap(std::int32_t max_elevation, std::int32_t min_elevation);
    std::int32_t height(std::int32_t raw) const;
    // The lines the program prints for it.
    std::string printed() const;

    std::int32_t max_elevation;
    std::int32_t min_elevation;
    float slope = 0;
    float intercept = 0;
};

// Extremes over the valid values (those above -1000), as the program prints them: the maximum
// starts at 0 and the minimum at 9000.
struct Extremes {
    std::int32_t max_elevation = 0;
    std::int32_t min_elevation = 9000;
};
Extremes validExtremes(const std::vector<std::int32_t>& raw);

// The 48 header bytes of a .ter file, from the Terragen format's layout.
std::string expectedTerHeader(std::int32_t rows, std::int32_t columns, std::int32_t height_scale);

}  // namespace marlwood::oracle
