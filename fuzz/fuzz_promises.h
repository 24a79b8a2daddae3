// What every fuzz target promises of the code it drives, and how it says one was broken.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace marlwood::fuzz {

// Ends the run as a finding, saying which promise broke.
[[noreturn]] inline void broken(const std::string& what) {
    std::fprintf(stderr, "broken promise: %s\n", what.c_str());
    std::abort();
}

// A refusal is one line that says why.
inline void expectOneLine(const std::string& error, const char* where) {
    if (error.empty() || error.find('\n') != std::string::npos) {
        broken(std::string(where) + ": not one line saying why: \"" + error + "\"");
    }
}

}  // namespace marlwood::fuzz
