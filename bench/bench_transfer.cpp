#include "bench_transfer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace marlwood::bench {

namespace {

using testsupport::Cel0Layout;
using testsupport::CellFormat;

// Lattice noise from an integer hash, so no platform's random engine is involved.
double hashNoise(std::int32_t i, std::int32_t j) {
    std::uint32_t h = static_cast<std::uint32_t>(i) * 0x9e3779b1u;
    h ^= static_cast<std::uint32_t>(j) * 0x85ebca77u;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    return static_cast<double>(h & 0xFFFFFu) / 1048575.0 * 2.0 - 1.0;
}

double smoothNoise(double u, double v) {
    const double fu = std::floor(u);
    const double fv = std::floor(v);
    const auto i = static_cast<std::int32_t>(fu);
    const auto j = static_cast<std::int32_t>(fv);
    const double su = (u - fu) * (u - fu) * (3.0 - 2.0 * (u - fu));
    const double sv = (v - fv) * (v - fv) * (3.0 - 2.0 * (v - fv));
    const double a = hashNoise(i, j) + su * (hashNoise(i + 1, j) - hashNoise(i, j));
    const double b = hashNoise(i, j + 1) + su * (hashNoise(i + 1, j + 1) - hashNoise(i, j + 1));
    return a + sv * (b - a);
}

double hill(double u, double v, double cu, double cv, double radius) {
    const double du = (u - cu) / radius;
    const double dv = (v - cv) / radius;
    return std::exp(-(du * du + dv * dv));
}

// Metres at (u, v) in [0, 1]^2, u east and v north: a mountain block cut by a valley, with
// roughness down to the scale of a few cells so that neighbouring values differ.
double terrain(double u, double v) {
    double z = 640.0 + 310.0 * v;
    z += 880.0 * hill(u, v, 0.30, 0.72, 0.16);
    z += 540.0 * hill(u, v, 0.78, 0.60, 0.12);
    z += 350.0 * hill(u, v, 0.62, 0.18, 0.10);
    const double valley = 0.55 + 0.08 * std::sin(6.0 * v) + 0.02 * std::sin(23.0 * v);
    const double across = (u - valley) / 0.05;
    z -= 300.0 * std::exp(-across * across);
    z += 60.0 * smoothNoise(u * 12.0, v * 15.0);
    z += 18.0 * smoothNoise(u * 90.0 + 3.0, v * 110.0);
    z += 4.0 * smoothNoise(u * 500.0 + 11.0, v * 640.0);
    return z;
}

// The quad is a slightly rotated trapezoid inside the grid's bounding box; postings outside it
// are fill, as in USGS transfers.
bool insideQuad(double u, double v) {
    return u >= 0.012 * v && u <= 1.0 - 0.012 * (1.0 - v) && v >= 0.009 * u &&
           v <= 1.0 - 0.009 * (1.0 - u);
}

}  // namespace

bool parseQuad(const std::string& text, Quad& quad) {
    if (text == "10m") {
        quad = Quad::Bfp32At10m;
        return true;
    }
    if (text == "30m") {
        quad = Quad::Bi16At30m;
        return true;
    }
    return false;
}

QuadTransfer makeQuadTransfer(Quad quad, const std::string& file_id) {
    QuadTransfer q;
    testsupport::Transfer& t = q.transfer;
    t.file_id = file_id;
    t.layout = Cel0Layout::RThenLeaderless;
    t.units = "METERS";
    if (quad == Quad::Bfp32At10m) {
        t.format = CellFormat::Bfp32;
        t.spacing_m = 10;
        t.rows = 1391;
        t.columns = 1087;
    } else {
        t.format = CellFormat::Bi16;
        t.spacing_m = 30;
        t.rows = 467;
        t.columns = 323;
    }
    // A patch of void (no data) inside the quad, away from its edges.
    const int void_row = t.rows * 2 / 5;
    const int void_column = t.columns / 3;
    const int void_size = std::max(3, t.rows / 100);

    q.min_elevation = std::numeric_limits<double>::max();
    q.max_elevation = std::numeric_limits<double>::lowest();
    t.elevations.reserve(static_cast<std::size_t>(t.rows) * static_cast<std::size_t>(t.columns));
    for (int row = 0; row < t.rows; ++row) {
        const double v = 1.0 - static_cast<double>(row) / (t.rows - 1);  // row 0 is north
        for (int column = 0; column < t.columns; ++column) {
            const double u = static_cast<double>(column) / (t.columns - 1);
            double z = terrain(u, v);
            if (t.format == CellFormat::Bi16) {
                z = std::round(z);
            } else {
                z = static_cast<double>(static_cast<float>(z));  // what the module will hold
            }
            if (!insideQuad(u, v)) {
                z = testsupport::kFillElevation;
            } else if (row >= void_row && row < void_row + void_size && column >= void_column &&
                       column < void_column + 2 * void_size) {
                z = testsupport::kVoidElevation;
            } else {
                q.min_elevation = std::min(q.min_elevation, z);
                q.max_elevation = std::max(q.max_elevation, z);
            }
            t.elevations.push_back(z);
        }
    }
    return q;
}

}  // namespace marlwood::bench
