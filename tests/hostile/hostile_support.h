// What the hostile-input tests share: a scratch directory with a short name, in-process
// conversions, and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "converter/dem_converter.h"
#include "files.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"

namespace marlwood::hostile {

namespace ts = marlwood::testsupport;

using testsupport::readFile;
using testsupport::writeFile;

struct Outcome {
    int status = -1;
    std::string transcript;
};

// One whole session in process: the banner key, then `typed` as the rest of standard input.
inline Outcome converse(const std::string& typed) {
    std::istringstream in("k" + typed);
    std::ostringstream out;
    Outcome outcome;
    {
        DemConverter converter(in, out);
        outcome.status = converter.exitStatus();
    }
    outcome.transcript = out.str();
    return outcome;
}

// The usual answers: the prefix, the height scale, the output file and the closing key.
inline Outcome convert(const std::string& prefix, const std::string& output,
                       const std::string& scale = "30") {
    return converse(prefix + "\n" + scale + "\n" + output + "\nk");
}

inline std::size_t count(std::string_view text, std::string_view needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != text.npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// Header, two bytes a cell, "EOF ".
constexpr std::size_t terSize(std::size_t rows, std::size_t columns) {
    return 48 + 2 * rows * columns + 4;
}

inline std::string shortModuleLine(const std::string& cel0_path, int decoded, int rows) {
    return "**" + cel0_path + " ended after " + std::to_string(decoded) + " of " +
           std::to_string(rows) + " rows; the missing rows are void**\n";
}

inline const std::string kAbandonedLine = "**Conversion abandoned: the input ended**\n";
inline const std::string kClosing = "Press any key to continue\nDone\n";

inline bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

using testsupport::smallTransfer;

}  // namespace marlwood::hostile
