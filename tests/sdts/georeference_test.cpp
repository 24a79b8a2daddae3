#include "sdts/georeference.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "quad_terrain.h"
#include "sdts_writer.h"
#include "source/transfer_source.h"
#include "test_data.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

// The modules a georeference is read from; the others are left unnamed.
TransferModules georeferenceModules(std::function<ModuleSource(const char*)> module) {
    TransferModules modules;
    modules.iref = module("iref.ddf");
    modules.ldef = module("ldef.ddf");
    modules.rsdf = module("rsdf.ddf");
    modules.xref = module("xref.ddf");
    modules.ddsh = module("ddsh.ddf");
    modules.ddom = module("ddom.ddf");
    return modules;
}

TransferModules modulesAt(const std::string& prefix) {
    return georeferenceModules([&](const char* suffix) { return ModuleSource(prefix + suffix); });
}

// What the two real transfers hold. DULUTH's modules are found through its prefix as the program
// finds them; BLACK FOREST has no CEL0, so no transfer is found and its modules are named here.
TEST(GeoreferenceRealTransfers, DuluthAndBlackForest) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const struct {
        const char* prefix;
        bool complete;
        double posting, sadr_x, sadr_y;
        const char* hdat;
        int zone;
        const char* unit;
        GroundPoint corner;  // for DULUTH, GDAL's origin (tests/oracle checks it)
    } cases[] = {
        {"7172-duluth-mn/7172", true, 30, 566700, 5191530, "NAS", 15, "FEET", {566685, 5191545}},
        {"3814-black-forest-co/3814",
         false,
         10,
         521610,
         4330710,
         "NAX",
         13,
         "METERS",
         {521605, 4330715}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix);
        const std::string prefix = (usgs / c.prefix).string();
        TransferModules modules = modulesAt(prefix);
        if (c.complete) {
            const FoundTransfer found = findTransfer(prefix);
            ASSERT_TRUE(found) << found.message();
            modules = found->modules;
        }
        const Result<Georeference> result = readGeoreference(modules);
        ASSERT_TRUE(result) << result.message();
        const Georeference& g = *result;
        EXPECT_EQ(g.sfax, 1);
        EXPECT_EQ(g.sfay, 1);
        EXPECT_EQ(g.xorg, 0);
        EXPECT_EQ(g.yorg, 0);
        EXPECT_EQ(g.xhrs, c.posting);
        EXPECT_EQ(g.yhrs, c.posting);
        EXPECT_EQ(g.sadr_x, c.sadr_x);
        EXPECT_EQ(g.sadr_y, c.sadr_y);
        EXPECT_EQ(g.scan_origin, "TL");
        EXPECT_EQ(g.sadr_meaning, "CE");
        EXPECT_EQ(g.rsnm, "UTM");
        EXPECT_EQ(g.hdat, c.hdat);
        EXPECT_EQ(g.zone, c.zone);
        EXPECT_EQ(g.unit, c.unit);
        // DULUTH writes them as INTEGER, BLACK FOREST as REAL (-32767.00000000).
        EXPECT_EQ(g.void_value, -32767);
        EXPECT_EQ(g.fill_value, -32766);
        EXPECT_EQ(g.firstCell().x, c.sadr_x);
        EXPECT_EQ(g.firstCell().y, c.sadr_y);
        ASSERT_TRUE(g.topLeftCorner());
        EXPECT_EQ(g.topLeftCorner()->x, c.corner.x);
        EXPECT_EQ(g.topLeftCorner()->y, c.corner.y);
    }
}

// The writer's modules held in memory, as an archive gives them.
TransferModules inMemory(const ts::ModuleSet& set) {
    return georeferenceModules([&](const char* suffix) {
        if (!set.contains(suffix)) return ModuleSource();
        return ModuleSource(std::string("7018") + suffix,
                            std::make_shared<const std::string>(set.at(suffix)));
    });
}

