// Changes of datum against Debian's cs2cs (proj-bin), run with PROJ_DATA holding PROJ's own data
// and marlwood's grids: NAD27 to NAD83 within a millimetre, NGVD29 to NAVD88 heights within
// half a millimetre, at points on each of the five grids.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "geo/projection.h"
#include "oracle_support.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

// cs2cs's output for one "lat lon height" line, or empty.
std::string cs2cs(const std::string& proj_data, const std::string& from, const std::string& to,
                  const std::string& point) {
    const std::string command = "echo '" + point + "' | PROJ_DATA='" + proj_data +
                                "' PROJ_NETWORK=OFF cs2cs -f %.10f " + from + " " + to +
                                " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    return read ? line : "";
}

TEST(DatumAgainstCs2cs, ShiftsMatchWithTheGrids) {
    if (std::system("cs2cs >/dev/null 2>&1 </dev/null; command -v cs2cs >/dev/null") != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "cs2cs is missing (proj-bin)";
        GTEST_SKIP() << "cs2cs is not installed (proj-bin)";
    }
    // PROJ's own data folder and marlwood's grids, side by side, as cs2cs's PROJ_DATA.
    TempDir tmp;
    const fs::path data = projDataWithGrids(tmp.path());
    for (std::string_view grid : kDatumGrids) ASSERT_TRUE(fs::exists(data / grid)) << grid;
    const struct {
        const char* what;
        double latitude, longitude;  // on NAD27
    } cases[] = {
        {"DULUTH", 46.8, -92.06},
        {"Denver", 39.7, -105.0},
        {"Philadelphia", 40.0, -75.0},
        {"the Sierra Nevada", 37.0, -120.0},
        {"Anchorage (no VERTCON)", 61.2, -149.9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        char point[64];
        std::snprintf(point, sizeof point, "%.10f %.10f 0", c.latitude, c.longitude);
        double lat = 0, lon = 0, height = 0;
        ASSERT_EQ(std::sscanf(cs2cs(data.string(), "EPSG:4267", "EPSG:4269", point).c_str(),
                              "%lf %lf %lf", &lat, &lon, &height),
                  3);
        const DegreeBox area{c.longitude - 0.05, c.latitude - 0.05, c.longitude + 0.05,
                             c.latitude + 0.05};
        const Result<Reprojection> shift = Reprojection::forArea(4267, 4269, area);
        ASSERT_TRUE(shift) << shift.message();
        GroundPoint ours[] = {{c.longitude, c.latitude}};
        ASSERT_TRUE(shift->apply(ours));
        EXPECT_NEAR((ours[0].y - lat) * 111320, 0, 0.001);
        EXPECT_NEAR((ours[0].x - lon) * 111320 * std::cos(lat * M_PI / 180), 0, 0.001);

        const Degrees at[] = {{c.longitude, c.latitude}};
        const Result<std::vector<double>> rise = ngvd29ToNavd88(4267, at);
        const std::string heights = cs2cs(data.string(), "EPSG:4267+7968", "EPSG:4269+5703", point);
        if (c.latitude > 50) {  // VERTCON covers the conterminous states only
            EXPECT_FALSE(rise);
            continue;
        }
        ASSERT_EQ(std::sscanf(heights.c_str(), "%lf %lf %lf", &lat, &lon, &height), 3) << heights;
        ASSERT_TRUE(rise) << rise.message();
        EXPECT_NEAR(rise->front(), height, 0.0005);
    }
}

}  // namespace
}  // namespace marlwood::oracle
