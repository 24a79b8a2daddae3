// Native DEMs as GDAL writes and reads them: GDAL writes the DULUTH transfer as a .dem, and
// marlwood's reading of it (plain, with LF or CR LF after each record, gzipped) must give GDAL's
// value in every cell, placed by coordinates, and the cells of the transfer itself. Quad-shaped
// files from the test writer are held against GDAL's reading too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "conversation.h"
#include "files.h"
#include "native_dem_writer.h"
#include "common/text.h"
#include "oracle_support.h"
#include "pipeline/reader.h"
#include "source/transfer_source.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

struct Read {
    TransferMetadata metadata;
    DecodedGrid decoded;
};

// A source read in-process as a conversion reads it: placed, whole units.
Read readSource(const std::string& source) {
    Result<Input> found = inputFormats().find(source);
    if (!found) throw std::runtime_error(source + ": " + found.message());
    NoEvents quiet;
    Result<TransferMetadata> metadata = readMetadata(*found, MetadataReading::Strict, true, quiet);
    if (!metadata) throw std::runtime_error(source + ": " + metadata.message());
    Result<DecodedGrid> decoded =
        readGrid(*found, *metadata, std::nullopt, MetadataReading::Strict, false, quiet);
    if (!decoded) throw std::runtime_error(source + ": " + decoded.message());
    return {std::move(*metadata), std::move(*decoded)};
}

std::int32_t cell(const Read& read, std::int32_t r, std::int32_t c) {
    return read.decoded.grid[static_cast<std::size_t>(r)][c];
}

// Every cell of ours against GDAL's cell at the same ground point; GDAL's cells that ours does
// not reach must be void. Returns the cells that differ.
int differencesFromGdal(const Read& ours, const fs::path& dem) {
    const Raster gdal = gdalRead(dem);
    const GdalPlacement at = gdalPlacement(dem);
    const GeoTransform& g = ours.metadata.placement->geotransform;
    std::vector<bool> reached(gdal.values.size(), false);
    int differences = 0;
    for (std::int32_t r = 0; r < ours.metadata.size.rows; ++r) {
        for (std::int32_t c = 0; c < ours.metadata.size.columns; ++c) {
            const double x = g[0] + (c + 0.5) * g[1], y = g[3] + (r + 0.5) * g[5];
            const double column = (x - at.origin_x) / at.pixel_width - 0.5;
            const double line = (y - at.origin_y) / at.pixel_height - 0.5;
            const int gc = static_cast<int>(std::lround(column));
            const int gl = static_cast<int>(std::lround(line));
            EXPECT_NEAR(column, gc, 1e-6);
            EXPECT_NEAR(line, gl, 1e-6);
            if (gc < 0 || gl < 0 || gc >= gdal.width || gl >= gdal.height) {
                ADD_FAILURE() << "cell " << r << ", " << c << " lies outside GDAL's raster";
                return -1;
            }
            reached[static_cast<std::size_t>(gl) * gdal.width + gc] = true;
            // Voids as voids: the transfer marks some -32766 (fill), GDAL writes every one -32767.
            const double theirs = gdal.at(gl, gc);
            const std::int32_t mine = cell(ours, r, c);
            if (theirs != mine && !(theirs <= kVoidThreshold && mine <= kVoidThreshold)) {
                ++differences;
            }
        }
    }
    for (std::size_t i = 0; i < reached.size(); ++i) {
        if (!reached[i] && gdal.values[i] != kNoData) ++differences;
    }
    return differences;
}

void run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// GDAL's .dem of DULUTH, its elevation unit set to feet as the transfer's are (GDAL cannot know).
void writeDuluthDem(const fs::path& out, const std::string& options, const fs::path& catd) {
    run("gdal_translate -q -of USGSDEM " + options + " '" + catd.string() + "' '" + out.string() +
        "' >/dev/null 2>&1");
    std::string bytes = testsupport::readFile(out);
    ASSERT_EQ(bytes.substr(534, 6), "     2");
    bytes[539] = '1';
    testsupport::writeFile(out, bytes);
}

