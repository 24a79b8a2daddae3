#include "pipeline/mesh_output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "common/text.h"
#include "mesh/mesh.h"
#include "mesh/tin.h"
#include "pipeline/settings.h"
#include "pipeline/terrain.h"
#include "platform/whole_file.h"
#include "preview/preview.h"

namespace marlwood {

namespace {

namespace fs = std::filesystem;

// A number option's bounds and its value when not given.
struct NumberOption {
    const char* name;
    const char* what;  // "millimetres"
    double least, most;
};
constexpr NumberOption kMaxError{"max-error", "metres", 0, 10000};
constexpr NumberOption kPrintSize{"print-size", "millimetres", 10, 10000};
constexpr NumberOption kZScale{"z-scale", "times", 0.1, 100};
constexpr NumberOption kBase{"base", "millimetres", 0.5, 1000};
constexpr double kDefaultPrintSize = 150, kDefaultZScale = 1, kDefaultBase = 5;

Result<double> number(const NumberOption& option, const std::string& text) {
    double value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || stop != text.data() + text.size() ||
        !std::isfinite(value) || value < option.least || value > option.most) {
        return failure("--" + std::string(option.name) + " takes " + shownNumber(option.least) +
                       " to " + shownNumber(option.most) + " " + option.what + ", not " +
                       quotedText(text, 20));
    }
    return value;
}

double valueOf(const ConversionSettings& settings, const NumberOption& option, double otherwise) {
    const std::string* text = settings.formatValue(option.name);
    if (!text) return otherwise;
    const Result<double> value = number(option, *text);
    return value ? *value : otherwise;  // checked when given
}

FormatOption numberOption(const NumberOption& option, const char* value, const char* help,
                          const char* elsewhere) {
    FormatOption o;
    o.long_name = option.name;
    o.value = value;
    o.help = help;
    o.elsewhere = elsewhere;
    o.apply = [option](ConversionSettings& settings, const std::string& v) -> Status {
        if (Result<double> checked = number(option, v); !checked) return checked.error();
        settings.format_values.emplace_back(option.name, v);
        return {};
    };
    return o;
}

FormatOption maxErrorOption() {
    return numberOption(kMaxError, "METRES",
                        "a mesh's largest vertical error: every grid point within it of the\n"
                        "triangles (default: a 30th of the posting, 1 m at 30 m, 0.33 m at\n"
                        "10 m, the steps of whole metres and feet); 0 for the full grid",
                        "--max-error simplifies a mesh: it goes with stl, glb or obj");
}

FormatOption textureOption() {
    FormatOption o;
    o.long_name = "texture";
    o.help = "a glb coloured by the preview's hillshade, a PNG held in the file";
    o.elsewhere = "--texture colours a glTF mesh: it goes with glb";
    o.apply = [](ConversionSettings& settings, const std::string&) -> Status {
        settings.format_values.emplace_back("texture", "");
        return {};
    };
    return o;
}

// The preview's picture of the heights, for a glb's texture.
std::string hillshadePng(const HeightField& field, const Terrain::Postings& postings) {
    PreviewInput input;
    input.rows = field.height;
    input.columns = field.width;
    input.posting_m = postings.x_m;
    input.posting_y_m = postings.y_m;
    input.metres = [&field](std::int32_t row, std::int32_t column) {
        return static_cast<double>(field.at(column, row));
    };
    return previewPng(input);
}

std::vector<FormatOption> printOptions() {
    FormatOption tiles;
    tiles.long_name = "tiles";
    tiles.value = "CxR";
    tiles.help = "an STL cut into C x R solids that fit together, NAME_x0_y0.stl ...";
    tiles.elsewhere = "--tiles goes with png16, r16, unity or stl";
    tiles.apply = [](ConversionSettings& settings, const std::string& v) -> Status {
        Result<TileCount> count = parseTileCount(v);
        if (!count) return count.error();
        settings.tiles = *count;
        return {};
    };
    return {
        maxErrorOption(),
        numberOption(kPrintSize, "MM", "an STL's longer side in millimetres (default 150)",
                     "--print-size scales a printed solid: it goes with stl"),
        numberOption(kZScale, "FACTOR", "an STL's vertical exaggeration (default 1)",
                     "--z-scale exaggerates a printed solid: it goes with stl"),
        numberOption(kBase, "MM", "an STL's base: millimetres below the lowest point (default 5)",
                     "--base is a printed solid's: it goes with stl"),
        tiles,
    };
}

// The terrain's heights in metres, voids filled already; an Error when none is valid.
struct Heights {
    std::vector<float> metres;
    HeightField field;
    double lowest = 0, highest = 0;
};

Result<Heights> heightsOf(const Terrain& terrain) {
    const DecodedGrid& d = terrain.decoded;
    const std::int32_t valid_above = kVoidThreshold * (d.thousandths ? kThousandths : 1);
    const double unit = d.unit_m / (d.thousandths ? kThousandths : 1);
    if (d.size.rows < 2 || d.size.columns < 2) {
        return failure("a mesh needs a grid of 2 x 2 points at least, not " +
                           std::to_string(d.size.rows) + " x " + std::to_string(d.size.columns),
                       ErrorKind::UsageShape);
    }
    if (static_cast<std::int64_t>(d.size.rows) * d.size.columns >
        std::numeric_limits<std::int32_t>::max() / 2) {
        return failure("a grid of " + std::to_string(d.size.rows) + " x " +
                       std::to_string(d.size.columns) +
                       " points is too large for a mesh; --size makes it smaller");
    }
    const Terrain::Postings postings = terrain.postings();
    if (!(postings.x_m > 0) || !(postings.y_m > 0)) {
        return failure("the grid's posting is not known, so a mesh of it has no scale");
    }
    Heights h;
    h.metres.resize(static_cast<std::size_t>(d.size.rows) * d.size.columns);
    h.lowest = std::numeric_limits<double>::max();
    h.highest = std::numeric_limits<double>::lowest();
    for (std::int32_t r = 0; r < d.size.rows; ++r) {
        const std::int32_t* cells = d.grid[static_cast<std::size_t>(r)];
        float* row = h.metres.data() + static_cast<std::size_t>(r) * d.size.columns;
        for (std::int32_t c = 0; c < d.size.columns; ++c) {
            // Filled before a mesh is made: one left means no cell was valid to fill from.
            if (cells[c] <= valid_above) return failure("no valid elevation to make a mesh of");
            row[c] = static_cast<float>(cells[c] * unit);
            h.lowest = std::min<double>(h.lowest, row[c]);
            h.highest = std::max<double>(h.highest, row[c]);
        }
    }
    h.field = {d.size.columns, d.size.rows, d.size.columns, h.metres.data()};
    return h;
}

// The error the mesh keeps within: --max-error, or a 30th of the finer posting.
double maxErrorOf(const ConversionSettings& settings, const Terrain& terrain) {
    const Terrain::Postings p = terrain.postings();
    return valueOf(settings, kMaxError, std::min(p.x_m, p.y_m) / 30);
}

std::string within(std::size_t triangles, double max_error) {
    return std::to_string(triangles) + " triangles, every point within " +
           shownNumber(std::round(max_error * 1000) / 1000) + " m";
}

// The edges that split `points` into `count` tiles sharing their edge points.
std::vector<std::int32_t> tileEdges(std::int32_t points, std::int32_t count) {
    std::vector<std::int32_t> edges;
    for (std::int32_t i = 0; i <= count; ++i) {
        edges.push_back(static_cast<std::int32_t>(std::int64_t{points - 1} * i / count));
    }
    return edges;
}

std::string tileName(const std::string& path, std::int32_t x, std::int32_t y) {
    const fs::path given(path);
    const std::string extension = given.has_extension() ? given.extension().string() : ".stl";
    return ((given.parent_path() / given.stem()).string() + "_x" + std::to_string(x) + "_y" +
            std::to_string(y) + extension);
}

std::vector<std::string> stlFiles(const std::string& path, const ConversionSettings& settings) {
    if (!settings.tiles) return {path};
    std::vector<std::string> files;
    for (std::int32_t y = 0; y < settings.tiles->rows; ++y) {
        for (std::int32_t x = 0; x < settings.tiles->columns; ++x) {
            files.push_back(tileName(path, x, y));
        }
    }
    return files;
}

Result<Written> writeStlFiles(const std::string& path, const Terrain& terrain,
                              const ConversionSettings& settings) {
    Result<Heights> heights = heightsOf(terrain);
    if (!heights) return heights.error();
    const HeightField& field = heights->field;
    const TileCount count = settings.tiles.value_or(TileCount{});
    if (count.columns > field.width - 1 || count.rows > field.height - 1) {
        return failure("--tiles " + std::to_string(count.columns) + "x" +
                           std::to_string(count.rows) + ": a grid of " +
                           std::to_string(field.height) + " x " + std::to_string(field.width) +
                           " points has too few cells for so many solids",
                       ErrorKind::UsageShape);
    }
    const Terrain::Postings postings = terrain.postings();
    const double print_size = valueOf(settings, kPrintSize, kDefaultPrintSize);
    const double extent_x = (field.width - 1) * postings.x_m;
    const double extent_y = (field.height - 1) * postings.y_m;
    PrintFrame frame;
    frame.posting_x_m = postings.x_m;
    frame.posting_y_m = postings.y_m;
    frame.mm_per_m = print_size / std::max(extent_x, extent_y);
    frame.z_scale = valueOf(settings, kZScale, kDefaultZScale);
    frame.base_mm = valueOf(settings, kBase, kDefaultBase);
    frame.lowest_m = heights->lowest;
    frame.rows = field.height;
    const double max_error = maxErrorOf(settings, terrain);
    const std::vector<std::int32_t> across = tileEdges(field.width, count.columns);
    const std::vector<std::int32_t> down = tileEdges(field.height, count.rows);
    const std::vector<std::string> files = stlFiles(path, settings);
    std::size_t triangles = 0;
    // The solids are one set: all in place or none.
    FileSet set;
    for (std::int32_t y = 0; y < count.rows; ++y) {
        for (std::int32_t x = 0; x < count.columns; ++x) {
            frame.first_column = across[static_cast<std::size_t>(x)];
            frame.first_row = down[static_cast<std::size_t>(y)];
            const HeightField tile =
                field.window(frame.first_column, frame.first_row,
                             across[static_cast<std::size_t>(x) + 1] - frame.first_column + 1,
                             down[static_cast<std::size_t>(y) + 1] - frame.first_row + 1);
            const Tin tin = triangulate(tile, max_error);
            triangles += tin.triangleCount();
            const Mesh solid = printSolid(tile, tin, frame);
            const std::string& file =
                files[static_cast<std::size_t>(y) * count.columns + static_cast<std::size_t>(x)];
            const auto write = [&](std::ostream& out) {
                writeStl(out, solid, fs::path(file).stem().string());
                return static_cast<bool>(out);
            };
            const Status done = settings.tiles ? set.add(file, write) : writeWholeFile(file, write);
            if (!done) return done.error();
        }
    }
    if (settings.tiles) {
        if (Status committed = set.commit(); !committed) return committed.error();
    }
    Written written = Written::file(files.front());
    if (settings.tiles) {
        written.tile_count = static_cast<std::int32_t>(files.size());
        written.tile_size =
            "about " + shownNumber(std::round(extent_x * frame.mm_per_m / count.columns)) + " x " +
            shownNumber(std::round(extent_y * frame.mm_per_m / count.rows)) + " mm";
    }
    written.engine_fit = shownNumber(std::round(extent_x * frame.mm_per_m * 10) / 10) + " x " +
                         shownNumber(std::round(extent_y * frame.mm_per_m * 10) / 10) + " x " +
                         shownNumber(std::round(((heights->highest - heights->lowest) *
                                                     frame.mm_per_m * frame.z_scale +
                                                 frame.base_mm) *
                                                10) /
                                     10) +
                         " mm; " + within(triangles, max_error);
    return written;
}

std::string sidecarOf(const std::string& path) {
    const fs::path given(path);
    return (given.parent_path() / given.stem()).string() + ".json";
}

// What places a surface mesh on the ground: its origin, axes and units, for a reader that puts it
// back where it lies.
std::string surfaceSidecar(const std::string& format, const std::string& file,
                           const Terrain& terrain, const HeightField& field, double max_error,
                           const Tin& tin) {
    const DecodedGrid& d = terrain.decoded;
    const Terrain::Postings p = terrain.postings();
    const auto fixed = [](double v, int decimals) {
        char text[64];
        const auto end =
            std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals).ptr;
        return std::string(text, end);
    };
    std::string json = "{\n  \"format\": \"" + format + "\",\n  \"files\": [\"" +
                       fs::path(file).filename().string() + "\"],\n";
    json += "  \"units\": \"metres\",\n";
    json += "  \"axes\": \"x east, y up (the elevation), z south\",\n";
    if (d.placement) {
        const GeoTransform& g = d.placement->geotransform;
        // Grid point (0, 0): the centre of the north-west cell.
        json += "  \"epsg\": " + std::to_string(d.placement->epsg) + ",\n";
        json += "  \"origin\": {\"easting\": " + fixed(g[0] + g[1] / 2, 3) +
                ", \"northing\": " + fixed(g[3] + g[5] / 2, 3) + ", \"elevation\": 0},\n";
    }
    json += "  \"width\": " + std::to_string(field.width) +
            ",\n  \"height\": " + std::to_string(field.height) + ",\n";
    json += "  \"posting_x_m\": " + shownNumber(p.x_m) +
            ",\n  \"posting_y_m\": " + shownNumber(p.y_m) + ",\n";
    json += "  \"max_error_m\": " + shownNumber(max_error) + ",\n";
    json += "  \"vertices\": " + std::to_string(tin.vertices.size()) +
            ",\n  \"triangles\": " + std::to_string(tin.triangleCount()) + "\n}\n";
    return json;
}

