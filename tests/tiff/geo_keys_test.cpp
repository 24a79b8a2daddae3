#include "tiff/geo_keys.h"

#include <gtest/gtest.h>

#include <vector>

namespace marlwood {
namespace {

// The directory as the GeoTIFF standard lays it out: header 1, 1, 0, four keys; then model type
// projected (1024 = 1), raster type pixel-is-area (1025 = 1), the projected system's EPSG code
// (3072) and metres (3076 = 9001), each held in its entry (location 0, count 1). GDAL reads the
// written files back to the same system (tests/oracle).
TEST(GeoKeyDirectory, ProjectedSystemInMetres) {
    const struct {
        std::uint16_t epsg;
        std::vector<std::uint16_t> keys;  // the entries after the header
    } cases[] = {
        {26715, {1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 26715, 3076, 0, 1, 9001}},
        {32660, {1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32660, 3076, 0, 1, 9001}},
        {1, {1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 1, 3076, 0, 1, 9001}},
        {65535, {1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 65535, 3076, 0, 1, 9001}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.epsg);
        std::vector<std::uint16_t> expected = {1, 1, 0, 4};
        expected.insert(expected.end(), c.keys.begin(), c.keys.end());
        EXPECT_EQ(geoKeyDirectory(c.epsg), expected);
    }
}

}  // namespace
}  // namespace marlwood
