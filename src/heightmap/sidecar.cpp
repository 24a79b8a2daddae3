#include "heightmap/sidecar.h"

#include <charconv>
#include <cmath>

namespace marlwood {

UnrealScale unrealScale(double posting_m, const HeightRange& range) {
    const double range_cm = (range.highest_m - range.lowest_m) * 100;
    return UnrealScale{.xy_scale_cm = posting_m * 100,
                       .z_scale = range_cm / 512,
                       .z_location_cm = (range.lowest_m + range.highest_m) / 2 * 100};
}

UnitySize unitySize(std::int32_t width, std::int32_t height, double posting_m,
                    const HeightRange& range) {
    return UnitySize{.width_m = (width - 1) * posting_m,
                     .length_m = (height - 1) * posting_m,
                     .height_m = range.highest_m - range.lowest_m,
                     .position_y_m = range.lowest_m};
}

namespace {

// Rounded to a micrometre first, so that 26518 / 512 does not print seventeen digits.
std::string number(double value) {
    const double rounded = std::round(value * 1e6) / 1e6;
    char text[64];
    const auto [end, problem] = std::to_chars(text, text + sizeof text, rounded == 0 ? 0 : rounded);
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
    line("posting_m", number(f.posting_m));
    line("lowest_m", number(f.range.lowest_m));
    line("highest_m", number(f.range.highest_m));
    const std::optional<DatumZone> datum = datumZoneOf(f.epsg);
    line("datum", datum ? quoted(datum->datum) : "null");
    line("utm_zone", datum ? std::to_string(datum->zone) : "null");
    line("epsg", f.epsg != 0 ? std::to_string(f.epsg) : "null");
    line("void_cells", std::to_string(f.void_cells));
    if (f.engine == Engine::Unreal) {
        const UnrealScale s = unrealScale(f.posting_m, f.range);
        j += "  \"unreal\": {\"x_scale_cm\": " + number(s.xy_scale_cm) +
             ", \"y_scale_cm\": " + number(s.xy_scale_cm) + ", \"z_scale\": " + number(s.z_scale) +
             ", \"z_location_cm\": " + number(s.z_location_cm) + "}\n}\n";
    } else {
        // Each tile is one Unity terrain of the tile's size.
        const UnitySize s = f.tiles ? unitySize(f.tile_width, f.tile_height, f.posting_m, f.range)
                                    : unitySize(f.width, f.height, f.posting_m, f.range);
        j += "  \"unity\": {\"resolution\": " + std::to_string(f.tiles ? f.tile_width : f.width) +
             ", \"width_m\": " + number(s.width_m) + ", \"length_m\": " + number(s.length_m) +
             ", \"height_m\": " + number(s.height_m) +
             ", \"position_y_m\": " + number(s.position_y_m) + "}\n}\n";
    }
    return j;
}

}  // namespace marlwood
