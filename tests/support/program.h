// The built program (MARLWOOD_BINARY) as a user runs it: through pipes, where every key is one
// character of input, or on a terminal, where a single key counts without Enter. It starts in
// `dir`, so typed paths may be relative to it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "conversation.h"

namespace marlwood::testsupport {

class Program {
  public:
    enum Console { Pipes, Terminal };

    explicit Program(const std::filesystem::path& dir, Console console = Pipes) {
        int in[2] = {-1, -1};
        int out[2] = {-1, -1};
        std::string terminal;
        if (console == Pipes) {
            if (pipe(in) != 0 || pipe(out) != 0) return;
            input_ = in[1];
            output_ = out[0];
            signal(SIGPIPE, SIG_IGN);  // typing to a program that has ended fails, not the test
        } else {
            input_ = output_ = posix_openpt(O_RDWR | O_NOCTTY);
            if (output_ < 0 || grantpt(output_) != 0 || unlockpt(output_) != 0) return;
            terminal = ptsname(output_);
        }
        pid_ = fork();
        if (pid_ == 0) {
            if (console == Terminal) {
                setsid();  // the terminal opened next becomes the controlling one
                in[0] = out[1] = open(terminal.c_str(), O_RDWR);
                dup2(out[1], STDERR_FILENO);
            }
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            closefrom(STDERR_FILENO + 1);
            if (chdir(dir.c_str()) == 0) execl(MARLWOOD_BINARY, MARLWOOD_BINARY, nullptr);
            _exit(127);
        }
        if (console == Pipes) {
            close(in[0]);
            close(out[1]);
        }
    }
    ~Program() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        endInput();
        if (output_ >= 0) close(output_);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0; }
    bool type(std::string_view keys) {
        return write(input_, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }
    // Closes standard input (through pipes; a terminal stays open).
    void endInput() {
        if (input_ >= 0 && input_ != output_) close(input_);
        if (input_ != output_) input_ = -1;
    }
    // Reads until `text` has appeared in the output after what earlier calls found (or the time
    // is up); true when it did.
    bool waitFor(const std::string& text, int milliseconds = 10000) {
        for (int waited = 0; output_text_.find(text, seen_) == std::string::npos;) {
            if (!readSome(100) && (waited += 100) >= milliseconds) return false;
        }
        seen_ = output_text_.find(text, seen_) + text.size();
        return true;
    }
    // What arrives until the output ends or nothing more comes for the given time.
    std::string drain(int milliseconds) {
        const std::size_t from = output_text_.size();
        while (readSome(milliseconds)) {
        }
        return output_text_.substr(from);
    }
    // Waits for the end; -1 when the program did not exit by itself.
    int exitStatus() {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    bool readSome(int milliseconds) {
        pollfd p{output_, POLLIN, 0};
        if (poll(&p, 1, milliseconds) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n <= 0) return false;
        output_text_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int input_ = -1;
    int output_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string output_text_;
    std::size_t seen_ = 0;
};

// One whole run through pipes, `input` all of standard input.
inline Outcome runProgram(const std::filesystem::path& dir, const std::string& input) {
    Program program(dir);
    program.type(input);
    program.endInput();
    Outcome outcome;
    outcome.transcript = program.drain(60000);
    outcome.status = program.exitStatus();
    return outcome;
}

}  // namespace marlwood::testsupport
