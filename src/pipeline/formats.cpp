#include "pipeline/formats.h"

#include <algorithm>

#include "common/text.h"
#include "pipeline/heightmap_output.h"
#include "pipeline/settings.h"
#include "pipeline/writers.h"
#include "platform/whole_file.h"
#include "ter/ter_writer.h"

namespace marlwood {

namespace {

std::deque<OutputFormat> builtInFormats() {
    std::deque<OutputFormat> formats;
    OutputFormat& ter = formats.emplace_back();
    ter.name = "ter";
    ter.label = ".ter file";
    ter.description = "Terragen terrain (the default)";
    ter.extensions = {".ter"};
    ter.stretched_heights = true;
    ter.largest_side = kMaxTerSide;  // its size fields have 16 bits
    ter.stream = [](std::ostream& out, const Terrain& terrain, const ConversionSettings&) {
        writeTer(out, terrain);
    };
    OutputFormat& tif = formats.emplace_back();
    tif.name = "tif";
    tif.label = "GeoTIFF";
    tif.description = "a GeoTIFF of Float32 metres, placed where it lies";
    tif.extensions = {".tif", ".tiff"};
    tif.keeps_decimals = true;
    tif.needs_placement = true;
    tif.largest_side = 0xFFFFFFFF;  // TIFF's 32-bit dimensions
    tif.path = [](const std::string& path, const Terrain& terrain,
                  const ConversionSettings&) -> Result<Written> {
        if (Status written = writeGeoTiffFile(path, terrain); !written) return written.error();
        return Written::file(path);
    };
    for (OutputFormat& heightmap : heightmapFormats()) formats.push_back(std::move(heightmap));
    return formats;
}

}  // namespace

const OutputFormat& FormatTable::add(OutputFormat format) {
    return rows_.emplace_back(std::move(format));
}

const OutputFormat* FormatTable::named(std::string_view name) const {
    for (const OutputFormat& format : rows_) {
        if (format.name == name) return &format;
    }
    return nullptr;
}

const OutputFormat* FormatTable::ofPath(std::string_view path) const {
    for (const OutputFormat& format : rows_) {
        for (const std::string& extension : format.extensions) {
            if (endsWithNoCase(path, extension)) return &format;
        }
    }
    return nullptr;
}

std::string FormatTable::names() const {
    std::string names;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (i > 0) names += i + 1 == rows_.size() ? " or " : ", ";
        names += rows_[i].name;
    }
    return names;
}

const FormatTable& outputFormats() {
    static const FormatTable formats(builtInFormats());
    return formats;
}

const OutputFormat& terFormat() {
    return *outputFormats().begin();
}

Status fitsFormat(const OutputFormat& format, const GridSize& size, const std::string& what) {
    if (size.rows >= 0 && size.rows <= format.largest_side && size.columns >= 0 &&
        size.columns <= format.largest_side) {
        return {};
    }
    return failure(what + " " + std::to_string(size.rows) + " x " + std::to_string(size.columns) +
                   "; a " + format.extension() + " file holds 0 to " +
                   std::to_string(format.largest_side) + " rows and columns");
}

std::vector<std::string> filesWritten(const OutputFormat& format, const std::string& path,
                                      const ConversionSettings& settings) {
    return format.files ? format.files(path, settings) : std::vector<std::string>{path};
}

Result<Written> writeTerrainAt(const OutputFormat& format, const std::string& path,
                               const Terrain& terrain, const ConversionSettings& settings) {
    if (format.path) return format.path(path, terrain, settings);
    const Status written = writeWholeFile(path, [&](std::ostream& out) {
        format.stream(out, terrain, settings);
        return true;
    });
    if (!written) return written.error();
    return Written::file(path);
}

Status writeTerrainTo(const OutputFormat& format, std::ostream& out, const Terrain& terrain,
                      const ConversionSettings& settings, const std::string& name) {
    if (!format.stream) return failure("a " + format.name + " file is written to a path only");
    format.stream(out, terrain, settings);
    out.flush();
    if (!out) return failure("cannot write " + name + ": the file is incomplete");
    return {};
}

}  // namespace marlwood
