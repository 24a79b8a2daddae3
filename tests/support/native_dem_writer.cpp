#include "native_dem_writer.h"

#include <algorithm>
#include <cstdio>

namespace marlwood::testsupport {

namespace {

constexpr std::size_t kRecord = 1024;

// Writes `text` at bytes `first`.. (from 1) of the record, right-aligned in `width`.
void put(std::string& record, std::size_t first, std::size_t width, const std::string& text) {
    const std::string field =
        text.size() >= width ? text.substr(0, width) : std::string(width - text.size(), ' ') + text;
    record.replace(first - 1, width, field);
}

std::string integer(long v) {
    return std::to_string(v);
}

}  // namespace

std::string fortranReal(double v, int width, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%*.*E", width, decimals, v);
    std::string s = text;
    std::replace(s.begin(), s.end(), 'E', 'D');
    return s;
}

std::string nativeDem(const DemContents& model) {
    std::string out;
    const auto finish = [&](std::string record) {
        record.resize(kRecord, ' ');
        out += record + model.line_end;
    };
    std::string a(kRecord, ' ');
    a.replace(0, std::min<std::size_t>(model.name.size(), 40), model.name.substr(0, 40));
    put(a, 145, 6, "1");
    put(a, 151, 6, "1");
    put(a, 157, 6, integer(model.reference_system));
    put(a, 163, 6, integer(model.zone));
    for (int i = 0; i < 15; ++i) put(a, 169 + 24 * i, 24, "0.0");
    put(a, 529, 6, integer(model.ground_unit));
    put(a, 535, 6, integer(model.elevation_unit));
    put(a, 541, 6, "4");
    // The quad's corners: a little outside the points, off the lattice as a real quad's are.
    double west = 0, east = 0, south = 0, north = 0;
    int low = 0, high = 0;
    for (std::size_t i = 0; i < model.profiles.size(); ++i) {
        const DemProfile& p = model.profiles[i];
        const double top = p.y + model.dy * (static_cast<double>(p.values.size()) - 1);
        west = i == 0 ? p.x : std::min(west, p.x);
        east = i == 0 ? p.x : std::max(east, p.x);
        south = i == 0 ? p.y : std::min(south, p.y);
        north = i == 0 ? top : std::max(north, top);
        for (const int v : p.values) {
            if (v == -32767) continue;
            low = std::min(low == 0 ? v : low, v);
            high = std::max(high, v);
        }
    }
    const double corners[8] = {west - 7, south - 4, west - 7, north + 3,
                               east + 6, north + 3, east + 6, south - 4};
    for (int i = 0; i < 8; ++i) put(a, 547 + 24 * i, 24, fortranReal(corners[i]));
    put(a, 739, 24, fortranReal(low));
    put(a, 763, 24, fortranReal(high));
    put(a, 817, 12, fortranReal(model.dx, 12, 6));
    put(a, 829, 12, fortranReal(model.dy, 12, 6));
    put(a, 841, 12, fortranReal(model.dz, 12, 6));
    put(a, 853, 6, "1");
    const long count =
        model.profiles_in_a >= 0 ? model.profiles_in_a : static_cast<long>(model.profiles.size());
    put(a, 859, 6, integer(count));
    put(a, 891, 2, integer(model.horizontal_datum));
    finish(a);
    long column = 0;
    for (const DemProfile& p : model.profiles) {
        std::string record(kRecord, ' ');
        put(record, 1, 6, "1");
        put(record, 7, 6, integer(++column));
        put(record, 13, 6, integer(static_cast<long>(p.values.size())));
        put(record, 19, 6, "1");
        put(record, 25, 24, fortranReal(p.x));
        put(record, 49, 24, fortranReal(p.y));
        put(record, 73, 24, fortranReal(p.datum));
        const auto [low, high] = std::minmax_element(p.values.begin(), p.values.end());
        put(record, 97, 24, fortranReal(p.values.empty() ? 0 : *low));
        put(record, 121, 24, fortranReal(p.values.empty() ? 0 : *high));
        std::size_t at = 145;
        for (const int v : p.values) {
            if (at + 6 > kRecord + 1 - 4) {
                finish(record);
                record.assign(kRecord, ' ');
                at = 1;
            }
            put(record, at, 6, integer(v));
            at += 6;
        }
        finish(record);
    }
    return out;
}

DemContents quadShapedDem(const std::vector<int>& start_rows, const std::vector<int>& lengths,
                          int base) {
    DemContents model;
    const double west = 566700, south = 5177550;
    int value = base;
    for (std::size_t c = 0; c < start_rows.size(); ++c) {
        DemProfile p;
        p.x = west + model.dx * static_cast<double>(c);
        p.y = south + model.dy * start_rows[c];
        for (int k = 0; k < lengths[c]; ++k) p.values.push_back(value++);
        model.profiles.push_back(p);
    }
    return model;
}

DemContents geographicDem(int columns, int rows, double spacing, double west, double south) {
    DemContents model;
    model.reference_system = 0;
    model.zone = 0;
    model.ground_unit = 3;
    model.dx = model.dy = spacing;
    for (int c = 0; c < columns; ++c) {
        DemProfile p;
        p.x = west + spacing * c;
        p.y = south;
        for (int k = 0; k < rows; ++k) p.values.push_back(c + 2 * k);
        model.profiles.push_back(p);
    }
    return model;
}

}  // namespace marlwood::testsupport
