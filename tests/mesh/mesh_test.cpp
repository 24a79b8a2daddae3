// The meshes as their files hold them, read back from the bytes: the STL solid closed (each edge
// of two facets, once each way), facing outward and without a degenerate facet; the surface's
// vertices on the grid; the glb's chunks and the OBJ's lines.
#include "mesh/mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace marlwood {
namespace {

struct Field {
    std::int32_t width = 0, height = 0;
    std::vector<float> heights;
    HeightField view() const { return {width, height, width, heights.data()}; }
};

Field hills(std::int32_t width, std::int32_t height) {
    Field f{width, height, {}};
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            f.heights.push_back(static_cast<float>(
                200 + 30 * std::sin(x * 0.3) * std::cos(y * 0.2) + ((x * 7 + y * 13) % 5)));
        }
    }
    return f;
}

template <class T>
T get(const std::string& bytes, std::size_t at) {
    T value{};
    std::memcpy(&value, bytes.data() + at, sizeof(T));
    return value;
}

struct Closure {
    std::size_t facets = 0;
    std::size_t unpaired = 0;    // directed edges without their reverse, or more than once
    std::size_t degenerate = 0;  // facets of no area
    std::size_t misnormal = 0;   // stored normals against the winding
    double volume = 0;           // signed: positive when the facets face outward
    float lowest = 1e30F, highest = -1e30F;
};

// A binary STL read back; vertices are the same point when their three floats are.
Closure closure(const std::string& stl) {
    Closure c;
    EXPECT_GE(stl.size(), 84u);
    c.facets = get<std::uint32_t>(stl, 80);
    EXPECT_EQ(stl.size(), 84 + 50 * c.facets);
    EXPECT_NE(stl.compare(0, 5, "solid"), 0);
    using Point = std::array<float, 3>;
    std::map<std::pair<Point, Point>, int> edges;
    for (std::size_t f = 0; f < c.facets; ++f) {
        const std::size_t at = 84 + 50 * f;
        Point n, p[3];
        for (int k = 0; k < 3; ++k) n[k] = get<float>(stl, at + 4 * k);
        for (int v = 0; v < 3; ++v) {
            for (int k = 0; k < 3; ++k) p[v][k] = get<float>(stl, at + 12 + 12 * v + 4 * k);
            c.lowest = std::min(c.lowest, p[v][2]);
            c.highest = std::max(c.highest, p[v][2]);
        }
        for (int v = 0; v < 3; ++v) ++edges[{p[v], p[(v + 1) % 3]}];
        double u[3], w[3];
        for (int k = 0; k < 3; ++k) {
            u[k] = double{p[1][k]} - p[0][k];
            w[k] = double{p[2][k]} - p[0][k];
        }
        const double cross[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                                 u[0] * w[1] - u[1] * w[0]};
        const double area =
            std::sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]);
        if (area <= 1e-12) ++c.degenerate;
        if (area > 0 && (cross[0] * n[0] + cross[1] * n[1] + cross[2] * n[2]) / area < 0.999)
            ++c.misnormal;
        c.volume += (p[0][0] * (double{p[1][1]} * p[2][2] - double{p[1][2]} * p[2][1]) -
                     p[0][1] * (double{p[1][0]} * p[2][2] - double{p[1][2]} * p[2][0]) +
                     p[0][2] * (double{p[1][0]} * p[2][1] - double{p[1][1]} * p[2][0])) /
                    6;
    }
    for (const auto& [edge, count] : edges) {
        const auto back = edges.find({edge.second, edge.first});
        if (count != 1 || back == edges.end() || back->second != 1) ++c.unpaired;
    }
    return c;
}

std::string stlOf(const Mesh& mesh) {
    std::ostringstream out;
    writeStl(out, mesh, "test");
    return out.str();
}