// GDAL's geographic .dem of the transfer warped to degrees on its own datum (NAD27), `step`
// degrees a cell.
void writeGeographicDem(const fs::path& out, const fs::path& catd, const std::string& step) {
    const std::string tif = out.string() + ".tif";
    run("gdalwarp -q -overwrite -t_srs EPSG:4267 -tr " + step + " " + step + " '" + catd.string() +
        "' '" + tif + "' >/dev/null 2>&1");
    run("gdal_translate -q -of USGSDEM '" + tif + "' '" + out.string() + "' >/dev/null 2>&1");
}

std::string withLineEnds(const std::string& bytes, const std::string& end) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += 1024) out += bytes.substr(at, 1024) + end;
    return out;
}

TEST(NativeDemAgainstGdal, GdalsDuluthDemReadsAsGdalAndTheTransferDo) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    const fs::path duluth = usgs / "7172-duluth-mn";
    TempDir tmp;
    const Read transfer = readSource((duluth / "7172").string());
    writeDuluthDem(tmp.path() / "default.dem", "-co PRODUCT=DEFAULT", duluth / "7172catd.ddf");
    // A header GDAL copies its fields from: one of the test writer's, another quad's name.
    testsupport::DemContents header = testsupport::quadShapedDem({0}, {3}, 1);
    header.name = "TEMPLATE QUAD";
    testsupport::writeFile(tmp.path() / "header.dem", testsupport::nativeDem(header));
    writeDuluthDem(tmp.path() / "template.dem", "-co TEMPLATE='" + tmp / "header.dem" + "'",
                   duluth / "7172catd.ddf");
    for (const char* written : {"default.dem", "template.dem"}) {
        SCOPED_TRACE(written);
        const fs::path plain = tmp.path() / written;
        const std::string bytes = testsupport::readFile(plain);
        const Read ours = readSource(plain.string());
        ASSERT_EQ(ours.metadata.size.rows, 467);
        ASSERT_EQ(ours.metadata.size.columns, 323);
        EXPECT_EQ(differencesFromGdal(ours, plain), 0);
        // The transfer's own cells, unit, posting and place.
        EXPECT_EQ(ours.metadata.unit_m.value_or(0), transfer.metadata.unit_m.value_or(-1));
        EXPECT_EQ(ours.metadata.posting_m, transfer.metadata.posting_m);
        EXPECT_EQ(ours.metadata.placement->epsg, transfer.metadata.placement->epsg);
        EXPECT_EQ(ours.metadata.placement->geotransform, transfer.metadata.placement->geotransform);
        EXPECT_EQ(ours.decoded.extremes.min_elevation, transfer.decoded.extremes.min_elevation);
        EXPECT_EQ(ours.decoded.extremes.max_elevation, transfer.decoded.extremes.max_elevation);
        int differences = 0;
        for (std::int32_t r = 0; r < 467; ++r) {
            for (std::int32_t c = 0; c < 323; ++c) {
                const std::int32_t mine = cell(ours, r, c), theirs = cell(transfer, r, c);
                differences +=
                    mine != theirs && !(isValidElevation(mine) == isValidElevation(theirs) &&
                                        !isValidElevation(mine));
            }
        }
        EXPECT_EQ(differences, 0);
        // The same file with line ends after each record, and gzipped (its name in capitals).
        const struct {
            const char* name;
            std::string bytes;
            bool gzip;
        } variants[] = {{"lf.dem", withLineEnds(bytes, "\n"), false},
                        {"crlf.dem", withLineEnds(bytes, "\r\n"), false},
                        {"packed.dem", bytes, true},
                        {"packed-crlf.dem", withLineEnds(bytes, "\r\n"), true}};
        for (const auto& v : variants) {
            SCOPED_TRACE(v.name);
            std::string path = tmp / v.name;
            testsupport::writeFile(path, v.bytes);
            if (v.gzip) {
                run("gzip -f '" + path + "'");
                fs::rename(path + ".gz", path + ".GZ");
                path += ".GZ";
            }
            const Read again = readSource(path);
            ASSERT_EQ(again.metadata.size.rows, 467);
            ASSERT_EQ(again.metadata.size.columns, 323);
            EXPECT_EQ(again.metadata.placement->geotransform,
                      ours.metadata.placement->geotransform);
            int changed = 0;
            for (std::int32_t r = 0; r < 467; ++r) {
                for (std::int32_t c = 0; c < 323; ++c)
                    changed += cell(again, r, c) != cell(ours, r, c);
            }
            EXPECT_EQ(changed, 0);
        }
    }
}

