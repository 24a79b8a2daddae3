// Crops by place against GDAL's: the window marlwood keeps against the windows gdal_translate
// -projwin and gdalwarp -te give for the same box or square. (That a window's cells are the
// transfer's is tests/cli/crop_test.cpp's proof.)
//
// GDAL 3.6 projects only two opposite corners of a box given in degrees: gdal_translate
// -projwin_srs the north-west and south-east ones, gdalwarp -te_srs the south-west and north-east
// ones. Either alone misses the other two corners, which lie further out where UTM's meridians
// lean (DULUTH is 1 degree east of zone 15's central meridian: 1.5 cells over a box 4 km high),
// so the window GDAL gives is the union of both. gdal_translate rounds a window's size to the
// nearest cell where marlwood keeps every cell the area reaches, and its edges bulge by under 2 m
// between the corners; for a square, gdal_translate takes the cell an offset falls in where
// marlwood centres the square on the nearest cells. Each edge may differ by one cell, never more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "cli/batch.h"
#include "geo/window.h"
#include "oracle_support.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "support/test_data.h"

namespace marlwood::oracle {
namespace {

std::string run(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return "";
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

// "W,S,E,N" as GDAL's -te wants it: "W S E N".
std::string spaced(std::string text) {
    std::replace(text.begin(), text.end(), ',', ' ');
    return text;
}

struct Edges {
    double top, left, bottom, right;  // in cells of the grid
};

// A raster GDAL wrote, in cells of the transfer's grid (`grid`: its placement).
Edges edgesOf(const std::string& path, const GdalPlacement& grid) {
    const GdalPlacement p = gdalPlacement(path);
    const std::string info = gdalInfo(path);
    const std::size_t at = info.find("Size is ");
    int width = 0, height = 0;
    if (at == std::string::npos ||
        std::sscanf(info.c_str() + at, "Size is %d, %d", &width, &height) != 2) {
        return {};
    }
    const double left = (p.origin_x - grid.origin_x) / grid.pixel_width;
    const double top = (p.origin_y - grid.origin_y) / grid.pixel_height;
    return {top, left, top + height * p.pixel_height / grid.pixel_height,
            left + width * p.pixel_width / grid.pixel_width};
}

TEST(CropAgainstGdal, WindowsWithinOneCell) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    MARLWOOD_REQUIRE_GDAL();
    TempDir tmp;
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    writeModules(tmp / "3030", buildModules(makeQuad(120, 100, CellFormat::Bfp32, 30, "3030")));
    const struct {
        std::string prefix;
        std::vector<double> area;  // W,S,E,N of a box, or latitude, longitude, kilometres
    } cases[] = {
        {duluth, {-92.1, 46.78, -92.05, 46.82}},
        {duluth, {-92.2, 46.84, -92.08, 46.9}},  // over the north-west corner
        {duluth, {-92.03, 46.7, -91.9, 46.76}},  // over the south-east corner
        {duluth, {46.8, -92.06, 3}},
        {duluth, {46.87, -92.0, 2.5}},  // over the north-east corner
        {tmp / "3030", {-93.5672754694296, 45.2666020389465, -93.5557591088476, 45.2710462032132}},
        {tmp / "3030", {45.2691893223591, -93.5605008767697, 1.23}},
    };
    double largest = 0;
    for (const auto& c : cases) {
        const auto& a = c.area;
        std::ostringstream text;
        for (const double v : a)
            text << (text.tellp() > 0 ? "," : "") << std::setprecision(15) << v;
        SCOPED_TRACE(c.prefix + " " + text.str());
        const bool box = a.size() == 4;
        const std::string catd = c.prefix + "catd.ddf", ter = tmp / "crop.ter";
        std::vector<std::string> arguments = {"-f", "-o", ter, c.prefix};
        if (box) {
            arguments.push_back("--bbox=" + text.str());
        } else {
            arguments.insert(arguments.end(),
                             {"--centre", std::to_string(a[0]) + "," + std::to_string(a[1]),
                              "--extent", std::to_string(a[2])});
        }
        std::ostringstream out, err;
        ASSERT_EQ(runCommandLine(arguments, out, err, false), 0) << err.str();
        const std::string report = out.str();
        const std::size_t at = report.find("window ");
        CellWindow ours;
        ASSERT_TRUE(at != std::string::npos &&
                    std::sscanf(report.c_str() + at, "window %d x %d from row %d, column %d",
                                &ours.rows, &ours.columns, &ours.first_row,
                                &ours.first_column) == 4)
            << report;

        const GdalPlacement grid = gdalPlacement(catd);
        const Edges whole = edgesOf(catd, grid);
        Edges gdal{};
        const std::string translated = tmp / "t.tif", warped = tmp / "w.tif";
        if (box) {
            run("gdal_translate -q -projwin_srs EPSG:4267 -projwin " + std::to_string(a[0]) + " " +
                std::to_string(a[3]) + " " + std::to_string(a[2]) + " " + std::to_string(a[1]) +
                " " + catd + " " + translated);
            // 1000 x 1000 pixels: the output's corners are the projected corners themselves.
            run("gdalwarp -q -overwrite -ts 1000 1000 -te_srs EPSG:4267 -te " + spaced(text.str()) +
                " " + catd + " " + warped);
            const Edges t = edgesOf(translated, grid), w = edgesOf(warped, grid);
            // The whole cells that hold both GDAL's rectangles, clipped to the grid.
            gdal = {std::max(0.0, std::floor(std::min(t.top, w.top))),
                    std::max(0.0, std::floor(std::min(t.left, w.left))),
                    std::min(whole.bottom, std::ceil(std::max(t.bottom, w.bottom))),
                    std::min(whole.right, std::ceil(std::max(t.right, w.right)))};
            // marlwood holds the corners gdalwarp projected, exactly.
            EXPECT_LE(ours.first_row, std::max(0.0, std::floor(w.top)));
            EXPECT_GE(ours.first_row + ours.rows, std::min(whole.bottom, std::ceil(w.bottom)));
        } else {
            std::istringstream centre(run("echo " + std::to_string(a[1]) + " " +
                                          std::to_string(a[0]) + " | gdaltransform -s_srs " +
                                          "EPSG:4267 -t_srs EPSG:26715 -output_xy"));
            double x = 0, y = 0;
            ASSERT_TRUE(centre >> x >> y);
            const double half = a[2] * 500;
            run("gdal_translate -q -projwin " + std::to_string(x - half) + " " +
                std::to_string(y + half) + " " + std::to_string(x + half) + " " +
                std::to_string(y - half) + " " + catd + " " + translated);
            // GDAL keeps the part outside the grid as NoData; marlwood clips it.
            const Edges t = edgesOf(translated, grid);
            gdal = {std::max(0.0, t.top), std::max(0.0, t.left), std::min(whole.bottom, t.bottom),
                    std::min(whole.right, t.right)};
        }
        const double differences[] = {ours.first_row - gdal.top, ours.first_column - gdal.left,
                                      ours.first_row + ours.rows - gdal.bottom,
                                      ours.first_column + ours.columns - gdal.right};
        std::printf("%s %s: top, left, bottom, right %+g %+g %+g %+g cells\n",
                    box ? "box" : "square", text.str().c_str(), differences[0], differences[1],
                    differences[2], differences[3]);
        for (const double d : differences) {
            EXPECT_LE(std::abs(d), 1);
            largest = std::max(largest, std::abs(d));
        }
    }
    std::printf("largest difference from GDAL's window at an edge: %g cells\n", largest);
}

}  // namespace
}  // namespace marlwood::oracle
