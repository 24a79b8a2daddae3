// make_3dep_tiles <dir> <north> <west> <columns>x<rows> [side]: the raw Float32 heights of
// stand-in 1/3" 3DEP tiles, as USGS lays them out: each names its north-west corner
// (USGS_13_nNNwNNN), covers its degree square plus a 6-cell overlap on every side and holds
// -999999 where there is no ground. One synthetic terrain spans all of them, with a fine roughness
// and fractional heights so the blocks compress as measured ground does. Each tile is written as
// NAME.bin with NAME.vrt beside it (GDAL's raw layout and where it lies) for GDAL's COG driver to
// pack; bench/make-3dep-tiles does that.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <string>
#include <vector>

#include "quad_terrain.h"

namespace {

constexpr int kOverlap = 6;

// A repeatable hash in [-1, 1] for the fine roughness.
double hashNoise(std::int64_t i, std::int64_t j) {
    std::uint64_t h = static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ull ^
                      static_cast<std::uint64_t>(j) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<double>(h & 0xFFFFFFu) / 8388607.5 - 1.0;
}

}  // namespace

int main(int argc, char** argv) {
    int columns = 0, rows = 0;
    if (argc < 5 || std::sscanf(argv[4], "%dx%d", &columns, &rows) != 2 || columns < 1 ||
        rows < 1 || columns > 8 || rows > 8) {
        std::fprintf(stderr, "usage: make_3dep_tiles DIR NORTH WEST CxR [SIDE]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int north0 = std::atoi(argv[2]);
    const int west0 = std::atoi(argv[3]);  // degrees west, as in the tile's name
    const int side = argc > 5 ? std::atoi(argv[5]) : 10812;
    if (side <= 2 * kOverlap || side > 20000) {
        std::fprintf(stderr, "make_3dep_tiles: SIDE must be 13..20000\n");
        return 2;
    }
    const int per_degree = side - 2 * kOverlap;
    const double cell = 1.0 / per_degree;
    std::vector<float> row(static_cast<std::size_t>(side));
    for (int ty = 0; ty < rows; ++ty) {
        for (int tx = 0; tx < columns; ++tx) {
            const int north = north0 - ty;
            const int west = west0 - tx;
            char name[64];
            std::snprintf(name, sizeof name, "USGS_13_n%02dw%03d", north, west);
            const std::string stem = dir + "/" + name;
            std::ofstream out(stem + ".bin", std::ios::binary);
            for (int r = 0; r < side; ++r) {
                // Cell indices across the whole set, so overlaps agree with their neighbours.
                const std::int64_t gy = static_cast<std::int64_t>(ty) * per_degree + r - kOverlap;
                const double v = 1.0 - (static_cast<double>(gy) + 0.5) / (rows * per_degree);
                for (int c = 0; c < side; ++c) {
                    const std::int64_t gx =
                        static_cast<std::int64_t>(tx) * per_degree + c - kOverlap;
                    const double u = (static_cast<double>(gx) + 0.5) / (columns * per_degree);
                    const double z = marlwood::testsupport::terrain(u, v) +
                                     1.5 * hashNoise(gx / 3, gy / 3) + 0.2 * hashNoise(gx, gy);
                    row[static_cast<std::size_t>(c)] = static_cast<float>(z);
                }
                out.write(reinterpret_cast<const char*>(row.data()),
                          static_cast<std::streamsize>(row.size() * sizeof(float)));
            }
            if (!out) {
                std::fprintf(stderr, "make_3dep_tiles: cannot write %s.bin\n", stem.c_str());
                return 1;
            }
            std::ofstream(stem + ".vrt")
                << std::setprecision(17) << "<VRTDataset rasterXSize=\"" << side
                << "\" rasterYSize=\"" << side << "\"><SRS>EPSG:4269</SRS><GeoTransform>"
                << -west - kOverlap * cell << "," << cell << ",0," << north + kOverlap * cell
                << ",0," << -cell
                << "</GeoTransform><VRTRasterBand dataType=\"Float32\" band=\"1\" "
                   "subClass=\"VRTRawRasterBand\"><NoDataValue>-999999</NoDataValue>"
                   "<SourceFilename relativeToVRT=\"1\">"
                << name << ".bin</SourceFilename><ImageOffset>0</ImageOffset><PixelOffset>4"
                << "</PixelOffset><LineOffset>" << static_cast<long long>(side) * 4
                << "</LineOffset><ByteOrder>LSB</ByteOrder></VRTRasterBand></VRTDataset>\n";
            std::printf("%s\n", name);
            std::fflush(stdout);
        }
    }
    return 0;
}
