#include "mesh/mesh.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace marlwood {

namespace {

std::array<float, 3> unit(double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0) return {0, 0, 0};
    return {static_cast<float>(x / length), static_cast<float>(y / length),
            static_cast<float>(z / length)};
}

// The indices of the border vertices, clockwise seen from above from the north-west corner:
// east along the north side, south along the east, west along the south, north along the west.
std::vector<std::uint32_t> borderRing(const HeightField& field, const Tin& tin) {
    const std::int32_t east = field.width - 1, south = field.height - 1;
    struct Along {
        std::int32_t key;
        std::uint32_t index;
    };
    std::vector<Along> sides[4];
    for (std::size_t i = 0; i < tin.vertices.size(); ++i) {
        const GridPoint& v = tin.vertices[i];
        const auto index = static_cast<std::uint32_t>(i);
        // A corner starts the side it is first on: each vertex once.
        if (v.y == 0 && v.x < east) sides[0].push_back({v.x, index});
        if (v.x == east && v.y < south) sides[1].push_back({v.y, index});
        if (v.y == south && v.x > 0) sides[2].push_back({-v.x, index});
        if (v.x == 0 && v.y > 0) sides[3].push_back({-v.y, index});
    }
    std::vector<std::uint32_t> ring;
    for (auto& side : sides) {
        std::sort(side.begin(), side.end(),
                  [](const Along& a, const Along& b) { return a.key < b.key; });
        for (const Along& a : side) ring.push_back(a.index);
    }
    return ring;
}

template <class T>
void put(std::ostream& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));  // little-endian, as the formats are, on every target
    out.write(bytes, sizeof(T));
}

void putNumber(std::string& text, double value, int decimals) {
    char buffer[64];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals)
            .ptr;
    text.append(buffer, end);
}

// JSON numbers that read back as the very floats written, as glTF's bounds must.
std::string floats(const std::array<float, 3>& values) {
    std::string text = "[";
    for (std::size_t k = 0; k < 3; ++k) {
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, values[k]).ptr;
        if (k > 0) text += ',';
        text.append(buffer, end);
    }
    return text + "]";
}

}  // namespace

Mesh printSolid(const HeightField& field, const Tin& tin, const PrintFrame& frame) {
    Mesh mesh;
    const double mm_x = frame.posting_x_m * frame.mm_per_m;
    const double mm_y = frame.posting_y_m * frame.mm_per_m;
    const double mm_z = frame.mm_per_m * frame.z_scale;
    const auto x_mm = [&](std::int32_t x) { return (frame.first_column + x) * mm_x; };
    const auto y_mm = [&](std::int32_t y) { return (frame.rows - 1 - frame.first_row - y) * mm_y; };
    mesh.positions.reserve(tin.vertices.size() * 2);
    for (const GridPoint& v : tin.vertices) {
        const double z = frame.base_mm + (field.at(v.x, v.y) - frame.lowest_m) * mm_z;
        mesh.positions.push_back(
            {static_cast<float>(x_mm(v.x)), static_cast<float>(y_mm(v.y)), static_cast<float>(z)});
    }
    mesh.triangles.assign(tin.triangles.begin(), tin.triangles.end());
    // The surface's border runs counter-clockwise seen from above; the walls run it the other
    // way, each border edge down to a point under each of its ends.
    const std::vector<std::uint32_t> ring = borderRing(field, tin);
    std::vector<std::uint32_t> under(ring.size());
    for (std::size_t i = 0; i < ring.size(); ++i) {
        under[i] = static_cast<std::uint32_t>(mesh.positions.size());
        const auto& top = mesh.positions[ring[i]];
        mesh.positions.push_back({top[0], top[1], 0.0F});
    }
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const std::size_t j = (i + 1) % ring.size();
        mesh.triangles.insert(mesh.triangles.end(),
                              {ring[i], ring[j], under[j], ring[i], under[j], under[i]});
    }
    // The base fanned from a point of its own in the middle, so that no facet is made of three
    // points along one side.
    const auto centre = static_cast<std::uint32_t>(mesh.positions.size());
    mesh.positions.push_back({static_cast<float>((x_mm(0) + x_mm(field.width - 1)) / 2),
                              static_cast<float>((y_mm(0) + y_mm(field.height - 1)) / 2), 0.0F});
    for (std::size_t i = 0; i < ring.size(); ++i) {
        mesh.triangles.insert(mesh.triangles.end(),
                              {centre, under[i], under[(i + 1) % ring.size()]});
    }
    return mesh;
}

