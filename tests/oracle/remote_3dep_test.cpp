// 3DEP products read from a server: a loopback server of our own (range_server.py) serves
// stand-in tiles, written by GDAL as COGs, in USGS's bucket layout. No test reaches the internet.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "conversation.h"
#include "fetch/remote_file.h"
#include "oracle_support.h"

namespace marlwood::oracle {
namespace {

namespace fs = std::filesystem;

constexpr int kSide = 1812, kOverlap = 6;  // 1800 cells of 2" a degree, 6 beyond each edge
constexpr double kCell = 1.0 / 1800;

fs::path tilePath(const fs::path& root, int north, int west) {
    char corner[32];
    std::snprintf(corner, sizeof corner, "n%02dw%03d", north, -west);
    return root / "StagedProducts/Elevation/13/TIFF/current" / corner /
           ("USGS_13_" + std::string(corner) + ".tif");
}

// A stand-in tile as USGS writes them (Float32 COG, DEFLATE with the floating-point predictor,
// -999999 NoData, EPSG:4269), of rolling ground that compresses as real ground does; or, `void`,
// of NoData alone.
void writeTile(const fs::path& root, int north, int west, bool void_tile = false) {
    const fs::path tif = tilePath(root, north, west);
    fs::create_directories(tif.parent_path());
    const std::string raw = tif.string() + ".bin", vrt = tif.string() + ".vrt";
    {
        std::ofstream out(raw, std::ios::binary);
        std::vector<float> row(kSide);
        for (int r = 0; r < kSide; ++r) {
            const double lat = north - (r - kOverlap + 0.5) * kCell;
            for (int c = 0; c < kSide; ++c) {
                const double lon = west + (c - kOverlap + 0.5) * kCell;
                row[c] =
                    void_tile
                        ? -999999.0f
                        : static_cast<float>(300 + 80 * std::sin(lon * 40) * std::cos(lat * 33) +
                                             20 * std::sin(lon * 300 + lat * 170));
            }
            out.write(reinterpret_cast<const char*>(row.data()), kSide * 4);
        }
    }
    std::ofstream(vrt) << std::setprecision(17) << "<VRTDataset rasterXSize=\"" << kSide
                       << "\" rasterYSize=\"" << kSide << "\"><SRS>EPSG:4269</SRS><GeoTransform>"
                       << west - kOverlap * kCell << "," << kCell << ",0,"
                       << north + kOverlap * kCell << ",0," << -kCell
                       << "</GeoTransform><VRTRasterBand dataType=\"Float32\" band=\"1\" "
                          "subClass=\"VRTRawRasterBand\"><NoDataValue>-999999</NoDataValue>"
                          "<SourceFilename relativeToVRT=\"0\">"
                       << raw << "</SourceFilename><ImageOffset>0</ImageOffset><PixelOffset>4"
                       << "</PixelOffset><LineOffset>" << kSide * 4
                       << "</LineOffset><ByteOrder>LSB</ByteOrder></VRTRasterBand></VRTDataset>";
    const std::string command =
        "gdal_translate -q -of COG -co COMPRESS=DEFLATE -co PREDICTOR=YES "
        "-co BLOCKSIZE=256 '" +
        vrt + "' '" + tif.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    fs::remove(raw);
    fs::remove(vrt);
}

// range_server.py on a free loopback port, stopped when this goes.
class Server {
  public:
    Server(const fs::path& root, const fs::path& dir, const std::string& mode) {
        const std::string script = std::string(MARLWOOD_ORACLE_DIR) + "/range_server.py";
        port_file_ = dir / ("port-" + mode);
        log_ = dir / ("log-" + mode);
        pid_ = fork();
        if (pid_ == 0) {
            execlp("python3", "python3", script.c_str(), "--root", root.c_str(), "--port-file",
                   port_file_.c_str(), "--log", log_.c_str(), "--mode", mode.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 200 && !fs::exists(port_file_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        std::ifstream(port_file_) >> port_;
    }
    ~Server() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    bool up() const { return port_ > 0; }
    // Requests answered and body bytes sent so far.
    std::pair<std::size_t, std::uint64_t> served() const {
        std::ifstream in(log_);
        std::string path;
        int status = 0;
        std::uint64_t bytes = 0, total = 0;
        std::size_t requests = 0;
        while (in >> path >> status >> bytes) {
            ++requests;
            total += bytes;
        }
        return {requests, total};
    }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    fs::path port_file_, log_;
};

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Remote3dep : public ::testing::Test {
  protected:
    void SetUp() override {
        MARLWOOD_REQUIRE_GDAL();
        if (std::system("python3 -c pass >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
        setenv("XDG_CACHE_HOME", (tmp / "cache").c_str(), 1);
        unsetenv("MARLWOOD_3DEP_URL");
    }
    void TearDown() override { unsetenv("XDG_CACHE_HOME"); }
    TempDir tmp;
};

// Across the meridian of 92 W: the two tiles either side, merged.
const std::string kBox = "-92.1,46.5,-91.9,46.6";

TEST_F(Remote3dep, ABoxFromTheServerIsTheLocalTilesConvertedByteForByte) {
    const fs::path root = tmp / "bucket";
    writeTile(root, 47, -93);
    writeTile(root, 47, -92);
    const std::uint64_t tile_bytes =
        fs::file_size(tilePath(root, 47, -93)) + fs::file_size(tilePath(root, 47, -92));
    const CliRun local =
        commandLine({"-q", "--merge", "--bbox", kBox, "-o", tmp / "local.tif",
                     tilePath(root, 47, -93).string(), tilePath(root, 47, -92).string()});
    ASSERT_EQ(local.status, 0) << local.err;
    Server server(root, tmp.path(), "normal");
    ASSERT_TRUE(server.up());
    const std::vector<std::string> remote = {"--bbox", kBox, "--3dep-url", server.url(), "3dep:13"};
    const auto run = [&](const std::string& out, std::vector<std::string> more) {
        more.insert(more.end(), {"-o", tmp / out});
        more.insert(more.end(), remote.begin(), remote.end());
        return commandLine(more);
    };
    const CliRun first = run("first.tif", {});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(bytesOf(tmp / "first.tif"), bytesOf(tmp / "local.tif"));
    const auto [requests, fetched] = server.served();
    // A box of a tenth of a degree: the tiles' headers and the blocks it draws on.
    EXPECT_LT(fetched, tile_bytes / 10) << fetched << " of " << tile_bytes;
    EXPECT_LE(requests, 10u);
    EXPECT_NE(first.out.find(std::to_string(fetched) + " bytes fetched"), std::string::npos)
        << first.out;

    // Again: all from the cache, the server asked nothing.
    const CliRun second = run("second.tif", {});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(server.served().first, requests);
    EXPECT_EQ(bytesOf(tmp / "second.tif"), bytesOf(tmp / "local.tif"));

    // --no-cache asks the server again (more often: what the cache would have held twice).
    const CliRun uncached = run("third.tif", {"--no-cache"});
    ASSERT_EQ(uncached.status, 0) << uncached.err;
    EXPECT_GE(server.served().first, 2 * requests);

    // A terrain of 100 points, 154 m (the tiles' 60 m, 2.5 times): their overviews of 906 cells
    // (120 m) are read, from the server as from the files.
    const CliRun coarse_local = commandLine(
        {"-q", "--merge", "--bbox", kBox, "--size", "100", "-o", tmp / "coarse-local.tif",
         tilePath(root, 47, -93).string(), tilePath(root, 47, -92).string()});
    ASSERT_EQ(coarse_local.status, 0) << coarse_local.err;
    const std::uint64_t before = server.served().second;
    const CliRun coarse = run("coarse.tif", {"-v", "--no-cache", "--size", "100"});
    ASSERT_EQ(coarse.status, 0) << coarse.err;
    EXPECT_EQ(bytesOf(tmp / "coarse.tif"), bytesOf(tmp / "coarse-local.tif"));
    EXPECT_NE(coarse.out.find("read at its overview of 906 x 906"), std::string::npos)
        << coarse.out;
    EXPECT_LT(server.served().second - before, fetched) << coarse.out;

    // On a terminal, a line of the bytes fetched, rewritten in place and cleared at the end;
    // none with -q.
    for (const bool quiet : {false, true}) {
        std::vector<std::string> more = {"--no-cache", "-o", tmp / "shown.tif", "-f"};
        if (quiet) more.push_back("-q");
        more.insert(more.end(), remote.begin(), remote.end());
        const CliRun shown = commandLine(more, true);
        ASSERT_EQ(shown.status, 0) << shown.err;
        EXPECT_EQ(shown.err.find("\r3dep:13: ") != std::string::npos, !quiet) << shown.err;
        EXPECT_EQ(shown.err.find(" MB fetched\033[K") != std::string::npos, !quiet) << shown.err;
        EXPECT_TRUE(quiet ? shown.err.empty() : endsWith(shown.err, "\r\033[K")) << shown.err;
    }

    // A tile replaced on the server (its ETag changes) after its length and ETag were cached:
    // refused once, read anew by the next run.
    const fs::path west_tile = tilePath(root, 47, -93);
    fs::last_write_time(west_tile, fs::last_write_time(west_tile) + std::chrono::hours(1));
    const std::vector<std::string> elsewhere = {
        "-q", "--bbox", "-92.05,46.2,-91.95,46.3", "--3dep-url", server.url(), "3dep:13", "-o"};
    std::vector<std::string> changed = elsewhere;
    changed.push_back(tmp / "changed.tif");
    const CliRun refused = commandLine(changed);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("changed on the server"), std::string::npos) << refused.err;
    const CliRun again = commandLine(changed);
    EXPECT_EQ(again.status, 0) << again.err;
}

TEST_F(Remote3dep, AMisbehavingServerIsOneLineAndNothingWritten) {
    const fs::path root = tmp / "bucket";
    writeTile(root, 47, -93);
    const std::string box = "-92.5,46.5,-92.4,46.6";  // one tile
    const CliRun local =
        commandLine({"-q", "--bbox", box, "-o", tmp / "local.tif", tilePath(root, 47, -93)});
    ASSERT_EQ(local.status, 0) << local.err;
    const struct {
        const char* mode;
        const char* line;  // empty: converted
    } cases[] = {
        {"lie", "the server sent bytes 1-65536 of"},
        {"truncate", "was cut short"},
        {"loop", "more than 5 redirects"},
        {"whole", "the server sent more than the 65536 bytes asked"},
        {"flaky", ""},  // 500, then the right answer: tried again
        {"stall", "the server stopped sending bytes 0-65535 for 1 s"},
    };
    // A stall is given up after this, once: not retried.
    setenv("MARLWOOD_STALL_SECONDS", "1", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        Server server(root, tmp.path(), c.mode);
        ASSERT_TRUE(server.up());
        const fs::path out = tmp / (std::string(c.mode) + ".tif");
        const auto started = std::chrono::steady_clock::now();
        const CliRun run = commandLine(
            {"-q", "--no-cache", "--bbox", box, "-o", out, "--3dep-url", server.url(), "3dep:13"});
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
        if (*c.line == '\0') {
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(bytesOf(out), bytesOf(tmp / "local.tif"));
            continue;
        }
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(count(run.err, "\n"), 1u) << run.err;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out));
    }
    unsetenv("MARLWOOD_STALL_SECONDS");
}

TEST_F(Remote3dep, ATileTheServerHasNotIsVoidUnlessNoneIsThere) {
    const fs::path root = tmp / "bucket", local_root = tmp / "local";
    writeTile(root, 47, -92);
    // The same box from local tiles, the absent one a tile of NoData: the whole box, void west.
    writeTile(local_root, 47, -93, true);
    writeTile(local_root, 47, -92);
    Server server(root, tmp.path(), "normal");
    ASSERT_TRUE(server.up());
    for (const bool fill : {false, true}) {
        SCOPED_TRACE(fill);
        std::vector<std::string> more;
        if (fill) more.push_back("--fill-voids");
        const std::string name = fill ? "filled" : "void";
        std::vector<std::string> remote = {
            "--bbox", kBox, "-o", tmp / (name + ".tif"), "--3dep-url", server.url(), "3dep:13"};
        remote.insert(remote.end(), more.begin(), more.end());
        const CliRun half = commandLine(remote);
        ASSERT_EQ(half.status, 0) << half.err;
        EXPECT_NE(half.out.find("USGS_13_n47w093.tif is not on the server"), std::string::npos)
            << half.out;
        std::vector<std::string> local = {"-q",
                                          "--merge",
                                          "--bbox",
                                          kBox,
                                          "-o",
                                          tmp / (name + "-local.tif"),
                                          tilePath(local_root, 47, -93).string(),
                                          tilePath(local_root, 47, -92).string()};
        local.insert(local.end(), more.begin(), more.end());
        const CliRun expected = commandLine(local);
        ASSERT_EQ(expected.status, 0) << expected.err;
        EXPECT_EQ(bytesOf(tmp / (name + ".tif")), bytesOf(tmp / (name + "-local.tif")));
    }

    const CliRun none = commandLine({"--bbox", "-95.1,46.5,-94.9,46.6", "-o", tmp / "none.tif",
                                     "--3dep-url", server.url(), "3dep:13"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(count(none.err, "\n"), 1u) << none.err;
    EXPECT_NE(none.err.find("none of the box's 2 tiles"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(tmp / "none.tif"));
}

// A run's ranges: each fetched once while held, fetched ahead when told, asked again once let go,
// and always the file's own bytes.
TEST_F(Remote3dep, ARunFetchesEachRangeOnceWhileItHoldsIt) {
    const fs::path root = tmp / "bucket";
    fs::create_directories(root);
    std::string content(1 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7919 >> 5);
    std::ofstream(root / "file.bin", std::ios::binary) << content;
    Server server(root, tmp.path(), "normal");
    ASSERT_TRUE(server.up());
    constexpr std::uint64_t kK = 1024;
    struct Step {
        bool told;  // `expect`ed to come next, not read
        std::uint64_t first, length;
    };
    const struct {
        const char* name;
        std::uint64_t held, ahead;
        std::vector<Step> steps;
        std::size_t requests;  // after the file's head
    } cases[] = {
        {"read twice", 64 << 20, 64 << 20, {{false, 200 * kK, 100 * kK}, {false, 220 * kK, 8}}, 1},
        {"told, then read",
         64 << 20,
         64 << 20,
         {{true, 300 * kK, 100 * kK},
          {true, 420 * kK, 50 * kK},
          {false, 300 * kK, 100 * kK},
          {false, 430 * kK, 10 * kK}},
         2},
        {"let go, asked again",
         250 * kK,
         64 << 20,
         {{false, 100 * kK, 100 * kK},
          {false, 400 * kK, 100 * kK},
          {false, 700 * kK, 100 * kK},
          {false, 100 * kK, 100 * kK}},
         4},
        {"too far ahead to fetch",
         64 << 20,
         10 * kK,
         {{true, 500 * kK, 100 * kK}, {false, 900 * kK, 10 * kK}, {false, 500 * kK, 100 * kK}},
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FetchSettings settings;
        settings.use_cache = false;
        settings.held_bytes = c.held;
        settings.ahead_bytes = c.ahead;
        beginFetchRun(settings);
        const auto before = server.served().first;
        Result<std::shared_ptr<RemoteFile>> file = openRemote(server.url() + "/file.bin");
        ASSERT_TRUE(file) << file.message();
        ASSERT_EQ((*file)->size(), content.size());
        for (const Step& step : c.steps) {
            if (step.told) {
                const ByteRange next{step.first, step.length};
                ASSERT_TRUE((*file)->expect({}, std::span(&next, 1)));
                continue;
            }
            std::string bytes(step.length, '\0');
            ASSERT_TRUE((*file)->read(
                step.first,
                std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size())));
            EXPECT_EQ(bytes, content.substr(step.first, step.length)) << step.first;
        }
        endFetchRun();
        EXPECT_EQ(server.served().first - before, 1 + c.requests);
    }
}

}  // namespace
}  // namespace marlwood::oracle
