#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "geo/crop.h"
#include "heightmap/heightmap.h"
#include "pipeline/formats.h"

// What a conversion is asked to make: filled by the command line's options, or by the dialogue's
// answers, and read by the one stage or writer each setting is for.
namespace marlwood {

// The lowest and highest valid elevation, as the decoder tracks them (0 and 9000 when no cell
// is valid).
struct Extremes {
    std::int32_t max_elevation = 0;
    std::int32_t min_elevation = 9000;
};

// The extremes of several grids together.
inline Extremes unionOf(const Extremes& a, const Extremes& b) {
    return {std::max(a.max_elevation, b.max_elevation), std::min(a.min_elevation, b.min_elevation)};
}

struct ConversionSettings {
    // What the terrain is written as: a row of the format table (pipeline/formats.h); nothing
    // for the .ter.
    const OutputFormat* format = nullptr;
    // Threads a merge decodes its pieces on; 0: one a core.
    unsigned threads = 0;
    std::int32_t height_scale = 30;
    // The colormap is made from these extremes instead of the transfer's own, so that several
    // transfers share one.
    std::optional<Extremes> common_range;
    // A heightmap's 0..65535 span these elevations instead of the terrain's own (--common-range).
    std::optional<HeightRange> common_heights;
    // Elevations in metres at the posting's scale (SCAL), BFP32 fractions kept, instead of the
    // stretched 0..32000.
    bool true_scale = false;
    // Void cells filled from the valid cells around them.
    bool fill_voids = false;
    // A PNG picture of the terrain beside its file.
    bool preview = false;
    // Resampled so that the longer side has this many points, the posting with it.
    std::optional<std::int32_t> size;
    // Every source read at its full resolution, never a coarser copy it keeps (a GeoTIFF's
    // overview, read by default when --size makes the output at least twice as coarse).
    bool full_resolution = false;
    // Only the whole cells of this area (--bbox, --centre and --extent).
    std::optional<PlaceCrop> crop;
    // The UTM zone (1 to 60) of a merge, or of a source laid onto a lattice in it; without it,
    // that of the sources (see planMerge).
    std::optional<int> zone;
    // The posting in metres of the lattice a source in degrees (or any other system) is laid
    // onto, a merge's too; without it, the source's own (see planMerge).
    std::optional<double> posting;
    // A merge keeps each source's heights on its own vertical datum (NGVD29 is otherwise raised
    // to NAVD88 where the two meet).
    bool keep_heights = false;
    // --size unreal (each side to the nearest exact fit) or unity (its side at or below).
    std::optional<Engine> engine_size;
    // --size cs2 or cs2-world: Cities: Skylines II's 4096 x 4096 heightmap, heights from 0 m to
    // its height scale (--cs2-height-scale, or kCs2HeightScaleM).
    std::optional<Cs2Map> cs2;
    std::optional<double> cs2_height_scale_m;
    // A heightmap cut into tiles sharing their edge rows and columns.
    std::optional<TileCount> tiles;
    // The raw heightmaps' byte order.
    ByteOrder byte_order = ByteOrder::Little;
    // The values of options a format row declares that no field above holds, by long name: the
    // row's own writer reads them, so a format with an option of its own needs no field here.
    std::vector<std::pair<std::string, std::string>> format_values;

    // The value given for the format option `name`, or nothing.
    const std::string* formatValue(std::string_view name) const {
        for (const auto& [option, value] : format_values) {
            if (option == name) return &value;
        }
        return nullptr;
    }

    const OutputFormat& outputFormat() const { return format ? *format : terFormat(); }
    // Elevations kept in thousandths of their unit, decimals and all: what true heights and
    // formats of metres need.
    bool keepsDecimals() const { return true_scale || outputFormat().keeps_decimals; }
    // Voids filled before the terrain is written.
    bool fillsVoids() const { return fill_voids || outputFormat().fills_voids; }
    // The grid's place on the ground is read too.
    bool needsPlacement() const { return outputFormat().needs_placement; }
};

}  // namespace marlwood