TEST(PrintSolid, ClosedOutwardAndWithoutDegenerateFacets) {
    const Field field = hills(41, 29);
    struct Case {
        const char* name;
        HeightField tile;
        std::int32_t first_column, first_row;
        double max_error;
    };
    const std::vector<Case> cases = {
        {"full grid", field.view(), 0, 0, 0.0},
        {"simplified", field.view(), 0, 0, 2.0},
        {"coarse", field.view(), 0, 0, 50.0},
        {"tile", field.view().window(20, 14, 21, 15), 20, 14, 1.0},
        {"2 x 2", field.view().window(5, 5, 2, 2), 5, 5, 1.0},
    };
    for (const Case& k : cases) {
        PrintFrame frame{.posting_x_m = 30,
                         .posting_y_m = 30,
                         .mm_per_m = 0.1,
                         .z_scale = 2,
                         .lowest_m = 150,
                         .base_mm = 3,
                         .first_column = k.first_column,
                         .first_row = k.first_row,
                         .rows = field.height};
        const Tin tin = triangulate(k.tile, k.max_error);
        const Closure c = closure(stlOf(printSolid(k.tile, tin, frame)));
        EXPECT_EQ(c.unpaired, 0u) << k.name;
        EXPECT_EQ(c.degenerate, 0u) << k.name;
        EXPECT_EQ(c.misnormal, 0u) << k.name;
        EXPECT_GT(c.volume, 0) << k.name;
        EXPECT_EQ(c.lowest, 0) << k.name;
        // The volume of the full grid's solid is the base plus the heights' prism, point for point.
        if (k.max_error == 0) {
            double prism = 0;
            for (std::int32_t y = 0; y + 1 < k.tile.height; ++y) {
                for (std::int32_t x = 0; x + 1 < k.tile.width; ++x) {
                    // Two triangles a cell (nw, sw, se) and (nw, se, ne): their mean heights.
                    const double nw = k.tile.at(x, y), ne = k.tile.at(x + 1, y);
                    const double sw = k.tile.at(x, y + 1), se = k.tile.at(x + 1, y + 1);
                    prism += ((nw + sw + se) / 3 + (nw + se + ne) / 3) / 2 - 150;
                }
            }
            const double cell = 3.0 * 3.0;  // 30 m at 0.1 mm a metre
            const double expected =
                cell * ((k.tile.width - 1) * (k.tile.height - 1) * 3 + prism * 0.2);
            EXPECT_NEAR(c.volume, expected, expected * 1e-5) << k.name;
        }
    }
}

TEST(SurfaceMesh, VerticesOnTheGridAndNormalsUp) {
    const Field field = hills(30, 20);
    const Tin tin = triangulate(field.view(), 1.0);
    const Mesh mesh = surfaceMesh(field.view(), tin, 10, 12.5);
    ASSERT_EQ(mesh.positions.size(), tin.vertices.size());
    ASSERT_EQ(mesh.normals.size(), tin.vertices.size());
    for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
        const auto& p = mesh.positions[i];
        const double column = p[0] / 10, row = p[2] / 12.5;
        ASSERT_EQ(column, std::round(column));
        ASSERT_EQ(row, std::round(row));
        EXPECT_EQ(p[1], field.view().at(static_cast<std::int32_t>(column),
                                        static_cast<std::int32_t>(row)));
        const auto& n = mesh.normals[i];
        EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1, 1e-6);
        EXPECT_GT(n[1], 0);
    }
    // Counter-clockwise from above, y up and z south: each face's normal points up.
    for (std::size_t t = 0; t < mesh.triangles.size(); t += 3) {
        const auto& a = mesh.positions[mesh.triangles[t]];
        const auto& b = mesh.positions[mesh.triangles[t + 1]];
        const auto& c = mesh.positions[mesh.triangles[t + 2]];
        const double up = (double{b[2]} - a[2]) * (double{c[0]} - a[0]) -
                          (double{b[0]} - a[0]) * (double{c[2]} - a[2]);
        ASSERT_GT(up, 0) << t / 3;
    }
}