// Quads whose edges are off the lattice: each profile starts at its own northing. GDAL's raster
// is rounded outward; ours spans the points exactly.
TEST(NativeDemAgainstGdal, QuadShapedProfilesLieWhereGdalPutsThem) {
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const struct {
        std::vector<int> start_rows, lengths;
        double datum;
    } cases[] = {
        {{0, 1, 2, 3, 2, 1}, {400, 399, 398, 397, 398, 399}, 0},
        {{5, 3, 0, 0, 2}, {20, 150, 300, 147, 146}, 0},
        {{0, 0, 0}, {1, 2, 3}, 0},
        {{3, 2, 1, 0}, {170, 171, 316, 317}, 250},
    };
    for (const auto& c : cases) {
        testsupport::DemContents model = testsupport::quadShapedDem(c.start_rows, c.lengths, 500);
        for (auto& profile : model.profiles) {
            profile.datum = c.datum;
            profile.values[profile.values.size() / 2] = kNoData;  // a void in each
        }
        model.horizontal_datum = 4;
        const std::string path = tmp / "quad.dem";
        testsupport::writeFile(path, testsupport::nativeDem(model));
        const Read ours = readSource(path);
        SCOPED_TRACE(std::to_string(ours.metadata.size.rows) + " rows");
        EXPECT_EQ(ours.metadata.placement->epsg, 26915);  // NAD83 / UTM zone 15N
        EXPECT_EQ(differencesFromGdal(ours, path), 0);
    }
}

// The command line converts a native DEM as it converts the transfer it was made from, with
// every option, and merges it with transfers; what it cannot read it refuses in one line.
TEST(NativeDemAgainstGdal, CommandLineConvertsItAsTheTransfer) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    const fs::path duluth = usgs / "7172-duluth-mn";
    const std::string prefix = (duluth / "7172").string();
    TempDir tmp;
    writeDuluthDem(tmp.path() / "d.dem", "", duluth / "7172catd.ddf");
    writeDuluthDem(tmp.path() / "west.dem", "-srcwin 0 0 160 467", duluth / "7172catd.ddf");
    const struct {
        std::vector<std::string> options;
        std::vector<std::string> dems;
    } cases[] = {
        {{}, {tmp / "d.dem"}},
        {{"--true-scale"}, {tmp / "d.dem"}},
        {{"--fill-voids", "--preview"}, {tmp / "d.dem"}},
        {{"--size", "257"}, {tmp / "d.dem"}},
        {{"--bbox=-92.1,46.78,-92.03,46.84"}, {tmp / "d.dem"}},
        {{"--centre", "46.81,-92.06", "--extent", "3"}, {tmp / "d.dem"}},
        {{"--format", "tif"}, {tmp / "d.dem"}},
        {{"--true-scale", "--format", "tif"}, {tmp / "d.dem"}},
        {{"--merge"}, {tmp / "west.dem", prefix}},
        {{"--merge", "--true-scale"}, {prefix, tmp / "west.dem"}},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const std::string& o : c.options) shown += o + " ";
        SCOPED_TRACE(shown);
        std::vector<std::string> ours{"-q", "-f", "-o", tmp / "ours"};
        std::vector<std::string> theirs{"-q", "-f", "-o", tmp / "transfer"};
        ours.insert(ours.end(), c.options.begin(), c.options.end());
        theirs.insert(theirs.end(), c.options.begin(), c.options.end());
        ours.insert(ours.end(), c.dems.begin(), c.dems.end());
        theirs.push_back(prefix);
        const testsupport::CliRun a = testsupport::commandLine(ours);
        const testsupport::CliRun b = testsupport::commandLine(theirs);
        ASSERT_EQ(a.status, 0) << a.err;
        ASSERT_EQ(b.status, 0) << b.err;
        EXPECT_TRUE(testsupport::readFile(tmp / "ours") == testsupport::readFile(tmp / "transfer"));
        // The picture beside the terrain, when asked for, too.
        EXPECT_EQ(fs::exists(tmp / "ours.png"), fs::exists(tmp / "transfer.png"));
        if (fs::exists(tmp / "ours.png")) {
            EXPECT_TRUE(testsupport::readFile(tmp / "ours.png") ==
                        testsupport::readFile(tmp / "transfer.png"));
            fs::remove(tmp / "ours.png");
            fs::remove(tmp / "transfer.png");
        }
    }

    // Damaged files, and a geographic DEM on a datum no EPSG code names.
    writeGeographicDem(tmp / "geo.dem", duluth / "7172catd.ddf", "0.000833333");
    std::string geographic = testsupport::readFile(tmp / "geo.dem");
    geographic[891] = '7';
    testsupport::writeFile(tmp / "datum.dem", geographic);
    const std::string dem = testsupport::readFile(tmp / "d.dem");
    testsupport::writeFile(tmp / "cut.dem", dem.substr(0, dem.size() / 2 + 100));
    testsupport::writeFile(tmp / "text.dem.gz", dem.substr(0, 2048));
    const struct {
        std::string source;
        const char* line;
    } refused[] = {
        {tmp / "datum.dem",
         "record A: horizontal datum \"7\" is none of 1 (NAD27), 2 (WGS 72), 3 (WGS 84), "
         "4 (NAD83)"},
        {tmp / "cut.dem", "profile 162 gives 467 elevations, but the file ends after 146"},
        {tmp / "text.dem.gz", "is not gzip data"},
        {tmp / "none.dem", "no such DEM file"},
        {tmp.path().string(), "holds no SDTS DEM modules"},
    };
    for (const auto& r : refused) {
        const testsupport::CliRun run =
            testsupport::commandLine({"-q", "-f", "-o", tmp / "x.ter", r.source});
        EXPECT_EQ(run.status, 1) << r.source;
        EXPECT_EQ(testsupport::count(run.err, "\n"), 1u) << run.err;
        EXPECT_NE(run.err.find(r.line), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(tmp / "x.ter"));
}

