// Any bytes as a command line, one argument a line, parsed as marlwood parses its own: a usage
// error is one line, and what is taken keeps its bounds. A crop and a --size taken are then
// planned on a grid the size of DULUTH, its corners from the input's last line, as a conversion
// plans them: the window lies in the grid, and a --size refused or taken keeps its ceiling.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/options.h"
#include "fuzz_promises.h"
#include "geo/crop.h"
#include "geo/window.h"
#include "grid/resample.h"

namespace {

using namespace marlwood;

using marlwood::fuzz::broken;
using marlwood::fuzz::expectOneLine;

void expectInside(const std::optional<CellWindow>& w, std::int32_t rows, std::int32_t columns,
                  const char* where) {
    if (!w) return;
    if (w->rows < 1 || w->columns < 1 || w->first_row < 0 || w->first_column < 0 ||
        w->first_row + w->rows > rows || w->first_column + w->columns > columns) {
        broken(std::string(where) + ": window " + windowText(*w) + " outside the grid");
    }
}

// Degrees laid linearly onto metres near DULUTH: no projection, only the arithmetic after it.
GroundPoint ground(double longitude, double latitude) {
    return {566700 + (longitude + 92.125) * 76000, 5191530 + (latitude - 46.875) * 111000};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            arguments.emplace_back();
        } else {
            arguments.back() += static_cast<char>(data[i]);
        }
    }
    // The last line places the grid: rows, columns and a posting; the rest is the command line.
    std::int32_t rows = 467, columns = 323;
    double posting = 30;
    if (arguments.size() > 1) {
        int r = 0, c = 0;
        double p = 0;
        if (std::sscanf(arguments.back().c_str(), "%d %d %lf", &r, &c, &p) == 3 && r > 0 &&
            r <= 65535 && c > 0 && c <= 65535 && std::isfinite(p) && p > 0) {
            rows = r;
            columns = c;
            posting = p;
        }
    }
    const Result<Options> parsed = parseOptions(arguments);
    if (!parsed) {
        expectOneLine(parsed.message(), "parseOptions");
        return 0;
    }
    // --help and --version end the run before anything is planned, whatever else is given.
    if (parsed->help || parsed->version) return 0;
    const ConversionSettings& s = parsed->settings;
    if (s.size && (*s.size < 2 || *s.size > 65535)) broken("--size out of 2..65535 taken");
    if (s.zone && (*s.zone < 1 || *s.zone > 60)) broken("--zone out of 1..60 taken");
    const GeoTransform grid{566700 - posting / 2, posting, 0, 5191530 + posting / 2, 0, -posting};
    GridSize from{rows, columns, std::min(rows, columns) - 1};
    if (s.crop) {
        const PlaceCrop& crop = *s.crop;
        if (crop.box) {
            const PlaceCrop::Box& b = *crop.box;
            if (!(b.west >= -180 && b.west < b.east && b.east <= 180 && b.south >= -90 &&
                  b.south < b.north && b.north <= 90)) {
                broken("a box out of order or out of range taken");
            }
            const PlaceCrop::Box near{-92.13, 46.74, -91.99, 46.88};
            const std::optional<PlaceCrop::Box> kept = boxWithin(b, near, 1);
            if (kept && (kept->west < b.west || kept->east > b.east || kept->south < b.south ||
                         kept->north > b.north)) {
                broken("boxWithin gave more than the box");
            }
            const PlaceCrop::Box& c = kept.value_or(b);
            const GroundPoint outline[] = {ground(c.west, c.south), ground(c.east, c.south),
                                           ground(c.east, c.north), ground(c.west, c.north)};
            const std::optional<CellWindow> w = windowHolding(outline, grid, rows, columns);
            expectInside(w, rows, columns, "windowHolding");
            if (w) from = {w->rows, w->columns, std::min(w->rows, w->columns) - 1};
        } else {
            if (!crop.centre || !(crop.extent_km > 0 && crop.extent_km <= 10000) ||
                !(std::abs(crop.centre->latitude) <= 90) ||
                !(std::abs(crop.centre->longitude) <= 180)) {
                broken("a centre or extent out of range taken");
            }
            const std::optional<CellWindow> w =
                squareWindow(ground(crop.centre->longitude, crop.centre->latitude),
                             crop.extent_km * 1000, grid, rows, columns);
            expectInside(w, rows, columns, "squareWindow");
            if (w) from = {w->rows, w->columns, std::min(w->rows, w->columns) - 1};
        }
    }
    if (s.size) {
        for (const std::uint64_t room :
             {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{1} << 27}) {
            const std::int32_t most = largestResampledSide(from, room);
            if (most < 0 || most > 65535 || (room == 0 && most < 2))
                broken("a ceiling out of range");
            if (most >= 2 && room != 0 && resampledBytes(resampledSize(from, most)) > room) {
                broken("a ceiling beyond the room");
            }
            const Status fits = resampledSizeProblem(from, *s.size, room);
            if (fits.ok() != (*s.size <= most))
                broken("a --size refused or taken against its ceiling");
            if (!fits) expectOneLine(fits.message(), "resampledSizeProblem");
        }
    }
    return 0;
}
