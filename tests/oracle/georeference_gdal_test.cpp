// Our georeference against GDAL's placement of the same transfers: GDAL's origin is the outer
// corner of the top-left cell and its pixel size the posting, north up.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "oracle_support.h"
#include "quad_terrain.h"
#include "sdts/georeference.h"
#include "sdts_writer.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

void expectGdalsPlacement(const std::string& prefix) {
    const Result<Georeference> ours = readGeoreference(modulesAt(prefix));
    ASSERT_TRUE(ours) << ours.message();
    const std::optional<GroundPoint> corner = ours->topLeftCorner();
    ASSERT_TRUE(corner);
    const GdalPlacement gdal = gdalPlacement(prefix + "catd.ddf");
    EXPECT_EQ(corner->x, gdal.origin_x);
    EXPECT_EQ(corner->y, gdal.origin_y);
    EXPECT_EQ(ours->xhrs, gdal.pixel_width);
    EXPECT_EQ(-ours->yhrs, gdal.pixel_height);
}

// DULUTH: SADR 566700, 5191530 is the centre of the first cell; GDAL's origin is 566685, 5191545.
TEST(GeoreferenceAgainstGdal, Duluth) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    expectGdalsPlacement((usgs / "7172-duluth-mn/7172").string());
}

TEST(GeoreferenceAgainstGdal, SyntheticTransfers) {
    MARLWOOD_REQUIRE_GDAL();
    for (const int spacing : {10, 30}) {
        SCOPED_TRACE(spacing);
        TempDir dir;
        const std::string prefix = dir / "7018";
        writeModules(prefix, buildModules(makeQuad(5, 4, CellFormat::Bi16, spacing)));
        expectGdalsPlacement(prefix);
    }
}

}  // namespace
}  // namespace marlwood::oracle
