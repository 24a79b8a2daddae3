#include "pipeline/heightmap_output.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/text.h"
#include "grid/resample.h"
#include "heightmap/heightmap_writer.h"
#include "heightmap/sidecar.h"
#include "heightmap/unreal.h"
#include "pipeline/settings.h"
#include "pipeline/terrain.h"
#include "platform/whole_file.h"

namespace marlwood {

namespace {

namespace fs = std::filesystem;

// What sets one heightmap row apart from the others, held by the row's own writer.
// The files a heightmap at `path` writes, known before the terrain is read: the heightmap or its
// tiles (`NAME_x0_y0.EXT` for Unreal, `NAME_X_Z.raw` for Unity), then the sidecar NAME.json.
struct HeightmapFiles {
    std::vector<std::string> heightmaps;
    std::vector<Tile> tiles;  // filled when written
    std::string sidecar;
};

struct HeightmapWritten {
    HeightmapFiles files;
    std::vector<std::string> stale_tiles;
    HeightRange range;
    std::int32_t tile_rows = 0, tile_columns = 0;
    std::string engine_fit;
};

struct Style {
    std::string name;       // the row's, for the sidecar
    std::string extension;  // of a tile when -o's name has none
    Engine engine;          // how tiles are named and which sizes and shapes it takes
    bool png;               // a PNG (big-endian by definition) rather than raw values