Mesh surfaceMesh(const HeightField& field, const Tin& tin, double posting_x_m, double posting_y_m) {
    Mesh mesh;
    mesh.positions.reserve(tin.vertices.size());
    mesh.normals.reserve(tin.vertices.size());
    for (const GridPoint& v : tin.vertices) {
        mesh.positions.push_back({static_cast<float>(v.x * posting_x_m), field.at(v.x, v.y),
                                  static_cast<float>(v.y * posting_y_m)});
        // The slope between the neighbours on each side (one side at the border).
        const std::int32_t w = std::max(v.x - 1, 0), e = std::min(v.x + 1, field.width - 1);
        const std::int32_t n = std::max(v.y - 1, 0), s = std::min(v.y + 1, field.height - 1);
        const double east = (field.at(e, v.y) - field.at(w, v.y)) / ((e - w) * posting_x_m);
        const double south = (field.at(v.x, s) - field.at(v.x, n)) / ((s - n) * posting_y_m);
        mesh.normals.push_back(unit(-east, 1, -south));
    }
    mesh.triangles.assign(tin.triangles.begin(), tin.triangles.end());
    return mesh;
}

void writeStl(std::ostream& out, const Mesh& mesh, const std::string& name) {
    char header[80] = {};
    // "solid" at the start would make some readers take the binary file for text.
    const std::string text = "marlwood terrain " + name + ", millimetres";
    std::memcpy(header, text.data(), std::min(text.size(), sizeof header));
    out.write(header, sizeof header);
    put(out, static_cast<std::uint32_t>(mesh.triangles.size() / 3));
    for (std::size_t t = 0; t + 2 < mesh.triangles.size(); t += 3) {
        const auto& a = mesh.positions[mesh.triangles[t]];
        const auto& b = mesh.positions[mesh.triangles[t + 1]];
        const auto& c = mesh.positions[mesh.triangles[t + 2]];
        const double u[3] = {double{b[0]} - a[0], double{b[1]} - a[1], double{b[2]} - a[2]};
        const double v[3] = {double{c[0]} - a[0], double{c[1]} - a[1], double{c[2]} - a[2]};
        const std::array<float, 3> normal =
            unit(u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]);
        for (const auto* p : {&normal, &a, &b, &c}) {
            for (const float f : *p) put(out, f);
        }
        put(out, std::uint16_t{0});
    }
}

void addTextureCoordinates(Mesh& mesh, const HeightField& field, const Tin& tin) {
    mesh.texture_coordinates.clear();
    mesh.texture_coordinates.reserve(tin.vertices.size());
    for (const GridPoint& v : tin.vertices) {
        mesh.texture_coordinates.push_back({static_cast<float>((v.x + 0.5) / field.width),
                                            static_cast<float>((v.y + 0.5) / field.height)});
    }
}

