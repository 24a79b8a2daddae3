#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How Unreal 5's landscape import reads a heightmap, as pure rules: which files importing one file
// gathers with it, and which landscape components fit a heightmap exactly. marlwood names its
// files and sizes its heightmaps by them.
namespace marlwood {

// Whether importing `seed` ("NAME.png", or a tile "NAME_x0_y0.png") also gathers the file `name`:
// one whose base name (before its last '.') is NAME or NAME_x<N>_y<M>, any extension, in any case.
// A file it gathers that is not a tile of the set stops the import.
bool unrealGathers(std::string_view seed, std::string_view name);

// The components of a landscape: square, each of sections x sections sections of
// quads_per_section quads (7, 15, 31, 63, 127 or 255), `across` x `down` of them.
struct UnrealComponents {
    std::int32_t quads_per_section = 0;
    std::int32_t sections = 1;  // a side: 1 (1 x 1) or 2 (2 x 2)
    std::int32_t across = 0, down = 0;

    std::int32_t quads() const { return quads_per_section * sections; }
    bool operator==(const UnrealComponents&) const = default;
};

// Epic's recommended landscapes reach 32 components a side (8129 points of 254 quads each);
// marlwood keeps within them.
inline constexpr std::int32_t kUnrealMostComponents = 32;

// The largest component that both sides' quads (points - 1) are whole numbers of, at most
// kUnrealMostComponents a side: the landscape Unreal makes of the heightmap as it is, neither
// resampled nor padded. Nothing when no component size fits both sides.
std::optional<UnrealComponents> unrealExactFit(std::int32_t width, std::int32_t height);

// A landscape that fits exactly, `width` x `height` points.
struct UnrealLandscape {
    std::int32_t width = 0, height = 0;
    UnrealComponents components;
};

// The exact-fit landscape nearest a terrain of `width` x `height` points: each side rounded to
// whole components of one size, and to a whole number of `tiles_across` and `tiles_down` tiles
// laid side by side, as Unreal lays them. Of all component sizes, the one that changes either
// side least (relative to its quads), fewer components on a tie. Nothing for a terrain of fewer
// than 2 points a side, or tiles that no fit splits.
std::optional<UnrealLandscape> nearestUnrealFit(std::int32_t width, std::int32_t height,
                                                std::int32_t tiles_across = 1,
                                                std::int32_t tiles_down = 1);

// "8 x 8 components of 126 quads (2 x 2 sections of 63)", for the report and the sidecar.
std::string componentsText(const UnrealComponents& components);

}  // namespace marlwood
