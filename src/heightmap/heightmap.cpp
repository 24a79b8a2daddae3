#include "heightmap/heightmap.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace marlwood {

std::uint16_t heightmapValue(double metres, const HeightRange& range) {
    const double span = range.highest_m - range.lowest_m;
    if (!(span > 0) || !(metres > range.lowest_m)) return 0;  // NaN lands at 0 too
    if (metres >= range.highest_m) return kHeightmapTop;
    return static_cast<std::uint16_t>(
        std::lround((metres - range.lowest_m) / span * kHeightmapTop));
}

namespace {
constexpr std::int32_t kUnrealSides[] = {127, 253, 505, 1009, 2017, 4033, 8129};
constexpr std::int32_t kUnitySmallest = 33, kUnityLargest = 4097;
}  // namespace

std::optional<std::int32_t> engineSize(Engine engine, std::int32_t points) {
    std::optional<std::int32_t> found;
    if (engine == Engine::Unreal) {
        for (const std::int32_t side : kUnrealSides) {
            if (side <= points) found = side;
        }
        return found;
    }
    for (std::int32_t side = kUnitySmallest; side <= kUnityLargest; side = (side - 1) * 2 + 1) {
        if (side <= points) found = side;
    }
    return found;
}

bool isUnitySide(std::int32_t side) {
    const std::int32_t below = side - 1;
    return side >= kUnitySmallest && side <= kUnityLargest && (below & (below - 1)) == 0;
}

double cs2SideM(Cs2Map map) {
    return map == Cs2Map::World ? 57344 : 14336;
}

Result<TileCount> parseTileCount(std::string_view text) {
    constexpr std::int32_t kMostTiles = 64;
    const auto number = [](std::string_view digits, std::int32_t& to) {
        const char* end = digits.data() + digits.size();
        const auto [at, problem] = std::from_chars(digits.data(), end, to);
        return !digits.empty() && problem == std::errc{} && at == end && to >= 1 &&
               to <= kMostTiles;
    };
    const std::size_t x = text.find_first_of("xX");
    TileCount count;
    if (x == std::string_view::npos || !number(text.substr(0, x), count.columns) ||
        !number(text.substr(x + 1), count.rows)) {
        return failure("--tiles takes COLUMNSxROWS, each 1 to 64 (such as 2x2), not '" +
                       std::string(text) + "'");
    }
    return count;
}

TileEdges tileEdgesOf(Engine engine) {
    return engine == Engine::Unreal ? TileEdges::Apart : TileEdges::Shared;
}

std::int64_t tiledPoints(std::int32_t side, std::int32_t count, TileEdges edges) {
    const std::int64_t shared = edges == TileEdges::Shared ? 1 : 0;
    return (static_cast<std::int64_t>(side) - shared) * count + shared;
}

std::optional<std::int32_t> tileSide(std::int32_t points, std::int32_t count, TileEdges edges) {
    const std::int32_t shared = edges == TileEdges::Shared ? 1 : 0;
    if (count < 1 || points < 2 || (points - shared) % count != 0) return std::nullopt;
    const std::int32_t side = (points - shared) / count + shared;
    if (side < 2) return std::nullopt;
    return side;
}

NearestSpans nearestTiledPoints(std::int32_t points, std::int32_t count, TileEdges edges) {
    NearestSpans spans;
    if (count < 1) return spans;
    const std::int64_t shared = edges == TileEdges::Shared ? 1 : 0;
    // A tile's side less the shared point, rounded down; tiles of 2 points at least.
    const std::int64_t whole = (static_cast<std::int64_t>(points) - shared) / count;
    const std::int64_t least = 2 - shared;
    spans.below = whole >= least ? whole * count + shared : 0;
    spans.above = std::max(whole + 1, least) * count + shared;
    return spans;
}

std::vector<Tile> cutTiles(std::int32_t rows, std::int32_t columns, const TileCount& count,
                           TileEdges edges) {
    const std::optional<std::int32_t> across = tileSide(columns, count.columns, edges);
    const std::optional<std::int32_t> down = tileSide(rows, count.rows, edges);
    std::vector<Tile> tiles;
    if (!across || !down) return tiles;
    // Shared edges: each tile starts on its neighbour's last row and column.
    const std::int32_t shared = edges == TileEdges::Shared ? 1 : 0;
    for (std::int32_t y = 0; y < count.rows; ++y) {
        for (std::int32_t x = 0; x < count.columns; ++x) {
            tiles.push_back(Tile{.first_row = y * (*down - shared),
                                 .first_column = x * (*across - shared),
                                 .rows = *down,
                                 .columns = *across,
                                 .index_east = x,
                                 .index_south = y});
        }
    }
    return tiles;
}

std::string tileFileName(std::string_view stem, Engine naming, const Tile& tile,
                         const TileCount& count, std::string_view extension) {
    // Built by appending: GCC 12 warns (-Wrestrict) on "literal" + string here.
    std::string name(stem);
    const bool unreal = naming == Engine::Unreal;
    name += unreal ? "_x" : "_";
    name += std::to_string(tile.index_east);
    name += unreal ? "_y" : "_";
    name += std::to_string(unreal ? tile.index_south : count.rows - 1 - tile.index_south);
    name += extension;
    return name;
}

void encodeRow16(std::span<const std::uint16_t> values, ByteOrder order,
                 std::span<unsigned char> out) {
    const std::size_t high = order == ByteOrder::Big ? 0 : 1;
    for (std::size_t i = 0; i < values.size(); ++i) {
        out[2 * i + high] = static_cast<unsigned char>(values[i] >> 8);
        out[2 * i + (1 - high)] = static_cast<unsigned char>(values[i] & 0xFF);
    }
}

std::optional<DatumZone> datumZoneOf(int epsg) {
    struct Codes {
        const char* datum;
        int zone_1, last_zone, zone_59;  // zone_59: 0 when zones 1..last_zone are all
    };
    constexpr Codes kCodes[] = {{"NAD27", 26701, 22, 3370},
                                {"NAD83", 26901, 23, 3372},
                                {"WGS 84", 32601, 60, 0},
                                {"WGS 72", 32201, 60, 0}};
    for (const Codes& c : kCodes) {
        if (epsg >= c.zone_1 && epsg < c.zone_1 + c.last_zone) {
            return DatumZone{c.datum, epsg - c.zone_1 + 1};
        }
        if (c.zone_59 != 0 && (epsg == c.zone_59 || epsg == c.zone_59 + 1)) {
            return DatumZone{c.datum, 59 + epsg - c.zone_59};
        }
    }
    return std::nullopt;
}

}  // namespace marlwood
