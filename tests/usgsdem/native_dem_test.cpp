// The native DEM reader's byte-level parts, each a table, and whole files (written by the test
// writer, then damaged) read through the reader and the lattice.
#include "usgsdem/native_dem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "native_dem_writer.h"

namespace marlwood::usgsdem {
namespace {

using testsupport::DemContents;
using testsupport::nativeDem;
using testsupport::quadShapedDem;

TEST(NativeDemNumbers, FortranFieldsParseOrAreRefused) {
    const struct {
        const char* text;
        std::optional<double> real;
        std::optional<std::int64_t> integer;
    } cases[] = {
        {"   5.667000000000000D+05", 566700.0, std::nullopt},
        {"  -1.5d-01", -0.15, std::nullopt},
        {"0.300000E+01", 3.0, std::nullopt},
        {"  2.5e2 ", 250.0, std::nullopt},
        {"      ", 0.0, 0},
        {"", 0.0, 0},
        {"   -42", -42.0, -42},
        {"   +42", 42.0, 42},
        {"  0015", 15.0, 15},
        {"    1.", 1.0, std::nullopt},
        {"   .5D0", 0.5, std::nullopt},
        {"1 2", std::nullopt, std::nullopt},
        {"  1.5D", std::nullopt, std::nullopt},
        {"1..5", std::nullopt, std::nullopt},
        {"  abc ", std::nullopt, std::nullopt},
        {" +-5", std::nullopt, std::nullopt},
        {"    -", std::nullopt, std::nullopt},
        {"1.0D999", std::nullopt, std::nullopt},
        {"   nan", std::nullopt, std::nullopt},
        {"   inf", std::nullopt, std::nullopt},
        {"0x10", std::nullopt, std::nullopt},
        {"1234567890123456789", 1234567890123456789.0, std::nullopt},
        {"123456789012345678", 123456789012345678.0, 123456789012345678},
        {"  -32767", -32767.0, -32767},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<double> real = parseReal(c.text);
        ASSERT_EQ(real.has_value(), c.real.has_value());
        if (real) {
            EXPECT_NEAR(*real, *c.real, std::abs(*c.real) * 1e-15);
        }
        EXPECT_EQ(parseInteger(c.text), c.integer);
    }
}

TEST(NativeDemRecords, ElevationsSpanContinuationRecords) {
    const struct {
        std::int64_t i;
        std::int64_t record;
        std::size_t offset;
    } places[] = {{0, 0, 144},    {1, 0, 150}, {145, 0, 1014}, {146, 1, 0}, {147, 1, 6},
                  {315, 1, 1014}, {316, 2, 0}, {485, 2, 1014}, {486, 3, 0}, {65534, 385, 648}};
    for (const auto& p : places) {
        SCOPED_TRACE(p.i);
        const ElevationPlace place = elevationPlace(p.i);
        EXPECT_EQ(place.record, p.record);
        EXPECT_EQ(place.offset, p.offset);
    }
    const struct {
        const char* rest;
        std::size_t bytes;
    } ends[] = {{"", 0},         {"     1", 0}, {"\n     1", 1}, {"\r\n     1", 2},
                {"\r     1", 1}, {"\n\n", 1},   {"\r\r\n", 1}};
    for (const auto& e : ends) EXPECT_EQ(lineEndBytes(e.rest), e.bytes) << e.rest;
}

// The file read as the reader reads it, its points laid into a whole grid rendered row by row
// ("." void); or the line that refuses it.
std::string readAndRender(const std::string& bytes) {
    RecordReader reader;
    if (!reader.open("", std::make_shared<const std::string>(bytes))) return "no open";
    Result<NativeDem> dem = readNativeDem(reader);
    if (!dem) return dem.message();
    Result<Lattice> lattice = latticeOf(dem->a, dem->profiles);
    if (!lattice) return lattice.message();
    std::vector<std::vector<std::int32_t>> rows(
        static_cast<std::size_t>(lattice->rows),
        std::vector<std::int32_t>(static_cast<std::size_t>(lattice->columns), -32767));
    std::vector<std::int32_t*> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    const Status laid =
        layDown(*dem, *lattice, {0, 0, lattice->rows, lattice->columns}, false, -32767, pointers);
    if (!laid) return laid.message();
    std::string shown;
    for (const auto& row : rows) {
        for (const std::int32_t v : row) shown += v == -32767 ? "." : std::to_string(v % 10);
        shown += '/';
    }
    return shown;
}

TEST(NativeDemLattice, PointsArePlacedByTheirCoordinates) {
    const struct {
        std::vector<int> start_rows, lengths;
        const char* grid;
    } cases[] = {
        {{0, 0, 0}, {2, 2, 2}, "246/135/"},
        // A quad's edges off the lattice: profiles start at different northings.
        {{0, 1, 2}, {2, 2, 2}, "..6/.45/23./1../"},
        {{2, 0, 1}, {1, 3, 2}, "146/.35/.2./"},
        {{0}, {4}, "4/3/2/1/"},
        // Past the first record: 150 rows, the first column's one point at the bottom.
        {{0, 0}, {1, 150}, nullptr},
    };
    for (const auto& c : cases) {
        DemContents model = quadShapedDem(c.start_rows, c.lengths, 1);
        const std::string grid = readAndRender(nativeDem(model));
        if (c.grid == nullptr) {
            ASSERT_EQ(grid.size(), 150u * 3u) << grid;  // 150 rows of 2 cells and a '/'
            EXPECT_EQ(grid.substr(0, 6), ".1/.0/");     // values 151 and 150
            EXPECT_EQ(grid.substr(grid.size() - 3), "12/");
            continue;
        }
        EXPECT_EQ(grid, c.grid);
        // Line ends after each record change nothing.
        for (const char* end : {"\n", "\r\n"}) {
            model.line_end = end;
            EXPECT_EQ(readAndRender(nativeDem(model)), c.grid);
        }
    }
}

// Geographic DEMs: the lattice in arc-seconds, the points placed by them as a UTM DEM's are.
TEST(NativeDemLattice, GeographicPointsLieInArcSeconds) {
    const auto dem = [](int columns, int rows, double spacing, double west, double south) {
        return testsupport::geographicDem(columns, rows, spacing, west, south);
    };
    // The 1-degree series above 50 degrees north: profiles 6" apart, points 3".
    DemContents wide = dem(3, 2, 3, -150 * 3600, 60 * 3600);
    wide.dx = 6;
    for (std::size_t c = 0; c < wide.profiles.size(); ++c) wide.profiles[c].x = -540000 + 6.0 * c;
    // As GDAL writes one: profiles 2.9999988" apart, record A's spacing rounded to 2.999999".
    DemContents drifting = dem(120, 2, 2.999999, -331655.5190358089, 168299.3329237934);
    for (std::size_t c = 0; c < drifting.profiles.size(); ++c) {
        drifting.profiles[c].x = -331655.5190358089 + 2.9999988 * static_cast<double>(c);
    }
    // A profile that starts a point north of the others.
    DemContents ragged = dem(3, 2, 3, -93 * 3600, 46 * 3600);
    ragged.profiles[1].y += 3;
    const struct {
        const char* name;
        DemContents model;
        double west, north, dx, dy;
        std::int64_t rows, columns;
        const char* grid;  // each point's value modulo 10; nullptr: not shown
    } cases[] = {
        {"1-degree, 3\"", dem(3, 2, 3, -93 * 3600, 46 * 3600), -334800, 165603, 3, 3, 2, 3,
         "234/012/"},
        {"CDED, 0.75\"", dem(2, 3, 0.75, -75 * 3600, 45 * 3600), -270000, 162001.5, 0.75, 0.75, 3,
         2, "45/23/01/"},
        {"high latitude", wide, -540000, 216003, 6, 3, 2, 3, "234/012/"},
        {"drifting", drifting, -331655.5190358089, 168302.3329227934, 2.999999, 2.999999, 2, 120,
         nullptr},
        {"ragged", ragged, -334800, 165606, 3, 3, 3, 3, ".3./214/0.2/"},
        {"south of the equator", dem(2, 2, 1, 10, -7200), 10, -7199, 1, 1, 2, 2, "23/01/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordReader reader;
        ASSERT_TRUE(reader.open("", std::make_shared<const std::string>(nativeDem(c.model))));
        Result<NativeDem> read = readNativeDem(reader);
        ASSERT_TRUE(read) << read.message();
        EXPECT_EQ(read->a.reference_system, kGeographic);
        Result<Lattice> lattice = latticeOf(read->a, read->profiles);
        ASSERT_TRUE(lattice) << lattice.message();
        EXPECT_NEAR(lattice->west, c.west, 1e-6);
        EXPECT_NEAR(lattice->north, c.north, 1e-6);
        EXPECT_EQ(lattice->dx, c.dx);
        EXPECT_EQ(lattice->dy, c.dy);
        EXPECT_EQ(lattice->rows, c.rows);
        EXPECT_EQ(lattice->columns, c.columns);
        if (c.grid) {
            EXPECT_EQ(readAndRender(nativeDem(c.model)), c.grid);
        }
    }
}

TEST(NativeDemFile, DamagedFilesGetOneLine) {
    const auto with = [](std::function<void(DemContents&)> change) {
        DemContents model = quadShapedDem({0, 1, 2}, {2, 200, 2}, 1);
        change(model);
        return nativeDem(model);
    };
    const std::string good = with([](DemContents&) {});
    const auto patched = [&](std::size_t at, const std::string& text) {
        std::string bytes = good;
        bytes.replace(at, text.size(), text);
        return bytes;
    };
    const struct {
        std::string bytes;
        const char* line;  // the start of the line, or where it is found
    } cases[] = {
        {"", "is empty: no record A"},
        {good.substr(0, 1000), "record A is cut short"},
        {good.substr(0, 1024), "the file ends after 0 of the 3 profiles"},
        {good.substr(0, 2048 + 500), "profile 2 is cut short"},
        {good.substr(0, 3072), "profile 2 gives 200 elevations, but the file ends after 146"},
        {good.substr(0, 5120 - 1), "profile 3 is cut short"},
        {with([](DemContents& s) { s.reference_system = 0; }),
         "record A: ground unit 2; a geographic DEM gives arc-seconds (3)"},
        {with([](DemContents& s) { s.reference_system = 2; }),
         "record A: state plane zone 15 is not 101 to 5400"},
        {with([](DemContents& s) { s.reference_system = 7; }), "record A: planimetric reference"},
        {with([](DemContents& s) { s.zone = 61; }), "record A: UTM zone 61 is not 1 to 60"},
        {with([](DemContents& s) { s.ground_unit = 1; }), "record A: ground unit 1"},
        {with([](DemContents& s) { s.dx = 0; }), "record A: the posting 0 is not"},
        {with([](DemContents& s) { s.dz = 0; }), "record A: the z resolution 0"},
        {with([](DemContents& s) { s.profiles_in_a = 0; }), "record A gives 0 profiles"},
        {with([](DemContents& s) { s.profiles_in_a = 999999; }), "record A gives 999999 profiles"},
        {with([](DemContents& s) { s.profiles_in_a = 4; }), "the file ends after 3 of the 4"},
        {patched(162, "     x"), "record A: the zone \"     x\" (bytes 163-168) is not a number"},
        {patched(534, "  feet"), "record A: the elevation unit \"  feet\" (bytes 535-540)"},
        {patched(890, "x"), "record A: the horizontal datum \"x1\""},
        {patched(816, "  3.0D+0x  "), "record A: the x resolution"},
        {patched(1024 + 12, "    -1"), "profile 1 gives -1 elevations"},
        {patched(1024 + 12, "999999"), "profile 1 gives 999999 elevations"},
        {patched(1024 + 18, "     2"), "profile 1 gives 2 columns"},
        {patched(1024 + 24, "                 9.9D+99"),
         "profile 1: the ground coordinate 9.9e+99"},
        {patched(1024 + 24, "  x"), "profile 1: the first point's x"},
        {patched(1024 + 144, "  1.5 "), "profile 1: elevation 1 \"  1.5 \" is not a number"},
        {patched(2048 + 144 + 6, "\x01\x02    "), "profile 2: elevation 2 \"??    \""},
        {patched(3072 + 6, "    ab"), "profile 2: elevation 148 "},
        // Profile 2 says 600, but 200 follow: the blank fields after them are no elevations.
        {patched(2048 + 12, "   600"), "profile 2: elevation 201 \"      \" is not a number"},
        {patched(3072 + 1024 + 24, "   5.667010000000000D+05"), "profile 3 starts at 566701"},
        {patched(3072 + 1024 + 24, "   2.666700000000000D+06"), "the profiles span a grid of"},
        {patched(1024 + 72, "   1.000000000000000D+07"), "profile 1: the datum elevation"},
        {patched(1024 + 72, "   9.999999000000000D+05"), "profile 1: elevation 1 is beyond"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string line = readAndRender(c.bytes);
        EXPECT_NE(line.find(c.line), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
    // The undamaged file reads, and what follows its last profile (record C, anything) is left.
    EXPECT_EQ(readAndRender(good).find("profile"), std::string::npos);
    EXPECT_EQ(readAndRender(good + "junk"), readAndRender(good));
    // Fields only shown (level, pattern, rows, extremes) may hold anything.
    EXPECT_EQ(readAndRender(patched(144, "LEVEL?PATRN?").replace(738, 48, std::string(48, 'z'))),
              readAndRender(good));
}

TEST(NativeDemCells, ValuesAreHeldInWholeUnitsOrThousandths) {
    const struct {
        std::int32_t written;
        double datum, z;
        bool thousandths;
        std::optional<std::int32_t> cell;
    } cases[] = {
        {1234, 0, 1, false, 1234},
        {1234, 0, 1, true, 1234000},
        {12345, 0, 0.1, false, 1234},
        {12345, 0, 0.1, true, 1234500},
        {-5, 0, 0.1, false, 0},
        {-15, 0, 0.1, false, -1},
        {7, 100, 1, false, 107},
        {-32767, 100, 0.1, true, -9},
        {999999, 0, 1000, false, std::nullopt},
        {999999, 0, 1, true, 999999000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        EXPECT_EQ(cellValue(c.written, c.datum, c.z, c.thousandths, -9), c.cell);
    }
}

}  // namespace
}  // namespace marlwood::usgsdem
