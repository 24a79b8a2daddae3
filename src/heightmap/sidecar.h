#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/grid_placement.h"
#include "heightmap/heightmap.h"
#include "heightmap/unreal.h"

namespace marlwood {

// What a heightmap's JSON sidecar records: enough to place and scale it in an engine by hand.
struct SidecarFigures {
    std::string format;  // png16, r16 or unity
    Engine engine = Engine::Unreal;
    std::vector<std::string> files;      // the heightmap, or every tile, by name
    std::int32_t width = 0, height = 0;  // points of the whole set, west-east and north-south
    std::optional<TileCount> tiles;
    std::int32_t tile_width = 0, tile_height = 0;
    std::optional<ByteOrder> byte_order;      // for raw files
    double posting_x_m = 0, posting_y_m = 0;  // metres between points west-east, north-south
    HeightRange range;
    int epsg = 0;                              // 0 when unknown
    std::optional<GeoTransform> geotransform;  // where the whole set lies, when known
    std::int64_t void_cells = 0;               // written as 0
    // Unreal: the components its import makes of the whole set, nothing when none fits exactly.
    std::optional<UnrealComponents> components;
    // Cities: Skylines II's map, for a heightmap made for it: its import settings instead of the
    // engine's.
    std::optional<Cs2Map> cs2;
    // An EXR of metres for Godot: Terrain3D's import settings instead.
    bool godot = false;
};

// Terrain3D's one vertex spacing for a heightmap of these postings: their mean, as it takes no
// spacing per axis.
double terrain3dSpacing(const SidecarFigures& figures);

// Unreal's import settings: a 16-bit landscape spans 512 x Z scale centimetres, its step 32768
// at the actor's Z, so the Z location that puts 0 m at the world's zero is the range's middle.
struct UnrealScale {
    double x_scale_cm = 0, y_scale_cm = 0;
    double z_scale = 0;
    double z_location_cm = 0;
};
UnrealScale unrealScale(double posting_x_m, double posting_y_m, const HeightRange& range);

// Unity's terrain size in metres: (points - 1) x posting across and along, the range high; its
// Y position at the lowest elevation puts 0 m at the world's zero.
struct UnitySize {
    double width_m = 0, length_m = 0, height_m = 0, position_y_m = 0;
};
UnitySize unitySize(std::int32_t width, std::int32_t height, double posting_x_m, double posting_y_m,
                    const HeightRange& range);

// The sidecar's text: one JSON object, keys in a fixed order, numbers as short as round-trips.
std::string sidecarJson(const SidecarFigures& figures);

// GDAL's auxiliary file (NAME.png.aux.xml) for a heightmap, or a tile, whose top-left corner and
// spacing are `geotransform`'s: GDAL and QGIS place the picture by it, where the terrain lies.
std::string gdalAuxXml(int epsg, const GeoTransform& geotransform);

// GDAL's virtual raster over a raw heightmap or tile (NAME.r16.vrt, NAME.raw.vrt): its values'
// layout (`raw_file` beside it, `order`, the south row first for Unity's) and where it lies, so
// GDAL and QGIS open it in place. Its base name, NAME.r16, is out of Unreal's gathering.
std::string gdalRawVrt(int epsg, const GeoTransform& geotransform, std::int32_t width,
                       std::int32_t height, const std::string& raw_file, ByteOrder order,
                       bool south_first);

}  // namespace marlwood
