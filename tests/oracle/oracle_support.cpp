#include "oracle_support.h"

#include <sys/wait.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "dialogue_text.h"
#include "geo/projection.h"
#include "quad_terrain.h"
#include "sdts/metadata_readers.h"
#include "sdts/module_reader.h"

namespace marlwood::oracle {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

// Runs a shell command and gives its standard output; the exit status goes to `status`.
std::string capture(const std::string& command, int& status) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run: " + command);
    std::string out;
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

// No .aux.xml files next to the data.
constexpr char kGdalQuiet[] = " --config GDAL_PAM_ENABLED NO ";

}  // namespace

bool gdalAvailable() {
    static const bool available = std::system("gdalinfo --version >/dev/null 2>&1") == 0 &&
                                  std::system("gdal_translate --version >/dev/null 2>&1") == 0;
    return available;
}

Raster gdalRead(const std::filesystem::path& path, const std::string& translate_options) {
    Raster raster;
    int status = 0;
    const std::string info =
        capture(std::string("gdalinfo") + kGdalQuiet + quoted(path.string()) + " 2>&1", status);
    if (status != 0) throw std::runtime_error("GDAL refuses " + path.string() + ":\n" + info);
    const auto size_at = info.find("Size is ");
    if (size_at == std::string::npos ||
        std::sscanf(info.c_str() + size_at, "Size is %d, %d", &raster.width, &raster.height) != 2) {
        throw std::runtime_error("no size in gdalinfo output:\n" + info);
    }
    const auto type_at = info.find("Type=");
    if (type_at != std::string::npos) {
        const auto end = info.find_first_of(", \n", type_at);
        raster.type = info.substr(type_at + 5, end - type_at - 5);
    }

    const std::string xyz =
        capture(std::string("gdal_translate -q") + kGdalQuiet + "-of XYZ " + translate_options +
                    " " + quoted(path.string()) + " /vsistdout/",
                status);
    if (status != 0) throw std::runtime_error("gdal_translate fails on " + path.string());

    // One "x y value" line per cell, line by line, x growing along a line.
    const auto cells =
        static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.height);
    raster.values.reserve(cells);
    raster.line_y.reserve(static_cast<std::size_t>(raster.height));
    const char* p = xyz.c_str();
    double previous_x = 0;
    for (std::size_t i = 0; i < cells; ++i) {
        char* end = nullptr;
        const double x = std::strtod(p, &end);
        if (end == p) throw std::runtime_error("XYZ output ends after " + std::to_string(i));
        p = end;
        const double y = std::strtod(p, &end);
        p = end;
        const double v = std::strtod(p, &end);
        if (end == p) throw std::runtime_error("XYZ line " + std::to_string(i) + " is short");
        p = end;
        const std::size_t column = i % static_cast<std::size_t>(raster.width);
        if (column == 0) {
            raster.line_y.push_back(y);
        } else if (y != raster.line_y.back() || x <= previous_x) {
            throw std::runtime_error("XYZ output is not line by line at cell " + std::to_string(i));
        }
        previous_x = x;
        raster.values.push_back(v);
    }
    while (*p == ' ' || *p == '\n' || *p == '\r') ++p;
    if (*p != '\0') throw std::runtime_error("XYZ output has more cells than gdalinfo says");
    return raster;
}

GdalPlacement gdalPlacement(const std::filesystem::path& path, Aux aux) {
    int status = 0;
    const std::string info =
        capture(std::string("gdalinfo") + (aux == Aux::Read ? " " : kGdalQuiet) +
                    quoted(path.string()) + " 2>&1",
                status);
    if (status != 0) throw std::runtime_error("GDAL refuses " + path.string() + ":\n" + info);
    GdalPlacement p;
    const auto origin = info.find("\nOrigin = (");
    const auto pixel = info.find("\nPixel Size = (");
    if (origin == std::string::npos || pixel == std::string::npos ||
        std::sscanf(info.c_str() + origin, "\nOrigin = (%lf,%lf)", &p.origin_x, &p.origin_y) != 2 ||
        std::sscanf(info.c_str() + pixel, "\nPixel Size = (%lf,%lf)", &p.pixel_width,
                    &p.pixel_height) != 2) {
        throw std::runtime_error("no geotransform in gdalinfo output:\n" + info);
    }
    return p;
}