using Change = std::function<void(ts::Transfer&)>;
using Edit = std::function<void(ts::ModuleSet&)>;
const Change kAsWritten = [](ts::Transfer&) {};
const Edit kUnedited = [](ts::ModuleSet&) {};

// Replaces `from` by `to` of the same length (so no length or position changes) in one module.
Edit replaced(const std::string& suffix, const std::string& from, const std::string& to) {
    return [=](ts::ModuleSet& set) {
        std::string& module = set.at(suffix);
        const std::size_t at = module.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        ASSERT_EQ(from.size(), to.size());
        module.replace(at, from.size(), to);
    };
}

Result<Georeference> readWritten(const Change& change, const Edit& edit) {
    ts::Transfer t = ts::makeQuad(4, 3, ts::CellFormat::Bi16);
    change(t);
    ts::ModuleSet set = ts::buildModules(t);
    edit(set);
    return readGeoreference(inMemory(set));
}

// What the writer puts in comes out. Its SADR is the north-west posting inside the quad's
// bounding box: with the default corners, x 455101.85 and y 5013419.71 rounded in by a posting.
TEST(GeoreferenceSynthetic, WhatTheWriterWritesReadsBack) {
    const struct {
        const char* what;
        Change change;
        Edit edit;
        double posting, sadr_x, sadr_y;
        const char* rsnm;
        int zone;
        const char* hdat;
        const char* unit;
        std::optional<std::int32_t> void_value, fill_value;
    } cases[] = {
        {"as written", kAsWritten, kUnedited, 30, 455130, 5013390, "UTM", 15, "NAS", "METERS",
         -32767, -32766},
        {"10 m, BFP32, NAD83, zone 13, FEET",
         [](ts::Transfer& t) {
             t.spacing_m = 10;
             t.format = ts::CellFormat::Bfp32;
             t.zone = 13;
             t.datum = "NAX";
             t.units = "FEET";
         },
         kUnedited, 10, 455110, 5013410, "UTM", 13, "NAX", "FEET", -32767, -32766},
        {"other void and fill values",
         [](ts::Transfer& t) {
             t.void_value = -9999;
             t.fill_value = 0;
         },
         kUnedited, 30, 455130, 5013390, "UTM", 15, "NAS", "METERS", -9999, 0},
        {"no DDOM", kAsWritten, [](ts::ModuleSet& set) { set.erase("ddom.ddf"); }, 30, 455130,
         5013390, "UTM", 15, "NAS", "METERS", std::nullopt, std::nullopt},
        {"geographic coordinates: no zone", [](ts::Transfer& t) { t.reference_system = "GEO"; },
         replaced("xref.ddf",
                  "GEO\x1fNAS\x1f"
                  "15",
                  "GEO\x1fNAS83\x1f"),
         30, 455130, 5013390, "GEO", 0, "NAS83", "METERS", -32767, -32766},
        {"DDOM without the words that tell void from fill", kAsWritten,
         replaced("ddom.ddf", "Void area", "Empty are"), 30, 455130, 5013390, "UTM", 15, "NAS",
         "METERS", std::nullopt, -32766},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result<Georeference> result = readWritten(c.change, c.edit);
        ASSERT_TRUE(result) << result.message();
        const Georeference& g = *result;
        EXPECT_EQ(g.xhrs, c.posting);
        EXPECT_EQ(g.yhrs, c.posting);
        EXPECT_EQ(g.sadr_x, c.sadr_x);
        EXPECT_EQ(g.sadr_y, c.sadr_y);
        EXPECT_EQ(g.rsnm, c.rsnm);
        EXPECT_EQ(g.zone, c.zone);
        EXPECT_EQ(g.hdat, c.hdat);
        EXPECT_EQ(g.unit, c.unit);
        EXPECT_EQ(g.void_value, c.void_value);
        EXPECT_EQ(g.fill_value, c.fill_value);
    }
}

