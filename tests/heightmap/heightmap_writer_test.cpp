#include "heightmap/heightmap_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "heightmap/sidecar.h"
#include "png16_reader.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

std::uint16_t pattern(std::int32_t row, std::int32_t column) {
    return static_cast<std::uint16_t>(row * 4099 + column * 257 + (row ^ column));
}
const HeightmapRowSource kPattern = [](std::int32_t row, std::span<std::uint16_t> values) {
    for (std::size_t k = 0; k < values.size(); ++k) {
        values[k] = pattern(row, static_cast<std::int32_t>(k));
    }
};

std::vector<unsigned char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Each format holds every value where its reader looks for it: the PNG as libpng reads it, the
// raw files byte for byte in their order of rows and bytes.
TEST(HeightmapWriter, EveryFormatHoldsEveryValue) {
    const struct { std::int32_t rows, columns; } sizes[] = {{1, 1}, {3, 7}, {33, 33}, {300, 17}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.rows * 1000 + s.columns);
        testsupport::TempDir tmp;
        ASSERT_TRUE(writePng16(tmp / "h.png", s.rows, s.columns, kPattern));
        const testsupport::Png16 png = testsupport::readPng16(tmp / "h.png");
        ASSERT_EQ(png.width, static_cast<std::uint32_t>(s.columns));
        ASSERT_EQ(png.height, static_cast<std::uint32_t>(s.rows));
        for (const ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
            for (const RowOrder rows : {RowOrder::NorthFirst, RowOrder::SouthFirst}) {
                ASSERT_TRUE(writeRaw16(tmp / "h.raw", s.rows, s.columns, kPattern, order, rows));
                const std::vector<unsigned char> raw = bytesOf(tmp / "h.raw");
                ASSERT_EQ(raw.size(), static_cast<std::size_t>(s.rows * s.columns * 2));
                for (std::int32_t r = 0; r < s.rows; ++r) {
                    const std::int32_t grid_row = rows == RowOrder::NorthFirst ? r : s.rows - 1 - r;
                    for (std::int32_t k = 0; k < s.columns; ++k) {
                        const std::size_t at = static_cast<std::size_t>(r * s.columns + k) * 2;
                        const int value = order == ByteOrder::Little ? raw[at] | raw[at + 1] << 8
                                                                     : raw[at] << 8 | raw[at + 1];
                        ASSERT_EQ(value, pattern(grid_row, k));
                        ASSERT_EQ(png.at(static_cast<std::uint32_t>(grid_row),
                                         static_cast<std::uint32_t>(k)),
                                  pattern(grid_row, k));
                    }
                }
            }
        }
    }
}

TEST(HeightmapWriter, RefusesWithOneLineAndLeavesNothing) {
    const struct {
        const char* what;
        std::int32_t rows, columns;
        const char* name;
        const char* refusal;
        bool png_only = false;
    } cases[] = {{"empty", 0, 5, "h", "empty"},
                 {"no columns", 5, 0, "h", "empty"},
                 {"no directory", 3, 3, "missing/h", "missing"},
                 // Past libpng's own limit: its error unwinds out of the writer.
                 {"too wide for libpng", 1, 2000000, "h", "libpng: Invalid IHDR data", true}};
    for (const auto& c : cases) {
        for (const bool png : {true, false}) {
            if (c.png_only && !png) continue;
            SCOPED_TRACE(std::string(c.what) + (png ? " png" : " raw"));
            testsupport::TempDir tmp;
            const std::string path = tmp / c.name;
            const Status written = png ? writePng16(path, c.rows, c.columns, kPattern)
                                       : writeRaw16(path, c.rows, c.columns, kPattern,
                                                    ByteOrder::Little, RowOrder::NorthFirst);
            ASSERT_FALSE(written);
            EXPECT_NE(written.message().find(c.refusal), std::string::npos) << written.message();
            EXPECT_EQ(written.message().find('\n'), std::string::npos);
            EXPECT_EQ(tmp.entries(), 0u);
        }
    }
}