TEST(SurfaceFiles, GlbChunksAndObjLines) {
    const Field field = hills(12, 9);
    const Tin tin = triangulate(field.view(), 0.5);
    const Mesh mesh = surfaceMesh(field.view(), tin, 30, 30);
    std::ostringstream glb_out;
    writeGlb(glb_out, mesh);
    const std::string glb = glb_out.str();
    ASSERT_GE(glb.size(), 28u);
    EXPECT_EQ(glb.substr(0, 4), "glTF");
    EXPECT_EQ(get<std::uint32_t>(glb, 4), 2u);
    EXPECT_EQ(get<std::uint32_t>(glb, 8), glb.size());
    const auto json_length = get<std::uint32_t>(glb, 12);
    EXPECT_EQ(json_length % 4, 0u);
    EXPECT_EQ(glb.substr(16, 4), "JSON");
    const std::size_t bin = 20 + json_length;
    const std::size_t expected_bin = mesh.positions.size() * 24 + mesh.triangles.size() * 4;
    EXPECT_EQ(get<std::uint32_t>(glb, bin), expected_bin);
    EXPECT_EQ(glb.substr(bin + 4, 4), std::string("BIN\0", 4));
    EXPECT_EQ(glb.size(), bin + 8 + expected_bin);
    EXPECT_NE(glb.find("\"byteLength\":" + std::to_string(expected_bin) + "}"), std::string::npos);

    std::ostringstream obj_out;
    writeObj(obj_out, mesh, "a test");
    std::istringstream obj(obj_out.str());
    std::map<std::string, std::size_t> lines;
    for (std::string line; std::getline(obj, line);) ++lines[line.substr(0, line.find(' '))];
    EXPECT_EQ(lines["#"], 1u);
    EXPECT_EQ(lines["v"], mesh.positions.size());
    EXPECT_EQ(lines["vn"], mesh.normals.size());
    EXPECT_EQ(lines["f"], tin.triangleCount());
}

// A textured glb: the picture's bytes where its view says, the coordinates beside the positions
// (each vertex at its point's share of the picture), the chunk padded to whole words.
TEST(SurfaceFiles, GlbHoldsItsTextureAndCoordinates) {
    const Field field = hills(12, 9);
    const Tin tin = triangulate(field.view(), 0.5);
    Mesh mesh = surfaceMesh(field.view(), tin, 30, 30);
    addTextureCoordinates(mesh, field.view(), tin);
    ASSERT_EQ(mesh.texture_coordinates.size(), tin.vertices.size());
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "pixels";  // 14 bytes
    std::ostringstream out;
    writeGlb(out, mesh, png);
    const std::string glb = out.str();
    EXPECT_EQ(get<std::uint32_t>(glb, 8), glb.size());
    EXPECT_EQ(glb.size() % 4, 0u);
    const auto json_length = get<std::uint32_t>(glb, 12);
    const std::string json = glb.substr(20, json_length);
    const std::size_t bin = 20 + json_length + 8;
    EXPECT_EQ(get<std::uint32_t>(glb, bin - 8), glb.size() - bin);
    for (const char* part :
         {R"("TEXCOORD_0":2)", R"("indices":3)", R"("baseColorTexture":{"index":0})",
          R"("images":[{"bufferView":4,"mimeType":"image/png"}])"}) {
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    }
    const std::size_t vertices = mesh.positions.size();
    const std::size_t image = vertices * 32 + mesh.triangles.size() * 4;
    EXPECT_NE(
        json.find(R"({"buffer":0,"byteOffset":)" + std::to_string(image) + R"(,"byteLength":14})"),
        std::string::npos)
        << json;
    EXPECT_EQ(glb.substr(bin + image, png.size()), png);
    for (std::size_t i = 0; i < vertices; ++i) {
        const GridPoint& v = tin.vertices[i];
        EXPECT_FLOAT_EQ(get<float>(glb, bin + vertices * 24 + 8 * i), (v.x + 0.5F) / 12) << i;
        EXPECT_FLOAT_EQ(get<float>(glb, bin + vertices * 24 + 8 * i + 4), (v.y + 0.5F) / 9) << i;
    }
}

}  // namespace
}  // namespace marlwood
