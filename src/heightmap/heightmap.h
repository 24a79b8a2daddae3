#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

// The pure arithmetic of engine heightmaps: heights as 16-bit steps, the engines' sizes, tiles
// that share their edges and their names, and the rows as raw bytes.
namespace marlwood {

// The elevations a heightmap spans: 0 stands for the lowest, 65535 for the highest.
struct HeightRange {
    double lowest_m = 0;
    double highest_m = 0;
};

inline constexpr std::uint16_t kHeightmapTop = 65535;

// The step nearest to `metres`, linear between the range's ends (clamped to them); a range
// of no height maps everything to 0.
std::uint16_t heightmapValue(double metres, const HeightRange& range);

enum class Engine { Unreal, Unity };

// The engine's recommended landscape side nearest at or below `points`: Unreal's 127, 253, 505,
// 1009, 2017, 4033, 8129; Unity's 2^n + 1 from 33 to 4097. Nothing when `points` is below the
// smallest.
std::optional<std::int32_t> engineSize(Engine engine, std::int32_t points);
// Whether Unity takes a terrain of this side: 2^n + 1, 33 to 4097.
bool isUnitySide(std::int32_t side);

// Cities: Skylines II imports a 4096 x 4096 heightmap laid over its playable area, 14.336 km
// square, or over its world map, 57.344 km square with the playable area at its centre; 0..65535
// span 0 m to the import's height scale, 4096 m unless set.
enum class Cs2Map { Playable, World };
inline constexpr std::int32_t kCs2Side = 4096;
inline constexpr double kCs2HeightScaleM = 4096;
double cs2SideM(Cs2Map map);

// How many tiles across (columns, east) and down (rows, south).
struct TileCount {
    std::int32_t columns = 1;
    std::int32_t rows = 1;
    bool operator==(const TileCount&) const = default;
};
// "CxR" as --tiles takes it, each 1 to 64.
Result<TileCount> parseTileCount(std::string_view text);

// How neighbouring tiles meet: Unity's terrains share their edge rows and columns, while Unreal's
// import lays tile (x, y) at x tile widths and y tile heights, side by side.
enum class TileEdges { Shared, Apart };
TileEdges tileEdgesOf(Engine engine);

// Tiles of side `side` points: `count` of them span (side - 1) x count + 1 points when they share
// their edges, side x count when they lie apart.
std::int64_t tiledPoints(std::int32_t side, std::int32_t count,
                         TileEdges edges = TileEdges::Shared);
// The side of each of `count` tiles spanning `points`, nothing when they do not split evenly
// (or the tiles would be less than 2 points).
std::optional<std::int32_t> tileSide(std::int32_t points, std::int32_t count,
                                     TileEdges edges = TileEdges::Shared);
// The nearest spans below and above `points` that `count` tiles split evenly (below is 0 when
// there is none), for a refusal that says what would do.
struct NearestSpans {
    std::int64_t below = 0;
    std::int64_t above = 0;
};
NearestSpans nearestTiledPoints(std::int32_t points, std::int32_t count,
                                TileEdges edges = TileEdges::Shared);

// One tile's cells: its first row (from the north) and column (from the west), its size, and its
// position in the set as the engines' batch imports number it.
struct Tile {
    std::int32_t first_row = 0, first_column = 0;
    std::int32_t rows = 0, columns = 0;
    std::int32_t index_east = 0;   // from the west, both engines
    std::int32_t index_south = 0;  // from the north
};
// Every tile of a grid of `rows` x `columns` points cut `count` ways, north-west first, row by
// row; empty when it does not split evenly.
std::vector<Tile> cutTiles(std::int32_t rows, std::int32_t columns, const TileCount& count,
                           TileEdges edges = TileEdges::Shared);

// A tile's file name as the engine's batch import expects: Unreal `STEM_x0_y0.EXT` (x east, y
// south from the north-west corner), Unity `STEM_X_Z.EXT` (X east, Z north from the south-west).
std::string tileFileName(std::string_view stem, Engine naming, const Tile& tile,
                         const TileCount& count, std::string_view extension);

enum class ByteOrder { Little, Big };

// One row of heights as 16-bit bytes, two per value, into `out` (which holds values.size() x 2).
void encodeRow16(std::span<const std::uint16_t> values, ByteOrder order,
                 std::span<unsigned char> out);

// The geodetic datum and UTM zone of an EPSG code marlwood writes (NAD27, NAD83, WGS 84 or WGS 72
// / UTM north), nothing for another.
struct DatumZone {
    std::string datum;
    int zone = 0;
};
std::optional<DatumZone> datumZoneOf(int epsg);

}  // namespace marlwood
