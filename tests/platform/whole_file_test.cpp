#include "platform/whole_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <vector>

#include "files.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// Devices of our own, so that a fault here replaces nothing of the system's. Only root may make
// them: elsewhere the cases that need one are passed over.
constexpr unsigned kNullMinor = 3;
constexpr unsigned kFullMinor = 7;
void makeDevice(const std::string& path, unsigned minor) {
    if (mknod(path.c_str(), S_IFCHR | 0600, makedev(1, minor)) != 0) throw std::runtime_error(path);
}

const FileWriter kTerrain = [](std::ostream& out) { return bool(out << "terrain"); };

TEST(WholeFile, ReplacesOnlyRegularFilesAndSaysWhyItCannotWrite) {
    struct Case {
        const char* what;
        std::function<std::string(const TempDir&)> make;  // the output path
        const char* refusal;                              // empty: written
        std::function<bool(const TempDir&)> after;
    };
    const Case cases[] = {
        {"new file", [](const TempDir& d) { return d / "a.ter"; }, "",
         [](const TempDir& d) { return readFile(d / "a.ter") == "terrain"; }},
        {"regular file replaced",
         [](const TempDir& d) {
             writeFile(d / "a.ter", "old and longer");
             return d / "a.ter";
         },
         "", [](const TempDir& d) { return readFile(d / "a.ter") == "terrain"; }},
        {"the output name plus a suffix would pass 255 bytes",
         [](const TempDir& d) { return d / std::string(254, 'n'); }, "",
         [](const TempDir& d) { return readFile(d / std::string(254, 'n')) == "terrain"; }},
        {"a link at the old temporary name is not followed",
         [](const TempDir& d) {
             writeFile(d / "victim", "precious");
             for (int i = 0; i < 64; ++i) {
                 fs::create_symlink(d / "victim", d / ("a.ter.part" + std::to_string(i)));
             }
             return d / "a.ter";
         },
         "",
         [](const TempDir& d) {
             return readFile(d / "victim") == "precious" && readFile(d / "a.ter") == "terrain";
         }},
        {"link to a file: the target replaced, the link kept",
         [](const TempDir& d) {
             writeFile(d / "target", "old");
             fs::create_symlink("target", d / "a.ter");
             return d / "a.ter";
         },
         "",
         [](const TempDir& d) {
             return fs::is_symlink(d / "a.ter") && readFile(d / "target") == "terrain";
         }},
        {"link to a device: written in place",
         [](const TempDir& d) {
             makeDevice(d / "null", kNullMinor);
             fs::create_symlink("null", d / "a.ter");
             return d / "a.ter";
         },
         "",
         [](const TempDir& d) {
             return fs::is_symlink(d / "a.ter") && fs::is_character_file(d / "null");
         }},
        {"dangling link refused",
         [](const TempDir& d) {
             fs::create_symlink("nowhere", d / "a.ter");
             return d / "a.ter";
         },
         "a.ter: it is a link to nowhere, which does not exist",
         [](const TempDir& d) { return d.entries() == 1 && !fs::exists(d / "nowhere"); }},
        {"directory", [](const TempDir& d) { return d.path().string(); }, ": it is a directory",
         [](const TempDir& d) { return d.entries() == 0; }},
        {"missing directory", [](const TempDir& d) { return d / "no/a.ter"; },
         "no/a.ter: No such file or directory", [](const TempDir& d) { return d.entries() == 0; }},
        {"full device",
         [](const TempDir& d) {
             makeDevice(d / "full", kFullMinor);
             return d / "full";
         },
         "full: No space left on device",
         [](const TempDir& d) { return fs::is_character_file(d / "full"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        std::string path;
        try {
            path = c.make(dir);
        } catch (const std::runtime_error&) {
            continue;  // no devices made here
        }
        const Status status = writeWholeFile(path, kTerrain);
        if (*c.refusal == '\0') {
            EXPECT_TRUE(status.ok()) << status.message();
        } else {
            EXPECT_NE(status ? std::string::npos : status.message().find(c.refusal),
                      std::string::npos)
                << (status ? "written" : status.message());
        }
        EXPECT_TRUE(c.after(dir));
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            EXPECT_NE(entry.path().extension(), ".part") << "left behind: " << entry.path();
        }
    }
}

TEST(WholeFile, NamedPipeAndStandardOutputWrittenInPlace) {
    const TempDir dir;
    const std::string fifo = dir / "a.ter";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(writeWholeFile(fifo, kTerrain).ok());
    char got[16] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 7);
    EXPECT_STREQ(got, "terrain");
    close(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));

    const int saved = dup(STDOUT_FILENO);
    const int file = open((dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDOUT_FILENO);
    const Status status = writeWholeFile("-", kTerrain);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(file);
    EXPECT_TRUE(status.ok());
    EXPECT_EQ(readFile(dir / "stdout"), "terrain");
}

// A writer that gives up, runs out of memory or throws leaves the old file and no other.
TEST(WholeFile, AFailedWriterLeavesNothing) {
    const FileWriter writers[] = {
        [](std::ostream& out) { return static_cast<bool>(out << "half") && false; },
        [](std::ostream& out) -> bool {
            out << "half";
            throw std::bad_alloc();
        },
        [](std::ostream& out) -> bool {
            out << "half";
            throw std::runtime_error("no");
        },
    };
    for (const FileWriter& writer : writers) {
        const TempDir dir;
        writeFile(dir / "a.ter", "old");
        EXPECT_FALSE(writeWholeFile(dir / "a.ter", writer).ok());
        EXPECT_EQ(readFile(dir / "a.ter"), "old");
        EXPECT_EQ(dir.entries(), 1u);
    }
}

// A set of files is all written or none: a writer that fails at the Nth file, a name the
// directory cannot hold at the last rename, or a device among them leaves the old files as they
// were, none of the new ones and no temporary file.
TEST(WholeFile, ASetIsWrittenWholeOrNotAtAll) {
    const std::string too_long(256, 'n');
    struct Case {
        const char* what;
        std::vector<std::string> names;  // written in turn; "old" stands under the first two
        std::size_t failing;             // the writer that gives up; names.size(): none
        std::string refusal;             // empty: committed
    };
    const Case cases[] = {
        {"every file written", {"a", "b", "c"}, 3, ""},
        {"the third writer fails", {"a", "b", "c"}, 2, "cannot write"},
        {"the first writer fails", {"a", "b", "c"}, 0, "cannot write"},
        {"a name too long at the last rename", {"a", "b", "c", too_long}, 4, "File name too long"},
        {"a named pipe among them", {"a", "b", "pipe", "c"}, 4, "it is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        writeFile(dir / "a", "old");
        writeFile(dir / "b", "old");
        ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
        Status status;
        {
            FileSet set;
            for (std::size_t i = 0; i < c.names.size() && status.ok(); ++i) {
                status = set.add(dir / c.names[i], [&](std::ostream& out) {
                    return static_cast<bool>(out << "new") && i != c.failing;
                });
            }
            if (status.ok()) status = set.commit();
        }
        const std::string said = status.ok() ? "" : status.message();
        EXPECT_EQ(status.ok(), c.refusal.empty());
        EXPECT_NE(said.find(c.refusal), std::string::npos) << said;
        const std::string kept = c.refusal.empty() ? "new" : "old";
        EXPECT_EQ(readFile(dir / "a"), kept);
        EXPECT_EQ(readFile(dir / "b"), kept);
        EXPECT_EQ(fs::exists(dir / "c"), c.refusal.empty());
        EXPECT_EQ(dir.entries(), c.refusal.empty() ? 4u : 3u);  // the pipe, and no .part
    }
}

TEST(WholeFile, SameFileThroughLinksAndDotDot) {
    const TempDir dir;
    fs::create_directory(dir / "sub");
    writeFile(dir / "cel0.ddf", "x");
    writeFile(dir / "other", "x");
    fs::create_hard_link(dir / "cel0.ddf", dir / "hard");
    fs::create_symlink(dir / "cel0.ddf", dir / "soft");
    const std::string inputs[] = {dir / "other", dir / "cel0.ddf"};
    struct Case {
        std::string path;
        std::optional<std::size_t> input;
    };
    const Case cases[] = {
        {dir / "cel0.ddf", 1}, {dir / "hard", 1}, {dir / "soft", 1}, {dir / "sub/../cel0.ddf", 1},
        {dir / "other", 0},    {dir / "new", {}}, {dir / "sub", {}}};
    for (const Case& c : cases) {
        EXPECT_EQ(sameFileAs(c.path, inputs), c.input) << c.path;
    }
}

// A child process writing a file is stopped by a signal mid-write: the temporary file goes, and
// the child ends by that signal.
TEST(WholeFile, SignalsRemoveTheTemporaryFile) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal_number);
        const TempDir dir;
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        if (child == 0) {
            installSignalCleanup();
            (void)writeWholeFile(dir / "a.ter", [&](std::ostream& out) {
                out << "half" << std::flush;
                (void)!write(ready[1], "r", 1);
                for (;;) pause();
                return true;
            });
            _exit(0);
        }
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        close(ready[1]);
        EXPECT_EQ(dir.entries(), 1u);  // the temporary file, in flight
        kill(child, signal_number);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        EXPECT_EQ(dir.entries(), 0u);
    }
}

}  // namespace
}  // namespace marlwood