    bool unity() const { return engine == Engine::Unity; }
};

std::string sizeText(std::int32_t rows, std::int32_t columns) {
    return std::to_string(rows) + " x " + std::to_string(columns);
}

// The --size nearest below and above the terrain's longer side whose grid the tiles split both
// ways (0 when none), within what --size takes of `from`: --size sets the longer side and the
// shorter follows in proportion, so a count of points for the shorter side is not what to give.
NearestSpans sizesForTiles(const GridSize& from, const GridSize& size, const TileCount& count,
                           TileEdges edges) {
    const auto splits = [&](std::int32_t longest) {
        const GridSize to = resampledSize(from, longest);
        return tileSide(to.rows, count.rows, edges) && tileSide(to.columns, count.columns, edges);
    };
    const std::int32_t longest = std::max(size.rows, size.columns);
    NearestSpans sizes;
    for (std::int32_t n = longest - 1; n >= 2 && sizes.below == 0; --n) {
        if (splits(n)) sizes.below = n;
    }
    const std::int32_t most = largestResampledSide(from, 0);
    for (std::int32_t n = longest + 1; n <= most && sizes.above == 0; ++n) {
        if (splits(n)) sizes.above = n;
    }
    return sizes;
}

// Whether the terrain can be written in this shape; a usage error saying what would do when not.
// `from`: its size before --size resampled it.
Status checkShape(const GridSize& from, const GridSize& size, const ConversionSettings& settings,
                  const std::vector<Tile>& tiles, const Style& style) {
    if (settings.tiles && tiles.empty()) {
        const TileEdges edges = tileEdgesOf(style.engine);
        const bool across = !tileSide(size.columns, settings.tiles->columns, edges);
        const std::int32_t points = across ? size.columns : size.rows;
        const std::int32_t count = across ? settings.tiles->columns : settings.tiles->rows;
        const NearestSpans near = nearestTiledPoints(points, count, edges);
        const NearestSpans sizes = sizesForTiles(from, size, *settings.tiles, edges);
        const std::string shape = edges == TileEdges::Shared
                                      ? "tiles sharing their edges ((side - 1) x " +
                                            std::to_string(count) + " + 1 points; "
                                      : "tiles side by side, as Unreal lays them (side x " +
                                            std::to_string(count) + " points; ";
        std::string hint = "no --size splits both sides: crop another shape";
        if (sizes.below > 0 || sizes.above > 0) {
            hint = "--size " +
                   (sizes.below > 0 ? std::to_string(sizes.below) + (sizes.above > 0 ? " or " : "")
                                    : std::string()) +
                   (sizes.above > 0 ? std::to_string(sizes.above) : std::string()) +
                   " splits both sides";
        }
        return failure("--tiles " + std::to_string(settings.tiles->columns) + "x" +
                           std::to_string(settings.tiles->rows) + ": " + std::to_string(points) +
                           (across ? " columns" : " rows") + " do not make " +
                           std::to_string(count) + " " + shape +
                           (near.below > 0 ? std::to_string(near.below) + " or " : std::string()) +
                           std::to_string(near.above) + " would); " + hint,
                       ErrorKind::UsageShape);
    }
    if (!style.unity()) return {};
    const std::int32_t rows = tiles.empty() ? size.rows : tiles[0].rows;
    const std::int32_t columns = tiles.empty() ? size.columns : tiles[0].columns;
    if (rows == columns && isUnitySide(rows)) return {};
    return failure(std::string("Unity takes a square terrain of 2^n + 1 points a side (33, 65 ... "
                               "4097), not ") +
                       (tiles.empty() ? "" : "tiles of ") + sizeText(rows, columns) +
                       ": crop and size a square, such as --centre LAT,LON --extent KM --size 1025",
                   ErrorKind::UsageShape);
}

HeightmapFiles heightmapFiles(const std::string& path, const ConversionSettings& settings,
                              const Style& style) {
    HeightmapFiles files;
    const fs::path given(path);
    const std::string stem = (given.parent_path() / given.stem()).string();
    // Unreal's import of NAME.png gathers every NAME.* and NAME_x<N>_y<M>.*, and stops at one
    // that is not a heightmap: its sidecar is named out of that pattern. Cities: Skylines II
    // imports the one file chosen.
    const bool unreal = style.engine == Engine::Unreal && !settings.cs2;
    files.sidecar = stem + (unreal ? "_unreal.json" : ".json");
    if (!settings.tiles) {
        files.heightmaps.push_back(path);
        return files;
    }
    const std::string extension =
        given.has_extension() ? given.extension().string() : style.extension;
    const TileCount& count = *settings.tiles;
    // Names only: the tiles' cells are not known until the terrain is.
    for (std::int32_t y = 0; y < count.rows; ++y) {
        for (std::int32_t x = 0; x < count.columns; ++x) {
            const Tile tile{.index_east = x, .index_south = y};
            files.heightmaps.push_back(tileFileName(stem, style.engine, tile, count, extension));
        }
    }
    return files;
}

std::vector<std::string> staleTiles(const std::string& path, const ConversionSettings& settings,
                                    const Style& style) {
    const HeightmapFiles files = heightmapFiles(path, settings, style);
    const fs::path given(path);
    const std::string stem = given.stem().string();
    const std::string extension =
        given.has_extension() ? given.extension().string() : style.extension;
    const bool unreal = style.engine == Engine::Unreal;
    // NAME_x<digits>_y<digits>.EXT for Unreal, NAME_<digits>_<digits>.EXT for Unity.
    const auto isTileName = [&](std::string_view name) {
        if (!name.starts_with(stem) || !name.ends_with(extension)) return false;
        name = name.substr(stem.size(), name.size() - stem.size() - extension.size());
        for (const char* mark : {unreal ? "_x" : "_", unreal ? "_y" : "_"}) {
            if (!name.starts_with(mark)) return false;
            name.remove_prefix(std::string_view(mark).size());
            std::size_t digits = 0;
            while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
            if (digits == 0) return false;
            name.remove_prefix(digits);
        }
        return name.empty();
    };
    std::vector<std::string> stale;
    std::error_code error;
    const fs::path dir = given.parent_path().empty() ? fs::path(".") : given.parent_path();
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code unknown;
        if (!isTileName(name) || !it->is_regular_file(unknown)) continue;
        const std::string file = (given.parent_path() / name).string();
        if (std::find(files.heightmaps.begin(), files.heightmaps.end(), file) ==
            files.heightmaps.end()) {
            stale.push_back(file);
        }
    }
    std::sort(stale.begin(), stale.end());
    return stale;
}

Result<HeightmapWritten> writeHeightmap(const std::string& path, const Terrain& terrain,
                                        const ConversionSettings& settings, const Style& style) {
    const DecodedGrid& d = terrain.decoded;
    HeightmapWritten written;
    written.files = heightmapFiles(path, settings, style);
    std::vector<Tile>& tiles = written.files.tiles;
    if (settings.tiles) {
        tiles = cutTiles(d.size.rows, d.size.columns, *settings.tiles, tileEdgesOf(style.engine));
    }
    if (Status shape =
            checkShape(terrain.resampled_from.value_or(d.size), d.size, settings, tiles, style);
        !shape) {
        return shape.error();
    }
    if (tiles.empty()) tiles.push_back(Tile{.rows = d.size.rows, .columns = d.size.columns});
    written.tile_rows = tiles[0].rows;
    written.tile_columns = tiles[0].columns;
    // Every tile on the one range, so that they join without a step; Cities: Skylines II's from
    // 0 m to its height scale.
    written.range =
        settings.common_heights.value_or(HeightRange{terrain.lowest_m, terrain.highest_m});
    if (settings.cs2) {
        written.range = {0, settings.cs2_height_scale_m.value_or(kCs2HeightScaleM)};
    }
    const std::int32_t valid_above = kVoidThreshold * (d.thousandths ? kThousandths : 1);
    const double metres_per_cell_unit = d.unit_m / (d.thousandths ? kThousandths : 1);
    // Voids at the terrain's floor: 0, or, on Cities: Skylines II's scale from 0 m, its lowest.
    const std::uint16_t void_value =
        settings.cs2 ? heightmapValue(terrain.lowest_m, written.range) : std::uint16_t{0};
    // The tiles and the sidecar are one set: renamed into place together once all are written,
    // so a failure at any of them leaves what stood there before.
    FileSet set;
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        const Tile& tile = tiles[t];
        const HeightmapRowSource source = [&](std::int32_t row, std::span<std::uint16_t> values) {
            const std::int32_t* cells =
                d.grid[static_cast<std::size_t>(tile.first_row + row)] + tile.first_column;
            for (std::size_t k = 0; k < values.size(); ++k) {
                values[k] = cells[k] > valid_above
                                ? heightmapValue(cells[k] * metres_per_cell_unit, written.range)
                                : void_value;
            }
        };
        const std::string& file = written.files.heightmaps[t];
        const Status done =
            style.png
                ? writePng16(file, tile.rows, tile.columns, source, &set)
                : writeRaw16(file, tile.rows, tile.columns, source, settings.byte_order,
                             style.unity() ? RowOrder::SouthFirst : RowOrder::NorthFirst, &set);
        if (!done) return done.error();
        // A heightmap that GDAL and QGIS place where the terrain lies, its file's name out of
        // Unreal's gathering (NAME.png.aux.xml, NAME.r16.vrt: their base names are not NAME).
        if (d.placement) {
            GeoTransform g = d.placement->geotransform;
            g[0] += tile.first_column * g[1];
            g[3] += tile.first_row * g[5];
            const std::string xml = style.png
                                        ? gdalAuxXml(d.placement->epsg, g)
                                        : gdalRawVrt(d.placement->epsg, g, tile.columns, tile.rows,
                                                     fs::path(file).filename().string(),
                                                     settings.byte_order, style.unity());
            const Status aux =
                set.add(file + (style.png ? ".aux.xml" : ".vrt"), [&](std::ostream& out) {
                    out.write(xml.data(), static_cast<std::streamsize>(xml.size()));
                    return static_cast<bool>(out);
                });
            if (!aux) return aux.error();
        }
    }
    SidecarFigures figures;
    figures.format = style.name;
    figures.engine = style.engine;
    for (const std::string& file : written.files.heightmaps) {
        figures.files.push_back(fs::path(file).filename().string());
    }
    figures.width = d.size.columns;
    figures.height = d.size.rows;
    figures.tiles = settings.tiles;
    figures.tile_width = written.tile_columns;
    figures.tile_height = written.tile_rows;
    if (!style.png) figures.byte_order = settings.byte_order;
    figures.posting_x_m = terrain.postings().x_m;
    figures.posting_y_m = terrain.postings().y_m;
    figures.range = written.range;
    figures.epsg = d.placement ? d.placement->epsg : 0;
    if (d.placement) figures.geotransform = d.placement->geotransform;
    if (settings.cs2) {
        figures.cs2 = settings.cs2;
        written.engine_fit = std::string("Cities: Skylines II: its ") +
                             (*settings.cs2 == Cs2Map::World ? "world map" : "playable area") +
                             ", Height Scale " + shownNumber(written.range.highest_m) + " m";
    } else if (style.engine == Engine::Unreal) {
        // The import assembles the tiles first: the whole set is what must fit.
        figures.components = unrealExactFit(d.size.columns, d.size.rows);
        written.engine_fit =
            figures.components
                ? "Unreal: " + componentsText(*figures.components)
                : "Unreal: no component size fits " + sizeText(d.size.rows, d.size.columns) +
                      " exactly, so its import pads the edges to whole components; --size "
                      "unreal gives the nearest that fits";
    }
    figures.void_cells = terrain.void_cells - terrain.filled_cells.value_or(0);
    const std::string json = sidecarJson(figures);
    const Status sidecar = set.add(written.files.sidecar, [&](std::ostream& out) {
        out.write(json.data(), static_cast<std::streamsize>(json.size()));
        return static_cast<bool>(out);
    });
    if (!sidecar) return sidecar.error();
    if (Status committed = set.commit(); !committed) return committed.error();
    written.stale_tiles = staleTiles(path, settings, style);
    return written;
}

