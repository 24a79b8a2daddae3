// What the program must store, print and write for given elevations, worked out here from the
// definitions rather than from the program's code.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sdts_writer.h"

namespace marlwood::testsupport {

// The raw elevation decoded from a cell the writer was given `value` for: BI16 the nearest
// integer; BFP32 the nearest float truncated toward zero, kept to its low 16 bits.
inline std::int32_t storedElevation(CellFormat format, double value) {
    if (format == CellFormat::Bi16) return static_cast<std::int32_t>(std::lround(value));
    const auto whole = static_cast<std::int64_t>(std::trunc(static_cast<float>(value)));
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(whole & 0xFFFF));
}

// Every cell of a transfer as the decoder stores it, row-major.
inline std::vector<std::int32_t> storedElevations(const Transfer& t) {
    std::vector<std::int32_t> raw;
    for (const double e : t.elevations) raw.push_back(storedElevation(t.format, e));
    return raw;
}

// Extremes over the valid values (those above -1000), as the program prints them: the maximum
// starts at 0 and the minimum at 9000.
struct Extremes {
    std::int32_t max_elevation = 0;
    std::int32_t min_elevation = 9000;
};

inline Extremes validExtremes(const std::vector<std::int32_t>& raw) {
    Extremes e;
    for (const std::int32_t v : raw) {
        if (v <= -1000) continue;
        if (v > e.max_elevation) e.max_elevation = v;
        if (v < e.min_elevation) e.min_elevation = v;
    }
    return e;
}

// The colormap that maps min to 0 and max to about 32000: q = 32000 / (max - min) in double,
// slope = float(q), intercept = float(32000 - max * q), and a height is v * slope + intercept in
// double, truncated toward zero. Raw values of -1000 and below are no data and are written as 0.
struct ExpectedColormap {
    ExpectedColormap(std::int32_t max, std::int32_t min) : max_elevation(max), min_elevation(min) {
        if (max == min) return;  // every valid cell then scales to 0
        const double q = 32000.0 / static_cast<double>(max - min);
        slope = static_cast<float>(q);
        intercept = static_cast<float>(32000.0 - static_cast<double>(max) * q);
    }
    std::int32_t height(std::int32_t raw) const {
        if (raw <= -1000) return 0;
        return static_cast<std::int32_t>(
            std::trunc(static_cast<double>(raw) * double{slope} + double{intercept}));
    }
    // The lines the program prints for it.
    std::string printed() const {
        char text[200];
        std::snprintf(text, sizeof text,
                      "elevrange is:  %d\n\nColormap slope value: %.5f\nColormap intercept "
                      "value: %.5f\n",
                      max_elevation - min_elevation, double{slope}, double{intercept});
        return text;
    }

    std::int32_t max_elevation;
    std::int32_t min_elevation;
    float slope = 0;
    float intercept = 0;
};

// The corners in the order the program prints them (and Transfer::corners holds them).
inline constexpr const char* kCornerNames[8] = {"sw_cornerx", "sw_cornery", "nw_cornerx",
                                                "nw_cornery", "ne_cornerx", "ne_cornery",
                                                "se_cornerx", "se_cornery"};

// The line printed for a corner: its coordinate as the nearest float.
inline std::string cornerLine(const char* name, double value) {
    char line[96];
    std::snprintf(line, sizeof line, "%s is:  %f\n", name,
                  static_cast<double>(static_cast<float>(value)));
    return line;
}

// The 48 header bytes of a .ter file, from the Terragen format's layout.
inline std::string expectedTerHeader(std::int32_t rows, std::int32_t columns,
                                     std::int32_t height_scale) {
    const auto chunk = [](const char* tag, std::int32_t value) {
        std::string bytes(tag);
        bytes += static_cast<char>(value & 0xFF);
        bytes += static_cast<char>((value >> 8) & 0xFF);
        return bytes + std::string(2, '\0');
    };
    const std::int32_t size = (rows < columns ? rows : columns) - 1;
    return std::string("TERRAGENTERRAIN ") + chunk("SIZE", size) + chunk("XPTS", columns) +
           chunk("YPTS", rows) + chunk("ALTW", height_scale);
}

// Header, two bytes a cell, "EOF ".
constexpr std::size_t terSize(std::size_t rows, std::size_t columns) {
    return 48 + 2 * rows * columns + 4;
}

}  // namespace marlwood::testsupport
