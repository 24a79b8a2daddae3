#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "pipeline/settings.h"

namespace marlwood {

// What the command line asks for: the conversion's settings, and how the run goes about it.
struct Options {
    // The formats --format, -o's extension and -d's names choose from.
    const FormatTable* formats = &outputFormats();
    std::vector<std::string> sources;
    ConversionSettings settings;
    std::string output_file;    // -o: the one source's output
    std::string output_dir;     // -d: where outputs named after their sources go
    bool format_given = false;  // --format; else -o's extension decides
    // The options a format row declares (--tiles, --byte-order) that were given, by long name.
    std::vector<std::string> format_options_given;
    bool force = false;
    unsigned jobs = 0;  // 0: as many as the machine has cores
    bool common_range = false;
    bool merge = false;
    bool height_scale_given = false;
    bool quiet = false;
    bool verbose = false;
    std::string dep_url;  // --3dep-url: where the 3DEP products are (else the environment's)
    bool no_cache = false;
    double stall_seconds = 30;  // a server sending nothing this long fails its request
    // The 3DEP product the sources were named by ("3dep:13"), its tiles' URLs now the sources;
    // a tile the server has not is then void where the others cover the box.
    std::string dep_source;
    bool help = false;
    bool version = false;
};

// One option as --help, the manual page and the shell completion show it.
struct OptionDescription {
    char short_name;             // '\0': long name only
    std::string_view long_name;  // without the leading "--"
    std::string_view value;      // the value's name ("N", "FILE"), empty when it takes none
    std::string_view help;       // one or more lines, without the option's name
    std::string_view choices{};  // words the value may be, offered by the completion
};

// Every option, in the order --help lists them.
std::vector<OptionDescription> optionDescriptions();

// Parses the arguments after the program name, choosing among `formats`. --help and --version
// need no source; a usage error is the Error.
Result<Options> parseOptions(const std::vector<std::string>& arguments,
                             const FormatTable& formats = outputFormats());

// The text of --help.
std::string helpText();

// "marlwood VERSION", the version the build was made with.
std::string versionText();

}  // namespace marlwood
