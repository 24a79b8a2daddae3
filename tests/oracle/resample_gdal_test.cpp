// --size's resampled grid (the raw cells, before any heights are made) against gdalwarp -ts of the
// same transfer at the same size (gdal_translate -outsize's): -r average when shrinking, -r
// bilinear when growing. GDAL voids a grown cell whose nearest source cell is void; we interpolate
// it from its valid neighbours, so GDAL may have voids beside ours, but never a value where we
// have a void.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "oracle_support.h"
#include "pipeline/reader.h"
#include "pipeline/terrain.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

// GDAL takes one NoData value: the synthetic quad's voids become fill, as DULUTH's are.
void writeOneVoidValue(const std::string& prefix, testsupport::Transfer t) {
    std::replace(t.elevations.begin(), t.elevations.end(), double{kVoidElevation},
                 double{kFillElevation});
    writeModules(prefix, buildModules(t));
}

TEST(ResampleAgainstGdal, WithinTolerancesOfGdalwarp) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const std::string quad = tmp / "1010";
    writeOneVoidValue(quad, makeQuad(1391, 1087, CellFormat::Bfp32, 10, "1010"));
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    const struct {
        std::string prefix;
        std::int32_t size;
        std::int32_t rows, columns;  // as gdal_translate -outsize sizes them
        bool thousandths;
        double tolerance;  // in the transfer's unit
    } cases[] = {
        // Whole feet: ours are rounded to the nearest foot, GDAL's are not.
        {duluth, 200, 200, 138, false, 0.5},
        {duluth, 1025, 1025, 709, false, 0.5},
        // Thousandths of a metre: the source's BFP32 and our result each rounded to one, GDAL's
        // result a 32-bit float (measured: 0.00100).
        {quad, 1025, 1025, 801, true, 0.0012},
        {quad, 1500, 1500, 1172, true, 0.0012},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix + " at " + std::to_string(c.size));
        NoEvents events;
        const Input input = sdtsInput(c.prefix, modulesAt(c.prefix));
        auto metadata = readMetadata(input, MetadataReading::Strict, false, events);
        ASSERT_TRUE(metadata) << metadata.error().message;
        auto decoded = readGrid(input, *metadata, std::nullopt, MetadataReading::Strict,
                                c.thousandths, events);
        ASSERT_TRUE(decoded);
        const bool shrinking = c.size < std::max(metadata->size.rows, metadata->size.columns);
        auto ours = resampleDecoded(std::move(*decoded), c.size);
        ASSERT_TRUE(ours) << ours.error().message;
        ASSERT_EQ(ours->size.rows, c.rows);
        ASSERT_EQ(ours->size.columns, c.columns);

        const std::string warped = tmp / "warped.tif";
        const std::string command =
            std::string("gdalwarp -q -overwrite -ot Float32 -srcnodata -32766 -dstnodata -32766") +
            " -r " + (shrinking ? "average" : "bilinear") + " -ts " +
            std::to_string(ours->size.columns) + " " + std::to_string(ours->size.rows) + " " +
            c.prefix + "catd.ddf " + warped;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const Raster gdal = gdalRead(warped);
        ASSERT_EQ(gdal.height, c.rows);
        ASSERT_EQ(gdal.width, c.columns);

        const double per_unit = c.thousandths ? kThousandths : 1;
        double worst = 0;
        long void_mismatches = 0, voids = 0, gdal_only_voids = 0;
        for (int i = 0; i < gdal.height; ++i) {
            for (int j = 0; j < gdal.width; ++j) {
                const std::int32_t cell = ours->grid[static_cast<std::size_t>(i)][j];
                const bool our_void = cell <= kVoidThreshold * per_unit;
                const bool gdal_void = gdal.at(i, j) <= kVoidThreshold;
                voids += our_void;
                gdal_only_voids += gdal_void && !our_void;
                if (our_void && !gdal_void) {
                    ++void_mismatches;
                } else if (!gdal_void) {
                    worst = std::max(worst, std::abs(cell / per_unit - gdal.at(i, j)));
                }
            }
        }
        std::printf(
            "%s --size %d: largest difference %.6f, %ld of our %ld voids valid in GDAL, "
            "%ld voids of GDAL's only\n",
            c.prefix.c_str(), c.size, worst, void_mismatches, voids, gdal_only_voids);
        EXPECT_LE(worst, c.tolerance);
        EXPECT_EQ(void_mismatches, 0);
        EXPECT_GT(voids, 0);  // voids were met
    }
}

}  // namespace
}  // namespace marlwood::oracle
