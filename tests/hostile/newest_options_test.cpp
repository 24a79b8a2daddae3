// Hostile use of the GeoTIFF output, the crops (--bbox, --centre and --extent), --size and
// --zone: the arithmetic that bounds them, then the built program run on DULUTH as a user would
// misuse it, under an address-space limit, into every kind of output and interrupted mid-write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "geo/crop.h"
#include "geo/window.h"
#include "grid/resample.h"
#include "platform/shared_library.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

const std::string kDuluth = std::string(MARLWOOD_TEST_DATA_DIR) + "/usgs/7172-duluth-mn/7172";

// ---- The arithmetic ----

TEST(NewestOptions, SizeCeilingFollowsTheSourceAndTheMemory) {
    const GridSize duluth{467, 323, 322};
    const std::uint64_t for_1000 = resampledBytes(resampledSize(duluth, 1000));
    struct Case {
        GridSize from;
        std::int32_t longest;
        std::uint64_t room;
        std::int32_t most;
        std::string message;  // part of the refusal; "" when the size is taken
    };
    const Case cases[] = {
        {duluth, 7472, 0, 7472, ""},
        {duluth, 7473, 0, 7472, "more than 16 times its points a side"},
        {duluth, 65535, 0, 7472, "--size 65535 would make 65535 x 45327 points (11.9 GB)"},
        {duluth, 1000, for_1000, 1000, ""},
        {duluth, 1000, for_1000 - 1, 999,
         "than the 3 MB of memory available hold; --size 999 fits, or a crop"},
        {duluth, 2, 1, 0, "the 1 MB of memory available hold no resampled grid"},
        {{1, 1, 0}, 16, 0, 16, ""},
        {{1, 1, 0}, 17, 0, 16, "of a grid of 1 x 1: more than 16 times"},
        {{0, 0, -1}, 17, 0, 16, "--size 16 is the most it takes"},
        {{5000, 4000, 3999}, 65535, 0, 65535, ""},
        {{65535, 1, 0}, 65535, 0, 65535, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from.rows) + " x " + std::to_string(c.from.columns) + " to " +
                     std::to_string(c.longest));
        EXPECT_EQ(largestResampledSide(c.from, c.room), c.most);
        const Status fits = resampledSizeProblem(c.from, c.longest, c.room);
        EXPECT_EQ(fits.ok(), c.message.empty());
        if (!fits) {
            EXPECT_NE(fits.message().find(c.message), std::string::npos) << fits.message();
        }
    }
}

// The square's sides stretched by (sx, sy), turned and moved: only the stretch counts.
TEST(NewestOptions, StretchOfAReprojectedOutline) {
    const std::vector<GroundPoint> square{{0, 0}, {100, 0}, {100, 100}, {0, 100}};
    struct Case {
        double sx, sy, turn, stretch;
    };
    const Case cases[] = {
        {1, 1, 0, 0}, {1, 1, 0.3, 0},        {1.02, 1.02, 0.1, 0.02}, {1 / 1.5, 1, 0, 1 / 3.},
        {2, 1, 0, 1}, {0.98, 1.01, 2, 0.02}, {NAN, 1, 0, INFINITY},   {INFINITY, 1, 0, INFINITY},
        {0, 1, 0, 1}};
    for (const Case& c : cases) {
        std::vector<GroundPoint> to;
        for (const GroundPoint& p : square) {
            const double x = p.x * c.sx, y = p.y * c.sy;
            to.push_back({x * std::cos(c.turn) - y * std::sin(c.turn) + 5e5,
                          x * std::sin(c.turn) + y * std::cos(c.turn) - 3e6});
        }
        const double stretch = largestStretch(square, to);
        EXPECT_TRUE(stretch == c.stretch || std::abs(stretch - c.stretch) < 1e-9)
            << c.sx << " x " << c.sy << ": " << stretch;
    }
    EXPECT_EQ(largestStretch(square, std::span(square).first(3)), INFINITY);  // points lost
    const std::vector<GroundPoint> collapsed{{0, 0}, {0, 0}, {100, 100}, {0, 100}};
    EXPECT_EQ(largestStretch(collapsed, collapsed), INFINITY);  // a side without length
}

