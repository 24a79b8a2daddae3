#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "heightmap/heightmap.h"
#include "pipeline/settings.h"
#include "pipeline/terrain.h"

// An engine heightmap written from a prepared terrain: the file or its tiles, and the sidecar.
namespace marlwood {

// The files a heightmap at `path` writes, known before the terrain is read: the heightmap or its
// tiles (`NAME_x0_y0.EXT` for Unreal, `NAME_X_Z.raw` for Unity), then the sidecar NAME.json.
struct HeightmapFiles {
    std::vector<std::string> heightmaps;
    std::vector<Tile> tiles;  // filled when written
    std::string sidecar;
};
HeightmapFiles heightmapFiles(const std::string& path, const ConversionSettings& settings);

// The heightmap formats' rows of the format table: png16, r16 and unity.
std::vector<OutputFormat> heightmapFormats();

// The files beside `path` named as the tiles of a heightmap of that name and format that this
// heightmap does not write: left from an older set of other tiles.
std::vector<std::string> staleTiles(const std::string& path, const ConversionSettings& settings);

struct HeightmapWritten {
    HeightmapFiles files;
    std::vector<std::string> stale_tiles;
    HeightRange range;
    std::int32_t tile_rows = 0, tile_columns = 0;
};
// Checks the shape, then writes every file as one set (all or none, what stood there before kept
// on a failure); voids are 0. An Error (of kind UsageShape for a
// shape) in one line.
Result<HeightmapWritten> writeHeightmap(const std::string& path, const Terrain& terrain,
                                        const ConversionSettings& settings);

}  // namespace marlwood
