#include "heightmap/sidecar.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace marlwood {

UnrealScale unrealScale(double posting_x_m, double posting_y_m, const HeightRange& range) {
    const double range_cm = (range.highest_m - range.lowest_m) * 100;
    return UnrealScale{.x_scale_cm = posting_x_m * 100,
                       .y_scale_cm = posting_y_m * 100,
                       .z_scale = range_cm / 512,
                       .z_location_cm = (range.lowest_m + range.highest_m) / 2 * 100};
}

UnitySize unitySize(std::int32_t width, std::int32_t height, double posting_x_m, double posting_y_m,
                    const HeightRange& range) {
    return UnitySize{.width_m = (width - 1) * posting_x_m,
                     .length_m = (height - 1) * posting_y_m,
                     .height_m = range.highest_m - range.lowest_m,
                     .position_y_m = range.lowest_m};
}

double terrain3dSpacing(const SidecarFigures& f) {
    return (f.posting_x_m + f.posting_y_m) / 2;
}

namespace {

// Rounded to a micrometre first, so that 26518 / 512 does not print seventeen digits.
std::string number(double value) {
    const double rounded = std::round(value * 1e6) / 1e6;
    char text[64];
    // Fixed, never 5e+05: a UTM easting reads as it is written.
    const auto [end, problem] = std::to_chars(text, text + sizeof text, rounded == 0 ? 0 : rounded,
                                              std::chars_format::fixed);
    return problem == std::errc{} ? std::string(text, end) : "null";
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[(c >> 4) & 0xF];
            out += kHex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out + '"';
}

// Each tile as one Unity terrain: its position from the south-west tile's corner (X east, Z north,
// tiles sharing their edge points), and its neighbours for Terrain.SetNeighbors (left, top,
// right, bottom; null at the set's edges). `f.files` runs north-west first, row by row.
std::string unityTerrains(const SidecarFigures& f, const UnitySize& size) {
    const std::int32_t columns = f.tiles->columns, rows = f.tiles->rows;
    const auto file = [&](std::int32_t x, std::int32_t north) -> std::string {
        if (x < 0 || x >= columns || north < 0 || north >= rows) return "null";
        return quoted(f.files[static_cast<std::size_t>((rows - 1 - north) * columns + x)]);
    };
    std::string j;
    for (std::int32_t north = 0; north < rows; ++north) {
        for (std::int32_t x = 0; x < columns; ++x) {
            j += std::string(north == 0 && x == 0 ? "" : ",") +
                 "\n      {\"file\": " + file(x, north) + ", \"x_m\": " + number(x * size.width_m) +
                 ", \"z_m\": " + number(north * size.length_m) +
                 ", \"left\": " + file(x - 1, north) + ", \"top\": " + file(x, north + 1) +
                 ", \"right\": " + file(x + 1, north) + ", \"bottom\": " + file(x, north - 1) + "}";
        }
    }
    return j;
}

}  // namespace

