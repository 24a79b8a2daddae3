#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace marlwood {

// What the command line asks for.
struct Options {
    std::vector<std::string> sources;
    std::int32_t height_scale = 30;
    std::string output_file;  // -o: the one source's output
    std::string output_dir;   // -d: where outputs named after their sources go
    bool force = false;
    unsigned jobs = 0;  // 0: as many as the machine has cores
    bool common_range = false;
    bool true_scale = false;
    bool fill_voids = false;
    bool preview = false;
    bool merge = false;
    bool height_scale_given = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    std::optional<Options> options;
    std::string usage_error;  // when no options: what is wrong
};

// Parses the arguments after the program name. --help and --version need no source.
ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// The text of --help.
std::string helpText();

}  // namespace marlwood