// The engines' settings from the figures: Unreal's 512 x Z scale cm span the range, the step
// 32768 lying at the Z location; Unity's size is the points' span.
TEST(HeightmapSidecar, EngineSettingsFollowFromTheFigures) {
    const struct {
        Engine engine;
        std::int32_t width, height;
        double posting, lowest, highest;
        std::vector<std::string> expected;  // "key": value pieces of the text
    } cases[] = {
        {Engine::Unreal,
         323,
         467,
         30,
         183.49,
         448.67,
         {"\"width\": 323,", "\"height\": 467,", "\"posting_x_m\": 30,", "\"lowest_m\": 183.49,",
          "\"highest_m\": 448.67,", "\"x_scale_cm\": 3000,", "\"z_scale\": 51.792969,",
          "\"z_location_cm\": 31608,", "\"datum\": \"NAD27\",", "\"utm_zone\": 15,",
          "\"components\": null}"}},
        {Engine::Unity,
         1025,
         1025,
         10,
         -12.5,
         1987.5,
         {"\"resolution\": 1025,", "\"width_m\": 10240,", "\"length_m\": 10240,",
          "\"height_m\": 2000,", "\"position_y_m\": -12.5}"}},
    };
    for (const auto& c : cases) {
        SidecarFigures f;
        f.engine = c.engine;
        f.format = c.engine == Engine::Unreal ? "png16" : "unity";
        f.files = {"a\"b"};
        f.width = c.width;
        f.height = c.height;
        f.posting_x_m = c.posting;
        f.posting_y_m = c.posting;
        f.range = {c.lowest, c.highest};
        f.epsg = 26715;
        const std::string json = sidecarJson(f);
        for (const std::string& piece : c.expected) {
            EXPECT_NE(json.find(piece), std::string::npos) << piece << " in\n" << json;
        }
        EXPECT_NE(json.find("[\"a\\\"b\"]"), std::string::npos) << json;
        const UnrealScale u = unrealScale(c.posting, c.posting, {c.lowest, c.highest});
        // Step 0 and 65535 land on the lowest and highest elevation (a step is Z scale / 128 cm).
        const double step_cm = (c.highest - c.lowest) * 100 / 65536;
        EXPECT_NEAR(u.z_location_cm - 32768 * u.z_scale / 128, c.lowest * 100, 1e-6);
        EXPECT_NEAR(u.z_location_cm + 32767 * u.z_scale / 128, c.highest * 100, step_cm);
    }
}

// What the sidecar adds for placing the set: each axis's scale, Unreal's components, the area's
// edges, and every Unity tile's position (tiles share their edges) and neighbours.
TEST(HeightmapSidecar, PlacesTheSetAndEveryUnityTile) {
    SidecarFigures f;
    f.width = 2017;
    f.height = 1009;
    f.posting_x_m = 2.5;
    f.posting_y_m = 2.4;
    f.range = {100, 300};
    f.epsg = 26715;
    f.geotransform = GeoTransform{500000, 2.5, 0, 5200000, 0, -2.4};
    f.format = "png16";
    f.components = UnrealComponents{63, 2, 16, 8};
    const std::string unreal = sidecarJson(f);
    for (const char* piece :
         {"\"x_scale_cm\": 250, \"y_scale_cm\": 240,",
          "\"extent\": {\"west\": 500000, \"south\": 5197578.4, \"east\": 505042.5, \"north\": "
          "5200000}",
          "\"components\": {\"across\": 16, \"down\": 8, \"quads_per_section\": 63, "
          "\"sections_per_component\": \"2x2\"}"}) {
        EXPECT_NE(unreal.find(piece), std::string::npos) << piece << " in\n" << unreal;
    }
    f.format = "unity";
    f.engine = Engine::Unity;
    f.tiles = TileCount{2, 2};
    f.tile_width = 1009;
    f.tile_height = 505;
    f.files = {"t_0_1.raw", "t_1_1.raw", "t_0_0.raw", "t_1_0.raw"};  // north-west first
    const std::string unity = sidecarJson(f);
    for (const char* piece :
         {"\"width_m\": 2520, \"length_m\": 1209.6,",
          "{\"file\": \"t_0_0.raw\", \"x_m\": 0, \"z_m\": 0, \"left\": null, \"top\": "
          "\"t_0_1.raw\", \"right\": \"t_1_0.raw\", \"bottom\": null}",
          "{\"file\": \"t_1_1.raw\", \"x_m\": 2520, \"z_m\": 1209.6, \"left\": \"t_0_1.raw\", "
          "\"top\": null, \"right\": null, \"bottom\": \"t_1_0.raw\"}"}) {
        EXPECT_NE(unity.find(piece), std::string::npos) << piece << " in\n" << unity;
    }
}

}  // namespace
}  // namespace marlwood
