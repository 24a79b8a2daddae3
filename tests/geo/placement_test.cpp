#include "geo/placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "geo/crs.h"

namespace marlwood {
namespace {

template <class T>
void expectRefusal(const Result<T>& result, const std::string& part) {
    ASSERT_FALSE(result);
    EXPECT_NE(result.message().find(part), std::string::npos) << result.message();
}

// Codes checked with gdalsrsinfo EPSG:n: the ends of each run and the zones a datum lacks.
TEST(Crs, EpsgCodeOfXref) {
    const struct {
        const char *system, *datum;
        int zone, epsg;       // epsg 0: refused
        const char* refusal;  // part of the line
        const char* from = "XREF";
    } cases[] = {
        {"UTM", "NAS", 22, 26722, ""},
        {"UTM", "NAS", 60, 3371, ""},
        {"UTM", "NAX", 23, 26923, ""},
        {"UTM", "NAX", 59, 3372, ""},
        {"UTM", "WGE", 1, 32601, ""},
        {"UTM", "WGC", 60, 32260, ""},
        {"UTM", "NAS", 23, 0, "zone 23 on NAD27 has no EPSG code (NAD27 has zones 1 to 22, 59"},
        {"UTM", "WGE", 61, 0, "zone 61 on WGS 84 has no EPSG code (WGS 84 has zones 1 to 60)"},
        {"UTM", "WGC", 0, 0, "zone 0 on WGS 72"},
        {"GEO", "NAS", 0, 0, "XREF: reference system \"GEO\" is not UTM"},
        {"UTM", "N\nS", 15, 0, "XREF: horizontal datum \"N?S\" is none of NAS (NAD27), NAX"},
        // A native DEM's record A codes its datum as a number.
        {"UTM", "7", 15, 0, "record A: horizontal datum \"7\" is none of 1 (NAD27), 2", "record A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.system) + " " + c.datum + " " + std::to_string(c.zone));
        const Result<int> epsg = epsgCode(c.system, c.datum, c.zone, c.from);
        if (c.epsg == 0) {
            expectRefusal(epsg, c.refusal);
        } else {
            ASSERT_TRUE(epsg) << epsg.message();
            EXPECT_EQ(*epsg, c.epsg);
        }
    }
}

// DULUTH's georeference: the first cell's centre at 566700, 5191530, 30 m.
Georeference duluth() {
    Georeference g;
    g.sadr_x = 566700, g.sadr_y = 5191530, g.xhrs = g.yhrs = 30, g.zone = 15;
    g.scan_origin = "TL", g.sadr_meaning = "CE", g.rsnm = "UTM", g.hdat = "NAS";
    return g;
}

// DULUTH's georeference, one field changed at a time.
TEST(Placement, GeotransformOfTheCells) {
    const struct {
        const char* what;
        void (*change)(Georeference&);
        GeoTransform want;    // when placed
        const char* refusal;  // otherwise, part of the line
    } cases[] = {
        {"centre", [](Georeference&) {}, {566685, 30, 0, 5191545, 0, -30}, ""},
        {"corner",
         [](Georeference& g) { g.sadr_meaning = "BR"; },
         {566670, 30, 0, 5191560, 0, -30},
         ""},
        {"scaled, 10 m",
         [](Georeference& g) {
             g.sfax = g.sfay = 0.5, g.xorg = g.yorg = 1000, g.xhrs = g.yhrs = 10;
         },
         {284345, 10, 0, 2596770, 0, -10},
         ""},
        {"scan origin", [](Georeference& g) { g.scan_origin = "BL"; }, {}, "SCOR \"BL\""},
        {"INTR", [](Georeference& g) { g.sadr_meaning = "XX"; }, {}, "INTR \"XX\" is neither"},
        {"infinite", [](Georeference& g) { g.sfax = 1e308, g.sadr_x = 1e308; }, {}, "not finite"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Georeference g = duluth();
        c.change(g);
        const Result<GridPlacement> placed = placeGrid(g);
        if (*c.refusal != '\0') {
            expectRefusal(placed, c.refusal);
        } else {
            ASSERT_TRUE(placed) << placed.message();
            EXPECT_EQ(placed->epsg, 26715);
            EXPECT_EQ(placed->geotransform, c.want);
        }
    }
}

}  // namespace
}  // namespace marlwood