// Each module that is missing, damaged or holds what cannot be a georeference gives one line
// naming the module and what is wrong there.
TEST(GeoreferenceErrors, NameTheModuleAndWhatIsWrong) {
    const Edit cut_iref = [](ts::ModuleSet& set) { set.at("iref.ddf").resize(300); };
    const Edit huge_rsdf = [](ts::ModuleSet& set) {
        set.at("rsdf.ddf").append(std::size_t{1} << 20, ' ');
    };
    const struct {
        const char* what;
        Change change;
        Edit edit;
        std::string error;
    } cases[] = {
        {"no RSDF", kAsWritten, [](ts::ModuleSet& set) { set.erase("rsdf.ddf"); },
         "the transfer has no RSDF module"},
        {"no XREF", kAsWritten, [](ts::ModuleSet& set) { set.erase("xref.ddf"); },
         "the transfer has no XREF module"},
        {"IREF cut short", kAsWritten, cut_iref,
         "IREF module 7018iref.ddf: record 1 (byte 207): 151 bytes long, 93 left"},
        {"RSDF larger than a metadata module may be", kAsWritten, huge_rsdf,
         "RSDF module 7018rsdf.ddf: 7018rsdf.ddf holds more than 1048576 bytes"},
        {"YHRS no number", kAsWritten, replaced("iref.ddf", "30.00000000\x1e", "3O.00000000\x1e"),
         "IREF module 7018iref.ddf: field IREF: YHRS is no number: \"3O.00000000\""},
        // Values no quad can have: refused before any arithmetic, the number cut to a readable
        // length.
        {"posting 0", kAsWritten, replaced("iref.ddf", "30.00000000\x1f", "00.00000000\x1f"),
         "IREF module 7018iref.ddf: field IREF: XHRS 0 is not a posting (0.1 to 10000 ground "
         "units)"},
        {"posting 1E300", kAsWritten, replaced("iref.ddf", "30.00000000\x1f", "1.00000E300\x1f"),
         "IREF module 7018iref.ddf: field IREF: XHRS 1e+300 is not a posting (0.1 to 10000 "
         "ground units)"},
        {"posting 1E-300", kAsWritten, replaced("iref.ddf", "30.00000000\x1e", "1.0000E-300\x1e"),
         "IREF module 7018iref.ddf: field IREF: YHRS 1e-300 is not a posting (0.1 to 10000 "
         "ground units)"},
        {"scale 0", kAsWritten,
         replaced("iref.ddf",
                  "R\x1f"
                  "1.000",
                  "R\x1f"
                  "0.000"),
         "IREF module 7018iref.ddf: field IREF: SFAX 0 is not a positive scale factor (1e-9 to "
         "1e9)"},
        {"negative scale", kAsWritten,
         replaced("iref.ddf",
                  "R\x1f"
                  "1.000",
                  "R\x1f"
                  "-1.00"),
         "IREF module 7018iref.ddf: field IREF: SFAX -1 is not a positive scale factor (1e-9 to "
         "1e9)"},
        {"offset 1E300", kAsWritten,
         replaced("iref.ddf",
                  "0.00000000\x1f"
                  "3",
                  "1.0000E300\x1f"
                  "3"),
         "IREF module 7018iref.ddf: field IREF: YORG 1e+300 is not a ground offset (-1e8 to "
         "1e8)"},
        {"SADR X 1E21", kAsWritten, replaced("rsdf.ddf", "455130.00000000", "1.000000000E+21"),
         "RSDF module 7018rsdf.ddf: field SADR: X 1e+21 is not an internal coordinate (-1e15 to "
         "1e15)"},
        {"SADR Y -1E9", kAsWritten, replaced("rsdf.ddf", "5013390.00000000", "-1000000000.0000"),
         "RSDF module 7018rsdf.ddf: field SADR: Y -1000000000 places the first cell at "
         "-1000000000 (with SFAY 1 and YORG 0 of IREF module 7018iref.ddf), which is not a UTM "
         "northing (0 to 10000000 m)"},
        {"SADR renamed", kAsWritten,
         [](ts::ModuleSet& set) {
             std::string& rsdf = set.at("rsdf.ddf");
             for (std::size_t at = rsdf.find("SADR"); at != rsdf.npos; at = rsdf.find("SADR"))
                 rsdf.replace(at, 4, "SADQ");
         },
         "RSDF module 7018rsdf.ddf: no record holds a field SADR"},
        {"SADR Y blank", kAsWritten, replaced("rsdf.ddf", "5013390.00000000", std::string(16, ' ')),
         "RSDF module 7018rsdf.ddf: field SADR: Y is no number: \"                \""},
        {"INTR not described", kAsWritten, replaced("ldef.ddf", "!INTR", "!INTX"),
         "LDEF module 7018ldef.ddf: field LDEF: no subfield INTR"},
        {"HDAT empty", [](ts::Transfer& t) { t.datum = "   "; }, kUnedited,
         "XREF module 7018xref.ddf: field XREF: HDAT is empty"},
        {"ZONE no number", [](ts::Transfer& t) { t.zone = 1; },
         replaced("xref.ddf",
                  "NAS\x1f"
                  "1\x1e",
                  "NAS\x1fZ\x1e"),
         "XREF module 7018xref.ddf: field XREF: ZONE is no whole number: \"Z\""},
        {"an unknown unit", [](ts::Transfer& t) { t.units = "FURLONGS"; }, kUnedited,
         "DDSH module 7018ddsh.ddf: field DDSH: UNIT \"FURLONGS\" is neither METERS nor FEET"},
        {"a void value with a fraction", kAsWritten, replaced("ddom.ddf", "-32767", "-327.5"),
         "DDOM module 7018ddom.ddf: field DDOM: DVAL is no whole number: \"-327.5\""},
        {"a fill value beyond 32 bits", [](ts::Transfer& t) { t.format = ts::CellFormat::Bfp32; },
         replaced("ddom.ddf", "-32766.00000000", "-99999999999.00"),
         "DDOM module 7018ddom.ddf: field DDOM: DVAL is no whole number: \"-99999999999.00\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result<Georeference> result = readWritten(c.change, c.edit);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.message(), c.error);
    }
}

// Module names come from the command line and from archives; the error stays one line.
TEST(GeoreferenceErrors, OneLineWhateverTheModuleIsCalled) {
    TransferModules modules;
    modules.ddsh = "no\nsuch";
    const Result<Georeference> result = readGeoreference(modules);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.message(), "DDSH module no?such: cannot open no?such: No such file or directory");
}

// The origin of a north-up raster from the first cell, for each point INTR may name.
TEST(GeoreferenceCorner, FromEachIntracellPoint) {
    Georeference g;
    g.sfax = 2;
    g.xorg = 5;
    g.sfay = 1;
    g.yorg = -100;
    g.sadr_x = 10;   // x 25 on the ground
    g.sadr_y = 300;  // y 200
    g.xhrs = 10;
    g.yhrs = 20;
    g.scan_origin = "TL";
    const struct {
        const char* intr;
        std::optional<double> x, y;
    } cases[] = {
        {"CE", 20, 210}, {"TL", 25, 200}, {"TR", 15, 200},
        {"BL", 25, 220}, {"BR", 15, 220}, {"XX", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        g.sadr_meaning = c.intr;
        const std::optional<GroundPoint> corner = g.topLeftCorner();
        EXPECT_EQ(corner ? std::optional(corner->x) : std::nullopt, c.x) << c.intr;
        EXPECT_EQ(corner ? std::optional(corner->y) : std::nullopt, c.y) << c.intr;
    }
    g.sadr_meaning = "CE";
    g.scan_origin = "BL";
    EXPECT_FALSE(g.topLeftCorner());
}

}  // namespace
}  // namespace marlwood