TEST(NewestOptions, BoxesClippedToNearTheGrid) {
    using Box = PlaceCrop::Box;
    const Box grid{-92.13, 46.74, -91.99, 46.88};
    const Box none{0, 0, 0, 0};  // stands for nothing kept
    const std::pair<Box, Box> cases[] = {
        {{-92.1, 46.76, -92.05, 46.8}, {-92.1, 46.76, -92.05, 46.8}},
        {{-180, -90, 180, 90}, {-93.13, 45.74, -90.99, 47.88}},
        {{-95, 40, -92.1, 46.8}, {-93.13, 45.74, -92.1, 46.8}},
        {{-93.13, 45.74, -93.13, 45.74}, {-93.13, 45.74, -93.13, 45.74}},
        {{-100, 40, -99, 41}, none},
        {{-180, 89, 180, 90}, none},
        {{-90.9, 46, -90, 47}, none},
        {{NAN, 46, -92, 47}, none},
    };
    for (const auto& [box, kept] : cases) {
        const Box got = boxWithin(box, grid, 1).value_or(none);
        EXPECT_TRUE(std::abs(got.west - kept.west) + std::abs(got.south - kept.south) +
                        std::abs(got.east - kept.east) + std::abs(got.north - kept.north) <
                    1e-9)
            << box.west << "," << box.south << "," << box.east << "," << box.north;
    }
}

TEST(NewestOptions, ALibraryThatDoesNotLoadSaysWhy) {
    struct Case {
        std::string reason;  // dlerror()'s
        std::string said;
    };
    const Case cases[] = {
        {"", "this machine has no libproj.so.25 (Debian package libproj25) to place a crop with"},
        {"libproj.so.25: cannot open shared object file: No such file or directory",
         "this machine has no libproj.so.25 (Debian package libproj25) to place a crop with"},
        {"libproj.so.25: failed to map segment from shared object",
         "cannot load libproj.so.25 to place a crop with: libproj.so.25: failed to map segment "
         "from shared object"},
        {"libproj.so.25: file too short\nmore",
         "cannot load libproj.so.25 to place a crop with: "
         "libproj.so.25: file too short"},
    };
    for (const Case& c : cases) {
        const Error e = SharedLibrary::openProblem("libproj.so.25", "libproj25",
                                                   "to place a crop with", c.reason);
        EXPECT_EQ(e.message, c.said);
    }
}

// ---- The program ----

struct Ran {
    int status = -1;  // the exit status; -1 when ended by a signal
    int signal = 0;
    std::string out, err;
    // Problem lines on standard error.
    int errLines() const {
        int n = 0;
        for (char c : err) n += c == '\n';
        return n;
    }
};

// The program started in `dir` with `arguments`, standard output and error through pipes;
// `limit_kb` > 0 limits its address space (ulimit -v), `other` another of its resources.
struct Started {
    pid_t pid = -1;
    int out = -1, err = -1;
};

struct Limit {
    int resource = RLIMIT_AS;
    rlim_t value = 0;  // as setrlimit takes it: bytes, or a count
};

