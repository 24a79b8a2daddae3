// Meshes from the command line, in-process: what each format writes and reports, the options
// only a mesh takes, and shapes no mesh can be made of, each one line and nothing written.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "conversation.h"
#include "files.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace ts = testsupport;
namespace fs = std::filesystem;

std::uint32_t stlFacets(const std::string& path) {
    const std::string bytes = ts::readFile(path);
    std::uint32_t count = 0;
    if (bytes.size() >= 84) std::memcpy(&count, bytes.data() + 80, 4);
    EXPECT_EQ(bytes.size(), 84 + 50 * std::size_t{count}) << path;
    return count;
}

TEST(MeshCli, EachFormatWritesItsFilesAndSaysWhatItHolds) {
    ts::TempDir tmp;
    ts::writeModules(tmp / "7018", ts::buildModules(ts::makeQuad(41, 61, ts::CellFormat::Bi16)));
    const std::string source = tmp / "7018";
    ts::CliRun run = ts::commandLine({"-o", tmp / "a.stl", source});
    ASSERT_EQ(run.status, 0) << run.err;
    // The quad's voids are filled for a mesh without --fill-voids.
    EXPECT_NE(run.out.find(" filled) -> " + (tmp / "a.stl") + " (150 x "), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("every point within 1 m)"), std::string::npos) << run.out;
    const std::uint32_t simplified = stlFacets(tmp / "a.stl");
    run = ts::commandLine({"--max-error", "0", "-o", tmp / "full.stl", source});
    ASSERT_EQ(run.status, 0) << run.err;
    // The full grid's 2 x 40 x 60 triangles, two a border cell for the walls, the base's fan.
    EXPECT_EQ(stlFacets(tmp / "full.stl"), 2u * 40 * 60 + 3u * 2 * (40 + 60));
    EXPECT_LT(simplified, stlFacets(tmp / "full.stl"));

    run = ts::commandLine({"--tiles", "2x3", "-o", tmp / "t.stl", source});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("t_x0_y0.stl and 5 more tiles, each about 75 x "), std::string::npos)
        << run.out;
    for (const char* tile : {"t_x0_y0.stl", "t_x1_y0.stl", "t_x0_y2.stl", "t_x1_y2.stl"}) {
        EXPECT_GT(stlFacets(tmp / tile), 0u) << tile;
    }
    for (const char* format : {"glb", "obj"}) {
        const std::string file = tmp / (std::string("s.") + format);
        run = ts::commandLine({"-f", "-o", file, source});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(file + " + " + (tmp / "s.json")), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("textured"), std::string::npos) << run.out;
        const std::string json = ts::readFile(tmp / "s.json");
        EXPECT_NE(json.find("\"format\": \"" + std::string(format) + "\""), std::string::npos);
        EXPECT_NE(json.find("\"origin\": {\"easting\": "), std::string::npos) << json;
    }
}

// --texture: the glb holds the hillshade as a PNG of the grid's size, and says so.
TEST(MeshCli, TexturedGlb) {
    ts::TempDir tmp;
    ts::writeModules(tmp / "7018", ts::buildModules(ts::makeQuad(41, 61, ts::CellFormat::Bi16)));
    ts::CliRun run = ts::commandLine({"-f", "-o", tmp / "plain.glb", tmp / "7018"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = ts::commandLine({"-f", "--texture", "-o", tmp / "t.glb", tmp / "7018"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("every point within 1 m, textured)"), std::string::npos) << run.out;
    const std::string plain = ts::readFile(tmp / "plain.glb"),
                      textured = ts::readFile(tmp / "t.glb");
    const std::size_t png = textured.find("\x89PNG\r\n\x1a\n");
    ASSERT_NE(png, std::string::npos);
    EXPECT_EQ(plain.find("\x89PNG"), std::string::npos);
    EXPECT_NE(textured.find("IEND", png), std::string::npos);
    // The picture is the grid's size: IHDR's width and height, big-endian, after the signature.
    const auto word = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k)
            v = v << 8 | static_cast<unsigned char>(textured[at + k]);
        return v;
    };
    ASSERT_GT(textured.size(), png + 24);
    EXPECT_EQ(word(png + 16) * word(png + 20), 41u * 61u);
}

TEST(MeshCli, WhatNoMeshCanBeIsOneLineAndNothingWritten) {
    ts::TempDir tmp;
    ts::Transfer quad = ts::makeQuad(9, 9, ts::CellFormat::Bi16, 30, "7001");
    ts::Transfer empty = quad;
    empty.file_id = "7002";
    std::fill(empty.elevations.begin(), empty.elevations.end(), -32767);
    ts::Transfer one = empty;
    one.file_id = "7003";
    one.elevations[40] = 350;
    ts::Transfer thin = ts::makeQuad(1, 2, ts::CellFormat::Bi16, 30, "7004");
    for (const ts::Transfer* t : {&quad, &empty, &one, &thin}) {
        ts::writeModules(tmp / t->file_id, ts::buildModules(*t));
    }
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string line;  // in standard error
    };
    const std::vector<Case> cases = {
        {{"--print-size", "1e9", "-o", tmp / "x.stl", tmp / "7001"},
         2,
         "--print-size takes 10 to 10000"},
        {{"--max-error", "-1", "-o", tmp / "x.glb", tmp / "7001"}, 2, "--max-error takes 0 to"},
        {{"--base", "0", "-o", tmp / "x.stl", tmp / "7001"}, 2, "--base takes 0.5 to"},
        {{"--z-scale", "x", "-o", tmp / "x.stl", tmp / "7001"}, 2, "--z-scale takes"},
        {{"--print-size", "100", "-o", tmp / "x.glb", tmp / "7001"}, 2, "it goes with stl"},
        {{"--texture", "-o", tmp / "x.obj", tmp / "7001"}, 2, "it goes with glb"},
        {{"--max-error", "1", "-o", tmp / "x.tif", tmp / "7001"},
         2,
         "it goes with stl, glb or obj"},
        {{"--true-scale", "-o", tmp / "x.obj", tmp / "7001"}, 2, "a mesh is in metres"},
        {{"-o", "-", "--format", "glb", tmp / "7001"}, 2, "sidecar is named after its file"},
        {{"--tiles", "9x1", "-o", tmp / "x.stl", tmp / "7001"},
         2,
         "too few cells for so many solids"},
        {{"-o", tmp / "x.stl", tmp / "7002"}, 1, "no valid elevation to make a mesh of"},
        {{"-o", tmp / "x.glb", tmp / "7004"}, 2, "a mesh needs a grid of 2 x 2 points at least"},
    };
    for (const Case& c : cases) {
        const ts::CliRun run = ts::commandLine(c.arguments);
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments[1]);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
        for (const char* name : {"x.stl", "x.glb", "x.obj", "x.json", "x.tif"}) {
            EXPECT_FALSE(fs::exists(tmp / name)) << name;
        }
    }
    // One valid point fills the grid: a flat solid of two triangles, four walls and the base.
    const ts::CliRun run = ts::commandLine({"-o", tmp / "one.stl", tmp / "7003"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(stlFacets(tmp / "one.stl"), 2u + 3 * 4);
}

}  // namespace
}  // namespace marlwood
