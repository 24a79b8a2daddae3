// --true-scale files read back by GDAL in metres, against GDAL's own reading of each transfer.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "cli/batch.h"
#include "oracle_support.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

// SCAL's second value and ALTW's HeightScale, from the file's header.
double stepOf(const std::string& ter) {
    float scal = 0;
    std::memcpy(&scal, ter.data() + 48, 4);
    const int height_scale =
        static_cast<unsigned char>(ter[60]) | (static_cast<unsigned char>(ter[61]) << 8);
    return scal * height_scale / 65536.0;
}

TEST(TrueScaleAgainstGdal, EveryValidCellInMetresWithinOneStep) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    writeModules(tmp / "3030", buildModules(makeQuad(60, 50, CellFormat::Bi16, 30, "3030")));
    writeModules(tmp / "1010", buildModules(makeQuad(70, 60, CellFormat::Bfp32, 10, "1010")));
    const struct {
        std::string prefix;
        double unit_m, posting_m;
    } cases[] = {
        {(usgs / "7172-duluth-mn/7172").string(), 0.3048, 30},  // BI16 in feet
        {tmp / "3030", 1, 30},                                  // BI16 in metres
        {tmp / "1010", 1, 10},                                  // BFP32 decimetres
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix);
        std::ostringstream out, err;
        const std::string ter = tmp / "true.ter";
        ASSERT_EQ(runCommandLine({"-f", "--true-scale", "-o", ter, c.prefix}, out, err, false), 0)
            << err.str();
        const double step = stepOf(readFile(ter));
        const Raster sdts = gdalRead(c.prefix + "catd.ddf");
        const Raster metres = gdalRead(ter, "-unscale -ot Float32");
        ASSERT_EQ(metres.width, sdts.width);
        ASSERT_EQ(metres.height, sdts.height);
        EXPECT_NEAR(std::abs(metres.line_y[1] - metres.line_y[0]), c.posting_m, 1e-9);
        double lowest = 1e9, highest = -1e9, worst = 0;
        for (std::size_t i = 0; i < sdts.values.size(); ++i) {
            if (sdts.values[i] <= -1000) continue;
            const double want = sdts.values[i] * c.unit_m;
            lowest = std::min(lowest, want);
            highest = std::max(highest, want);
            worst = std::max(worst, std::abs(metres.values[i] - want));
        }
        EXPECT_LE(worst, step) << "step " << step;
        if (highest - lowest <= 600) {
            EXPECT_LE(worst, 0.01);
        }
        EXPECT_GT(highest - lowest, 100);  // a real span was checked
    }
}

}  // namespace
}  // namespace marlwood::oracle