Started start(const fs::path& dir, const std::vector<std::string>& arguments, long limit_kb = 0,
              std::optional<Limit> other = std::nullopt) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        closefrom(STDERR_FILENO + 1);
        if (limit_kb > 0) {
            const rlimit limit{static_cast<rlim_t>(limit_kb) * 1024,
                               static_cast<rlim_t>(limit_kb) * 1024};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (other) {
            const rlimit limit{other->value, other->value};
            setrlimit(other->resource, &limit);
        }
        std::vector<char*> argv{const_cast<char*>(MARLWOOD_BINARY)};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (chdir(dir.c_str()) == 0) execv(MARLWOOD_BINARY, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    return {pid, out[0], err[0]};
}

// Reads both pipes to their end and waits; a run silent for five minutes is killed.
Ran finish(const Started& s) {
    Ran run;
    pollfd fds[2] = {{s.out, POLLIN, 0}, {s.err, POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    int idle = 0;
    for (int open = 2; open > 0 && idle < 3000;) {
        if (poll(fds, 2, 100) <= 0) {
            ++idle;
            continue;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[k]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0) close(p.fd);
    }
    int status = 0;
    if (idle >= 3000) kill(s.pid, SIGKILL);  // silent for five minutes: hung
    waitpid(s.pid, &status, 0);
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    return run;
}

Ran marlwood(const fs::path& dir, const std::vector<std::string>& arguments, long limit_kb = 0,
             std::optional<Limit> other = std::nullopt) {
    return finish(start(dir, arguments, limit_kb, other));
}

bool temporaryLeft(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() == ".part") return true;
    }
    return false;
}

std::vector<std::string> split(const std::string& words) {
    std::istringstream in(words);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Places, boxes, zones and sizes: a usage line and exit 2, or a line naming the source and
// exit 1 with nothing written, or a window of the data that the report names.
TEST(NewestOptions, PlacesZonesAndSizesRefusedOrClipped) {
    struct Case {
        std::string options;  // besides -o and the source
        int status;
        std::string said;  // in the report (exit 0) or the problem line
    };
    const std::string bad_box = "--bbox is WEST,SOUTH,EAST,NORTH";
    const std::string misses = "does not touch the grid (UTM zone 15 (EPSG:26715))";
    const std::string too_far = "its lengths would change by up to";
    const Case cases[] = {
        {"--bbox -92.1,46.76,-92.05,46.8", 0, "window 151 x 130 from row 279, column 66"},
        {"--bbox -93,46,-92.1,46.8", 0, "window 186 x 101 from row 281, column 0"},
        {"--bbox -180,-90,180,90", 0, "window 467 x 323 from row 0, column 0"},
        {"--bbox -92.06,46.8,-92.0599999,46.8000001", 0, "window 1 x 1 from row 279"},
        {"--bbox -100,40,-99,41", 1, "the box -100,40,-99,41 " + misses},
        {"--bbox -180,89,180,90", 1, misses},
        {"--bbox 170,-10,180,10", 1, misses},
        {"--bbox -92,46,-92.1,47", 2, bad_box},
        {"--bbox -92.1,47,-92,46", 2, bad_box},
        {"--bbox -92.06,46.8,-92.06,46.9", 2, bad_box},
        {"--bbox nan,46,-92,47", 2, bad_box},
        {"--bbox -inf,46,-92,47", 2, bad_box},
        {"--bbox -1e308,46,-92,47", 2, bad_box},
        {"--bbox -92.1,-91,-92,47", 2, bad_box},
        {"--bbox -181,46,-92,47", 2, bad_box},
        {"--bbox -92.1,46,-92", 2, bad_box},
        {"--centre 46.8,-92.06 --extent 3", 0, "window 100 x 100"},
        {"--centre 46.8,-92.06 --extent 10000", 0, "window 467 x 323 from row 0, column 0"},
        {"--centre 46.8,-92.06 --extent 1e-300", 0, "window 1 x 1 from row 279"},
        {"--centre 0,0 --extent 3", 1, "the square of 3 km around 0,0 " + misses},
        {"--centre -90,0 --extent 10000", 1, misses},
        {"--centre 90,-92.06 --extent 3", 1, misses},
        {"--centre 46.8,-92.06 --extent 0", 2, "--extent is a number of kilometres"},
        {"--centre 46.8,-92.06 --extent -1", 2, "--extent is a number of kilometres"},
        {"--centre 46.8,-92.06 --extent 1e308", 2, "--extent is a number of kilometres"},
        {"--centre 46.8,-92.06 --extent nan", 2, "--extent is a number of kilometres"},
        {"--centre 91,-92.06 --extent 3", 2, "--centre is LATITUDE,LONGITUDE"},
        {"--centre 46.8,-181 --extent 3", 2, "--centre is LATITUDE,LONGITUDE"},
        {"--centre 46.8,inf --extent 3", 2, "--centre is LATITUDE,LONGITUDE"},
        {"--centre 46.8,-92.06", 2, "--centre and --extent go together"},
        {"--size 65535", 1, "the same cells; --size 7472 is the most it takes"},
        {"--size 7473 --fill-voids", 1, "--size 7473 would make 7473 x 5169 points (155 MB)"},
        {"--centre 46.8,-92.06 --extent 0.001 --size 17", 1, "of a grid of 1 x 1"},
        {"--centre 46.8,-92.06 --extent 0.001 --size 16", 0, "resampled to 16 x 16"},
        {"--size 1", 2, "the size is a whole number from 2 to 65535"},
        {"--size 65536", 2, "the size is a whole number from 2 to 65535"},
        {"--merge --size 65535", 1, "--size 7472 is the most it takes"},
        {"--merge --bbox -180,-90,180,90", 0, "merged: window 467 x 323 from row 0, column 0"},
        {"--merge --bbox -100,40,-99,41", 1, "the merged area: the box -100,40,-99,41 " + misses},
        {"--merge --zone 0", 2, "the zone is a whole number from 1 to 60, not '0'"},
        {"--merge --zone 61", 2, "the zone is a whole number from 1 to 60, not '61'"},
        {"--merge --zone -1", 2, "the zone is a whole number from 1 to 60, not '-1'"},
        {"--merge --zone fifteen", 2, "the zone is a whole number from 1 to 60, not 'fifteen'"},
        {"--merge --zone 1", 1, "from zone 15 to zone 1 " + too_far + " 36.6 %"},
        {"--merge --zone 10", 1, too_far + " 6.87 %"},
        {"--merge --zone 12", 1, too_far + " 2.58 %"},
        {"--merge --zone 18", 1, too_far + " 2.09 %"},
        {"--merge --zone 60", 1, too_far},
        {"--merge --zone 31", 1, "UTM zone 31 on NAD27 has no EPSG code"},
        {"--merge --zone 13", 0, "reprojected from zone 15 to zone 13 and resampled"},
        {"--merge --zone 16", 0, "reprojected from zone 15 to zone 16 and resampled"},
        {"--zone 16", 0, "UTM zone 15 NAS laid onto EPSG:26716 at 30 m (491 x 358)"},
    };
    for (const std::string format : {"ter", "tif"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.options + " into ." + format);
            const TempDir dir;
            std::vector<std::string> arguments = split(c.options);
            for (const std::string& a : {std::string("-o"), "out." + format, kDuluth}) {
                arguments.push_back(a);
            }
            const Ran run = marlwood(dir.path(), arguments);
            EXPECT_EQ(run.status, c.status) << run.err;
            EXPECT_NE((c.status == 0 ? run.out : run.err).find(c.said), std::string::npos)
                << run.out << run.err;
            if (c.status == 0) {
                // Never an empty file: a header and a cell at least.
                EXPECT_GT(fs::file_size(dir / ("out." + format)), 52u);
                continue;
            }
            EXPECT_EQ(dir.entries(), 0u);  // nothing written
            // One line, and the usage hint.
            EXPECT_EQ(run.errLines(), c.status == 2 ? 2 : 1) << run.err;
        }
    }
}

// Under ulimit -v a run ends with one line and exit 1, or converts; never a crash, and nothing
// half-written is left.
TEST(NewestOptions, AddressSpaceLimitsEndInOneLine) {
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer reserves terabytes of shadow address space at start, so no ulimit -v
    // that tells anything can be met: the release build runs this table.
    GTEST_SKIP() << "under AddressSanitizer";
#endif
    const char* optionSets[] = {
        "--size 7000 -o a.ter",
        "--size 7000 -o a.tif",
        "--size 3000 --fill-voids --true-scale -o a.ter",
        "--centre 46.8,-92.06 --extent 3 --size 1500 -o a.tif",
        "--merge --zone 16 --size 3000 -o a.tif",
        "--merge --bbox -92.1,46.76,-92.05,46.8 -o a.ter",
        // Resampled as it decodes, a second thread decoding when one can be had.
        "--merge --size 3000 --true-scale -o a.ter",
        "--merge --bbox -92.1,46.76,-92.05,46.8 --size 200 -o a.tif",
    };
    for (const long limit_kb : {12000L, 30000L, 60000L, 120000L}) {
        for (const char* options : optionSets) {
            SCOPED_TRACE(std::string(options) + " under " + std::to_string(limit_kb) + " kB");
            const TempDir dir;
            std::vector<std::string> arguments = split(options);
            arguments.push_back(kDuluth);
            const Ran run = marlwood(dir.path(), arguments, limit_kb);
            EXPECT_EQ(run.signal, 0);
            ASSERT_TRUE(run.status == 0 || run.status == 1) << run.status << run.err;
            EXPECT_FALSE(temporaryLeft(dir.path()));
            // 136 MB never fit: refused with the figure, before allocating.
            const bool too_large = std::string(options).starts_with("--size 7000");
            EXPECT_TRUE(!too_large || run.err.find("--size 7000 would make 7000 x 4842 points") !=
                                          std::string::npos)
                << run.err;
            if (run.status == 0) continue;
            EXPECT_EQ(run.errLines(), 1) << run.err;
            EXPECT_EQ(dir.entries(), 0u);
        }
    }
}

// DULUTH's modules as a .tar.gz, made by tar as USGS archives were; empty without tar.
std::string duluthArchive() {
    const TempDir made;
    fs::create_directory(made / "in");
    for (const char* module : {"cel0", "ldef", "spdm", "ddsh", "iref", "rsdf", "xref", "ddom"}) {
        fs::copy_file(kDuluth + module + ".ddf", made / ("in/7172" + std::string(module) + ".ddf"));
    }
    const std::string tar = "tar -czf " + (made / "q.tar.gz") + " -C " + (made / "in") + " .";
    if (std::system(tar.c_str()) != 0) return {};
    return readFile(made / "q.tar.gz");
}

// Two archives merged as they decode on two threads, under every address-space limit from where
// no library loads to where all fits: each run converts or ends in lines of its own (one a
// source, or one for the merge), never by a signal or an abort.
TEST(NewestOptions, AddressSpaceSweepOfTwoThreads) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "under AddressSanitizer";
#endif
    const std::string gz = duluthArchive();
    if (gz.empty()) GTEST_SKIP() << "no tar here";
    int converted = 0;
    for (long limit_kb = 40000; limit_kb <= 100000; limit_kb += 1000) {
        SCOPED_TRACE(std::to_string(limit_kb) + " kB");
        const TempDir dir;
        writeFile(dir / "a.tar.gz", gz);
        writeFile(dir / "b.tar.gz", gz);
        const Ran run = marlwood(
            dir.path(), split("-q -j 2 --merge --size 2000 -o m.ter a.tar.gz b.tar.gz"), limit_kb);
        ASSERT_EQ(run.signal, 0);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << run.status << run.err;
        EXPECT_FALSE(temporaryLeft(dir.path()));
        if (run.status == 0) {
            ++converted;
            continue;
        }
        EXPECT_EQ(dir.entries(), 2u);
        std::istringstream lines(run.err);
        for (std::string line; std::getline(lines, line);) {
            // libarchive ends the process itself, with status 1 and a line of its own, when it
            // cannot have a few bytes for a member's name or its state: nothing is written by
            // then.
            EXPECT_TRUE(line.starts_with("marlwood: ") ||
                        line.starts_with("Fatal Internal Error in libarchive: "))
                << run.err;
        }
        EXPECT_LE(run.errLines(), 3) << run.err;
    }
    EXPECT_GT(converted, 0);  // the sweep reaches limits where it fits
}

