#include "tiff/geotiff_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "temp_dir.h"

namespace marlwood {
namespace {

// What a file cannot record is refused before anything is written; a file that cannot be
// written leaves nothing. GDAL reads back what is written (tests/oracle).
TEST(GeoTiffWriter, RefusesWithOneLineAndLeavesNothing) {
    const GridPlacement duluth{26715, {566685, 30, 0, 5191545, 0, -30}};
    const struct {
        const char* what;
        std::int32_t rows, columns;
        GridPlacement placement;
        const char* directory;  // below the temporary directory
        const char* refusal;
    } cases[] = {
        {"no cells", 0, 5, duluth, "", "a grid without cells"},
        {"EPSG", 3, 5, {70000, duluth.geotransform}, "", "EPSG code 70000 cannot"},
        {"rotated", 3, 5, {26715, {566685, 30, 1, 5191545, 0, -30}}, "", "not north up"},
        {"south up", 3, 5, {26715, {566685, 30, 0, 5191545, 0, 30}}, "", "not north up"},
        {"NaN", 3, 5, {26715, {NAN, 30, 0, 5191545, 0, -30}}, "", "not finite"},
        {"no directory", 3, 5, duluth, "missing/", "cannot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir tmp;
        const std::string path = tmp / (std::string(c.directory) + "grid.tif");
        const Status written = writeGeoTiff(path, c.rows, c.columns, c.placement,
                                            [](std::int32_t, std::span<float> row) {
                                                for (float& v : row) v = 1;
                                            });
        ASSERT_FALSE(written);
        EXPECT_NE(written.message().find(c.refusal), std::string::npos) << written.message();
        EXPECT_EQ(written.message().find('\n'), std::string::npos);
        EXPECT_EQ(tmp.entries(), 0u);
    }
}

}  // namespace
}  // namespace marlwood