Result<Written> writeSurfaceFiles(const std::string& path, const Terrain& terrain,
                                  const ConversionSettings& settings, bool glb) {
    Result<Heights> heights = heightsOf(terrain);
    if (!heights) return heights.error();
    const double max_error = maxErrorOf(settings, terrain);
    const Tin tin = triangulate(heights->field, max_error);
    const Terrain::Postings p = terrain.postings();
    Mesh mesh = surfaceMesh(heights->field, tin, p.x_m, p.y_m);
    std::string png;
    if (glb && settings.formatValue("texture")) {
        png = hillshadePng(heights->field, p);
        if (png.empty()) return failure("the hillshade for --texture could not be made");
        addTextureCoordinates(mesh, heights->field, tin);
    }
    const std::string sidecar = sidecarOf(path);
    const std::string json =
        surfaceSidecar(glb ? "glb" : "obj", path, terrain, heights->field, max_error, tin);
    FileSet set;
    const Status made = set.add(path, [&](std::ostream& out) {
        if (glb) {
            writeGlb(out, mesh, png);
        } else {
            writeObj(out, mesh,
                     "marlwood terrain: x east, y up, z south, metres from the origin in " +
                         fs::path(sidecar).filename().string());
        }
        return static_cast<bool>(out);
    });
    if (!made) return made.error();
    const Status placed = set.add(sidecar, [&](std::ostream& out) {
        out.write(json.data(), static_cast<std::streamsize>(json.size()));
        return static_cast<bool>(out);
    });
    if (!placed) return placed.error();
    if (Status committed = set.commit(); !committed) return committed.error();
    Written written = Written::file(path);
    written.sidecar_path = sidecar;
    written.engine_fit = within(tin.triangleCount(), max_error) + (png.empty() ? "" : ", textured");
    return written;
}