// A source that is not read whole, or whose gzip trailer does not match its bytes, fails the run
// with one line and nothing written; so does a file over the size limit, with no temporary file
// left. Each of these once converted with voids or wrong cells, or died by SIGXFSZ.
TEST(NewestOptions, NothingLostToUnreadSourcesOrDamagedGzip) {
    struct Case {
        const char* what;
        std::string options;  // the sources last
        std::optional<Limit> limit;
        const char* said;
    };
    // Six archives of DULUTH: merged and resampled as it decodes, all six are open at once.
    const std::string six = "q0.tar.gz q1.tar.gz q2.tar.gz q3.tar.gz q4.tar.gz q5.tar.gz";
    const Limit few_files{RLIMIT_NOFILE, 7};
    const Limit small_files{RLIMIT_FSIZE, 400 * 1024};
    const Case cases[] = {
        {"archives that cannot be opened again", "--merge --size 300 -o m.ter " + six, few_files,
         "cel0.ddf cannot be read: the archive does not open again: Too many open files"},
        {"a wrong CRC-32, one archive", "-o a.ter crc.tar.gz", {}, "CRC-32"},
        {"a wrong CRC-32, merged whole", "--merge -o m.ter q0.tar.gz crc.tar.gz", {}, "CRC-32"},
        {"a wrong CRC-32, merged as it decodes",
         "--merge --size 300 -o m.ter q0.tar.gz crc.tar.gz",
         {},
         "CRC-32"},
        {"a wrong length, merged as it decodes",
         "--merge --size 300 -o m.ter q0.tar.gz long.tar.gz",
         {},
         "not as many as its trailer says"},
        {"a .ter over ulimit -f", "--size 2000 -o a.ter q0.tar.gz", small_files, "File too large"},
        {"a GeoTIFF over ulimit -f", "--size 2000 -o a.tif q0.tar.gz", small_files,
         "File too large"},
        {"a PNG over ulimit -f", "--size 2000 -o a.png q0.tar.gz", small_files, "File too large"},
        {"a merge over ulimit -f", "--merge --size 2000 -o m.ter q0.tar.gz q1.tar.gz", small_files,
         "File too large"},
    };
    const std::string gz = duluthArchive();
    if (gz.empty()) GTEST_SKIP() << "no tar here";
    // The trailer: CRC-32, then the length, each four bytes, little-endian.
    std::string crc = gz, length = gz;
    crc[crc.size() - 8] = static_cast<char>(crc[crc.size() - 8] ^ 0x01);
    length[length.size() - 4] = static_cast<char>(length[length.size() - 4] ^ 0x01);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizers' runtime reads files of its own as it checks, which a few descriptors
        // starve: the release build runs that row.
        if (c.limit && c.limit->resource == RLIMIT_NOFILE) continue;
#endif
        const TempDir dir;
        for (const char* name : {"q0", "q1", "q2", "q3", "q4", "q5"}) {
            writeFile(dir / (std::string(name) + ".tar.gz"), gz);
        }
        writeFile(dir / "crc.tar.gz", crc);
        writeFile(dir / "long.tar.gz", length);
        const Ran run = marlwood(dir.path(), split(c.options), 0, c.limit);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.errLines(), 1) << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        EXPECT_FALSE(temporaryLeft(dir.path()));
        EXPECT_EQ(dir.entries(), 8u);  // the sources alone
    }
}