// What the command line asks of a heightmap and its sidecar that they cannot be.
Status checkFiles(const FormatRequest& r) {
    if (r.output == kStandardOutput) {
        return failure("a heightmap's JSON sidecar is named after its file; -o - has no name");
    }
    // Its files are written as one set, renamed into place together: a device or pipe cannot be.
    if (!r.output.empty() && outputTarget(r.output) == OutputTarget::InPlace) {
        return failure("a heightmap and its JSON sidecar are files; " + r.output +
                       " is a device or a pipe");
    }
    if (!r.output.empty() && r.formats.namesNoFile(r.output)) {
        return failure("a heightmap's tiles and JSON sidecar are named after its file; -o " +
                       r.output + " has no name");
    }
    if (endsWithNoCase(r.output, ".json")) {
        return failure(
            "the heightmap's sidecar is NAME.json; give the heightmap its own extension");
    }
    return {};
}

// What the command line asks of a 16-bit heightmap that it cannot be, before anything is read.
Status checkRequest(const FormatRequest& r, const Style& style) {
    const ConversionSettings& settings = r.settings;
    if (r.given("height-scale") || settings.true_scale) {
        return failure(
            "a heightmap spans its elevations with 0..65535; -s and --true-scale are for .ter "
            "files");
    }
    if (settings.preview && style.png) {
        return failure(
            "--preview writes NAME.png, which the png16 heightmap is; leave out --preview");
    }
    if (Status files = checkFiles(r); !files) return files;
    if (r.given("cs2-height-scale") && !settings.cs2) {
        return failure("--cs2-height-scale goes with --size cs2 or cs2-world");
    }
    if (settings.cs2 && settings.tiles) {
        return failure("Cities: Skylines II imports one 4096 x 4096 heightmap; leave out --tiles");
    }
    if (!style.unity()) return {};
    if (settings.cs2) {
        return failure(
            "Cities: Skylines II imports a PNG or r16, not Unity's raw: write -o NAME.png");
    }
    if (settings.engine_size == Engine::Unreal) {
        return failure(
            "Unreal's sizes are not Unity's 2^n + 1: use --size unity with --format unity");
    }
    const std::int32_t tiles = settings.tiles ? settings.tiles->columns : 1;
    if (settings.size && settings.tiles && settings.tiles->columns != settings.tiles->rows) {
        return failure("Unity's tiles are square, so --tiles " + std::to_string(tiles) + "x" +
                       std::to_string(settings.tiles->rows) +
                       " cannot be cut from a square --size; give as many tiles across as down");
    }
    const auto side = settings.size ? tileSide(*settings.size, tiles) : std::nullopt;
    if (settings.size && !(side && isUnitySide(*side))) {
        return failure(
            "Unity takes terrains of 2^n + 1 points a side (33, 65 ... 4097), so --size " +
            std::to_string(*settings.size) +
            (tiles > 1 ? " in " + std::to_string(tiles) + " tiles across" : std::string()) +
            " will not do: give " +
            (tiles > 1 ? "(2^n) x " + std::to_string(tiles) + " + 1, such as " +
                             std::to_string(tiledPoints(1025, tiles))
                       : std::string("one of them, such as 1025")) +
            ", or --size unity");
    }
    return {};
}