std::string gdalInfo(const std::filesystem::path& path) {
    int status = 0;
    const std::string info =
        capture(std::string("gdalinfo") + kGdalQuiet + quoted(path.string()) + " 2>&1", status);
    if (status != 0) throw std::runtime_error("GDAL refuses " + path.string() + ":\n" + info);
    return info;
}

// gdalsrsinfo may print a "Confidence in this match" line first: the code is the token after
// "EPSG:".
int gdalEpsg(const std::filesystem::path& path, Aux aux) {
    int status = 0;
    const std::string out =
        capture(std::string("gdalsrsinfo") + (aux == Aux::Read ? " " : kGdalQuiet) + "-o epsg " +
                    quoted(path.string()) + " 2>&1",
                status);
    if (status != 0) throw std::runtime_error("gdalsrsinfo refuses " + path.string() + ":\n" + out);
    const auto at = out.find("EPSG:");
    return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + 5);
}

void gdalMosaic(const std::filesystem::path& vrt, const std::vector<std::string>& sources) {
    std::string command = std::string("gdalbuildvrt -q") + kGdalQuiet + quoted(vrt.string());
    for (const std::string& source : sources) command.append(" ").append(quoted(source));
    int status = 0;
    const std::string output = capture(command + " 2>&1", status);
    if (status != 0) throw std::runtime_error("gdalbuildvrt fails:\n" + output);
}

Decoded decodeWithOurReaders(const std::string& prefix) {
    Decoded d;
    ModuleReader in;
    testsupport::DialogueText console;
    d.value_type = readValueType(in, prefix + "ddsh.ddf", console);
    const GridSize size = readGridSize(in, prefix + "ldef.ddf", console);
    d.rows = size.rows;
    d.columns = size.columns;
    d.grid_spacing = readGridSpacing(in, prefix + "iref.ddf", console);
    d.cells.assign(static_cast<std::size_t>(d.rows) * static_cast<std::size_t>(d.columns),
                   INT32_MIN);
    const std::string cel0 = prefix + "cel0.ddf";
    openCel0AtFirstRecord(in, cel0);
    decodeCel0Rows(
        in, d.value_type, d.rows, d.columns,
        [&](std::int32_t row) {
            return d.cells.data() + static_cast<std::size_t>(row) * d.columns;
        },
        d.state, console, cel0);
    in.close();
    d.console = console.str();
    return d;
}

std::filesystem::path projDataWithGrids(const std::filesystem::path& under) {
    namespace fs = std::filesystem;
    const fs::path data = under / "proj-data";
    fs::create_directory(data);
    const char* own = std::getenv("PROJ_DATA");
    for (const fs::path& folder :
         {fs::path(own != nullptr ? own : "/usr/share/proj"), fs::path(datumGridFolder())}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            fs::create_symlink(entry.path(), data / entry.path().filename());
        }
    }
    return data;
}

testsupport::Transfer quadInZone(const std::string& id, double west, double wide, int zone) {
    const Degrees corners[] = {
        {west, 46.5}, {west, 46.5625}, {west + wide, 46.5625}, {west + wide, 46.5}};
    const Result<std::vector<GroundPoint>> at = projectDegrees(4267, 26700 + zone, corners);
    if (!at) throw std::runtime_error(at.message());
    const auto& p = *at;
    const double x0 = std::min(p[0].x, p[1].x), x1 = std::max(p[2].x, p[3].x);
    const double y0 = std::min(p[0].y, p[3].y), y1 = std::max(p[1].y, p[2].y);
    testsupport::Transfer t = testsupport::makeQuad(
        static_cast<int>((y1 - y0) / 30), static_cast<int>((x1 - x0) / 30),
        testsupport::CellFormat::Bi16, 30, id);
    t.zone = zone;
    t.corners = {p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y, p[3].x, p[3].y};
    return t;
}

}  // namespace marlwood::oracle