// A GeoTIFF obeys the output rules of a .ter file: the same exit status and the same reason
// for every kind of target, and what stood there before is kept when nothing is written.
TEST(NewestOptions, GeoTiffOutputsFollowTheRulesOfTer) {
    struct Case {
        std::string target;  // -o, from the run's directory
        char made;           // what stands there first: 'f' a file, 'l' a link to nothing,
                             // 'r' a read-only folder, '-' nothing
        bool force;
        int status;
        std::string said;  // in the problem line
    };
    const Case cases[] = {
        {"x", 'f', false, 1, "x exists; -f replaces it"},
        {"x", 'f', true, 0, ""},
        {".", '-', true, 1, ". is a directory"},
        {"x", 'l', true, 1, "x is a link to nothing"},
        {"no/x", '-', false, 1, "no/x: No such file or directory"},
        {"/dev/full", '-', false, 1, "cannot write /dev/full: No space left on device"},
        {"-", '-', false, 0, ""},
        {"/dev/stdout", '-', false, 0, ""},
        {"ro/x", 'r', false, 1, "ro/x: Permission denied"},
    };
    for (const Case& c : cases) {
        if (c.made == 'r' && geteuid() == 0) {
            std::printf("passed over as root, who writes anywhere: %s\n", c.target.c_str());
            continue;
        }
        for (const std::string format : {"ter", "tif"}) {
            SCOPED_TRACE(c.target + " as ." + format);
            const TempDir dir;
            const std::string target = c.target[0] == '/' ? c.target : dir / c.target;
            if (c.made == 'f') writeFile(target, "old");
            if (c.made == 'l') fs::create_symlink(dir / "nowhere", target);
            if (c.made == 'r') fs::create_directory(dir / "ro");
            if (c.made == 'r') chmod((dir / "ro").c_str(), 0555);
            std::vector<std::string> arguments{"--format", format, "-o", c.target, kDuluth};
            if (c.force) arguments.push_back("-f");
            const Ran run = marlwood(dir.path(), arguments);
            EXPECT_EQ(run.status, c.status) << run.err;
            EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
            EXPECT_FALSE(temporaryLeft(dir.path()));
            const bool file = fs::is_regular_file(target);
            if (c.status != 0) {
                EXPECT_TRUE(!file || readFile(target) == "old");
                continue;
            }
            // Through a pipe the file's bytes alone, the report on standard error.
            const TempDir plain;
            ASSERT_EQ(marlwood(plain.path(), {"--format", format, "-o", "y", kDuluth}).status, 0);
            EXPECT_TRUE((file ? readFile(target) : run.out) == readFile(plain / "y"));
        }
    }
}

