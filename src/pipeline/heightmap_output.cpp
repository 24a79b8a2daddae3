#include "pipeline/heightmap_output.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "grid/resample.h"
#include "heightmap/heightmap_writer.h"
#include "heightmap/sidecar.h"
#include "platform/whole_file.h"

namespace marlwood {

namespace {

namespace fs = std::filesystem;

// The rows of the format table this file writes, by name.
bool isUnity(const OutputFormat& format) {
    return format.name == "unity";
}
bool isPng16(const OutputFormat& format) {
    return format.name == "png16";
}

Engine engineOf(const OutputFormat& format) {
    return isUnity(format) ? Engine::Unity : Engine::Unreal;
}

std::string sizeText(std::int32_t rows, std::int32_t columns) {
    return std::to_string(rows) + " x " + std::to_string(columns);
}

// The --size nearest below and above the terrain's longer side whose grid the tiles split both
// ways (0 when none), within what --size takes of `from`: --size sets the longer side and the
// shorter follows in proportion, so a count of points for the shorter side is not what to give.
NearestSpans sizesForTiles(const GridSize& from, const GridSize& size, const TileCount& count) {
    const auto splits = [&](std::int32_t longest) {
        const GridSize to = resampledSize(from, longest);
        return tileSide(to.rows, count.rows) && tileSide(to.columns, count.columns);
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
                  const std::vector<Tile>& tiles) {
    if (settings.tiles && tiles.empty()) {
        const bool across = !tileSide(size.columns, settings.tiles->columns);
        const std::int32_t points = across ? size.columns : size.rows;
        const std::int32_t count = across ? settings.tiles->columns : settings.tiles->rows;
        const NearestSpans near = nearestTiledPoints(points, count);
        const NearestSpans sizes = sizesForTiles(from, size, *settings.tiles);
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
                           std::to_string(count) + " tiles sharing their edges ((side - 1) x " +
                           std::to_string(count) + " + 1 points; " +
                           (near.below > 0 ? std::to_string(near.below) + " or " : std::string()) +
                           std::to_string(near.above) + " would); " + hint,
                       ErrorKind::UsageShape);
    }
    if (!isUnity(settings.outputFormat())) return {};
    const std::int32_t rows = tiles.empty() ? size.rows : tiles[0].rows;
    const std::int32_t columns = tiles.empty() ? size.columns : tiles[0].columns;
    if (rows == columns && isUnitySide(rows)) return {};
    return failure(std::string("Unity takes a square terrain of 2^n + 1 points a side (33, 65 ... "
                               "4097), not ") +
                       (tiles.empty() ? "" : "tiles of ") + sizeText(rows, columns) +
                       ": crop and size a square, such as --centre LAT,LON --extent KM --size 1025",
                   ErrorKind::UsageShape);
}

}  // namespace

HeightmapFiles heightmapFiles(const std::string& path, const ConversionSettings& settings) {
    HeightmapFiles files;
    const fs::path given(path);
    const std::string stem = (given.parent_path() / given.stem()).string();
    files.sidecar = stem + ".json";
    if (!settings.tiles) {
        files.heightmaps.push_back(path);
        return files;
    }
    const std::string extension =
        given.has_extension() ? given.extension().string() : settings.outputFormat().extension();
    const TileCount& count = *settings.tiles;
    // Names only: the tiles' cells are not known until the terrain is.
    for (std::int32_t y = 0; y < count.rows; ++y) {
        for (std::int32_t x = 0; x < count.columns; ++x) {
            const Tile tile{.index_east = x, .index_south = y};
            files.heightmaps.push_back(
                tileFileName(stem, engineOf(settings.outputFormat()), tile, count, extension));
        }
    }
    return files;
}

std::vector<std::string> staleTiles(const std::string& path, const ConversionSettings& settings) {
    const HeightmapFiles files = heightmapFiles(path, settings);
    const fs::path given(path);
    const std::string stem = given.stem().string();
    const std::string extension =
        given.has_extension() ? given.extension().string() : settings.outputFormat().extension();
    const bool unreal = engineOf(settings.outputFormat()) == Engine::Unreal;
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
                                        const ConversionSettings& settings) {
    const DecodedGrid& d = terrain.decoded;
    const OutputFormat& format = settings.outputFormat();
    HeightmapWritten written;
    written.files = heightmapFiles(path, settings);
    std::vector<Tile>& tiles = written.files.tiles;
    if (settings.tiles) tiles = cutTiles(d.size.rows, d.size.columns, *settings.tiles);
    if (Status shape = checkShape(terrain.resampled_from.value_or(d.size), d.size, settings, tiles);
        !shape) {
        return shape.error();
    }
    if (tiles.empty()) tiles.push_back(Tile{.rows = d.size.rows, .columns = d.size.columns});
    written.tile_rows = tiles[0].rows;
    written.tile_columns = tiles[0].columns;
    // Every tile on the one range, so that they join without a step.
    written.range =
        settings.common_heights.value_or(HeightRange{terrain.lowest_m, terrain.highest_m});
    const std::int32_t valid_above = kVoidThreshold * (d.thousandths ? kThousandths : 1);
    const double metres_per_cell_unit = d.unit_m / (d.thousandths ? kThousandths : 1);
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
                                : 0;
            }
        };
        const std::string& file = written.files.heightmaps[t];
        const Status done =
            isPng16(format)
                ? writePng16(file, tile.rows, tile.columns, source, &set)
                : writeRaw16(file, tile.rows, tile.columns, source, settings.byte_order,
                             isUnity(format) ? RowOrder::SouthFirst : RowOrder::NorthFirst, &set);
        if (!done) return done.error();
    }
    SidecarFigures figures;
    figures.format = format.name;
    figures.engine = engineOf(format);
    for (const std::string& file : written.files.heightmaps) {
        figures.files.push_back(fs::path(file).filename().string());
    }
    figures.width = d.size.columns;
    figures.height = d.size.rows;
    figures.tiles = settings.tiles;
    figures.tile_width = written.tile_columns;
    figures.tile_height = written.tile_rows;
    if (!isPng16(format)) figures.byte_order = settings.byte_order;
    figures.posting_m = d.posting_m;
    figures.range = written.range;
    figures.epsg = d.placement ? d.placement->epsg : 0;
    figures.void_cells = terrain.void_cells - terrain.filled_cells.value_or(0);
    const std::string json = sidecarJson(figures);
    const Status sidecar = set.add(written.files.sidecar, [&](std::ostream& out) {
        out.write(json.data(), static_cast<std::streamsize>(json.size()));
        return static_cast<bool>(out);
    });
    if (!sidecar) return sidecar.error();
    if (Status committed = set.commit(); !committed) return committed.error();
    written.stale_tiles = staleTiles(path, settings);
    return written;
}