Status checkMesh(const FormatRequest& r, bool sidecar) {
    if (r.given("height-scale") || r.settings.true_scale) {
        return failure(
            "a mesh is in metres (or millimetres); -s and --true-scale are for .ter "
            "files");
    }
    if (r.output == kStandardOutput && (sidecar || r.settings.tiles)) {
        return failure(sidecar ? "a mesh's JSON sidecar is named after its file; -o - has no name"
                               : "tiles are named after their file; -o - has no name");
    }
    if (!r.output.empty() && r.output != kStandardOutput && r.formats.namesNoFile(r.output) &&
        (sidecar || r.settings.tiles)) {
        return failure("a mesh's sidecar and tiles are named after its file; -o " + r.output +
                       " has no name");
    }
    if (sidecar && endsWithNoCase(r.output, ".json")) {
        return failure("the mesh's sidecar is NAME.json; give the mesh its own extension");
    }
    if (sidecar && !r.output.empty() && outputTarget(r.output) == OutputTarget::InPlace) {
        return failure("a mesh and its JSON sidecar are files; " + r.output +
                       " is a device or a pipe");
    }
    return {};
}

OutputFormat meshRow(const char* name, const char* label, const char* description,
                     const char* extension) {
    OutputFormat format;
    format.name = name;
    format.label = label;
    format.description = description;
    format.extensions = {extension};
    format.keeps_decimals = true;
    format.fills_voids = true;
    format.largest_side = 65535;  // the triangulation's exact tests hold to that
    return format;
}

}  // namespace

