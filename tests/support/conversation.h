// A session with the program in process, as the tests, the benchmarks and the fuzzer drive it.
#pragma once

#include <cstddef>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch.h"
#include "converter/dem_converter.h"

namespace marlwood::testsupport {

// How a session ended; a run of the built program (program.h) gives the same.
struct Outcome {
    int status = -1;
    std::string transcript;
};

// The usual input: the banner key, the prefix, the height scale, the output file, the closing key.
inline std::string answers(const std::string& prefix, const std::string& output,
                           const std::string& scale = "30") {
    return "k" + prefix + "\n" + scale + "\n" + output + "\nk";
}

// One whole session with `input` as all of standard input.
inline Outcome converse(const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out;
    Outcome outcome;
    {
        DemConverter converter(in, out);
        outcome.status = converter.exitStatus();
    }
    outcome.transcript = out.str();
    return outcome;
}

// One run of the command line in process.
struct CliRun {
    int status = -1;
    std::string out, err;
};
inline CliRun commandLine(const std::vector<std::string>& arguments, bool err_is_terminal = false,
                          const FormatTable& formats = outputFormats()) {
    std::ostringstream out, err;
    const int status = runCommandLine(arguments, out, err, err_is_terminal, nullptr, formats);
    return {status, out.str(), err.str()};
}

inline std::size_t count(std::string_view text, std::string_view needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != text.npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

inline bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace marlwood::testsupport
