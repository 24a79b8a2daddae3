// Unreal 5's landscape import as marlwood models it, from Epic's documentation:
// - Gathering: FLandscapeImportHelper::GetMatchingFiles and ExtractCoordinates (Unreal Engine API
//   reference, Editor/LandscapeEditor/FLandscapeImportHelper): importing one file of a World
//   Partition landscape gathers the files named NAME or NAME_x<N>_y<M>, each tile's coordinates
//   read from its name (FLandscapeImportFileDescriptor::Coord, "which tile does that descriptor
//   represent").
// - Placement: tile (x, y) of W x H points is copied to x * W, y * H, tiles side by side with no
//   shared row or column; the landscape is (largest x + 1) * W by (largest y + 1) * H.
// - Exact fit: "Landscape Technical Guide" (dev.epicgames.com/documentation/en-us/unreal-engine/
//   landscape-technical-guide-in-unreal-engine): components are square, of 1 x 1 or 2 x 2
//   sections, a section 7, 15, 31, 63, 127 or 255 quads (FLandscapeConfig::
//   SubsectionSizeQuadsValues); FLandscapeImportHelper::ChooseBestComponentSizeForImport takes a
//   heightmap as it is only when width - 1 and height - 1 are whole numbers of one component's
//   quads. The guide's recommended sizes reach 32 x 32 components.
#include "heightmap/unreal.h"

#include <gtest/gtest.h>

#include <vector>

#include "heightmap/heightmap.h"

namespace marlwood {
namespace {

TEST(UnrealImport, GathersTheSeedsNameAndItsTilesOnly) {
    const struct {
        const char* seed;
        const char* name;
        bool gathered;
    } cases[] = {
        {"dul.png", "dul.png", true},
        {"dul.png", "dul.json", true},  // why the sidecar cannot be NAME.json
        {"dul.png", "dul.pgw", true},   // nor the world file NAME.pgw
        {"dul.png", "dul_x0_y0.png", true},
        {"dul.png", "DUL_X1_Y12.r16", true},
        {"out/dul_x1_y0.png", "dul.json", true},
        {"dul_x1_y0.png", "dul_x0_y1.png", true},
        {"dul.png", "dul_unreal.json", false},
        {"dul.png", "dul.png.aux.xml", false},
        {"dul.r16", "dul.r16.vrt", false},
        {"dul_x0_y0.r16", "dul_x1_y0.r16.vrt", false},
        {"dul.png", "dul_x0.png", false},
        {"dul.png", "dul_x_y0.png", false},
        {"dul.png", "dull.png", false},
        {"dul.png", "dul_x0_y0_unreal.json", false},
        {"dul_x0_y0.png", "dul_x0_y0_unreal.json", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.seed) + " " + c.name);
        EXPECT_EQ(unrealGathers(c.seed, c.name), c.gathered);
    }
}

TEST(UnrealImport, ExactFitIsOneComponentSizeOnBothSides) {
    const struct {
        std::int32_t width, height;
        UnrealComponents fit;  // quads_per_section 0: none fits
    } cases[] = {
        {8129, 8129, {127, 2, 32, 32}},
        {505, 505, {63, 2, 4, 4}},
        {2017, 1009, {63, 2, 16, 8}},
        {8161, 8161, {255, 2, 16, 16}},
        {316, 466, {15, 1, 21, 31}},
        {8, 8, {7, 1, 1, 1}},
        {323, 467, {}},  // DULUTH as it is: 322 and 466 share no component size
        {253, 175, {}},  // 252 and 174: none
        {232, 232, {}},  // 231 = 33 x 7: more than 32 components
        {1, 8, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const std::optional<UnrealComponents> fit = unrealExactFit(c.width, c.height);
        EXPECT_EQ(fit.value_or(UnrealComponents{}), c.fit);
    }
    EXPECT_EQ(componentsText({63, 2, 16, 8}),
              "16 x 8 components of 126 quads (2 x 2 sections of 63)");
    EXPECT_EQ(componentsText({15, 1, 21, 31}), "21 x 31 components of 15 quads");
}

// The nearest exact fit: what --size unreal makes. Each result fits exactly, splits into the
// tiles asked for, and Unreal's placement of those tiles assembles the same landscape.
TEST(UnrealImport, NearestExactFitKeepsThePointsAndSplitsIntoTiles) {
    const struct {
        std::int32_t width, height, tiles_across, tiles_down;
        std::int32_t fit_width, fit_height;  // 0: none
    } cases[] = {
        {323, 467, 1, 1, 316, 466},  // DULUTH: not halved
        {100, 100, 1, 1, 99, 99},   {2017, 2017, 1, 1, 2017, 2017}, {1140, 1140, 1, 1, 1144, 1144},
        {61, 41, 1, 1, 64, 43},     {2017, 2017, 2, 2, 1954, 1954}, {65, 65, 2, 2, 64, 64},
        {323, 467, 3, 1, 309, 449}, {1, 100, 1, 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const std::optional<UnrealLandscape> fit =
            nearestUnrealFit(c.width, c.height, c.tiles_across, c.tiles_down);
        ASSERT_EQ(fit.has_value(), c.fit_width != 0);
        if (!fit) continue;
        EXPECT_EQ(fit->width, c.fit_width);
        EXPECT_EQ(fit->height, c.fit_height);
        EXPECT_EQ(unrealExactFit(fit->width, fit->height), fit->components);
        // Unreal's placement: tile (x, y) at x * W, y * H, which is where marlwood cut it.
        const std::vector<Tile> tiles =
            cutTiles(fit->height, fit->width, {c.tiles_across, c.tiles_down}, TileEdges::Apart);
        ASSERT_EQ(tiles.size(), static_cast<std::size_t>(c.tiles_across * c.tiles_down));
        std::int32_t most_x = 0, most_y = 0;
        for (const Tile& t : tiles) {
            EXPECT_EQ(t.first_column, t.index_east * t.columns);
            EXPECT_EQ(t.first_row, t.index_south * t.rows);
            most_x = std::max(most_x, t.index_east);
            most_y = std::max(most_y, t.index_south);
        }
        EXPECT_EQ((most_x + 1) * tiles[0].columns, fit->width);
        EXPECT_EQ((most_y + 1) * tiles[0].rows, fit->height);
    }
}

}  // namespace
}  // namespace marlwood
