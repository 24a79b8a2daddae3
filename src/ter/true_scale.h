#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace marlwood {

// How a true-scale .ter file holds elevations. Terragen reads a point's elevation as
// (BaseHeight + h x HeightScale / 65536) x SCAL metres, h being the stored signed 16-bit height
// and SCAL the metres between points, here the posting.
struct TrueScale {
    double scal_m = 30;
    std::int32_t height_scale = 1;
    std::int32_t base_height = 0;

    // Metres between two neighbouring heights.
    double stepMetres() const { return scal_m * height_scale / 65536.0; }
    // What Terragen makes of height h.
    double metres(std::int32_t h) const {
        return (base_height + static_cast<double>(h) * height_scale / 65536.0) * scal_m;
    }
    // The height whose elevation lies nearest `elevation_m`, within the 16 signed bits.
    std::int32_t height(double elevation_m) const;
};

// Chooses HeightScale and BaseHeight for elevations from `lowest_m` to `highest_m`. The heights
// have 65,536 values, -32768 to 32767, so the best a file can do is spread the span over nearly
// all of them: HeightScale is the smallest whole number whose 65,535 steps of HeightScale / 65536
// (in units of SCAL metres) cover the span, with BaseHeight a whole number that puts both ends
// inside the signed range (where no whole number fits, the next HeightScale up). Every elevation
// is then written within half a step, a step being about span / 65,535 (0.004 m for 265 m).
// Nothing when even the largest HeightScale cannot hold the span.
std::optional<TrueScale> chooseTrueScale(double lowest_m, double highest_m, double posting_m);

}  // namespace marlwood
