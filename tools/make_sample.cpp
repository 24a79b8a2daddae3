// make_sample <dir> <four digits>
//
// Writes a small synthetic 7.5-minute style DEM transfer: 30 m postings, BI16 metres, CEL0 as
// one 'R' record followed by leaderless records, like USGS delivered them. The terrain is
// generated deterministically (hills, a river valley, a flat lake), so the same files come out
// on every machine.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "sdts_writer.h"

namespace {

using marlwood::testsupport::Cel0Layout;
using marlwood::testsupport::CellFormat;
using marlwood::testsupport::Transfer;

constexpr double kSpacing = 30.0;

struct Point {
    double x, y;
};

// A quad's corners in UTM form a slightly rotated trapezoid; these give a 341 x 257 grid.
constexpr Point kSw{455212.37, 5003187.92};
constexpr Point kNw{455101.85, 5013331.04};
constexpr Point kNe{462718.44, 5013419.71};
constexpr Point kSe{462836.10, 5003276.33};

constexpr double kLakeLevel = 412.0;

// Integer hash for value noise: fixed arithmetic, so no platform's random engine is involved.
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

// Elevation in metres at (u, v) in [0, 1]^2, u east and v north.
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
    return std::clamp(std::max(z, kLakeLevel), 300.0, 1400.0);
}

// Sign of the turn from edge a->b to point p.
double side(Point a, Point b, Point p) {
    return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}

bool insideQuad(Point p) {
    const std::array<Point, 4> ring = {kSw, kNw, kNe, kSe};
    bool anyLeft = false;
    bool anyRight = false;
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const double s = side(ring[k], ring[(k + 1) % ring.size()], p);
        anyLeft = anyLeft || s > 0;
        anyRight = anyRight || s < 0;
    }
    return !(anyLeft && anyRight);
}

Transfer sampleTransfer(const std::string& fileId) {
    // The grid holds the postings inside the quad's bounding box, as in USGS transfers.
    const double west = std::ceil(std::min(kSw.x, kNw.x) / kSpacing) * kSpacing;
    const double east = std::floor(std::max(kSe.x, kNe.x) / kSpacing) * kSpacing;
    const double north = std::floor(std::max(kNw.y, kNe.y) / kSpacing) * kSpacing;
    const double south = std::ceil(std::min(kSw.y, kSe.y) / kSpacing) * kSpacing;

    Transfer t;
    t.file_id = fileId;
    t.format = CellFormat::Bi16;
    t.layout = Cel0Layout::RThenLeaderless;
    t.spacing_m = static_cast<int>(kSpacing);
    t.units = "METERS";
    t.corners = {kSw.x, kSw.y, kNw.x, kNw.y, kNe.x, kNe.y, kSe.x, kSe.y};
    t.columns = static_cast<int>(std::lround((east - west) / kSpacing)) + 1;
    t.rows = static_cast<int>(std::lround((north - south) / kSpacing)) + 1;
    t.elevations.reserve(static_cast<std::size_t>(t.rows) * static_cast<std::size_t>(t.columns));
    for (int row = 0; row < t.rows; ++row) {
        for (int col = 0; col < t.columns; ++col) {
            const Point p{west + col * kSpacing, north - row * kSpacing};
            const double u = (p.x - west) / (east - west);
            const double v = (p.y - south) / (north - south);
            // Postings outside the quad are fill; a small patch inside is void (no data).
            const bool voidPatch = row >= 198 && row < 201 && col >= 61 && col < 66;
            double z = std::round(terrain(u, v));
            if (!insideQuad(p))
                z = marlwood::testsupport::kFillElevation;
            else if (voidPatch)
                z = marlwood::testsupport::kVoidElevation;
            t.elevations.push_back(z);
        }
    }
    return t;
}

bool isFourDigits(const std::string& s) {
    return s.size() == 4 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || !isFourDigits(argv[2])) {
        std::fprintf(stderr, "usage: make_sample <dir> <four digits>\n");
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        const std::string prefix = (dir / argv[2]).string();
        marlwood::testsupport::writeModules(
            prefix, marlwood::testsupport::buildModules(sampleTransfer(argv[2])));
        std::printf("wrote %s\n", prefix.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