// A geographic DEM is laid onto a UTM grid (the zone of its centre, NAD27 as its record A says)
// as GDAL warps the same file onto that grid, both bilinear.
TEST(NativeDemAgainstGdal, GeographicDemLiesWhereGdalWarpsItOntoTheSameGrid) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const struct {
        const char* step;  // degrees
        double posting;    // metres: 30 an arc-second
        std::size_t cells;
    } cases[] = {{"0.000833333333", 90, 10000}, {"0.000277777777778", 30, 100000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        const std::string dem = tmp / "geo.dem";
        writeGeographicDem(dem, usgs / "7172-duluth-mn" / "7172catd.ddf", c.step);
        const testsupport::CliRun ours =
            testsupport::commandLine({"-q", "-f", "-o", tmp / "ours.tif", dem});
        ASSERT_EQ(ours.status, 0) << ours.err;
        EXPECT_EQ(gdalEpsg(tmp / "ours.tif"), 26715);
        const GdalPlacement placed = gdalPlacement(tmp / "ours.tif");
        const Raster mine = gdalRead(tmp / "ours.tif");
        EXPECT_EQ(placed.pixel_width, c.posting);
        const double west = placed.origin_x, north = placed.origin_y;
        run("gdalwarp -q -overwrite -ot Float32 -wo XSCALE=1 -wo YSCALE=1 -t_srs EPSG:26715 "
            "-r bilinear -dstnodata -999999 -tr " +
            shownNumber(c.posting) + " " + shownNumber(c.posting) + " -te " + shownNumber(west) + " " +
            shownNumber(north - c.posting * mine.height) + " " + shownNumber(west + c.posting * mine.width) +
            " " + shownNumber(north) + " '" + dem + "' '" + tmp / "gdal.tif" + "' >/dev/null 2>&1");
        const Raster theirs = gdalRead(tmp / "gdal.tif");
        ASSERT_EQ(theirs.width, mine.width);
        ASSERT_EQ(theirs.height, mine.height);
        std::vector<double> differences;
        std::size_t void_differs = 0;
        for (std::size_t i = 0; i < mine.values.size(); ++i) {
            const bool a = mine.values[i] > -1000, b = theirs.values[i] > -1000;
            if (a != b) ++void_differs;
            if (a && b) differences.push_back(std::abs(mine.values[i] - theirs.values[i]));
        }
        ASSERT_GT(differences.size(), c.cells);
        std::sort(differences.begin(), differences.end());
        // Both sides interpolate bilinearly between the four nearest points, GDAL's kernel kept
        // at one cell (XSCALE, YSCALE) and its cells Float32, as marlwood's are (measured at 3"
        // and 1": median 0.025, 99 % within 0.85 and 1.0, largest 2.4 and 4.8, in the DEM's
        // unit; GDAL's wider kernel by default differs by up to 15).
        EXPECT_LT(differences[differences.size() / 2], 0.05);
        EXPECT_LT(differences[differences.size() * 99 / 100], 1.5);
        EXPECT_LT(differences.back(), 8.0);
        EXPECT_LT(void_differs, mine.values.size() / 1000);
    }
}

