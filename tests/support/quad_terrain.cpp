#include "quad_terrain.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace marlwood::testsupport {

namespace {

constexpr double kLakeLevel = 412.0;

// Lattice noise from an integer hash, so no platform's random engine is involved.
double latticeNoise(std::int32_t i, std::int32_t j) {
    auto h =
        static_cast<std::uint32_t>(i) * 0x8da6b343u ^ static_cast<std::uint32_t>(j) * 0xd8163841u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<double>(h & 0xFFFFu) / 65535.0 * 2.0 - 1.0;
}

double valueNoise(double u, double v) {
    const double fu = std::floor(u);
    const double fv = std::floor(v);
    const auto i = static_cast<std::int32_t>(fu);
    const auto j = static_cast<std::int32_t>(fv);
    const double su = (u - fu) * (u - fu) * (3.0 - 2.0 * (u - fu));
    const double sv = (v - fv) * (v - fv) * (3.0 - 2.0 * (v - fv));
    const double a = latticeNoise(i, j) + su * (latticeNoise(i + 1, j) - latticeNoise(i, j));
    const double b =
        latticeNoise(i, j + 1) + su * (latticeNoise(i + 1, j + 1) - latticeNoise(i, j + 1));
    return a + sv * (b - a);
}

double bump(double u, double v, double cu, double cv, double radius) {
    const double du = (u - cu) / radius;
    const double dv = (v - cv) / radius;
    return std::exp(-(du * du + dv * dv));
}

}  // namespace

double terrain(double u, double v) {
    double z = 560.0 + 220.0 * v;
    z += 620.0 * bump(u, v, 0.22, 0.78, 0.14);
    z += 480.0 * bump(u, v, 0.74, 0.84, 0.11);
    z += 380.0 * bump(u, v, 0.84, 0.28, 0.10);
    z += 260.0 * bump(u, v, 0.12, 0.22, 0.09);
    // A river valley winding south into the lake basin.
    const double river = 0.48 + 0.07 * std::sin(7.0 * v) + 0.03 * std::sin(19.0 * v);
    const double across = (u - river) / 0.045;
    z -= 240.0 * std::exp(-across * across) * std::clamp((v - 0.28) / 0.2, 0.0, 1.0);
    // The lake basin: everything it drops below the lake level is water, hence flat.
    z -= 420.0 * bump(u, v, 0.47, 0.24, 0.09);
    z += 28.0 * valueNoise(u * 24.0, v * 32.0) + 9.0 * valueNoise(u * 80.0 + 7.0, v * 107.0);
    z += 3.0 * valueNoise(u * 400.0 + 11.0, v * 520.0);
    return std::clamp(std::max(z, kLakeLevel), 300.0, 1400.0);
}

namespace {

// The quad inside the grid's bounding box: a trapezoid whose edges lean by a few cells.
bool insideQuad(double u, double v) {
    return u >= 0.012 * v && u <= 1.0 - 0.012 * (1.0 - v) && v >= 0.009 * u &&
           v <= 1.0 - 0.009 * (1.0 - u);
}

}  // namespace

Transfer makeQuad(int rows, int columns, CellFormat format, int spacing_m,
                  const std::string& file_id, Cel0Layout layout) {
    Transfer t;
    t.rows = rows;
    t.columns = columns;
    t.format = format;
    t.layout = layout;
    t.spacing_m = spacing_m;
    t.file_id = file_id;
    const int void_row = rows * 3 / 5;
    const int void_column = columns / 4;
    const int void_size = std::max(rows / 100, std::min(3, rows / 8));
    t.elevations.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
    for (int row = 0; row < rows; ++row) {
        const double v = 1.0 - static_cast<double>(row) / std::max(rows - 1, 1);  // row 0: north
        for (int column = 0; column < columns; ++column) {
            const double u = static_cast<double>(column) / std::max(columns - 1, 1);
            double z = terrain(u, v);
            if (format == CellFormat::Bi16) z = std::round(z);
            if (!insideQuad(u, v)) {
                z = kFillElevation;
            } else if (row >= void_row && row < void_row + void_size && column >= void_column &&
                       column < void_column + 2 * void_size) {
                z = kVoidElevation;
            }
            t.elevations.push_back(z);
        }
    }
    return t;
}

}  // namespace marlwood::testsupport
