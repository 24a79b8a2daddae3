#pragma once

#include <cstdint>
#include <optional>

// What a conversion is asked to make: filled by the command line's options, or by the dialogue's
// answers, and read by the one stage or writer each setting is for.
namespace marlwood {

// The lowest and highest valid elevation, as the decoder tracks them (0 and 9000 when no cell
// is valid).
struct Extremes {
    std::int32_t max_elevation = 0;
    std::int32_t min_elevation = 9000;
};

struct ConversionSettings {
    std::int32_t height_scale = 30;
    // The colormap is made from these extremes instead of the transfer's own, so that several
    // transfers share one.
    std::optional<Extremes> common_range;
    // Elevations in metres at the posting's scale (SCAL), BFP32 fractions kept, instead of the
    // stretched 0..32000.
    bool true_scale = false;
    // Void cells filled from the valid cells around them.
    bool fill_voids = false;
    // A PNG picture of the terrain beside the .ter file.
    bool preview = false;
    // Resampled so that the longer side has this many points, the posting with it.
    std::optional<std::int32_t> size;
};

}  // namespace marlwood