std::string sidecarJson(const SidecarFigures& f) {
    std::string j = "{\n  \"format\": " + quoted(f.format) + ",\n  \"files\": [";
    for (std::size_t i = 0; i < f.files.size(); ++i) j += (i ? ", " : "") + quoted(f.files[i]);
    j += "],\n";
    const auto line = [&j](const char* key, const std::string& value) {
        j += std::string("  \"") + key + "\": " + value + ",\n";
    };
    line("width", std::to_string(f.width));
    line("height", std::to_string(f.height));
    if (f.tiles) {
        line("tiles", "{\"columns\": " + std::to_string(f.tiles->columns) +
                          ", \"rows\": " + std::to_string(f.tiles->rows) +
                          ", \"width\": " + std::to_string(f.tile_width) +
                          ", \"height\": " + std::to_string(f.tile_height) + "}");
    }
    if (f.byte_order)
        line("byte_order", *f.byte_order == ByteOrder::Big ? "\"big\"" : "\"little\"");
    line("posting_x_m", number(f.posting_x_m));
    line("posting_y_m", number(f.posting_y_m));
    line("lowest_m", number(f.range.lowest_m));
    line("highest_m", number(f.range.highest_m));
    const std::optional<DatumZone> datum = datumZoneOf(f.epsg);
    line("datum", datum ? quoted(datum->datum) : "null");
    line("utm_zone", datum ? std::to_string(datum->zone) : "null");
    line("epsg", f.epsg != 0 ? std::to_string(f.epsg) : "null");
    if (f.geotransform) {
        // The edges of the area the points stand for (each point a cell's centre), in the
        // system's metres: what a GIS program or a script places the heightmap by.
        const GeoTransform& g = *f.geotransform;
        line("extent", "{\"west\": " + number(g[0]) +
                           ", \"south\": " + number(g[3] + g[5] * f.height) + ", \"east\": " +
                           number(g[0] + g[1] * f.width) + ", \"north\": " + number(g[3]) + "}");
    }
    line("void_cells", std::to_string(f.void_cells));
    if (f.cs2) {
        // Its import maps 0..65535 to 0 m .. Height Scale over a square of the map's side.
        j += "  \"cities_skylines_2\": {\"map\": " +
             std::string(*f.cs2 == Cs2Map::World ? "\"world\"" : "\"playable\"") +
             ", \"side_km\": " + number(cs2SideM(*f.cs2) / 1000) +
             ", \"height_scale_m\": " + number(f.range.highest_m) + "}\n}\n";
        return j;
    }
    if (f.godot) {
        // The EXR holds metres: Terrain3D's importer scales by 1 and offsets by 0, so sea level
        // stands at Y = 0, and its node's vertex spacing is the posting.
        j += "  \"terrain3d\": {\"vertex_spacing\": " + number(terrain3dSpacing(f)) +
             ", \"import_scale\": 1, \"height_offset\": 0}\n}\n";
        return j;
    }
    if (f.engine == Engine::Unreal) {
        const UnrealScale s = unrealScale(f.posting_x_m, f.posting_y_m, f.range);
        std::string components = "null";
        if (const auto& c = f.components) {
            components = "{\"across\": " + std::to_string(c->across) +
                         ", \"down\": " + std::to_string(c->down) +
                         ", \"quads_per_section\": " + std::to_string(c->quads_per_section) +
                         ", \"sections_per_component\": \"" + std::to_string(c->sections) + "x" +
                         std::to_string(c->sections) + "\"}";
        }
        j += "  \"unreal\": {\"x_scale_cm\": " + number(s.x_scale_cm) +
             ", \"y_scale_cm\": " + number(s.y_scale_cm) + ", \"z_scale\": " + number(s.z_scale) +
             ", \"z_location_cm\": " + number(s.z_location_cm) + ", \"components\": " + components +
             "}\n}\n";
        return j;
    }
    // Each tile is one Unity terrain of the tile's size.
    const UnitySize s =
        f.tiles ? unitySize(f.tile_width, f.tile_height, f.posting_x_m, f.posting_y_m, f.range)
                : unitySize(f.width, f.height, f.posting_x_m, f.posting_y_m, f.range);
    j += "  \"unity\": {\"resolution\": " + std::to_string(f.tiles ? f.tile_width : f.width) +
         ", \"width_m\": " + number(s.width_m) + ", \"length_m\": " + number(s.length_m) +
         ", \"height_m\": " + number(s.height_m) + ", \"position_y_m\": " + number(s.position_y_m);
    if (f.tiles && f.files.size() == static_cast<std::size_t>(f.tiles->columns * f.tiles->rows)) {
        j += ",\n    \"terrains\": [";
        j += unityTerrains(f, s);
        j += "\n    ]";
    }
    j += "}\n}\n";
    return j;
}

namespace {

// The system and geotransform elements both of GDAL's files hold.
std::string placementXml(int epsg, const GeoTransform& g) {
    // Seventeen digits: the corner of a UTM grid is millions of metres, placed to the millimetre.
    std::string numbers;
    for (std::size_t i = 0; i < g.size(); ++i) {
        char text[40];
        std::snprintf(text, sizeof text, "%s%.17g", i ? ", " : "", g[i]);
        numbers += text;
    }
    std::string xml;
    if (epsg != 0) xml += "  <SRS>EPSG:" + std::to_string(epsg) + "</SRS>\n";
    return xml + "  <GeoTransform>" + numbers + "</GeoTransform>\n";
}

std::string xmlText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string gdalAuxXml(int epsg, const GeoTransform& g) {
    return "<PAMDataset>\n" + placementXml(epsg, g) + "</PAMDataset>\n";
}

std::string gdalRawVrt(int epsg, const GeoTransform& g, std::int32_t width, std::int32_t height,
                       const std::string& raw_file, ByteOrder order, bool south_first) {
    const std::int64_t line = static_cast<std::int64_t>(width) * 2;
    // Unity's rows run from the south: GDAL starts at the last and steps back.
    const std::int64_t first = south_first ? line * (height - 1) : 0;
    return "<VRTDataset rasterXSize=\"" + std::to_string(width) + "\" rasterYSize=\"" +
           std::to_string(height) + "\">\n" + placementXml(epsg, g) +
           "  <VRTRasterBand dataType=\"UInt16\" band=\"1\" subClass=\"VRTRawRasterBand\">\n"
           "    <SourceFilename relativeToVRT=\"1\">" +
           xmlText(raw_file) + "</SourceFilename>\n    <ImageOffset>" + std::to_string(first) +
           "</ImageOffset>\n    <PixelOffset>2</PixelOffset>\n    <LineOffset>" +
           std::to_string(south_first ? -line : line) + "</LineOffset>\n    <ByteOrder>" +
           (order == ByteOrder::Big ? "MSB" : "LSB") +
           "</ByteOrder>\n  </VRTRasterBand>\n</VRTDataset>\n";
}

}  // namespace marlwood
