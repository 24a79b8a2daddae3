// The program's table: each output format's row, registered here so that the table itself
// (formats.cpp) includes none of them.
#include "pipeline/formats.h"
#include "pipeline/heightmap_output.h"
#include "pipeline/mesh_output.h"
#include "pipeline/settings.h"
#include "pipeline/writers.h"
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
    for (OutputFormat& mesh : meshFormats()) formats.push_back(std::move(mesh));
    return formats;
}

}  // namespace

const FormatTable& outputFormats() {
    static const FormatTable formats(builtInFormats());
    return formats;
}

const OutputFormat& terFormat() {
    return *outputFormats().begin();
}

}  // namespace marlwood