FormatOption tilesOption() {
    FormatOption o;
    o.long_name = "tiles";
    o.value = "CxR";
    o.help =
        "a heightmap in C x R tiles on one height range, laid as each\n"
        "engine assembles them: NAME_x0_y0 ... (x east, y south) side by\n"
        "side for png16 and r16 (C tiles of s points span s x C), and\n"
        "NAME_X_Z.raw (X east, Z north) sharing their edge rows and\n"
        "columns for unity ((s - 1) x C + 1)";
    o.elsewhere = "--tiles cuts a heightmap: it goes with png16, r16 or unity";
    o.apply = [](ConversionSettings& settings, const std::string& v) -> Status {
        Result<TileCount> count = parseTileCount(v);
        if (!count) return count.error();
        settings.tiles = *count;
        return {};
    };
    return o;
}

FormatOption byteOrderOption() {
    FormatOption o;
    o.long_name = "byte-order";
    o.value = "ORDER";
    o.help =
        "little (the default) or big: the byte order of r16 and unity\n"
        "heightmaps (big for Unity's Mac setting)";
    o.choices = "little big";
    o.elsewhere = "--byte-order goes with the r16 and unity heightmaps";
    o.apply = [](ConversionSettings& settings, const std::string& v) -> Status {
        if (v != "little" && v != "big") {
            return failure("the byte order is little or big, not '" + v + "'");
        }
        settings.byte_order = v == "big" ? ByteOrder::Big : ByteOrder::Little;
        return {};
    };
    return o;
}