// A state plane DEM (Minnesota North, FIPS 2201, in US feet, on NAD27 and on NAD83) is laid onto
// UTM as GDAL warps the same file onto that grid, both bilinear over a plane of heights; a zone
// no system names gives one line.
TEST(NativeDemAgainstGdal, StatePlaneDemLiesWhereGdalWarpsIt) {
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const struct {
        int datum;
        int utm_epsg;
    } cases[] = {{1, 26715}, {4, 26915}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datum);
        testsupport::DemContents model;
        model.reference_system = 2;
        model.zone = 2201;
        model.ground_unit = 1;  // feet
        model.horizontal_datum = c.datum;
        model.dx = model.dy = 100;
        const double west = c.datum == 1 ? 2100000 : 2700000, south = 400000;
        for (int col = 0; col < 120; ++col) {
            testsupport::DemProfile p;
            p.x = west + 100 * col;
            p.y = south;
            for (int k = 0; k < 90; ++k) p.values.push_back(1000 + 2 * col + 3 * k);
            model.profiles.push_back(p);
        }
        const std::string dem = tmp / "sp.dem";
        testsupport::writeFile(dem, testsupport::nativeDem(model));
        const testsupport::CliRun ours =
            testsupport::commandLine({"-q", "-f", "-o", tmp / "ours.tif", dem});
        ASSERT_EQ(ours.status, 0) << ours.err;
        EXPECT_EQ(gdalEpsg(tmp / "ours.tif"), c.utm_epsg);
        const GdalPlacement placed = gdalPlacement(tmp / "ours.tif");
        const Raster mine = gdalRead(tmp / "ours.tif");
        EXPECT_EQ(placed.pixel_width, 30);  // 100 feet, to the nearest metre
        run("gdalwarp -q -overwrite -ot Float32 -wo XSCALE=1 -wo YSCALE=1 -t_srs EPSG:" +
            std::to_string(c.utm_epsg) + " -r bilinear -dstnodata -999999 -tr 30 30 -te " +
            shownNumber(placed.origin_x) + " " + shownNumber(placed.origin_y - 30.0 * mine.height) +
            " " + shownNumber(placed.origin_x + 30.0 * mine.width) + " " +
            shownNumber(placed.origin_y) + " '" + dem + "' '" + tmp / "gdal.tif" + "'");
        const Raster theirs = gdalRead(tmp / "gdal.tif");
        ASSERT_EQ(theirs.width, mine.width);
        ASSERT_EQ(theirs.height, mine.height);
        double worst = 0;
        std::size_t both = 0;
        for (std::size_t i = 0; i < mine.values.size(); ++i) {
            if (mine.values[i] <= -1000 || theirs.values[i] <= -1000) continue;
            ++both;
            // marlwood writes metres; GDAL keeps the DEM's feet.
            worst = std::max(worst, std::abs(mine.values[i] - theirs.values[i] * 0.3048));
        }
        // A plane is the same under any bilinear interpolation: only where each puts the cells
        // could differ (a cell's shift moves the heights by 0.6 m or more).
        EXPECT_GT(both, mine.values.size() / 2);
        EXPECT_LT(worst, 0.05) << "metres";
    }
    testsupport::DemContents unknown;
    unknown.reference_system = 2;
    unknown.zone = 5399;
    unknown.ground_unit = 1;
    unknown.profiles.push_back({});
    unknown.profiles.back().x = 100000;
    unknown.profiles.back().y = 100000;
    unknown.profiles.back().values = {1, 2};
    testsupport::writeFile(tmp / "unknown.dem", testsupport::nativeDem(unknown));
    const testsupport::CliRun refused =
        testsupport::commandLine({"-q", "-f", "-o", tmp / "x.tif", tmp / "unknown.dem"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("no state plane system is known for zone 5399 on NAD27 in feet"),
              std::string::npos)
        << refused.err;
}

}  // namespace
}  // namespace marlwood::oracle
