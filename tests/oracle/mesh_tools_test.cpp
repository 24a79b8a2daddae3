// Meshes against tools we did not write: admesh reads each STL solid (whole and tiled) as one
// closed part with no hole, no degenerate facet and no normal or edge to fix; the Khronos glTF
// validator finds no error and no warning in the glb, plain or textured.
#include <sys/wait.h>

#include <cstdio>
#include <regex>

#include "oracle_support.h"
#include "quad_terrain.h"
#include "test_data.h"

namespace marlwood::oracle {
namespace {

std::string run(const std::string& command, int& status) {
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return "";
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

// The figure after `label` and its colon in admesh's report (the first column: as read).
long admeshFigure(const std::string& report, const std::string& label) {
    std::smatch m;
    if (!std::regex_search(report, m, std::regex(label + R"(\s*:\s*(-?[0-9]+))"))) return -1;
    return std::stol(m[1]);
}

TEST(MeshAgainstTools, AdmeshFindsEachSolidClosed) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    int status = 0;
    run("admesh --help", status);
    if (status == 127) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "admesh is missing";
        GTEST_SKIP() << "admesh is not installed (Debian admesh): the STL is not checked by it";
    }
    TempDir tmp;
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    writeModules(tmp / "5300", buildModules(makeQuad(41, 61, CellFormat::Bi16, 30, "5300")));
    const std::vector<std::vector<std::string>> requests = {
        {"-o", tmp / "d.stl", duluth},
        {"--max-error", "0", "--z-scale", "4", "--base", "0.5", "-o", tmp / "full.stl", duluth},
        {"--tiles", "3x2", "--print-size", "300", "-o", tmp / "t.stl", duluth},
        {"--max-error", "0.2", "-o", tmp / "q.stl", tmp / "5300"},
    };
    const std::vector<std::vector<std::string>> solids = {
        {tmp / "d.stl"},
        {tmp / "full.stl"},
        {tmp / "t_x0_y0.stl", tmp / "t_x1_y0.stl", tmp / "t_x2_y0.stl", tmp / "t_x0_y1.stl",
         tmp / "t_x1_y1.stl", tmp / "t_x2_y1.stl"},
        {tmp / "q.stl"},
    };
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const CliRun made = commandLine(requests[i]);
        ASSERT_EQ(made.status, 0) << made.err;
        for (const std::string& solid : solids[i]) {
            SCOPED_TRACE(solid);
            const std::string report = run("admesh '" + solid + "'", status);
            ASSERT_EQ(status, 0) << report;
            EXPECT_NE(report.find("No holes need to be filled"), std::string::npos) << report;
            EXPECT_EQ(admeshFigure(report, "Number of parts"), 1) << report;
            EXPECT_EQ(admeshFigure(report, "Total disconnected facets"), 0) << report;
            EXPECT_EQ(admeshFigure(report, "Degenerate facets"), 0) << report;
            EXPECT_EQ(admeshFigure(report, "Edges fixed"), 0) << report;
            EXPECT_EQ(admeshFigure(report, "Facets reversed"), 0) << report;
            EXPECT_EQ(admeshFigure(report, "Backwards edges"), 0) << report;
            EXPECT_EQ(admeshFigure(report, "Normals fixed"), 0) << report;
            EXPECT_GT(admeshFigure(report, "Number of facets"), 0) << report;
        }
    }
}

TEST(MeshAgainstTools, GltfValidatorFindsNoErrorNorWarning) {
    MARLWOOD_REQUIRE_USGS_DATA(usgs);
    const std::string modules = MARLWOOD_NODE_MODULES;
    if (!std::filesystem::exists(modules + "/gltf-validator/package.json")) {
        GTEST_SKIP() << "gltf-validator is not installed in " << modules
                     << " (tools/test-all installs it from npm where npm can be reached)";
    }
    TempDir tmp;
    const std::string duluth = (usgs / "7172-duluth-mn/7172").string();
    // Plain at three errors, and textured by the hillshade.
    for (const std::vector<std::string>& options : std::vector<std::vector<std::string>>{
             {"--max-error", "1"}, {"--max-error", "0"}, {"--max-error", "15"}, {"--texture"}}) {
        SCOPED_TRACE(options.front() + " " + options.back());
        std::vector<std::string> arguments = {"-f", "-o", tmp / "d.glb", duluth};
        arguments.insert(arguments.begin(), options.begin(), options.end());
        const CliRun made = commandLine(arguments);
        ASSERT_EQ(made.status, 0) << made.err;
        int status = 0;
        const std::string report = run("NODE_PATH='" + modules + "' node '" + MARLWOOD_ORACLE_DIR +
                                           "/gltf-validate.cjs' '" + (tmp / "d.glb") + "'",
                                       status);
        ASSERT_EQ(status, 0) << report;
        EXPECT_EQ(report.rfind("errors 0 warnings 0 ", 0), 0u) << report;
    }
}

}  // namespace
}  // namespace marlwood::oracle
