// Changes of datum without marlwood's own grids (data/proj-grids, beside the test binary in the
// build tree): refused, naming what is lacking. With them, tests/oracle/datum_cs2cs_test.cpp
// holds the shifts against cs2cs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "geo/projection.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

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