std::vector<OutputFormat> meshFormats() {
    OutputFormat stl = meshRow(
        "stl", "STL solid", "a closed solid in millimetres for 3D printing (binary STL)", ".stl");
    stl.options = printOptions();
    stl.check = [](const FormatRequest& request) { return checkMesh(request, false); };
    stl.path = writeStlFiles;
    stl.files = stlFiles;
    std::vector<OutputFormat> rows;
    rows.push_back(std::move(stl));
    for (const bool glb : {true, false}) {
        OutputFormat surface =
            glb ? meshRow("glb", "glTF mesh",
                          "a glTF 2.0 binary mesh in metres with its sidecar, for engines", ".glb")
                : meshRow("obj", "OBJ mesh", "a Wavefront OBJ mesh in metres with its sidecar",
                          ".obj");
        // The sidecar gives the origin on the UTM grid.
        surface.needs_placement = true;
        surface.options = {maxErrorOption()};
        if (glb) surface.options.push_back(textureOption());
        surface.check = [](const FormatRequest& request) { return checkMesh(request, true); };
        surface.path = [glb](const std::string& path, const Terrain& terrain,
                             const ConversionSettings& settings) {
            return writeSurfaceFiles(path, terrain, settings, glb);
        };
        surface.files = [](const std::string& path, const ConversionSettings&) {
            return std::vector<std::string>{path, sidecarOf(path)};
        };
        rows.push_back(std::move(surface));
    }
    return rows;
}

}  // namespace marlwood
