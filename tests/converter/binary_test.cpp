// The built program, as a user runs it: through a pipe, and on a terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "files.h"
#include "sdts_writer.h"
#include "temp_dir.h"
#include "transcript.h"

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace marlwood {
namespace {

namespace ts = testsupport;

ts::Transfer smallTransfer() {
    ts::Transfer t;
    t.rows = 4;
    t.columns = 5;
    for (int i = 0; i < 20; ++i) t.elevations.push_back(100 + i * 10);
    t.layout = ts::Cel0Layout::RThenLeaderless;
    return t;
}

#ifndef _WIN32
TEST(Binary, ScriptedThroughAPipe) {
    ts::TempDir dir;
    ts::writeModules(dir / "7018", ts::buildModules(smallTransfer()));
    // A wrong prefix first; keys are plain input characters.
    ts::writeFile(dir / "input", std::string("k") + (dir / "7019") + "\n" + (dir / "7018") +
                                     "\nx\n30\n" + (dir / "out.ter") + "\nk");
    const std::string command = std::string("'") + MARLWOOD_BINARY + "' < '" + (dir / "input") +
                                "' > '" + (dir / "transcript") + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string transcript = ts::readFile(dir / "transcript");
    const std::string expected_start =
        std::string(kBanner) + kPrefixPrompt + "**Cannot open" + (dir / "7019") +
        "cel0.ddf**\nPlease try again.\n\n" + kPrefixPrompt +
        "Input the elevation scale factor (try 30)....  "
        "Please type a whole number from -32768 to 32767.\n"
        "Input the elevation scale factor (try 30)....  integer is:  30\n"
        "min_rows_cols is:  3\n\nDetected 30m file type.  \n\ncomputing.....\n"
        "data_elements is:  2\n\ncomputing.....\n\n\nmax_elevation is:  290\n"
        "min_elevation is:  100\n\n";
    EXPECT_EQ(transcript.substr(0, expected_start.size()), expected_start);
    const std::string expected_end = std::string(kOutputPrompt) + kClosing;
    ASSERT_GE(transcript.size(), expected_end.size());
    EXPECT_EQ(transcript.substr(transcript.size() - expected_end.size()), expected_end);
    EXPECT_EQ(ts::readFile(dir / "out.ter").size(), 52u + 2 * 20);

    // Standard input closed at once: abandoned, exit status 1, no hang.
    const std::string closed = std::string("'") + MARLWOOD_BINARY + "' < /dev/null > /dev/null";
    const int closed_status = std::system(closed.c_str());
    ASSERT_TRUE(WIFEXITED(closed_status));
    EXPECT_EQ(WEXITSTATUS(closed_status), 1);
}

// Drives the program on a pseudo-terminal, as a person at a keyboard would.
class Terminal {
  public:
    Terminal() {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            execl(MARLWOOD_BINARY, MARLWOOD_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    bool started() const { return pid_ > 0; }
    void type(const std::string& keys) {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // Reads until `text` has appeared in the screen output (or 10 s pass); true when it did.
    bool waitFor(const std::string& text, int milliseconds = 10000) {
        for (int waited = 0; screen_.find(text, seen_) == std::string::npos;) {
            if (!readSome(100)) {
                waited += 100;
                if (waited >= milliseconds) return false;
            }
        }
        seen_ = screen_.find(text, seen_) + text.size();
        return true;
    }
    // True when nothing but `allowed` arrived in the given time.
    std::string drain(int milliseconds) {
        const std::size_t from = screen_.size();
        while (readSome(milliseconds)) {
        }
        return screen_.substr(from);
    }
    int exitStatus() {
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& screen() const { return screen_; }

  private:
    bool readSome(int milliseconds) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, milliseconds) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;
        screen_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string screen_;
    std::size_t seen_ = 0;
};

TEST(Binary, SingleKeysOnATerminal) {
    ts::TempDir dir;
    ts::writeModules(dir / "7018", ts::buildModules(smallTransfer()));
    Terminal terminal;
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.waitFor("  Press any key to continue"));
    terminal.type("q");  // one key, no Enter
    ASSERT_TRUE(terminal.waitFor("for example: c:\\7018\r\n\r\n"));
    const std::string after_key = terminal.drain(200);
    EXPECT_EQ(after_key.find('q'), std::string::npos) << "the key was echoed";
    terminal.type(dir / "7018" + "\n30\n" + (dir / "out.ter") + "\n");
    ASSERT_TRUE(terminal.waitFor("Press any key to continue\r\n"));
    // The closing wait needs its own key: without one the program does not end.
    EXPECT_EQ(terminal.drain(300).find("Done"), std::string::npos);
    terminal.type("z");
    ASSERT_TRUE(terminal.waitFor("Done\r\n"));
    EXPECT_EQ(terminal.exitStatus(), 0);
    EXPECT_EQ(ts::readFile(dir / "out.ter").size(), 52u + 2 * 20);
}
#endif

}  // namespace
}  // namespace marlwood
