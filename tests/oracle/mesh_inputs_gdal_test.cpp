// Meshes of inputs other than one transfer: a merge across a UTM zone boundary, and a 3DEP-style
// tile (a Float32 COG in NAD83 degrees, which GDAL writes from DULUTH as a stand-in). Each mesh
// is held against the grid the same command writes as a GeoTIFF: every vertex on a grid point at
// that point's height, every grid point within --max-error of the triangle over it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "conversation.h"
#include "files.h"
#include "geo/projection.h"
#include "oracle_support.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

struct Obj {
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::array<std::size_t, 3>> faces;  // from 0
};

Obj readObj(const fs::path& path) {
    Obj obj;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "v") {
            std::array<double, 3> v{};
            words >> v[0] >> v[1] >> v[2];
            obj.vertices.push_back(v);
        } else if (kind == "f") {
            std::array<std::size_t, 3> f{};
            for (std::size_t& index : f) {
                std::string word;
                words >> word;
                index = std::stoul(word.substr(0, word.find('/'))) - 1;
            }
            obj.faces.push_back(f);
        }
    }
    return obj;
}

double sidecarNumber(const std::string& json, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(json, m, std::regex("\"" + key + "\": ([-0-9.e]+)"))) return -1;
    return std::stod(m[1]);
}

struct Held {
    std::string fault;
    double max_error = 0;
    std::size_t uncovered = 0;
};

// The mesh (x east, y up, z south, metres) over the grid: each vertex's grid point found from
// its position, each grid point's error against the plane of a triangle over it.
Held hold(const Raster& grid, const Obj& mesh, double posting_x, double posting_y) {
    Held held;
    struct Point {
        std::int64_t x, y;
    };
    std::vector<Point> points;
    const auto height = [&](std::int64_t x, std::int64_t y) {
        return grid.values[static_cast<std::size_t>(y * grid.width + x)];
    };
    for (const auto& v : mesh.vertices) {
        const Point p{std::llround(v[0] / posting_x), std::llround(v[2] / posting_y)};
        if (p.x < 0 || p.y < 0 || p.x >= grid.width || p.y >= grid.height ||
            std::abs(v[0] - p.x * posting_x) > 0.002 || std::abs(v[2] - p.y * posting_y) > 0.002) {
            held.fault = "a vertex off the grid's points";
            return held;
        }
        // Written to the millimetre.
        if (std::abs(v[1] - height(p.x, p.y)) > 0.0006) held.fault = "a vertex off the surface";
        points.push_back(p);
    }
    std::vector<char> covered(grid.values.size(), 0);
    for (const auto& f : mesh.faces) {
        const Point a = points[f[0]], b = points[f[1]], c = points[f[2]];
        const auto orient = [](Point p, Point q, std::int64_t x, std::int64_t y) {
            return (q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x);
        };
        const std::int64_t area = orient(a, b, c.x, c.y);
        if (area == 0) {
            held.fault = "a triangle of no area";
            continue;
        }
        const std::int64_t sign = area > 0 ? 1 : -1;
        for (std::int64_t y = std::min({a.y, b.y, c.y}); y <= std::max({a.y, b.y, c.y}); ++y) {
            for (std::int64_t x = std::min({a.x, b.x, c.x}); x <= std::max({a.x, b.x, c.x}); ++x) {
                const std::int64_t wa = sign * orient(b, c, x, y), wb = sign * orient(c, a, x, y),
                                   wc = sign * orient(a, b, x, y);
                if (wa < 0 || wb < 0 || wc < 0) continue;
                covered[static_cast<std::size_t>(y * grid.width + x)] = 1;
                const double z =
                    (wa * height(a.x, a.y) + wb * height(b.x, b.y) + wc * height(c.x, c.y)) /
                    static_cast<double>(sign * area);
                held.max_error = std::max(held.max_error, std::abs(z - height(x, y)));
            }
        }
    }
    for (const char c : covered) held.uncovered += c == 0;
    return held;
}

TEST(MeshInputsAgainstGdal, MergeAcrossZonesAndA3depTileLieOnTheirGrids) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const fs::path catd = usgs / "7172-duluth-mn" / "7172catd.ddf";
    struct Case {
        const char* name;
        std::function<std::vector<std::string>()> sources;  // made when the case runs
        std::vector<std::string> options;
        std::string report;  // in the conversion's report
    };
    const std::vector<Case> cases = {
        {"a merge of quads either side of 90 W",
         [&] {
             writeModules(tmp / "6015", buildModules(quadInZone("6015", -90.0625, 0.0625, 15)));
             writeModules(tmp / "6016", buildModules(quadInZone("6016", -90, 0.09375, 16)));
             return std::vector<std::string>{tmp / "6015", tmp / "6016"};
         },
         {"--merge"},
         "reprojected from zone 15"},
        {"a 3DEP-style tile",
         [&] {
             const std::string tile = tmp / "USGS_1_n47w093.tif";
             const std::string warp =
                 "gdalwarp -q -overwrite -t_srs EPSG:4269 -tr 0.000277777777778 "
                 "0.000277777777778 -r bilinear -dstnodata -999999 -ot Float32 -of COG "
                 "-co COMPRESS=DEFLATE -co PREDICTOR=YES -co BLOCKSIZE=128 '" +
                 catd.string() + "' '" + tile + "' >/dev/null 2>&1";
             EXPECT_EQ(std::system(warp.c_str()), 0) << warp;
             return std::vector<std::string>{tile};
         },
         {},
         "USGS_1_n47w093.tif"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> sources = c.sources();
        for (const double max_error : {0.5, 3.0}) {
            SCOPED_TRACE(max_error);
            const auto command = [&](const std::string& output) {
                std::vector<std::string> arguments = c.options;
                arguments.insert(arguments.end(), {"-f", "--fill-voids", "-o", output});
                if (output.ends_with(".obj")) {
                    arguments.insert(arguments.end(), {"--max-error", std::to_string(max_error)});
                }
                arguments.insert(arguments.end(), sources.begin(), sources.end());
                return testsupport::commandLine(arguments);
            };
            const testsupport::CliRun mesh = command(tmp / "m.obj");
            ASSERT_EQ(mesh.status, 0) << mesh.err;
            EXPECT_NE(mesh.out.find(c.report), std::string::npos) << mesh.out;
            const testsupport::CliRun tif = command(tmp / "m.tif");
            ASSERT_EQ(tif.status, 0) << tif.err;
            const Raster grid = gdalRead(tmp / "m.tif");
            const std::string json = testsupport::readFile(tmp / "m.json");
            ASSERT_EQ(sidecarNumber(json, "width"), grid.width) << json;
            ASSERT_EQ(sidecarNumber(json, "height"), grid.height) << json;
            const Obj obj = readObj(tmp / "m.obj");
            ASSERT_GT(obj.faces.size(), 100u);
            const Held held = hold(grid, obj, sidecarNumber(json, "posting_x_m"),
                                   sidecarNumber(json, "posting_y_m"));
            EXPECT_EQ(held.fault, "");
            EXPECT_EQ(held.uncovered, 0u);
            EXPECT_LE(held.max_error, max_error + 1e-6);
            EXPECT_GT(held.max_error, max_error / 2);  // simplified, not the full grid
        }
    }
}

}  // namespace
}  // namespace marlwood::oracle
