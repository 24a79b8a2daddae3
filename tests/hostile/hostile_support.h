// What the hostile-input tests share besides tests/support.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <string>

#include "conversation.h"
#include "expected_output.h"
#include "files.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"
#include "transcript.h"

namespace marlwood::hostile {

namespace ts = marlwood::testsupport;

using ts::cornerLine;
using ts::count;
using ts::endsWith;
using ts::Outcome;
using ts::readFile;
using ts::terSize;
using ts::writeFile;

// The usual answers after the banner key.
inline Outcome convert(const std::string& prefix, const std::string& output) {
    return ts::converse(ts::answers(prefix, output));
}

// Runs `body` in a child process with a deadline, so that a hang fails the test instead of
// stalling the suite. Gives what `body` returned (0 to 255), -1 when the child still ran after
// `seconds` (it is then killed), -2 when it did not start or did not exit by itself.
inline int exitStatusInChild(const std::function<int()>& body, int seconds = 5) {
    const pid_t child = fork();
    if (child < 0) return -2;
    if (child == 0) _exit(body());
    int status = 0;
    pid_t done = 0;
    for (int tenths = 0; tenths < 10 * seconds && done == 0; ++tenths) {
        done = waitpid(child, &status, WNOHANG);
        if (done == 0) usleep(100000);
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

inline std::string shortModuleLine(const std::string& cel0_path, int decoded, int rows) {
    return "**" + cel0_path + " ended after " + std::to_string(decoded) + " of " +
           std::to_string(rows) + " rows; the missing rows are void**\n";
}

}  // namespace marlwood::hostile
