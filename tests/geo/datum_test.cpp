// Changes of datum through marlwood's own grids (data/proj-grids, beside the test binary in the
// build tree). The expected figures are Debian's cs2cs (PROJ 9.1) with the grids on PROJ_DATA;
// tests/oracle/datum_cs2cs_test.cpp runs cs2cs itself.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "geo/projection.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

constexpr double kMetresPerDegree = 111320;

template <class T>
std::string problemOf(const Result<T>& result) {
    return result ? std::string() : result.message();
}

// MARLWOOD_PROJ_GRIDS set for a scope: marlwood's grids moved away.
class GridsIn {
  public:
    explicit GridsIn(const std::string& folder) {
        ::setenv("MARLWOOD_PROJ_GRIDS", folder.c_str(), 1);
    }
    ~GridsIn() { ::unsetenv("MARLWOOD_PROJ_GRIDS"); }
    GridsIn(const GridsIn&) = delete;
    GridsIn& operator=(const GridsIn&) = delete;
};

TEST(Datum, Nad27ToNad83ThroughTheGridsToAMillimetre) {
    const struct {
        const char* what;
        Degrees nad27, nad83;
    } cases[] = {
        // Without the grid PROJ puts DULUTH 4.7 m further north, Anchorage 1.3 m.
        {"DULUTH (NADCON, conterminous)", {-92.06, 46.8}, {-92.0601889341, 46.7999389811}},
        {"Anchorage (NADCON, Alaska)", {-149.9, 61.2}, {-149.9022049402, 61.1994479343}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DegreeBox area{c.nad27.longitude - 0.1, c.nad27.latitude - 0.1,
                             c.nad27.longitude + 0.1, c.nad27.latitude + 0.1};
        const Result<Reprojection> shift = Reprojection::forArea(4267, 4269, area);
        ASSERT_TRUE(shift) << shift.message();
        GroundPoint p[] = {{c.nad27.longitude, c.nad27.latitude}};
        ASSERT_TRUE(shift->apply(p));
        const double cosine = std::cos(c.nad83.latitude * M_PI / 180);
        EXPECT_NEAR((p[0].y - c.nad83.latitude) * kMetresPerDegree, 0, 0.001);
        EXPECT_NEAR((p[0].x - c.nad83.longitude) * kMetresPerDegree * cosine, 0, 0.001);
    }
}

TEST(Datum, Ngvd29ToNavd88ThroughVertcon) {
    const struct {
        const char* what;
        int geographic;
        Degrees point;
        double rise_m;
    } cases[] = {
        {"Denver (central grid)", 4267, {-105.0, 39.7}, 0.916057},
        {"Denver on NAD83", 4269, {-105.0, 39.7}, 0.916057},
        {"DULUTH (central grid)", 4267, {-92.06, 46.8}, -0.004972},
        {"Philadelphia (eastern grid)", 4267, {-75.0, 40.0}, -0.346792},
        {"the Sierra Nevada (western grid)", 4269, {-120.0, 37.0}, 0.711008},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Degrees points[] = {c.point};
        const Result<std::vector<double>> rise = ngvd29ToNavd88(c.geographic, points);
        ASSERT_TRUE(rise) << rise.message();
        EXPECT_NEAR(rise->front(), c.rise_m, 0.0005);
    }
    // Nowhere near VERTCON: refused, never no shift.
    const Degrees paris[] = {{2.35, 48.85}};
    const Result<std::vector<double>> none = ngvd29ToNavd88(4269, paris);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.message().find('\n'), std::string::npos);
}

// With the grids' folder empty, or holding NADCON's grid alone, a change of datum that needs a
// grid not there is refused in one line naming the grids lacking and the folder; WGS 84 to
// NAD83, which no grid of marlwood's serves, still goes.
TEST(Datum, AGridNotFoundIsNamedInOneLine) {
    testsupport::TempDir tmp;
    const std::string empty = (tmp.path() / "moved").string();
    const std::string conus = (tmp.path() / "conus only").string();
    std::filesystem::create_directory(empty);
    std::filesystem::create_directory(conus);
    std::filesystem::copy_file(std::filesystem::path(datumGridFolder()) / "us_noaa_conus.tif",
                               std::filesystem::path(conus) / "us_noaa_conus.tif");
    const DegreeBox duluth{-92.2, 46.7, -92.0, 46.9};
    const Degrees denver[] = {{-105.0, 39.7}};
    const struct {
        const char* what;
        std::string folder;
        std::function<std::string()> problem;  // the failure's line, or empty
        std::string lacking;                   // the grids it names; empty: no failure
    } cases[] = {
        {"NAD27 to NAD83", empty,
         [&] { return problemOf(Reprojection::forArea(4267, 4269, duluth)); },
         "grid us_noaa_conus.tif is"},
        {"WGS 84 to NAD27 UTM", empty,
         [&] { return problemOf(Reprojection::forArea(4326, 26715, duluth)); },
         "grid us_noaa_conus.tif is"},
        {"heights on NAD83", empty, [&] { return problemOf(ngvd29ToNavd88(4269, denver)); },
         "grid us_noaa_vertconc.tif is"},
        {"heights on NAD27", empty, [&] { return problemOf(ngvd29ToNavd88(4267, denver)); },
         "grids us_noaa_conus.tif and us_noaa_vertconc.tif are"},
        // PROJ would take NADCON with no shift of heights.
        {"heights on NAD27, NADCON alone", conus,
         [&] { return problemOf(ngvd29ToNavd88(4267, denver)); }, "grid us_noaa_vertconc.tif is"},
        {"NAD27 to NAD83, NADCON alone", conus,
         [&] { return problemOf(Reprojection::forArea(4267, 4269, duluth)); }, ""},
        {"WGS 84 to NAD83 UTM", empty,
         [&] { return problemOf(Reprojection::forArea(4326, 26915, duluth)); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const GridsIn moved(c.folder);
        EXPECT_EQ(datumGridFolder(), c.folder);
        const std::string problem = c.problem();
        if (c.lacking.empty()) {
            EXPECT_EQ(problem, "");
            continue;
        }
        EXPECT_EQ(problem.rfind("the datum " + c.lacking + " not in " + c.folder + " (", 0), 0u)
            << problem;
        EXPECT_EQ(problem.find('\n'), std::string::npos);
    }
}

}  // namespace
}  // namespace marlwood