void writeGlb(std::ostream& out, const Mesh& mesh, const std::string& png) {
    std::array<float, 3> low{}, high{};
    low.fill(std::numeric_limits<float>::max());
    high.fill(std::numeric_limits<float>::lowest());
    for (const auto& p : mesh.positions) {
        for (std::size_t k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
        }
    }
    const bool textured = !png.empty() && mesh.texture_coordinates.size() == mesh.positions.size();
    const std::uint64_t vertices = mesh.positions.size();
    const std::uint64_t indices = mesh.triangles.size();
    const auto n = [](std::uint64_t v) { return std::to_string(v); };
    // The binary chunk's views one after another, each a multiple of 4 bytes but the picture's,
    // which comes last.
    std::string views;
    std::uint64_t bin = 0;
    const auto view = [&](std::uint64_t length, const char* target) {
        views += std::string(views.empty() ? "" : ",") + R"({"buffer":0,"byteOffset":)" + n(bin) +
                 R"(,"byteLength":)" + n(length) + target + "}";
        bin += length;
    };
    view(vertices * 12, R"(,"target":34962)");
    view(vertices * 12, R"(,"target":34962)");
    if (textured) view(vertices * 8, R"(,"target":34962)");
    view(indices * 4, R"(,"target":34963)");
    if (textured) view(png.size(), "");
    const std::string index_view = textured ? "3" : "2";
    std::string json =
        R"({"asset":{"version":"2.0","generator":"marlwood"},"scene":0,"scenes":[{"nodes":[0]}],)"
        R"("nodes":[{"mesh":0,"name":"terrain"}],"meshes":[{"name":"terrain","primitives":[{)"
        R"("attributes":{"POSITION":0,"NORMAL":1)" +
        std::string(textured ? R"(,"TEXCOORD_0":2)" : "") + R"(},"indices":)" + index_view +
        R"(,"material":0,"mode":4}]}],"materials":[{"name":"ground","pbrMetallicRoughness":{)" +
        (textured ? R"("baseColorTexture":{"index":0},)"
                  : R"("baseColorFactor":[0.8,0.8,0.8,1],)") +
        R"("metallicFactor":0,"roughnessFactor":1}}],)";
    if (textured) {
        // A picture that smooths its pixels and stops at its edges, as the terrain does.
        json += R"("textures":[{"sampler":0,"source":0}],"samplers":[{"magFilter":9729,)"
                R"("minFilter":9987,"wrapS":33071,"wrapT":33071}],)"
                R"("images":[{"bufferView":4,"mimeType":"image/png"}],)";
    }
    json += R"("buffers":[{"byteLength":)" + n(bin) + R"(}],"bufferViews":[)" + views +
            R"(],"accessors":[{"bufferView":0,"componentType":5126,"count":)" + n(vertices) +
            R"(,"type":"VEC3","min":)" + floats(low) + R"(,"max":)" + floats(high) +
            R"(},{"bufferView":1,"componentType":5126,"count":)" + n(vertices) +
            R"(,"type":"VEC3"},)";
    if (textured) {
        json += R"({"bufferView":2,"componentType":5126,"count":)" + n(vertices) +
                R"(,"type":"VEC2"},)";
    }
    json += R"({"bufferView":)" + index_view + R"(,"componentType":5125,"count":)" + n(indices) +
            R"(,"type":"SCALAR"}]})";
    json.append((4 - json.size() % 4) % 4, ' ');
    const std::uint64_t padding = (4 - bin % 4) % 4;
    const std::uint64_t total = 12 + 8 + json.size() + 8 + bin + padding;
    put(out, std::uint32_t{0x46546C67});  // "glTF"
    put(out, std::uint32_t{2});
    put(out, static_cast<std::uint32_t>(total));
    put(out, static_cast<std::uint32_t>(json.size()));
    put(out, std::uint32_t{0x4E4F534A});  // "JSON"
    out.write(json.data(), static_cast<std::streamsize>(json.size()));
    put(out, static_cast<std::uint32_t>(bin + padding));
    put(out, std::uint32_t{0x004E4942});  // "BIN"
    for (const auto& p : mesh.positions) {
        for (const float f : p) put(out, f);
    }
    for (const auto& v : mesh.normals) {
        for (const float f : v) put(out, f);
    }
    if (textured) {
        for (const auto& uv : mesh.texture_coordinates) {
            for (const float f : uv) put(out, f);
        }
    }
    for (const std::uint32_t i : mesh.triangles) put(out, i);
    if (textured) out.write(png.data(), static_cast<std::streamsize>(png.size()));
    out.write("\0\0\0", static_cast<std::streamsize>(padding));
}

void writeObj(std::ostream& out, const Mesh& mesh, const std::string& comment) {
    std::string text = "# " + comment + "\n";
    const auto flush = [&] {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        text.clear();
    };
    for (const auto& p : mesh.positions) {
        text += "v ";
        for (std::size_t k = 0; k < 3; ++k) {
            putNumber(text, p[k], 3);
            text += k < 2 ? ' ' : '\n';
        }
        if (text.size() > 1 << 16) flush();
    }
    for (const auto& v : mesh.normals) {
        text += "vn ";
        for (std::size_t k = 0; k < 3; ++k) {
            putNumber(text, v[k], 5);
            text += k < 2 ? ' ' : '\n';
        }
        if (text.size() > 1 << 16) flush();
    }
    const bool normals = !mesh.normals.empty();
    for (std::size_t t = 0; t + 2 < mesh.triangles.size(); t += 3) {
        text += 'f';
        for (std::size_t k = 0; k < 3; ++k) {
            const std::string index = std::to_string(mesh.triangles[t + k] + 1);
            text += ' ';
            text += index;
            if (normals) text += "//" + index;
        }
        text += '\n';
        if (text.size() > 1 << 16) flush();
    }
    flush();
}

}  // namespace marlwood