FormatOption cs2HeightScaleOption() {
    FormatOption o;
    o.long_name = "cs2-height-scale";
    o.value = "M";
    o.help =
        "with --size cs2: the metres 0..65535 span, from 0 m (default\n"
        "4096, Cities: Skylines II's Height Scale; give the import the same)";
    o.elsewhere = "--cs2-height-scale goes with a png16 or r16 heightmap and --size cs2";
    o.apply = [](ConversionSettings& settings, const std::string& v) -> Status {
        char* end = nullptr;
        const double m = std::strtod(v.c_str(), &end);
        if (v.empty() || *end != '\0' || !(m >= 1 && m <= 100000)) {
            return failure("the height scale is a number of metres from 1 to 100000, not '" + v +
                           "'");
        }
        settings.cs2_height_scale_m = m;
        return {};
    };
    return o;
}

// An EXR of metres beside its sidecar NAME.json (Godot's importers and Blender read the one
// file), and NAME.exr.aux.xml, which places it for a GDAL built with EXR.
std::string exrSidecar(const std::string& path) {
    const fs::path given(path);
    return (given.parent_path() / given.stem()).string() + ".json";
}

Result<Written> writeExrHeightmap(const std::string& path, const Terrain& terrain) {
    const DecodedGrid& d = terrain.decoded;
    const std::int32_t valid_above = kVoidThreshold * (d.thousandths ? kThousandths : 1);
    const double metres_per_cell_unit = d.unit_m / (d.thousandths ? kThousandths : 1);
    // Voids at the lowest elevation, the terrain's floor, as the 16-bit heightmaps write them.
    const auto floor_m = static_cast<float>(terrain.lowest_m);
    const FloatRowSource source = [&](std::int32_t row, std::span<float> values) {
        const std::int32_t* cells = d.grid[static_cast<std::size_t>(row)];
        for (std::size_t k = 0; k < values.size(); ++k) {
            values[k] = cells[k] > valid_above ? static_cast<float>(cells[k] * metres_per_cell_unit)
                                               : floor_m;
        }
    };
    FileSet set;
    if (Status done = writeExr32(path, d.size.rows, d.size.columns, source, &set); !done) {
        return done.error();
    }
    if (d.placement) {
        const std::string xml = gdalAuxXml(d.placement->epsg, d.placement->geotransform);
        const Status aux = set.add(path + ".aux.xml", [&](std::ostream& out) {
            out.write(xml.data(), static_cast<std::streamsize>(xml.size()));
            return static_cast<bool>(out);
        });
        if (!aux) return aux.error();
    }
    SidecarFigures figures;
    figures.format = "exr";
    figures.godot = true;
    figures.files = {fs::path(path).filename().string()};
    figures.width = d.size.columns;
    figures.height = d.size.rows;
    figures.posting_x_m = terrain.postings().x_m;
    figures.posting_y_m = terrain.postings().y_m;
    figures.range = HeightRange{terrain.lowest_m, terrain.highest_m};
    figures.epsg = d.placement ? d.placement->epsg : 0;
    if (d.placement) figures.geotransform = d.placement->geotransform;
    figures.void_cells = terrain.void_cells - terrain.filled_cells.value_or(0);
    const std::string json = sidecarJson(figures);
    Written made = Written::file(path);
    made.sidecar_path = exrSidecar(path);
    const Status sidecar = set.add(made.sidecar_path, [&](std::ostream& out) {
        out.write(json.data(), static_cast<std::streamsize>(json.size()));
        return static_cast<bool>(out);
    });
    if (!sidecar) return sidecar.error();
    if (Status committed = set.commit(); !committed) return committed.error();
    made.engine_fit = "Terrain3D: vertex spacing " +
                      shownNumber(std::round(terrain3dSpacing(figures) * 1000) / 1000) +
                      " m, import scale 1, height offset 0";
    return made;
}