// SIGINT or SIGTERM while a large --size or a merge is being written: no temporary file is
// left, the file that stood under the output's name is intact, and the run ends by the signal.
TEST(NewestOptions, InterruptedWritesLeaveTheOldOutput) {
    struct Case {
        std::string options;
        int signal_number;
    };
    const Case cases[] = {
        {"--size 7400 -o out.ter", SIGINT},
        {"--size 7400 -o out.tif", SIGTERM},
        {"--size 7400 --true-scale --preview -o out.ter", SIGTERM},
        {"--merge --zone 16 --size 7000 -o out.ter", SIGTERM},
        {"--merge --size 7400 -o out.tif", SIGINT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const TempDir dir;
        std::vector<std::string> arguments = split(c.options);
        const std::string output = dir / arguments.back();
        writeFile(output, "old");
        arguments.push_back("-f");
        arguments.push_back(kDuluth);
        const Started started = start(dir.path(), arguments);
        ASSERT_GT(started.pid, 0);
        // The temporary file appears once the grid is ready to write; wait for it (a run that
        // ends first fails below).
        bool in_flight = false;
        for (int waited = 0; waited < 120000 && !in_flight; ++waited) {
            siginfo_t ended{};
            waitid(P_PID, static_cast<id_t>(started.pid), &ended, WEXITED | WNOHANG | WNOWAIT);
            if (ended.si_pid != 0) break;
            in_flight = temporaryLeft(dir.path());
            if (!in_flight) usleep(1000);
        }
        ASSERT_TRUE(in_flight) << "no temporary file appeared";
        kill(started.pid, c.signal_number);
        const Ran run = finish(started);
        EXPECT_EQ(run.signal, c.signal_number) << run.status << run.err;
        EXPECT_FALSE(temporaryLeft(dir.path()));
        EXPECT_EQ(readFile(output), "old");
    }
}

// The cells of a GeoTIFF as GDAL reads them (gdal_translate to XYZ); nothing without GDAL.
std::optional<std::vector<double>> gdalCells(const std::string& path) {
    FILE* pipe =
        popen(("gdal_translate -q -of XYZ '" + path + "' /vsistdout/ 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::vector<double> cells;
    double x = 0, y = 0, z = 0;
    while (std::fscanf(pipe, "%lf %lf %lf", &x, &y, &z) == 3) cells.push_back(z);
    if (pclose(pipe) != 0 || cells.empty()) return std::nullopt;
    return cells;
}

// Voids stay NoData in a GeoTIFF whatever else is asked for, and no valid cell is pulled
// towards the void value: every other cell lies within DULUTH's own elevations.
TEST(NewestOptions, VoidsStayNoDataInEveryCombination) {
    if (std::system("gdal_translate --version >/dev/null 2>&1") != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "GDAL (gdal-bin) is missing";
        GTEST_SKIP() << "GDAL is not installed (gdal-bin): no independent reader here";
    }
    struct Case {
        std::string options;
        bool voids;  // some NoData expected (DULUTH's edges); none once filled
    };
    const Case cases[] = {
        {"", true},
        {"--true-scale", true},
        {"--fill-voids", false},
        {"--size 200", true},
        {"--size 1500", true},
        {"--size 1500 --fill-voids", false},
        {"--true-scale --fill-voids --size 900", false},
        {"--bbox -92.2,46.7,-92.1,46.9", true},
        {"--bbox -92.2,46.7,-92.1,46.9 --size 400", true},
        {"--bbox -92.2,46.7,-92.1,46.9 --size 400 --fill-voids", false},
        {"--centre 46.8,-92.06 --extent 3 --size 700 --true-scale", false},
        {"--merge --zone 16", true},
        {"--merge --zone 14 --size 900", true},
        {"--merge --zone 16 --size 600 --fill-voids", false},
        {"--merge --zone 16 --bbox -92.2,46.7,-92.1,46.9 --true-scale", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const TempDir dir;
        std::vector<std::string> arguments = split(c.options);
        for (const std::string& a : {std::string("-o"), std::string("out.tif"), kDuluth}) {
            arguments.push_back(a);
        }
        const Ran run = marlwood(dir.path(), arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::optional<std::vector<double>> cells = gdalCells(dir / "out.tif");
        ASSERT_TRUE(cells.has_value());
        std::size_t no_data = 0;
        double lowest = INFINITY, highest = -INFINITY;
        for (const double v : *cells) {
            if (v == -32767) {
                ++no_data;
                continue;
            }
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
        }
        EXPECT_EQ(no_data > 0, c.voids) << no_data;
        EXPECT_GE(lowest, 183.49 - 1e-3);
        EXPECT_LE(highest, 448.67 + 1e-3);
    }
}

}  // namespace
}  // namespace marlwood
