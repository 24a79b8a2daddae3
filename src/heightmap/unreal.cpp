#include "heightmap/unreal.h"

#include <algorithm>
#include <cstdlib>

namespace marlwood {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The name before its last '.', lower case (Windows names are compared without case).
std::string baseName(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    const std::size_t dot = name.rfind('.');
    return lowered(dot == std::string_view::npos ? name : name.substr(0, dot));
}

// `base` without a trailing _x<N>_y<M>, and whether it had one.
std::string_view tileStem(std::string_view base, bool& tiled) {
    tiled = false;
    std::string_view rest = base;
    const auto digitsAtEnd = [](std::string_view& text) {
        std::size_t n = 0;
        while (n < text.size() && text[text.size() - 1 - n] >= '0' &&
               text[text.size() - 1 - n] <= '9') {
            ++n;
        }
        text.remove_suffix(n);
        return n > 0;
    };
    if (!digitsAtEnd(rest) || !rest.ends_with("_y")) return base;
    rest.remove_suffix(2);
    if (!digitsAtEnd(rest) || !rest.ends_with("_x")) return base;
    rest.remove_suffix(2);
    tiled = true;
    return rest;
}

// Section sizes and sections a side, largest component first: 510, 255, 254, 127 ... 14, 7.
struct ComponentSize {
    std::int32_t quads_per_section, sections;
};
constexpr ComponentSize kComponentSizes[] = {{255, 2}, {255, 1}, {127, 2}, {127, 1},
                                             {63, 2},  {63, 1},  {31, 2},  {31, 1},
                                             {15, 2},  {15, 1},  {7, 2},   {7, 1}};

}  // namespace

bool unrealGathers(std::string_view seed, std::string_view name) {
    bool tiled = false;
    const std::string seed_base = baseName(seed);
    const std::string stem(tileStem(seed_base, tiled));
    const std::string base = baseName(name);
    if (base == stem) return true;
    const std::string_view name_stem = tileStem(base, tiled);
    return tiled && name_stem == stem;
}

std::optional<UnrealComponents> unrealExactFit(std::int32_t width, std::int32_t height) {
    if (width < 2 || height < 2) return std::nullopt;
    for (const ComponentSize& size : kComponentSizes) {
        const std::int32_t quads = size.quads_per_section * size.sections;
        if ((width - 1) % quads != 0 || (height - 1) % quads != 0) continue;
        const std::int32_t across = (width - 1) / quads, down = (height - 1) / quads;
        if (across > kUnrealMostComponents || down > kUnrealMostComponents) continue;
        return UnrealComponents{size.quads_per_section, size.sections, across, down};
    }
    return std::nullopt;
}

std::optional<UnrealLandscape> nearestUnrealFit(std::int32_t width, std::int32_t height,
                                                std::int32_t tiles_across,
                                                std::int32_t tiles_down) {
    if (width < 2 || height < 2 || tiles_across < 1 || tiles_down < 1) return std::nullopt;
    // The whole components nearest `points` whose points make whole tiles of 2 points or more.
    const auto nearest = [](std::int32_t points, std::int32_t quads,
                            std::int32_t tiles) -> std::optional<std::int32_t> {
        std::optional<std::int32_t> best;
        for (std::int32_t n = 1; n <= kUnrealMostComponents; ++n) {
            const std::int32_t side = n * quads + 1;
            if (side % tiles != 0 || side / tiles < 2) continue;
            if (!best || std::abs(side - points) < std::abs(*best - points)) best = side;
        }
        return best;
    };
    std::optional<UnrealLandscape> found;
    double found_change = 0;
    for (const ComponentSize& size : kComponentSizes) {
        const std::int32_t quads = size.quads_per_section * size.sections;
        const std::optional<std::int32_t> w = nearest(width, quads, tiles_across);
        const std::optional<std::int32_t> h = nearest(height, quads, tiles_down);
        if (!w || !h) continue;
        const double change = std::max(std::abs(*w - width) / static_cast<double>(width - 1),
                                       std::abs(*h - height) / static_cast<double>(height - 1));
        // Larger components come first, so a tie keeps the fewer.
        if (found && change >= found_change) continue;
        // The component Unreal itself picks for these sides, which may be larger than `size`.
        found = UnrealLandscape{*w, *h, *unrealExactFit(*w, *h)};
        found_change = change;
    }
    return found;
}

std::string componentsText(const UnrealComponents& c) {
    std::string text = std::to_string(c.across) + " x " + std::to_string(c.down) +
                       " components of " + std::to_string(c.quads()) + " quads";
    if (c.sections > 1) {
        text += " (" + std::to_string(c.sections) + " x " + std::to_string(c.sections) +
                " sections of " + std::to_string(c.quads_per_section) + ")";
    }
    return text;
}

}  // namespace marlwood