OutputFormat exrFormat() {
    OutputFormat format;
    format.name = "exr";
    format.label = "heightmap";
    format.description = "a 32-bit float EXR heightmap of metres (Godot, Blender)";
    format.extensions = {".exr"};
    format.keeps_decimals = true;
    format.reads_placement = true;     // the sidecar names the system
    format.largest_side = 0x7FFFFFFF;  // tinyexr's int sides
    format.check = [](const FormatRequest& r) -> Status {
        if (r.settings.true_scale) {
            return failure("an EXR holds elevations in metres; --true-scale is for .ter files");
        }
        return checkFiles(r);
    };
    format.path = [](const std::string& path, const Terrain& terrain, const ConversionSettings&) {
        return writeExrHeightmap(path, terrain);
    };
    format.files = [](const std::string& path, const ConversionSettings&) {
        return std::vector<std::string>{path, path + ".aux.xml", exrSidecar(path)};
    };
    return format;
}

}  // namespace

std::vector<OutputFormat> heightmapFormats() {
    const auto row = [](const Style& style, const char* description) {
        OutputFormat format;
        format.name = style.name;
        format.label = "heightmap";
        format.description = description;
        format.extensions = {style.extension};
        format.keeps_decimals = true;   // the mapping is exact in metres
        format.reads_placement = true;  // the sidecar names the system
        format.heightmap = true;
        format.largest_side = 0xFFFFFFFF;  // the engines' shapes are checked when written
        format.options = {tilesOption()};
        if (!style.unity()) format.options.push_back(cs2HeightScaleOption());
        if (style.png) {
            format.refuses = {{"byte-order",
                               "a PNG's 16-bit values are big-endian by definition; --byte-order "
                               "is for r16 and unity"}};
        } else {
            format.options.push_back(byteOrderOption());
        }
        format.check = [style](const FormatRequest& request) {
            return checkRequest(request, style);
        };
        format.path = [style](const std::string& path, const Terrain& terrain,
                              const ConversionSettings& settings) -> Result<Written> {
            Result<HeightmapWritten> written = writeHeightmap(path, terrain, settings, style);
            if (!written) return written.error();
            Written made = Written::file(written->files.heightmaps.front());
            made.heights = written->range;
            made.sidecar_path = written->files.sidecar;
            made.engine_fit = std::move(written->engine_fit);
            made.stale_tiles = std::move(written->stale_tiles);
            if (settings.tiles) {
                made.tile_count = static_cast<std::int32_t>(written->files.heightmaps.size());
                made.tile_size = std::to_string(written->tile_rows) + " x " +
                                 std::to_string(written->tile_columns);
            }
            return made;
        };
        format.files = [style](const std::string& path, const ConversionSettings& settings) {
            const HeightmapFiles files = heightmapFiles(path, settings, style);
            std::vector<std::string> all = files.heightmaps;
            for (const std::string& file : files.heightmaps) {
                all.push_back(file + (style.png ? ".aux.xml" : ".vrt"));
            }
            all.push_back(files.sidecar);
            return all;
        };
        return format;
    };
    return {
        row({"png16", ".png", Engine::Unreal, true},
            "a 16-bit grayscale PNG heightmap, north row first"),
        row({"r16", ".r16", Engine::Unreal, false},
            "Unreal's raw 16-bit heightmap, north row first"),
        row({"unity", ".raw", Engine::Unity, false}, "Unity's raw 16-bit terrain, south row first"),
        exrFormat()};
}

}  // namespace marlwood