std::vector<OutputFormat> heightmapFormats() {
    const auto row = [](const char* name, const char* description, const char* extension) {
        OutputFormat format;
        format.name = name;
        format.label = "heightmap";
        format.description = description;
        format.extensions = {extension};
        format.keeps_decimals = true;   // the mapping is exact in metres
        format.reads_placement = true;  // the sidecar names the system
        format.heightmap = true;
        format.largest_side = 0xFFFFFFFF;  // the engines' shapes are checked when written
        format.path = [](const std::string& path, const Terrain& terrain,
                         const ConversionSettings& settings) -> Result<Written> {
            Result<HeightmapWritten> written = writeHeightmap(path, terrain, settings);
            if (!written) return written.error();
            Written made = Written::file(written->files.heightmaps.front());
            made.heights = written->range;
            made.sidecar_path = written->files.sidecar;
            made.stale_tiles = std::move(written->stale_tiles);
            if (settings.tiles) {
                made.tile_count = static_cast<std::int32_t>(written->files.heightmaps.size());
                made.tile_size = std::to_string(written->tile_rows) + " x " +
                                 std::to_string(written->tile_columns);
            }
            return made;
        };
        format.files = [](const std::string& path, const ConversionSettings& settings) {
            HeightmapFiles files = heightmapFiles(path, settings);
            files.heightmaps.push_back(files.sidecar);
            return files.heightmaps;
        };
        return format;
    };
    return {row("png16", "a 16-bit grayscale PNG heightmap, north row first", ".png"),
            row("r16", "Unreal's raw 16-bit heightmap, north row first", ".r16"),
            row("unity", "Unity's raw 16-bit terrain, south row first", ".raw")};
}

}  // namespace marlwood
