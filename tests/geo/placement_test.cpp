#include "geo/placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "geo/crs.h"

namespace marlwood {
namespace {

// Codes checked against PROJ's database (gdalsrsinfo EPSG:n): the first and last zone of each
// run, and the zones each datum lacks.
TEST(Crs, EpsgCodeOfXref) {
    const struct {
        const char* system;
        const char* datum;
        int zone;
        int epsg;             // 0: refused
        const char* refusal;  // part of the line
    } cases[] = {
        {"UTM", "NAS", 1, 26701, ""},
        {"UTM", "NAS", 15, 26715, ""},
        {"UTM", "NAS", 22, 26722, ""},
        {"UTM", "NAS", 59, 3370, ""},
        {"UTM", "NAS", 60, 3371, ""},
        {"UTM", "NAX", 23, 26923, ""},
        {"UTM", "NAX", 59, 3372, ""},
        {"UTM", "NAX", 60, 3373, ""},
        {"UTM", "WGE", 1, 32601, ""},
        {"UTM", "WGE", 60, 32660, ""},
        {"UTM", "WGC", 1, 32201, ""},
        {"UTM", "WGC", 60, 32260, ""},
        {"UTM", "NAS", 23, 0, "UTM zone 23 on NAD27 has no EPSG code (NAD27 has zones 1 to 22, 59"},
        {"UTM", "NAX", 58, 0, "UTM zone 58 on NAD83"},
        {"UTM", "WGE", 0, 0, "UTM zone 0 on WGS 84"},
        {"UTM", "WGC", 61, 0, "UTM zone 61 on WGS 72 has no EPSG code (WGS 72 has zones 1 to 60)"},
        {"GEO", "NAS", 0, 0, "XREF: reference system \"GEO\" is not UTM"},
        {"UTM", "NAR", 15, 0, "XREF: horizontal datum \"NAR\" is none of NAS (NAD27), NAX"},
        {"UTM", "N\nS", 15, 0, "datum \"N?S\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.system) + " " + c.datum + " " + std::to_string(c.zone));
        const Result<int> epsg = epsgCode(c.system, c.datum, c.zone);
        if (c.epsg != 0) {
            ASSERT_TRUE(epsg) << epsg.message();
            EXPECT_EQ(*epsg, c.epsg);
        } else {
            ASSERT_FALSE(epsg);
            EXPECT_NE(epsg.message().find(c.refusal), std::string::npos) << epsg.message();
        }
    }
}

// DULUTH's georeference (first cell centre 566700, 5191530 at 30 m), varied one field at a time.
TEST(Placement, GeotransformOfTheCells) {
    const auto duluth = [] {
        Georeference g;
        g.sadr_x = 566700;
        g.sadr_y = 5191530;
        g.xhrs = g.yhrs = 30;
        g.scan_origin = "TL";
        g.sadr_meaning = "CE";
        g.rsnm = "UTM";
        g.hdat = "NAS";
        g.zone = 15;
        return g;
    };
    const struct {
        const char* what;
        void (*change)(Georeference&);
        GeoTransform want;    // when placed
        const char* refusal;  // otherwise, part of the line
    } cases[] = {
        {"centre", [](Georeference&) {}, {566685, 30, 0, 5191545, 0, -30}, ""},
        {"corner",
         [](Georeference& g) { g.sadr_meaning = "TL"; },
         {566700, 30, 0, 5191530, 0, -30},
         ""},
        {"bottom right",
         [](Georeference& g) { g.sadr_meaning = "BR"; },
         {566670, 30, 0, 5191560, 0, -30},
         ""},
        {"scaled, 10 m",
         [](Georeference& g) {
             g.sfax = g.sfay = 0.5;
             g.xorg = g.yorg = 1000;
             g.xhrs = g.yhrs = 10;
         },
         {284345, 10, 0, 2596770, 0, -10},
         ""},
        {"scan origin", [](Georeference& g) { g.scan_origin = "BL"; }, {}, "SCOR \"BL\""},
        {"INTR", [](Georeference& g) { g.sadr_meaning = "XX"; }, {}, "INTR \"XX\" is neither"},
        {"infinite", [](Georeference& g) { g.sadr_y = INFINITY; }, {}, "not finite"},
        {"huge", [](Georeference& g) { g.sfax = 1e308, g.sadr_x = 1e308; }, {}, "not finite"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Georeference g = duluth();
        c.change(g);
        const Result<GridPlacement> placed = placeGrid(g);
        if (*c.refusal == '\0') {
            ASSERT_TRUE(placed) << placed.message();
            EXPECT_EQ(placed->epsg, 26715);
            EXPECT_EQ(placed->geotransform, c.want);
        } else {
            ASSERT_FALSE(placed);
            EXPECT_NE(placed.message().find(c.refusal), std::string::npos) << placed.message();
        }
    }
}

}  // namespace
}  // namespace marlwood
